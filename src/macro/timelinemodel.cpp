// The macro timeline's events and editing rules.

#include "macro/timelinemodel.h"

#include <QDebug>

#include <algorithm>
#include <utility>

namespace {

uint16_t heldDelay(qint64 ms)
{
    return static_cast<uint16_t>(std::clamp<qint64>(ms, 0, DataKey::kMaxDelay));
}

void addBanned(QVector<KeyId> *banned, const KeyId &key)
{
    if (!banned->contains(key))
        banned->append(key);
}

TimelineResult refused(int first, int second)
{
    TimelineResult r;
    r.outcome = TimelineResult::Refused;
    r.blinkFirst = first;
    r.blinkSecond = second;
    return r;
}

TimelineResult done(int index)
{
    TimelineResult r;
    r.outcome = TimelineResult::Done;
    r.index = index;
    return r;
}

// Folds what a follow-up rule did into the result of an operation.
void merge(TimelineResult *into, const TimelineResult &from)
{
    if (from.done())
        into->outcome = TimelineResult::Done;
    into->hideAddDelay += from.hideAddDelay;
}

} // namespace

// ---- contents --------------------------------------------------------------

QVector<DataKey> MacroTimeline::dataKeys() const
{
    QVector<DataKey> keys;
    keys.reserve(m_events.size());
    for (const TimelineEvent &e : m_events)
        keys.append(e.key);
    return keys;
}

int MacroTimeline::indexOf(quint64 id) const
{
    if (id == 0)
        return -1;
    for (int i = 0; i < m_events.size(); ++i) {
        if (m_events[i].id == id)
            return i;
    }
    return -1;
}

TimelineEvent MacroTimeline::makeEvent(const DataKey &key)
{
    TimelineEvent e;
    e.key = key;
    e.id = m_nextId++;
    if (m_lookup) {
        const StaticKeyLabel label = m_lookup(KeyId::of(key));
        e.name = label.name;
        e.alias = label.alias;
        e.image = label.image;
    }
    return e;
}

int MacroTimeline::createKey(int status, int delay, uint16_t code, uint16_t type, uint16_t stype)
{
    const DataKey key(status, heldDelay(delay), code, type, stype);
    m_events.append(makeEvent(key));
    if (m_cacheValid) {
        // Appending only extends the frames and the total.
        m_frames.add(key);
        m_total += key.delay;
    }
    return m_events.size() - 1;
}

void MacroTimeline::clear()
{
    m_events.clear();
    m_selected = m_partner = 0;
    closeChooser();
    invalidate();
}

void MacroTimeline::setDelayAt(int index, uint16_t delay)
{
    if (m_events[index].key.delay == delay)
        return;
    m_events[index].key.delay = delay;
    invalidate();
}

void MacroTimeline::handOver(int from, int to)
{
    const uint32_t sum = uint32_t(m_events[from].key.delay) + m_events[to].key.delay;
    const uint16_t kept = static_cast<uint16_t>(std::min<uint32_t>(sum, kMaxDelay));
    setDelayAt(to, kept);
    setDelayAt(from, static_cast<uint16_t>(sum - kept));
}

void MacroTimeline::swapAt(int a, int b)
{
    std::swap(m_events[a], m_events[b]);
    invalidate();
}

void MacroTimeline::removeAt(int index)
{
    const quint64 id = m_events[index].id;
    if (id == m_selected || id == m_partner)
        m_selected = m_partner = 0;
    if (id == m_chooserDown || id == m_chooserUp)
        closeChooser();
    m_events.remove(index);
    invalidate();
}

void MacroTimeline::refreshCache() const
{
    if (m_cacheValid)
        return;
    m_frames.reset();
    m_total = 0;
    for (const TimelineEvent &e : m_events) {
        m_frames.add(e.key);
        m_total += e.key.delay;
    }
    m_cacheValid = true;
}

// ---- partners, selection, time ---------------------------------------------

int MacroTimeline::getListOtherKey(int index) const
{
    if (!valid(index))
        return -1;
    const DataKey &k = m_events[index].key;
    if (k.isDown()) {
        for (int j = index + 1; j < m_events.size(); ++j) {
            const DataKey &o = m_events[j].key;
            if (o.sameKey(k) && !o.isDown())
                return j;
        }
    } else {
        for (int j = index - 1; j >= 0; --j) {
            const DataKey &o = m_events[j].key;
            if (o.sameKey(k) && o.isDown())
                return j;
        }
    }
    return -1;
}

SelectResult MacroTimeline::keyPressed(int index)
{
    SelectResult r;
    if (!valid(index))
        return r;
    r.pressed = index;
    r.totalTime = totalTimeAt(index);
    m_selected = m_events[index].id;
    m_partner = 0;
    const int partner = getListOtherKey(index);
    if (partner < 0) {
        qDebug() << "set Key select a pair key not find error. return.";
        qDebug() << "发现错误数据，无法匹配到正确的key. ";
        return r;
    }
    m_partner = m_events[partner].id;
    r.found = true;
    r.partner = partner;
    return r;
}

void MacroTimeline::releaseAll()
{
    m_selected = m_partner = 0;
}

bool MacroTimeline::isSelected(int index) const
{
    if (!valid(index))
        return false;
    const quint64 id = m_events[index].id;
    return id == m_selected || id == m_partner;
}

int MacroTimeline::selectedIndex() const
{
    return indexOf(m_selected);
}

int MacroTimeline::selectedPartner() const
{
    return indexOf(m_partner);
}

qint64 MacroTimeline::totalTimeAt(int index) const
{
    qint64 sum = 0;
    const int last = std::min(index, m_events.size() - 1);
    for (int i = 0; i <= last; ++i)
        sum += m_events[i].key.delay;
    return sum;
}

qint64 MacroTimeline::totalTime() const
{
    refreshCache();
    return m_total;
}

int MacroTimeline::framesNeeded() const
{
    refreshCache();
    return m_frames.frameCount();
}

// ---- pairs and keys ----------------------------------------------------------

TimelineResult MacroTimeline::createDoubleKey(int index)
{
    if (index < -1 || index >= m_events.size())
        return {};
    if (index >= 0) {
        qDebug().noquote() << "create double key, delayTime=" << m_events[index].key.delay
                           << "key=" << m_events[index].name;
    }
    m_events.insert(index + 1, makeEvent(DataKey(DataKey::kDown, 0, 0, 0, 0)));
    m_events.insert(index + 2, makeEvent(DataKey(DataKey::kUp, kNewPairUpDelayMs, 0, 0, 0)));
    invalidate();
    return done(index + 1);
}

TimelineResult MacroTimeline::deleteDoubleKey(int index)
{
    if (!valid(index))
        return {};
    const int partner = getListOtherKey(index);
    if (partner < 0) {
        qDebug().noquote() << "Delete key failed, Hasn't found key. key=" << m_events[index].name;
        return {};
    }
    const int first = std::min(index, partner);
    const int second = std::max(index, partner);
    for (int i : {first, second}) {
        qDebug().noquote() << "Delete key = " << m_events[i].name
                           << "status = " << m_events[i].key.status;
    }
    removeAt(second);
    removeAt(first);
    TimelineResult r = done(-1);
    merge(&r, checkoutKeyDelay());
    merge(&r, checkoutKeyDuad());
    return r;
}

ChooserLimits MacroTimeline::keyDoubleClicked(int index)
{
    ChooserLimits limits;
    if (!valid(index))
        return limits;
    qDebug().noquote() << "LIST KEY: double clicked is key = " << m_events[index].name;
    closeChooser();
    const bool down = m_events[index].key.isDown();
    const int other = getListOtherKey(index);
    const int d = down ? index : other;
    const int u = down ? other : index;
    if (other < 0) {
        qDebug().noquote() << "LIMIT: no pair for key" << m_events[index].name;
        return limits;
    }
    qDebug().noquote() << "LIMIT: double key = down, name = " << m_events[d].name;

    QVector<KeyId> banned;
    addBanned(&banned, KeyId{0, 0, 0});                  // the empty key
    addBanned(&banned, KeyId{0, 0, KeyDesc::kLockCode}); // the lock key
    addBanned(&banned, KeyId::of(m_events[d].key));      // the pair's own key

    // Earlier presses still held when the pair ends span the whole pair (a
    // press never released is held to the end).
    for (int j = d - 1; j >= 0; --j) {
        const TimelineEvent &p = m_events[j];
        qDebug().noquote() << "LIMIT: take perv =" << p.name;
        if (!p.key.isDown())
            continue;
        const int up = getListOtherKey(j);
        if (up < 0 || up > u) {
            qDebug().noquote() << "LIMIT: 不可选key：" << p.name;
            addBanned(&banned, KeyId::of(p.key));
        }
    }
    // Presses that begin and end inside the pair.
    for (int j = d + 1; j < m_events.size(); ++j) {
        const TimelineEvent &n = m_events[j];
        if (j == u) {
            qDebug().noquote() << "LIMIT: next is this keyUp, quit while. key =" << n.name;
            break;
        }
        qDebug().noquote() << "LIMIT: take next =" << n.name;
        if (!n.key.isDown())
            continue;
        const int up = getListOtherKey(j);
        if (up >= 0 && up < u) {
            qDebug().noquote() << "LIMIT: 不可选key：" << n.name;
            addBanned(&banned, KeyId::of(n.key));
        }
    }

    m_selected = m_events[index].id;
    m_partner = m_events[other].id;
    m_chooserDown = m_events[d].id;
    m_chooserUp = m_events[u].id;
    m_chooserBanned = banned;
    limits.open = true;
    limits.down = d;
    limits.up = u;
    limits.banned = banned;
    return limits;
}

TimelineResult MacroTimeline::staticDialogDoubleClicked(const StaticKeyLabel &key)
{
    if (!chooserOpen())
        return {};
    const int d = indexOf(m_chooserDown);
    const int u = indexOf(m_chooserUp);
    if (d < 0 || u < 0) {
        closeChooser();
        return {};
    }
    const KeyId chosen{key.type, key.stype, key.code};
    if (m_chooserBanned.contains(chosen)) {
        qDebug().noquote() << "LIMIT: 不可选key：" << key.name;
        return {};
    }
    for (int i : {d, u}) {
        TimelineEvent &e = m_events[i];
        qDebug().noquote() << "DIALOG KB: KeyBtn=" << key.name << ", select key=" << e.name
                           << "status=" << e.key.status;
        e.key.code = key.code;
        e.key.type = key.type;
        e.key.stype = key.stype;
        e.name = key.name;
        e.alias = key.alias;
        e.image = key.image;
    }
    invalidate();
    closeChooser();
    TimelineResult r = done(d);
    merge(&r, checkoutKeyDelay());
    return r;
}

void MacroTimeline::closeChooser()
{
    if (!chooserOpen())
        return;
    m_chooserDown = m_chooserUp = 0;
    m_chooserBanned.clear();
    qDebug() << "delete static dialog.";
}

// ---- editor rules ------------------------------------------------------------

TimelineResult MacroTimeline::checkoutKeyDelay()
{
    TimelineResult r;
    for (int i = 1; i < m_events.size(); ++i) {
        TimelineEvent &e = m_events[i];
        if (e.key.delay != 0 || !e.key.sameKey(m_events[i - 1].key))
            continue;
        setDelayAt(i, kSpacingMs);
        r.outcome = TimelineResult::Done;
        r.hideAddDelay.append(e.id);
        qDebug().noquote() << "checkout key delay, set delay time 20,  key=" << e.name;
    }
    return r;
}

TimelineResult MacroTimeline::checkoutKeyDuad()
{
    TimelineResult r;
    // Removing an unpaired event never unpairs an earlier one, so one pass
    // in order is enough.
    int i = 0;
    while (i < m_events.size()) {
        if (getListOtherKey(i) >= 0) {
            ++i;
            continue;
        }
        qDebug().noquote() << "校验发现无效key=" << m_events[i].name
                           << "status=" << m_events[i].key.status;
        // The events after it keep their moment.
        if (i + 1 < m_events.size())
            handOver(i, i + 1);
        removeAt(i);
        r.outcome = TimelineResult::Done;
    }
    return r;
}

void MacroTimeline::spacing(int index, TimelineResult *result)
{
    if (index <= 0 || !valid(index))
        return;
    TimelineEvent &e = m_events[index];
    if (e.key.delay != 0 || !e.key.sameKey(m_events[index - 1].key))
        return;
    setDelayAt(index, kSpacingMs);
    result->hideAddDelay.append(e.id);
}

// ---- delays ------------------------------------------------------------------

TimelineResult MacroTimeline::addDelay(int index)
{
    if (!valid(index))
        return {};
    setDelayAt(index, kAddedDelayMs);
    return done(index);
}

TimelineResult MacroTimeline::setDelay(int index, qint64 ms)
{
    if (!valid(index))
        return {};
    const uint16_t delay = heldDelay(ms);
    if (delay == m_events[index].key.delay)
        return {};
    setDelayAt(index, delay);
    return done(index);
}

TimelineResult MacroTimeline::keyDelayHideLineEdit(int index)
{
    if (!valid(index))
        return {};
    qDebug() << "key delay hide line edit.";
    const DataKey &k = m_events[index].key;
    if (k.isDown()) {
        if (index == 0) {
            qDebug() << "key delay hide line edit, index perv key is NULL, return.";
            return clearDelay(index);
        }
        const DataKey &p = m_events[index - 1].key;
        if (p.sameKey(k) && !p.isDown())
            return refused(index - 1, index);
    } else {
        if (index == 0) {
            qDebug() << "key delay hide line edit, index perv key is < 0, return.";
            return {};
        }
        if (m_events[index - 1].key.sameKey(k))
            return refused(index - 1, index);
    }
    return clearDelay(index);
}

TimelineResult MacroTimeline::clearDelay(int index)
{
    if (m_events[index].key.delay == 0)
        return {};
    setDelayAt(index, 0);
    return done(index);
}

TimelineResult MacroTimeline::setKeyDelayEidtTimeAll(qint64 ms)
{
    // 0 would put every event of the macro at one moment.
    if (ms < 1)
        return {};
    const uint16_t delay = heldDelay(ms);
    TimelineResult r;
    for (int i = 0; i < m_events.size(); ++i) {
        if (m_events[i].key.delay == 0)
            continue;
        setDelayAt(i, delay);
        r.outcome = TimelineResult::Done;
    }
    return r;
}

// ---- moves -------------------------------------------------------------------
//
// A move changes when an event happens relative to its neighbours, never the
// moment of the events around it: where a delay changes hands it is added to
// the receiving event's own delay (at most 65535, the rest stays put).

TimelineResult MacroTimeline::moveNextKey(int index)
{
    if (!valid(index))
        return {};
    if (index + 1 >= m_events.size()) {
        qDebug() << "is last, return.";
        return {};
    }
    const int n = index + 1;
    const DataKey k = m_events[index].key;
    const DataKey next = m_events[n].key;
    if (k.sameKey(next) && k.isDown() != next.isDown())
        return refused(index, n);

    TimelineResult r = done(index);
    if (k.delay == 0 && next.delay == 0) {
        swapAt(index, n);
        r.index = n;
        r.hideAddDelay.append(m_events[n].id);
    } else if (k.delay != 0 && next.delay == 0) {
        // K's wait moves to N, which now goes first.
        handOver(index, n);
        swapAt(index, n);
        r.index = n;
    } else {
        // K now happens together with N.
        handOver(n, index);
    }
    spacing(r.index + 1, &r);
    return r;
}

TimelineResult MacroTimeline::movePervKey(int index)
{
    if (!valid(index))
        return {};
    const bool hasNext = index + 1 < m_events.size();
    const DataKey k = m_events[index].key;
    if (index == 0) {
        if (k.delay == 0)
            return {};
        // Already first: its wait goes to the event after it, if any.
        if (hasNext)
            handOver(index, index + 1);
        else
            setDelayAt(index, 0);
        return done(index);
    }
    const int p = index - 1;
    const DataKey prev = m_events[p].key;
    if (k.sameKey(prev) && k.isDown() != prev.isDown())
        return refused(p, index);

    TimelineResult r = done(index);
    if (k.delay == 0 && prev.delay == 0) {
        swapAt(p, index);
        r.index = p;
        r.hideAddDelay.append(m_events[p].id);
    } else if (k.delay == 0) {
        // P's wait moves to K, which now goes first.
        handOver(p, index);
        swapAt(p, index);
        r.index = p;
    } else if (hasNext) {
        // K now happens together with P; the event after it keeps its moment.
        handOver(index, index + 1);
    } else {
        setDelayAt(index, 0); // the last event: the macro ends earlier
    }
    spacing(r.index, &r);
    return r;
}

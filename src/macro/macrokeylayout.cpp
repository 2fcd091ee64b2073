#include "macro/macrokeylayout.h"

#include "macro/macrocodec.h"
#include "macro/macrokey.h"
#include "main/apppaths.h"
#include "widget/dialogs.h"
#include "widget/keybtn.h"
#include "widget/staticdialog.h"

#include <QDebug>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QSet>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWheelEvent>

#include <algorithm>

namespace {

const QColor kTrack(0x1b, 0x1d, 0x23);
const QColor kAxis(0x5a, 0x62, 0x70);
const QColor kFieldEdge(0x3f, 0x45, 0x52);

// The timeline's own rules, by object name. A page's style sheet (its
// "QLineEdit { padding ... }") would otherwise reach the small delay fields;
// an ancestor nearer to a widget wins over the page.
const char kTimelineStyle[] =
    "QLineEdit#delayEdit { background: transparent; color: #e8eaed; border: none; padding: 0;"
    "  margin: 0; font-size: 8pt; selection-background-color: #46e6b7;"
    "  selection-color: #1b1d23; }"
    "QLabel#legendDown, QLabel#legendUp, QLabel#legendDelay { color: #9aa0a6; font-size: 8pt;"
    "  background: transparent; }"
    "QLabel#zeroLabel, QLabel#timeLabel { color: #9aa0a6; font-size: 7pt;"
    "  background: transparent; }"
    "QLabel#legendIcon, QLabel#timeArrow { background: transparent; }"
    "QToolButton#scrollLeft, QToolButton#scrollRight { border: none; background: transparent;"
    "  border-radius: 4px; padding: 0; }"
    "QToolButton#scrollLeft:hover, QToolButton#scrollRight:hover { background: #2c313a; }"
    "QToolButton#scrollLeft:pressed, QToolButton#scrollRight:pressed { background: #3a404d; }";
const char kFramesStyle[] = "QLabel { color: #9aa0a6; font-size: 8pt; background: transparent; }";
const char kFramesOverStyle[] =
    "QLabel { color: #e06c75; font-size: 8pt; font-weight: 600; background: transparent; }";

QString macroPicture(const QString &name)
{
    return AppPaths::imagesDir() + QStringLiteral("macro/") + name;
}

// Key pictures that exist; a picture name without a file falls back to the
// key's name.
bool pictureExists(const QString &file)
{
    static QHash<QString, bool> known;
    auto it = known.constFind(file);
    if (it == known.constEnd())
        it = known.insert(file, QFileInfo::exists(file));
    return *it;
}

// The scrolled content: the time axis behind the keys.
class TimelineCanvas : public QWidget
{
public:
    explicit TimelineCanvas(QWidget *parent) : QWidget(parent)
    {
        setObjectName(QStringLiteral("timelineCanvas"));
    }
    int lineEnd = 0;

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        p.setPen(QPen(kAxis, 1.5));
        p.drawLine(QPointF(14, Key::kAxisY), QPointF(lineEnd, Key::kAxisY));
    }
};

QLabel *legendIcon(const QPixmap &pixmap, QWidget *parent)
{
    auto *icon = new QLabel(parent);
    icon->setObjectName(QStringLiteral("legendIcon"));
    icon->setPixmap(pixmap);
    icon->setFixedSize(pixmap.size() / pixmap.devicePixelRatio());
    return icon;
}

// The legend's arrows, as the event frames draw them under a press and a
// release.
QPixmap arrowIcon(bool down)
{
    const qreal ratio = 2;
    QPixmap pm(QSize(12, 14) * ratio);
    pm.setDevicePixelRatio(ratio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0xe8, 0xea, 0xed), 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const qreal tip = down ? 12 : 2;
    const qreal back = down ? -4 : 4;
    p.drawLine(QPointF(6, 2), QPointF(6, 12));
    p.drawLine(QPointF(6, tip), QPointF(2.5, tip + back));
    p.drawLine(QPointF(6, tip), QPointF(9.5, tip + back));
    return pm;
}

QPixmap delaySwatch()
{
    QPixmap pm(20, 12);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(kFieldEdge, 1));
    p.setBrush(kTrack);
    p.drawRoundedRect(QRectF(0.5, 0.5, 19, 11), 3, 3);
    return pm;
}

} // namespace

MacroKeyLayout::MacroKeyLayout(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("macroKeyLayout"));
    setFocusPolicy(Qt::ClickFocus); // a press beside the events ends a delay edit
    buildUi();

    m_holdDelay = new QTimer(this);
    m_holdDelay->setSingleShot(true);
    m_holdDelay->setInterval(kHoldDelayMs);
    m_holdRepeat = new QTimer(this);
    m_holdRepeat->setInterval(kHoldIntervalMs);
    connect(m_holdDelay, &QTimer::timeout, m_holdRepeat, QOverload<>::of(&QTimer::start));
    connect(m_holdRepeat, &QTimer::timeout, this, [this] {
        const int before = m_scroll;
        setScroll(m_scroll + m_holdDirection * kHoldScrollStep);
        if (m_scroll == before)
            stopHold();
    });

    m_warningTimer = new QTimer(this);
    m_warningTimer->setInterval(kWarningIntervalMs);
    connect(m_warningTimer, &QTimer::timeout, this, &MacroKeyLayout::warningTimerAcation);

    relayout();
    updateLegend();
}

MacroKeyLayout::~MacroKeyLayout()
{
    // QWidget's destructor hides the timeline, which takes the focus from a
    // key's delay field and so finishes its edit: that signal must not reach
    // this layout once its own part is destroyed.
    for (Key *key : findChildren<Key *>())
        disconnect(key, nullptr, this, nullptr);
}

void MacroKeyLayout::buildUi()
{
    setFixedHeight(Key::kHeight + kFooterHeight);
    setStyleSheet(QLatin1String(kTimelineStyle));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);

    auto *row = new QHBoxLayout();
    row->setSpacing(0);
    outer->addLayout(row);
    const auto makeArrow = [this](const QString &name, const QString &picture, int direction) {
        auto *b = new QToolButton(this);
        b->setObjectName(name);
        b->setFixedSize(kArrowWidth, Key::kHeight);
        b->setIcon(QIcon(macroPicture(picture)));
        b->setIconSize(QSize(14, 14));
        b->setCursor(Qt::PointingHandCursor);
        b->setFocusPolicy(Qt::NoFocus);
        connect(b, &QToolButton::pressed, this, [this, direction] { startHold(direction); });
        connect(b, &QToolButton::released, this, &MacroKeyLayout::stopHold);
        return b;
    };
    m_left = makeArrow(QStringLiteral("scrollLeft"), QStringLiteral("arrow-left.svg"), -1);
    m_right = makeArrow(QStringLiteral("scrollRight"), QStringLiteral("arrow-right.svg"), 1);

    m_viewport = new QWidget(this);
    m_viewport->setObjectName(QStringLiteral("timelineViewport"));
    m_viewport->setFixedHeight(Key::kHeight);
    m_viewport->installEventFilter(this);
    auto *canvas = new TimelineCanvas(m_viewport);
    m_canvas = canvas;

    m_zeroLabel = new QLabel(QStringLiteral("0"), m_canvas);
    m_zeroLabel->setObjectName(QStringLiteral("zeroLabel"));
    m_zeroLabel->setGeometry(2, Key::kAxisY - 7, 10, 14);
    m_zeroLabel->setAlignment(Qt::AlignCenter);
    m_timeArrow = new QLabel(m_canvas);
    m_timeArrow->setObjectName(QStringLiteral("timeArrow"));
    m_timeArrow->setPixmap(QIcon(macroPicture(QStringLiteral("time-arrow.svg"))).pixmap(24, 12));
    m_timeArrow->resize(24, 12);
    m_timeLabel = new QLabel(QStringLiteral("time/ms"), m_canvas);
    m_timeLabel->setObjectName(QStringLiteral("timeLabel"));
    m_timeLabel->resize(60, 14);

    row->addWidget(m_left);
    row->addWidget(m_viewport, 1);
    row->addWidget(m_right);

    auto *footer = new QHBoxLayout();
    footer->setContentsMargins(kArrowWidth + 4, 0, kArrowWidth + 4, 2);
    footer->setSpacing(4);
    outer->addLayout(footer);
    const auto legend = [this, footer](const QPixmap &pm, const QString &name) {
        footer->addWidget(legendIcon(pm, this));
        auto *text = new QLabel(this);
        text->setObjectName(name);
        footer->addWidget(text);
        footer->addSpacing(8);
        return text;
    };
    m_legendDown = legend(arrowIcon(true), QStringLiteral("legendDown"));
    m_legendUp = legend(arrowIcon(false), QStringLiteral("legendUp"));
    m_legendDelay = legend(delaySwatch(), QStringLiteral("legendDelay"));
    footer->addStretch(1);
    m_framesLabel = new QLabel(this);
    m_framesLabel->setObjectName(QStringLiteral("framesLabel"));
    m_framesLabel->setStyleSheet(QLatin1String(kFramesStyle));
    footer->addWidget(m_framesLabel);
}

// ---- contents ----------------------------------------------------------------

Key *MacroKeyLayout::makeKey(const TimelineEvent &event)
{
    auto *key = new Key(event, m_canvas);
    key->setLanguage(m_langType);
    connect(key, &Key::emitPressed, this, &MacroKeyLayout::keyPressed);
    connect(key, &Key::emitDoubleClicked, this, &MacroKeyLayout::keyDoubleClicked);
    connect(key, &Key::emitAction, this, &MacroKeyLayout::keyAction);
    connect(key, &Key::emitDelayEdited, this, &MacroKeyLayout::keyDelayEdited);
    connect(key, &Key::emitDelayEditFinished, this, &MacroKeyLayout::keyDelayEditFinished);
    m_keys.insert(event.id, key);
    key->show();
    return key;
}

const KeyDesc *MacroKeyLayout::descOf(uint16_t type, uint16_t stype, uint16_t code) const
{
    if (!m_statics)
        return nullptr;
    for (const KeyDesc &d : *m_statics) {
        if (d.type == type && d.stype == stype && d.code == code)
            return &d;
    }
    return nullptr;
}

void MacroKeyLayout::syncKey(Key *key, const TimelineEvent &event)
{
    QString image = event.image;
    QString name = event.name.trimmed();
    QString alias = event.alias.trimmed();
    if (image.isEmpty() && name.isEmpty()) {
        // Events made before the labels were known.
        if (const KeyDesc *d = descOf(event.key.type, event.key.stype, event.key.code)) {
            image = d->image;
            name = d->name.trimmed();
            alias = d->alias.trimmed();
        }
    }
    Key::Face face;
    if (!image.isEmpty()) {
        const QString file = AppPaths::imagesDir() + QStringLiteral("StaticKeySvg/BlackImage/") +
                             image.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".svg");
        if (pictureExists(file))
            face.pictureFile = file;
    }
    if (face.pictureFile.isEmpty()) {
        face.text = !name.isEmpty() ? name
                    : !alias.isEmpty()
                        ? alias
                        : QStringLiteral("0x%1").arg(event.key.code, 2, 16, QLatin1Char('0'));
    }
    key->setEvent(event, face);
}

void MacroKeyLayout::relayout()
{
    const QVector<TimelineEvent> &events = m_model.events();
    QVector<Key *> order;
    order.reserve(events.size());
    int x = kAxisStart;
    for (const TimelineEvent &e : events) {
        Key *key = m_keys.value(e.id);
        if (!key)
            key = makeKey(e);
        syncKey(key, e);
        const int w = key->neededWidth();
        if (key->geometry() != QRect(x, 0, w, Key::kHeight))
            key->setGeometry(x, 0, w, Key::kHeight);
        x += w;
        order.append(key);
    }
    // Every event has its Key, so equal counts mean nothing was removed.
    if (m_keys.size() != events.size()) {
        QSet<quint64> alive;
        alive.reserve(events.size());
        for (const TimelineEvent &e : events)
            alive.insert(e.id);
        for (auto it = m_keys.begin(); it != m_keys.end();) {
            if (alive.contains(it.key())) {
                ++it;
                continue;
            }
            Key *gone = it.value();
            it = m_keys.erase(it);
            // It may be the sender of the action that removed it: silence it
            // and let the event loop delete it.
            disconnect(gone, nullptr, this, nullptr);
            gone->hide();
            gone->deleteLater();
        }
        m_marked.erase(std::remove_if(m_marked.begin(), m_marked.end(),
                                      [this](quint64 id) { return !m_keys.contains(id); }),
                       m_marked.end());
    }
    m_order = order;
    m_eventsEnd = x;
    placeTail();
    syncSelection();
    updateFrames();
}

void MacroKeyLayout::placeTail()
{
    auto *canvas = static_cast<TimelineCanvas *>(m_canvas);
    canvas->resize(m_eventsEnd - kAxisStart + kExtraWidth, Key::kHeight);
    canvas->lineEnd = m_eventsEnd + 6;
    m_timeArrow->move(m_eventsEnd + 4, Key::kAxisY - 6);
    m_timeLabel->move(m_eventsEnd + 32, Key::kAxisY - 7);
    canvas->update();
    setScroll(m_scroll);
}

void MacroKeyLayout::syncSelection()
{
    const int pressed = m_model.selectedIndex();
    const int partner = m_model.selectedPartner();
    const qint64 total = pressed >= 0 ? m_model.totalTimeAt(pressed) : 0;
    for (int i = 0; i < m_order.size(); ++i)
        m_order[i]->setSelection(i == pressed, i == partner, i == pressed ? total : 0);
}

void MacroKeyLayout::updateFrames()
{
    const int frames = m_model.framesNeeded();
    const bool over = frames > MacroCodec::kMaxFrames;
    const QString text = QStringLiteral("%1 / %2 ").arg(frames).arg(MacroCodec::kMaxFrames) +
                         (m_langType == 0 ? QStringLiteral("帧") : QStringLiteral("frames"));
    if (m_framesLabel->text() != text)
        m_framesLabel->setText(text);
    if (over != m_framesOver) {
        m_framesOver = over;
        m_framesLabel->setStyleSheet(QLatin1String(over ? kFramesOverStyle : kFramesStyle));
    }
    if (frames != m_frames) {
        m_frames = frames;
        Q_EMIT framesChanged(frames);
    }
}

void MacroKeyLayout::updateLegend()
{
    const bool zh = m_langType == 0;
    m_legendDown->setText(zh ? QStringLiteral("按下") : QStringLiteral("Pressed"));
    m_legendUp->setText(zh ? QStringLiteral("弹起") : QStringLiteral("Bounce"));
    m_legendDelay->setText(zh ? QStringLiteral("延时") : QStringLiteral("delay"));
}

void MacroKeyLayout::createKey(int status, int delay, uint16_t code, uint16_t type, uint16_t stype,
                               bool scrollToIt)
{
    const int index = m_model.createKey(status, delay, code, type, stype);
    if (index != m_order.size()) {
        relayout(); // the model was changed behind the widgets' back
    } else {
        // Only the new Key is placed: appending stays cheap while a
        // recording or a stored macro grows the timeline.
        const TimelineEvent &e = m_model.at(index);
        Key *key = makeKey(e);
        syncKey(key, e);
        key->setGeometry(m_eventsEnd, 0, key->neededWidth(), Key::kHeight);
        m_eventsEnd += key->neededWidth();
        m_order.append(key);
        placeTail();
        updateFrames();
    }
    if (scrollToIt)
        scrollToEnd();
}

void MacroKeyLayout::setEvents(const QVector<DataKey> &events)
{
    restoreWarningPair();
    m_model.clear();
    for (const DataKey &k : events)
        m_model.createKey(k.status, k.delay, k.code, k.type, k.stype);
    relayout();
    setScroll(0);
}

void MacroKeyLayout::clear()
{
    setEvents({});
}

void MacroKeyLayout::setKeyDelayEidtTimeAll(int ms)
{
    if (m_model.setKeyDelayEidtTimeAll(ms).done())
        relayout();
}

void MacroKeyLayout::checkoutKeyDuad()
{
    if (m_model.checkoutKeyDuad().done())
        relayout();
}

void MacroKeyLayout::releaseSelection()
{
    m_model.releaseAll();
    clearMarks();
    syncSelection();
}

void MacroKeyLayout::refresh()
{
    relayout();
}

void MacroKeyLayout::setLabelSource(const QVector<KeyDesc> *statics)
{
    m_statics = statics;
    if (!statics) {
        m_model.setLabelLookup({});
    } else {
        m_model.setLabelLookup([statics](const KeyId &k) {
            StaticKeyLabel label;
            label.type = k.type;
            label.stype = k.stype;
            label.code = k.code;
            for (const KeyDesc &d : *statics) {
                if (d.type == k.type && d.stype == k.stype && d.code == k.code) {
                    label.name = d.name;
                    label.alias = d.alias;
                    label.image = d.image;
                    break;
                }
            }
            return label;
        });
    }
    relayout();
}

void MacroKeyLayout::setLanguage(int langType)
{
    m_langType = langType == 0 ? 0 : 1;
    updateLegend();
    updateFrames();
    for (Key *key : qAsConst(m_order))
        key->setLanguage(m_langType);
}

// ---- user actions --------------------------------------------------------------

void MacroKeyLayout::apply(const TimelineResult &result)
{
    if (result.refused()) {
        const int n = m_model.size();
        const quint64 first =
            result.blinkFirst >= 0 && result.blinkFirst < n ? m_model.at(result.blinkFirst).id : 0;
        const quint64 second = result.blinkSecond >= 0 && result.blinkSecond < n
                                   ? m_model.at(result.blinkSecond).id
                                   : 0;
        startWarningKeyMessage(first, second);
        return;
    }
    if (!result.done())
        return;
    relayout();
    for (quint64 id : result.hideAddDelay) {
        if (Key *key = m_keys.value(id))
            key->hideAddDelayButton();
    }
    Q_EMIT emitChanged();
}

void MacroKeyLayout::keyPressed(Key *key)
{
    const int index = key ? m_model.indexOf(key->id()) : -1;
    if (index >= 0) {
        clearMarks();
        m_model.keyPressed(index);
        syncSelection();
    }
    Q_EMIT keyLayoutPressed();
}

void MacroKeyLayout::keyAction(Key *key, int action)
{
    const int index = key ? m_model.indexOf(key->id()) : -1;
    if (index < 0)
        return;
    const quint64 id = key->id();
    switch (action) {
    case Key::AddDelay: {
        const TimelineResult r = m_model.addDelay(index);
        apply(r);
        if (r.done()) {
            if (Key *k = m_keys.value(id))
                k->focusDelay();
        }
        break;
    }
    case Key::DeleteDelay:
        apply(m_model.keyDelayHideLineEdit(index));
        break;
    case Key::AddPair: {
        const TimelineResult r = m_model.createDoubleKey(index);
        if (r.done())
            m_model.keyPressed(r.index); // the new pair, waiting for its key
        apply(r);
        break;
    }
    case Key::DeletePair:
        apply(m_model.deleteDoubleKey(index));
        break;
    case Key::MovePerv:
        apply(m_model.movePervKey(index));
        break;
    case Key::MoveNext:
        apply(m_model.moveNextKey(index));
        break;
    default:
        break;
    }
}

void MacroKeyLayout::keyDelayEdited(Key *key, const QString &text)
{
    const int index = key ? m_model.indexOf(key->id()) : -1;
    if (index < 0 || text.isEmpty())
        return;
    bool ok = false;
    qint64 ms = text.toLongLong(&ok);
    if (!ok || ms < 0)
        return;
    if (ms > MacroTimeline::kMaxDelay) {
        // Held at the largest delay a frame can carry, and shown so.
        ms = MacroTimeline::kMaxDelay;
        if (QLineEdit *edit = key->delayEdit())
            edit->setText(QString::number(ms));
    }
    // 0 (or an emptied field) removes the delay when the edit ends, through
    // the rules for removing a delay.
    if (ms == 0)
        return;
    apply(m_model.setDelay(index, ms));
}

void MacroKeyLayout::keyDelayEditFinished(Key *key)
{
    const int index = key ? m_model.indexOf(key->id()) : -1;
    QLineEdit *edit = key ? key->delayEdit() : nullptr;
    if (index < 0 || !edit)
        return;
    if (!edit->text().isEmpty() && edit->text().toUInt() != 0)
        return;
    const TimelineResult r = m_model.keyDelayHideLineEdit(index);
    if (!r.done()) {
        // Refused or kept: the field shows the delay the event still has.
        edit->setText(QString::number(m_model.at(index).key.delay));
    }
    apply(r);
}

void MacroKeyLayout::keyDoubleClicked(Key *key)
{
    const int index = key ? m_model.indexOf(key->id()) : -1;
    if (index >= 0)
        openChooser(index);
}

StaticDialog *MacroKeyLayout::chooser() const
{
    return m_chooser.data();
}

bool MacroKeyLayout::released() const
{
    for (const QObject *o = this; o; o = o->parent()) {
        if (Dialogs::isReleased(o))
            return true;
    }
    return false;
}

void MacroKeyLayout::openChooser(int index)
{
    if (m_chooser)
        return; // one chooser at a time
    const ChooserLimits limits = m_model.keyDoubleClicked(index);
    syncSelection();
    if (!limits.open)
        return;

    auto *dialog = new StaticDialog(this);
    m_chooser = dialog;
    for (KeyBtn *choice : dialog->keys()) {
        const KeyId id{choice->getType(), choice->getStype(), choice->getCode()};
        const bool empty = id == KeyId{0, 0, 0};
        const bool lock = id == KeyId{0, 0, KeyDesc::kLockCode};
        choice->setEnabled(!empty && !lock && limits.allows(id));
    }
    connect(dialog, &StaticDialog::emitKeyBtnDoubleClicked, this,
            &MacroKeyLayout::staticDialogDoubleClicked);
    connect(dialog, &StaticDialog::emitHide, dialog, &QDialog::reject);

    const QPointer<MacroKeyLayout> self(this);
    const QPointer<StaticDialog> guard(dialog);
    Dialogs::exec(dialog);
    // The page may have been released while the chooser was open; then the
    // chooser goes with it and nothing here may be touched.
    if (!self || released())
        return;
    delete guard.data();
    m_model.closeChooser(); // closed without a choice
}

StaticKeyLabel MacroKeyLayout::labelOf(const KeyBtn *key) const
{
    StaticKeyLabel label;
    label.type = key->getType();
    label.stype = key->getStype();
    label.code = key->getCode();
    if (const KeyDesc *d = descOf(label.type, label.stype, label.code)) {
        label.name = d->name;
        label.alias = d->alias;
        label.image = d->image;
    } else {
        label.name = key->getName();
        label.alias = key->getAlias();
        label.image = key->getImage();
    }
    return label;
}

void MacroKeyLayout::staticDialogDoubleClicked(KeyBtn *key)
{
    if (!key || !m_chooser || !key->isEnabled())
        return;
    const TimelineResult r = m_model.staticDialogDoubleClicked(labelOf(key));
    if (r.done()) {
        apply(r);
        m_chooser->accept();
    } else if (!m_model.chooserOpen()) {
        m_chooser->reject(); // the pair is gone
    }
}

// ---- warning blink ---------------------------------------------------------------

void MacroKeyLayout::startWarningKeyMessage(quint64 first, quint64 second)
{
    restoreWarningPair();
    m_warnFirst = first;
    m_warnSecond = second;
    m_warningTick = 0;
    for (quint64 id : {first, second}) {
        if (Key *key = m_keys.value(id))
            key->setWarning(true);
    }
    m_warningTimer->start();
}

void MacroKeyLayout::restoreWarningPair()
{
    m_warningTimer->stop();
    for (quint64 id : {m_warnFirst, m_warnSecond}) {
        if (Key *key = m_keys.value(id))
            key->setWarning(false);
    }
    m_warnFirst = m_warnSecond = 0;
    clearMarks();
}

void MacroKeyLayout::clearMarks()
{
    for (quint64 id : qAsConst(m_marked)) {
        if (Key *key = m_keys.value(id))
            key->setMarked(false);
    }
    m_marked.clear();
}

void MacroKeyLayout::warningTimerAcation()
{
    if (m_warnFirst == 0 && m_warnSecond == 0) {
        m_warningTimer->stop();
        return;
    }
    ++m_warningTick;
    const bool last = m_warningTick >= kWarningTicks;
    for (quint64 id : {m_warnFirst, m_warnSecond}) {
        Key *key = m_keys.value(id); // null once an edit removed the event
        if (!key)
            continue;
        if (last) {
            key->setWarning(false);
            key->setMarked(true);
            m_marked.append(id);
        } else {
            key->setWarning(m_warningTick % 2 == 0);
        }
    }
    if (last) {
        m_warningTimer->stop();
        m_warnFirst = m_warnSecond = 0;
    }
}

bool MacroKeyLayout::warningActive() const
{
    return m_warningTimer->isActive();
}

// ---- scrolling -------------------------------------------------------------------

int MacroKeyLayout::contentWidth() const
{
    return m_canvas->width();
}

int MacroKeyLayout::maximumScroll() const
{
    return std::max(0, m_canvas->width() - m_viewport->width());
}

void MacroKeyLayout::setScroll(int x)
{
    m_scroll = std::clamp(x, 0, maximumScroll());
    if (m_canvas->pos() != QPoint(-m_scroll, 0))
        m_canvas->move(-m_scroll, 0);
    m_left->setEnabled(m_scroll > 0);
    m_right->setEnabled(m_scroll < maximumScroll());
}

void MacroKeyLayout::scrollToStart()
{
    setScroll(0);
}

void MacroKeyLayout::scrollToEnd()
{
    setScroll(maximumScroll());
}

void MacroKeyLayout::startHold(int direction)
{
    Q_EMIT keyLayoutPressed();
    m_holdDirection = direction;
    setScroll(m_scroll + direction * kScrollStep);
    m_holdRepeat->stop();
    m_holdDelay->start();
}

void MacroKeyLayout::stopHold()
{
    m_holdDelay->stop();
    m_holdRepeat->stop();
    m_holdDirection = 0;
}

// ---- events ------------------------------------------------------------------------

void MacroKeyLayout::mousePressEvent(QMouseEvent *event)
{
    // Beside the events: the macro is chosen, its events are released.
    if (event->button() == Qt::LeftButton)
        releaseSelection();
    Q_EMIT keyLayoutPressed();
    event->accept();
}

void MacroKeyLayout::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(kTrack);
    p.drawRoundedRect(QRectF(0, 0, width(), Key::kHeight), 6, 6);
}

bool MacroKeyLayout::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_viewport) {
        if (event->type() == QEvent::Resize) {
            setScroll(m_scroll);
        } else if (event->type() == QEvent::Wheel) {
            const auto *wheel = static_cast<QWheelEvent *>(event);
            const QPoint delta = wheel->angleDelta();
            const int steps = delta.x() != 0 ? delta.x() : delta.y();
            setScroll(m_scroll - steps / 4);
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// The simulated HID bus: keyboards plugged in and out, enumeration, and open
// handles with their timed input queues.
//
// One mutex guards the whole bus, its keyboards and every handle. Each handle
// has its own condition variable; a reader waits on it exactly until the ready
// time of the report at the head of its queue (or its time-out), so answers
// arrive on time without polling. A reader is woken only when its wait has to
// change: a report arrives in an empty queue, the handle dies, or its stop is
// asked for. Reports queued by a write wake their reader once the bus lock is
// released, so that the reader does not wake only to wait for the lock.

#include "simkeyboard_p.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <map>

namespace sim {

struct SimBus::Private : public BusCore
{
    struct Pending
    {
        Personality personality;
        int index;
        Personality returnTo;
        Clock::time_point at;
    };

    mutable std::mutex m;
    Clock::duration reportLatency = std::chrono::microseconds(1000);
    Clock::duration loaderDelay = std::chrono::milliseconds(100);
    std::vector<std::unique_ptr<Keyboard>> present; // on the bus, in plug order
    std::vector<std::unique_ptr<Keyboard>> gone;    // left on their own; kept valid
    std::map<std::pair<int, int>, std::shared_ptr<KeyboardState>> stored;
    std::map<SimHandle *, std::shared_ptr<SimHandle>> handles;
    std::vector<Pending> pending;
    int enumerations = 0;
    // While a write runs, the readers to wake are collected here and woken
    // after the lock is released.
    bool holdWakes = false;
    std::vector<std::shared_ptr<SimHandle>> heldWakes;

    // BusCore
    std::mutex &mutex() const override { return m; }
    Clock::duration latency() const override { return reportLatency; }
    Clock::duration bootLoaderDelay() const override { return loaderDelay; }

    void deliver(Keyboard *keyboard, SimHandle *to, const Frame &report,
                 Clock::time_point ready) override
    {
        auto push = [&](const std::shared_ptr<SimHandle> &h) {
            const bool wasEmpty = h->queue.empty();
            Clock::time_point at = ready;
            if (!wasEmpty && h->queue.back().ready > at)
                at = h->queue.back().ready; // reports never overtake each other
            h->queue.push_back({report, at});
            // Behind another report the reader's wake-up time stays the same.
            if (!wasEmpty)
                return;
            if (holdWakes)
                heldWakes.push_back(h);
            else
                h->cv.notify_all();
        };
        if (to) {
            if (to->keyboard == keyboard && !to->dead) {
                auto it = handles.find(to);
                if (it != handles.end())
                    push(it->second);
            }
            return;
        }
        for (auto &entry : handles) {
            SimHandle *h = entry.first;
            if (h->keyboard == keyboard && h->vendor && !h->dead)
                push(entry.second);
        }
    }

    void killHandlesLocked(Keyboard *keyboard)
    {
        for (auto &entry : handles) {
            SimHandle *h = entry.first;
            if (h->keyboard == keyboard) {
                h->keyboard = nullptr;
                h->dead = true;
                h->queue.clear();
                h->cv.notify_all();
            }
        }
    }

    void leave(Keyboard *keyboard) override
    {
        auto it = std::find_if(present.begin(), present.end(),
                               [&](const auto &k) { return k.get() == keyboard; });
        if (it == present.end())
            return;
        killHandlesLocked(keyboard);
        keyboard->setPresentLocked(false);
        gone.push_back(std::move(*it));
        present.erase(it);
    }

    void appearLater(Personality personality, int index, Personality returnTo,
                     Clock::duration delay) override
    {
        pending.push_back({personality, index, returnTo, Clock::now() + delay});
    }

    Keyboard *findLocked(Personality personality, int index) const
    {
        for (const auto &k : present) {
            if (k->personality() == personality && k->index() == index)
                return k.get();
        }
        return nullptr;
    }

    int nextFreeIndexLocked(Personality personality, int from = 0) const
    {
        int index = std::max(0, from);
        while (findLocked(personality, index))
            ++index;
        return index;
    }

    Keyboard *plugLocked(Personality personality, int index, Personality returnTo)
    {
        if (index < 0)
            index = nextFreeIndexLocked(personality);
        if (index > 0xFFFF || findLocked(personality, index))
            return nullptr;
        std::shared_ptr<KeyboardState> &state = stored[{int(personality), index}];
        if (!state) {
            state = std::make_shared<KeyboardState>();
            fillDefaults(*state, personality, index, true);
        }
        if (personality == Personality::BootLoader)
            state->returnPersonality = returnTo;
        present.push_back(std::make_unique<Keyboard>(this, personality, index, state));
        return present.back().get();
    }

    // Keyboards due to appear (boot loader and back) appear when the bus is next looked at.
    void processPendingLocked()
    {
        if (pending.empty())
            return;
        const auto now = Clock::now();
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->at > now) {
                ++it;
                continue;
            }
            const int index = findLocked(it->personality, it->index)
                                  ? nextFreeIndexLocked(it->personality, it->index)
                                  : it->index;
            plugLocked(it->personality, index, it->returnTo);
            it = pending.erase(it);
        }
    }

    std::shared_ptr<SimHandle> handleLocked(HidHandle *handle) const
    {
        auto it = handles.find(reinterpret_cast<SimHandle *>(handle));
        return it == handles.end() ? nullptr : it->second;
    }
};

SimBus::SimBus() : d(std::make_unique<Private>()) {}

SimBus::~SimBus()
{
    std::lock_guard<std::mutex> lock(d->m);
    for (auto &entry : d->handles) {
        entry.first->keyboard = nullptr;
        entry.first->dead = true;
        entry.first->cv.notify_all();
    }
    d->present.clear();
    d->gone.clear();
}

SimKeyboard *SimBus::plug(Personality personality, int index)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->processPendingLocked();
    return d->plugLocked(personality, index, personality);
}

void SimBus::unplug(SimKeyboard *keyboard)
{
    std::lock_guard<std::mutex> lock(d->m);
    auto matches = [&](const std::unique_ptr<Keyboard> &k) { return k.get() == keyboard; };
    auto it = std::find_if(d->present.begin(), d->present.end(), matches);
    if (it != d->present.end()) {
        d->killHandlesLocked(it->get());
        d->present.erase(it);
        return;
    }
    auto git = std::find_if(d->gone.begin(), d->gone.end(), matches);
    if (git == d->gone.end())
        return;
    // A keyboard pulled out while it restarts: its boot loader does not appear.
    const Personality personality = (*git)->personality();
    const int index = (*git)->index();
    d->pending.erase(std::remove_if(d->pending.begin(), d->pending.end(),
                                    [&](const Private::Pending &p) {
                                        return p.index == index && p.returnTo == personality;
                                    }),
                     d->pending.end());
    d->gone.erase(git);
}

QList<SimKeyboard *> SimBus::keyboards() const
{
    std::lock_guard<std::mutex> lock(d->m);
    d->processPendingLocked();
    QList<SimKeyboard *> list;
    for (const auto &k : d->present)
        list.append(k.get());
    return list;
}

SimKeyboard *SimBus::find(const QString &path) const
{
    std::lock_guard<std::mutex> lock(d->m);
    d->processPendingLocked();
    for (const auto &k : d->present) {
        if (k->path() == path || (k->traits().bootKeyboardInterface && k->pathOf(0) == path))
            return k.get();
    }
    return nullptr;
}

SimKeyboard *SimBus::find(Personality personality, int index) const
{
    std::lock_guard<std::mutex> lock(d->m);
    d->processPendingLocked();
    return d->findLocked(personality, index);
}

void SimBus::forgetStoredState()
{
    std::lock_guard<std::mutex> lock(d->m);
    for (auto it = d->stored.begin(); it != d->stored.end();) {
        if (d->findLocked(Personality(it->first.first), it->first.second))
            ++it;
        else
            it = d->stored.erase(it);
    }
}

int SimBus::openHandleCount() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return int(d->handles.size());
}

void SimBus::setBootLoaderDelayMs(int ms)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->loaderDelay = std::chrono::milliseconds(std::max(0, ms));
}

void SimBus::setReportLatencyUs(int us)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->reportLatency = std::chrono::microseconds(std::max(0, us));
}

int SimBus::reportLatencyUs() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return int(std::chrono::duration_cast<std::chrono::microseconds>(d->reportLatency).count());
}

// ---------------------------------------------------------------- HidBackend

int SimBus::enumerationCount() const
{
    std::lock_guard<std::mutex> lock(d->m);
    return d->enumerations;
}

QList<HidDeviceInfo> SimBus::enumerate(uint16_t vendorId, uint16_t productId)
{
    return listPairs({{vendorId, productId}}, true);
}

QList<HidDeviceInfo> SimBus::enumerateAny(const QVector<HidPair> &pairs)
{
    return listPairs(pairs, false);
}

QList<HidDeviceInfo> SimBus::listPairs(const QVector<HidPair> &pairs, bool zeroMeansAll)
{
    std::lock_guard<std::mutex> lock(d->m);
    ++d->enumerations;
    d->processPendingLocked();
    QList<HidDeviceInfo> list;
    for (const auto &k : d->present) {
        const Traits &t = k->traits();
        const bool wanted = std::any_of(pairs.cbegin(), pairs.cend(), [&](const HidPair &p) {
            if (!p.vendorId && !p.productId && !zeroMeansAll)
                return false;
            return (!p.vendorId || p.vendorId == t.vendorId) &&
                   (!p.productId || p.productId == t.productId);
        });
        if (!wanted)
            continue;
        const bool reports = k->reportsInterfaceNumberLocked();
        const QByteArray &name = k->productNameLocked();
        HidDeviceInfo info;
        info.vendorId = t.vendorId;
        info.productId = t.productId;
        info.manufacturer = QStringLiteral("Lumory");
        info.serialNumber = QString::fromLatin1(k->deviceIdLocked().toHex());
        if (t.bootKeyboardInterface) {
            info.path = k->pathOf(0);
            info.interfaceNumber = reports ? 0 : -1;
            info.product =
                QString::fromLatin1(name.mid(1).constData()) + QStringLiteral(" Keyboard");
            list.append(info);
        }
        info.path = k->pathOf(t.interfaceNumber);
        info.interfaceNumber = reports ? t.interfaceNumber : -1;
        info.product = QString::fromLatin1(name.mid(1).constData());
        list.append(info);
    }
    return list;
}

HidHandle *SimBus::open(const QString &path)
{
    std::lock_guard<std::mutex> lock(d->m);
    d->processPendingLocked();
    for (const auto &k : d->present) {
        const Traits &t = k->traits();
        int iface = -1;
        if (k->pathOf(t.interfaceNumber) == path)
            iface = t.interfaceNumber;
        else if (t.bootKeyboardInterface && k->pathOf(0) == path)
            iface = 0;
        if (iface < 0)
            continue;
        auto handle = std::make_shared<SimHandle>();
        handle->keyboard = k.get();
        handle->interfaceNumber = iface;
        handle->vendor = iface == t.interfaceNumber;
        d->handles[handle.get()] = handle;
        return reinterpret_cast<HidHandle *>(handle.get());
    }
    return nullptr;
}

int SimBus::read(HidHandle *handle, unsigned char *data, size_t length)
{
    return readTimeout(handle, data, length, -1);
}

int SimBus::readTimeout(HidHandle *handle, unsigned char *data, size_t length, int timeoutMs)
{
    return readUntil(handle, data, length, timeoutMs, {});
}

int SimBus::readUntil(HidHandle *handle, unsigned char *data, size_t length, int timeoutMs,
                      const std::function<bool()> &stopRequested)
{
    std::unique_lock<std::mutex> lock(d->m);
    const std::shared_ptr<SimHandle> h = d->handleLocked(handle);
    if (!h || !data)
        return -1;
    const auto never = Clock::time_point::max();
    const auto deadline =
        timeoutMs < 0 ? never : Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        if (h->dead)
            return -1;
        // A stopped read takes nothing more: what arrives is left to the next reader.
        if (stopRequested && stopRequested())
            return 0;
        const auto now = Clock::now();
        if (!h->queue.empty() && h->queue.front().ready <= now) {
            const size_t n = std::min(length, h->queue.front().data.size());
            std::memcpy(data, h->queue.front().data.data(), n);
            h->queue.pop_front();
            return int(n);
        }
        if (now >= deadline)
            return 0;
        const auto wakeAt =
            h->queue.empty() ? deadline : std::min(deadline, h->queue.front().ready);
        if (wakeAt == never)
            h->cv.wait(lock);
        else
            h->cv.wait_until(lock, wakeAt);
    }
}

void SimBus::wakeReads(HidHandle *handle)
{
    std::shared_ptr<SimHandle> h;
    {
        std::lock_guard<std::mutex> lock(d->m);
        h = d->handleLocked(handle);
    }
    // The stop flag was set before: a reader that looked at it under the
    // lock before it was set is waiting by now.
    if (h)
        h->cv.notify_all();
}

int SimBus::write(HidHandle *handle, const unsigned char *data, size_t length)
{
    std::vector<std::shared_ptr<SimHandle>> wakes;
    int result = -1;
    {
        std::lock_guard<std::mutex> lock(d->m);
        const std::shared_ptr<SimHandle> h = d->handleLocked(handle);
        // Unnumbered reports only: byte 0 is report id 0, then at most 64 bytes.
        if (!h || h->dead || !data || length == 0 || length > 65 || data[0] != 0)
            return -1;
        if (!h->vendor)
            return int(length); // the plain keyboard interface takes the report and ignores it
        Frame frame{};
        std::memcpy(frame.data(), data + 1, length - 1);
        d->holdWakes = true;
        if (h->keyboard->receiveLocked(h.get(), frame))
            result = int(length);
        d->holdWakes = false;
        wakes.swap(d->heldWakes);
    }
    for (const auto &h : wakes)
        h->cv.notify_all();
    return result;
}

void SimBus::close(HidHandle *handle)
{
    std::lock_guard<std::mutex> lock(d->m);
    auto it = d->handles.find(reinterpret_cast<SimHandle *>(handle));
    if (it == d->handles.end())
        return;
    it->second->dead = true; // a read blocked on it in another thread returns -1
    it->second->keyboard = nullptr;
    it->second->cv.notify_all();
    d->handles.erase(it);
}

int SimBus::exit()
{
    // hid_exit: nothing global to release; open handles of other keyboards stay usable.
    return 0;
}

} // namespace sim

// The simulated keyboard: frame intake, fault injection, notifications and the
// direct state access used by tests. The command handlers are in
// simcommands.cpp, simmacro.cpp and simloader.cpp.

#include "simkeyboard_p.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

QByteArray fitted(const QByteArray &bytes, int size)
{
    QByteArray out = bytes.left(size);
    out.append(QByteArray(size - out.size(), '\0'));
    return out;
}

// Copies `bytes` over the start of `target`, never growing it.
void overwrite(QByteArray &target, const QByteArray &bytes)
{
    const int n = std::min(target.size(), bytes.size());
    if (n > 0)
        std::memcpy(target.data(), bytes.constData(), size_t(n));
}

bool inRange(int i, size_t count)
{
    return i >= 0 && size_t(i) < count;
}

} // namespace

Keyboard::Keyboard(BusCore *bus, Personality personality, int index,
                   std::shared_ptr<KeyboardState> state)
    : m_bus(bus), m_personality(personality), m_index(index), m_traits(traitsOf(personality)),
      m_state(std::move(state))
{
    // Constructed with the bus mutex held. A keyboard coming back from its
    // boot loader runs the firmware the loader was given.
    const auto handOver = m_bus->firmwareHandOver.find({int(personality), index});
    if (handOver != m_bus->firmwareHandOver.end()) {
        m_state->firmwareVersion = handOver->second;
        m_bus->firmwareHandOver.erase(handOver);
    }
}

Keyboard::~Keyboard() = default;

QString Keyboard::pathOf(int interfaceNumber) const
{
    // Like a libusb path "<bus>-<port>:<configuration>.<interface>": the last
    // character is the interface number.
    return QStringLiteral("sim:%1-%2:1.%3")
        .arg(int(m_personality) + 1)
        .arg(m_index + 1)
        .arg(interfaceNumber);
}

QString Keyboard::path() const
{
    return pathOf(m_traits.interfaceNumber);
}

int Keyboard::interfaceNumber() const
{
    auto l = lock();
    return m_reportsInterface ? m_traits.interfaceNumber : -1;
}

void Keyboard::setReportsInterfaceNumber(bool reports)
{
    auto l = lock();
    m_reportsInterface = reports;
}

// ---------------------------------------------------------------- frame intake

bool Keyboard::receiveLocked(SimHandle *from, const Frame &frame)
{
    const int frameIndex = m_received.size();
    const int command = frame[0], subCommand = frame[1];
    auto applies = [&](const Fault &f) {
        return (f.atFrame < 0 || frameIndex >= f.atFrame) &&
               (f.command < 0 || f.command == command) &&
               (f.subCommand < 0 || f.subCommand == subCommand);
    };
    auto consume = [&](std::vector<Fault>::iterator it) {
        if (it->count > 0 && --it->count == 0)
            return m_faults.erase(it);
        return it + 1;
    };

    // A failed write never reaches the keyboard and is not counted.
    for (auto it = m_faults.begin(); it != m_faults.end(); ++it) {
        if (it->kind == FaultKind::WriteFailure && applies(*it)) {
            consume(it);
            return false;
        }
    }

    m_received.append(QByteArray(reinterpret_cast<const char *>(frame.data()), int(frame.size())));

    bool noAnswer = false, wrongEcho = false, errorStatus = false, disconnect = false;
    uint32_t status = 0;
    int delayMs = 0;
    for (auto it = m_faults.begin(); it != m_faults.end();) {
        if (it->kind == FaultKind::None || it->kind == FaultKind::WriteFailure || !applies(*it)) {
            ++it;
            continue;
        }
        switch (it->kind) {
        case FaultKind::NoAnswer:
            noAnswer = true;
            break;
        case FaultKind::LateAnswer:
            delayMs += std::max(0, it->delayMs);
            break;
        case FaultKind::WrongEcho:
            wrongEcho = true;
            break;
        case FaultKind::ErrorStatus:
            errorStatus = true;
            status = it->status;
            break;
        case FaultKind::Disconnect:
            disconnect = true;
            break;
        case FaultKind::None:
        case FaultKind::WriteFailure:
            break;
        }
        it = consume(it);
    }

    if (disconnect) {
        m_bus->leave(this);
        return true;
    }

    Frame answer{};
    answer[0] = frame[0];
    answer[1] = frame[1];
    Outcome outcome;
    if (errorStatus) {
        // The keyboard refuses the request: nothing it would have changed changes.
        const KeyboardState saved = *m_state;
        outcome = dispatch(frame, answer);
        *m_state = saved;
        if (outcome == Outcome::EnterLoader)
            outcome = Outcome::Answer;
        if (outcome == Outcome::Answer) {
            put32(&answer[8], status);
            if (le16(&answer[2]) < 4)
                setLength(answer, 4);
        }
    } else {
        outcome = dispatch(frame, answer);
    }

    if (outcome == Outcome::EnterLoader) {
        // The firmware restarts: it drops off the bus and its loader enumerates.
        m_bus->leave(this);
        if (m_state->loaderAppears)
            m_bus->appearLater(Personality::BootLoader, m_index, m_personality,
                               m_bus->bootLoaderDelay());
        return true;
    }
    if (outcome != Outcome::Answer || noAnswer)
        return true;
    if (wrongEcho) {
        answer[0] ^= 0x01;
        answer[1] ^= 0x01;
        if (answer[0] == 0xF0) // must not turn into a notification
            answer[0] = 0xF2;
    }
    const auto ready = Clock::now() + 2 * m_bus->latency() + std::chrono::milliseconds(delayMs);
    m_bus->deliver(this, from, answer, ready);
    return true;
}

Keyboard::Outcome Keyboard::dispatch(const Frame &req, Frame &ans)
{
    if (m_traits.loader)
        return handleLoaderFrame(req, ans);
    const uint16_t length = le16(&req[2]);
    if (length > 56) {
        setStatus(ans, kSimStatusBadLength);
        return Outcome::Answer;
    }
    switch (req[0]) {
    case 0x10:
        return handleDevice(req, ans);
    case 0x20:
        return handleKeyCodes(req, ans);
    case 0x30:
        return handleColours(req, ans);
    case 0x40:
        return handleKeyFunctions(req, ans);
    case 0x50:
        return handleMacros(req, ans);
    case 0x60:
        return handleLighting(req, ans);
    case 0xB0:
        return handleBluetooth(req, ans);
    default:
        break;
    }
    setStatus(ans, kSimStatusUnknownCommand);
    return Outcome::Answer;
}

// ---------------------------------------------------------------- faults, frames

QList<QByteArray> Keyboard::receivedFrames() const
{
    auto l = lock();
    return m_received;
}

void Keyboard::clearReceivedFrames()
{
    auto l = lock();
    m_received.clear();
}

void Keyboard::injectFault(const Fault &fault)
{
    auto l = lock();
    if (fault.kind != FaultKind::None && fault.count != 0)
        m_faults.push_back(fault);
}

void Keyboard::clearFaults()
{
    auto l = lock();
    m_faults.clear();
    m_loaderFaults.clear();
    m_btFaults.clear();
}

// ---------------------------------------------------------------- notifications

void Keyboard::notifyLocked(uint8_t kind, const QByteArray &payload)
{
    if (!m_present)
        return;
    Frame f{};
    f[0] = 0xF0;
    f[1] = kind;
    const int n = std::min(56, int(payload.size()));
    put16(&f[2], uint16_t(n));
    if (n > 0)
        std::memcpy(&f[8], payload.constData(), size_t(n));
    m_bus->deliver(this, nullptr, f, Clock::now() + m_bus->latency());
}

void Keyboard::sendNotification(uint8_t kind, const QByteArray &payload)
{
    auto l = lock();
    notifyLocked(kind, payload);
}

void Keyboard::sendRawReport(const QByteArray &report)
{
    auto l = lock();
    if (!m_present)
        return;
    Frame f{};
    const int n = std::min(64, int(report.size()));
    if (n > 0)
        std::memcpy(f.data(), report.constData(), size_t(n));
    m_bus->deliver(this, nullptr, f, Clock::now() + m_bus->latency());
}

bool Keyboard::pressMapKeyLocked(uint8_t kind, int &current, int count, int map)
{
    if (map < 0 || map >= count)
        return false;
    const int previous = current;
    current = map;
    QByteArray payload(2, '\0');
    payload[0] = char(previous);
    payload[1] = char(map);
    notifyLocked(kind, payload);
    return true;
}

bool Keyboard::pressLayerKey(int map)
{
    auto l = lock();
    return pressMapKeyLocked(0x20, m_state->curKeyMap, int(m_state->keyMaps.size()), map);
}

bool Keyboard::pressColourMapKey(int map)
{
    auto l = lock();
    return pressMapKeyLocked(0x30, m_state->curColourMap, int(m_state->colourMaps.size()), map);
}

bool Keyboard::pressModeMapKey(int map)
{
    auto l = lock();
    return pressMapKeyLocked(0x60, m_state->curModeMap, int(m_state->modeMaps.size()), map);
}

bool Keyboard::pressKeyFunction(int index)
{
    auto l = lock();
    if (!inRange(index, m_state->keyFunctions.size()))
        return false;
    const auto *entry = reinterpret_cast<const uint8_t *>(m_state->keyFunctions[index].constData());
    if (!(entry[0] & 0x40))
        return false;
    QByteArray payload(2, '\0');
    payload[0] = char(entry[0] & 0x3F);
    payload[1] = char((le16(entry) >> 7) & 0x3F);
    notifyLocked(0xAA, payload);
    return true;
}

bool Keyboard::setKeyLocked(int key, bool locked)
{
    auto l = lock();
    if (!inRange(m_state->curKeyMap, m_state->keyMaps.size()) || key < 0 ||
        key >= m_traits.keyCount)
        return false;
    QByteArray &map = m_state->keyMaps[size_t(m_state->curKeyMap)];
    const char flags = map.at(key * 4);
    map[key * 4] = char(locked ? (flags | 0x01) : (flags & ~0x01));
    notifyLocked(0x21, map.mid(key * 4, 4));
    return true;
}

bool Keyboard::sendRecordedFrameLocked(uint16_t delayMs)
{
    if (!m_state->recording)
        return false;
    QByteArray frame(10, '\0');
    put16(reinterpret_cast<uint8_t *>(frame.data()), delayMs);
    std::memcpy(frame.data() + 2, m_liveReport.data(), m_liveReport.size());
    notifyLocked(0x50, frame);
    return true;
}

bool Keyboard::simulateKey(uint8_t usage, bool down, uint16_t delayMs)
{
    auto l = lock();
    const auto before = m_liveReport;
    if (usage >= 0xE0 && usage <= 0xE7) {
        const uint8_t bit = uint8_t(1u << (usage - 0xE0));
        m_liveReport[0] = uint8_t(down ? (m_liveReport[0] | bit) : (m_liveReport[0] & ~bit));
    } else if (usage != 0 && usage < 0xE0) {
        uint8_t *keys = m_liveReport.data() + 2;
        if (down) {
            if (!std::count(keys, keys + 6, usage)) {
                auto *slot = std::find(keys, keys + 6, uint8_t(0));
                if (slot != keys + 6)
                    *slot = usage; // a seventh key does not fit in the report
            }
        } else {
            std::replace(keys, keys + 6, usage, uint8_t(0));
        }
    }
    if (m_liveReport == before)
        return false; // the report did not change: nothing to send
    return sendRecordedFrameLocked(delayMs);
}

bool Keyboard::simulateReport(uint16_t delayMs, uint8_t modifiers, const QByteArray &keys)
{
    auto l = lock();
    m_liveReport.fill(0);
    m_liveReport[0] = modifiers;
    for (int i = 0; i < 6 && i < keys.size(); ++i)
        m_liveReport[size_t(2 + i)] = uint8_t(keys[i]);
    return sendRecordedFrameLocked(delayMs);
}

// ---------------------------------------------------------------- state access

QByteArray Keyboard::deviceId() const
{
    auto l = lock();
    return m_state->deviceId;
}

QByteArray Keyboard::productName() const
{
    auto l = lock();
    return m_state->productName;
}

void Keyboard::setProductName(const QByteArray &name)
{
    auto l = lock();
    m_state->productName = fitted(name, 16);
}

uint16_t Keyboard::firmwareVersion() const
{
    auto l = lock();
    return m_state->firmwareVersion;
}

void Keyboard::setFirmwareVersion(uint16_t version)
{
    auto l = lock();
    m_state->firmwareVersion = version;
}

int Keyboard::keyMapCount() const
{
    auto l = lock();
    return int(m_state->keyMaps.size());
}

int Keyboard::keyCount() const
{
    return m_traits.keyCount;
}

int Keyboard::currentKeyMap() const
{
    auto l = lock();
    return m_state->curKeyMap;
}

QByteArray Keyboard::keyCodes(int map) const
{
    auto l = lock();
    return inRange(map, m_state->keyMaps.size()) ? m_state->keyMaps[size_t(map)] : QByteArray();
}

void Keyboard::setKeyCodes(int map, const QByteArray &entries)
{
    auto l = lock();
    if (inRange(map, m_state->keyMaps.size()))
        overwrite(m_state->keyMaps[size_t(map)], entries);
}

int Keyboard::colourMapCount() const
{
    auto l = lock();
    return int(m_state->colourMaps.size());
}

int Keyboard::currentColourMap() const
{
    auto l = lock();
    return m_state->colourMaps.empty() ? -1 : m_state->curColourMap;
}

QByteArray Keyboard::keyColours(int map) const
{
    auto l = lock();
    return inRange(map, m_state->colourMaps.size()) ? m_state->colourMaps[size_t(map)]
                                                    : QByteArray();
}

void Keyboard::setKeyColours(int map, const QByteArray &entries)
{
    auto l = lock();
    if (inRange(map, m_state->colourMaps.size()))
        overwrite(m_state->colourMaps[size_t(map)], entries);
}

int Keyboard::modeMapCount() const
{
    auto l = lock();
    return int(m_state->modeMaps.size());
}

int Keyboard::currentModeMap() const
{
    auto l = lock();
    return m_state->modeMaps.empty() ? -1 : m_state->curModeMap;
}

int Keyboard::modeCount() const
{
    return m_traits.modeMaps > 0 ? m_traits.keyCount : 0;
}

QByteArray Keyboard::modes(int map) const
{
    auto l = lock();
    return inRange(map, m_state->modeMaps.size()) ? m_state->modeMaps[size_t(map)] : QByteArray();
}

void Keyboard::setModes(int map, const QByteArray &modes)
{
    auto l = lock();
    if (inRange(map, m_state->modeMaps.size()))
        overwrite(m_state->modeMaps[size_t(map)], modes);
}

QByteArray Keyboard::lightingRecord(int index) const
{
    auto l = lock();
    return inRange(index, m_state->lightingRecords.size()) ? m_state->lightingRecords[size_t(index)]
                                                           : QByteArray();
}

void Keyboard::setLightingRecord(int index, const QByteArray &record)
{
    auto l = lock();
    if (inRange(index, m_state->lightingRecords.size()))
        m_state->lightingRecords[size_t(index)] = fitted(record, 12);
}

void Keyboard::setColourMapShape(int reportedCount, int current)
{
    auto l = lock();
    m_state->reportedColourMaps = reportedCount;
    m_state->curColourMap = current;
}

QByteArray Keyboard::keyFunction(int index) const
{
    auto l = lock();
    return inRange(index, m_state->keyFunctions.size()) ? m_state->keyFunctions[size_t(index)]
                                                        : QByteArray();
}

void Keyboard::setKeyFunction(int index, const QByteArray &entry)
{
    auto l = lock();
    if (inRange(index, m_state->keyFunctions.size()))
        m_state->keyFunctions[size_t(index)] = fitted(entry, 56);
}

void Keyboard::setKeyFunctionCount(int count)
{
    auto l = lock();
    const size_t n = size_t(qBound(0, count, 255));
    const size_t old = m_state->keyFunctions.size();
    m_state->keyFunctions.resize(n);
    for (size_t i = old; i < n; ++i) {
        QByteArray kf(56, '\0');
        kf[0] = char(i & 0x3F);
        m_state->keyFunctions[i] = kf;
    }
}

int Keyboard::keyFunctionCount() const
{
    auto l = lock();
    return int(m_state->keyFunctions.size());
}

QByteArray Keyboard::macroHead(int slot) const
{
    auto l = lock();
    return inRange(slot, m_state->macroHeads.size()) ? m_state->macroHeads[size_t(slot)]
                                                     : QByteArray();
}

QByteArray Keyboard::macroFrames(int slot) const
{
    auto l = lock();
    if (!inRange(slot, m_state->macroHeads.size()))
        return QByteArray();
    const int count =
        std::min<int>(macroFrameCount(m_state->macroHeads[size_t(slot)]), m_traits.macroFrames);
    return m_state->macroFrames[size_t(slot)].left(count * 10);
}

bool Keyboard::setMacro(int slot, const QByteArray &name, const QByteArray &frames)
{
    auto l = lock();
    const int count = int(frames.size() / 10);
    if (!inRange(slot, m_state->macroHeads.size()) || count > m_traits.macroFrames)
        return false;
    QByteArray &head = m_state->macroHeads[size_t(slot)];
    head[0] = char((head[0] & ~0x3F) | (slot & 0x3F) | 0x40); // id and used
    setMacroFrameCount(head, uint16_t(count));
    head.replace(8, 16, fitted(name, 16));
    QByteArray &stored = m_state->macroFrames[size_t(slot)];
    stored.fill('\0');
    overwrite(stored, frames.left(count * 10));
    return true;
}

void Keyboard::setMacroHead(int slot, const QByteArray &head)
{
    auto l = lock();
    if (inRange(slot, m_state->macroHeads.size()))
        m_state->macroHeads[size_t(slot)] = fitted(head, 24);
}

void Keyboard::setMacroSlotCount(int count)
{
    auto l = lock();
    const size_t n = size_t(qBound(0, count, 255));
    const size_t old = m_state->macroHeads.size();
    m_state->macroHeads.resize(n);
    m_state->macroFrames.resize(n);
    for (size_t i = old; i < n; ++i) {
        QByteArray head(24, '\0');
        head[0] = char(i & 0x3F);
        m_state->macroHeads[i] = head;
        m_state->macroFrames[i] = QByteArray(m_traits.macroFrames * 10, '\0');
    }
    if (m_state->selectedMacro >= int(n))
        m_state->selectedMacro = -1;
}

int Keyboard::macroSlotCount() const
{
    auto l = lock();
    return int(m_state->macroHeads.size());
}

int Keyboard::selectedMacro() const
{
    auto l = lock();
    return m_state->selectedMacro;
}

bool Keyboard::isRecordingMacro() const
{
    auto l = lock();
    return m_state->recording;
}

bool Keyboard::isPlayingMacro() const
{
    auto l = lock();
    return m_state->playing;
}

QByteArray Keyboard::bluetoothName() const
{
    auto l = lock();
    return m_state->btName;
}

void Keyboard::setBluetoothName(const QByteArray &name)
{
    auto l = lock();
    m_state->btName = fitted(name, 12);
}

uint32_t Keyboard::sleepTime() const
{
    auto l = lock();
    return m_state->sleepTime;
}

void Keyboard::setSleepTime(uint32_t ms)
{
    auto l = lock();
    m_state->sleepTime = ms;
}

uint16_t Keyboard::scanSpeed() const
{
    auto l = lock();
    return m_state->scanSpeed;
}

uint8_t Keyboard::nKey() const
{
    auto l = lock();
    return m_state->nKey;
}

QByteArray Keyboard::userInfo() const
{
    auto l = lock();
    return m_state->userInfo;
}

void Keyboard::restoreDefaults()
{
    auto l = lock();
    fillDefaults(*m_state, m_personality, m_index, false);
    m_liveReport.fill(0);
}

} // namespace sim

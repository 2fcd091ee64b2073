// The Bluetooth module of a dual-mode simulated keyboard.
//
// The module sits behind the keyboard's normal interface and speaks the
// 0xB0/0xDF update pass-through (see SimKeyboard::injectBtFault): it runs
// either its application or its boot loader; in the boot loader it erases and
// programs its application and soft-device areas chunk by chunk, checking
// each chunk's checksum and number, and when it returns to its application it
// runs the version carried by the programmed application's marker.

#include "simkeyboard_p.h"

namespace sim {

namespace {

constexpr uint8_t kOpAppToBoot = 0x08;
constexpr uint8_t kOpEraseApp = 0x81;
constexpr uint8_t kOpEraseSd = 0x82;
constexpr uint8_t kOpWriteApp = 0x83;
constexpr uint8_t kOpWriteSd = 0x84;
constexpr uint8_t kOpBootToApp = 0x85;
constexpr int kRecord = 8;     // the record starts at frame byte 8
constexpr int kChunkData = 48; // image bytes per chunk
constexpr uint8_t kMarkerKindBtApp = 1;

// The record's checksum as the host computes it: byte 2 counted as 0.
uint8_t recordChecksum(const Frame &req)
{
    unsigned sum = 0;
    for (int i = kRecord; i < kRecord + 56; ++i)
        sum += i == kRecord + 2 ? 0u : req[size_t(i)];
    return uint8_t(sum);
}

int btApplicationVersion(const QByteArray &flash)
{
    const int version = firmwareImageVersion(flash);
    if (version < 0 || uint8_t(flash.at(kFirmwareMarkerOffset + 12)) != kMarkerKindBtApp)
        return -1;
    return version;
}

} // namespace

QByteArray makeFirmwareImage(uint16_t version, int size, uint32_t seed, uint8_t kind)
{
    QByteArray image = makeFirmwareImage(version, size, seed);
    if (image.size() >= kFirmwareMarkerOffset + kFirmwareMarkerSize)
        image[kFirmwareMarkerOffset + 12] = char(kind);
    return image;
}

Keyboard::Outcome Keyboard::handleBtModule(const Frame &req, Frame &ans)
{
    const uint8_t op = req[kRecord];
    const bool chunk = op == kOpWriteApp || op == kOpWriteSd;
    const uint32_t packet = chunk ? le32(&req[kRecord + 4]) : 0;

    bool refuse = false, silence = false, unplug = false, notify = false, stale = false;
    uint8_t code = 0;
    for (auto it = m_btFaults.begin(); it != m_btFaults.end();) {
        if ((it->op >= 0 && it->op != op) ||
            (it->atChunk >= 0 && (!chunk || packet < uint32_t(it->atChunk)))) {
            ++it;
            continue;
        }
        switch (it->kind) {
        case BtFaultKind::ErrorCode:
            refuse = true;
            code = it->errorCode;
            break;
        case BtFaultKind::Silence:
            silence = true;
            break;
        case BtFaultKind::Unplug:
            unplug = true;
            break;
        case BtFaultKind::Notification:
            notify = true;
            break;
        case BtFaultKind::StaleAnswer:
            stale = true;
            break;
        }
        if (it->count > 0 && --it->count == 0)
            it = m_btFaults.erase(it);
        else
            ++it;
    }
    if (unplug) {
        m_bus->leave(this);
        return Outcome::Silent;
    }
    if (silence)
        return Outcome::Silent;

    KeyboardState &s = *m_state;
    uint8_t error = 0;
    if (refuse) {
        error = code;
    } else {
        switch (op) {
        case kOpAppToBoot:
            s.btBoot = true;
            break;
        case kOpEraseApp:
        case kOpEraseSd:
            if (!s.btBoot) {
                error = kBtModuleBadState;
                break;
            }
            (op == kOpEraseApp ? s.btAppFlash : s.btSdFlash).clear();
            (op == kOpEraseApp ? s.btAppErased : s.btSdErased) = true;
            s.btNextPacket = 1;
            break;
        case kOpWriteApp:
        case kOpWriteSd: {
            const bool erased = op == kOpWriteApp ? s.btAppErased : s.btSdErased;
            if (!s.btBoot || !erased)
                error = kBtModuleBadState;
            else if (recordChecksum(req) != req[kRecord + 2])
                error = kBtModuleBadChecksum;
            else if (le16(&req[2]) != 56 || req[kRecord + 1] != 0x34 || packet != s.btNextPacket)
                error = kBtModuleBadPacket;
            if (error)
                break;
            (op == kOpWriteApp ? s.btAppFlash : s.btSdFlash)
                .append(reinterpret_cast<const char *>(&req[kRecord + 8]), kChunkData);
            ++s.btNextPacket;
            break;
        }
        case kOpBootToApp: {
            if (!s.btBoot) {
                error = kBtModuleBadState;
                break;
            }
            s.btBoot = false;
            s.btAppErased = s.btSdErased = false;
            const int version = btApplicationVersion(s.btAppFlash);
            if (version >= 0)
                s.btVersion = uint16_t(version);
            break;
        }
        default:
            error = kBtModuleUnknownOp;
            break;
        }
    }

    ans[8] = op;
    ans[9] = error ? 0 : 1;
    ans[12] = error;
    setLength(ans, 16);
    const Frame previous = s.btLastAnswer;
    s.btLastAnswer = ans;
    const auto ready = Clock::now() + 2 * m_bus->latency();
    if (notify) {
        // The user changes layers just as the module answers.
        Frame note{};
        note[0] = 0xF0;
        note[1] = 0x20;
        setLength(note, 2);
        note[8] = note[9] = uint8_t(s.curKeyMap);
        m_bus->deliver(this, nullptr, note, ready);
    }
    if (stale && previous[0] != 0) {
        m_bus->deliver(this, nullptr, ans, ready);
        m_bus->deliver(this, nullptr, previous, ready);
        return Outcome::Silent;
    }
    return Outcome::Answer;
}

void Keyboard::injectBtFault(const BtFault &fault)
{
    auto l = lock();
    if (fault.count != 0)
        m_btFaults.push_back(fault);
}

QByteArray Keyboard::btApplicationImage() const
{
    auto l = lock();
    return m_state->btAppFlash;
}

QByteArray Keyboard::btSoftDeviceImage() const
{
    auto l = lock();
    return m_state->btSdFlash;
}

bool Keyboard::btInBootLoader() const
{
    auto l = lock();
    return m_state->btBoot;
}

uint16_t Keyboard::btVersion() const
{
    auto l = lock();
    return m_state->btVersion;
}

} // namespace sim

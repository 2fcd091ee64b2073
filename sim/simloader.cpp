// Firmware-update side of the simulated keyboard.
//
// The USB boot loader: a keyboard told to enter its loader (0x10/0x00) leaves
// the bus and, after SimBus::setBootLoaderDelayMs, a Personality::BootLoader
// device with the same index appears (vendor 0x0416, product 0xA316, interface
// 0), unless setBootLoaderAppears(false) was called on the keyboard. Every
// packet written to it comes to handleLoaderFrame(), which speaks the packet
// protocol described at SimKeyboard::injectLoaderFault: it answers each
// packet with the byte sum of the 64 bytes received and the packet number + 1,
// erases and programs its application area (KeyboardState::loaderFlash), and
// on the run command (0xAB) with a complete image leaves the bus; the keyboard
// comes back after the boot-loader delay, running the version carried by the
// image's marker (see makeFirmwareImage) through BusCore::firmwareHandOver.
//
// The Bluetooth module (0xB0/0xDF, the dual-mode keyboards) is simbt.cpp.

#include "simkeyboard_p.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

constexpr uint32_t kLoaderSync = 0xA4;
constexpr uint32_t kLoaderUpdateAprom = 0xA0;
constexpr uint32_t kLoaderWriteFlash = 0x00;
constexpr uint32_t kLoaderRun = 0xAB;

uint16_t byteSum(const Frame &f)
{
    unsigned sum = 0;
    for (uint8_t b : f)
        sum += b;
    return uint16_t(sum);
}

// Appends up to `n` bytes at `from` to the application area, never beyond
// the announced length.
void program(KeyboardState &state, const uint8_t *from, uint32_t n)
{
    const uint32_t held = uint32_t(state.loaderFlash.size());
    const uint32_t room = state.loaderImageLength > held ? state.loaderImageLength - held : 0;
    const uint32_t take = std::min(n, room);
    if (take)
        state.loaderFlash.append(reinterpret_cast<const char *>(from), int(take));
}

} // namespace

QByteArray makeFirmwareImage(uint16_t version, int size, uint32_t seed)
{
    QByteArray image(std::max(0, size), '\0');
    uint32_t x = 0x9E3779B9u ^ seed;
    for (int i = 0; i < image.size(); ++i) {
        x = x * 1664525u + 1013904223u;
        image[i] = char(x >> 24);
    }
    if (image.size() >= kFirmwareMarkerOffset + kFirmwareMarkerSize) {
        QByteArray marker(kFirmwareMarkerSize, '\0');
        marker.replace(0, 10, kFirmwareMarkerTag);
        marker[10] = char(version & 0xFF);
        marker[11] = char(version >> 8);
        marker[12] = char(3); // a USB application
        image.replace(kFirmwareMarkerOffset, kFirmwareMarkerSize, marker);
    }
    return image;
}

int firmwareImageVersion(const QByteArray &image)
{
    if (image.size() < kFirmwareMarkerOffset + kFirmwareMarkerSize)
        return -1;
    if (image.mid(kFirmwareMarkerOffset, 10) != QByteArray(kFirmwareMarkerTag))
        return -1;
    return le16(reinterpret_cast<const uint8_t *>(image.constData()) + kFirmwareMarkerOffset + 10);
}

Keyboard::Outcome Keyboard::handleLoaderFrame(const Frame &req, Frame &ans)
{
    const int packet = m_received.size() - 1; // this packet's index in receivedFrames()
    const uint32_t command = le32(&req[0]);
    const uint32_t number = le32(&req[4]);

    bool wrongChecksum = false, sameNumber = false, stale = false, refuse = false;
    bool silence = false, unplug = false, stay = false, thenAnswer = false;
    uint32_t errorCode = 0;
    for (auto it = m_loaderFaults.begin(); it != m_loaderFaults.end();) {
        if ((it->atPacket >= 0 && packet < it->atPacket) ||
            (it->command >= 0 && uint32_t(it->command) != command)) {
            ++it;
            continue;
        }
        switch (it->kind) {
        case LoaderFaultKind::WrongChecksum:
            wrongChecksum = true;
            thenAnswer |= it->thenAnswer;
            break;
        case LoaderFaultKind::SamePacketNumber:
            sameNumber = true;
            thenAnswer |= it->thenAnswer;
            break;
        case LoaderFaultKind::StaleAnswer:
            stale = true;
            thenAnswer |= it->thenAnswer;
            break;
        case LoaderFaultKind::ErrorCode:
            refuse = true;
            errorCode = it->errorCode;
            break;
        case LoaderFaultKind::Silence:
            silence = true;
            break;
        case LoaderFaultKind::Unplug:
            unplug = true;
            break;
        case LoaderFaultKind::StayInLoader:
            stay = true;
            break;
        }
        if (it->count > 0 && --it->count == 0)
            it = m_loaderFaults.erase(it);
        else
            ++it;
    }

    if (unplug) {
        m_bus->leave(this);
        return Outcome::Silent;
    }
    if (silence)
        return Outcome::Silent;

    ans.fill(0);
    put32(&ans[4], number + 1);
    if (refuse) {
        // Not carried out; the checksum field does not confirm the packet.
        put32(&ans[8], errorCode);
        return Outcome::Answer;
    }

    KeyboardState &state = *m_state;
    switch (command) {
    case kLoaderUpdateAprom:
        state.loaderFlash.clear();
        state.loaderErased = true;
        state.loaderImageLength = le32(&req[12]);
        program(state, &req[16], 48);
        break;
    case kLoaderWriteFlash:
        if (state.loaderErased)
            program(state, &req[8], 56);
        break;
    case kLoaderRun: {
        const bool complete =
            state.loaderErased && uint32_t(state.loaderFlash.size()) == state.loaderImageLength;
        if (stay || !complete)
            break; // answered below; the loader keeps waiting
        const Personality back = state.returnPersonality == Personality::BootLoader
                                     ? Personality::DualMode
                                     : state.returnPersonality;
        const int version = firmwareImageVersion(state.loaderFlash);
        if (version >= 0)
            m_bus->firmwareHandOver[{int(back), m_index}] = uint16_t(version);
        m_bus->leave(this);
        m_bus->appearLater(back, m_index, back, m_bus->bootLoaderDelay());
        return Outcome::Silent;
    }
    case kLoaderSync:
    default:
        break;
    }

    put16(&ans[0], byteSum(req));
    const Frame right = ans;
    if (wrongChecksum)
        put16(&ans[0], uint16_t(byteSum(req) + 1));
    if (sameNumber)
        put32(&ans[4], number);
    if (stale)
        ans = state.loaderLastAnswer;
    if (thenAnswer && ans != right) {
        // The faulty answer goes out now, the right one right behind it.
        m_bus->deliver(this, nullptr, ans, Clock::now() + 2 * m_bus->latency());
        ans = right;
    }
    state.loaderLastAnswer = right;
    return Outcome::Answer;
}

void Keyboard::injectLoaderFault(const LoaderFault &fault)
{
    auto l = lock();
    if (fault.count != 0)
        m_loaderFaults.push_back(fault);
}

QByteArray Keyboard::loaderImage() const
{
    auto l = lock();
    return m_traits.loader ? m_state->loaderFlash : QByteArray();
}

uint32_t Keyboard::loaderAnnouncedLength() const
{
    auto l = lock();
    return m_traits.loader ? m_state->loaderImageLength : 0;
}

void Keyboard::setBootLoaderAppears(bool appears)
{
    auto l = lock();
    m_state->loaderAppears = appears;
}

} // namespace sim

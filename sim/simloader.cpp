// Firmware-update side of the simulated keyboard.
//
// The USB boot loader: a keyboard told to enter its loader (0x10/0x00) leaves
// the bus and, after SimBus::setBootLoaderDelayMs, a Personality::BootLoader
// device with the same index appears (vendor 0x0416, product 0xA316, interface
// 0). Every frame written to it comes to handleLoaderFrame(). The loader does
// not speak its protocol yet: it records the frames and stays silent. To go
// back to the application it calls
//     m_bus->leave(this);
//     m_bus->appearLater(m_state->returnPersonality, m_index, m_personality, delay);
// and the keyboard comes back with its stored state.
//
// The Bluetooth module update (0xB0/0xDF) runs through the normal interface of
// a keyboard with Bluetooth; handleBtUpdate() acknowledges it: answer byte 8 =
// the operation code, byte 9 = 1 (done), byte 12 = error code (0 = none; 1 =
// unknown operation, 2 = bad chunk checksum).

#include "simkeyboard_p.h"

namespace sim {

Keyboard::Outcome Keyboard::handleLoaderFrame(const Frame &req, Frame &ans)
{
    Q_UNUSED(req);
    Q_UNUSED(ans);
    return Outcome::Silent;
}

Keyboard::Outcome Keyboard::handleBtUpdate(const Frame &req, Frame &ans)
{
    const uint8_t op = req[8];
    ans[8] = op;
    setLength(ans, 16);
    switch (op) {
    case 0x08: // application -> boot loader
    case 0x81: // erase application area
    case 0x82: // erase soft-device area
    case 0x85: // boot loader -> application
        ans[9] = 1;
        break;
    case 0x83:   // application chunk
    case 0x84: { // soft-device chunk: byte 2 is the low byte of the sum with byte 2 = 0
        unsigned sum = 0;
        for (int i = 8; i < 64; ++i)
            sum += i == 10 ? 0u : req[size_t(i)];
        ans[9] = 1;
        ans[12] = uint8_t(sum & 0xFF) == req[10] ? 0 : 2;
        break;
    }
    default:
        ans[9] = 0;
        ans[12] = 1;
        break;
    }
    return Outcome::Answer;
}

} // namespace sim

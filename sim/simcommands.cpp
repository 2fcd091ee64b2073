// Command handlers of the simulated keyboard: device information (0x10), key
// codes (0x20), key colours (0x30), lighting (0x60) and Bluetooth/power (0xB0).
//
// Every answer echoes the command at byte 0 and the sub-command at byte 1 and
// carries its payload length at bytes 2-3 and its payload from byte 8. "Set"
// answers carry a 32-bit status at bytes 8-11 (kSimStatus* in simbus.h). Range
// answers (get/set of key codes, colours and mode entries) echo map, first and
// last key: a get at bytes 8, 9, 10 followed by the entries from byte 12, a set
// at bytes 12, 13, 14 after the status (the T88 answers colour and mode writes
// with the request echoed back instead). Requests whose length field does not
// fit the command are refused with kSimStatusBadLength.

#include "simkeyboard_p.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

uint16_t lengthOf(const Frame &req)
{
    return le16(&req[2]);
}

void putBytes(Frame &ans, int at, const QByteArray &bytes, int size)
{
    const int n = std::min(int(bytes.size()), size);
    if (n > 0)
        std::memcpy(&ans[size_t(at)], bytes.constData(), size_t(n));
}

// Get of entries first..last of one map; `entrySize` bytes per entry.
void rangeGet(const Frame &req, Frame &ans, const std::vector<QByteArray> &maps, int entryCount,
              int entrySize)
{
    if (lengthOf(req) != 4) {
        setStatus(ans, kSimStatusBadLength);
        return;
    }
    const int map = req[8], first = req[9], last = req[10];
    const int count = last - first + 1;
    if (map >= int(maps.size()) || first > last || last >= entryCount ||
        4 + count * entrySize > 56) {
        setStatus(ans, kSimStatusOutOfRange);
        return;
    }
    ans[8] = uint8_t(map);
    ans[9] = uint8_t(first);
    ans[10] = uint8_t(last);
    putBytes(ans, 12, maps[size_t(map)].mid(first * entrySize, count * entrySize),
             count * entrySize);
    setLength(ans, uint16_t(4 + count * entrySize));
}

// Set of entries first..last of one map from the request's payload byte 4 on.
void rangeSet(const Frame &req, Frame &ans, std::vector<QByteArray> &maps, int entryCount,
              int entrySize)
{
    const int map = req[8], first = req[9], last = req[10];
    const int count = last - first + 1;
    if (count < 1 || map >= int(maps.size()) || last >= entryCount) {
        setStatus(ans, kSimStatusOutOfRange);
        return;
    }
    if (lengthOf(req) != 4 + count * entrySize) {
        setStatus(ans, kSimStatusBadLength);
        return;
    }
    std::memcpy(maps[size_t(map)].data() + first * entrySize, &req[12], size_t(count * entrySize));
    setStatus(ans, kSimStatusOk, 8);
    ans[12] = uint8_t(map);
    ans[13] = uint8_t(first);
    ans[14] = uint8_t(last);
}

// Selects the current map of a group.
void setCurrent(const Frame &req, Frame &ans, int &current, size_t count)
{
    if (lengthOf(req) != 1) {
        setStatus(ans, kSimStatusBadLength);
        return;
    }
    if (req[8] >= count) {
        setStatus(ans, kSimStatusOutOfRange);
        return;
    }
    current = req[8];
    setStatus(ans, kSimStatusOk);
}

// A colour or mode write answered the way some firmware does: the request
// frame comes back as it was sent (the write itself is carried out).
void echoRequest(const Frame &req, Frame &ans)
{
    ans = req;
}

// What a keyboard without lighting answers to the groups 0x30 and 0x60.
void errorFrame(const Frame &req, Frame &ans)
{
    ans[0] = kSimErrorFrame;
    ans[1] = req[1];
    setStatus(ans, kSimStatusUnknownCommand, 5);
    ans[12] = req[0];
}

} // namespace

Keyboard::Outcome Keyboard::handleDevice(const Frame &req, Frame &ans)
{
    KeyboardState &s = *m_state;
    const uint16_t length = lengthOf(req);
    switch (req[1]) {
    case 0x00: // enter the boot loader: not answered
        return Outcome::EnterLoader;
    case 0x10: // device information
        put32(&ans[8], s.infoWord0);
        put32(&ans[12], s.infoWord1);
        putBytes(ans, 16, s.infoText, 16);
        putBytes(ans, 32, s.productName, 16);
        setLength(ans, 40);
        break;
    case 0x11: // versions and release date
        put16(&ans[8], s.firmwareVersion);
        put16(&ans[10], s.hardwareVersion);
        putBytes(ans, 12, s.releaseDate, 16);
        setLength(ans, 20);
        break;
    case 0x20:
        put16(&ans[8], s.scanSpeed);
        setLength(ans, 2);
        break;
    case 0x21:
        if (length != 2)
            setStatus(ans, kSimStatusBadLength);
        else if (le16(&req[8]) == 0)
            setStatus(ans, kSimStatusBadParameter);
        else {
            s.scanSpeed = le16(&req[8]);
            setStatus(ans, kSimStatusOk);
        }
        break;
    case 0x30:
        putBytes(ans, 8, s.userInfo, 48);
        setLength(ans, 48);
        break;
    case 0x31:
        if (length != 48) {
            setStatus(ans, kSimStatusBadLength);
        } else {
            s.userInfo = QByteArray(reinterpret_cast<const char *>(&req[8]), 48);
            setStatus(ans, kSimStatusOk);
        }
        break;
    case 0x40:
        putBytes(ans, 8, s.deviceId, 12);
        setLength(ans, 12);
        break;
    case 0x50:
        ans[8] = s.nKey;
        setLength(ans, 1);
        break;
    case 0x51: // 0 = six-key rollover, 1 = N-key rollover
        if (length != 1)
            setStatus(ans, kSimStatusBadLength);
        else if (req[8] > 1)
            setStatus(ans, kSimStatusBadParameter);
        else {
            s.nKey = req[8];
            setStatus(ans, kSimStatusOk);
        }
        break;
    case 0x60: // factory reset: everything but the identity and the firmware
        fillDefaults(s, m_personality, m_index, false);
        m_liveReport.fill(0);
        setStatus(ans, kSimStatusOk);
        break;
    default:
        setStatus(ans, kSimStatusUnknownCommand);
        break;
    }
    return Outcome::Answer;
}

// Key codes (0x20) and key colours (0x30) share one shape: info, current
// map, select map, read a range, write a range of 4-byte entries per key.
Keyboard::Outcome Keyboard::handleKeyMaps(const Frame &req, Frame &ans,
                                          std::vector<QByteArray> &maps, int &current)
{
    switch (req[1]) {
    case 0x00:
        ans[8] = uint8_t(maps.size());
        ans[9] = uint8_t(m_traits.keyCount);
        setLength(ans, 2);
        break;
    case 0x01:
        ans[8] = uint8_t(current);
        setLength(ans, 1);
        break;
    case 0x02:
        setCurrent(req, ans, current, maps.size());
        break;
    case 0x10:
        rangeGet(req, ans, maps, m_traits.keyCount, 4);
        break;
    case 0x11:
        rangeSet(req, ans, maps, m_traits.keyCount, 4);
        break;
    default:
        setStatus(ans, kSimStatusUnknownCommand);
        break;
    }
    return Outcome::Answer;
}

Keyboard::Outcome Keyboard::handleKeyCodes(const Frame &req, Frame &ans)
{
    return handleKeyMaps(req, ans, m_state->keyMaps, m_state->curKeyMap);
}

Keyboard::Outcome Keyboard::handleColours(const Frame &req, Frame &ans)
{
    if (!m_traits.lighting) {
        errorFrame(req, ans);
        return Outcome::Answer;
    }
    const Outcome outcome = handleKeyMaps(req, ans, m_state->colourMaps, m_state->curColourMap);
    if (req[1] == 0x00 && m_state->reportedColourMaps >= 0)
        ans[8] = uint8_t(m_state->reportedColourMaps);
    if (m_traits.echoesLightingWrites && req[1] == 0x11)
        echoRequest(req, ans);
    return outcome;
}

Keyboard::Outcome Keyboard::handleLighting(const Frame &req, Frame &ans)
{
    if (!m_traits.lighting) {
        errorFrame(req, ans);
        return Outcome::Answer;
    }
    KeyboardState &s = *m_state;
    const int records = int(s.lightingRecords.size());
    switch (req[1]) {
    case 0x00:
        ans[8] = uint8_t(s.modeMaps.size());
        ans[9] = uint8_t(m_traits.keyCount);
        setLength(ans, 2);
        break;
    case 0x01:
        ans[8] = uint8_t(s.curModeMap);
        setLength(ans, 1);
        break;
    case 0x02:
        setCurrent(req, ans, s.curModeMap, s.modeMaps.size());
        break;
    case 0x03:
        rangeGet(req, ans, s.modeMaps, m_traits.keyCount, 1);
        break;
    case 0x04:
        rangeSet(req, ans, s.modeMaps, m_traits.keyCount, 1);
        if (m_traits.echoesLightingWrites)
            echoRequest(req, ans);
        break;
    case 0x20: // byte 8 = number of la_t records, byte 9 = record size
        ans[8] = uint8_t(records);
        ans[9] = 12;
        setLength(ans, 2);
        break;
    case 0x21:
        if (lengthOf(req) != 1) {
            setStatus(ans, kSimStatusBadLength);
        } else if (req[8] >= records) {
            setStatus(ans, kSimStatusOutOfRange);
        } else {
            putBytes(ans, 8, s.lightingRecords[req[8]], 12);
            setLength(ans, 12);
        }
        break;
    case 0x22: { // the record's own mode number (bits 0-5) says which one it is
        const int n = req[8] & 0x3F;
        if (lengthOf(req) != 12) {
            setStatus(ans, kSimStatusBadLength);
        } else if (n >= records) {
            setStatus(ans, kSimStatusOutOfRange);
        } else {
            s.lightingRecords[size_t(n)] = QByteArray(reinterpret_cast<const char *>(&req[8]), 12);
            setStatus(ans, kSimStatusOk);
        }
        break;
    }
    default:
        setStatus(ans, kSimStatusUnknownCommand);
        break;
    }
    return Outcome::Answer;
}

Keyboard::Outcome Keyboard::handleBluetooth(const Frame &req, Frame &ans)
{
    if (!m_traits.bluetooth)
        return Outcome::Silent; // a board without Bluetooth does not answer at all
    KeyboardState &s = *m_state;
    const uint16_t length = lengthOf(req);
    switch (req[1]) {
    case 0x10:
        putBytes(ans, 8, s.btName, 12);
        setLength(ans, 12);
        break;
    case 0x11:
        if (length != 12) {
            setStatus(ans, kSimStatusBadLength);
        } else {
            s.btName = QByteArray(reinterpret_cast<const char *>(&req[8]), 12);
            setStatus(ans, kSimStatusOk);
        }
        break;
    case 0x20:
        put32(&ans[8], s.sleepTime);
        setLength(ans, 4);
        break;
    case 0x21: { // 0 = never sleep; at most a day
        const uint32_t ms = le32(&req[8]);
        if (length != 4)
            setStatus(ans, kSimStatusBadLength);
        else if (ms > 24u * 3600u * 1000u)
            setStatus(ans, kSimStatusOutOfRange);
        else {
            s.sleepTime = ms;
            setStatus(ans, kSimStatusOk);
        }
        break;
    }
    case 0xDF:
        return handleBtModule(req, ans);
    default:
        setStatus(ans, kSimStatusUnknownCommand);
        break;
    }
    return Outcome::Answer;
}

} // namespace sim

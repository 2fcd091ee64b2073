// Command handlers of the simulated keyboard: key functions (0x40) and macros
// (0x50).
//
// Key functions: 0x40/0x00 answers byte 8 = number of kf_t entries and byte 9 =
// the number of trigger keys an entry holds (4). 0x40/0x10 answers 0x40, 0x10,
// length 56 and the entry. 0x40/0x20 stores the entry named by its id (byte 0
// bits 0-5).
//
// Macros: 0x50/0x00 answers byte 8 = number of slots, bytes 10-11 = frames per
// slot. Heads are read and written whole; a written head names its slot by its
// id (bits 0-5). Frames move in the selected slot: a read (0x30) answers with
// the start index in the argument field (bytes 4-5), the byte count in the
// length field and up to five frames from byte 8; a write (0x40) of n = 1..5
// frames stores them at the start index given in the argument and answers
// 0x50, 0x40, length 4, status 0 and the same start index in the argument; a
// write of no frames is the commit: its argument becomes the slot's frame count.

#include "simkeyboard_p.h"

#include <algorithm>
#include <cstring>

namespace sim {

namespace {

uint16_t lengthOf(const Frame &req)
{
    return le16(&req[2]);
}

QByteArray payload(const Frame &req, int size)
{
    return QByteArray(reinterpret_cast<const char *>(&req[8]), size);
}

} // namespace

Keyboard::Outcome Keyboard::handleKeyFunctions(const Frame &req, Frame &ans)
{
    KeyboardState &s = *m_state;
    const int count = int(s.keyFunctions.size());
    switch (req[1]) {
    case 0x00:
        ans[8] = uint8_t(count);
        ans[9] = 4;
        setLength(ans, 2);
        break;
    case 0x10:
        if (lengthOf(req) != 1) {
            setStatus(ans, kSimStatusBadLength);
        } else if (req[8] >= count) {
            setStatus(ans, kSimStatusOutOfRange);
        } else {
            std::memcpy(&ans[8], s.keyFunctions[req[8]].constData(), 56);
            setLength(ans, 56);
        }
        break;
    case 0x20: {
        const int id = req[8] & 0x3F;
        if (lengthOf(req) != 56) {
            setStatus(ans, kSimStatusBadLength);
        } else if (id >= count) {
            setStatus(ans, kSimStatusOutOfRange);
        } else {
            s.keyFunctions[size_t(id)] = payload(req, 56);
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

Keyboard::Outcome Keyboard::handleMacros(const Frame &req, Frame &ans)
{
    KeyboardState &s = *m_state;
    const int slots = int(s.macroHeads.size());
    const int capacity = m_traits.macroFrames;
    const uint16_t length = lengthOf(req);
    const uint16_t argument = le16(&req[4]);
    switch (req[1]) {
    case 0x00:
        ans[8] = uint8_t(slots);
        put16(&ans[10], uint16_t(capacity));
        setLength(ans, 4);
        break;
    case 0x01: // head of a slot
        if (length != 1) {
            setStatus(ans, kSimStatusBadLength);
        } else if (req[8] >= slots) {
            setStatus(ans, kSimStatusOutOfRange);
        } else {
            std::memcpy(&ans[8], s.macroHeads[req[8]].constData(), 24);
            setLength(ans, 24);
        }
        break;
    case 0x02: { // write a head; its id says which slot
        const int slot = req[8] & 0x3F;
        if (length != 24) {
            setStatus(ans, kSimStatusBadLength);
        } else if (slot >= slots) {
            setStatus(ans, kSimStatusOutOfRange);
        } else {
            QByteArray head = payload(req, 24);
            if (macroFrameCount(head) > capacity) {
                setStatus(ans, kSimStatusOutOfRange);
                break;
            }
            s.macroHeads[size_t(slot)] = head;
            setStatus(ans, kSimStatusOk);
        }
        break;
    }
    case 0x03: // select the slot that frame transfers work on
        if (length != 1) {
            setStatus(ans, kSimStatusBadLength);
        } else if (req[8] >= slots) {
            setStatus(ans, kSimStatusOutOfRange);
        } else {
            s.selectedMacro = req[8];
            setStatus(ans, kSimStatusOk);
        }
        break;
    case 0x10: // recording on/off
        if (length != 1)
            setStatus(ans, kSimStatusBadLength);
        else if (req[8] > 1)
            setStatus(ans, kSimStatusBadParameter);
        else {
            s.recording = req[8] == 1;
            if (s.recording)
                m_liveReport.fill(0); // each recording starts from an empty report
            setStatus(ans, kSimStatusOk);
        }
        break;
    case 0x20: // play the selected macro on/off
        if (length != 1)
            setStatus(ans, kSimStatusBadLength);
        else if (req[8] > 1)
            setStatus(ans, kSimStatusBadParameter);
        else if (req[8] == 1 && s.selectedMacro < 0)
            setStatus(ans, kSimStatusBadState);
        else {
            s.playing = req[8] == 1;
            setStatus(ans, kSimStatusOk);
        }
        break;
    case 0x30: { // read up to five frames of the selected slot from `argument` on
        put16(&ans[4], argument);
        if (s.selectedMacro < 0) {
            put32(&ans[8], kSimStatusBadState); // length stays 0: no frames
            break;
        }
        const int count =
            std::min<int>(macroFrameCount(s.macroHeads[size_t(s.selectedMacro)]), capacity);
        const int n = std::clamp(count - int(argument), 0, 5);
        if (n > 0) {
            std::memcpy(&ans[8], s.macroFrames[size_t(s.selectedMacro)].constData() + argument * 10,
                        size_t(n * 10));
        }
        setLength(ans, uint16_t(n * 10));
        break;
    }
    case 0x40: { // write n frames at `argument`, or commit `argument` frames when n = 0
        put16(&ans[4], argument);
        const int n = length / 10;
        if (s.selectedMacro < 0) {
            setStatus(ans, kSimStatusBadState);
        } else if (length % 10 != 0 || n > 5) {
            setStatus(ans, kSimStatusBadLength);
        } else if (n == 0) {
            if (argument > capacity) {
                setStatus(ans, kSimStatusOutOfRange);
                break;
            }
            QByteArray &frames = s.macroFrames[size_t(s.selectedMacro)];
            std::memset(frames.data() + argument * 10, 0, size_t((capacity - argument) * 10));
            setMacroFrameCount(s.macroHeads[size_t(s.selectedMacro)], argument);
            setStatus(ans, kSimStatusOk);
        } else if (argument + n > capacity) {
            setStatus(ans, kSimStatusOutOfRange);
        } else {
            std::memcpy(s.macroFrames[size_t(s.selectedMacro)].data() + argument * 10, &req[8],
                        size_t(n * 10));
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

} // namespace sim

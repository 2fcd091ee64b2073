#pragma once

// Conversion between the editor's key events (DataKey) and the keyboard's
// macro frames (mframe_t: a delay and one 8-byte HID keyboard report).
//
// Encoding: each event with a delay opens a frame that starts as a copy of
// the one before; events with delay 0 join the current frame. Two cases
// would make a change vanish inside one frame (a key pressed and released,
// or released and pressed again, in the same report): such an event opens
// its own frame after kSameKeySpacingMs instead, the spacing the editor puts
// between neighbouring events of one key.
//
// Decoding compares each report with the one before: modifier changes, then
// released keys, then pressed keys; the frame's delay goes to the first event
// it makes. The delay of a frame that changes nothing is added to the next
// event's delay (at most 65535), and a pause left after the last change
// becomes a pair of empty events, so a round trip keeps the macro's time.

#include "device/protocol.h"
#include "device/wirerecords.h"
#include "macro/datakey.h"

#include <QVector>

#include <bitset>
#include <cstdint>

namespace MacroCodec {

// Frames the keyboard stores per macro (and the device model holds).
constexpr int kMaxFrames = wk::kMacroFrameCapacity;
// Minimal spacing of two changes of one key, as the editor's same-key rule.
constexpr uint16_t kSameKeySpacingMs = 20;
// key2mframe: the macro needs more frames than the caller offered.
constexpr int kTooManyFrames = -1;

// Applies one event to a frame; -1 when the event is not a keyboard key (the
// frame is unchanged), else 0.
int fillFrame(const DataKey &event, mframe_t *frame);

// Builds frames one event at a time; key2mframe, framesNeeded and the
// timeline (for appends) share it.
class FrameBuilder
{
public:
    void reset();
    // Applies the next event; true when it opened a new frame.
    bool add(const DataKey &event);
    int frameCount() const { return m_count; }
    // The frame the last event went into (all zero before the first event).
    const mframe_t &current() const { return m_frame; }

private:
    bool held(uint16_t code) const;
    bool vanishes(const DataKey &event) const;

    mframe_t m_frame{};
    int m_count = 0;
    std::bitset<256> m_pressedHere;  // codes pressed within the current frame
    std::bitset<256> m_releasedHere; // codes released within the current frame
};

// Frames the events make; nothing is written or logged.
int framesNeeded(const QVector<DataKey> &events);

// Encodes the events into `frames`, of which `capacity` exist. Returns the
// number of frames, or kTooManyFrames when more than `capacity` are needed;
// then nothing is written. The first `capacity` frames are zero-filled before
// encoding; nothing past them is ever touched.
int key2mframe(const QVector<DataKey> &events, mframe_t *frames, int capacity);

// Decodes the first `count` frames (the head's frame count) into events
// appended to `out`, reading no more than the `held` frames that exist.
// Returns the number of frames decoded.
int parserFrame(int count, const mframe_t *frames, int held, QVector<DataKey> *out);

// Frames the keyboard reports one at a time while it records. The previous
// report lives from reset() (at each start of a recording) to the next one.
class LiveDecoder
{
public:
    void reset();
    // Events of one reported frame, in order; none when it changes nothing
    // (its delay then goes to the next event).
    QVector<DataKey> feed(const mframe_t &frame);
    // The same from the notification bytes; fewer than 10 bytes give nothing.
    QVector<DataKey> feed(const uint8_t *bytes, int size);
    // Delay carried from frames that changed nothing, not yet given to an event.
    uint16_t pending() const { return m_pending; }

private:
    uint8_t m_previous[8] = {};
    uint16_t m_pending = 0;
};

} // namespace MacroCodec

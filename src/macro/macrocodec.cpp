// Macro events <-> macro frames.

#include "macro/macrocodec.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

namespace MacroCodec {

namespace {

constexpr int kSlots = 6;
constexpr int kReportBytes = 8; // bytes 2..9 of a frame

bool inSlots(const uint8_t *row, int n, uint8_t code)
{
    return std::find(row, row + n, code) != row + n;
}

void logFrame(const char *format, int index, const mframe_t &f)
{
    const uint8_t *r = &f.modifiers;
    qDebug(format, index, f.ts(), r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7]);
}

// One frame against the report before it: modifier changes, released keys,
// pressed keys. The first event made takes the delay gathered so far.
void decodeReport(uint8_t *previous, const mframe_t &frame, uint16_t *pending,
                  QVector<DataKey> *out)
{
    *pending = static_cast<uint16_t>(
        std::min<uint32_t>(uint32_t(*pending) + frame.ts(), DataKey::kMaxDelay));
    uint8_t now[kReportBytes];
    std::memcpy(now, &frame.modifiers, kReportBytes);
    const int first = out->size();
    auto add = [out](int32_t status, uint16_t code) {
        DataKey k(status);
        k.code = code;
        k.type = 1;
        out->append(k);
    };

    if (now[0] != previous[0]) {
        for (int b = 0; b < 8; ++b) {
            const bool before = previous[0] & (1u << b);
            const bool after = now[0] & (1u << b);
            if (before != after)
                add(after ? DataKey::kDown : DataKey::kUp, uint16_t(DataKey::kFirstModifier + b));
        }
    }
    // A code repeated in the slots of one report counts once.
    const uint8_t *was = previous + 2;
    const uint8_t *is = now + 2;
    for (int s = 0; s < kSlots; ++s) {
        if (was[s] != 0 && !inSlots(was, s, was[s]) && !inSlots(is, kSlots, was[s]))
            add(DataKey::kUp, was[s]);
    }
    for (int s = 0; s < kSlots; ++s) {
        if (is[s] != 0 && !inSlots(is, s, is[s]) && !inSlots(was, kSlots, is[s]))
            add(DataKey::kDown, is[s]);
    }
    if (out->size() > first) {
        (*out)[first].delay = *pending;
        *pending = 0;
    }
    std::memcpy(previous, now, kReportBytes);
}

} // namespace

int fillFrame(const DataKey &event, mframe_t *frame)
{
    if (!frame || !event.isKeyboardKey())
        return -1;
    const uint16_t code = event.code;
    if (code > DataKey::kLastSlotCode) {
        if (code <= DataKey::kLastModifier) {
            const uint8_t bit = uint8_t(1u << (code - DataKey::kFirstModifier));
            frame->modifiers =
                event.isDown() ? (frame->modifiers | bit) : (frame->modifiers & ~bit);
        }
        return 0;
    }
    if (code == 0)
        return 0;
    const uint8_t c = static_cast<uint8_t>(code);
    if (event.isDown()) {
        if (inSlots(frame->keys, kSlots, c))
            return 0;
        uint8_t *free = std::find(frame->keys, frame->keys + kSlots, uint8_t(0));
        if (free != frame->keys + kSlots)
            *free = c; // a seventh key is dropped
        return 0;
    }
    std::replace(frame->keys, frame->keys + kSlots, c, uint8_t(0));
    return 0;
}

void FrameBuilder::reset()
{
    m_frame = mframe_t{};
    m_count = 0;
    m_pressedHere.reset();
    m_releasedHere.reset();
}

bool FrameBuilder::held(uint16_t code) const
{
    if (code >= DataKey::kFirstModifier && code <= DataKey::kLastModifier)
        return m_frame.modifiers & (1u << (code - DataKey::kFirstModifier));
    return code != 0 && code <= DataKey::kLastSlotCode &&
           inSlots(m_frame.keys, kSlots, static_cast<uint8_t>(code));
}

// Would the event undo, inside the current frame, a change made in it?
bool FrameBuilder::vanishes(const DataKey &event) const
{
    if (!event.isKeyboardKey() || event.code == 0 || event.code > DataKey::kLastModifier)
        return false;
    if (event.isDown())
        return m_releasedHere.test(event.code) && !held(event.code);
    return m_pressedHere.test(event.code) && held(event.code);
}

bool FrameBuilder::add(const DataKey &event)
{
    bool open = m_count == 0 || event.delay != 0;
    uint16_t ts = event.delay;
    if (!open && vanishes(event)) {
        open = true;
        ts = kSameKeySpacingMs;
    }
    if (open) {
        // The new frame starts as a copy of the current one.
        m_frame.setTs(ts);
        ++m_count;
        m_pressedHere.reset();
        m_releasedHere.reset();
    }
    const bool tracked = event.isKeyboardKey() && event.code <= DataKey::kLastModifier;
    const bool before = tracked && held(event.code);
    fillFrame(event, &m_frame);
    if (tracked) {
        const bool after = held(event.code);
        if (!before && after)
            m_pressedHere.set(event.code);
        else if (before && !after)
            m_releasedHere.set(event.code);
    }
    return open;
}

int framesNeeded(const QVector<DataKey> &events)
{
    FrameBuilder builder;
    for (const DataKey &e : events)
        builder.add(e);
    return builder.frameCount();
}

int key2mframe(const QVector<DataKey> &events, mframe_t *frames, int capacity)
{
    if (events.isEmpty())
        return 0;
    capacity = frames ? std::max(capacity, 0) : 0;
    const int needed = framesNeeded(events);
    if (needed > capacity) {
        qWarning("macro needs %d frames; only %d fit, nothing encoded", needed, capacity);
        return kTooManyFrames;
    }
    std::memset(static_cast<void *>(frames), 0, sizeof(mframe_t) * size_t(capacity));
    FrameBuilder builder;
    for (const DataKey &e : events) {
        builder.add(e);
        const int index = builder.frameCount() - 1;
        frames[index] = builder.current();
        logFrame("indey=%04d ts=%08d [%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x]", index,
                 frames[index]);
    }
    qDebug() << "fi=" << builder.frameCount() - 1;
    return builder.frameCount();
}

int parserFrame(int count, const mframe_t *frames, int held, QVector<DataKey> *out)
{
    if (!out)
        return 0;
    const int n = frames ? std::max(0, std::min(count, held)) : 0;
    if (count > n)
        qWarning("macro claims %d frames; %d are held, only those are decoded", count, n);
    uint8_t previous[kReportBytes] = {};
    uint16_t pending = 0;
    for (int i = 0; i < n; ++i) {
        logFrame("index=%04d ts=%08d [%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x]", i, frames[i]);
        decodeReport(previous, frames[i], &pending, out);
    }
    if (pending > 0) {
        // A pause after the last change: an empty pair keeps it in the editor
        // and encodes back to a pause frame.
        out->append(DataKey(DataKey::kDown, pending, 0, 0, 0));
        out->append(DataKey(DataKey::kUp, 0, 0, 0, 0));
    }
    return n;
}

void LiveDecoder::reset()
{
    std::memset(m_previous, 0, sizeof m_previous);
    m_pending = 0;
}

QVector<DataKey> LiveDecoder::feed(const mframe_t &frame)
{
    const uint8_t *r = &frame.modifiers;
    qDebug("RECV ts=%08d [%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x]", frame.ts(), r[0], r[1], r[2],
           r[3], r[4], r[5], r[6], r[7]);
    QVector<DataKey> events;
    decodeReport(m_previous, frame, &m_pending, &events);
    return events;
}

QVector<DataKey> LiveDecoder::feed(const uint8_t *bytes, int size)
{
    if (!bytes || size < int(sizeof(mframe_t))) {
        qWarning("recorded frame of %d bytes ignored", bytes ? size : 0);
        return {};
    }
    mframe_t frame;
    std::memcpy(&frame, bytes, sizeof frame);
    return feed(frame);
}

} // namespace MacroCodec

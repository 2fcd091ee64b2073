#pragma once

// Records exchanged with the keyboard, byte for byte as they travel in the
// command payloads. Every record is a plain array of bytes (alignment 1, no
// padding) so that it can be copied to and from a frame with memcpy; the
// little-endian multi-byte fields and the bit fields are reached through
// accessors, which keep every bit they do not own.

#include "device/protocol.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace wk {

// Bits [shift, shift + width) of a little-endian word of 2 or 4 bytes.
inline uint32_t bitsOf(uint32_t word, int shift, int width)
{
    return (word >> shift) & ((width >= 32) ? 0xFFFFFFFFu : ((1u << width) - 1u));
}
inline uint32_t withBits(uint32_t word, int shift, int width, uint32_t value)
{
    const uint32_t mask = ((width >= 32) ? 0xFFFFFFFFu : ((1u << width) - 1u)) << shift;
    return (word & ~mask) | ((value << shift) & mask);
}

} // namespace wk

// Key-code entry (4 bytes). Byte 0: bit 0 lock, bits 1-3 type, bits 4-7
// subtype; bytes 1-2 code (little-endian); byte 3 kept as read.
struct kc_t
{
    uint8_t attr;
    uint8_t codeBytes[2];
    uint8_t extra;

    bool lock() const { return attr & 0x01; }
    void setLock(bool on) { attr = static_cast<uint8_t>(on ? (attr | 0x01) : (attr & ~0x01)); }
    uint8_t type() const { return (attr >> 1) & 0x07; }
    void setType(uint8_t t) { attr = static_cast<uint8_t>((attr & ~0x0E) | ((t & 0x07) << 1)); }
    uint8_t stype() const { return (attr >> 4) & 0x0F; }
    void setStype(uint8_t s) { attr = static_cast<uint8_t>((attr & 0x0F) | ((s & 0x0F) << 4)); }
    uint16_t code() const { return wk::le16(codeBytes); }
    void setCode(uint16_t c) { wk::putLe16(codeBytes, c); }
    // Same key as another entry: type, subtype and code equal (lock and byte 3 ignored).
    bool sameKey(const kc_t &o) const
    {
        return type() == o.type() && stype() == o.stype() && code() == o.code();
    }
};

// Lighting-mode record (12 bytes).
struct la_t
{
    uint8_t word0[4];
    uint8_t word1[4];
    uint8_t highestDelayBytes[2];
    uint8_t periodDelayBytes[2];

    uint32_t w0() const { return wk::le32(word0); }
    uint32_t w1() const { return wk::le32(word1); }
    void setW0(int shift, int width, uint32_t v)
    {
        wk::putLe32(word0, wk::withBits(w0(), shift, width, v));
    }
    void setW1(int shift, int width, uint32_t v)
    {
        wk::putLe32(word1, wk::withBits(w1(), shift, width, v));
    }

    uint8_t modeNumber() const { return wk::bitsOf(w0(), 0, 6); }
    void setModeNumber(uint8_t v) { setW0(0, 6, v); }
    uint8_t effect() const { return wk::bitsOf(w0(), 6, 4); }
    void setEffect(uint8_t v) { setW0(6, 4, v); }
    bool cycleFlag() const { return wk::bitsOf(w0(), 10, 1); }
    void setCycleFlag(bool v) { setW0(10, 1, v); }
    bool colourRandom() const { return wk::bitsOf(w0(), 11, 1); }
    void setColourRandom(bool v) { setW0(11, 1, v); }
    bool randomColourOnPress() const { return wk::bitsOf(w0(), 12, 1); }
    void setRandomColourOnPress(bool v) { setW0(12, 1, v); }
    // 0 = low to high ("L2H"), 1 = high to low ("H2L").
    bool brightnessDirection() const { return wk::bitsOf(w0(), 13, 1); }
    void setBrightnessDirection(bool v) { setW0(13, 1, v); }
    uint8_t highestLevel() const { return wk::bitsOf(w0(), 14, 6); }
    void setHighestLevel(uint8_t v) { setW0(14, 6, v); }
    uint8_t lowestLevel() const { return wk::bitsOf(w0(), 20, 6); }
    void setLowestLevel(uint8_t v) { setW0(20, 6, v); }
    uint8_t levelStep() const { return wk::bitsOf(w0(), 26, 6); }
    void setLevelStep(uint8_t v) { setW0(26, 6, v); }
    uint16_t totalPeriodTimes() const { return wk::bitsOf(w1(), 0, 10); }
    void setTotalPeriodTimes(uint16_t v) { setW1(0, 10, v); }
    uint16_t levelDelay() const { return wk::bitsOf(w1(), 10, 10); }
    void setLevelDelay(uint16_t v) { setW1(10, 10, v); }
    uint16_t highestDelay() const { return wk::le16(highestDelayBytes); }
    void setHighestDelay(uint16_t v) { wk::putLe16(highestDelayBytes, v); }
    uint16_t periodDelay() const { return wk::le16(periodDelayBytes); }
    void setPeriodDelay(uint16_t v) { wk::putLe16(periodDelayBytes, v); }
};

// Key-function record (56 bytes).
struct kf_t
{
    uint8_t head[4];    // id, in-use bit, function number, key count, layer mask
    kc_t keys[4];       // trigger keys
    uint8_t params[36]; // two 32-bit parameters, or nine keys (bytes 20-55)

    static constexpr int kTriggerKeys = 4;
    static constexpr int kListKeys = 9;

    uint16_t w01() const { return wk::le16(head); }
    uint16_t w23() const { return wk::le16(head + 2); }
    void setW01(int shift, int width, uint32_t v)
    {
        wk::putLe16(head, static_cast<uint16_t>(wk::withBits(w01(), shift, width, v)));
    }
    void setW23(int shift, int width, uint32_t v)
    {
        wk::putLe16(head + 2, static_cast<uint16_t>(wk::withBits(w23(), shift, width, v)));
    }

    uint8_t id() const { return head[0] & 0x3F; }
    bool inUse() const { return head[0] & 0x40; }
    void setInUse(bool v) { setW01(6, 1, v); }
    uint8_t hi() const { return wk::bitsOf(w01(), 7, 6); }
    void setHi(uint8_t v) { setW01(7, 6, v); }
    uint8_t keyCount() const { return head[2] & 0x07; }
    void setKeyCount(uint8_t v) { setW23(0, 3, v); }
    bool hostFlag() const { return head[2] & 0x08; } // byte 2 bit 3
    void setHostFlag(bool v) { setW23(3, 1, v); }
    uint8_t layerMask() const { return wk::bitsOf(w23(), 4, 8); }
    void setLayerMask(uint8_t v) { setW23(4, 8, v); }

    uint32_t param1() const { return wk::le32(params); }
    void setParam1(uint32_t v) { wk::putLe32(params, v); }
    uint32_t param2() const { return wk::le32(params + 4); }
    void setParam2(uint32_t v) { wk::putLe32(params + 4, v); }

    // The nine keys of a key-list function (bytes 20-55), i = 0..8.
    kc_t listKey(int i) const
    {
        kc_t k{};
        if (i >= 0 && i < kListKeys)
            std::memcpy(&k, params + 4 * i, sizeof k);
        return k;
    }
    void setListKey(int i, const kc_t &k)
    {
        if (i >= 0 && i < kListKeys)
            std::memcpy(params + 4 * i, &k, sizeof k);
    }
};

// Macro head (24 bytes).
struct km_t
{
    uint8_t word0[4];
    uint8_t reserved[4];
    char name[16]; // local 8-bit encoding, NUL-padded; 16 bytes have no terminator

    static constexpr int kNameSize = 16;
    static constexpr uint16_t kMaxFrameCount = 1023;

    uint32_t w0() const { return wk::le32(word0); }
    void setW0(int shift, int width, uint32_t v)
    {
        wk::putLe32(word0, wk::withBits(w0(), shift, width, v));
    }
    uint8_t id() const { return wk::bitsOf(w0(), 0, 6); }
    void setId(uint8_t v) { setW0(0, 6, v); }
    bool used() const { return wk::bitsOf(w0(), 6, 1); }
    void setUsed(bool v) { setW0(6, 1, v); }
    uint16_t frameCount() const { return wk::bitsOf(w0(), 7, 10); }
    void setFrameCount(uint16_t v) { setW0(7, 10, v); }
};

// Macro frame (10 bytes): a delay and one 8-byte HID boot keyboard report.
struct mframe_t
{
    uint8_t tsBytes[2];
    uint8_t modifiers;
    uint8_t reserved;
    uint8_t keys[6];

    uint16_t ts() const { return wk::le16(tsBytes); }
    void setTs(uint16_t v) { wk::putLe16(tsBytes, v); }
};

static_assert(sizeof(kc_t) == 4, "kc_t is 4 bytes on the wire");
static_assert(sizeof(la_t) == 12, "la_t is 12 bytes on the wire");
static_assert(sizeof(kf_t) == 56, "kf_t is 56 bytes on the wire");
static_assert(sizeof(km_t) == 24, "km_t is 24 bytes on the wire");
static_assert(sizeof(mframe_t) == 10, "mframe_t is 10 bytes on the wire");
static_assert(alignof(kc_t) == 1 && alignof(la_t) == 1 && alignof(kf_t) == 1 &&
                  alignof(km_t) == 1 && alignof(mframe_t) == 1,
              "wire records have no alignment requirement");
static_assert(std::is_trivially_copyable<kc_t>::value && std::is_trivially_copyable<la_t>::value &&
                  std::is_trivially_copyable<kf_t>::value &&
                  std::is_trivially_copyable<km_t>::value &&
                  std::is_trivially_copyable<mframe_t>::value,
              "wire records are copied with memcpy");
static_assert(std::is_standard_layout<kf_t>::value && std::is_standard_layout<km_t>::value,
              "wire records have a fixed layout");

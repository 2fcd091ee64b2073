#pragma once

#include <cstdint>

// One key event of a macro in the editor: which key goes down or up, and how
// long to wait before it. A plain value; the timeline keeps them in time order.
struct DataKey
{
    uint16_t delay = 0; // ms to wait before this event; 0 = together with the one before
    int32_t status = 0; // 1 = key down, 0 = key up
    uint16_t code = 0;  // key code; for keyboard keys the HID keyboard usage
    uint16_t stype = 0; // key subtype from the static key table
    uint16_t type = 0;  // key type from the static key table

    static constexpr int32_t kUp = 0;
    static constexpr int32_t kDown = 1;
    static constexpr uint16_t kMaxDelay = 65535;
    static constexpr uint16_t kFirstModifier = 0xE0; // left Ctrl
    static constexpr uint16_t kLastModifier = 0xE7;  // right GUI
    static constexpr uint16_t kLastSlotCode = 0xDF;  // highest code a key slot takes

    DataKey() = default;
    explicit DataKey(int32_t s) : status(s) {}
    DataKey(int32_t s, uint16_t d, uint16_t c, uint16_t t, uint16_t st)
        : delay(d), status(s), code(c), stype(st), type(t)
    {
    }

    // Any status other than 0 counts as a press (files may carry other values).
    bool isDown() const { return status != kUp; }
    // Same key: code, type and stype all equal (status and delay do not count).
    bool sameKey(const DataKey &o) const
    {
        return code == o.code && type == o.type && stype == o.stype;
    }
    // A key a HID keyboard report can hold: type 1, stype 0.
    bool isKeyboardKey() const { return type == 1 && stype == 0; }
    // One of the eight modifiers of the report's bitmap.
    bool isModifier() const
    {
        return isKeyboardKey() && code >= kFirstModifier && code <= kLastModifier;
    }
};

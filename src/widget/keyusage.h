#pragma once

#include "widget/keydesc.h"

#include <QVector>
#include <Qt>

#include <cstdint>

// From a key pressed on the computer's keyboard to the palette key that
// sends the same thing: "press a key to assign it".
//
// The physical key is taken from the native scan code where there is one:
// under X11 that is the X keycode, the Linux input event code plus 8. So a
// French keyboard's A key (where a US keyboard has Q) gives the Q usage, the
// code a keyboard sends for that position, and the keys on either side are
// told apart (Left and Right Ctrl, the keypad's Enter). Without a scan code,
// or for a keycode we do not know, the Qt key is used, read as on a US
// keyboard; it cannot tell left from right and takes left.

// What a key event says about the key, as the widget passes it on from
// QKeyEvent: nativeScanCode(), key() and modifiers().
struct KeyPress
{
    quint32 nativeScanCode = 0; // X keycode; 0 when the platform gives none
    int key = 0;                // Qt::Key
    Qt::KeyboardModifiers modifiers = Qt::NoModifier;
};

// A key identity of the palette's classes: type 1 HID keyboard usages,
// type 2 stype 0 consumer usages, type 2 stype 1 system controls.
struct KeyUsage
{
    uint16_t type = 0; // 0: no usage known
    uint16_t stype = 0;
    uint16_t code = 0;

    bool isValid() const { return type != 0; }
    // One of the eight modifiers (keyboard usages 0xE0-0xE7).
    bool isModifier() const { return type == 1 && stype == 0 && code >= 0xE0 && code <= 0xE7; }
    bool operator==(const KeyUsage &o) const
    {
        return type == o.type && stype == o.stype && code == o.code;
    }
};

// Key identities by usage page: keyboard, consumer (media) and system control.
constexpr KeyUsage keyboardUsage(uint16_t usage)
{
    return {1, 0, usage};
}
constexpr KeyUsage consumerUsage(uint16_t usage)
{
    return {2, 0, usage};
}
constexpr KeyUsage systemUsage(uint16_t usage)
{
    return {2, 1, usage};
}

namespace KeyUsageMap {

// The usage of an X keycode (Linux input code + 8), or none.
KeyUsage fromX11Keycode(quint32 keycode);
// The usage of a Qt key on a US layout; Qt::KeypadModifier picks the keypad
// keys. None for keys we do not know.
KeyUsage fromQtKey(int key, Qt::KeyboardModifiers modifiers);
// The scan code's usage when it has one, else the Qt key's.
KeyUsage fromKeyPress(const KeyPress &press);

// The first palette key with this identity, or -1.
int paletteIndex(const QVector<KeyDesc> &palette, const KeyUsage &usage);

} // namespace KeyUsageMap

// What the page makes of a pressed key.
struct KeyPressMatch
{
    enum Kind
    {
        Key,          // a key of the palette: select it
        Modifier,     // a modifier, which the palette has: say so before assigning it
        NotInPalette, // a key we know that the palette cannot assign
        Unknown       // a key we cannot name
    };
    Kind kind = Unknown;
    KeyUsage usage;
    int paletteIndex = -1; // for Key and Modifier
    // Ctrl, Shift, Alt or Meta was held with a key that is none of them:
    // only the key itself is assigned (a key sends one code).
    bool modifiersIgnored = false;

    static KeyPressMatch match(const KeyPress &press, const QVector<KeyDesc> &palette);
};

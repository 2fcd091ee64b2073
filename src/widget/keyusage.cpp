#include "widget/keyusage.h"

#include <array>

namespace {

constexpr auto kb = keyboardUsage;
constexpr auto consumer = consumerUsage;
constexpr auto systemControl = systemUsage;

// An X keycode is the Linux input event code plus this.
constexpr quint32 kX11KeycodeOffset = 8;

struct InputCode
{
    uint16_t input; // Linux input event code (KEY_*)
    KeyUsage usage;
};

// Linux input event codes to the usages a keyboard sends for the same key:
// the keyboard page (0x07) for keys of the keyboard, the consumer page (0x0C)
// for media and application keys and the generic desktop system controls
// for power, sleep and wake. Keys with a usage on both pages (mute, volume,
// power) take the one keyboards send for them, the consumer or system one.
// clang-format off
constexpr InputCode kInputCodes[] = {
    {1, kb(0x29)},                                     // Esc
    {2, kb(0x1E)}, {3, kb(0x1F)}, {4, kb(0x20)}, {5, kb(0x21)}, {6, kb(0x22)},
    {7, kb(0x23)}, {8, kb(0x24)}, {9, kb(0x25)}, {10, kb(0x26)}, {11, kb(0x27)}, // 1..9, 0
    {12, kb(0x2D)}, {13, kb(0x2E)}, {14, kb(0x2A)}, {15, kb(0x2B)}, // - = Backspace Tab
    {16, kb(0x14)}, {17, kb(0x1A)}, {18, kb(0x08)}, {19, kb(0x15)}, {20, kb(0x17)}, // Q W E R T
    {21, kb(0x1C)}, {22, kb(0x18)}, {23, kb(0x0C)}, {24, kb(0x12)}, {25, kb(0x13)}, // Y U I O P
    {26, kb(0x2F)}, {27, kb(0x30)}, {28, kb(0x28)}, {29, kb(0xE0)}, // [ ] Enter LeftCtrl
    {30, kb(0x04)}, {31, kb(0x16)}, {32, kb(0x07)}, {33, kb(0x09)}, {34, kb(0x0A)}, // A S D F G
    {35, kb(0x0B)}, {36, kb(0x0D)}, {37, kb(0x0E)}, {38, kb(0x0F)},                 // H J K L
    {39, kb(0x33)}, {40, kb(0x34)}, {41, kb(0x35)}, {42, kb(0xE1)}, {43, kb(0x31)}, // ; ' ` LShift '\'
    {44, kb(0x1D)}, {45, kb(0x1B)}, {46, kb(0x06)}, {47, kb(0x19)}, {48, kb(0x05)}, // Z X C V B
    {49, kb(0x11)}, {50, kb(0x10)}, {51, kb(0x36)}, {52, kb(0x37)}, {53, kb(0x38)}, // N M , . /
    {54, kb(0xE5)}, {55, kb(0x55)}, {56, kb(0xE2)}, {57, kb(0x2C)}, {58, kb(0x39)}, // RShift Kp* LAlt Space Caps
    {59, kb(0x3A)}, {60, kb(0x3B)}, {61, kb(0x3C)}, {62, kb(0x3D)}, {63, kb(0x3E)}, // F1..F5
    {64, kb(0x3F)}, {65, kb(0x40)}, {66, kb(0x41)}, {67, kb(0x42)}, {68, kb(0x43)}, // F6..F10
    {69, kb(0x53)}, {70, kb(0x47)},                                                 // NumLock ScrollLock
    {71, kb(0x5F)}, {72, kb(0x60)}, {73, kb(0x61)}, {74, kb(0x56)},                 // Kp7 Kp8 Kp9 Kp-
    {75, kb(0x5C)}, {76, kb(0x5D)}, {77, kb(0x5E)}, {78, kb(0x57)},                 // Kp4 Kp5 Kp6 Kp+
    {79, kb(0x59)}, {80, kb(0x5A)}, {81, kb(0x5B)}, {82, kb(0x62)}, {83, kb(0x63)}, // Kp1 Kp2 Kp3 Kp0 Kp.
    {85, kb(0x94)},                                    // Zenkaku/Hankaku (LANG5)
    {86, kb(0x64)},                                    // the ISO key beside left Shift
    {87, kb(0x44)}, {88, kb(0x45)},                    // F11 F12
    {89, kb(0x87)},                                    // Ro (International 1)
    {90, kb(0x92)}, {91, kb(0x93)},                    // Katakana (LANG3), Hiragana (LANG4)
    {92, kb(0x8A)},                                    // Henkan (International 4)
    {93, kb(0x88)},                                    // Katakana/Hiragana (International 2)
    {94, kb(0x8B)},                                    // Muhenkan (International 5)
    {95, kb(0x8C)},                                    // keypad JP comma (International 6)
    {96, kb(0x58)}, {97, kb(0xE4)}, {98, kb(0x54)},    // KpEnter RightCtrl Kp/
    {99, kb(0x46)},                                    // SysRq / Print Screen
    {100, kb(0xE6)},                                   // RightAlt
    {102, kb(0x4A)}, {103, kb(0x52)}, {104, kb(0x4B)}, // Home Up PageUp
    {105, kb(0x50)}, {106, kb(0x4F)}, {107, kb(0x4D)}, // Left Right End
    {108, kb(0x51)}, {109, kb(0x4E)}, {110, kb(0x49)}, {111, kb(0x4C)}, // Down PageDown Insert Delete
    {113, consumer(0xE2)}, {114, consumer(0xEA)}, {115, consumer(0xE9)}, // Mute VolumeDown VolumeUp
    {116, systemControl(0x81)},                        // Power
    {117, kb(0x67)},                                   // Kp=
    {118, kb(0xD7)},                                   // Kp+/-
    {119, kb(0x48)},                                   // Pause
    {121, kb(0x85)},                                   // Kp, (keypad comma)
    {122, kb(0x90)}, {123, kb(0x91)},                  // Hangeul (LANG1), Hanja (LANG2)
    {124, kb(0x89)},                                   // Yen (International 3)
    {125, kb(0xE3)}, {126, kb(0xE7)},                  // LeftMeta RightMeta
    {127, kb(0x65)},                                   // Compose: the application (menu) key
    {128, kb(0x78)}, {129, kb(0x79)},                  // Stop Again
    {130, kb(0x76)},                                   // Props: keyboard Menu
    {131, kb(0x7A)},                                   // Undo
    {132, kb(0x77)},                                   // Front: keyboard Select
    {133, kb(0x7C)},                                   // Copy
    {134, kb(0x74)},                                   // Open: keyboard Execute
    {135, kb(0x7D)}, {136, kb(0x7E)}, {137, kb(0x7B)}, // Paste Find Cut
    {138, kb(0x75)},                                   // Help
    {139, kb(0x76)},                                   // Menu
    {140, consumer(0x192)},                            // Calc
    {142, systemControl(0x82)}, {143, systemControl(0x83)}, // Sleep WakeUp
    {144, consumer(0x194)},                            // File: the file browser
    {150, consumer(0x196)},                            // WWW: the internet browser
    {152, consumer(0x19E)},                            // ScreenLock
    {155, consumer(0x18A)},                            // Mail
    {156, consumer(0x22A)},                            // Bookmarks
    {157, consumer(0x194)},                            // Computer: the file browser
    {158, consumer(0x224)}, {159, consumer(0x225)},    // Back Forward
    {163, consumer(0xB5)}, {164, consumer(0xCD)},      // NextSong PlayPause
    {165, consumer(0xB6)}, {166, consumer(0xB7)},      // PreviousSong StopCD
    {167, consumer(0xB2)},                             // Record
    {168, consumer(0xB4)},                             // Rewind
    {171, consumer(0x183)},                            // Config: the media player
    {172, consumer(0x223)}, {173, consumer(0x227)},    // HomePage Refresh
    {183, kb(0x68)}, {184, kb(0x69)}, {185, kb(0x6A)}, {186, kb(0x6B)}, // F13..F16
    {187, kb(0x6C)}, {188, kb(0x6D)}, {189, kb(0x6E)}, {190, kb(0x6F)}, // F17..F20
    {191, kb(0x70)}, {192, kb(0x71)}, {193, kb(0x72)}, {194, kb(0x73)}, // F21..F24
    {200, consumer(0xB0)}, {201, consumer(0xB1)},      // PlayCD PauseCD
    {207, consumer(0xB0)},                             // Play
    {208, consumer(0xB3)},                             // FastForward
    {210, consumer(0x208)},                            // Print (a document)
    {215, consumer(0x18A)},                            // Email
    {217, consumer(0x221)},                            // Search
    {222, kb(0x99)},                                   // AltErase
    {223, kb(0x9B)},                                   // Cancel
    {224, consumer(0x70)}, {225, consumer(0x6F)},      // BrightnessDown BrightnessUp
    {226, consumer(0x183)},                            // Media: the media player
};
// clang-format on

// The table by X keycode.
const std::array<KeyUsage, 256> &x11Table()
{
    static const std::array<KeyUsage, 256> table = [] {
        std::array<KeyUsage, 256> t{};
        for (const InputCode &c : kInputCodes)
            t[c.input + kX11KeycodeOffset] = c.usage;
        return t;
    }();
    return table;
}

// Keys of the keypad as Qt reports them with Qt::KeypadModifier.
KeyUsage keypadKey(int key)
{
    switch (key) {
    case Qt::Key_0:
    case Qt::Key_Insert:
        return kb(0x62);
    case Qt::Key_1:
    case Qt::Key_End:
        return kb(0x59);
    case Qt::Key_2:
    case Qt::Key_Down:
        return kb(0x5A);
    case Qt::Key_3:
    case Qt::Key_PageDown:
        return kb(0x5B);
    case Qt::Key_4:
    case Qt::Key_Left:
        return kb(0x5C);
    case Qt::Key_5:
    case Qt::Key_Clear:
        return kb(0x5D);
    case Qt::Key_6:
    case Qt::Key_Right:
        return kb(0x5E);
    case Qt::Key_7:
    case Qt::Key_Home:
        return kb(0x5F);
    case Qt::Key_8:
    case Qt::Key_Up:
        return kb(0x60);
    case Qt::Key_9:
    case Qt::Key_PageUp:
        return kb(0x61);
    case Qt::Key_Period:
    case Qt::Key_Delete:
        return kb(0x63);
    case Qt::Key_Slash:
        return kb(0x54);
    case Qt::Key_Asterisk:
        return kb(0x55);
    case Qt::Key_Minus:
        return kb(0x56);
    case Qt::Key_Plus:
        return kb(0x57);
    case Qt::Key_Enter:
        return kb(0x58);
    case Qt::Key_Equal:
        return kb(0x67);
    case Qt::Key_Comma:
        return kb(0x85);
    default:
        return {};
    }
}

} // namespace

namespace KeyUsageMap {

KeyUsage fromX11Keycode(quint32 keycode)
{
    if (keycode >= x11Table().size())
        return {};
    return x11Table()[keycode];
}

KeyUsage fromQtKey(int key, Qt::KeyboardModifiers modifiers)
{
    if (modifiers & Qt::KeypadModifier) {
        const KeyUsage pad = keypadKey(key);
        if (pad.isValid())
            return pad;
    }
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
        // A..Z are usages 0x04..0x1D in alphabetical order.
        return kb(uint16_t(0x04 + (key - Qt::Key_A)));
    }
    if (key >= Qt::Key_1 && key <= Qt::Key_9)
        return kb(uint16_t(0x1E + (key - Qt::Key_1)));
    if (key >= Qt::Key_F1 && key <= Qt::Key_F12)
        return kb(uint16_t(0x3A + (key - Qt::Key_F1)));
    if (key >= Qt::Key_F13 && key <= Qt::Key_F24)
        return kb(uint16_t(0x68 + (key - Qt::Key_F13)));

    switch (key) {
    case Qt::Key_0:
        return kb(0x27);
    // The shifted symbols of the US number row and punctuation keys.
    case Qt::Key_Exclam:
        return kb(0x1E);
    case Qt::Key_At:
        return kb(0x1F);
    case Qt::Key_NumberSign:
        return kb(0x20);
    case Qt::Key_Dollar:
        return kb(0x21);
    case Qt::Key_Percent:
        return kb(0x22);
    case Qt::Key_AsciiCircum:
        return kb(0x23);
    case Qt::Key_Ampersand:
        return kb(0x24);
    case Qt::Key_Asterisk:
        return kb(0x25);
    case Qt::Key_ParenLeft:
        return kb(0x26);
    case Qt::Key_ParenRight:
        return kb(0x27);
    case Qt::Key_Return:
        return kb(0x28);
    case Qt::Key_Enter:
        return kb(0x58);
    case Qt::Key_Escape:
        return kb(0x29);
    case Qt::Key_Backspace:
        return kb(0x2A);
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return kb(0x2B);
    case Qt::Key_Space:
        return kb(0x2C);
    case Qt::Key_Minus:
    case Qt::Key_Underscore:
        return kb(0x2D);
    case Qt::Key_Equal:
    case Qt::Key_Plus:
        return kb(0x2E);
    case Qt::Key_BracketLeft:
    case Qt::Key_BraceLeft:
        return kb(0x2F);
    case Qt::Key_BracketRight:
    case Qt::Key_BraceRight:
        return kb(0x30);
    case Qt::Key_Backslash:
    case Qt::Key_Bar:
        return kb(0x31);
    case Qt::Key_Semicolon:
    case Qt::Key_Colon:
        return kb(0x33);
    case Qt::Key_Apostrophe:
    case Qt::Key_QuoteDbl:
        return kb(0x34);
    case Qt::Key_QuoteLeft:
    case Qt::Key_AsciiTilde:
        return kb(0x35);
    case Qt::Key_Comma:
    case Qt::Key_Less:
        return kb(0x36);
    case Qt::Key_Period:
    case Qt::Key_Greater:
        return kb(0x37);
    case Qt::Key_Slash:
    case Qt::Key_Question:
        return kb(0x38);
    case Qt::Key_CapsLock:
        return kb(0x39);
    case Qt::Key_Print:
        return kb(0x46);
    case Qt::Key_ScrollLock:
        return kb(0x47);
    case Qt::Key_Pause:
        return kb(0x48);
    case Qt::Key_Insert:
        return kb(0x49);
    case Qt::Key_Home:
        return kb(0x4A);
    case Qt::Key_PageUp:
        return kb(0x4B);
    case Qt::Key_Delete:
        return kb(0x4C);
    case Qt::Key_End:
        return kb(0x4D);
    case Qt::Key_PageDown:
        return kb(0x4E);
    case Qt::Key_Right:
        return kb(0x4F);
    case Qt::Key_Left:
        return kb(0x50);
    case Qt::Key_Down:
        return kb(0x51);
    case Qt::Key_Up:
        return kb(0x52);
    case Qt::Key_NumLock:
        return kb(0x53);
    case Qt::Key_Menu:
        return kb(0x65);
    case Qt::Key_Execute:
        return kb(0x74);
    case Qt::Key_Help:
        return kb(0x75);
    case Qt::Key_Select:
        return kb(0x77);
    case Qt::Key_Undo:
        return kb(0x7A);
    case Qt::Key_Cut:
        return kb(0x7B);
    case Qt::Key_Copy:
        return kb(0x7C);
    case Qt::Key_Paste:
        return kb(0x7D);
    case Qt::Key_Find:
        return kb(0x7E);
    case Qt::Key_Henkan:
        return kb(0x8A);
    case Qt::Key_Muhenkan:
        return kb(0x8B);
    case Qt::Key_Hangul:
        return kb(0x90);
    case Qt::Key_Hangul_Hanja:
        return kb(0x91);
    case Qt::Key_Katakana:
        return kb(0x92);
    case Qt::Key_Hiragana:
        return kb(0x93);
    case Qt::Key_Zenkaku_Hankaku:
        return kb(0x94);
    case Qt::Key_SysReq:
        return kb(0x9A);
    case Qt::Key_Cancel:
        return kb(0x9B);
    case Qt::Key_Clear:
        return kb(0x9C);
    // Without a scan code the side of a modifier is unknown: the left one.
    case Qt::Key_Control:
        return kb(0xE0);
    case Qt::Key_Shift:
        return kb(0xE1);
    case Qt::Key_Alt:
        return kb(0xE2);
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
        return kb(0xE3);
    case Qt::Key_AltGr:
        return kb(0xE6);
    case Qt::Key_Super_R:
        return kb(0xE7);
    // Media and application keys.
    case Qt::Key_VolumeMute:
        return consumer(0xE2);
    case Qt::Key_VolumeDown:
        return consumer(0xEA);
    case Qt::Key_VolumeUp:
        return consumer(0xE9);
    case Qt::Key_MediaTogglePlayPause:
        return consumer(0xCD);
    case Qt::Key_MediaPlay:
        return consumer(0xB0);
    case Qt::Key_MediaPause:
        return consumer(0xB1);
    case Qt::Key_MediaStop:
        return consumer(0xB7);
    case Qt::Key_MediaPrevious:
        return consumer(0xB6);
    case Qt::Key_MediaNext:
        return consumer(0xB5);
    case Qt::Key_AudioRewind:
        return consumer(0xB4);
    case Qt::Key_AudioForward:
        return consumer(0xB3);
    case Qt::Key_MonBrightnessUp:
        return consumer(0x6F);
    case Qt::Key_MonBrightnessDown:
        return consumer(0x70);
    case Qt::Key_LaunchMedia:
        return consumer(0x183);
    case Qt::Key_LaunchMail:
        return consumer(0x18A);
    case Qt::Key_Calculator:
        return consumer(0x192);
    case Qt::Key_Explorer:
        return consumer(0x194);
    case Qt::Key_Search:
        return consumer(0x221);
    case Qt::Key_HomePage:
        return consumer(0x223);
    case Qt::Key_Back:
        return consumer(0x224);
    case Qt::Key_Forward:
        return consumer(0x225);
    case Qt::Key_Refresh:
        return consumer(0x227);
    case Qt::Key_Favorites:
        return consumer(0x22A);
    case Qt::Key_PowerOff:
    case Qt::Key_PowerDown:
        return systemControl(0x81);
    case Qt::Key_Sleep:
    case Qt::Key_Suspend:
    case Qt::Key_Standby:
        return systemControl(0x82);
    case Qt::Key_WakeUp:
        return systemControl(0x83);
    default:
        return {};
    }
}

KeyUsage fromKeyPress(const KeyPress &press)
{
    const KeyUsage physical = fromX11Keycode(press.nativeScanCode);
    if (physical.isValid())
        return physical;
    return fromQtKey(press.key, press.modifiers);
}

int paletteIndex(const QVector<KeyDesc> &palette, const KeyUsage &usage)
{
    if (!usage.isValid())
        return -1;
    for (int i = 0; i < palette.size(); ++i) {
        const KeyDesc &k = palette.at(i);
        if (k.type == usage.type && k.stype == usage.stype && k.code == usage.code)
            return i;
    }
    return -1;
}

} // namespace KeyUsageMap

KeyPressMatch KeyPressMatch::match(const KeyPress &press, const QVector<KeyDesc> &palette)
{
    KeyPressMatch m;
    m.usage = KeyUsageMap::fromKeyPress(press);
    if (!m.usage.isValid())
        return m;
    m.paletteIndex = KeyUsageMap::paletteIndex(palette, m.usage);
    if (m.paletteIndex < 0) {
        m.kind = NotInPalette;
        return m;
    }
    if (m.usage.isModifier()) {
        m.kind = Modifier;
        return m;
    }
    m.kind = Key;
    const Qt::KeyboardModifiers held =
        Qt::ControlModifier | Qt::ShiftModifier | Qt::AltModifier | Qt::MetaModifier;
    m.modifiersIgnored = (press.modifiers & held) != 0;
    return m;
}

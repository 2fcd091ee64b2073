// Factory data of the simulated keyboards: key layouts, colours, lighting
// records and identities of each personality.

#include "simkeyboard_p.h"

namespace sim {
namespace {

// The tables keep one keyboard row per line. Each table lists the keys in the
// order of the board's layout file (config/layout/*.json): entry i is key i.
// clang-format off

// Table entries with this bit are consumer-page usages (key type 2, the
// media keys); all others are HID keyboard usages (key type 1).
constexpr uint16_t kConsumer = 0x8000;

// HID keyboard usages (usage page 0x07) and the consumer keys in use.
enum : uint16_t {
    A = 0x04, B = 0x05, C = 0x06, D = 0x07, E = 0x08, F = 0x09, G = 0x0A, H = 0x0B, I = 0x0C,
    J = 0x0D, K = 0x0E, L = 0x0F, M = 0x10, N = 0x11, O = 0x12, P = 0x13, Q = 0x14, R = 0x15,
    S = 0x16, T = 0x17, U = 0x18, V = 0x19, W = 0x1A, X = 0x1B, Y = 0x1C, Z = 0x1D,
    N1 = 0x1E, N2, N3, N4, N5, N6, N7, N8, N9, N0,
    Enter = 0x28, Esc = 0x29, Bksp = 0x2A, Tab = 0x2B, Space = 0x2C, Minus = 0x2D, Equal = 0x2E,
    LBracket = 0x2F, RBracket = 0x30, Backslash = 0x31, NonUsHash = 0x32, Semicolon = 0x33,
    Quote = 0x34, Grave = 0x35, Comma = 0x36, Dot = 0x37, Slash = 0x38, Caps = 0x39,
    F1 = 0x3A, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12,
    PrtSc = 0x46, ScrLk = 0x47, Pause = 0x48, Ins = 0x49, Home = 0x4A, PgUp = 0x4B, Del = 0x4C,
    End = 0x4D, PgDn = 0x4E, Right = 0x4F, Left = 0x50, Down = 0x51, Up = 0x52, NumLk = 0x53,
    KpSlash = 0x54, KpStar = 0x55, KpMinus = 0x56, KpPlus = 0x57, KpEnter = 0x58,
    Kp1 = 0x59, Kp2, Kp3, Kp4, Kp5, Kp6, Kp7, Kp8, Kp9, Kp0, KpDot = 0x63,
    NonUsBackslash = 0x64, Menu = 0x65, F13 = 0x68,
    LCtrl = 0xE0, LShift = 0xE1, LAlt = 0xE2, LGui = 0xE3, RCtrl = 0xE4, RShift = 0xE5,
    RAlt = 0xE6, RGui = 0xE7,
    Mute = kConsumer | 0xE2, VolUp = kConsumer | 0xE9, VolDown = kConsumer | 0xEA,
    PlayPause = kConsumer | 0xCD,
};

// Full-size ANSI board, 104 keys plus four media keys above the numeric pad,
// row by row from the top left.
const uint16_t kFullSize108[108] = {
    // row 0 (16) + media (4)
    Esc, F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12, PrtSc, ScrLk, Pause,
    Mute, VolDown, VolUp, PlayPause,
    // row 1 (21)
    Grave, N1, N2, N3, N4, N5, N6, N7, N8, N9, N0, Minus, Equal, Bksp, Ins, Home, PgUp,
    NumLk, KpSlash, KpStar, KpMinus,
    // row 2 (21)
    Tab, Q, W, E, R, T, Y, U, I, O, P, LBracket, RBracket, Backslash, Del, End, PgDn,
    Kp7, Kp8, Kp9, KpPlus,
    // row 3 (16)
    Caps, A, S, D, F, G, H, J, K, L, Semicolon, Quote, Enter, Kp4, Kp5, Kp6,
    // row 4 (17)
    LShift, Z, X, C, V, B, N, M, Comma, Dot, Slash, RShift, Up, Kp1, Kp2, Kp3, KpEnter,
    // row 5 (13)
    LCtrl, LGui, LAlt, Space, RAlt, RGui, Menu, RCtrl, Left, Down, Right, Kp0, KpDot,
};

// Tenkeyless ISO board, 88 keys.
const uint16_t kTenkeylessIso88[88] = {
    // row 0 (16)
    Esc, F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12, PrtSc, ScrLk, Pause,
    // row 1 (17)
    Grave, N1, N2, N3, N4, N5, N6, N7, N8, N9, N0, Minus, Equal, Bksp, Ins, Home, PgUp,
    // row 2 (17): the ISO Enter spans rows 2 and 3 and is counted on row 2
    Tab, Q, W, E, R, T, Y, U, I, O, P, LBracket, RBracket, Enter, Del, End, PgDn,
    // row 3 (13)
    Caps, A, S, D, F, G, H, J, K, L, Semicolon, Quote, NonUsHash,
    // row 4 (14)
    LShift, NonUsBackslash, Z, X, C, V, B, N, M, Comma, Dot, Slash, RShift, Up,
    // row 5 (11)
    LCtrl, LGui, LAlt, Space, RAlt, RGui, Menu, RCtrl, Left, Down, Right,
};

// Compact 65 % board with 68 keys: Escape on the number row and one
// navigation column on the right.
const uint16_t kCompact68[68] = {
    // row 0 (15)
    Esc, N1, N2, N3, N4, N5, N6, N7, N8, N9, N0, Minus, Equal, Bksp, Del,
    // row 1 (15)
    Tab, Q, W, E, R, T, Y, U, I, O, P, LBracket, RBracket, Backslash, PgUp,
    // row 2 (14)
    Caps, A, S, D, F, G, H, J, K, L, Semicolon, Quote, Enter, PgDn,
    // row 3 (14)
    LShift, Z, X, C, V, B, N, M, Comma, Dot, Slash, RShift, Up, End,
    // row 4 (10)
    LCtrl, LGui, LAlt, Space, RAlt, Menu, RCtrl, Left, Down, Right,
};

// clang-format on

Traits makeDualMode()
{
    Traits t;
    t.keyCount = 108;
    t.keyMaps = 4;
    t.colourMaps = 4;
    t.modeMaps = 4;
    t.lightingRecords = 32;
    t.keyFunctions = 32;
    t.macroSlots = 16;
    t.macroFrames = 512;
    t.firmwareVersion = 105;
    t.hardwareVersion = 110;
    t.productName = kDualModeProductName;
    t.releaseDate = "2024031510300000";
    t.keyUsages = kFullSize108;
    return t;
}

Traits makeUsbOnly()
{
    Traits t;
    t.bluetooth = false;
    t.echoesLightingWrites = true;
    t.keyCount = 88;
    t.keyMaps = 4;
    t.colourMaps = 2;
    t.modeMaps = 2;
    t.lightingRecords = 32;
    t.keyFunctions = 32;
    t.macroSlots = 16;
    t.macroFrames = 512;
    t.firmwareVersion = 102;
    t.hardwareVersion = 100;
    t.productName = kUsbOnlyProductName;
    t.releaseDate = "2023110209150000";
    t.keyUsages = kTenkeylessIso88;
    return t;
}

Traits makeNoLighting()
{
    Traits t;
    t.lighting = false;
    t.keyCount = 68;
    t.keyMaps = 3;
    t.keyFunctions = 32;
    t.macroSlots = 16;
    t.macroFrames = 512;
    t.firmwareVersion = 101;
    t.hardwareVersion = 100;
    t.productName = kNoLightingProductName;
    t.releaseDate = "2023060112000000";
    t.keyUsages = kCompact68;
    return t;
}

Traits makeBootLoader()
{
    Traits t;
    t.vendorId = kBootLoaderVendorId;
    t.productId = kBootLoaderProductId;
    t.interfaceNumber = kBootLoaderInterface;
    t.bootKeyboardInterface = false;
    t.lighting = false;
    t.bluetooth = false;
    t.loader = true;
    t.firmwareVersion = 100;
    t.hardwareVersion = 100;
    t.productName = kBootLoaderProductName;
    t.releaseDate = "2023010100000000";
    return t;
}

QByteArray padded(const char *text, int size)
{
    QByteArray bytes(text);
    bytes = bytes.left(size);
    bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

QByteArray keyEntry(uint16_t entry)
{
    // kc_t: byte 0 = type (bits 1-3), stype 0, lock 0; bytes 1-2 = code.
    // Type 1 is a keyboard usage, type 2 a consumer-page usage.
    const bool consumer = (entry & kConsumer) != 0;
    const uint16_t code = uint16_t(entry & ~kConsumer);
    QByteArray e(4, '\0');
    e[0] = char((consumer ? 2 : 1) << 1);
    e[1] = char(code & 0xFF);
    e[2] = char(code >> 8);
    return e;
}

// Key map m of a board: 0 is the printed layout; 1 puts F13-F24 on F1-F12;
// 2 swaps Caps Lock and left Ctrl; the others repeat the printed layout.
QByteArray keyMap(const Traits &t, int m)
{
    QByteArray map;
    map.reserve(t.keyCount * 4);
    for (int i = 0; i < t.keyCount; ++i) {
        uint16_t usage = t.keyUsages[i];
        if (m == 1 && usage >= F1 && usage <= F12)
            usage = uint16_t(F13 + (usage - F1));
        else if (m == 2 && usage == Caps)
            usage = LCtrl;
        else if (m == 2 && usage == LCtrl)
            usage = Caps;
        map.append(keyEntry(usage));
    }
    return map;
}

// Colour map 0 is a rainbow across the keys; the others are plain red, green, blue.
QByteArray colourMap(int keyCount, int m)
{
    QByteArray map(keyCount * 4, '\0');
    for (int i = 0; i < keyCount; ++i) {
        uint8_t r = 0, g = 0, b = 0;
        if (m == 0) {
            const int h = (i * 6 * 256) / keyCount; // hue sweep, six 256-step sectors
            const int sector = h / 256, f = h % 256;
            switch (sector) {
            case 0:
                r = 255, g = uint8_t(f);
                break;
            case 1:
                r = uint8_t(255 - f), g = 255;
                break;
            case 2:
                g = 255, b = uint8_t(f);
                break;
            case 3:
                g = uint8_t(255 - f), b = 255;
                break;
            case 4:
                r = uint8_t(f), b = 255;
                break;
            default:
                r = 255, b = uint8_t(255 - f);
                break;
            }
        } else {
            r = m % 3 == 1 ? 255 : 0;
            g = m % 3 == 2 ? 255 : 0;
            b = m % 3 == 0 ? 255 : 0;
        }
        map[i * 4 + 0] = char(b);
        map[i * 4 + 1] = char(g);
        map[i * 4 + 2] = char(r);
    }
    return map;
}

// la_t record of mode n: a breathing effect between level 0 and 63.
QByteArray lightingRecord(int n)
{
    const uint32_t effect = uint32_t(n % 16);
    const uint32_t cycle = 1, colourRandom = (n % 3 == 1), randomOnPress = (n % 5 == 4);
    const uint32_t direction = uint32_t(n % 2), highest = 63, lowest = 0, step = 1 + n % 4;
    const uint32_t word0 = uint32_t(n) | effect << 6 | cycle << 10 | colourRandom << 11 |
                           randomOnPress << 12 | direction << 13 | highest << 14 | lowest << 20 |
                           step << 26;
    const uint32_t totalPeriods = 1, levelDelay = 20;
    const uint32_t word1 = totalPeriods | levelDelay << 10;
    QByteArray r(12, '\0');
    auto *p = reinterpret_cast<uint8_t *>(r.data());
    put32(p, word0);
    put32(p + 4, word1);
    put16(p + 8, 100);            // highest delay, ms
    put16(p + 10, uint16_t(500)); // period delay, ms
    return r;
}

} // namespace

const Traits &traitsOf(Personality personality)
{
    static const Traits dualMode = makeDualMode();
    static const Traits usbOnly = makeUsbOnly();
    static const Traits noLighting = makeNoLighting();
    static const Traits bootLoader = makeBootLoader();
    switch (personality) {
    case Personality::DualMode:
        return dualMode;
    case Personality::UsbOnly:
        return usbOnly;
    case Personality::NoLighting:
        return noLighting;
    case Personality::BootLoader:
        break;
    }
    return bootLoader;
}

uint16_t macroFrameCount(const QByteArray &head)
{
    const uint32_t word = le32(reinterpret_cast<const uint8_t *>(head.constData()));
    return uint16_t((word >> 7) & 0x3FF);
}

void setMacroFrameCount(QByteArray &head, uint16_t count)
{
    auto *p = reinterpret_cast<uint8_t *>(head.data());
    uint32_t word = le32(p);
    word = (word & ~(0x3FFu << 7)) | (uint32_t(count & 0x3FF) << 7);
    put32(p, word);
}

void fillDefaults(KeyboardState &s, Personality personality, int index, bool identity)
{
    const Traits &t = traitsOf(personality);
    if (identity) {
        // "LMSK", personality, index (16-bit), then a fixed mix of both.
        s.deviceId = QByteArray(12, '\0');
        auto *id = reinterpret_cast<uint8_t *>(s.deviceId.data());
        id[0] = 'L', id[1] = 'M', id[2] = 'S', id[3] = 'K';
        id[4] = uint8_t(int(personality) + 1);
        put16(id + 5, uint16_t(index));
        uint32_t mix = 0x9E3779B9u * uint32_t(index + 1) ^ (uint32_t(int(personality)) << 24);
        for (int i = 7; i < 12; ++i) {
            mix = mix * 1103515245u + 12345u;
            id[i] = uint8_t(mix >> 16);
        }
        s.productName = padded(t.productName, 16);
        s.infoText = padded("LUMORY SIM KB", 16);
        s.releaseDate = QByteArray(16, '\0');
        for (int i = 0; i < 16 && t.releaseDate[i]; ++i)
            s.releaseDate[i] = char(t.releaseDate[i] - '0');
        s.infoWord0 = (t.lighting ? 0x1u : 0u) | (t.bluetooth ? 0x2u : 0u) |
                      (t.macroSlots ? 0x4u : 0u) | (t.keyFunctions ? 0x8u : 0u);
        s.infoWord1 = uint32_t(t.keyCount);
        s.firmwareVersion = t.firmwareVersion;
        s.hardwareVersion = t.hardwareVersion;
    }

    s.scanSpeed = 1;
    s.nKey = 1;
    s.userInfo = QByteArray(48, '\0');
    // The first byte of the name record is a marker the host does not show.
    s.btName = t.bluetooth ? padded(t.productName, 12) : QByteArray(12, '\0');
    s.sleepTime = t.bluetooth ? 10u * 60000u : 0u;

    s.curKeyMap = 0;
    s.keyMaps.clear();
    for (int m = 0; m < t.keyMaps; ++m)
        s.keyMaps.push_back(keyMap(t, m));
    s.curColourMap = 0;
    s.colourMaps.clear();
    for (int m = 0; m < t.colourMaps; ++m)
        s.colourMaps.push_back(colourMap(t.keyCount, m));
    s.curModeMap = 0;
    s.modeMaps.clear();
    for (int m = 0; m < t.modeMaps; ++m) {
        // Map m gives every key mode m, and every seventh key a livelier one.
        QByteArray modes(t.keyCount, char(m));
        for (int i = 3; i < t.keyCount; i += 7)
            modes[i] = char((m + 5) % 32);
        s.modeMaps.push_back(modes);
    }
    s.lightingRecords.clear();
    for (int n = 0; n < t.lightingRecords; ++n)
        s.lightingRecords.push_back(lightingRecord(n));
    s.keyFunctions.clear();
    for (int n = 0; n < t.keyFunctions; ++n) {
        QByteArray kf(56, '\0');
        kf[0] = char(n & 0x3F); // id; in-use bit clear
        s.keyFunctions.push_back(kf);
    }
    s.macroHeads.clear();
    s.macroFrames.clear();
    for (int n = 0; n < t.macroSlots; ++n) {
        QByteArray head(24, '\0');
        head[0] = char(n & 0x3F);
        s.macroHeads.push_back(head);
        s.macroFrames.push_back(QByteArray(t.macroFrames * 10, '\0'));
    }
    s.selectedMacro = -1;
    s.recording = false;
    s.playing = false;
}

} // namespace sim

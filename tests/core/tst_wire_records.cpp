// The wire records: every accessor reads and writes exactly its own bits at
// the documented place and keeps every other bit, so that records read from
// the keyboard travel back unchanged apart from what the host edits.

#include "device/wirerecords.h"

#include <QtTest>

#include <cstring>

namespace {

template <typename T> QByteArray raw(const T &r)
{
    return QByteArray(reinterpret_cast<const char *>(&r), sizeof r);
}
template <typename T> T filled(uint8_t value)
{
    T r;
    std::memset(&r, value, sizeof r);
    return r;
}

// `bytes` with bits [at, at + width) of its little-endian bit stream set to `value`.
QByteArray withBits(QByteArray bytes, int at, int width, uint32_t value)
{
    for (int bit = at; bit < at + width; ++bit) {
        const char mask = char(1 << bit % 8);
        bytes[bit / 8] =
            (value >> (bit - at) & 1u) ? bytes[bit / 8] | mask : bytes[bit / 8] & ~mask;
    }
    return bytes;
}

// A field of record T: its bits in the record's little-endian bit stream and
// its accessors (`set` is null for a read-only field).
template <typename T> struct Field
{
    const char *name;
    int at;
    int width;
    void (*set)(T &, uint32_t);
    uint32_t (*get)(const T &);
};

// A field reached through a setter/getter pair of the record, or a getter only.
// clang-format off
#define FIELD(at, width, setter, getter) \
    {#getter, at, width, [](auto &r, uint32_t v) { r.setter(v); }, \
     [](const auto &r) -> uint32_t { return r.getter(); }}
#define READ_ONLY(at, width, getter) \
    {#getter, at, width, nullptr, [](const auto &r) -> uint32_t { return r.getter(); }}
// clang-format on

// Writing a field over an all-zero and an all-one record changes exactly its
// bits, a value too wide for the field is cut to it, and the getter reads the
// field from bytes laid out independently of the setter.
template <typename T> void checkFields(int size, std::initializer_list<Field<T>> fields)
{
    QCOMPARE(int(sizeof(T)), size);
    constexpr uint32_t pattern = 0x5A3C96E1u;
    for (const Field<T> &f : fields) {
        const uint32_t mask = f.width >= 32 ? 0xFFFFFFFFu : (1u << f.width) - 1u;
        const std::pair<uint8_t, uint32_t> cases[] = {
            {0x00, pattern & mask}, {0xFF, ~pattern & mask}, {0x00, 0xFFFFFFFFu}};
        for (const auto &c : cases) {
            const QByteArray expected = withBits(raw(filled<T>(c.first)), f.at, f.width, c.second);
            if (f.set) {
                T r = filled<T>(c.first);
                f.set(r, c.second);
                QVERIFY2(raw(r) == expected, f.name);
            }
            T r;
            std::memcpy(&r, expected.constData(), sizeof r);
            QVERIFY2(f.get(r) == (c.second & mask), f.name);
        }
    }
}

} // namespace

class TestWireRecords : public QObject
{
    Q_OBJECT

private slots:
    void fieldLayouts();
    void keyIdentity();
    void listKeysStayInsideTheRecord();
};

void TestWireRecords::fieldLayouts()
{
    checkFields<kc_t>(4, {FIELD(0, 1, setLock, lock), FIELD(1, 3, setType, type),
                          FIELD(4, 4, setStype, stype), FIELD(8, 16, setCode, code)});
    checkFields<la_t>(
        12, {FIELD(0, 6, setModeNumber, modeNumber), FIELD(6, 4, setEffect, effect),
             FIELD(10, 1, setCycleFlag, cycleFlag), FIELD(11, 1, setColourRandom, colourRandom),
             FIELD(12, 1, setRandomColourOnPress, randomColourOnPress),
             FIELD(13, 1, setBrightnessDirection, brightnessDirection),
             FIELD(14, 6, setHighestLevel, highestLevel), FIELD(20, 6, setLowestLevel, lowestLevel),
             FIELD(26, 6, setLevelStep, levelStep),
             FIELD(32, 10, setTotalPeriodTimes, totalPeriodTimes),
             FIELD(42, 10, setLevelDelay, levelDelay), FIELD(64, 16, setHighestDelay, highestDelay),
             FIELD(80, 16, setPeriodDelay, periodDelay)});
    // Trigger keys fill bytes 4-19, the two parameters bytes 20-27.
    checkFields<kf_t>(
        56, {READ_ONLY(0, 6, id), FIELD(6, 1, setInUse, inUse), FIELD(7, 6, setHi, hi),
             FIELD(16, 3, setKeyCount, keyCount), FIELD(19, 1, setHostFlag, hostFlag),
             FIELD(20, 8, setLayerMask, layerMask), FIELD(136, 16, keys[3].setCode, keys[3].code),
             FIELD(160, 32, setParam1, param1), FIELD(192, 32, setParam2, param2)});
    checkFields<km_t>(24, {FIELD(0, 6, setId, id), FIELD(6, 1, setUsed, used),
                           FIELD(7, 10, setFrameCount, frameCount)});

    mframe_t f{};
    f.setTs(0x1234);
    f.modifiers = 0x02;
    f.keys[0] = 0x04;
    QCOMPARE(raw(f), QByteArray::fromHex("34120200040000000000"));
    QCOMPARE(f.ts(), uint16_t(0x1234));
}

void TestWireRecords::keyIdentity()
{
    // Type, subtype and code make the identity; the lock bit and byte 3 do not count.
    kc_t a, b;
    std::memcpy(&a, "\x5B\x34\x12\x99", 4);
    std::memcpy(&b, "\x5A\x34\x12\x00", 4);
    QVERIFY(a.sameKey(b));
    for (const char *other :
         {"\x5D\x34\x12\x99", "\x6B\x34\x12\x99", "\x5B\x35\x12\x99", "\x5B\x34\x13\x99"}) {
        std::memcpy(&b, other, 4);
        QVERIFY2(!a.sameKey(b), QByteArray(other, 4).toHex().constData());
    }
}

void TestWireRecords::listKeysStayInsideTheRecord()
{
    // The nine list keys fill bytes 20-55, the first overlapping the parameters;
    // indexes outside 0-8 neither read nor write past the record.
    kf_t kf = filled<kf_t>(0);
    const kc_t k = filled<kc_t>(0xFF);
    for (int i : {0, 8, 9, -1})
        kf.setListKey(i, k);
    QCOMPARE(raw(kf), QByteArray(20, 0) + raw(k) + QByteArray(28, 0) + raw(k));
    kf.setParam1(0x01020304);
    QCOMPARE(kf.listKey(0).code(), uint16_t(0x0203));
    kf = filled<kf_t>(0xFF);
    QCOMPARE(raw(kf.listKey(9)) + raw(kf.listKey(-1)), QByteArray(8, 0));
}

QTEST_GUILESS_MAIN(TestWireRecords)
#include "tst_wire_records.moc"

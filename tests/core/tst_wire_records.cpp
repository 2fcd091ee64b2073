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

} // namespace

class TestWireRecords : public QObject
{
    Q_OBJECT

private slots:
    void keyCodeEntry();
    void lightingRecordFields();
    void lightingRecordKeepsForeignBits();
    void keyFunctionHead();
    void keyFunctionParametersAndKeyList();
    void macroHead();
    void macroFrame();
};

void TestWireRecords::keyCodeEntry()
{
    // byte 0: lock bit 0, type bits 1-3, subtype bits 4-7; code little-endian; byte 3 kept
    kc_t k{};
    const uint8_t bytes[4] = {0x5B, 0x34, 0x12, 0x99}; // lock 1, type 5, stype 5
    std::memcpy(&k, bytes, 4);
    QCOMPARE(k.lock(), true);
    QCOMPARE(int(k.type()), 5);
    QCOMPARE(int(k.stype()), 5);
    QCOMPARE(k.code(), uint16_t(0x1234));

    k.setType(2);
    k.setStype(0xA);
    k.setCode(0xE0);
    QCOMPARE(raw(k), QByteArray::fromHex("a5e00099")); // lock and byte 3 kept
    k.setLock(false);
    QCOMPARE(int(k.attr), 0xA4);

    kc_t other = k;
    other.setLock(true);
    other.extra = 0;
    QVERIFY(k.sameKey(other)); // lock bit and byte 3 are not part of the identity
    other.setCode(0xE1);
    QVERIFY(!k.sameKey(other));
}

void TestWireRecords::lightingRecordFields()
{
    la_t r{};
    r.setModeNumber(31);
    r.setEffect(9);
    r.setCycleFlag(true);
    r.setColourRandom(false);
    r.setRandomColourOnPress(true);
    r.setBrightnessDirection(true);
    r.setHighestLevel(63);
    r.setLowestLevel(20);
    r.setLevelStep(3);
    r.setTotalPeriodTimes(1000);
    r.setLevelDelay(500);
    r.setHighestDelay(0xBEEF);
    r.setPeriodDelay(300);

    // word 0 = 31 | 9<<6 | 1<<10 | 1<<12 | 1<<13 | 63<<14 | 20<<20 | 3<<26
    const uint32_t w0 =
        31u | 9u << 6 | 1u << 10 | 1u << 12 | 1u << 13 | 63u << 14 | 20u << 20 | 3u << 26;
    const uint32_t w1 = 1000u | 500u << 10;
    QCOMPARE(r.w0(), w0);
    QCOMPARE(r.w1(), w1);
    QCOMPARE(raw(r).mid(8), QByteArray::fromHex("efbe2c01"));

    QCOMPARE(int(r.modeNumber()), 31);
    QCOMPARE(int(r.effect()), 9);
    QVERIFY(r.cycleFlag() && !r.colourRandom() && r.randomColourOnPress());
    QVERIFY(r.brightnessDirection());
    QCOMPARE(int(r.highestLevel()), 63);
    QCOMPARE(int(r.lowestLevel()), 20);
    QCOMPARE(int(r.levelStep()), 3);
    QCOMPARE(int(r.totalPeriodTimes()), 1000);
    QCOMPARE(int(r.levelDelay()), 500);
}

void TestWireRecords::lightingRecordKeepsForeignBits()
{
    // Start from all ones: writing every field to 0 leaves only the bits no
    // field owns (word 1 bits 20-31).
    la_t r = filled<la_t>(0xFF);
    r.setModeNumber(0);
    r.setEffect(0);
    r.setCycleFlag(false);
    r.setColourRandom(false);
    r.setRandomColourOnPress(false);
    r.setBrightnessDirection(false);
    r.setHighestLevel(0);
    r.setLowestLevel(0);
    r.setLevelStep(0);
    r.setTotalPeriodTimes(0);
    r.setLevelDelay(0);
    r.setHighestDelay(0);
    r.setPeriodDelay(0);
    QCOMPARE(raw(r), QByteArray::fromHex("000000000000f0ff00000000"));

    // Out-of-range values are cut to their field, not spilled into the next one.
    la_t z{};
    z.setModeNumber(0xFF);
    z.setTotalPeriodTimes(0xFFFF);
    QCOMPARE(int(z.modeNumber()), 63);
    QCOMPARE(int(z.effect()), 0);
    QCOMPARE(int(z.totalPeriodTimes()), 1023);
    QCOMPARE(int(z.levelDelay()), 0);
}

void TestWireRecords::keyFunctionHead()
{
    kf_t kf = filled<kf_t>(0);
    kf.head[0] = 0x05; // id 5
    kf.setInUse(true);
    kf.setHi(0x2B); // 6 bits: bit 0 in byte 0 bit 7, bits 1-5 in byte 1 bits 0-4
    QCOMPARE(int(kf.id()), 5);
    QVERIFY(kf.inUse());
    QCOMPARE(int(kf.hi()), 0x2B);
    QCOMPARE(int(kf.head[0]), 0x05 | 0x40 | 0x80);
    QCOMPARE(int(kf.head[1]), 0x15);

    // Key maps 0 and 2 give layer mask 0x05: bits 4 and 6 of bytes 2-3.
    kf.setLayerMask(0x05);
    QCOMPARE(int(kf.head[2]), 0x50);
    QCOMPARE(int(kf.head[3]), 0x00);
    kf.setLayerMask(0xFF);
    QCOMPARE(int(kf.head[2]), 0xF0);
    QCOMPARE(int(kf.head[3]), 0x0F);
    kf.setKeyCount(3);
    kf.setHostFlag(true);
    QCOMPARE(int(kf.keyCount()), 3);
    QVERIFY(kf.hostFlag());
    QCOMPARE(int(kf.head[2]), 0xFB);

    // Bits the host does not own (byte 1 bits 5-7, byte 3 bits 4-7) survive every setter.
    kf_t ones = filled<kf_t>(0xFF);
    ones.setInUse(false);
    ones.setHi(0);
    ones.setKeyCount(0);
    ones.setHostFlag(false);
    ones.setLayerMask(0);
    QCOMPARE(raw(ones).left(4), QByteArray::fromHex("3fe000f0"));
}

void TestWireRecords::keyFunctionParametersAndKeyList()
{
    kf_t kf = filled<kf_t>(0);
    kf.setParam1(0x01020304);
    kf.setParam2(7);
    QCOMPARE(raw(kf).mid(20, 8), QByteArray::fromHex("0403020107000000"));

    // The nine list keys occupy bytes 20-55, the first overlapping the parameters.
    kc_t k{};
    k.setType(1);
    k.setCode(0x04);
    kf.setListKey(8, k);
    QCOMPARE(raw(kf).mid(52, 4), QByteArray::fromHex("02040000"));
    QCOMPARE(kf.listKey(0).code(), uint16_t(0x0203)); // bytes 21-22 of 04 03 02 01
    QCOMPARE(kf.listKey(8).code(), uint16_t(0x04));
    // Indexes outside 0-8 neither read nor write past the record.
    kf.setListKey(9, k);
    kf.setListKey(-1, k);
    QCOMPARE(kf.listKey(9).code(), uint16_t(0));
    QCOMPARE(raw(kf).mid(28, 24), QByteArray(24, '\0'));

    // trigger keys at bytes 4-19
    kf.keys[3].setCode(0xABCD);
    QCOMPARE(raw(kf).mid(17, 2), QByteArray::fromHex("cdab"));
}

void TestWireRecords::macroHead()
{
    km_t h = filled<km_t>(0);
    h.word0[0] = 0xC7; // id 7, used, frame count bit 0 set
    QCOMPARE(int(h.id()), 7);
    QVERIFY(h.used());
    QCOMPARE(int(h.frameCount()), 1);

    // frame count: 10 bits at 7-16 of the first word; the reserved bits 17-31 are kept
    km_t ones = filled<km_t>(0xFF);
    ones.setFrameCount(300);
    QCOMPARE(int(ones.frameCount()), 300);
    QCOMPARE(ones.w0() & ~(0x3FFu << 7), 0xFFFFFFFFu & ~(0x3FFu << 7));
    ones.setFrameCount(1023);
    QCOMPARE(ones.w0(), 0xFFFFFFFFu);

    // Deleting slot 5: a zeroed head whose id is 5 has the first word 5.
    km_t del = filled<km_t>(0);
    del.setId(5);
    QCOMPARE(raw(del), QByteArray::fromHex("05") + QByteArray(23, '\0'));
}

void TestWireRecords::macroFrame()
{
    mframe_t f{};
    f.setTs(0x1234);
    f.modifiers = 0x02; // left shift
    f.keys[0] = 0x04;
    QCOMPARE(raw(f), QByteArray::fromHex("34120200040000000000"));
    QCOMPARE(f.ts(), uint16_t(0x1234));
}

QTEST_GUILESS_MAIN(TestWireRecords)
#include "tst_wire_records.moc"

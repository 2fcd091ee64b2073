// Key-function entries: the bits each function type writes, claiming a free
// entry and freeing one.
#include "shortcut/kfrecord.h"

#include <QtTest>

using namespace KfRecord;

namespace {
kc_t key(int type, int stype, int code)
{
    return kc_t{uint8_t(type << 1 | stype << 4), {uint8_t(code), uint8_t(code >> 8)}, 0};
}

// Every bit set except the in-use bit, with the given id.
kf_t noisy(int id)
{
    kf_t e;
    std::memset(&e, 0xFF, sizeof e);
    e.head[0] = uint8_t(0x80 | id);
    return e;
}
} // namespace

class TestKfRecords : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void headerAndTriggerKeysKeepForeignBits()
    {
        kf_t e = noisy(9);
        KfFunction f = defaults(E_SCT_WEB, 5);
        f.layerMask = 0x05; // key maps 0 and 2
        f.keys[0] = key(1, 0, 0x04);
        f.keys[1] = key(0, 2, 0x133); // type 0: written, not counted
        f.keys[2] = key(2, 0, 0xE9);
        QVERIFY(encode(f, &e) == EncodeResult::Encoded);
        QVERIFY(e.inUse() && e.id() == 9 && e.hi() == 5 && (e.head[1] & 0xE0) == 0xE0);
        QVERIFY(e.keyCount() == 2 && e.hostFlag() && e.layerMask() == 0x05);
        QVERIFY((e.head[3] & 0xF0) == 0xF0 && e.param1() == 0xFFFFFFFFu);
        QVERIFY(e.keys[1].sameKey(f.keys[1]) && e.keys[3].sameKey(key(0, 0, 0)));
        for (const kc_t &k : e.keys)
            QVERIFY(k.lock() && k.extra == 0xFF);
    }

    void parametersOfEachTypeAndDecoding()
    {
        QVector<KF> kfs(10);
        for (int t = 0; t < kfs.size(); ++t)
            kfs[t].hi = kfs[t].control_type = t;
        kf_t e = noisy(1);
        e.setInUse(false);
        KfFunction f = defaults(E_SCT_NONE, 0);
        encode(f, &e);
        f = defaults(E_SCT_LEDBRI, 4);
        f.param1 = -1; // no option chosen
        encode(f, &e);
        f = defaults(E_SCT_MACRO, 7); // no macro found
        encode(f, &e);
        QVERIFY(!e.inUse() && e.param1() == 0xFFFFFFFFu);
        f.param1 = 12;
        f.param2 = 3;
        encode(f, &e);
        QVERIFY(e.inUse() && e.param1() == 12u && e.param2() == 3u);
        f = defaults(E_SCT_LEDBRI, 4);
        f.param1 = 3;
        e.setInUse(false);
        encode(f, &e);
        QVERIFY(e.inUse() && e.param1() == 3u && decode(e, kfs).param1 == 3);

        for (int type : {E_SCT_REPKEY, E_SCT_LOCKKEY}) {
            kf_t list = noisy(2);
            f = defaults(type, type);
            for (int i = 0; i < 9; ++i)
                f.list[i] = key(1, 0, 0x04 + i);
            encode(f, &list);
            QCOMPARE(list.hostFlag(), type == E_SCT_LOCKKEY); // cleared for replace-key
            const KfFunction back = decode(list, kfs);
            for (int i = 0; i < 9; ++i) {
                const kc_t k = list.listKey(i);
                QVERIFY(k.sameKey(f.list[i]) && k.lock() && k.extra == 0xFF);
                QVERIFY(back.list[i].sameKey(f.list[i]));
            }
        }

        f = defaults(E_SCT_SWAP, 8);
        f.param1 = 0x105; // numbers keep their low 8 bits
        f.param2 = 0x206;
        f.layerMask = 0x81;
        encode(f, &e);
        KfFunction back = decode(e, kfs);
        QVERIFY(back.controlType == E_SCT_SWAP && back.param1 == 5 && back.param2 == 6);
        QVERIFY(back.layerMask == 0x81);
        const kf_t before = e;
        f.param2 = f.param1;
        QVERIFY(encode(f, &e) == EncodeResult::SwapEqual);
        QVERIFY(std::memcmp(&before, &e, sizeof e) == 0);

        encode(defaults(E_SCT_VKB, 9), &e);
        QCOMPARE(e.hi(), uint8_t(7));
        e.setHi(40); // a number the catalogue does not know
        QCOMPARE(decode(e, kfs).controlType, int(E_SCT_NONE));
    }

    void claimingTakesOnlyEntriesThatCanBeWritten()
    {
        QVector<kf_t> table(66);
        for (int i = 0; i < table.size(); ++i) {
            table[i] = noisy(i & 0x3F);
            table[i].setInUse(true);
        }
        table[1].setInUse(false);
        table[1].head[0] = (table[1].head[0] & ~0x3F) | 5; // id 5 at index 1
        table[3].setInUse(false);
        table[3].setLayerMask(0);
        QCOMPARE(claimFree(table.data(), table.size()), 3);
        const kf_t &c = table[3];
        QVERIFY(c.inUse() && c.id() == 3 && c.layerMask() == 0xFF && c.hi() == 0x3F);
        QVERIFY(c.param1() == 0xFFFFFFFFu && !table[1].inUse());
        for (const kc_t &k : c.keys)
            QVERIFY(k.attr == 0x01 && k.code() == 0 && k.extra == 0xFF);

        // The only free entry sits beyond the 64 an id can name.
        table[64].setInUse(false);
        QCOMPARE(claimFree(table.data(), table.size()), -1);
        QCOMPARE(claimFree(nullptr, 4), -1);

        kf_t expected = table[5]; // freeing clears the in-use bit only
        expected.head[0] &= ~0x40;
        release(&table[5]);
        QVERIFY(std::memcmp(&expected, &table[5], sizeof expected) == 0);
    }
};

QTEST_GUILESS_MAIN(TestKfRecords)
#include "tst_kfrecords.moc"

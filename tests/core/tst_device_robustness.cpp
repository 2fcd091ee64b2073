// The device model against keyboards that answer badly: answers of all
// zeros, short reads, answers whose counts and ranges claim more than a frame
// or the model can hold, and a transport that fails. Nothing may read or
// write past a buffer (the sanitizer build checks that), and every command
// must come back with a status.

#include "tst_device_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>

using namespace linktest;

namespace {

// Every command of the set (apart from the firmware update), with harmless
// arguments; returns the statuses in order.
QList<uint32_t> runEveryCommand(Device *d)
{
    unsigned char buf[64] = {};
    kf_t kf{};
    km_t km{};
    la_t la{};
    mframe_t frames[3] = {};
    QList<uint32_t> st;
    st << d->getDeviceInfo() << d->getDeviceVersion() << d->getScanSpeed() << d->setScanSpeed(2)
       << d->getUserInfo() << d->setUserInfo(QStringLiteral("u")) << d->getDeviceId()
       << d->getNKey() << d->setNKey(1) << d->getKCInfo() << d->getCurKCMID() << d->setCurKCMID(0)
       << d->getKC(0, 12, buf) << d->setKC(0, 0, buf) << d->getCurKCM() << d->getKRInfo()
       << d->getCurKRMID() << d->setCurKRMID(0) << d->getKR(0, 12, buf) << d->setKR(0, 0, buf)
       << d->getCurKRM() << d->setKRRgb(0, 0) << d->getKFInfo() << d->getKFItem(0, &kf)
       << d->setKFItem(&kf) << d->getAllKF() << d->getKMInfo() << d->getAllMacroHead()
       << d->getMacroHead(0, &km) << d->setMacroHead(&km) << d->selectMacro(0)
       << d->setRecordMacro(0) << d->setPlayMacro(0) << d->readMacro(0)
       << d->writeMacro(0, 3, frames) << d->deletMacro(0) << d->setMacroName(0, "0123456789abcdef")
       << d->getLMInfo() << d->getCurLMMID() << d->setCurLMMID(0) << d->getLM(0, 47, buf)
       << d->setLM(0, 0, buf) << d->getCurLMM() << d->getLAInfo() << d->getLAItem(0, &la)
       << d->setLAItem(&la) << d->getAllLA() << d->setFactoryReset();
    return st;
}

// A keyboard whose answers claim as much as their fields allow: counts of 255,
// current maps of 255, ranges past the request, frame counts of 1023, and
// every other byte 0xFF.
QByteArray boastfulAnswer(const QByteArray &r)
{
    const uint8_t cmd = byteAt(r, 0), sub = byteAt(r, 1);
    QByteArray a(64, char(0xFF));
    a[0] = r[0];
    a[1] = r[1];
    if (cmd == 0xB0)
        return QByteArray(); // no Bluetooth
    if ((cmd == 0x20 || cmd == 0x30) && sub == 0x10) {
        a[8] = r[8]; // the map asked for, from the first key asked for...
        a[9] = r[9];
        // ...to the last (key codes are checked by their echo) or, for the
        // colours, far beyond it
        a[10] = cmd == 0x20 ? r[10] : char(0xFF);
    } else if (cmd == 0x40 && sub == 0x10) {
        a[2] = 56;
    } else if (cmd == 0x50 && sub == 0x01) {
        a[2] = 24;
        a[3] = 0;
    } else if (cmd == 0x60 && sub == 0x21) {
        a[2] = 12;
        a[3] = 0;
    } else if (cmd == 0x50 && sub == 0x30) {
        a[4] = char(0xFF); // start index 511 of 512,
        a[5] = 0x01;       // with 0xFFFF bytes claimed
    } else if (cmd == 0x50 && sub == 0x40) {
        a[2] = 4;
        a[3] = 0;
        a[4] = r[4];
        a[5] = r[5];
        put32(a, 8, 0);
    } else if (cmd == 0x50 && sub == 0x03) {
        put32(a, 8, 0); // the selection is accepted
    }
    return a;
}

} // namespace

class TestDeviceRobustness : public QObject
{
    Q_OBJECT

private slots:
    void answersOfZerosLoadAnEmptyModel();
    void shortReadsNeverShowStaleBytes();
    void boastfulCountsStayInsideTheModel();
    void oversizedStoredMacroIsReadUpToTheBuffer();
    void failingTransportEndsEveryCommand();
};

void TestDeviceRobustness::answersOfZerosLoadAnEmptyModel()
{
    ScriptedBackend kb;
    kb.setHandler([](const QByteArray &) { return QByteArray(64, '\0'); });
    Link link(&kb);
    Device *d = link.device;
    QCOMPARE(d->loadDevInfoSlot(), WK_SUCCESS);
    QCOMPARE(int(d->kcCount()), 0);
    QCOMPARE(int(d->kcmCount()), 0);
    QCOMPARE(int(d->krCount()), 0); // byte 0 is not 0x30: no key colours
    QCOMPARE(int(d->curKRM()), -1);
    QCOMPARE(d->kfCount(), 0);
    QCOMPARE(int(d->kmCount()), 0);
    QCOMPARE(int(d->laCount()), 0);
    QCOMPARE(int(d->lmCount()), 0);
    QCOMPARE(d->productNameBlock(), QByteArray(16, '\0'));

    // Every command still answers with a status; nothing reaches past a buffer.
    const QList<uint32_t> st = runEveryCommand(d);
    QCOMPARE(st.size(), 48);
    kf_t kf{};
    km_t km{};
    la_t la{};
    QCOMPARE(d->getKFItem(0, &kf), WK_ERROR_VERIFY); // no 0x40, 0x10, 56 echo
    QCOMPARE(d->getMacroHead(0, &km), WK_ERROR_VERIFY);
    QCOMPARE(d->getLAItem(0, &la), WK_ERROR_VERIFY);
    QCOMPARE(d->readMacro(0), WK_ERROR_OUT_OF_RANGE); // no slots
    QCOMPARE(d->setKC(0, 0, reinterpret_cast<const unsigned char *>("\0\0\0\0")),
             WK_ERROR_OUT_OF_RANGE);                 // no keys
    QCOMPARE(d->setFactoryReset(), WK_ERROR_VERIFY); // not an answer to the reset
}

void TestDeviceRobustness::shortReadsNeverShowStaleBytes()
{
    std::atomic<bool> cut{false};
    ScriptedBackend kb;
    kb.setHandler([&cut](const QByteArray &r) {
        QByteArray a(64, char(0xAA));
        a[0] = r[0];
        a[1] = r[1];
        a[2] = 56;
        a[3] = 0;
        return cut ? a.left(3) : a;
    });
    Link link(&kb);
    Device *d = link.device;
    QCOMPARE(d->getKFInfo(), WK_SUCCESS); // 0xAA entries
    kf_t entry{};
    QCOMPARE(d->getKFItem(0, &entry), WK_SUCCESS);
    QCOMPARE(int(entry.head[0]), 0xAA);
    QCOMPARE(d->getDeviceInfo(), WK_SUCCESS);
    QCOMPARE(d->productNameBlock(), QByteArray(16, char(0xAA)));

    // The next answers are three bytes long: what they do not carry is 0,
    // not what the previous report left in the buffer.
    cut = true;
    QCOMPARE(d->getKFItem(0, &entry), WK_SUCCESS);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(&entry), 56), QByteArray(56, '\0'));
    QCOMPARE(d->getDeviceInfo(), WK_SUCCESS);
    QCOMPARE(d->productNameBlock(), QByteArray(16, '\0'));
}

void TestDeviceRobustness::boastfulCountsStayInsideTheModel()
{
    ScriptedBackend kb;
    kb.setHandler(boastfulAnswer);
    Link link(&kb);
    Device *d = link.device;
    QCOMPARE(d->getKCInfo(), WK_SUCCESS);
    QCOMPARE(int(d->kcCount()), 255);
    QCOMPARE(d->getCurKCMID(), WK_SUCCESS);
    QCOMPARE(d->getCurKCM(), WK_SUCCESS); // 20 chunks, each 52 bytes at most
    QCOMPARE(d->keyCode(254).attr, uint8_t(0xFF));
    QCOMPARE(d->getKRInfo(), WK_SUCCESS);
    QCOMPARE(d->getCurKRM(), WK_SUCCESS); // every answer claims keys up to 255
    QCOMPARE(d->getKRRgb(254), 0xFFFFFFFFu);
    QCOMPARE(d->getLMInfo(), WK_SUCCESS);
    QCOMPARE(int(d->lmCount()), 255);
    QCOMPARE(d->getCurLMM(), WK_SUCCESS);
    QCOMPARE(d->getLAInfo(), WK_SUCCESS);
    QCOMPARE(d->getAllLA(), WK_SUCCESS);
    QCOMPARE(int(d->laCount()), 255);
    QCOMPARE(d->getKFInfo(), WK_SUCCESS);
    QCOMPARE(d->getAllKF(), WK_SUCCESS);
    QCOMPARE(d->kfCount(), 255);
    QCOMPARE(d->getKMInfo(), WK_SUCCESS);
    QCOMPARE(d->getAllMacroHead(), WK_SUCCESS);
    QCOMPARE(int(d->kmCount()), 255);
    QCOMPARE(int(d->macroHead(254)->frameCount()), 1023);
    QVERIFY(!d->macroHead(255));
    QVERIFY(!d->kfRecord(255));
    QVERIFY(!d->laRecord(255));

    // A keyboard that reports fewer keys afterwards gets a model of that size.
    kb.setHandler([](const QByteArray &r) {
        QByteArray a = answerTo(r);
        a[8] = 1;
        a[9] = 3;
        return a;
    });
    QCOMPARE(d->getKCInfo(), WK_SUCCESS);
    QCOMPARE(int(d->kcCount()), 3);
    QCOMPARE(d->keyCode(3).attr, uint8_t(0)); // outside the map: an empty entry
    QCOMPARE(d->keyCode(-1).attr, uint8_t(0));
}

void TestDeviceRobustness::oversizedStoredMacroIsReadUpToTheBuffer()
{
    ScriptedBackend kb;
    kb.setHandler(boastfulAnswer);
    Link link(&kb);
    Device *d = link.device;
    QCOMPARE(d->getKMInfo(), WK_SUCCESS);
    QCOMPARE(d->getMacroHead(0, d->macroHead(0)), WK_SUCCESS);
    QCOMPARE(int(d->macroHead(0)->frameCount()), 1023);
    kb.clearFrames();
    // 1023 frames cannot be held: the first 512 are asked for, the answers
    // (start 511, 0xFFFF bytes) are cut at the end of the buffer, and the
    // caller learns that the macro is not complete.
    QCOMPARE(d->readMacro(0), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(d->macroFramesHeld(), 512);
    QCOMPARE(framesOf(kb.frames(), 0x50, 0x30).size(), 103); // 102 rounds and 2 left
    const mframe_t &last = d->macroFrames()[511];
    QCOMPARE(last.ts(), uint16_t(0xFFFF));
    QCOMPARE(d->macroFrames()[510].ts(), uint16_t(0));
}

void TestDeviceRobustness::failingTransportEndsEveryCommand()
{
    ScriptedBackend kb;
    kb.setHandler([](const QByteArray &r) { return answerTo(r); });
    Link link(&kb);
    Device *d = link.device;
    QCOMPARE(d->getKMInfo(), WK_SUCCESS);

    kb.setWriteFails(true);
    QElapsedTimer clock;
    clock.start();
    for (uint32_t st : runEveryCommand(d)) {
        QVERIFY2(st == WK_ERROR_WRITE || st == WK_ERROR_OUT_OF_RANGE || st == WK_SUCCESS,
                 qPrintable(QString::number(st, 16)));
    }
    QVERIFY(clock.elapsed() < 5000); // nothing waited for an answer that cannot come
    QVERIFY(!link.waitingFlag());

    // The keyboard goes away: every command, and the load, end at once.
    kb.setWriteFails(false);
    kb.failReads();
    QTRY_VERIFY(!link.usb->isLinkUp());
    clock.restart();
    for (uint32_t st : runEveryCommand(d))
        QVERIFY(st == WK_ERROR_TIMEOUT || st == WK_ERROR_OUT_OF_RANGE || st == WK_SUCCESS);
    QSignalSpy failed(d, &Device::emitLoadDevInfoError);
    QCOMPARE(d->loadDevInfoSlot(), WK_ERROR_LOAD);
    QCOMPARE(failed.count(), 1);
    QVERIFY(clock.elapsed() < 5000);
}

QTEST_GUILESS_MAIN(TestDeviceRobustness)
#include "tst_device_robustness.moc"

// The loading sequence of the device model (its order, the model it leaves,
// how it ends), then the model against keyboards that answer badly: zeros,
// short reads, counts and ranges past what a frame or the model holds, and a
// failing transport. Nothing may reach past a buffer (the sanitizer build
// checks that), and every command must come back with a status.

#include "tst_device_fixture.h"

#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <tuple>

using namespace linktest;

namespace {

// (command, sub-command) of each frame, with repeats of the same pair collapsed.
QStringList commandRuns(const QList<QByteArray> &frames)
{
    QStringList out;
    for (const QByteArray &f : frames) {
        const QString pair = QString::asprintf("%02x/%02x", byteAt(f, 0), byteAt(f, 1));
        if (out.isEmpty() || out.last() != pair)
            out.append(pair);
    }
    return out;
}

template <typename T> QByteArray raw(const T *p, int n = 1)
{
    return QByteArray(reinterpret_cast<const char *>(p), int(sizeof(T)) * n);
}

QByteArray num(qint64 n)
{
    return QByteArray::number(n);
}

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
    if (byteAt(r, 0) == 0xB0)
        return QByteArray(); // no Bluetooth
    QByteArray a = r.left(2) + QByteArray(62, char(0xFF));
    // Patches over the 0xFF bytes: command << 8 | sub-command, offset, bytes.
    const std::tuple<int, int, QByteArray> patches[] = {
        {0x2010, 8, r.mid(8, 3)}, // key codes: the range asked for (checked by its echo)
        {0x3010, 8, r.mid(8, 2)}, // colours: from the key asked for up to key 255
        {0x4010, 2, "\x38"},      // a key-function record (56 bytes)
        {0x5001, 2, QByteArray("\x18\0", 2)}, // a macro head (24 bytes)
        {0x6021, 2, QByteArray("\x0c\0", 2)}, // a lighting record (12 bytes)
        {0x5030, 4, "\xff\x01"},              // frames from 511 of 512, 0xFFFF bytes claimed
        {0x5040, 2, QByteArray("\x04\0", 2) + r.mid(4, 2) + QByteArray(6, 0)}, // written
        {0x5003, 8, QByteArray(4, 0)}}; // the selection is accepted
    for (const auto &[command, at, bytes] : patches) {
        if (command == (byteAt(r, 0) << 8 | byteAt(r, 1)))
            a.replace(at, bytes.size(), bytes);
    }
    return a;
}

} // namespace

class TestDeviceLoad : public QObject
{
    Q_OBJECT

private slots:
    void fullLoadFillsTheModel_data()
    {
        QTest::addColumn<int>("personality");
        QTest::addColumn<QStringList>("order");
        const QStringList dual = {"10/10", "10/40", "10/11", "10/20", "10/30", "10/50",
                                  "20/00", "20/01", "20/10", "30/00", "30/01", "30/10",
                                  "50/00", "50/01", "40/00", "40/10", "60/20", "60/21",
                                  "60/00", "60/01", "60/03", "b0/10", "b0/20"};
        QStringList bare = dual;
        for (const char *pair : {"30/10", "60/21", "60/03"})
            bare.removeAll(QLatin1String(pair));
        QTest::newRow("DualMode") << int(sim::Personality::DualMode) << dual;
        QTest::newRow("UsbOnly") << int(sim::Personality::UsbOnly) << dual;
        QTest::newRow("NoLighting") << int(sim::Personality::NoLighting) << bare;
    }

    void fullLoadFillsTheModel()
    {
        QFETCH(int, personality);
        SimLink s{sim::Personality(personality)};
        sim::SimKeyboard *kb = s.keyboard;
        // Some state that differs from a fresh keyboard.
        QVERIFY(kb->pressLayerKey(1));
        QVERIFY(kb->setMacro(4, "hello", QByteArray(30, '\x05')));
        QByteArray kf(56, '\0');
        kf[0] = char(0x40 | 2);
        kb->setKeyFunction(2, kf);
        kb->clearReceivedFrames();

        Device *d = s.device();
        QSignalSpy finished(d, &Device::emitFinishLoad);
        QSignalSpy failed(d, &Device::emitLoadDevInfoError);
        QCOMPARE(d->loadDevInfoSlot(), WK_SUCCESS);
        QCOMPARE(QPair(finished.count(), failed.count()), QPair(1, 0));
        QTEST(commandRuns(s.frames()), "order");

        // The model holds what the keyboard holds (without Bluetooth, both
        // the name and the sleep time stay empty).
        QVERIFY(d->releaseDate().startsWith("20")); // digits as characters
        QByteArrayList model, board;
        model << d->productNameBlock() << d->deviceIdBytes() << num(d->fwVersion())
              << num(d->scanSpeed()) << num(d->nKeyMode()) << d->userInfo() << num(d->kcmCount())
              << raw(d->keyCodes(), d->kcCount()) << raw(d->kfRecord(2)) << raw(d->macroHead(4))
              << d->btNameRecord() << num(d->sleepTimeMs());
        board << kb->productName() << kb->deviceId() << num(kb->firmwareVersion())
              << num(kb->scanSpeed()) << num(kb->nKey()) << kb->userInfo() << num(kb->keyMapCount())
              << kb->keyCodes(1) << kf << kb->macroHead(4) << kb->bluetoothName()
              << num(kb->sleepTime());
        if (kb->hasLighting()) {
            model << num(d->krmCount()) << raw(d->keyColours(), 4 * d->krCount())
                  << num(d->lmmCount()) << raw(d->modes(), d->lmCount()) << num(d->laCount());
            board << num(kb->colourMapCount()) << kb->keyColours(kb->currentColourMap())
                  << num(kb->modeMapCount()) << kb->modes(kb->currentModeMap()) << "32";
            for (int i = 0; i < d->laCount(); ++i) {
                model << raw(d->laRecord(i));
                board << kb->lightingRecord(i);
            }
        } else {
            QCOMPARE(int(d->krCount()) + int(d->lmCount()) + int(d->laCount()), 0);
            QCOMPARE(QPair(int(d->curKRM()), int(d->curLMM())), QPair(-1, -1));
            QCOMPARE(d->setKRRgb(0, 0xFFFFFFFF), WK_ERROR_OUT_OF_RANGE); // nothing to paint
        }
        QCOMPARE(model, board);
    }

    void aSilentKeyboardIsAskedAgain_data()
    {
        QTest::addColumn<int>("closing");
        QTest::newRow("answers the second time") << 0;
        QTest::newRow("closed by abortExchanges") << 1;
        QTest::newRow("closed by thread interruption") << 2;
    }

    void aSilentKeyboardIsAskedAgain()
    {
        // A keyboard that does not answer is asked again until it does; closing
        // the device ends the load without reporting a load error.
        QFETCH(int, closing);
        SimLink s;
        sim::Fault silent = fault(sim::FaultKind::NoAnswer, 0x10, 0x10);
        silent.count = closing ? -1 : 1;
        s.keyboard->injectFault(silent);
        Device *d = s.device();
        QSignalSpy finished(d, &Device::emitFinishLoad);
        QSignalSpy failed(d, &Device::emitLoadDevInfoError);
        std::atomic<uint32_t> result{0};
        QThread *loader = QThread::create([&] { result = d->loadDevInfoSlot(); });
        loader->start();
        QTRY_VERIFY(framesOf(s.frames(), 0x10, 0x10).size() >= 2);
        if (closing == 2) {
            // What the session does when it stops the device thread.
            loader->requestInterruption();
            QMutexLocker lock(&s.link->mutex);
            s.link->condition.wakeAll();
        } else if (closing == 1) {
            d->abortExchanges();
        }
        QVERIFY(loader->wait(10000));
        delete loader;
        QCOMPARE(result.load(), closing ? WK_ERROR_LOAD : WK_SUCCESS);
        QCOMPARE(QPair(finished.count(), failed.count()), QPair(closing ? 0 : 1, 0));
        if (closing) // nothing else was asked
            QCOMPARE(commandRuns(s.frames()), QStringList{"10/10"});
        else
            QCOMPARE(framesOf(s.frames(), 0x10, 0x10).size(), 2);
    }

    void failingStepEndsTheLoad()
    {
        SimLink s;
        s.keyboard->injectFault(fault(sim::FaultKind::WrongEcho, 0x50, 0x01)); // a macro head
        Device *d = s.device();
        QSignalSpy finished(d, &Device::emitFinishLoad);
        QSignalSpy failed(d, &Device::emitLoadDevInfoError);
        LogCapture log;
        QCOMPARE(d->loadDevInfoSlot(), WK_ERROR_LOAD);
        QCOMPARE(QPair(finished.count(), failed.count()), QPair(0, 1));
        QCOMPARE(log.count(QStringLiteral("get KM head=0 failed")), 1);
        QCOMPARE(log.count(QStringLiteral("Load Dev Info Slot error!")), 1);
        // Nothing after the failing step was asked.
        QCOMPARE(commandRuns(s.frames()).last(), QStringLiteral("50/01"));
    }

    void answersOfZerosAndShortReads()
    {
        constexpr int Zeros = 0, Full = 1, Short = 2;
        std::atomic<int> mode{Zeros};
        ScriptedBackend kb;
        kb.setHandler([&mode](const QByteArray &r) {
            if (mode == Zeros)
                return QByteArray(64, '\0');
            const QByteArray a = r.left(2) + "\x38" + QByteArray(61, char(0xAA)); // length 56
            return mode == Short ? a.left(3) : a;
        });
        Link link(&kb);
        Device *d = link.device;
        QCOMPARE(d->loadDevInfoSlot(), WK_SUCCESS);
        QCOMPARE(int(d->kcCount()) + int(d->kcmCount()) + int(d->krCount()) + int(d->kmCount()) +
                     int(d->laCount()) + int(d->lmCount()) + d->kfCount(),
                 0);
        QCOMPARE(int(d->curKRM()), -1); // byte 0 is not 0x30: no key colours
        // Every command still answers with a status; nothing reaches past a buffer.
        QCOMPARE(runEveryCommand(d).size(), 48);

        // Answers of three bytes: what they do not carry is 0, not what the
        // previous report left in the buffer.
        kf_t entry{};
        mode = Full;
        QCOMPARE(d->getKFItem(0, &entry), WK_SUCCESS);
        QCOMPARE(int(entry.head[0]), 0xAA);
        mode = Short;
        QCOMPARE(d->getKFItem(0, &entry), WK_SUCCESS);
        QCOMPARE(raw(&entry), QByteArray(56, '\0'));
    }

    void boastfulCountsStayInsideTheModel()
    {
        ScriptedBackend kb;
        kb.setHandler(boastfulAnswer);
        Link link(&kb);
        Device *d = link.device;
        for (auto step :
             {&Device::getKCInfo, &Device::getCurKCMID, &Device::getCurKCM, &Device::getKRInfo,
              &Device::getCurKRM, &Device::getLMInfo, &Device::getCurLMM, &Device::getLAInfo,
              &Device::getAllLA, &Device::getKFInfo, &Device::getAllKF, &Device::getKMInfo,
              &Device::getAllMacroHead})
            QCOMPARE((d->*step)(), WK_SUCCESS);
        QCOMPARE(int(d->kcCount()) + int(d->lmCount()) + int(d->laCount()) + int(d->kmCount()) +
                     d->kfCount(),
                 5 * 255);
        QCOMPARE(d->keyCode(254).attr, uint8_t(0xFF));
        QCOMPARE(d->getKRRgb(254), 0xFFFFFFFFu);
        QCOMPARE(int(d->macroHead(254)->frameCount()), 1023);
        QVERIFY(!d->macroHead(255) && !d->kfRecord(255) && !d->laRecord(255));

        // 1023 frames cannot be held: the first 512 are asked for, the answers
        // (start 511, 0xFFFF bytes) are cut at the end of the buffer, and the
        // caller learns that the macro is not complete.
        kb.clearFrames();
        QCOMPARE(d->readMacro(0), WK_ERROR_OUT_OF_RANGE);
        QCOMPARE(d->macroFramesHeld(), 512);
        QCOMPARE(framesOf(kb.frames(), 0x50, 0x30).size(), 103); // 102 rounds and 2 left
        QCOMPARE(d->macroFrames()[511].ts(), uint16_t(0xFFFF));

        // A keyboard that reports fewer keys afterwards gets a model of that size.
        kb.setHandler([](const QByteArray &r) {
            QByteArray a = answerTo(r);
            a[8] = 1;
            a[9] = 3;
            return a;
        });
        QCOMPARE(d->getKCInfo(), WK_SUCCESS);
        QCOMPARE(int(d->kcCount()), 3);
        QCOMPARE(d->keyCode(3).attr | d->keyCode(-1).attr, 0); // outside the map: empty entries
    }

    void failingTransportEndsEveryCommand()
    {
        ScriptedBackend kb;
        kb.setHandler([](const QByteArray &r) { return answerTo(r); });
        Link link(&kb);
        Device *d = link.device;
        QCOMPARE(d->getKMInfo(), WK_SUCCESS);

        // Nothing waits for an answer that cannot come.
        kb.setWriteFails(true);
        for (uint32_t st : runEveryCommand(d)) {
            QVERIFY2(st == WK_ERROR_WRITE || st == WK_ERROR_OUT_OF_RANGE || st == WK_SUCCESS,
                     qPrintable(QString::number(st, 16)));
        }
        QVERIFY(!link.waitingFlag());

        // The keyboard goes away: every command, and the load, end without
        // sending anything.
        kb.setWriteFails(false);
        kb.failReads();
        QTRY_VERIFY(!link.usb->isLinkUp());
        kb.clearFrames();
        for (uint32_t st : runEveryCommand(d))
            QVERIFY(st == WK_ERROR_TIMEOUT || st == WK_ERROR_OUT_OF_RANGE || st == WK_SUCCESS);
        QSignalSpy failed(d, &Device::emitLoadDevInfoError);
        QCOMPARE(d->loadDevInfoSlot(), WK_ERROR_LOAD);
        QCOMPARE(failed.count(), 1);
        QCOMPARE(kb.frames().size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestDeviceLoad)
#include "tst_device_load.moc"

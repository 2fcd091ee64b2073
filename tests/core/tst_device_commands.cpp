// The command exchange and the configuration commands of the device model,
// checked at the wire: the frames the keyboard received, what it answered,
// and what the model holds afterwards.

#include "tst_device_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>

using namespace linktest;

using Ranges = QList<QPair<int, int>>;

namespace {

QByteArray kcBytes(const Device *d)
{
    return QByteArray(reinterpret_cast<const char *>(d->keyCodes()), 4 * d->kcCount());
}

// A scripted keyboard with one map of `keys` key codes and colours and
// `modes` lighting-mode entries, answering range reads with entry i = i.
QByteArray mapKeyboard(const QByteArray &req, int keys, int modes)
{
    const uint8_t cmd = byteAt(req, 0), sub = byteAt(req, 1);
    QByteArray a = answerTo(req);
    if ((cmd == 0x20 || cmd == 0x30) && sub == 0x00) {
        a[8] = 1;
        a[9] = char(keys);
    } else if (cmd == 0x60 && sub == 0x00) {
        a[8] = 1;
        a[9] = char(modes);
    } else if ((cmd == 0x20 || cmd == 0x30) && sub == 0x10) {
        const int first = byteAt(req, 9), last = byteAt(req, 10);
        a[8] = req[8];
        a[9] = char(first);
        a[10] = char(last);
        for (int k = first; k <= last && 12 + 4 * (k - first) < 64; ++k)
            a[12 + 4 * (k - first)] = char(k);
    } else if (cmd == 0x60 && sub == 0x03) {
        const int first = byteAt(req, 9), last = byteAt(req, 10);
        for (int k = first; k <= last && 12 + k - first < 64; ++k)
            a[12 + k - first] = char(k);
    }
    return a;
}

Ranges rangesOf(const QList<QByteArray> &frames)
{
    Ranges out;
    for (const QByteArray &f : frames)
        out.append({byteAt(f, 9), byteAt(f, 10)});
    return out;
}

sim::Fault fault(sim::FaultKind kind, int command = -1, int sub = -1)
{
    sim::Fault f;
    f.kind = kind;
    f.command = command;
    f.subCommand = sub;
    return f;
}

} // namespace

class TestDeviceCommands : public QObject
{
    Q_OBJECT

private slots:
    void requestFramesCarryNoChecksum();
    void keyMapsAreReadInChunksOfThirteen_data();
    void keyMapsAreReadInChunksOfThirteen();
    void modeMapsAreReadInChunksOfFortyEight_data();
    void modeMapsAreReadInChunksOfFortyEight();
    void mapsMatchTheKeyboard();
    void setKCChecksStatusAndEcho();
    void keyColoursAndModesWriteOnlyWhatTheKeyboardTook();
    void boardsWithoutLightingLoadAsAbsent();
    void deviceSettersStoreOnlyConfirmedValues();
    void lightingRecordAndKeyFunctionItems();
    void timeoutsKeepTheModel();
    void longWaitIsBounded();
    void writeFailureLeavesTheFlagClear();
    void notificationsAreNeverTakenAsAnswers();
    void notificationFloodWhileCommandsRun();
    void bluetoothNameAndSleepTime();
    void factoryReset();
};

void TestDeviceCommands::requestFramesCarryNoChecksum()
{
    SimLink s;
    Device *d = s.device();
    QCOMPARE(d->getDeviceInfo(), WK_SUCCESS);
    QCOMPARE(d->setScanSpeed(300), WK_SUCCESS);
    QCOMPARE(d->getKCInfo(), WK_SUCCESS);
    QCOMPARE(d->getCurKCMID(), WK_SUCCESS);
    unsigned char keys[52];
    QCOMPARE(d->getKC(13, 25, keys), WK_SUCCESS);

    const QList<QByteArray> f = s.frames();
    QCOMPARE(f.size(), 5);
    // A null payload of length 0: everything after the sub-command is 0.
    QCOMPARE(f[0], QByteArray::fromHex("1010") + QByteArray(62, '\0'));
    QCOMPARE(f[1], QByteArray::fromHex("10210200000000002c01") + QByteArray(54, '\0'));
    QCOMPARE(f[4], QByteArray::fromHex("2010040000000000"
                                       "000d1900") +
                       QByteArray(52, '\0'));
    for (const QByteArray &frame : f) {
        QCOMPARE(frame.size(), 64);
        QCOMPARE(frame.mid(6, 2), QByteArray(2, '\0'));
    }
    // A payload that cannot fit a frame is refused before anything is written.
    const unsigned char big[57] = {};
    QCOMPARE(d->sendCmd(0x20, 0x11, 57, 0, big), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(s.frames().size(), 5);
}

void TestDeviceCommands::keyMapsAreReadInChunksOfThirteen_data()
{
    QTest::addColumn<int>("keys");
    QTest::addColumn<Ranges>("ranges");
    using R = Ranges;
    QTest::newRow("5 keys") << 5 << R{{0, 4}};
    QTest::newRow("13 keys") << 13 << R{{0, 12}};
    QTest::newRow("26 keys") << 26 << R{{0, 12}, {13, 25}};
    QTest::newRow("30 keys") << 30 << R{{0, 12}, {13, 25}, {26, 29}};
    QTest::newRow("no keys") << 0 << R{};
}

void TestDeviceCommands::keyMapsAreReadInChunksOfThirteen()
{
    QFETCH(int, keys);
    QFETCH(Ranges, ranges);
    ScriptedBackend kb;
    kb.setHandler([keys](const QByteArray &r) { return mapKeyboard(r, keys, 0); });
    Link link(&kb);
    Device *d = link.device;
    QCOMPARE(d->getKCInfo(), WK_SUCCESS);
    QCOMPARE(d->getKRInfo(), WK_SUCCESS);
    kb.clearFrames();
    QCOMPARE(d->getCurKCM(), WK_SUCCESS);
    QCOMPARE(d->getCurKRM(), WK_SUCCESS);
    QCOMPARE(rangesOf(framesOf(kb.frames(), 0x20, 0x10)), ranges);
    QCOMPARE(rangesOf(framesOf(kb.frames(), 0x30, 0x10)), ranges);
    for (int k = 0; k < keys; ++k) {
        QCOMPARE(int(d->keyCode(k).attr), k);
        QCOMPARE(int(d->keyColours()[4 * k]), k);
    }
}

void TestDeviceCommands::modeMapsAreReadInChunksOfFortyEight_data()
{
    QTest::addColumn<int>("entries");
    QTest::addColumn<Ranges>("ranges");
    using R = Ranges;
    QTest::newRow("100 entries") << 100 << R{{0, 47}, {48, 95}, {96, 99}};
    QTest::newRow("96 entries") << 96 << R{{0, 47}, {48, 95}};
    QTest::newRow("7 entries") << 7 << R{{0, 6}};
}

void TestDeviceCommands::modeMapsAreReadInChunksOfFortyEight()
{
    QFETCH(int, entries);
    QFETCH(Ranges, ranges);
    ScriptedBackend kb;
    kb.setHandler([entries](const QByteArray &r) { return mapKeyboard(r, 0, entries); });
    Link link(&kb);
    LogCapture log;
    QCOMPARE(link.device->getLMInfo(), WK_SUCCESS);
    QCOMPARE(int(link.device->lmCount()), entries);
    QCOMPARE(link.device->getCurLMM(), WK_SUCCESS);
    QCOMPARE(rangesOf(framesOf(kb.frames(), 0x60, 0x03)), ranges);
    for (int k = 0; k < entries; ++k)
        QCOMPARE(int(link.device->modes()[k]), k);
    QCOMPARE(log.count(QStringLiteral("m_nlm=%1 round=%2 mod=%3")
                           .arg(entries)
                           .arg(entries / 48)
                           .arg(entries % 48)),
             1);
}

void TestDeviceCommands::mapsMatchTheKeyboard()
{
    SimLink s;
    Device *d = s.device();
    QCOMPARE(d->getKCInfo(), WK_SUCCESS);
    QCOMPARE(d->getCurKCMID(), WK_SUCCESS);
    QCOMPARE(d->getCurKCM(), WK_SUCCESS);
    QCOMPARE(int(d->kcCount()), s.keyboard->keyCount());
    QCOMPARE(int(d->kcmCount()), s.keyboard->keyMapCount());
    QCOMPARE(kcBytes(d), s.keyboard->keyCodes(0));

    QVERIFY(s.keyboard->pressColourMapKey(2)); // the user switches maps on the keyboard
    QCOMPARE(d->getKRInfo(), WK_SUCCESS);
    QCOMPARE(d->getCurKRMID(), WK_SUCCESS);
    QCOMPARE(int(d->curKRM()), 2);
    QCOMPARE(d->getCurKRM(), WK_SUCCESS);
    const QByteArray colours = s.keyboard->keyColours(2);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(d->keyColours()), colours.size()), colours);
    const uint8_t *e = reinterpret_cast<const uint8_t *>(colours.constData()) + 4 * 7;
    QCOMPARE(d->getKRRgb(7), 0xFF000000u | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0]);
    QCOMPARE(d->getKRRgb(-1), 0u);
    QCOMPARE(d->getKRRgb(d->krCount()), 0u);

    QCOMPARE(d->getLMInfo(), WK_SUCCESS);
    QCOMPARE(d->getCurLMMID(), WK_SUCCESS);
    QCOMPARE(d->getCurLMM(), WK_SUCCESS);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(d->modes()), d->lmCount()),
             s.keyboard->modes(s.keyboard->currentModeMap()));
}

void TestDeviceCommands::setKCChecksStatusAndEcho()
{
    // The keyboard confirms with status 0 and echoes map, first and last key.
    // An echo naming another first key is not a confirmation.
    std::atomic<int> mode{0};
    ScriptedBackend kb;
    kb.setHandler([&mode](const QByteArray &r) {
        QByteArray a = mapKeyboard(r, 20, 0);
        if (byteAt(r, 0) == 0x20 && byteAt(r, 1) == 0x11) {
            put32(a, 8, mode == 2 ? 5 : 0);
            a[12] = r[8];
            a[13] = char(byteAt(r, 9) + (mode == 1 ? 1 : 0));
            a[14] = r[10];
        }
        return a;
    });
    Link link(&kb);
    Device *d = link.device;
    QCOMPARE(d->getKCInfo(), WK_SUCCESS);
    QCOMPARE(d->getCurKCMID(), WK_SUCCESS);
    QCOMPARE(d->getCurKCM(), WK_SUCCESS);
    const QByteArray before = kcBytes(d);
    const QByteArray entries = QByteArray::fromHex("0204000002050000");

    mode = 1; // wrong first key echoed
    QCOMPARE(d->setKC(3, 4, reinterpret_cast<const unsigned char *>(entries.constData())),
             WK_ERROR_VERIFY);
    QCOMPARE(kcBytes(d), before);
    mode = 2; // keyboard error
    QCOMPARE(d->setKC(3, 4, reinterpret_cast<const unsigned char *>(entries.constData())),
             WK_ERROR_VERIFY);
    QCOMPARE(kcBytes(d), before);
    mode = 0;
    QCOMPARE(d->setKC(3, 4, reinterpret_cast<const unsigned char *>(entries.constData())),
             WK_SUCCESS);
    QCOMPARE(kcBytes(d).mid(12, 8), entries);
    QCOMPARE(kcBytes(d).left(12), before.left(12));
    const QByteArray sent = framesOf(kb.frames(), 0x20, 0x11).last();
    QCOMPARE(lenOf(sent), uint16_t(12));
    QCOMPARE(sent.mid(8, 12), QByteArray::fromHex("00030400") + entries);

    // Ranges the frame or the map cannot hold are refused before sending.
    const int sentBefore = kb.frames().size();
    const QByteArray fourteen(56, '\0');
    auto *p = reinterpret_cast<const unsigned char *>(fourteen.constData());
    QCOMPARE(d->setKC(0, 13, p), WK_ERROR_OUT_OF_RANGE);  // 14 entries
    QCOMPARE(d->setKC(19, 20, p), WK_ERROR_OUT_OF_RANGE); // past the map of 20 keys
    QCOMPARE(d->setKC(5, 4, p), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(d->setKC(0, 0, nullptr), WK_ERROR_OUT_OF_RANGE);
    unsigned char dest[64];
    QCOMPARE(d->getKC(0, 13, dest), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(kb.frames().size(), sentBefore);
}

void TestDeviceCommands::keyColoursAndModesWriteOnlyWhatTheKeyboardTook()
{
    SimLink s;
    Device *d = s.device();
    QCOMPARE(d->getKRInfo(), WK_SUCCESS);
    QCOMPARE(d->getCurKRMID(), WK_SUCCESS);
    QCOMPARE(d->getCurKRM(), WK_SUCCESS);
    QCOMPARE(d->getLMInfo(), WK_SUCCESS);
    QCOMPARE(d->getCurLMMID(), WK_SUCCESS);
    QCOMPARE(d->getCurLMM(), WK_SUCCESS);

    QCOMPARE(d->setKRRgb(5, 0xFF102030), WK_SUCCESS);
    QCOMPARE(s.keyboard->keyColours(0).mid(20, 4), QByteArray::fromHex("30201000"));
    QCOMPARE(d->getKRRgb(5), 0xFF102030u);
    const QByteArray sent = s.frames().last();
    QCOMPARE(sent.left(16), QByteArray::fromHex("3011080000000000"
                                                "00050500"
                                                "30201000"));

    const unsigned char mode = 9;
    QCOMPARE(d->setLM(7, 7, &mode), WK_SUCCESS);
    QCOMPARE(int(uint8_t(s.keyboard->modes(0)[7])), 9);
    QCOMPARE(int(d->modes()[7]), 9);

    // A refused write is reported and does not reach the model.
    sim::Fault refuse = fault(sim::FaultKind::ErrorStatus);
    refuse.status = 0x02;
    s.keyboard->injectFault(refuse);
    QCOMPARE(d->setKRRgb(5, 0xFFFFFFFF), 0x02u);
    QCOMPARE(d->getKRRgb(5), 0xFF102030u);
    s.keyboard->injectFault(refuse);
    const unsigned char other = 3;
    QCOMPARE(d->setLM(7, 7, &other), 0x02u);
    QCOMPARE(int(d->modes()[7]), 9);

    const QByteArray many(60, '\0');
    auto *p = reinterpret_cast<const unsigned char *>(many.constData());
    QCOMPARE(d->setLM(0, 52, p), WK_ERROR_OUT_OF_RANGE); // 53 entries do not fit
    QCOMPARE(d->setKR(0, d->krCount(), p), WK_ERROR_OUT_OF_RANGE);
}

void TestDeviceCommands::boardsWithoutLightingLoadAsAbsent()
{
    SimLink s(sim::Personality::NoLighting);
    Device *d = s.device();
    QCOMPARE(d->getKRInfo(), WK_SUCCESS);
    QCOMPARE(int(d->krmCount()), 0);
    QCOMPARE(int(d->curKRM()), -1);
    QCOMPARE(int(d->krCount()), 0);
    QVERIFY(!d->keyColours());
    QCOMPARE(d->getCurKRMID(), WK_SUCCESS);
    QCOMPARE(int(d->curKRM()), -1); // no maps, no current one
    QCOMPARE(d->getCurKRM(), WK_SUCCESS);

    QCOMPARE(d->getLAInfo(), WK_SUCCESS);
    QCOMPARE(int(d->laCount()), 0);
    QCOMPARE(d->getLMInfo(), WK_SUCCESS);
    QCOMPARE(int(d->lmmCount()), 0);
    QCOMPARE(int(d->curLMM()), -1);
    QCOMPARE(int(d->lmCount()), 0);
    QCOMPARE(d->getCurLMM(), WK_SUCCESS);
    QCOMPARE(d->setKRRgb(0, 0xFFFFFFFF), WK_ERROR_OUT_OF_RANGE); // nothing to paint
}

void TestDeviceCommands::deviceSettersStoreOnlyConfirmedValues()
{
    SimLink s;
    Device *d = s.device();
    QCOMPARE(d->getScanSpeed(), WK_SUCCESS);
    QCOMPARE(d->getNKey(), WK_SUCCESS);
    QCOMPARE(d->getUserInfo(), WK_SUCCESS);
    QCOMPARE(d->setScanSpeed(4), WK_SUCCESS);
    QCOMPARE(d->scanSpeed(), uint16_t(4));
    QCOMPARE(s.keyboard->scanSpeed(), uint16_t(4));
    QCOMPARE(d->setNKey(0), WK_SUCCESS);
    QCOMPARE(int(d->nKeyMode()), 0);
    QCOMPARE(d->setUserInfo(QStringLiteral("hello")), WK_SUCCESS);
    QCOMPARE(d->userInfo(), QByteArray("hello") + QByteArray(43, '\0'));
    QCOMPARE(s.keyboard->userInfo(), d->userInfo());

    // Status 0 with another command's echo is not a confirmation of this one.
    s.keyboard->injectFault(fault(sim::FaultKind::WrongEcho));
    QCOMPARE(d->setScanSpeed(9), WK_SUCCESS);
    QCOMPARE(d->scanSpeed(), uint16_t(4));
    sim::Fault refuse = fault(sim::FaultKind::ErrorStatus);
    refuse.status = 0x04;
    s.keyboard->injectFault(refuse);
    QCOMPARE(d->setNKey(1), 0x04u);
    QCOMPARE(int(d->nKeyMode()), 0);

    // 48 bytes at most; longer text is cut.
    QCOMPARE(d->setUserInfo(QString(60, QLatin1Char('x'))), WK_SUCCESS);
    QCOMPARE(d->userInfo(), QByteArray(48, 'x'));
}

void TestDeviceCommands::lightingRecordAndKeyFunctionItems()
{
    SimLink s;
    Device *d = s.device();
    QCOMPARE(d->getLAInfo(), WK_SUCCESS);
    QCOMPARE(int(d->laCount()), 32);
    QCOMPARE(d->getAllLA(), WK_SUCCESS);
    for (int i = 0; i < 32; ++i) {
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(d->laRecord(i)), 12),
                 s.keyboard->lightingRecord(i));
    }
    la_t *r = d->laRecord(3);
    r->setHighestLevel(17);
    QCOMPARE(d->setLAItem(r), WK_SUCCESS);
    QCOMPARE(s.keyboard->lightingRecord(3), QByteArray(reinterpret_cast<const char *>(r), 12));
    QVERIFY(!d->laRecord(32));

    // A record answer with a wrong echo leaves the record and reports it.
    const la_t kept = *d->laRecord(4);
    s.keyboard->injectFault(fault(sim::FaultKind::WrongEcho));
    QCOMPARE(d->getLAItem(4, d->laRecord(4)), WK_ERROR_VERIFY);
    QCOMPARE(std::memcmp(&kept, d->laRecord(4), 12), 0);

    // Key functions: the item read is checked by its echo 0x40, 0x10, 56.
    QCOMPARE(d->getKFInfo(), WK_SUCCESS);
    QCOMPARE(d->kfCount(), s.keyboard->keyFunctionCount());
    QByteArray entry(56, '\0');
    entry[0] = char(0x40 | 6); // id 6, in use
    entry[20] = 3;
    s.keyboard->setKeyFunction(6, entry);
    QCOMPARE(d->getAllKF(), WK_SUCCESS);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(d->kfRecord(6)), 56), entry);
    QVERIFY(d->kfRecord(6)->inUse());
    s.keyboard->injectFault(fault(sim::FaultKind::WrongEcho));
    kf_t copy = *d->kfRecord(6);
    QCOMPARE(d->getKFItem(6, &copy), WK_ERROR_VERIFY);
    QCOMPARE(std::memcmp(&copy, d->kfRecord(6), 56), 0);

    // Writing an entry passed as a copy updates the model's entry of that id.
    copy.setParam1(9);
    QCOMPARE(d->setKFItem(&copy), WK_SUCCESS);
    QCOMPARE(d->kfRecord(6)->param1(), 9u);
    QCOMPARE(s.keyboard->keyFunction(6).mid(20, 4), QByteArray::fromHex("09000000"));
    sim::Fault refuse = fault(sim::FaultKind::ErrorStatus);
    refuse.status = 0x02;
    s.keyboard->injectFault(refuse);
    copy.setParam1(10);
    QCOMPARE(d->setKFItem(&copy), 0x02u);
    QCOMPARE(d->kfRecord(6)->param1(), 9u);
}

void TestDeviceCommands::timeoutsKeepTheModel()
{
    SimLink s(sim::Personality::UsbOnly); // no answer at all to group 0xB0
    Device *d = s.device();
    QCOMPARE(d->getScanSpeed(), WK_SUCCESS);
    const uint16_t speed = d->scanSpeed();
    LogCapture log;
    QElapsedTimer clock;

    s.keyboard->injectFault(fault(sim::FaultKind::NoAnswer));
    clock.start();
    QCOMPARE(d->getDeviceInfo(), WK_ERROR_TIMEOUT);
    QVERIFY(clock.elapsed() < 3000);

    s.keyboard->injectFault(fault(sim::FaultKind::NoAnswer));
    QCOMPARE(d->getScanSpeed(), WK_ERROR_TIMEOUT);
    QCOMPARE(d->scanSpeed(), speed);

    QCOMPARE(d->getBtName(), WK_ERROR_TIMEOUT);
    QCOMPARE(d->getSleepTime(), WK_ERROR_TIMEOUT);
    QCOMPARE(d->btNameRecord(), QByteArray(12, '\0'));
    QCOMPARE(log.count(QStringLiteral("getBtName WK_ERROR_TIMEOUT=ee00000d")), 1);
    QCOMPARE(log.count(QStringLiteral("getSleepTime WK_ERROR_TIMEOUT=ee00000d")), 1);

    // A late answer to a command that gave up is not taken by the next one.
    sim::Fault late = fault(sim::FaultKind::LateAnswer);
    late.delayMs = 700;
    s.keyboard->injectFault(late);
    QCOMPARE(d->getDeviceInfo(), WK_ERROR_TIMEOUT);
    QTest::qWait(400); // the late answer arrives and is set aside
    QCOMPARE(d->getScanSpeed(), WK_SUCCESS);
    QCOMPARE(d->scanSpeed(), speed);
    QCOMPARE(d->getDeviceInfo(), WK_SUCCESS);
    QCOMPARE(d->productNameBlock(), s.keyboard->productName());
}

void TestDeviceCommands::longWaitIsBounded()
{
    SimLink s;
    s.keyboard->injectFault(fault(sim::FaultKind::NoAnswer));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(s.device()->setFactoryReset(), WK_ERROR_TIMEOUT);
    QVERIFY(clock.elapsed() < 15000); // returned instead of blocking for ever
    QVERIFY(!s.link->waitingFlag());
    QCOMPARE(s.device()->getNKey(), WK_SUCCESS); // the link still works
}

void TestDeviceCommands::writeFailureLeavesTheFlagClear()
{
    SimLink s;
    Device *d = s.device();
    QSignalSpy notified(d, &Device::emitNotify);
    s.keyboard->injectFault(fault(sim::FaultKind::WriteFailure));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(d->setNKey(0), WK_ERROR_WRITE);
    QVERIFY(clock.elapsed() < 1000);
    QVERIFY(!s.link->waitingFlag());
    QCOMPARE(s.keyboard->receivedFrames().size(), 0);
    // Nothing waits: a report now is unsolicited.
    s.keyboard->sendNotification(0x20, QByteArray::fromHex("0001"));
    QTRY_COMPARE(notified.count(), 1);
    QCOMPARE(d->setNKey(0), WK_SUCCESS);
}

void TestDeviceCommands::notificationsAreNeverTakenAsAnswers()
{
    SimLink s;
    Device *d = s.device();
    QSignalSpy notified(d, &Device::emitNotify);

    // No command waits: the notification goes to the main window, by value.
    s.keyboard->sendNotification(0x60, QByteArray::fromHex("0102"));
    QTRY_COMPARE(notified.count(), 1);
    const HidReport first = notified.takeFirst().at(0).value<HidReport>();
    QCOMPARE(int(first[0]), 0xF0);
    QCOMPARE(int(first[1]), 0x60);
    QCOMPARE(int(first.length()), 2);
    QCOMPARE(int(first[9]), 0x02);
    // Only slots lent by the transport are read; any other pointer is ignored.
    uint8_t foreign[64] = {0xF0, 0x20, 2};
    d->recvCmdSlot(foreign);
    QCOMPARE(notified.count(), 0);

    // A command waits: a notification arriving first is still a notification,
    // and the answer after it is the command's.
    s.keyboard->injectFault(fault(sim::FaultKind::NoAnswer));
    std::atomic<uint32_t> result{1};
    QThread *caller = QThread::create([&] { result = d->getNKey(); });
    caller->start();
    QTRY_VERIFY(s.link->waitingFlag());
    s.keyboard->sendNotification(0x20, QByteArray::fromHex("0003"));
    QByteArray answer(64, '\0');
    answer[0] = 0x10;
    answer[1] = 0x50;
    answer[2] = 1;
    answer[8] = 0x07;
    s.keyboard->sendRawReport(answer);
    QVERIFY(caller->wait(5000));
    delete caller;
    QCOMPARE(result.load(), WK_SUCCESS);
    QCOMPARE(int(d->nKeyMode()), 7);
    QTRY_COMPARE(notified.count(), 1);
    QCOMPARE(int(notified.at(0).at(0).value<HidReport>()[9]), 0x03);
}

void TestDeviceCommands::notificationFloodWhileCommandsRun()
{
    SimLink s;
    Device *d = s.device();
    // As in the session: the model's own thread handles the unsolicited
    // reports while commands are called from this (the pages') thread.
    QThread deviceThread;
    d->moveToThread(&deviceThread);
    deviceThread.start();
    struct Home
    {
        Device *d;
        QThread &thread;
        ~Home()
        {
            QThread *home = QThread::currentThread();
            QMetaObject::invokeMethod(
                d, [this, home] { d->moveToThread(home); }, Qt::BlockingQueuedConnection);
            thread.quit();
            thread.wait();
        }
    } back{d, deviceThread};
    std::atomic<int> notified{0};
    QObject::connect(
        d, &Device::emitNotify, d,
        [&](const HidReport &r) {
            if (r[0] == 0xF0 && r[1] == 0x21 && r[8] == r[63])
                ++notified;
        },
        Qt::DirectConnection);

    QCOMPARE(d->getKCInfo(), WK_SUCCESS);
    QCOMPARE(d->getCurKCMID(), WK_SUCCESS);
    std::atomic<bool> flooding{true};
    std::atomic<int> sent{0};
    QThread *flood = QThread::create([&] {
        while (flooding) {
            s.keyboard->sendNotification(0x21, QByteArray(56, char(sent.load() & 0x7F)));
            ++sent;
            QThread::usleep(200);
        }
    });
    flood->start();
    struct Stop
    {
        std::atomic<bool> &flag;
        QThread *thread;
        ~Stop()
        {
            flag = false;
            thread->wait();
            delete thread;
        }
    } stop{flooding, flood};

    const QByteArray map = s.keyboard->keyCodes(0);
    for (int round = 0; round < 40 || (sent < 500 && round < 5000); ++round) {
        QCOMPARE(d->getCurKCM(), WK_SUCCESS);
        QCOMPARE(kcBytes(d), map);
        QCOMPARE(d->getNKey(), WK_SUCCESS);
        QCOMPARE(int(d->nKeyMode()), int(s.keyboard->nKey()));
        QCOMPARE(d->getDeviceId(), WK_SUCCESS);
        QCOMPARE(d->deviceIdBytes(), s.keyboard->deviceId());
    }
    flooding = false;
    QVERIFY(sent >= 500);
    // Every notification is delivered intact, or counted as dropped.
    QTRY_COMPARE(quint64(notified.load()) + s.usb()->droppedReports(), quint64(sent.load()));
}

void TestDeviceCommands::bluetoothNameAndSleepTime()
{
    SimLink s;
    Device *d = s.device();
    QSignalSpy state(d, &Device::emitState);
    QCOMPARE(d->getBtName(), WK_SUCCESS);
    QCOMPARE(d->btNameRecord(), s.keyboard->bluetoothName());
    QCOMPARE(d->getSleepTime(), WK_SUCCESS);
    QCOMPARE(d->sleepTimeMs(), s.keyboard->sleepTime());

    // Twelve two-byte characters: the first 12 bytes of their UTF-8 form are sent.
    const QString name(12, QChar(0x00E9));
    QCOMPARE(d->setBtName(name), WK_SUCCESS);
    const QByteArray first12 = name.toUtf8().left(12);
    QCOMPARE(s.frames().last().mid(2, 2), QByteArray::fromHex("0c00"));
    QCOMPARE(s.frames().last().mid(8, 12), first12);
    QCOMPARE(s.keyboard->bluetoothName(), first12);
    QCOMPARE(d->btNameRecord(), first12);
    QCOMPARE(state.count(), 1);
    QCOMPARE(state.at(0).at(0).toInt(), 1);
    QCOMPARE(state.at(0).at(1).toInt(), 0);

    QCOMPARE(d->setSleepTime(300000), WK_SUCCESS);
    QCOMPARE(d->setSleepTime(0), WK_SUCCESS);
    QCOMPARE(d->sleepTimeMs(), 0u);
    QCOMPARE(d->lastSleepTimeMs(), 300000u);
    QCOMPARE(s.keyboard->sleepTime(), 0u);

    // A refused change is shown and does not reach the model.
    sim::Fault refuse = fault(sim::FaultKind::ErrorStatus);
    refuse.status = 0x03;
    s.keyboard->injectFault(refuse);
    QCOMPARE(d->setBtName(QStringLiteral("other")), 0x03u);
    QCOMPARE(d->btNameRecord(), first12);
    s.keyboard->injectFault(refuse);
    QCOMPARE(d->setSleepTime(60000), 0x03u);
    QCOMPARE(d->sleepTimeMs(), 0u);
    QCOMPARE(d->lastSleepTimeMs(), 300000u);
    QCOMPARE(state.count(), 5);
    QCOMPARE(state.at(3).at(1).toInt(), 3);
    QCOMPARE(state.at(4).at(1).toInt(), 3);
}

void TestDeviceCommands::factoryReset()
{
    SimLink s;
    Device *d = s.device();
    QCOMPARE(d->setNKey(0), WK_SUCCESS);
    QCOMPARE(d->setScanSpeed(8), WK_SUCCESS);
    QCOMPARE(d->setFactoryReset(), WK_SUCCESS);
    QCOMPARE(s.frames().last(), QByteArray::fromHex("1060") + QByteArray(62, '\0'));
    QCOMPARE(int(s.keyboard->nKey()), 1);
    QCOMPARE(s.keyboard->scanSpeed(), uint16_t(1));

    sim::Fault refuse = fault(sim::FaultKind::ErrorStatus);
    refuse.status = 0x05;
    s.keyboard->injectFault(refuse);
    QCOMPARE(d->setFactoryReset(), 0x05u);
    s.keyboard->injectFault(fault(sim::FaultKind::WrongEcho));
    QCOMPARE(d->setFactoryReset(), WK_ERROR_VERIFY);
    s.keyboard->injectFault(fault(sim::FaultKind::WriteFailure));
    QCOMPARE(d->setFactoryReset(), WK_ERROR_WRITE);
}

QTEST_GUILESS_MAIN(TestDeviceCommands)
#include "tst_device_commands.moc"

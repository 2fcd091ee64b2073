// The command exchange, the configuration commands and the macro transfers of
// the device model, checked at the wire: the frames the keyboard received,
// what it answered, what the model holds afterwards, and the status a failed
// command or transfer reports.

#include "tst_device_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <vector>

using namespace linktest;
using sim::FaultKind;

using Ranges = QList<QPair<int, int>>;

namespace {

QByteArray kcBytes(const Device *d)
{
    return QByteArray(reinterpret_cast<const char *>(d->keyCodes()), 4 * d->kcCount());
}

const unsigned char *u8(const QByteArray &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.constData());
}

// A scripted keyboard with one map of `keys` key codes and colours and
// `modes` lighting-mode entries, answering range reads with entry i = i.
QByteArray mapKeyboard(const QByteArray &req, int keys, int modes)
{
    const uint8_t cmd = byteAt(req, 0), sub = byteAt(req, 1);
    const int first = byteAt(req, 9), last = byteAt(req, 10);
    QByteArray a = answerTo(req);
    if ((cmd == 0x20 || cmd == 0x30 || cmd == 0x60) && sub == 0x00) {
        a[8] = 1;
        a[9] = char(cmd == 0x60 ? modes : keys);
    } else if (sub == (cmd == 0x60 ? 0x03 : 0x10)) { // a range read, echoed
        const int size = cmd == 0x60 ? 1 : 4;
        a.replace(8, 3, req.mid(8, 3));
        for (int k = first; k <= last && 12 + size * (k - first) < 64; ++k)
            a[12 + size * (k - first)] = char(k);
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

std::vector<mframe_t> makeFrames(int n)
{
    std::vector<mframe_t> frames(size_t(std::max(n, 1)));
    for (int i = 0; i < n; ++i) {
        mframe_t &f = frames[size_t(i)];
        f.setTs(uint16_t(i * 3 + 1));
        f.modifiers = uint8_t(i);
        f.keys[0] = uint8_t(4 + i % 26);
        f.keys[5] = uint8_t(i >> 8);
    }
    return frames;
}

QByteArray bytesOf(const mframe_t *frames, int n)
{
    return QByteArray(reinterpret_cast<const char *>(frames), 10 * n);
}

// A fault on the `atFrame`th frame since the last clear, of macro sub-command `sub`.
sim::Fault faultOn(sim::FaultKind kind, int sub, int atFrame = -1, uint32_t status = 0)
{
    sim::Fault f = fault(kind, 0x50, sub, status);
    f.atFrame = atFrame;
    return f;
}

// A simulated keyboard with its macro heads loaded into the model.
struct MacroLink : SimLink
{
    MacroLink()
    {
        ok = device()->getKMInfo() == WK_SUCCESS && device()->getAllMacroHead() == WK_SUCCESS;
        keyboard->clearReceivedFrames();
    }
    QList<QByteArray> macroFrames(uint8_t sub) const { return framesOf(frames(), 0x50, sub); }
    bool ok = false;
};

} // namespace

class TestDeviceCommands : public QObject
{
    Q_OBJECT

private slots:
    void mapsAreReadInChunks_data();
    void mapsAreReadInChunks();
    void keyCodesAreCheckedByTheirEcho();
    void paintingIgnoresTheAnswerStatus();
    void settersStoreOnlyConfirmedValues();
    void lightingRecordsAndKeyFunctions();
    void timeoutsKeepTheModel();
    void notificationsAreNeverTakenAsAnswers();
    void bluetoothNameAndSleepTime();
    void writeAndReadBack_data();
    void writeAndReadBack();
    void unexpectedWriteArgumentCostsAnAttempt();
    void badReadAnswerCostsAnAttempt();
    void transferFailuresAreReported();
    void deleteAndRename();
    void refusedBeforeSendingAndSwitches();
};

void TestDeviceCommands::mapsAreReadInChunks_data()
{
    QTest::addColumn<int>("keys");
    QTest::addColumn<Ranges>("keyRanges");
    QTest::addColumn<int>("modes");
    QTest::addColumn<Ranges>("modeRanges");
    using R = Ranges;
    QTest::newRow("one chunk") << 5 << R{{0, 4}} << 7 << R{{0, 6}};
    QTest::newRow("exact chunks") << 26 << R{{0, 12}, {13, 25}} << 96 << R{{0, 47}, {48, 95}};
    QTest::newRow("chunks and a rest")
        << 27 << R{{0, 12}, {13, 25}, {26, 26}} << 97 << R{{0, 47}, {48, 95}, {96, 96}};
    QTest::newRow("empty maps") << 0 << R{} << 0 << R{};
}

void TestDeviceCommands::mapsAreReadInChunks()
{
    // Key codes and colours in chunks of 13 entries, modes in chunks of 48.
    QFETCH(int, keys);
    QFETCH(int, modes);
    ScriptedBackend kb;
    kb.setHandler([keys, modes](const QByteArray &r) { return mapKeyboard(r, keys, modes); });
    Link link(&kb);
    Device *d = link.device;
    LogCapture log;
    QCOMPARE(d->getKCInfo(), WK_SUCCESS);
    QCOMPARE(d->getKRInfo(), WK_SUCCESS);
    QCOMPARE(d->getLMInfo(), WK_SUCCESS);
    QCOMPARE(d->getCurKCM(), WK_SUCCESS);
    QCOMPARE(d->getCurKRM(), WK_SUCCESS);
    QCOMPARE(d->getCurLMM(), WK_SUCCESS);
    QTEST(rangesOf(framesOf(kb.frames(), 0x20, 0x10)), "keyRanges");
    QTEST(rangesOf(framesOf(kb.frames(), 0x30, 0x10)), "keyRanges");
    QTEST(rangesOf(framesOf(kb.frames(), 0x60, 0x03)), "modeRanges");
    for (int k = 0; k < keys; ++k) {
        QCOMPARE(int(d->keyCode(k).attr), k);
        QCOMPARE(int(d->keyColours()[4 * k]), k);
    }
    for (int k = 0; k < modes; ++k)
        QCOMPARE(int(d->modes()[k]), k);
    const QString plan = QStringLiteral("m_nlm=%1 round=%2 mod=%3");
    QCOMPARE(log.count(plan.arg(modes).arg(modes / 48).arg(modes % 48)), 1);
}

void TestDeviceCommands::keyCodesAreCheckedByTheirEcho()
{
    // Reads and writes of key codes count only when the answer echoes the map
    // and range asked for (a write also needs status 0).
    constexpr int Good = 0, WrongWriteEcho = 1, WriteRefused = 2, WrongReadEcho = 3;
    std::atomic<int> mode{Good};
    ScriptedBackend kb;
    kb.setHandler([&mode](const QByteArray &r) {
        QByteArray a = mapKeyboard(r, 20, 0);
        if (byteAt(r, 0) == 0x20 && byteAt(r, 1) == 0x11) {
            a[8] = char(mode == WriteRefused ? 5 : 0); // the status
            a[12] = r[8];
            a[13] = char(byteAt(r, 9) + (mode == WrongWriteEcho ? 1 : 0));
            a[14] = r[10];
        } else if (byteAt(r, 0) == 0x20 && byteAt(r, 1) == 0x10 && mode == WrongReadEcho) {
            a[9] = char(byteAt(a, 9) + 1); // the answer to another range
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

    for (int m : {WrongWriteEcho, WriteRefused}) {
        mode = m;
        QCOMPARE(d->setKC(3, 4, u8(entries)), WK_ERROR_VERIFY);
        QCOMPARE(kcBytes(d), before);
    }
    mode = WrongReadEcho;
    QByteArray dest(8, 'x');
    QCOMPARE(d->getKC(3, 4, reinterpret_cast<unsigned char *>(dest.data())), WK_ERROR_VERIFY);
    QCOMPARE(dest, QByteArray(8, 'x'));
    QCOMPARE(d->getCurKCM(), WK_ERROR_VERIFY);
    QCOMPARE(kcBytes(d), before);

    mode = Good;
    QCOMPARE(d->setKC(3, 4, u8(entries)), WK_SUCCESS);
    QCOMPARE(kcBytes(d), before.left(12) + entries + before.mid(20));
    const QByteArray sent = framesOf(kb.frames(), 0x20, 0x11).last();
    QCOMPARE(sent.left(20), QByteArray::fromHex("20110c000000000000030400") + entries);

    // Ranges the frame or the map cannot hold are refused before sending.
    const int sentBefore = kb.frames().size();
    const QByteArray zeros(56, '\0');
    QCOMPARE(d->setKC(0, 13, u8(zeros)), WK_ERROR_OUT_OF_RANGE);  // 14 entries
    QCOMPARE(d->setKC(19, 20, u8(zeros)), WK_ERROR_OUT_OF_RANGE); // past the 20 keys
    QCOMPARE(d->setKC(5, 4, u8(zeros)), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(d->getKC(0, 13, reinterpret_cast<unsigned char *>(dest.data())),
             WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(d->sendCmd(0x20, 0x11, 57, 0, u8(zeros + "x")), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(kb.frames().size(), sentBefore);
}

void TestDeviceCommands::paintingIgnoresTheAnswerStatus()
{
    // The T88 answers colour and mode writes with the request echoed back, so
    // bytes 8-11 hold map, first, last, 0 instead of a status. A completed
    // exchange is still a stored and successful write.
    SimLink s(sim::Personality::UsbOnly);
    Device *d = s.device();
    QVERIFY(s.keyboard->pressColourMapKey(1));
    for (auto step : {&Device::getKRInfo, &Device::getCurKRMID, &Device::getCurKRM,
                      &Device::getLMInfo, &Device::getCurLMMID, &Device::getCurLMM})
        QCOMPARE((d->*step)(), WK_SUCCESS);

    QCOMPARE(d->setKRRgb(5, 0xFF102030), WK_SUCCESS);
    QCOMPARE(s.keyboard->keyColours(1).mid(20, 4), QByteArray::fromHex("30201000"));
    QCOMPARE(d->getKRRgb(5), 0xFF102030u);
    QCOMPARE(s.frames().last().left(16), QByteArray::fromHex("3011080000000000"
                                                             "01050500"
                                                             "30201000"));
    const unsigned char mode = 9;
    QCOMPARE(d->setLM(7, 7, &mode), WK_SUCCESS);
    QCOMPARE(int(uint8_t(s.keyboard->modes(0)[7])), 9);
    QCOMPARE(int(d->modes()[7]), 9);

    // A write that fails or is never answered is a failure, and not stored.
    s.keyboard->injectFault(fault(FaultKind::WriteFailure));
    const unsigned char other = 3;
    QCOMPARE(d->setLM(7, 7, &other), WK_ERROR_WRITE);
    QCOMPARE(int(d->modes()[7]), 9);
    s.keyboard->injectFault(fault(FaultKind::NoAnswer));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(d->setKRRgb(5, 0xFFFFFFFF), WK_ERROR_TIMEOUT);
    QVERIFY(clock.elapsed() < 15000); // the long wait ends instead of blocking for ever
    QVERIFY(!s.link->waitingFlag());
    QCOMPARE(d->getKRRgb(5), 0xFF102030u);
    QCOMPARE(d->getKRRgb(-1), 0u);
    QCOMPARE(d->getKRRgb(d->krCount()), 0u);

    const QByteArray many(60, '\0');
    QCOMPARE(d->setLM(0, 52, u8(many)), WK_ERROR_OUT_OF_RANGE); // 53 entries do not fit
    QCOMPARE(d->setKR(0, d->krCount(), u8(many)), WK_ERROR_OUT_OF_RANGE);
}

void TestDeviceCommands::settersStoreOnlyConfirmedValues()
{
    SimLink s;
    Device *d = s.device();
    QCOMPARE(d->setScanSpeed(4), WK_SUCCESS);
    QCOMPARE(d->scanSpeed(), uint16_t(4));
    QCOMPARE(s.keyboard->scanSpeed(), uint16_t(4));
    QCOMPARE(d->setNKey(0), WK_SUCCESS);
    QCOMPARE(int(d->nKeyMode()), 0);
    QCOMPARE(d->setUserInfo(QString(60, QLatin1Char('x'))), WK_SUCCESS); // cut to 48 bytes
    QCOMPARE(d->userInfo(), QByteArray(48, 'x'));
    QCOMPARE(s.keyboard->userInfo(), d->userInfo());

    // Status 0 with another command's echo is not a confirmation of this one.
    s.keyboard->injectFault(fault(FaultKind::WrongEcho));
    QCOMPARE(d->setScanSpeed(9), WK_SUCCESS);
    QCOMPARE(d->scanSpeed(), uint16_t(4));
    s.keyboard->injectFault(fault(FaultKind::ErrorStatus, -1, -1, 0x04));
    QCOMPARE(d->setNKey(1), 0x04u);
    QCOMPARE(int(d->nKeyMode()), 0);

    QCOMPARE(d->setFactoryReset(), WK_SUCCESS);
    QCOMPARE(s.frames().last(), QByteArray::fromHex("1060") + QByteArray(62, '\0'));
    QCOMPARE(int(s.keyboard->nKey()), 1);
    QCOMPARE(s.keyboard->scanSpeed(), uint16_t(1));
    s.keyboard->injectFault(fault(FaultKind::ErrorStatus, -1, -1, 0x05));
    QCOMPARE(d->setFactoryReset(), 0x05u);
    s.keyboard->injectFault(fault(FaultKind::WrongEcho));
    QCOMPARE(d->setFactoryReset(), WK_ERROR_VERIFY);
    s.keyboard->injectFault(fault(FaultKind::WriteFailure));
    QCOMPARE(d->setFactoryReset(), WK_ERROR_WRITE);
    QVERIFY(!s.link->waitingFlag());
}

void TestDeviceCommands::lightingRecordsAndKeyFunctions()
{
    SimLink s;
    Device *d = s.device();
    QCOMPARE(d->getLAInfo(), WK_SUCCESS);
    QCOMPARE(d->getAllLA(), WK_SUCCESS);
    la_t *r = d->laRecord(3);
    r->setHighestLevel(17);
    QCOMPARE(d->setLAItem(r), WK_SUCCESS);
    QCOMPARE(s.keyboard->lightingRecord(3), QByteArray(reinterpret_cast<const char *>(r), 12));
    QVERIFY(!d->laRecord(32));

    // Records are read only from answers echoing 0x60/0x21 (0x40/0x10 for a
    // key function) with their length; anything else leaves them alone.
    const la_t kept = *d->laRecord(4);
    s.keyboard->injectFault(fault(FaultKind::WrongEcho));
    QCOMPARE(d->getLAItem(4, d->laRecord(4)), WK_ERROR_VERIFY);
    QCOMPARE(std::memcmp(&kept, d->laRecord(4), 12), 0);

    QCOMPARE(d->getKFInfo(), WK_SUCCESS);
    QByteArray entry(56, '\0');
    entry[0] = char(0x40 | 6); // id 6, in use
    entry[20] = 3;
    s.keyboard->setKeyFunction(6, entry);
    QCOMPARE(d->getAllKF(), WK_SUCCESS);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(d->kfRecord(6)), 56), entry);
    s.keyboard->injectFault(fault(FaultKind::WrongEcho));
    kf_t copy = *d->kfRecord(6);
    QCOMPARE(d->getKFItem(6, &copy), WK_ERROR_VERIFY);
    QCOMPARE(std::memcmp(&copy, d->kfRecord(6), 56), 0);

    // Writing an entry passed as a copy updates the model's entry of that id,
    // unless the keyboard refuses it.
    copy.setParam1(9);
    QCOMPARE(d->setKFItem(&copy), WK_SUCCESS);
    QCOMPARE(d->kfRecord(6)->param1(), 9u);
    QCOMPARE(s.keyboard->keyFunction(6).mid(20, 4), QByteArray::fromHex("09000000"));
    s.keyboard->injectFault(fault(FaultKind::ErrorStatus, -1, -1, 0x02));
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

    s.keyboard->injectFault(fault(FaultKind::NoAnswer));
    QCOMPARE(d->getDeviceInfo(), WK_ERROR_TIMEOUT);
    s.keyboard->injectFault(fault(FaultKind::NoAnswer));
    QCOMPARE(d->getScanSpeed(), WK_ERROR_TIMEOUT);
    QCOMPARE(d->scanSpeed(), speed);
    QCOMPARE(d->getBtName(), WK_ERROR_TIMEOUT);
    QCOMPARE(d->getSleepTime(), WK_ERROR_TIMEOUT);
    QCOMPARE(d->btNameRecord(), QByteArray(12, '\0'));
    QCOMPARE(log.count(QStringLiteral("getBtName WK_ERROR_TIMEOUT=ee00000d")), 1);
    QCOMPARE(log.count(QStringLiteral("getSleepTime WK_ERROR_TIMEOUT=ee00000d")), 1);

    // A late answer to a command that gave up is not taken by the next one.
    sim::Fault late = fault(FaultKind::LateAnswer);
    late.delayMs = 700;
    s.keyboard->injectFault(late);
    QCOMPARE(d->getDeviceInfo(), WK_ERROR_TIMEOUT);
    QTest::qWait(400); // the late answer arrives and is set aside
    QCOMPARE(d->getScanSpeed(), WK_SUCCESS);
    QCOMPARE(d->scanSpeed(), speed);
    QCOMPARE(d->getDeviceInfo(), WK_SUCCESS);
    QCOMPARE(d->productNameBlock(), s.keyboard->productName());
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
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(first.data()), 10),
             QByteArray::fromHex("f0600200000000000102"));
    // Only slots lent by the transport are read; any other pointer is ignored.
    uint8_t foreign[64] = {0xF0, 0x20, 2};
    d->recvCmdSlot(foreign);
    QCOMPARE(notified.count(), 0);

    // A command waits: a notification arriving first is still a notification,
    // and the answer after it is the command's.
    s.keyboard->injectFault(fault(FaultKind::NoAnswer));
    std::atomic<uint32_t> result{1};
    QThread *caller = QThread::create([&] { result = d->getNKey(); });
    caller->start();
    QTRY_VERIFY(s.link->waitingFlag());
    s.keyboard->sendNotification(0x20, QByteArray::fromHex("0003"));
    s.keyboard->sendRawReport(QByteArray::fromHex("105001000000000007"));
    QVERIFY(caller->wait(5000));
    delete caller;
    QCOMPARE(result.load(), WK_SUCCESS);
    QCOMPARE(int(d->nKeyMode()), 7);
    QTRY_COMPARE(notified.count(), 1);
    QCOMPARE(int(notified.at(0).at(0).value<HidReport>()[9]), 0x03);
}

void TestDeviceCommands::bluetoothNameAndSleepTime()
{
    SimLink s;
    Device *d = s.device();
    QSignalSpy state(d, &Device::emitState);
    // Twelve two-byte characters: the first 12 bytes of their UTF-8 form are sent.
    const QString name(12, QChar(0x00E9));
    const QByteArray first12 = name.toUtf8().left(12);
    QCOMPARE(d->setBtName(name), WK_SUCCESS);
    QCOMPARE(s.frames().last().left(20), QByteArray::fromHex("b0110c0000000000") + first12);
    QCOMPARE(s.keyboard->bluetoothName(), first12);
    QCOMPARE(d->btNameRecord(), first12);

    QCOMPARE(d->setSleepTime(300000), WK_SUCCESS);
    QCOMPARE(d->setSleepTime(0), WK_SUCCESS);
    QCOMPARE(d->sleepTimeMs(), 0u);
    QCOMPARE(d->lastSleepTimeMs(), 300000u);
    QCOMPARE(s.keyboard->sleepTime(), 0u);

    // A refused change is shown and does not reach the model.
    s.keyboard->injectFault(fault(FaultKind::ErrorStatus, -1, -1, 0x03));
    QCOMPARE(d->setBtName(QStringLiteral("other")), 0x03u);
    QCOMPARE(d->btNameRecord(), first12);
    s.keyboard->injectFault(fault(FaultKind::ErrorStatus, -1, -1, 0x03));
    QCOMPARE(d->setSleepTime(60000), 0x03u);
    QCOMPARE(d->sleepTimeMs(), 0u);
    QCOMPARE(d->lastSleepTimeMs(), 300000u);
    QList<int> shown;
    for (const QList<QVariant> &emission : state)
        shown << emission.at(0).toInt() << emission.at(1).toInt();
    QCOMPARE(shown, (QList<int>{1, 0, 1, 0, 1, 0, 1, 3, 1, 3}));
}

void TestDeviceCommands::writeAndReadBack_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("0 frames") << 0;
    QTest::newRow("3 frames") << 3;
    QTest::newRow("12 frames") << 12;
    QTest::newRow("300 frames") << 300;
}

void TestDeviceCommands::writeAndReadBack()
{
    QFETCH(int, count);
    MacroLink s;
    QVERIFY(s.ok);
    Device *d = s.device();
    const std::vector<mframe_t> frames = makeFrames(count);

    QCOMPARE(d->writeMacro(2, count, frames.data()), WK_SUCCESS);
    QCOMPARE(s.keyboard->selectedMacro(), 2);
    const QList<QByteArray> writes = s.macroFrames(0x40);
    const int rounds = count / 5, lefts = count % 5;
    QCOMPARE(writes.size(), rounds + (lefts ? 1 : 0) + 1);
    for (int i = 0; i < rounds; ++i) {
        QCOMPARE(int(argOf(writes[i])), 5 * i);
        QCOMPARE(int(lenOf(writes[i])), 50);
        QCOMPARE(writes[i].mid(8, 50), bytesOf(&frames[size_t(5 * i)], 5));
    }
    if (lefts) {
        QCOMPARE(int(argOf(writes[rounds])), 5 * rounds);
        QCOMPARE(int(lenOf(writes[rounds])), 10 * lefts);
    }
    const QByteArray commit = writes.last();
    QCOMPARE(int(lenOf(commit)), 0);
    QCOMPARE(int(argOf(commit)), count); // the commit carries the new frame count
    QCOMPARE(commit.mid(8), QByteArray(56, '\0'));
    QCOMPARE(s.keyboard->macroFrames(2), bytesOf(frames.data(), count));
    QCOMPARE(int(d->macroHead(2)->frameCount()), count);

    // Read back, the head first.
    s.keyboard->clearReceivedFrames();
    QCOMPARE(d->getMacroHead(2, d->macroHead(2)), WK_SUCCESS);
    QCOMPARE(d->readMacro(2), WK_SUCCESS);
    QCOMPARE(d->macroFramesHeld(), count);
    QCOMPARE(bytesOf(d->macroFrames(), count), bytesOf(frames.data(), count));
    QCOMPARE(bytesOf(d->macroFrames() + count, 512 - count), QByteArray(10 * (512 - count), '\0'));
    const QList<QByteArray> reads = s.macroFrames(0x30);
    QCOMPARE(reads.size(), rounds + (lefts ? 1 : 0));
    for (int i = 0; i < reads.size(); ++i) {
        QCOMPARE(int(argOf(reads[i])), 5 * i); // above 255 for the long macro
        QCOMPARE(int(lenOf(reads[i])), 0);
    }
}

void TestDeviceCommands::unexpectedWriteArgumentCostsAnAttempt()
{
    // A keyboard with 8 slots that answers the first frame write with the
    // wrong start index.
    std::atomic<int> writes{0};
    ScriptedBackend kb;
    kb.setHandler([&writes](const QByteArray &r) {
        const uint8_t sub = byteAt(r, 1);
        QByteArray a = answerTo(r, sub == 0x01 ? 24 : 4);
        if (sub == 0x00 || sub == 0x01)
            a[8] = sub == 0x00 ? 8 : r[8]; // slot count; a head's id
        if (sub == 0x40) {
            a[4] = char(byteAt(r, 4) + (lenOf(r) > 0 && writes++ == 0 ? 1 : 0));
            a[5] = r[5];
        }
        return a;
    });
    Link link(&kb);
    Device *d = link.device;
    QCOMPARE(d->getKMInfo(), WK_SUCCESS);
    QCOMPARE(d->getAllMacroHead(), WK_SUCCESS);
    kb.clearFrames();
    const std::vector<mframe_t> frames = makeFrames(10);

    // Only one of the two rounds made progress: the keyboard now holds five
    // frames, and the transfer says so.
    QCOMPARE(d->writeMacro(1, 10, frames.data()), WK_ERROR_VERIFY);
    const QList<QByteArray> w = framesOf(kb.frames(), 0x50, 0x40);
    QCOMPARE(w.size(), 3); // two attempts (the number of full rounds) and the commit
    QCOMPARE(int(argOf(w[0])), 0);
    QCOMPARE(int(argOf(w[1])), 0); // the same five frames again
    QCOMPARE(w[1].mid(8, 50), bytesOf(frames.data(), 5));
    QCOMPARE(int(argOf(w[2])), 5);
    QCOMPARE(int(lenOf(w[2])), 0);
    QCOMPARE(int(d->macroHead(1)->frameCount()), 5);
}

void TestDeviceCommands::badReadAnswerCostsAnAttempt()
{
    MacroLink s;
    QVERIFY(s.ok);
    QVERIFY(s.keyboard->setMacro(3, "abc", bytesOf(makeFrames(10).data(), 10)));
    Device *d = s.device();
    QCOMPARE(d->getMacroHead(3, d->macroHead(3)), WK_SUCCESS);
    s.keyboard->injectFault(faultOn(sim::FaultKind::WrongEcho, 0x30));
    s.keyboard->clearReceivedFrames();
    QCOMPARE(d->readMacro(3), WK_ERROR_VERIFY);
    const QList<QByteArray> reads = s.macroFrames(0x30);
    QCOMPARE(reads.size(), 2); // never more attempts than rounds
    QCOMPARE(int(argOf(reads[0])), 0);
    QCOMPARE(int(argOf(reads[1])), 0); // asks for the same frames again
    QCOMPARE(bytesOf(d->macroFrames(), 5), bytesOf(makeFrames(10).data(), 5));
}

void TestDeviceCommands::transferFailuresAreReported()
{
    MacroLink s;
    QVERIFY(s.ok);
    Device *d = s.device();
    const std::vector<mframe_t> frames = makeFrames(12);

    // A write error in the second round ends the transfer with its status
    // (frames: select, round 1, then this one).
    s.keyboard->injectFault(faultOn(sim::FaultKind::WriteFailure, 0x40, 2));
    QCOMPARE(d->writeMacro(0, 12, frames.data()), WK_ERROR_WRITE);
    QCOMPARE(s.macroFrames(0x40).size(), 1);

    // The keyboard refuses the commit (select, two rounds, the rest, then the
    // commit): its status, not success.
    s.keyboard->clearReceivedFrames();
    s.keyboard->injectFault(faultOn(sim::FaultKind::ErrorStatus, 0x40, 4, 0x02));
    QCOMPARE(d->writeMacro(0, 12, frames.data()), 0x02u);

    // A refused selection ends the transfer before any frame moves.
    s.keyboard->clearReceivedFrames();
    const sim::Fault noSelect = faultOn(sim::FaultKind::ErrorStatus, 0x03, -1, 0x05);
    s.keyboard->injectFault(noSelect);
    QCOMPARE(d->writeMacro(0, 12, frames.data()), 0x05u);
    s.keyboard->injectFault(noSelect);
    QCOMPARE(d->readMacro(0), 0x05u);
    QCOMPARE(s.macroFrames(0x40).size() + s.macroFrames(0x30).size(), 0);

    // A commit that is never answered: the bounded wait, then time-out.
    s.keyboard->clearReceivedFrames();
    s.keyboard->injectFault(faultOn(sim::FaultKind::NoAnswer, 0x40, 4));
    QCOMPARE(d->writeMacro(0, 12, frames.data()), WK_ERROR_TIMEOUT);
    QVERIFY(!s.link->waitingFlag());
}

void TestDeviceCommands::deleteAndRename()
{
    MacroLink s;
    QVERIFY(s.ok);
    Device *d = s.device();
    QVERIFY(s.keyboard->setMacro(5, "old", bytesOf(makeFrames(4).data(), 4)));
    QCOMPARE(d->getMacroHead(5, d->macroHead(5)), WK_SUCCESS);
    d->macroHead(5)->word0[0] = 0xC7;
    s.keyboard->clearReceivedFrames();

    QCOMPARE(d->deletMacro(5), WK_SUCCESS);
    const QByteArray zeroHead = QByteArray::fromHex("05") + QByteArray(23, '\0');
    QCOMPARE(s.macroFrames(0x02).last().mid(8, 24), zeroHead);
    QCOMPARE(int(lenOf(s.macroFrames(0x02).last())), 24);
    QCOMPARE(s.keyboard->macroHead(5), zeroHead);
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(d->macroHead(5)), 24), zeroHead);

    // Names are NUL-padded or cut to 16 bytes.
    for (const char *text : {"abc", "a name of twenty ch"}) {
        const QByteArray name = Device::macroName(QString::fromLatin1(text));
        QCOMPARE(name, QByteArray(text).left(16).leftJustified(16, '\0'));
        QCOMPARE(d->setMacroName(5, name.constData()), WK_SUCCESS);
        QCOMPARE(s.macroFrames(0x02).last().mid(16, 16), name);
        QCOMPARE(s.keyboard->macroHead(5).mid(8), name);
    }

    // The keyboard refuses a head: the status is returned.
    s.keyboard->injectFault(faultOn(sim::FaultKind::ErrorStatus, 0x02, -1, 0x02));
    QCOMPARE(d->deletMacro(5), 0x02u);
}

void TestDeviceCommands::refusedBeforeSendingAndSwitches()
{
    MacroLink s;
    QVERIFY(s.ok);
    Device *d = s.device();
    const std::vector<mframe_t> frames = makeFrames(513);
    QCOMPARE(d->writeMacro(1, 513, frames.data()), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(d->writeMacro(1, -1, frames.data()), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(d->writeMacro(1, 5, nullptr), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(d->writeMacro(16, 5, frames.data()), WK_ERROR_OUT_OF_RANGE); // 16 slots
    QCOMPARE(d->readMacro(16), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(d->deletMacro(16), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(d->setMacroName(16, "name"), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(d->selectMacro(16), WK_ERROR_OUT_OF_RANGE);
    QCOMPARE(s.frames().size(), 0);
    QCOMPARE(int(d->macroHead(1)->frameCount()), 0);

    QCOMPARE(d->setRecordMacro(1), WK_SUCCESS);
    QCOMPARE(s.frames().last().left(9), QByteArray::fromHex("501001000000000001"));
    QVERIFY(s.keyboard->isRecordingMacro());
    QCOMPARE(d->selectMacro(1), WK_SUCCESS);
    QCOMPARE(d->setPlayMacro(1), WK_SUCCESS);
    QVERIFY(s.keyboard->isPlayingMacro());
}

QTEST_GUILESS_MAIN(TestDeviceCommands)
#include "tst_device_commands.moc"

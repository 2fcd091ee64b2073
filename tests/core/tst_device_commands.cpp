// The command exchange, the configuration commands and the macro transfers of
// the device model, checked at the wire: the frames the keyboard received,
// what it answered, what the model holds afterwards, and the status a failed
// command or transfer reports.

#include "tst_device_fixture.h"

#include <QSignalSpy>
#include <QtTest>

#include <atomic>
#include <vector>

using namespace linktest;
using sim::FaultKind;

using Ranges = QList<QPair<int, int>>;
using Call = uint32_t (*)(Device *);
Q_DECLARE_METATYPE(Call)
Q_DECLARE_METATYPE(sim::Fault)

namespace {

template <typename T> QByteArray raw(const T *p, int n = 1)
{
    return QByteArray(reinterpret_cast<const char *>(p), int(sizeof(T)) * n);
}
const unsigned char *u8(const QByteArray &bytes)
{
    return reinterpret_cast<const unsigned char *>(bytes.constData());
}
QByteArray num(qint64 n, int base = 10)
{
    return QByteArray::number(n, base);
}

// (first, last) of range frames; (argument, length) of macro frames.
Ranges rangesOf(const QList<QByteArray> &frames, bool macro = false)
{
    Ranges out;
    for (const QByteArray &f : frames)
        out.append(macro ? qMakePair(int(argOf(f)), int(lenOf(f)))
                         : qMakePair(int(byteAt(f, 9)), int(byteAt(f, 10))));
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

// What the setters change: the model's value beside the keyboard's (on map 1).
QList<QByteArray> values(Device *d, sim::SimKeyboard *k)
{
    const auto pair = [](const char *name, const QByteArray &model, const QByteArray &board) {
        return QByteArray(name) + '=' + model + '|' + board;
    };
    return {
        pair("scan speed", num(d->scanSpeed()), num(k->scanSpeed())),
        pair("n-key", num(d->nKeyMode()), num(k->nKey())),
        pair("user info", d->userInfo(), k->userInfo()),
        pair("name", d->btNameRecord(), k->bluetoothName()),
        pair("sleep", num(d->sleepTimeMs()) + '/' + num(d->lastSleepTimeMs()), num(k->sleepTime())),
        pair("kf 6", raw(d->kfRecord(6)).mid(20, 4).toHex(), k->keyFunction(6).mid(20, 4).toHex()),
        pair("la 3", raw(d->laRecord(3)).mid(8, 2).toHex(), k->lightingRecord(3).mid(8, 2).toHex()),
        pair("kc 3", raw(d->keyCodes() + 3).toHex(), k->keyCodes(1).mid(12, 4).toHex()),
        pair("kr 5", num(d->getKRRgb(5), 16), k->keyColours(1).mid(20, 4).toHex()),
        pair("lm 7", num(d->modes()[7]), num(k->modes(1)[7])),
        pair("km 2", raw(d->macroHead(2)).toHex(), k->macroHead(2).toHex())};
}

// A fault on the `atFrame`th frame since the last clear, of macro sub-command `sub`.
sim::Fault faultOn(FaultKind kind, int sub, int atFrame = -1, uint32_t status = 0)
{
    sim::Fault f = fault(kind, 0x50, sub, status);
    f.atFrame = atFrame;
    return f;
}

// A simulated keyboard on map 1 of each kind (a frame naming another map goes
// astray) with its settings, maps, records and macro heads in the model.
struct Loaded : SimLink
{
    explicit Loaded(sim::Personality personality = sim::Personality::DualMode)
        : SimLink(personality)
    {
        ok = keyboard->pressLayerKey(1) && keyboard->pressColourMapKey(1) &&
             keyboard->pressModeMapKey(1);
        for (auto step :
             {&Device::getScanSpeed, &Device::getNKey, &Device::getUserInfo, &Device::getKCInfo,
              &Device::getCurKCMID, &Device::getCurKCM, &Device::getKRInfo, &Device::getCurKRMID,
              &Device::getCurKRM, &Device::getLMInfo, &Device::getCurLMMID, &Device::getCurLMM,
              &Device::getLAInfo, &Device::getAllLA, &Device::getKFInfo, &Device::getAllKF,
              &Device::getKMInfo, &Device::getAllMacroHead})
            ok = ok && (device()->*step)() == WK_SUCCESS;
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
    void mapsTravelInCheckedChunks_data()
    {
        QTest::addColumn<int>("keys");
        QTest::addColumn<Ranges>("keyRanges");
        QTest::addColumn<int>("modes");
        QTest::addColumn<Ranges>("modeRanges");
        QTest::newRow("exact chunks")
            << 26 << Ranges{{0, 12}, {13, 25}} << 96 << Ranges{{0, 47}, {48, 95}};
        QTest::newRow("chunks and a rest") << 27 << Ranges{{0, 12}, {13, 25}, {26, 26}} << 97
                                           << Ranges{{0, 47}, {48, 95}, {96, 96}};
    }

    void mapsTravelInCheckedChunks()
    {
        // Key codes and colours in chunks of 13 entries, modes in chunks of 48.
        // Reads and writes of key codes count only when the answer echoes the
        // map and range asked for.
        QFETCH(int, keys);
        QFETCH(int, modes);
        std::atomic<int> shift{0};
        ScriptedBackend kb;
        kb.setHandler([&](const QByteArray &r) {
            const uint8_t cmd = byteAt(r, 0), sub = byteAt(r, 1);
            QByteArray a = answerTo(r);
            if ((cmd == 0x20 || cmd == 0x30 || cmd == 0x60) && sub == 0x00) {
                a[8] = 1;
                a[9] = char(cmd == 0x60 ? modes : keys);
            } else if (sub == (cmd == 0x60 ? 0x03 : 0x10)) { // a range read: entry i = i
                const int size = cmd == 0x60 ? 1 : 4, first = byteAt(r, 9);
                a.replace(8, 3, r.mid(8, 3));
                for (int k = first; k <= byteAt(r, 10) && 12 + size * (k - first) < 64; ++k)
                    a[12 + size * (k - first)] = char(k);
            } else if (cmd == 0x20 && sub == 0x11) { // status 0, map, first, last
                a.replace(12, 3, r.mid(8, 3));
            }
            if (cmd == 0x20 && (sub & 0xFE) == 0x10)
                a[sub == 0x11 ? 13 : 9] = char(byteAt(r, 9) + shift);
            return a;
        });
        Link link(&kb);
        Device *d = link.device;
        LogCapture log;
        for (auto step : {&Device::getKCInfo, &Device::getKRInfo, &Device::getLMInfo,
                          &Device::getCurKCM, &Device::getCurKRM, &Device::getCurLMM})
            QCOMPARE((d->*step)(), WK_SUCCESS);
        QTEST(rangesOf(framesOf(kb.frames(), 0x20, 0x10)), "keyRanges");
        QTEST(rangesOf(framesOf(kb.frames(), 0x30, 0x10)), "keyRanges");
        QTEST(rangesOf(framesOf(kb.frames(), 0x60, 0x03)), "modeRanges");
        const QString plan = QStringLiteral("m_nlm=%1 round=%2 mod=%3");
        QCOMPARE(log.count(plan.arg(modes).arg(modes / 48).arg(modes % 48)), 1);

        const QByteArray before = raw(d->keyCodes(), keys);
        const QByteArray entries = QByteArray::fromHex("0204000002050000");
        shift = 1; // the answers name another range
        QCOMPARE(d->setKC(3, 4, u8(entries)), WK_ERROR_VERIFY);
        QByteArray dest(8, 'x');
        QCOMPARE(d->getKC(3, 4, reinterpret_cast<unsigned char *>(dest.data())), WK_ERROR_VERIFY);
        QCOMPARE(dest, QByteArray(8, 'x'));
        QCOMPARE(d->getCurKCM(), WK_ERROR_VERIFY);
        QCOMPARE(raw(d->keyCodes(), keys), before);
        shift = 0;
        QCOMPARE(d->setKC(3, 4, u8(entries)), WK_SUCCESS);
        QCOMPARE(raw(d->keyCodes(), keys), before.left(12) + entries + before.mid(20));
    }
    void settersStoreOnlyConfirmedValues_data()
    {
        QTest::addColumn<int>("personality");
        QTest::addColumn<Call>("call");
        QTest::addColumn<uint>("refused"); // 0: the answer's status is not looked at
        QTest::addColumn<QByteArray>("changed");
        const int dual = int(sim::Personality::DualMode);
        const QByteArray x48(48, 'x'), name = QString(6, QChar(0xE9)).toUtf8(); // 12 bytes
        QTest::newRow("scan speed") << dual << +[](Device *d) { return d->setScanSpeed(4); } << 2u
                                    << QByteArray("scan speed=4|4");
        QTest::newRow("n-key") << dual << +[](Device *d) { return d->setNKey(0); } << 2u
                               << QByteArray("n-key=0|0");
        QTest::newRow("user info, cut to 48 bytes") << dual << +[](Device *d) {
            return d->setUserInfo(QString(60, QLatin1Char('x')));
        } << 2u << "user info=" + x48 + '|' + x48;
        QTest::newRow("Bluetooth name, cut to 12 bytes") << dual << +[](Device *d) {
            return d->setBtName(QString(12, QChar(0xE9)));
        } << 2u << "name=" + name + '|' + name;
        QTest::newRow("sleep time") << dual << +[](Device *d) { return d->setSleepTime(300000); }
                                    << 2u << QByteArray("sleep=300000/300000|300000");
        QTest::newRow("key function, passed as a copy") << dual << +[](Device *d) {
            kf_t copy = *d->kfRecord(6);
            copy.setParam1(9);
            return d->setKFItem(&copy);
        } << 2u << QByteArray("kf 6=09000000|09000000");
        QTest::newRow("lighting record, passed as a copy") << dual << +[](Device *d) {
            la_t copy = *d->laRecord(3);
            copy.setHighestDelay(0x1234);
            return d->setLAItem(&copy);
        } << 2u << QByteArray("la 3=3412|3412");
        QTest::newRow("key code") << dual << +[](Device *d) {
            return d->setKC(3, 3, u8(QByteArray::fromHex("02040000")));
        } << WK_ERROR_VERIFY << QByteArray("kc 3=02040000|02040000");
        const QByteArray km2 = "0200000000000000" + QByteArray("Hi").toHex() + QByteArray(28, '0');
        QTest::newRow("macro name") << dual << +[](Device *d) {
            return d->setMacroName(2, Device::macroName(QStringLiteral("Hi")).constData());
        } << 2u << "km 2=" + km2 + '|' + km2;
        // The T88 answers colour and mode writes with the request echoed back,
        // so bytes 8-11 hold map, first, last, 0: a completed exchange is a
        // stored and successful write.
        const int t88 = int(sim::Personality::UsbOnly);
        QTest::newRow("key colour") << t88 << +[](Device *d) { return d->setKRRgb(5, 0xFF102030); }
                                    << 0u << QByteArray("kr 5=ff102030|30201000");
        QTest::newRow("mode") << t88 << +[](Device *d) { return d->setLM(7, 7, u8("\x09")); } << 0u
                              << QByteArray("lm 7=9|9");
    }

    void settersStoreOnlyConfirmedValues()
    {
        // A value reaches the model only when the keyboard took it: not when
        // the frame could not be sent, not when the keyboard refused it; and
        // nothing else changes.
        QFETCH(int, personality);
        QFETCH(Call, call);
        QFETCH(uint, refused);
        QFETCH(QByteArray, changed);
        Loaded s{sim::Personality(personality)};
        QVERIFY(s.ok);
        Device *d = s.device();
        const QList<QByteArray> before = values(d, s.keyboard);
        QVERIFY(!before.contains(changed));
        s.keyboard->injectFault(fault(FaultKind::WriteFailure));
        QCOMPARE(call(d), WK_ERROR_WRITE);
        QCOMPARE(values(d, s.keyboard), before);
        if (refused) {
            s.keyboard->injectFault(fault(FaultKind::ErrorStatus, -1, -1, 0x02));
            QCOMPARE(call(d), uint32_t(refused));
            QCOMPARE(values(d, s.keyboard), before);
        }
        QCOMPARE(call(d), WK_SUCCESS);
        QList<QByteArray> after = before;
        for (QByteArray &value : after) {
            if (value.startsWith(changed.left(changed.indexOf('=') + 1)))
                value = changed;
        }
        QCOMPARE(values(d, s.keyboard), after);
    }

    void answersAreCheckedAndChangesShown()
    {
        Loaded s;
        QVERIFY(s.ok);
        Device *d = s.device();
        // Status 0 with another command's echo is not a confirmation of this one.
        const uint16_t speed = d->scanSpeed();
        s.keyboard->injectFault(fault(FaultKind::WrongEcho));
        QCOMPARE(d->setScanSpeed(9), WK_SUCCESS);
        QCOMPARE(d->scanSpeed(), speed);
        // Records are read only from answers echoing their command and length.
        const QByteArray records = raw(d->laRecord(4)) + raw(d->kfRecord(6));
        s.keyboard->injectFault(fault(FaultKind::WrongEcho));
        QCOMPARE(d->getLAItem(4, d->laRecord(4)), WK_ERROR_VERIFY);
        s.keyboard->injectFault(fault(FaultKind::WrongEcho));
        QCOMPARE(d->getKFItem(6, d->kfRecord(6)), WK_ERROR_VERIFY);
        QCOMPARE(raw(d->laRecord(4)) + raw(d->kfRecord(6)), records);

        QCOMPARE(d->setFactoryReset(), WK_SUCCESS);
        QCOMPARE(s.frames().last(), QByteArray::fromHex("1060") + QByteArray(62, '\0'));
        s.keyboard->injectFault(fault(FaultKind::ErrorStatus, -1, -1, 0x05));
        QCOMPARE(d->setFactoryReset(), 0x05u);
        s.keyboard->injectFault(fault(FaultKind::WrongEcho));
        QCOMPARE(d->setFactoryReset(), WK_ERROR_VERIFY);
        s.keyboard->injectFault(fault(FaultKind::WriteFailure));
        QCOMPARE(d->setFactoryReset(), WK_ERROR_WRITE);

        // Each answered Bluetooth change is shown as (1, status); a sleep time
        // of 0 (never) leaves the last real one.
        QSignalSpy state(d, &Device::emitState);
        QCOMPARE(d->setSleepTime(300000), WK_SUCCESS);
        QCOMPARE(d->setSleepTime(0), WK_SUCCESS);
        QCOMPARE(d->lastSleepTimeMs(), 300000u);
        s.keyboard->injectFault(fault(FaultKind::ErrorStatus, -1, -1, 0x03));
        QCOMPARE(d->setBtName(QStringLiteral("other")), 0x03u);
        QList<int> shown;
        for (const QList<QVariant> &emission : state)
            shown << emission.at(0).toInt() << emission.at(1).toInt();
        QCOMPARE(shown, (QList<int>{1, 0, 1, 0, 1, 3}));
    }
    void eachCommandTakesOnlyItsOwnAnswer()
    {
        SimLink s(sim::Personality::UsbOnly); // no answer at all to group 0xB0
        Device *d = s.device();
        QSignalSpy notified(d, &Device::emitNotify);
        QCOMPARE(d->getScanSpeed(), WK_SUCCESS);
        const uint16_t speed = d->scanSpeed();
        LogCapture log;
        s.keyboard->injectFault(fault(FaultKind::NoAnswer));
        QCOMPARE(d->getScanSpeed(), WK_ERROR_TIMEOUT);
        QCOMPARE(d->scanSpeed(), speed);
        QCOMPARE(d->getBtName(), WK_ERROR_TIMEOUT);
        QCOMPARE(d->getSleepTime(), WK_ERROR_TIMEOUT);
        for (const char *call : {"getBtName", "getSleepTime"})
            QCOMPARE(log.count(QLatin1String(call) + QLatin1String(" WK_ERROR_TIMEOUT=ee00000d")),
                     1);

        // A late answer to a command that gave up is not taken by the next one.
        sim::Fault late = fault(FaultKind::LateAnswer);
        late.delayMs = 700;
        s.keyboard->injectFault(late);
        QCOMPARE(d->getDeviceInfo(), WK_ERROR_TIMEOUT);
        QCOMPARE(d->productNameBlock(), QByteArray(16, '\0'));
        QTest::qWait(400); // the late answer arrives and is set aside
        QCOMPARE(d->getScanSpeed(), WK_SUCCESS);
        QCOMPARE(d->scanSpeed(), speed);
        QCOMPARE(d->getDeviceInfo(), WK_SUCCESS);
        QCOMPARE(d->productNameBlock(), s.keyboard->productName());

        // Only slots lent by the transport are read; any other pointer is ignored.
        uint8_t foreign[64] = {0xF0, 0x20, 2};
        d->recvCmdSlot(foreign);
        // A command waits: a notification arriving first is still a
        // notification, and the answer after it is the command's.
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
        const HidReport report = notified.at(0).at(0).value<HidReport>();
        QCOMPARE(raw(report.data(), 10), QByteArray::fromHex("f0200200000000000003"));
    }

    void unexpectedWriteArgumentCostsAnAttempt()
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
            if (sub == 0x40)
                a[4] = char(byteAt(r, 4) + (lenOf(r) > 0 && writes++ == 0 ? 1 : 0));
            return a;
        });
        Link link(&kb);
        Device *d = link.device;
        QCOMPARE(d->getKMInfo(), WK_SUCCESS);
        QCOMPARE(d->getAllMacroHead(), WK_SUCCESS);
        kb.clearFrames();
        const std::vector<mframe_t> frames = makeFrames(10);

        // Two attempts (the number of full rounds), the second sending the
        // same five frames again, and the commit: the keyboard now holds five
        // frames, and the transfer says so.
        QCOMPARE(d->writeMacro(1, 10, frames.data()), WK_ERROR_VERIFY);
        const QList<QByteArray> w = framesOf(kb.frames(), 0x50, 0x40);
        QCOMPARE(rangesOf(w, true), (Ranges{{0, 50}, {0, 50}, {5, 0}}));
        QCOMPARE(w[1].mid(8, 50), raw(frames.data(), 5));
        QCOMPARE(int(d->macroHead(1)->frameCount()), 5);
    }

    void transfers_data()
    {
        QTest::addColumn<bool>("write");
        QTest::addColumn<int>("count");
        QTest::addColumn<sim::Fault>("failure"); // frames: the selection, then the transfer
        QTest::addColumn<uint>("status");
        QTest::addColumn<Ranges>("transfer"); // (argument, length) of the frames that moved
        // Five frames a round, then the rest; a write ends with the commit
        // carrying the new frame count.
        const auto rounds = [](int count, bool write) {
            Ranges out;
            for (int at = 0; at < count; at += 5)
                out << qMakePair(at, write ? 10 * std::min(5, count - at) : 0);
            return write ? out << qMakePair(count, 0) : out;
        };
        for (int count : {12, 300}) { // 300: start indexes above 255
            QTest::addRow("%d frames written", count)
                << true << count << sim::Fault() << 0u << rounds(count, true);
            QTest::addRow("%d frames read", count)
                << false << count << sim::Fault() << 0u << rounds(count, false);
        }
        const Ranges all = rounds(12, true), none;
        const sim::Fault noSelect = faultOn(FaultKind::ErrorStatus, 0x03, -1, 0x05);
        QTest::newRow("write error in round 2")
            << true << 12 << faultOn(FaultKind::WriteFailure, 0x40, 2) << WK_ERROR_WRITE
            << all.mid(0, 1);
        QTest::newRow("commit refused")
            << true << 12 << faultOn(FaultKind::ErrorStatus, 0x40, 4, 0x02) << 2u << all;
        QTest::newRow("commit never answered")
            << true << 12 << faultOn(FaultKind::NoAnswer, 0x40, 4) << WK_ERROR_TIMEOUT << all;
        QTest::newRow("selection refused, write") << true << 12 << noSelect << 5u << none;
        QTest::newRow("selection refused, read") << false << 12 << noSelect << 5u << none;
        // A bad answer costs its attempt (never more attempts than rounds);
        // the next one asks for the same frames.
        QTest::newRow("read answer of another command")
            << false << 12 << faultOn(FaultKind::WrongEcho, 0x30) << WK_ERROR_VERIFY
            << Ranges{{0, 0}, {0, 0}, {5, 0}};
    }

    void transfers()
    {
        QFETCH(bool, write);
        QFETCH(int, count);
        QFETCH(sim::Fault, failure);
        QFETCH(uint, status);
        Loaded s;
        QVERIFY(s.ok);
        Device *d = s.device();
        const std::vector<mframe_t> frames = makeFrames(count);
        const QByteArray stored = raw(frames.data(), count);
        QVERIFY(s.keyboard->setMacro(0, "m", write ? QByteArray() : stored));
        QCOMPARE(d->getMacroHead(0, d->macroHead(0)), WK_SUCCESS);
        s.keyboard->clearReceivedFrames();
        if (failure.kind != FaultKind::None)
            s.keyboard->injectFault(failure);
        QTEST(write ? d->writeMacro(0, count, frames.data()) : d->readMacro(0), "status");
        QTEST(rangesOf(s.macroFrames(write ? 0x40 : 0x30), true), "transfer");
        QVERIFY(!s.link->waitingFlag());
        if (status == WK_SUCCESS) {
            QCOMPARE(write ? s.keyboard->macroFrames(0)
                           : raw(d->macroFrames(), d->macroFramesHeld()),
                     stored);
            QCOMPARE(int(d->macroHead(0)->frameCount()), count);
        }
    }

    void macroHeadsSwitchesAndLimits()
    {
        Loaded s; // 108 keys, 16 macro slots
        QVERIFY(s.ok);
        Device *d = s.device();
        QVERIFY(s.keyboard->setMacro(5, "old", raw(makeFrames(4).data(), 4)));
        QCOMPARE(d->getMacroHead(5, d->macroHead(5)), WK_SUCCESS);
        d->macroHead(5)->word0[0] = 0xC7;
        // Deleting writes an empty head that keeps only the slot's id.
        QCOMPARE(d->deletMacro(5), WK_SUCCESS);
        const QByteArray zeroHead = QByteArray::fromHex("05") + QByteArray(23, '\0');
        QCOMPARE(s.keyboard->macroHead(5), zeroHead);
        QCOMPARE(raw(d->macroHead(5)), zeroHead);
        // Names are NUL-padded or cut to 16 bytes.
        for (const char *text : {"abc", "a name of twenty ch"})
            QCOMPARE(Device::macroName(QString::fromLatin1(text)),
                     QByteArray(text).left(16).leftJustified(16, '\0'));
        s.keyboard->injectFault(faultOn(FaultKind::ErrorStatus, 0x02, -1, 0x02));
        QCOMPARE(d->deletMacro(5), 0x02u);

        QCOMPARE(d->setRecordMacro(1), WK_SUCCESS);
        QVERIFY(s.keyboard->isRecordingMacro());
        QCOMPARE(d->selectMacro(1), WK_SUCCESS);
        QCOMPARE(d->setPlayMacro(1), WK_SUCCESS);
        QVERIFY(s.keyboard->isPlayingMacro());

        // Ranges a frame or the map cannot hold (14 key entries, 53 mode
        // entries, entries past the last key), more frames than the buffer
        // holds and slot 16 are refused before anything is sent.
        s.keyboard->clearReceivedFrames();
        const std::vector<mframe_t> frames = makeFrames(513);
        const QByteArray zeros(600, '\0');
        const unsigned char *z = u8(zeros);
        unsigned char dest[64];
        const uint8_t keys = d->kcCount();
        QVector<uint32_t> statuses;
        statuses << d->setKC(0, 13, z) << d->setKC(keys - 1, keys, z) << d->setKC(5, 4, z)
                 << d->getKC(0, 13, dest) << d->sendCmd(0x20, 0x11, 57, 0, z)
                 << d->setKR(keys - 1, keys, z) << d->setLM(0, 52, z) << d->setLM(keys - 1, keys, z)
                 << d->writeMacro(1, 513, frames.data()) << d->writeMacro(1, -1, frames.data())
                 << d->writeMacro(1, 5, nullptr) << d->writeMacro(16, 5, frames.data())
                 << d->readMacro(16) << d->deletMacro(16) << d->setMacroName(16, "name")
                 << d->selectMacro(16);
        QCOMPARE(statuses, QVector<uint32_t>(statuses.size(), WK_ERROR_OUT_OF_RANGE));
        QCOMPARE(s.frames().size(), 0);
        QCOMPARE(int(d->macroHead(1)->frameCount()), 0);
        QCOMPARE(d->getKRRgb(-1) | d->getKRRgb(d->krCount()), 0u);
    }
};

QTEST_GUILESS_MAIN(TestDeviceCommands)
#include "tst_device_commands.moc"

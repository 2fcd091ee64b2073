// Macro heads and frame transfers: the requests of each transfer as the
// keyboard receives them, what ends up stored on either side, and the status
// a failed transfer reports.

#include "tst_device_fixture.h"

#include <QtTest>

#include <vector>

using namespace linktest;

namespace {

std::vector<mframe_t> makeFrames(int n)
{
    std::vector<mframe_t> frames(static_cast<size_t>(std::max(n, 1)));
    for (int i = 0; i < n; ++i) {
        mframe_t &f = frames[static_cast<size_t>(i)];
        f = mframe_t{};
        f.setTs(static_cast<uint16_t>(i * 3 + 1));
        f.modifiers = static_cast<uint8_t>(i & 0xFF);
        f.keys[0] = static_cast<uint8_t>(4 + i % 26);
        f.keys[5] = static_cast<uint8_t>(i >> 8);
    }
    return frames;
}

QByteArray bytesOf(const mframe_t *frames, int n)
{
    return QByteArray(reinterpret_cast<const char *>(frames), 10 * n);
}

sim::Fault faultOn(sim::FaultKind kind, int sub, int count = 1)
{
    sim::Fault f;
    f.kind = kind;
    f.command = 0x50;
    f.subCommand = sub;
    f.count = count;
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

class TestMacroTransfer : public QObject
{
    Q_OBJECT

private slots:
    void writeAndReadBack_data();
    void writeAndReadBack();
    void unexpectedWriteArgumentCostsAnAttempt();
    void badReadAnswerCostsAnAttempt();
    void oversizedMacroIsRefusedBeforeSending();
    void transferFailuresAreReported();
    void deleteAndRename();
    void recordingAndPlaying();
};

void TestMacroTransfer::writeAndReadBack_data()
{
    QTest::addColumn<int>("count");
    QTest::newRow("0 frames") << 0;
    QTest::newRow("3 frames") << 3;
    QTest::newRow("10 frames") << 10;
    QTest::newRow("300 frames") << 300;
}

void TestMacroTransfer::writeAndReadBack()
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

    // Read back from a fresh model of the same keyboard.
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

void TestMacroTransfer::unexpectedWriteArgumentCostsAnAttempt()
{
    // A keyboard that answers the first frame write with the wrong start index.
    std::atomic<int> writes{0};
    ScriptedBackend kb;
    kb.setHandler([&writes](const QByteArray &r) {
        QByteArray a = answerTo(r);
        if (byteAt(r, 0) != 0x50)
            return a;
        switch (byteAt(r, 1)) {
        case 0x00:
            a[8] = 8;
            break;
        case 0x01:
            a[2] = 24;
            a[8] = r[8];
            break;
        case 0x40:
            a[2] = 4;
            a[4] = r[4];
            a[5] = r[5];
            if (lenOf(r) > 0 && writes++ == 0)
                a[4] = char(byteAt(r, 4) + 1);
            break;
        default:
            a[2] = 4;
            break;
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

void TestMacroTransfer::badReadAnswerCostsAnAttempt()
{
    MacroLink s;
    QVERIFY(s.ok);
    QVERIFY(s.keyboard->setMacro(3, "abc", bytesOf(makeFrames(10).data(), 10)));
    Device *d = s.device();
    QCOMPARE(d->getMacroHead(3, d->macroHead(3)), WK_SUCCESS);
    sim::Fault wrong = faultOn(sim::FaultKind::WrongEcho, 0x30);
    s.keyboard->injectFault(wrong);
    s.keyboard->clearReceivedFrames();
    QCOMPARE(d->readMacro(3), WK_ERROR_VERIFY);
    const QList<QByteArray> reads = s.macroFrames(0x30);
    QCOMPARE(reads.size(), 2); // never more attempts than rounds
    QCOMPARE(int(argOf(reads[0])), 0);
    QCOMPARE(int(argOf(reads[1])), 0); // asks for the same frames again
    QCOMPARE(bytesOf(d->macroFrames(), 5), bytesOf(makeFrames(10).data(), 5));
}

void TestMacroTransfer::oversizedMacroIsRefusedBeforeSending()
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
}

void TestMacroTransfer::transferFailuresAreReported()
{
    MacroLink s;
    QVERIFY(s.ok);
    Device *d = s.device();
    const std::vector<mframe_t> frames = makeFrames(12);

    // A write error in the second round ends the transfer with its status.
    sim::Fault broken = faultOn(sim::FaultKind::WriteFailure, 0x40);
    broken.atFrame = 2; // select, round 1, then this
    s.keyboard->injectFault(broken);
    QCOMPARE(d->writeMacro(0, 12, frames.data()), WK_ERROR_WRITE);
    QCOMPARE(s.macroFrames(0x40).size(), 1);

    // The keyboard refuses the commit: its status, not success.
    s.keyboard->clearReceivedFrames();
    sim::Fault refuse = faultOn(sim::FaultKind::ErrorStatus, 0x40);
    refuse.atFrame = 4; // select, two rounds, the rest, then the commit
    refuse.status = 0x02;
    s.keyboard->injectFault(refuse);
    QCOMPARE(d->writeMacro(0, 12, frames.data()), 0x02u);

    // A refused selection ends the transfer before any frame moves.
    s.keyboard->clearReceivedFrames();
    sim::Fault noSelect = faultOn(sim::FaultKind::ErrorStatus, 0x03);
    noSelect.status = 0x05;
    s.keyboard->injectFault(noSelect);
    QCOMPARE(d->writeMacro(0, 12, frames.data()), 0x05u);
    s.keyboard->injectFault(noSelect);
    QCOMPARE(d->readMacro(0), 0x05u);
    QCOMPARE(s.macroFrames(0x40).size() + s.macroFrames(0x30).size(), 0);

    // A commit that is never answered: the bounded wait, then time-out.
    s.keyboard->clearReceivedFrames();
    sim::Fault silent = faultOn(sim::FaultKind::NoAnswer, 0x40);
    silent.atFrame = 4;
    s.keyboard->injectFault(silent);
    QCOMPARE(d->writeMacro(0, 12, frames.data()), WK_ERROR_TIMEOUT);
    QVERIFY(!s.link->waitingFlag());
}

void TestMacroTransfer::deleteAndRename()
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

    const QByteArray shortName = Device::macroName(QStringLiteral("abc"));
    QCOMPARE(shortName, QByteArray("abc") + QByteArray(13, '\0'));
    QCOMPARE(d->setMacroName(5, shortName.constData()), WK_SUCCESS);
    QCOMPARE(s.macroFrames(0x02).last().mid(16, 16), shortName);
    QCOMPARE(s.keyboard->macroHead(5).mid(8), shortName);
    const QByteArray longName = Device::macroName(QStringLiteral("a name of twenty ch"));
    QCOMPARE(longName, QByteArray("a name of twenty"));
    QCOMPARE(d->setMacroName(5, longName.constData()), WK_SUCCESS);
    QCOMPARE(s.keyboard->macroHead(5).mid(8), longName);

    // The keyboard refuses a head: the status is returned.
    sim::Fault refuse = faultOn(sim::FaultKind::ErrorStatus, 0x02);
    refuse.status = 0x02;
    s.keyboard->injectFault(refuse);
    QCOMPARE(d->deletMacro(5), 0x02u);
}

void TestMacroTransfer::recordingAndPlaying()
{
    MacroLink s;
    QVERIFY(s.ok);
    Device *d = s.device();
    QCOMPARE(d->setRecordMacro(1), WK_SUCCESS);
    QVERIFY(s.keyboard->isRecordingMacro());
    QCOMPARE(s.frames().last().left(9), QByteArray::fromHex("501001000000000001"));
    QCOMPARE(d->setRecordMacro(0), WK_SUCCESS);
    QVERIFY(!s.keyboard->isRecordingMacro());
    QCOMPARE(d->selectMacro(1), WK_SUCCESS);
    QCOMPARE(int(d->curKM()), 1);
    QCOMPARE(d->setPlayMacro(1), WK_SUCCESS);
    QVERIFY(s.keyboard->isPlayingMacro());
    QCOMPARE(d->setPlayMacro(2), 0x04u); // the keyboard's own refusal, passed through
}

QTEST_GUILESS_MAIN(TestMacroTransfer)
#include "tst_macro_transfer.moc"

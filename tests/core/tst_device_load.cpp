// The loading sequence of the device model: its fixed order, the model it
// leaves behind for each kind of keyboard, and how it ends when the keyboard
// does not answer or the device is being closed.

#include "tst_device_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>

using namespace linktest;

namespace {

// Runs loadDevInfoSlot on a device thread, as the session does.
class Loader
{
public:
    explicit Loader(Device *d) : m_device(d)
    {
        d->moveToThread(&thread);
        thread.start();
    }
    ~Loader()
    {
        m_device->abortExchanges();
        QThread *home = QThread::currentThread();
        Device *d = m_device;
        QMetaObject::invokeMethod(
            d, [d, home] { d->moveToThread(home); }, Qt::BlockingQueuedConnection);
        thread.quit();
        thread.wait();
    }
    void start()
    {
        Device *d = m_device;
        QMetaObject::invokeMethod(
            d,
            [this, d] {
                result = d->loadDevInfoSlot();
                done = true;
            },
            Qt::QueuedConnection);
    }
    QThread thread;
    std::atomic<uint32_t> result{0};
    std::atomic<bool> done{false};

private:
    Device *m_device;
};

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

template <typename T> QByteArray raw(const T *p, int n)
{
    return QByteArray(reinterpret_cast<const char *>(p), int(sizeof(T)) * n);
}

sim::Fault noAnswerTo(int cmd, int sub, int count)
{
    sim::Fault f;
    f.kind = sim::FaultKind::NoAnswer;
    f.command = cmd;
    f.subCommand = sub;
    f.count = count;
    return f;
}

} // namespace

class TestDeviceLoad : public QObject
{
    Q_OBJECT

private slots:
    void fullLoadFillsTheModel_data();
    void fullLoadFillsTheModel();
    void loadAsksAgainUntilTheKeyboardAnswers();
    void loadStopsWhenTheDeviceCloses_data();
    void loadStopsWhenTheDeviceCloses();
    void failingStepEndsTheLoad();
};

void TestDeviceLoad::fullLoadFillsTheModel_data()
{
    QTest::addColumn<int>("personality");
    QTest::addColumn<QStringList>("order");
    const QStringList dual = {"10/10", "10/40", "10/11", "10/20", "10/30", "10/50",
                              "20/00", "20/01", "20/10", "30/00", "30/01", "30/10",
                              "50/00", "50/01", "40/00", "40/10", "60/20", "60/21",
                              "60/00", "60/01", "60/03", "b0/10", "b0/20"};
    QStringList bare = dual;
    bare.removeAll("30/10");
    bare.removeAll("60/21");
    bare.removeAll("60/03");
    QTest::newRow("DualMode") << int(sim::Personality::DualMode) << dual;
    QTest::newRow("UsbOnly") << int(sim::Personality::UsbOnly) << dual;
    QTest::newRow("NoLighting") << int(sim::Personality::NoLighting) << bare;
}

void TestDeviceLoad::fullLoadFillsTheModel()
{
    QFETCH(int, personality);
    QFETCH(QStringList, order);
    SimLink s{sim::Personality(personality)};
    sim::SimKeyboard *kb = s.keyboard;
    // Some state that differs from a fresh keyboard.
    QVERIFY(kb->pressLayerKey(1));
    QByteArray macroFrames(30, '\x05');
    QVERIFY(kb->setMacro(4, "hello", macroFrames));
    QByteArray kf(56, '\0');
    kf[0] = char(0x40 | 2);
    kb->setKeyFunction(2, kf);
    kb->clearReceivedFrames();

    Device *d = s.device();
    QSignalSpy finished(d, &Device::emitFinishLoad);
    QSignalSpy failed(d, &Device::emitLoadDevInfoError);
    LogCapture log;
    {
        Loader loader(d);
        loader.start();
        QTRY_VERIFY_WITH_TIMEOUT(loader.done, 20000);
        QCOMPARE(loader.result.load(), WK_SUCCESS);
    }
    QCOMPARE(finished.count(), 1);
    QCOMPARE(failed.count(), 0);
    QCOMPARE(commandRuns(s.frames()), order);

    const QStringList phases = {
        "loadDevInfoSlot------------------------------------------------------",
        "get device load information finished.",
        "get device load key code finished.",
        "Get device load key color succeeded.",
        "Get device load getKMInfo succeeded.",
        "Get device load key macro succeeded.",
        "Get device load key shortcuts succeeded.",
        "Get device load key LED succeeded.",
        "Get device load shortcuts succeeded."};
    const QStringList lines = log.lines();
    int at = -1;
    for (const QString &phase : phases) {
        int found = -1;
        for (int i = at + 1; i < lines.size() && found < 0; ++i) {
            if (lines[i].contains(phase))
                found = i;
        }
        QVERIFY2(found > at, qPrintable(phase));
        at = found;
    }

    QCOMPARE(d->productNameBlock(), kb->productName());
    QCOMPARE(d->deviceIdBytes(), kb->deviceId());
    QCOMPARE(d->fwVersion(), kb->firmwareVersion());
    QVERIFY(d->releaseDate().startsWith("20")); // digits as characters
    QCOMPARE(d->scanSpeed(), kb->scanSpeed());
    QCOMPARE(d->nKeyMode(), kb->nKey());
    QCOMPARE(d->userInfo(), kb->userInfo());

    QCOMPARE(int(d->kcmCount()), kb->keyMapCount());
    QCOMPARE(int(d->curKCM()), 1);
    QCOMPARE(raw(d->keyCodes(), d->kcCount()), kb->keyCodes(1));
    if (kb->hasLighting()) {
        QCOMPARE(int(d->krmCount()), kb->colourMapCount());
        QCOMPARE(raw(d->keyColours(), 4 * d->krCount()), kb->keyColours(kb->currentColourMap()));
        QCOMPARE(int(d->lmmCount()), kb->modeMapCount());
        QCOMPARE(raw(d->modes(), d->lmCount()), kb->modes(kb->currentModeMap()));
        QCOMPARE(int(d->laCount()), 32);
        for (int i = 0; i < d->laCount(); ++i)
            QCOMPARE(raw(d->laRecord(i), 1), kb->lightingRecord(i));
    } else {
        QCOMPARE(int(d->krCount()), 0);
        QCOMPARE(int(d->curKRM()), -1);
        QCOMPARE(int(d->lmCount()), 0);
        QCOMPARE(int(d->curLMM()), -1);
        QCOMPARE(int(d->laCount()), 0);
    }
    QCOMPARE(d->kfCount(), kb->keyFunctionCount());
    for (int i = 0; i < d->kfCount(); ++i)
        QCOMPARE(raw(d->kfRecord(i), 1), kb->keyFunction(i));
    QCOMPARE(int(d->kmCount()), kb->macroSlotCount());
    for (int i = 0; i < d->kmCount(); ++i)
        QCOMPARE(raw(d->macroHead(i), 1), kb->macroHead(i));
    QCOMPARE(int(d->macroHead(4)->frameCount()), 3);
    QVERIFY(d->macroHead(4)->used());

    if (kb->hasBluetooth()) {
        QCOMPARE(d->btNameRecord(), kb->bluetoothName());
        QCOMPARE(d->sleepTimeMs(), kb->sleepTime());
    } else {
        QCOMPARE(d->btNameRecord(), QByteArray(12, '\0'));
        QCOMPARE(d->sleepTimeMs(), 0u);
    }
}

void TestDeviceLoad::loadAsksAgainUntilTheKeyboardAnswers()
{
    SimLink s;
    s.keyboard->injectFault(noAnswerTo(0x10, 0x10, 1));
    Device *d = s.device();
    QSignalSpy finished(d, &Device::emitFinishLoad);
    Loader loader(d);
    loader.start();
    QTRY_VERIFY_WITH_TIMEOUT(loader.done, 20000);
    QCOMPARE(loader.result.load(), WK_SUCCESS);
    QCOMPARE(finished.count(), 1);
    const QList<QByteArray> f = s.frames();
    QCOMPARE(framesOf(f, 0x10, 0x10).size(), 2);
    QCOMPARE(byteAt(f[0], 1), uint8_t(0x10));
    QCOMPARE(byteAt(f[1], 1), uint8_t(0x10));
    QCOMPARE(d->productNameBlock(), s.keyboard->productName());
}

void TestDeviceLoad::loadStopsWhenTheDeviceCloses_data()
{
    QTest::addColumn<bool>("byInterruption");
    QTest::newRow("abortExchanges") << false;
    QTest::newRow("thread interruption") << true;
}

void TestDeviceLoad::loadStopsWhenTheDeviceCloses()
{
    // A keyboard that never answers keeps the load asking; closing the device
    // must still end it at once and without reporting a load error.
    QFETCH(bool, byInterruption);
    SimLink s;
    s.keyboard->injectFault(noAnswerTo(0x10, 0x10, -1));
    Device *d = s.device();
    QSignalSpy finished(d, &Device::emitFinishLoad);
    QSignalSpy failed(d, &Device::emitLoadDevInfoError);
    Loader loader(d);
    loader.start();
    QTRY_VERIFY(s.frames().size() >= 2); // asked, gave up, asked again
    QElapsedTimer clock;
    clock.start();
    if (byInterruption) {
        // What the session does when it stops the device thread.
        loader.thread.requestInterruption();
        QMutexLocker lock(&s.link->mutex);
        s.link->condition.wakeAll();
    } else {
        d->abortExchanges();
    }
    QTRY_VERIFY_WITH_TIMEOUT(loader.done, 10000);
    QVERIFY(clock.elapsed() < 3000);
    QCOMPARE(loader.result.load(), WK_ERROR_LOAD);
    QTest::qWait(20);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(failed.count(), 0);
}

void TestDeviceLoad::failingStepEndsTheLoad()
{
    SimLink s;
    sim::Fault wrong;
    wrong.kind = sim::FaultKind::WrongEcho;
    wrong.command = 0x50;
    wrong.subCommand = 0x01; // a macro head
    s.keyboard->injectFault(wrong);
    Device *d = s.device();
    QSignalSpy finished(d, &Device::emitFinishLoad);
    QSignalSpy failed(d, &Device::emitLoadDevInfoError);
    LogCapture log;
    Loader loader(d);
    loader.start();
    QTRY_VERIFY_WITH_TIMEOUT(loader.done, 20000);
    QCOMPARE(loader.result.load(), WK_ERROR_LOAD);
    QTRY_COMPARE(failed.count(), 1);
    QCOMPARE(finished.count(), 0);
    QCOMPARE(log.count(QStringLiteral("get KM head=0 failed")), 1);
    QCOMPARE(log.count(QStringLiteral("Load Dev Info Slot error!")), 1);
    // Nothing after the failing step was asked.
    QCOMPARE(commandRuns(s.frames()).last(), QStringLiteral("50/01"));
}

QTEST_GUILESS_MAIN(TestDeviceLoad)
#include "tst_device_load.moc"

// The HID transport and the presence watcher, at the wire of the simulated
// bus (or of a scripted keyboard where the bus cannot show a detail).

#include "device/checkusb.h"
#include "device/usb.h"
#include "tst_device_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>

using namespace linktest;

namespace {

// Takes every ring slot it is handed, copies the report and gives the slot back.
class RingReader : public QObject
{
public:
    explicit RingReader(Usb *usb) : m_usb(usb)
    {
        connect(usb, &Usb::emitRecvCmd, this, &RingReader::take);
    }
    void take(uint8_t *slot)
    {
        slotPtrs.append(slot);
        reports.append(QByteArray(reinterpret_cast<const char *>(slot), 64));
        m_usb->releaseRecvSlot(slot);
    }
    QList<uint8_t *> slotPtrs;
    QList<QByteArray> reports;

private:
    Usb *m_usb;
};

QByteArray notification(uint8_t kind, uint8_t fill)
{
    QByteArray r(64, char(fill));
    r[0] = char(0xF0);
    r[1] = char(kind);
    r[2] = 56;
    r[3] = 0;
    for (int i = 4; i < 8; ++i)
        r[i] = 0;
    return r;
}

} // namespace

class TestUsbTransport : public QObject
{
    Q_OBJECT

private slots:
    void writeSendsReportIdAndSixtyFourBytes();
    void writeWithoutHandleCallsNothing();
    void interfaceMatchingRule_data();
    void interfaceMatchingRule();
    void openByEnumerationUsesThePathRule();
    void openRetriesUntilThePathAppears();
    void readEnabledFlagPausesTheLoop();
    void unplugReleasesTheWaiterAndDisconnectsOnce();
    void answersAreNeverAnnouncedAsUnsolicited();
    void ringWrapsAfterThirtyTwoReports();
    void floodDropsReportsWithoutCorruption();
    void closeReleasesTheHandle();
    void checkUsbReportsOnlyChanges();
};

void TestUsbTransport::writeSendsReportIdAndSixtyFourBytes()
{
    ScriptedBackend backend; // refuses anything but 65 bytes starting with report id 0
    Link link(&backend);
    QVERIFY(link.opened);
    const unsigned char three[3] = {0x10, 0x20, 0x30};
    QCOMPARE(link.usb->write(three, 3), 0);
    unsigned char big[80];
    for (int i = 0; i < 80; ++i)
        big[i] = static_cast<unsigned char>(i + 1);
    QCOMPARE(link.usb->write(big, 80), 0); // only 64 bytes fit a report

    const QList<QByteArray> frames = backend.frames();
    QCOMPARE(frames.size(), 2);
    QCOMPARE(frames[0], QByteArray::fromHex("102030") + QByteArray(61, '\0'));
    QCOMPARE(frames[1], QByteArray(reinterpret_cast<const char *>(big), 64));

    backend.setWriteFails(true);
    QCOMPARE(link.usb->write(three, 3), -1);
}

void TestUsbTransport::writeWithoutHandleCallsNothing()
{
    ScriptedBackend backend;
    HidBackend::setInstance(&backend);
    QMutex mutex;
    QWaitCondition condition;
    bool waiting = false;
    Usb usb(&condition, &mutex, &waiting);
    const unsigned char frame[64] = {0x10, 0x10};
    QCOMPARE(usb.write(frame, 64), -1);
    unsigned char buf[64];
    QCOMPARE(usb.read(buf, 64), -1);
    QCOMPARE(backend.writeCalls(), 0);
    HidBackend::setInstance(nullptr);
}

void TestUsbTransport::interfaceMatchingRule_data()
{
    QTest::addColumn<int>("interfaceNumber");
    QTest::addColumn<QString>("path");
    QTest::addColumn<int>("wanted");
    QTest::addColumn<bool>("matches");
    QTest::newRow("number") << 2 << "1-4:1.0" << 2 << true;
    QTest::newRow("unknown number, path ends in 2") << -1 << "1-4:1.2" << 2 << true;
    QTest::newRow("unknown number, other digit") << -1 << "1-4:1.1" << 2 << false;
    QTest::newRow("number differs, path matches") << 0 << "1-4:1.2" << 2 << true;
    QTest::newRow("path ends in a letter") << -1 << "1-4:1.b" << 2 << false;
    QTest::newRow("empty path") << -1 << "" << 0 << false;
}

void TestUsbTransport::interfaceMatchingRule()
{
    QFETCH(int, interfaceNumber);
    QFETCH(QString, path);
    QFETCH(int, wanted);
    QFETCH(bool, matches);
    HidDeviceInfo info;
    info.interfaceNumber = interfaceNumber;
    info.path = path;
    QCOMPARE(usbInterfaceMatches(info, wanted), matches);
}

void TestUsbTransport::openByEnumerationUsesThePathRule()
{
    // The keyboard reports interface_number -1 for both of its interfaces;
    // only the path tells the vendor interface (1) from the boot keyboard (0).
    sim::SimBus bus;
    bus.setReportLatencyUs(0);
    sim::SimKeyboard *kb = bus.plug(sim::Personality::DualMode);
    kb->setReportsInterfaceNumber(false);
    Link link(&bus);
    QVERIFY(link.opened);
    QCOMPARE(link.device->getScanSpeed(), WK_SUCCESS); // only the vendor interface answers
    QCOMPARE(kb->receivedFrames().size(), 1);

    // A pair that is not on the bus opens nothing.
    link.usb->setDfuPID(0x0416, 0xA316, 0);
    QCOMPARE(link.usb->open(), 0); // the handle opened before stays
    link.shutdown();
    QCOMPARE(bus.openHandleCount(), 0);
}

void TestUsbTransport::openRetriesUntilThePathAppears()
{
    sim::SimBus bus;
    bus.setReportLatencyUs(0);
    sim::SimKeyboard *kb = bus.plug(sim::Personality::UsbOnly);
    const QString path = kb->path();
    bus.unplug(kb);
    HidBackend::setInstance(&bus);

    QMutex mutex;
    QWaitCondition condition;
    bool waiting = false;
    QThread thread;
    auto *usb = new Usb(&condition, &mutex, &waiting);
    usb->moveToThread(&thread);
    SignalCounter opened(usb, &Usb::emitOpenSucceeded);
    LogCapture log;
    thread.start();
    QMetaObject::invokeMethod(usb, "openSlot", Qt::QueuedConnection,
                              Q_ARG(unsigned short, sim::kSimVendorId),
                              Q_ARG(unsigned short, sim::kSimProductId),
                              Q_ARG(int, sim::kSimInterface), Q_ARG(QString, path));
    // Two attempts a second apart fail and are logged; nothing is announced.
    QTRY_VERIFY_WITH_TIMEOUT(log.count(QStringLiteral("usb opening ..........")) >= 2, 5000);
    QCOMPARE(opened.count(), 0);

    bus.plug(sim::Personality::UsbOnly, 0); // the same keyboard comes back
    QTRY_COMPARE_WITH_TIMEOUT(opened.count(), 1, 5000);
    QCOMPARE(usb->getUsbPath(), path);
    QVERIFY(usb->isOpen());

    usb->quitReadWhile();
    thread.quit();
    QVERIFY(thread.wait(5000));
    delete usb; // closes the handle it still holds
    QCOMPARE(bus.openHandleCount(), 0);
    HidBackend::setInstance(nullptr);
}

void TestUsbTransport::readEnabledFlagPausesTheLoop()
{
    SimLink s;
    QObject::disconnect(s.usb(), &Usb::emitRecvCmd, s.device(), &Device::recvCmdSlot);
    RingReader reader(s.usb());
    s.usb()->setReadEnabled(false);
    QTest::qWait(30); // the loop picks the flag up within one pass
    s.keyboard->sendNotification(0x20, QByteArray::fromHex("0001"));
    QTest::qWait(100);
    QCOMPARE(reader.reports.size(), 0);

    // Meanwhile another reader (the dual-mode update) owns the handle.
    unsigned char buf[64] = {};
    QCOMPARE(s.usb()->read(buf, 64), 0);
    QCOMPARE(int(buf[0]), 0xF0);
    QCOMPARE(int(buf[9]), 0x01);

    s.usb()->setReadEnabled(true);
    s.keyboard->sendNotification(0x30, QByteArray::fromHex("0002"));
    QTRY_COMPARE(reader.reports.size(), 1);
    QCOMPARE(int(uint8_t(reader.reports[0][1])), 0x30);
}

void TestUsbTransport::unplugReleasesTheWaiterAndDisconnectsOnce()
{
    SimLink s;
    SignalCounter disconnected(s.usb(), &Usb::emitUsbDisconnect);
    sim::Fault silent;
    silent.kind = sim::FaultKind::NoAnswer;
    s.keyboard->injectFault(silent);

    std::atomic<uint32_t> result{0};
    QElapsedTimer clock;
    clock.start();
    QThread *caller = QThread::create([&] { result = s.device()->setNKey(0); });
    caller->start();
    QTRY_VERIFY(s.link->waitingFlag()); // the command waits for its answer
    s.bus.unplug(s.keyboard);
    QVERIFY(caller->wait(10000));
    delete caller;
    // Released by the read error long before its 5 s limit, and not taken as an answer.
    QVERIFY2(clock.elapsed() < 4000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(result.load(), WK_ERROR_TIMEOUT);
    QVERIFY(!s.link->waitingFlag());
    QTRY_COMPARE(disconnected.count(), 1);
    QVERIFY(!s.usb()->isLinkUp());

    // Later commands fail at once.
    clock.restart();
    QCOMPARE(s.device()->getScanSpeed(), WK_ERROR_TIMEOUT);
    QVERIFY(clock.elapsed() < 1000);
    QTest::qWait(50);
    QCOMPARE(disconnected.count(), 1);
}

void TestUsbTransport::answersAreNeverAnnouncedAsUnsolicited()
{
    SimLink s;
    SignalCounter unsolicited(s.usb(), &Usb::emitRecvCmd);
    for (int i = 0; i < 20; ++i)
        QCOMPARE(s.device()->getNKey(), WK_SUCCESS);
    QTest::qWait(50);
    QCOMPARE(unsolicited.count(), 0);
}

void TestUsbTransport::ringWrapsAfterThirtyTwoReports()
{
    SimLink s;
    QObject::disconnect(s.usb(), &Usb::emitRecvCmd, s.device(), &Device::recvCmdSlot);
    RingReader reader(s.usb());
    for (int i = 0; i < 32; ++i)
        s.keyboard->sendNotification(0x21, QByteArray(8, char(i)));
    QTRY_COMPARE(reader.reports.size(), 32);
    s.keyboard->sendNotification(0x21, QByteArray(8, char(32)));
    QTRY_COMPARE(reader.reports.size(), 33);

    QCOMPARE(reader.slotPtrs[32], reader.slotPtrs[0]); // the 33rd reuses the slot of the 1st
    QSet<uint8_t *> distinct(reader.slotPtrs.begin(), reader.slotPtrs.begin() + 32);
    QCOMPARE(distinct.size(), 32);
    for (int i = 0; i < 33; ++i)
        QCOMPARE(int(uint8_t(reader.reports[i][8])), i);
    QCOMPARE(s.usb()->droppedReports(), quint64(0));
}

void TestUsbTransport::floodDropsReportsWithoutCorruption()
{
    ScriptedBackend backend;
    Link link(&backend);
    QObject::disconnect(link.usb, &Usb::emitRecvCmd, link.device, &Device::recvCmdSlot);
    RingReader reader(link.usb);
    LogCapture log;

    // 100 reports while the receiver is busy (this thread handles no events).
    for (int i = 0; i < 100; ++i)
        backend.push(notification(0x50, static_cast<uint8_t>(i)));
    QThread::msleep(300);
    QTRY_COMPARE(link.usb->droppedReports(), quint64(68));
    QCoreApplication::processEvents();
    QTRY_COMPARE(reader.reports.size(), 32);
    // The 32 that got a slot are the first 32, each intact.
    for (int i = 0; i < 32; ++i)
        QCOMPARE(reader.reports[i], notification(0x50, static_cast<uint8_t>(i)));
    QTRY_COMPARE(log.count(QStringLiteral("notification ring full, 68 report(s) dropped")), 1);

    // Slots given back are used again.
    backend.push(notification(0x50, 0xAB));
    QTRY_COMPARE(reader.reports.size(), 33);
    QCOMPARE(reader.reports[32], notification(0x50, 0xAB));
    QCOMPARE(link.usb->droppedReports(), quint64(68));
}

void TestUsbTransport::closeReleasesTheHandle()
{
    sim::SimBus bus;
    bus.setReportLatencyUs(0);
    bus.plug(sim::Personality::DualMode);
    Link link(&bus);
    QVERIFY(link.opened);
    QCOMPARE(link.usb->open(), 0); // opening again replaces the handle, no leak
    QCOMPARE(bus.openHandleCount(), 1);
    link.usb->quitReadWhile();
    link.usbThread.quit();
    QVERIFY(link.usbThread.wait(5000));
    link.usb->close();
    QCOMPARE(bus.openHandleCount(), 0);
    const unsigned char frame[64] = {};
    QCOMPARE(link.usb->write(frame, 64), -1);
}

void TestUsbTransport::checkUsbReportsOnlyChanges()
{
    sim::SimBus bus;
    HidBackend::setInstance(&bus);
    sim::SimKeyboard *kb = bus.plug(sim::Personality::DualMode);
    LogCapture log;

    CheckUSB watch(sim::kSimVendorId, sim::kSimProductId);
    QSignalSpy gone(&watch, &CheckUSB::emitDisconnect);
    watch.scanDeviceSlot();
    watch.scanDeviceSlot();
    QCOMPARE(gone.count(), 0); // present from the start: nothing to report
    bus.unplug(kb);
    watch.scanDeviceSlot();
    watch.scanDeviceSlot();
    watch.scanDeviceSlot();
    QCOMPARE(gone.count(), 1); // once per change, not once per poll
    QCOMPARE(log.count(QStringLiteral("USB disconnect.")), 1);
    bus.plug(sim::Personality::DualMode);
    watch.scanDeviceSlot();
    QCOMPARE(gone.count(), 1);
    QCOMPARE(log.count(QStringLiteral("USB connect.")), 1);

    // A pair already missing at the first poll is reported once, by the timer.
    CheckUSB loader(0x0416, 0xA316);
    QSignalSpy loaderGone(&loader, &CheckUSB::emitDisconnect);
    loader.start(10);
    QTRY_COMPARE(loaderGone.count(), 1);
    QTest::qWait(60);
    QCOMPARE(loaderGone.count(), 1);
    loader.stop();
    QVERIFY(CheckUSB::isHaveDevice(sim::kSimVendorId, sim::kSimProductId));
    QVERIFY(!CheckUSB::isHaveDevice(0x0416, 0xA316));
    HidBackend::setInstance(nullptr);
}

QTEST_GUILESS_MAIN(TestUsbTransport)
#include "tst_usb_transport.moc"

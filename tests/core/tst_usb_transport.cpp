// The HID transport and the presence watcher, at the wire of the simulated
// bus (or of a scripted keyboard where the bus cannot show a detail).

#include "device/checkusb.h"
#include "device/usb.h"
#include "tst_device_fixture.h"

#include <QSignalSpy>
#include <QtTest>

#include <atomic>

using namespace linktest;

namespace {
QByteArray bytes(const uint8_t *p, int n)
{
    return QByteArray(reinterpret_cast<const char *>(p), n);
}
} // namespace

class TestUsbTransport : public QObject
{
    Q_OBJECT

private slots:
    void writeSendsReportIdAndSixtyFourBytes()
    {
        ScriptedBackend backend; // refuses anything but 65 bytes starting with report id 0
        Link link(&backend);
        QVERIFY(link.opened);
        const unsigned char three[3] = {0x10, 0x20, 0x30};
        unsigned char big[80];
        for (int i = 0; i < 80; ++i)
            big[i] = static_cast<unsigned char>(i + 1);
        QCOMPARE(link.usb->write(three, 3), 0);
        QCOMPARE(link.usb->write(big, 80), 0); // only 64 bytes fit a report
        QCOMPARE(backend.frames(),
                 (QList<QByteArray>{QByteArray::fromHex("102030") + QByteArray(61, '\0'),
                                    bytes(big, 64)}));
        backend.setWriteFails(true);
        QCOMPARE(link.usb->write(three, 3), -1);
        backend.setWriteFails(false);
        link.usb->close(); // no handle: -1 without calling the back end
        QCOMPARE(link.usb->write(three, 3) + link.usb->read(big, 64), -2);
        QCOMPARE(backend.frames().size(), 2);
    }

    void interfaceMatchingRule_data()
    {
        QTest::addColumn<int>("interfaceNumber");
        QTest::addColumn<QString>("path");
        QTest::addColumn<bool>("matches"); // interface 2 wanted
        QTest::newRow("number") << 2 << "1-4:1.0" << true;
        QTest::newRow("unknown number, path ends in 2") << -1 << "1-4:1.2" << true;
        QTest::newRow("unknown number, other digit") << -1 << "1-4:1.1" << false;
        QTest::newRow("empty path") << -1 << "" << false;
    }

    void interfaceMatchingRule()
    {
        HidDeviceInfo info;
        QFETCH(int, interfaceNumber);
        QFETCH(QString, path);
        info.interfaceNumber = interfaceNumber;
        info.path = path;
        QTEST(usbInterfaceMatches(info, 2), "matches");
    }

    void openByEnumerationAndClose()
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
        QCOMPARE(link.usb->open(), 0); // opening again replaces the handle, no leak
        QCOMPARE(bus.openHandleCount(), 1);
        link.usb->setDfuPID(0x0416, 0xA316, 0);
        QCOMPARE(link.usb->open(), 0); // a pair not on the bus: the open handle stays

        link.usb->quitReadWhile();
        link.usbThread.quit();
        QVERIFY(link.usbThread.wait(5000));
        link.usb->close();
        QCOMPARE(bus.openHandleCount(), 0);
    }

    void openRetriesUntilThePathAppears()
    {
        sim::SimBus bus;
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
        std::atomic<int> opened{0};
        QObject::connect(usb, &Usb::emitOpenSucceeded, [&] { ++opened; });
        LogCapture log;
        thread.start();
        QMetaObject::invokeMethod(usb, "openSlot", Qt::QueuedConnection,
                                  Q_ARG(unsigned short, sim::kSimVendorId),
                                  Q_ARG(unsigned short, sim::kSimProductId),
                                  Q_ARG(int, sim::kSimInterface), Q_ARG(QString, path));
        // Two attempts a second apart fail and are logged; nothing is announced.
        QTRY_VERIFY_WITH_TIMEOUT(log.count(QStringLiteral("usb opening ..........")) >= 2, 5000);
        QCOMPARE(opened.load(), 0);

        bus.plug(sim::Personality::UsbOnly, 0); // the same keyboard comes back
        QTRY_COMPARE_WITH_TIMEOUT(opened.load(), 1, 5000);
        QCOMPARE(usb->getUsbPath(), path);

        usb->quitReadWhile();
        thread.quit();
        QVERIFY(thread.wait(5000));
        delete usb; // closes the handle it still holds
        QCOMPARE(bus.openHandleCount(), 0);
        HidBackend::setInstance(nullptr);
    }

    void readEnabledFlagPausesTheLoop()
    {
        SimLink s;
        QSignalSpy notified(s.device(), &Device::emitNotify);
        QCOMPARE(s.device()->getNKey(), WK_SUCCESS); // the loop sits in its read now
        s.usb()->setReadEnabled(false);
        QVERIFY(s.usb()->waitReadPaused(5000)); // the read in flight has returned
        s.keyboard->sendNotification(0x20, QByteArray::fromHex("0001"));
        QTest::qWait(100);
        QCOMPARE(notified.count(), 0);

        // Meanwhile another reader (the dual-mode update) owns the handle.
        unsigned char buf[64] = {};
        QCOMPARE(s.usb()->read(buf, 64), 0);
        QCOMPARE(bytes(buf, 10), QByteArray::fromHex("f0200200000000000001"));

        // The sleeping loop wakes up on enabling and reads again.
        s.usb()->setReadEnabled(true);
        s.keyboard->sendNotification(0x30, QByteArray::fromHex("0002"));
        QTRY_COMPARE(notified.count(), 1);
        QCOMPARE(int(notified.at(0).at(0).value<HidReport>()[1]), 0x30);

        // Stopping wakes a loop that sleeps while reading is disabled.
        s.usb()->setReadEnabled(false);
        QVERIFY(s.usb()->waitReadPaused(5000));
        s.usb()->quitReadWhile();
        s.link->usbThread.quit();
        QVERIFY(s.link->usbThread.wait(5000));
    }

    void unplugReleasesTheWaiterAndDisconnectsOnce()
    {
        std::atomic<int> disconnected{0};
        SimLink s;
        QObject::connect(s.usb(), &Usb::emitUsbDisconnect, [&] { ++disconnected; });
        s.keyboard->injectFault(fault(sim::FaultKind::NoAnswer));
        std::atomic<uint32_t> result{0};
        QThread *caller = QThread::create([&] { result = s.device()->setNKey(0); });
        caller->start();
        QTRY_VERIFY(s.link->waitingFlag()); // the command waits for its answer
        s.bus.unplug(s.keyboard);
        // Released by the read error well before its own 5 s limit, and not
        // taken as an answer.
        QVERIFY(caller->wait(4000));
        delete caller;
        QCOMPARE(result.load(), WK_ERROR_TIMEOUT);
        QVERIFY(!s.link->waitingFlag());
        QTRY_COMPARE(disconnected.load(), 1);
        QVERIFY(!s.usb()->isLinkUp());
        QTest::qWait(50);
        QCOMPARE(disconnected.load(), 1);
    }

    void ringWrapsAfterThirtyTwoReports()
    {
        // Through the device model, which copies each slot and gives it back:
        // the 33rd report reuses the slot of the 1st, and nothing is lost.
        SimLink s;
        QList<uint8_t *> slotPtrs;
        QObject receiver;
        QObject::connect(s.usb(), &Usb::emitRecvCmd, &receiver, [&](uint8_t *p) { slotPtrs << p; });
        QSignalSpy notified(s.device(), &Device::emitNotify);
        for (int i = 0; i < 20; ++i) // answers of commands never reach the ring
            QCOMPARE(s.device()->getNKey(), WK_SUCCESS);
        for (int i = 0; i < 33; ++i) {
            s.keyboard->sendNotification(0x21, QByteArray(8, char(i)));
            if (i == 31)
                QTRY_COMPARE(notified.count(), 32);
        }
        QTRY_COMPARE(notified.count(), 33);
        QCOMPARE(slotPtrs.size(), 33);
        QCOMPARE(slotPtrs[32], slotPtrs[0]);
        QCOMPARE(QSet<uint8_t *>(slotPtrs.begin(), slotPtrs.end()).size(), 32);
        for (int i = 0; i < 33; ++i)
            QCOMPARE(int(notified.at(i).at(0).value<HidReport>()[8]), i);
        QCOMPARE(s.usb()->droppedReports(), quint64(0));
    }

    void floodDropsReportsWithoutCorruption_data()
    {
        // The simulated bus wakes a stopped read; the scripted back end is
        // read in slices. Either way the drops are told once it is quiet.
        QTest::addColumn<bool>("simulatedBus");
        QTest::newRow("back end that wakes its reads") << true;
        QTest::newRow("back end read in slices") << false;
    }

    void floodDropsReportsWithoutCorruption()
    {
        QFETCH(bool, simulatedBus);
        ScriptedBackend scripted;
        sim::SimBus bus;
        sim::SimKeyboard *kb = bus.plug(sim::Personality::DualMode);
        Link link(simulatedBus ? static_cast<HidBackend *>(&bus) : &scripted);
        QVERIFY(link.opened);
        auto push = [&](const QByteArray &report) {
            if (simulatedBus)
                kb->sendRawReport(report);
            else
                scripted.push(report);
        };
        // A receiver that copies each slot and gives it back.
        QList<QByteArray> reports;
        QObject receiver;
        QObject::disconnect(link.usb, &Usb::emitRecvCmd, nullptr, nullptr);
        QObject::connect(link.usb, &Usb::emitRecvCmd, &receiver, [&](uint8_t *slot) {
            reports << bytes(slot, 64);
            link.usb->releaseRecvSlot(slot);
        });
        LogCapture log;
        // 100 reports while the receiver is busy (this thread handles no
        // events): the 32 that got a slot are the first 32, each intact; the
        // rest are counted.
        for (int i = 0; i < 100; ++i)
            push(QByteArray(64, char(i)));
        QThread::msleep(300);
        QTRY_COMPARE(link.usb->droppedReports(), quint64(68));
        QTRY_COMPARE(reports.size(), 32);
        for (int i = 0; i < 32; ++i)
            QCOMPARE(reports[i], QByteArray(64, char(i)));
        QTRY_COMPARE(log.count(QStringLiteral("notification ring full, 68 report(s) dropped")), 1);
        // Slots given back are used again.
        push(QByteArray(64, char(0xAB)));
        QTRY_COMPARE(reports.size(), 33);
        QCOMPARE(reports[32], QByteArray(64, char(0xAB)));
        QCOMPARE(link.usb->droppedReports(), quint64(68));
    }

    void checkUsbReportsOnlyChanges()
    {
        sim::SimBus bus;
        HidBackend::setInstance(&bus);
        sim::SimKeyboard *kb = bus.plug(sim::Personality::DualMode);
        LogCapture log;
        CheckUSB watch(sim::kSimVendorId, sim::kSimProductId);
        QSignalSpy gone(&watch, &CheckUSB::emitDisconnect);
        watch.scanDeviceSlot(); // present from the start: nothing to report
        bus.unplug(kb);
        for (int i = 0; i < 3; ++i)
            watch.scanDeviceSlot();
        bus.plug(sim::Personality::DualMode);
        watch.scanDeviceSlot();
        // Once per change, not once per poll.
        QCOMPARE(gone.count(), 1);
        QCOMPARE(log.count(QStringLiteral("USB disconnect.")), 1);
        QCOMPARE(log.count(QStringLiteral("USB connect.")), 1);

        // A pair already missing at the first poll is reported once, by the timer.
        CheckUSB loader(0x0416, 0xA316);
        QSignalSpy loaderGone(&loader, &CheckUSB::emitDisconnect);
        loader.start(10);
        QTRY_COMPARE(loaderGone.count(), 1);
        QTest::qWait(60);
        QCOMPARE(loaderGone.count(), 1);
        HidBackend::setInstance(nullptr);
    }
};

QTEST_GUILESS_MAIN(TestUsbTransport)
#include "tst_usb_transport.moc"

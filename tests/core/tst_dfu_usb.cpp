// The USB boot-loader protocol of the device model against the simulated
// loader: packet bytes, numbering and progress, answers that must be ignored,
// and every way a loader can fail ending in one failure signal, never a hang.

#include "device/device.h"
#include "device/usb.h"
#include "tst_device_fixture.h"

#include <QtTest>

#include <atomic>

using namespace linktest;
using sim::LoaderFaultKind;

namespace {

constexpr int kHangBoundMs = 5000; // far above every deadline below: only a hang exceeds it

QByteArray le(uint32_t v)
{
    const uint32_t x = qToLittleEndian(v);
    return QByteArray(reinterpret_cast<const char *>(&x), 4);
}

// The packets a host must send for `image`, built from the wire description.
QList<QByteArray> expectedPackets(const QByteArray &image)
{
    auto packet = [](uint32_t command, uint32_t number, const QByteArray &data) {
        return (le(command) + le(number) + data).leftJustified(64, '\0');
    };
    QList<QByteArray> out{packet(0xA4, 1, le(1)),
                          packet(0xA0, 3, le(0) + le(image.size()) + image.left(48))};
    uint32_t number = 5;
    for (int at = 48; at < image.size(); at += 56, number += 2)
        out << packet(0x00, number, image.mid(at, 56));
    return out << packet(0xAB, number, {});
}

// A bus with one boot loader that answers at once, and a loader-mode device
// on its own thread bound to a transport opened on the loader, as the update
// flow sets it up. Its signals are counted on the test thread.
class LoaderSession
{
public:
    LoaderSession() : usb(nullptr, nullptr, nullptr)
    {
        bus.setReportLatencyUs(0);
        bus.setBootLoaderDelayMs(0);
        kb = bus.plug(sim::Personality::BootLoader);
        HidBackend::setInstance(&bus);
        usb.setDfuPID(sim::kBootLoaderVendorId, sim::kBootLoaderProductId,
                      sim::kBootLoaderInterface);
        device = new Device(nullptr, nullptr, nullptr, nullptr);
        opened = device->openDFU(&usb);
        device->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, device, &Device::readDFUUsbSlot);
        QObject::connect(device, &Device::SendByteUpdateProgress, &receiver,
                         [this](int bytes) { progress << bytes; });
        QObject::connect(device, &Device::emitUpdateDfuFinished, &receiver, [this] { ++finished; });
        QObject::connect(device, &Device::emitStopDfu, &receiver, [this] { ++stopped; });
    }
    ~LoaderSession()
    {
        device->stopDfuRead();
        thread.quit();
        thread.wait();
        usb.close(); // only after the reader ended
        delete device;
        HidBackend::setInstance(nullptr);
    }
    bool start(QByteArray image)
    {
        thread.start();
        return opened && device->dfuStartUpdateFW(reinterpret_cast<uint8_t *>(image.data()),
                                                  image.size()) == 0;
    }
    // Sends `image` and waits for its end signal and for the answer loop to
    // return to the thread's event loop.
    bool run(const QByteArray &image)
    {
        if (!start(image) ||
            !QTest::qWaitFor([this] { return finished + stopped > 0; }, kHangBoundMs))
            return false;
        QMetaObject::invokeMethod(
            device, [this] { loopEnded = true; }, Qt::QueuedConnection);
        const bool ended = QTest::qWaitFor([this] { return loopEnded.load(); }, kHangBoundMs);
        QCoreApplication::processEvents(); // what it emitted before it ended
        return ended;
    }

    sim::SimBus bus;
    sim::SimKeyboard *kb = nullptr;
    Usb usb;
    Device *device = nullptr;
    QThread thread;
    QObject receiver;
    bool opened = false;
    int finished = 0;
    int stopped = 0;
    QList<int> progress;
    std::atomic<bool> loopEnded{false};
};

} // namespace

class TestDfuUsb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }
    // Answer, erase, leave and read slice in ms.
    void init() { Device::setDfuTimeouts({250, 400, 200, 10}); }

    void imageTravelsWhole_data()
    {
        QTest::addColumn<int>("length");
        for (int length : {0, 1, 48, 49, 104, 105, 65536})
            QTest::addRow("%d bytes", length) << length;
    }

    // Every packet byte for byte, the progress values and the stored image.
    void imageTravelsWhole()
    {
        QFETCH(int, length);
        LoaderSession s;
        const QByteArray image = sim::makeFirmwareImage(321, length, uint32_t(length));
        QVERIFY(s.run(image));
        QCOMPARE(s.kb->receivedFrames(), expectedPackets(image));
        QList<int> progress;
        for (int sent = 48 + 56; sent - 56 < length; sent += 56)
            progress << qMin(sent, length);
        QCOMPARE(s.progress, progress);
        QCOMPARE(s.finished, 1);
        QCOMPARE(s.stopped, 0); // the loader leaving after the run command is no failure
        QCOMPARE(s.kb->loaderImage(), image);
    }

    void answers_data()
    {
        QTest::addColumn<int>("kind");      // -1: the packet cannot be written
        QTest::addColumn<int>("packet");    // of 12: sync 0, erase 1, writes 2-10, run 11
        QTest::addColumn<bool>("succeeds"); // the right answer follows the wrong one
        using K = LoaderFaultKind;
        QTest::newRow("wrong checksum, then the right one") << int(K::WrongChecksum) << 0 << true;
        QTest::newRow("own number, then the right one") << int(K::SamePacketNumber) << 1 << true;
        QTest::newRow("stale answer, then the right one") << int(K::StaleAnswer) << 5 << true;
        QTest::newRow("loader stays after the run command") << int(K::StayInLoader) << 11 << true;
        QTest::newRow("wrong checksum only") << int(K::WrongChecksum) << 0 << false;
        QTest::newRow("own number only") << int(K::SamePacketNumber) << 1 << false;
        QTest::newRow("stale answer only") << int(K::StaleAnswer) << 5 << false;
        QTest::newRow("refused erase") << int(K::ErrorCode) << 1 << false;
        QTest::newRow("silence at the last write") << int(K::Silence) << 10 << false;
        QTest::newRow("unplug at a write") << int(K::Unplug) << 5 << false;
        QTest::newRow("run command not written") << -1 << 10 << false;
    }

    // A wrong answer is never taken: followed by the right one the update goes
    // on; alone it ends the update with one failure signal at its deadline, as
    // does a run command that never left. A loader staying after the run
    // command leaves the update finished.
    void answers()
    {
        QFETCH(int, kind);
        QFETCH(int, packet);
        QFETCH(bool, succeeds);
        LoaderSession s;
        sim::LoaderFault f;
        f.kind = LoaderFaultKind(kind);
        f.atPacket = packet;
        f.thenAnswer = succeeds;
        if (kind >= 0)
            s.kb->injectLoaderFault(f);
        else
            s.kb->injectFault(fault(sim::FaultKind::WriteFailure, 0xAB));
        const QByteArray image = sim::makeFirmwareImage(200, 500);
        QVERIFY(s.run(image));

        const QList<QByteArray> frames = s.kb->receivedFrames();
        QCOMPARE(s.finished, int(succeeds));
        QCOMPARE(s.stopped, int(!succeeds));
        if (succeeds) {
            QCOMPARE(frames, expectedPackets(image));
            QCOMPARE(s.kb->loaderImage(), image);
            return;
        }
        QCOMPARE(frames.size(), packet + 1); // nothing after the packet left unanswered
        // The answer the host waited for, arriving after the end, changes nothing.
        const QByteArray &last = frames.last();
        QByteArray late =
            (le(Device::dfuGetCRC(reinterpret_cast<const uint8_t *>(last.data()), 64)) +
             le(qFromLittleEndian<uint32_t>(last.constData() + 4) + 1))
                .leftJustified(64, '\0');
        s.device->onDfuReceiveCmd(reinterpret_cast<uint8_t *>(late.data()), 64);
        QTest::qWait(50);
        QCOMPARE(s.kb->receivedFrames().size(), frames.size());
        QCOMPARE(s.finished + s.stopped, 1);
        QVERIFY(s.device->dfuFailed());
    }

    void badImageSendsNothing()
    {
        LoaderSession s;
        s.thread.start();
        QVERIFY(s.device->dfuStartUpdateFW(nullptr, 10) != 0);
        QTRY_COMPARE_WITH_TIMEOUT(s.stopped, 1, kHangBoundMs);
        QVERIFY(s.kb->receivedFrames().isEmpty());
    }

    // The flow joins the loader thread before it closes the handle: a reader
    // waiting for an answer that never comes lets it go at once when asked,
    // by stopDfuRead or by QThread::requestInterruption.
    void stopRequestReleasesTheReader()
    {
        Device::DfuTimeouts slow = Device::dfuTimeouts();
        slow.answerMs = slow.eraseMs = 60000;
        Device::setDfuTimeouts(slow);
        for (bool interrupt : {false, true}) {
            LoaderSession s;
            s.kb->injectLoaderFault({}); // the first packet is not answered
            QVERIFY(s.start(sim::makeFirmwareImage(1, 100)));
            QTRY_COMPARE(s.kb->receivedFrames().size(), 1);
            if (interrupt)
                s.thread.requestInterruption();
            else
                s.device->stopDfuRead();
            s.thread.quit();
            QVERIFY2(s.thread.wait(kHangBoundMs), interrupt ? "interruption" : "stopDfuRead");
            QCoreApplication::processEvents();
            QCOMPARE(s.stopped + s.finished, 0); // a stop asked for is no failure
        }
    }
};

QTEST_GUILESS_MAIN(TestDfuUsb)
#include "tst_dfu_usb.moc"

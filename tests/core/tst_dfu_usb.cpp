// The USB boot-loader protocol of the device model against the simulated
// loader: packet bytes, numbering and progress, answers that must be ignored,
// and every way a loader can fail ending in one failure signal, never a hang.

#include "device/device.h"
#include "device/usb.h"
#include "tst_device_fixture.h"

#include <QtTest>

#include <atomic>

using namespace linktest;
using sim::LoaderFault;
using sim::LoaderFaultKind;

namespace {

constexpr int kHangBoundMs = 5000; // far above every deadline below: only a hang exceeds it

void put32(QByteArray &a, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        a[at + i] = char(v >> (8 * i));
}

// The packets a host must send for `image`, built from the wire description.
QList<QByteArray> expectedPackets(const QByteArray &image)
{
    auto packet = [](uint32_t command, uint32_t number) {
        QByteArray p(64, '\0');
        put32(p, 0, command);
        put32(p, 4, number);
        return p;
    };
    QList<QByteArray> out;
    QByteArray sync = packet(0xA4, 1);
    put32(sync, 8, 1);
    out << sync;
    QByteArray first = packet(0xA0, 3);
    put32(first, 12, uint32_t(image.size()));
    first.replace(16, qMin(48, image.size()), image.left(48));
    out << first;
    uint32_t number = 5;
    for (int at = 48; at < image.size(); at += 56, number += 2) {
        QByteArray data = packet(0x00, number);
        const QByteArray chunk = image.mid(at, 56);
        data.replace(8, chunk.size(), chunk);
        out << data;
    }
    out << packet(0xAB, number);
    return out;
}

// A loader-mode device on its own thread, bound to a transport opened on the
// loader, as the update flow sets it up. Its signals are counted on the test
// thread (queued).
class LoaderSession
{
public:
    explicit LoaderSession(sim::SimBus *bus) : usb(nullptr, nullptr, nullptr)
    {
        HidBackend::setInstance(bus);
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
    void start(QByteArray image)
    {
        thread.start();
        device->dfuStartUpdateFW(reinterpret_cast<uint8_t *>(image.data()), image.size());
    }
    // True once the answer loop has returned to the thread's event loop.
    bool readerEnded()
    {
        if (!thread.isRunning())
            return true;
        QMetaObject::invokeMethod(
            device, [this] { ended = true; }, Qt::QueuedConnection);
        QTest::qWait(30);
        return ended.load();
    }

    Usb usb;
    Device *device = nullptr;
    QThread thread;
    QObject receiver;
    bool opened = false;
    int finished = 0;
    int stopped = 0;
    QList<int> progress;
    std::atomic<bool> ended{false};
};

} // namespace

class TestDfuUsb : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        Device::DfuTimeouts t;
        t.answerMs = 250;
        t.eraseMs = 400;
        t.leaveMs = 200;
        t.readSliceMs = 10;
        Device::setDfuTimeouts(t);
    }

    void checksumIsAByteSum()
    {
        const QByteArray sync =
            QByteArray::fromHex("a40000000100000001000000") + QByteArray(52, '\0');
        QCOMPARE(expectedPackets(QByteArray()).first(), sync);
        QCOMPARE(Device::dfuGetCRC(reinterpret_cast<const uint8_t *>(sync.constData()), 64),
                 uint16_t(0xA6));
        const QByteArray ff(64, char(0xFF)); // 64 x 255 = 0x3FC0, no 8-bit wrap
        QCOMPARE(Device::dfuGetCRC(reinterpret_cast<const uint8_t *>(ff.constData()), 64),
                 uint16_t(0x3FC0));
    }

    void imageTravelsWhole_data()
    {
        QTest::addColumn<int>("length");
        for (int length : {0, 1, 48, 49, 104, 105, 65536})
            QTest::addRow("%d bytes", length) << length;
    }

    // Every packet byte for byte, the progress values, the stored image, and
    // the keyboard back with the image's version.
    void imageTravelsWhole()
    {
        QFETCH(int, length);
        sim::SimBus bus;
        bus.setReportLatencyUs(0);
        bus.setBootLoaderDelayMs(0);
        sim::SimKeyboard *loader = bus.plug(sim::Personality::BootLoader);
        const QByteArray image = sim::makeFirmwareImage(321, length, uint32_t(length));
        LoaderSession session(&bus);
        QVERIFY(session.opened);
        session.start(image);
        QTRY_VERIFY_WITH_TIMEOUT(session.finished + session.stopped > 0, kHangBoundMs);
        QTRY_VERIFY_WITH_TIMEOUT(session.readerEnded(), kHangBoundMs);

        const QList<QByteArray> expected = expectedPackets(image);
        QCOMPARE(expected.size(), length <= 48 ? 3 : 3 + (length - 48 + 55) / 56);
        QCOMPARE(loader->receivedFrames(), expected);
        QList<int> progress;
        for (int sent = 48 + 56; sent - 56 < length; sent += 56)
            progress << qMin(sent, length);
        QCOMPARE(session.progress, progress);
        QCOMPARE(session.finished, 1);
        QCOMPARE(session.stopped, 0); // the loader leaving after the run command is no failure
        QCOMPARE(loader->loaderImage(), image);
        sim::SimKeyboard *back = nullptr;
        QTRY_VERIFY((back = bus.find(sim::Personality::DualMode, loader->index())));
        if (length == 65536)
            QCOMPARE(int(back->firmwareVersion()), 321);
    }

    void answers_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("packet"); // of 12: sync 0, erase 1, writes 2-10, run 11
        QTest::addColumn<bool>("thenAnswer");
        QTest::addColumn<bool>("succeeds");
        const struct
        {
            const char *name;
            LoaderFaultKind kind;
        } kinds[] = {{"wrong checksum", LoaderFaultKind::WrongChecksum},
                     {"own packet number", LoaderFaultKind::SamePacketNumber},
                     {"stale answer", LoaderFaultKind::StaleAnswer}};
        for (const auto &k : kinds) {
            for (int packet : {0, 1, 5}) {
                QTest::addRow("%s at %d, then the right one", k.name, packet)
                    << int(k.kind) << packet << true << true;
                QTest::addRow("%s at %d only", k.name, packet)
                    << int(k.kind) << packet << false << false;
            }
        }
        QTest::addRow("refused erase") << int(LoaderFaultKind::ErrorCode) << 1 << false << false;
        QTest::addRow("refused write") << int(LoaderFaultKind::ErrorCode) << 5 << false << false;
        for (int packet : {0, 1, 5, 10}) {
            QTest::addRow("silence at %d", packet)
                << int(LoaderFaultKind::Silence) << packet << false << false;
            QTest::addRow("unplug at %d", packet)
                << int(LoaderFaultKind::Unplug) << packet << false << false;
        }
    }

    // A wrong answer is never taken: followed by the right one the update goes
    // on; alone it ends the update with one failure signal at its deadline.
    void answers()
    {
        QFETCH(int, kind);
        QFETCH(int, packet);
        QFETCH(bool, thenAnswer);
        QFETCH(bool, succeeds);
        sim::SimBus bus;
        bus.setReportLatencyUs(0);
        bus.setBootLoaderDelayMs(0);
        sim::SimKeyboard *loader = bus.plug(sim::Personality::BootLoader);
        LoaderFault f;
        f.kind = LoaderFaultKind(kind);
        f.atPacket = packet;
        f.thenAnswer = thenAnswer;
        f.errorCode = 7;
        loader->injectLoaderFault(f);
        const QByteArray image = sim::makeFirmwareImage(200, 500);
        LoaderSession session(&bus);
        QVERIFY(session.opened);
        session.start(image);
        QTRY_VERIFY_WITH_TIMEOUT(session.finished + session.stopped > 0, kHangBoundMs);
        QTRY_VERIFY_WITH_TIMEOUT(session.readerEnded(), kHangBoundMs);

        const QList<QByteArray> frames = loader->receivedFrames();
        QCOMPARE(session.finished, succeeds ? 1 : 0);
        QCOMPARE(session.stopped, succeeds ? 0 : 1);
        if (succeeds) {
            QCOMPARE(frames, expectedPackets(image));
            QCOMPARE(loader->loaderImage(), image);
            return;
        }
        QCOMPARE(frames.size(), packet + 1); // nothing after the packet left unanswered
        QVERIFY(loader->loaderImage() != image);
        // The answer the host waited for, arriving after the end, changes nothing.
        QByteArray late(64, '\0');
        const QByteArray &last = frames.last();
        const uint16_t sum =
            Device::dfuGetCRC(reinterpret_cast<const uint8_t *>(last.constData()), 64);
        late[0] = char(sum & 0xFF);
        late[1] = char(sum >> 8);
        put32(late, 4, uint32_t(byteAt(last, 4)) + 1);
        session.device->onDfuReceiveCmd(reinterpret_cast<uint8_t *>(late.data()), 64);
        QTest::qWait(50);
        QCOMPARE(loader->receivedFrames().size(), frames.size());
        QCOMPARE(session.finished + session.stopped, 1);
        QVERIFY(session.device->dfuFailed());
    }

    void runCommand_data()
    {
        QTest::addColumn<bool>("stays");
        QTest::addColumn<bool>("writeFails");
        QTest::newRow("loader stays") << true << false;
        QTest::newRow("run command not written") << false << true;
    }

    // The end of the update: a loader that stays after the run command leaves
    // the update finished and the reader ends on its own; a run command that
    // never left is a failure, not a success.
    void runCommand()
    {
        QFETCH(bool, stays);
        QFETCH(bool, writeFails);
        sim::SimBus bus;
        bus.setReportLatencyUs(0);
        sim::SimKeyboard *loader = bus.plug(sim::Personality::BootLoader);
        LoaderFault f;
        f.kind = LoaderFaultKind::StayInLoader;
        f.command = 0xAB;
        if (stays)
            loader->injectLoaderFault(f);
        if (writeFails)
            loader->injectFault(fault(sim::FaultKind::WriteFailure, 0xAB));
        const QByteArray image = sim::makeFirmwareImage(200, 300);
        LoaderSession session(&bus);
        QVERIFY(session.opened);
        session.start(image);
        QTRY_VERIFY_WITH_TIMEOUT(session.readerEnded(), kHangBoundMs);
        QCOMPARE(session.finished, writeFails ? 0 : 1);
        QCOMPARE(session.stopped, writeFails ? 1 : 0);
        QVERIFY(bus.find(sim::Personality::BootLoader, loader->index()));
        // The answer to the run command was not taken for anything.
        QCOMPARE(loader->receivedFrames().size(),
                 expectedPackets(image).size() - (writeFails ? 1 : 0));
    }

    void badImageSendsNothing()
    {
        sim::SimBus bus;
        sim::SimKeyboard *loader = bus.plug(sim::Personality::BootLoader);
        LoaderSession session(&bus);
        QVERIFY(session.opened);
        session.thread.start();
        QVERIFY(session.device->dfuStartUpdateFW(nullptr, 10) != 0);
        QTRY_COMPARE_WITH_TIMEOUT(session.stopped, 1, kHangBoundMs);
        QVERIFY(loader->receivedFrames().isEmpty());
    }

    // The flow joins the loader thread before it closes the handle: a reader
    // waiting for an answer that never comes lets it go at once when asked.
    void stopRequestReleasesTheReader_data()
    {
        QTest::addColumn<bool>("interrupt"); // QThread::requestInterruption, else stopDfuRead
        QTest::newRow("stopDfuRead") << false;
        QTest::newRow("requestInterruption") << true;
    }
    void stopRequestReleasesTheReader()
    {
        QFETCH(bool, interrupt);
        Device::DfuTimeouts slow = Device::dfuTimeouts();
        const Device::DfuTimeouts saved = slow;
        slow.answerMs = slow.eraseMs = 60000;
        Device::setDfuTimeouts(slow);
        sim::SimBus bus;
        sim::SimKeyboard *loader = bus.plug(sim::Personality::BootLoader);
        LoaderFault f;
        f.kind = LoaderFaultKind::Silence;
        loader->injectLoaderFault(f);
        {
            LoaderSession session(&bus);
            session.start(sim::makeFirmwareImage(1, 100));
            QTRY_COMPARE(loader->receivedFrames().size(), 1);
            if (interrupt)
                session.thread.requestInterruption();
            else
                session.device->stopDfuRead();
            session.thread.quit();
            QVERIFY(session.thread.wait(kHangBoundMs));
            QCOMPARE(session.stopped + session.finished, 0); // a stop asked for is no failure
        }
        Device::setDfuTimeouts(saved);
        QCOMPARE(bus.openHandleCount(), 0);
    }

    void loaderAppearance_data()
    {
        QTest::addColumn<bool>("appears");
        QTest::newRow("appears late") << true;
        QTest::newRow("never appears") << false;
    }

    // The keyboard told to enter its loader leaves the bus; its loader shows
    // up after the loader delay, or never. An update through it brings the
    // keyboard back with the new version and its own settings.
    void loaderAppearance()
    {
        QFETCH(bool, appears);
        sim::SimBus bus;
        bus.setReportLatencyUs(0);
        bus.setBootLoaderDelayMs(600);
        sim::SimKeyboard *keyboard = bus.plug(sim::Personality::DualMode);
        const int index = keyboard->index();
        keyboard->setBootLoaderAppears(appears);
        keyboard->setSleepTime(4242);
        {
            Link link(&bus);
            QVERIFY(link.opened);
            link.device->enterUsbMcuDfu();
            QTRY_VERIFY(!bus.find(sim::Personality::DualMode, index));
        }
        LoaderSession session(&bus);
        QVERIFY(!session.opened); // not there yet
        QTest::qWait(700);
        QCOMPARE(session.device->openDFU(&session.usb), appears);
        if (!appears)
            return;
        session.start(sim::makeFirmwareImage(512, 4096));
        QTRY_COMPARE_WITH_TIMEOUT(session.finished, 1, kHangBoundMs);
        sim::SimKeyboard *back = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((back = bus.find(sim::Personality::DualMode, index)),
                                 kHangBoundMs);
        QCOMPARE(int(back->firmwareVersion()), 512);
        QCOMPARE(back->sleepTime(), 4242u);
        QCOMPARE(session.stopped, 0);
    }
};

QTEST_GUILESS_MAIN(TestDfuUsb)
#include "tst_dfu_usb.moc"

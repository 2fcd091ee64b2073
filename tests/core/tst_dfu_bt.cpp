// The Bluetooth module update of a dual-mode keyboard against the simulated
// module: chunk bytes and numbering, the soft device's offsets, every refusal
// ending as one error, a lost module ending as one stop, answers and
// notifications that must be ignored, and the hand-over of reading between
// the transport's loop and the update worker.

#include "device/device.h"
#include "device/updatedfubtthread.h"
#include "device/usb.h"
#include "tst_device_fixture.h"

#include <QtTest>

using namespace linktest;
using sim::BtFault;
using sim::BtFaultKind;
using Errors = QList<QPair<int, int>>;

namespace {

constexpr int kHangBoundMs = 5000; // far above every deadline below: only a hang exceeds it

QByteArray btFrame(const QByteArray &record)
{
    return (QByteArray::fromHex("b0df") + char(record.size()) + QByteArray(5, '\0') + record)
        .leftJustified(64, '\0');
}

// The chunk frames a host must send for `image`, built from the wire description.
QList<QByteArray> expectedChunks(const QByteArray &image, bool softDevice)
{
    QList<QByteArray> out;
    uint32_t number = 1;
    for (int at = softDevice ? 4096 : 0; at < image.size(); at += 48, ++number) {
        const uint32_t le = qToLittleEndian(number);
        QByteArray r = (QByteArray::fromHex(softDevice ? "843400ff" : "833400ff") +
                        QByteArray(reinterpret_cast<const char *>(&le), 4) + image.mid(at, 48))
                           .leftJustified(56, char(0xFF));
        unsigned sum = 0;
        for (char c : r)
            sum += uint8_t(c);
        r[2] = char(sum);
        out << btFrame(r);
    }
    return out;
}

// A dual-mode keyboard with its transport and device model, and the update
// worker; every signal is counted on the test thread.
class BtSession
{
public:
    BtSession()
    {
        QObject::connect(&worker, &updateDFUBtThread::SendByteUpdateProgress, &receiver,
                         [this](int bytes) { progress << bytes; });
        QObject::connect(&worker, &updateDFUBtThread::emitUpdateDfuFinished, &receiver,
                         [this] { ++finished; });
        QObject::connect(&worker, &updateDFUBtThread::emitStopDfu, &receiver,
                         [this] { ++stopped; });
        auto error = [this](int type, int code) { errors << qMakePair(type, code); };
        QObject::connect(&worker, &updateDFUBtThread::UpdateError, &receiver, error);
        QObject::connect(link.device(), &Device::UpdateError, &receiver, error);
    }
    int ends() const { return finished + stopped + errors.size(); }
    bool start(const QByteArray &bytes, bool softDevice)
    {
        image = bytes; // the worker does not copy it
        return worker.startImage(link.usb(), reinterpret_cast<const uint8_t *>(image.constData()),
                                 uint32_t(image.size()), softDevice);
    }
    // Writes one image and waits for its end (or the hang bound).
    bool write(const QByteArray &bytes, bool softDevice)
    {
        const int before = ends();
        return start(bytes, softDevice) &&
               QTest::qWaitFor([&] { return ends() > before; }, kHangBoundMs);
    }
    QList<QByteArray> moduleFrames() const { return framesOf(link.frames(), 0xB0, 0xDF); }

    SimLink link;
    updateDFUBtThread worker; // stopped and joined before the link goes
    QObject receiver;
    QByteArray image;
    QList<int> progress;
    Errors errors;
    int finished = 0;
    int stopped = 0;
};

} // namespace

class TestDfuBt : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false"));
        Device::setBtTimeouts({300, 400, 250, 500, 10}); // switch, erase, answer, hand-over, read
    }

    void imageInChunks_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("softDevice");
        for (int size : {48, 100, 1000})
            QTest::addRow("app %d", size) << size << false;
        for (int size : {4096, 4146})
            QTest::addRow("sd %d", size) << size << true;
    }

    // Switch, erase, every chunk byte for byte and progress.
    void imageInChunks()
    {
        QFETCH(int, size);
        QFETCH(bool, softDevice);
        BtSession s;
        const QByteArray image = sim::makeFirmwareImage(207, size, uint32_t(size), 1);
        QCOMPARE(s.link.device()->enterBtMcuDfu(), 0u);
        QVERIFY(s.write(image, softDevice));
        QCOMPARE(s.finished, 1);
        const QList<QByteArray> erase{
            btFrame(QByteArray::fromHex("080008").leftJustified(16, 0)),
            btFrame(QByteArray::fromHex(softDevice ? "820082" : "810081").leftJustified(56, 0))};
        QCOMPARE(s.moduleFrames(), erase + expectedChunks(image, softDevice));
        QList<int> progress;
        for (int at = softDevice ? 4096 : 0; at < size; at += 48)
            progress << qMin(at + 48, size);
        QCOMPARE(s.progress, progress);
        QCOMPARE(s.errors.size() + s.stopped, 0);
    }

    void failuresEndOnce_data()
    {
        QTest::addColumn<int>("op");        // of the frame that fails
        QTest::addColumn<int>("kind");      // -1: cannot be written; -2: a frame that is no answer
        QTest::addColumn<int>("frames");    // module frames received, the switch included
        QTest::addColumn<Errors>("errors"); // none: the image stops
        const auto row = [](const char *name, int op, int kind, int frames, Errors errors) {
            QTest::newRow(name) << op << kind << frames << errors;
        };
        const int refused = int(BtFaultKind::ErrorCode), silent = int(BtFaultKind::Silence);
        row("app to boot refused", 0x08, refused, 1, {{0x08, 5}});
        row("boot to app silent", 0x85, silent, 2, {{-1, -2}});
        row("chunk 2 refused", 0x83, refused, 4, {{0x83, 5}});
        row("no answer frame at chunk 2", 0x83, -2, 4, {{-1, -1}});
        row("silent at chunk 2", 0x83, silent, 4, {});
        row("unplug at the erase", 0x81, int(BtFaultKind::Unplug), 2, {});
        row("chunk 2 not written", 0x83, -1, 3, {});
        // Notifications at every chunk and the erase's answer again after
        // chunk 1's are passed over: the image ends on the last chunk's answer.
        row("last chunk refused after noise", 0x83, int(BtFaultKind::Notification), 7, {{0x83, 5}});
    }

    // A refusal ends the image with one UpdateError carrying the module's pair
    // (from the event loop for a mode switch, never inside its call); silence
    // past the deadline, a frame that cannot be written or a keyboard that
    // leaves with one emitStopDfu. Never a hang or a finish, nothing is sent
    // after the end, and nothing follows it, not even when the keyboard
    // leaves afterwards.
    void failuresEndOnce()
    {
        QFETCH(int, op);
        QFETCH(int, kind);
        QFETCH(int, frames);
        QFETCH(Errors, errors);
        BtSession s;
        BtFault f;
        f.kind = kind < 0 ? BtFaultKind::Silence : BtFaultKind(kind);
        f.op = op;
        f.atChunk = op == 0x83 ? 2 : -1;
        f.errorCode = 5;
        if (kind == int(BtFaultKind::Notification)) { // from chunk 1; the last one is refused
            f.atChunk = 1;
            f.count = -1;
            s.link.keyboard->injectBtFault(f);
            f.kind = BtFaultKind::StaleAnswer;
            f.count = 1;
            s.link.keyboard->injectBtFault(f);
            f.kind = BtFaultKind::ErrorCode;
            f.atChunk = 5;
        }
        if (kind == -1) {
            sim::Fault notWritten = fault(sim::FaultKind::WriteFailure, 0xB0, 0xDF);
            notWritten.atFrame = 3; // switch 0, erase 1, chunk k at k + 1
            s.link.keyboard->injectFault(notWritten);
        } else {
            s.link.keyboard->injectBtFault(f);
        }
        const uint32_t failed =
            kind == int(BtFaultKind::Silence) ? 0xEE00000D : 0xEE000016; // timeout, write error
        QCOMPARE(s.link.device()->_bt_app_boot(), op == 0x08 ? failed : 0u);
        if (op == 0x85)
            QCOMPARE(s.link.device()->_bt_boot_app(), failed);
        if (op == 0x08 || op == 0x85)
            QCOMPARE(s.ends(), 0);
        else
            QVERIFY(s.start(sim::makeFirmwareImage(3, 200), false)); // 5 chunks
        if (kind == -2) {
            QTRY_COMPARE(s.moduleFrames().size(), 4);
            s.link.keyboard->sendRawReport(QByteArray::fromHex("1010"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.ends(), 1, kHangBoundMs);
        QTest::qWait(150);
        QCOMPARE(s.moduleFrames().size(), frames);
        s.link.bus.unplug(s.link.keyboard);
        QTest::qWait(100);
        QCOMPARE(s.errors, errors);
        QCOMPARE(s.stopped, int(errors.isEmpty()));
        QCOMPARE(s.finished, 0);
        QVERIFY(!s.worker.isBusy());
    }

    // Reading goes back and forth between the transport's loop (a normal
    // command in between) and the worker; no answer may end up with the
    // wrong reader.
    void handOverLosesNoAnswer()
    {
        BtSession s;
        QCOMPARE(s.link.device()->_bt_app_boot(), 0u);
        for (int i = 0; i < 60; ++i) {
            s.link.usb()->setReadEnabled(true);
            QCOMPARE(s.link.device()->getBtName(), 0u);
            const bool softDevice = i % 2;
            const int size = (softDevice ? 4096 : 0) + 20 + i;
            QVERIFY2(s.write(sim::makeFirmwareImage(6, size, uint32_t(i)), softDevice),
                     qPrintable(QString::number(i)));
            QCOMPARE(s.finished, i + 1);
        }
        QCOMPARE(s.stopped + s.errors.size(), 0);
    }

    // Images the module could not take are refused before anything is sent,
    // and the transport keeps reading.
    void refusedImages()
    {
        BtSession s;
        QVERIFY(!s.start(QByteArray(), false));
        QVERIFY(!s.start(QByteArray(4095, 'x'), true));
        QVERIFY(s.link.usb()->isReadEnabled());
        QVERIFY(s.moduleFrames().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDfuBt)
#include "tst_dfu_bt.moc"

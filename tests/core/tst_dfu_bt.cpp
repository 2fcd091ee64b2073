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

namespace {

constexpr int kHangBoundMs = 5000; // far above every deadline below: only a hang exceeds it
constexpr uint32_t kWriteError = 0xEE000016;
constexpr uint32_t kTimeoutError = 0xEE00000D;

QByteArray btFrame(const QByteArray &record)
{
    QByteArray f(64, '\0');
    f[0] = char(0xB0);
    f[1] = char(0xDF);
    f[2] = char(record.size());
    f.replace(8, record.size(), record);
    return f;
}

// The chunk frames a host must send for `image`, built from the wire description.
QList<QByteArray> expectedChunks(const QByteArray &image, bool softDevice)
{
    QList<QByteArray> out;
    uint32_t number = 1;
    for (int at = softDevice ? 4096 : 0; at < image.size(); at += 48, ++number) {
        QByteArray r(56, char(0xFF));
        r[0] = char(softDevice ? 0x84 : 0x83);
        r[1] = char(0x34);
        r[2] = 0;
        for (int i = 0; i < 4; ++i)
            r[4 + i] = char(number >> (8 * i));
        const QByteArray data = image.mid(at, 48);
        r.replace(8, data.size(), data);
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
    // Writes one image and waits for its end (or the hang bound).
    bool write(const QByteArray &bytes, bool softDevice)
    {
        image = bytes;
        const int before = ends();
        if (!worker.startImage(link.usb(), reinterpret_cast<const uint8_t *>(image.constData()),
                               uint32_t(image.size()), softDevice))
            return false;
        QDeadlineTimer bound(kHangBoundMs);
        while (ends() == before && !bound.hasExpired())
            QTest::qWait(2);
        return ends() > before;
    }
    QList<QByteArray> moduleFrames() const
    {
        QList<QByteArray> out;
        for (const QByteArray &f : link.frames())
            if (uint8_t(f[0]) == 0xB0 && uint8_t(f[1]) == 0xDF)
                out << f;
        return out;
    }

    SimLink link;
    updateDFUBtThread worker; // stopped and joined before the link goes
    QObject receiver;
    QByteArray image;
    QList<int> progress;
    QList<QPair<int, int>> errors;
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
        Device::BtTimeouts t;
        t.switchMs = 300;
        t.eraseMs = 400;
        t.answerMs = 250;
        t.handOverMs = 500;
        t.readSliceMs = 10;
        Device::setBtTimeouts(t);
    }

    void imageInChunks_data()
    {
        QTest::addColumn<int>("size");
        QTest::addColumn<bool>("softDevice");
        QTest::addColumn<QList<int>>("progress");
        QTest::addColumn<int>("version"); // the module's after the return, -1: no marker
        QTest::newRow("app 1") << 1 << false << QList<int>{1} << -1;
        QTest::newRow("app 48") << 48 << false << QList<int>{48} << -1;
        QTest::newRow("app 100 as 48/48/4") << 100 << false << QList<int>{48, 96, 100} << -1;
        QTest::newRow("app with marker")
            << 1000 << false << QList<int>{48,  96,  144, 192, 240, 288, 336, 384, 432, 480, 528,
                                           576, 624, 672, 720, 768, 816, 864, 912, 960, 1000}
            << 207;
        QTest::newRow("sd 4096 + 50") << 4146 << true << QList<int>{4144, 4146} << -1;
        QTest::newRow("sd 4096") << 4096 << true << QList<int>{} << -1;
    }

    // Switch, erase, every chunk byte for byte, progress, the stored area and
    // the module back in its application with the image's version.
    void imageInChunks()
    {
        QFETCH(int, size);
        QFETCH(bool, softDevice);
        QFETCH(QList<int>, progress);
        QFETCH(int, version);
        BtSession s;
        QVERIFY(s.link.link->opened);
        const QByteArray image = sim::makeFirmwareImage(207, size, uint32_t(size), 1);
        QCOMPARE(s.link.device()->enterBtMcuDfu(), 0u);
        QVERIFY(s.link.keyboard->btInBootLoader());
        QVERIFY(s.write(image, softDevice));
        QCOMPARE(s.finished, 1);

        QList<QByteArray> expected{
            btFrame(QByteArray::fromHex("080008") + QByteArray(13, '\0')),
            btFrame(QByteArray::fromHex(softDevice ? "820082" : "810081") + QByteArray(53, '\0'))};
        expected += expectedChunks(image, softDevice);
        QCOMPARE(s.moduleFrames(), expected);
        if (expected.size() > 2) {
            QCOMPARE(expected[2].left(8), QByteArray::fromHex("b0df380000000000"));
            QCOMPARE(expected[2].mid(11, 5), QByteArray::fromHex("ff01000000"));
        }
        QCOMPARE(s.progress, progress);

        const QByteArray sent = image.mid(softDevice ? 4096 : 0);
        QByteArray stored = sent + QByteArray((48 - sent.size() % 48) % 48, char(0xFF));
        QCOMPARE(softDevice ? s.link.keyboard->btSoftDeviceImage()
                            : s.link.keyboard->btApplicationImage(),
                 stored);

        s.link.usb()->setReadEnabled(true);
        QCOMPARE(s.link.device()->_bt_boot_app(), 0u);
        QVERIFY(!s.link.keyboard->btInBootLoader());
        QCOMPARE(int(s.link.keyboard->btVersion()), qMax(0, version));
        QTest::qWait(30);
        QCOMPARE(s.errors.size() + s.stopped, 0);
    }

    void errorsEndAsErrors_data()
    {
        QTest::addColumn<int>("op"); // the refused operation
        QTest::addColumn<int>("chunk");
        QTest::addColumn<bool>("silent"); // silent instead of refusing
        QTest::addColumn<int>("type");
        QTest::addColumn<int>("code");
        QTest::newRow("app to boot refused") << 0x08 << -1 << false << 0x08 << 5;
        QTest::newRow("app to boot silent") << 0x08 << -1 << true << -1 << -2;
        QTest::newRow("erase app refused") << 0x81 << -1 << false << 0x81 << 5;
        QTest::newRow("erase sd refused") << 0x82 << -1 << false << 0x82 << 5;
        QTest::newRow("app chunk 2 refused") << 0x83 << 2 << false << 0x83 << 5;
        QTest::newRow("sd chunk 1 refused") << 0x84 << 1 << false << 0x84 << 5;
        QTest::newRow("boot to app refused") << 0x85 << -1 << false << 0x85 << 5;
        QTest::newRow("boot to app silent") << 0x85 << -1 << true << -1 << -2;
        QTest::newRow("no answer frame") << 0x83 << 2 << true << -1 << -1;
    }

    // Each refusal is one UpdateError with the module's pair, never a
    // finish; nothing is sent after it, and its late answer changes nothing.
    void errorsEndAsErrors()
    {
        QFETCH(int, op);
        QFETCH(int, chunk);
        QFETCH(bool, silent);
        QFETCH(int, type);
        QFETCH(int, code);
        BtSession s;
        BtFault f;
        f.kind = silent ? BtFaultKind::Silence : BtFaultKind::ErrorCode;
        f.op = op;
        f.atChunk = chunk;
        f.errorCode = uint8_t(code);
        s.link.keyboard->injectBtFault(f);
        const bool softDevice = op == 0x82 || op == 0x84;
        const QByteArray image = sim::makeFirmwareImage(3, softDevice ? 4096 + 200 : 200);

        const uint32_t toBoot = s.link.device()->_bt_app_boot();
        if (op == 0x08) {
            QCOMPARE(toBoot, silent ? kTimeoutError : kWriteError);
            QCOMPARE(s.errors.size(), 0); // never from inside the call
        } else {
            QCOMPARE(toBoot, 0u);
            if (op != 0x85) {
                if (type == -1 && code == -1) {
                    // Something that is no module answer arrives instead.
                    QVERIFY(s.worker.startImage(
                        s.link.usb(), reinterpret_cast<const uint8_t *>(image.constData()),
                        uint32_t(image.size()), false));
                    QTRY_COMPARE(s.moduleFrames().size(), 4);
                    s.link.keyboard->sendRawReport(QByteArray::fromHex("1010"));
                    s.image = image;
                } else {
                    s.write(image, softDevice);
                }
            } else {
                s.link.usb()->setReadEnabled(true);
                QCOMPARE(s.link.device()->_bt_boot_app(), silent ? kTimeoutError : kWriteError);
                QCOMPARE(s.errors.size(), 0);
            }
        }
        QTRY_COMPARE_WITH_TIMEOUT(s.errors.size(), 1, kHangBoundMs);
        QCOMPARE(s.errors.first(), qMakePair(type, code));
        const int frames = s.link.frames().size();
        QTest::qWait(150);
        QCOMPARE(s.link.frames().size(), frames);
        QCOMPARE(s.errors.size(), 1);
        QCOMPARE(s.finished + s.stopped, 0);
        QVERIFY(!s.worker.isBusy());
    }

    void moduleLost_data()
    {
        QTest::addColumn<int>("kind"); // -1: the frame cannot be written
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("frames"); // module frames received, the switch included
        QTest::newRow("silent erase") << int(BtFaultKind::Silence) << 0x81 << -1 << 2;
        QTest::newRow("silent at chunk 1") << int(BtFaultKind::Silence) << 0x83 << 1 << 3;
        QTest::newRow("silent at chunk 3") << int(BtFaultKind::Silence) << 0x83 << 3 << 5;
        QTest::newRow("unplug at erase") << int(BtFaultKind::Unplug) << 0x81 << -1 << 2;
        QTest::newRow("unplug at chunk 3") << int(BtFaultKind::Unplug) << 0x83 << 3 << 5;
        QTest::newRow("erase not written") << -1 << 0x81 << -1 << 1;
        QTest::newRow("chunk 3 not written") << -1 << 0x83 << 3 << 4;
    }

    // A module that stops answering, a frame that cannot be written or a
    // keyboard that leaves ends the image with one emitStopDfu (at the
    // deadline at the latest), never a hang or a finish.
    void moduleLost()
    {
        QFETCH(int, kind);
        QFETCH(int, op);
        QFETCH(int, chunk);
        QFETCH(int, frames);
        BtSession s;
        QCOMPARE(s.link.device()->_bt_app_boot(), 0u);
        if (kind >= 0) {
            BtFault f;
            f.kind = BtFaultKind(kind);
            f.op = op;
            f.atChunk = chunk;
            s.link.keyboard->injectBtFault(f);
        } else {
            // The switch took frame 0, the erase frame 1, chunk k frame k + 1.
            sim::Fault f = fault(sim::FaultKind::WriteFailure, 0xB0, 0xDF);
            f.atFrame = op == 0x81 ? 1 : chunk + 1;
            s.link.keyboard->injectFault(f);
        }
        QVERIFY(s.write(sim::makeFirmwareImage(4, 300), false));
        QCOMPARE(s.stopped, 1);
        QTest::qWait(100);
        QCOMPARE(s.stopped, 1);
        QCOMPARE(s.finished + s.errors.size(), 0);
        QCOMPARE(s.moduleFrames().size(), frames);
        QVERIFY(!s.worker.isBusy());
    }

    void ignoredFrames_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("op");
        QTest::addColumn<int>("chunk");
        QTest::addColumn<int>("count");
        QTest::addColumn<bool>("lastRefused"); // the last chunk is refused as well
        QTest::newRow("notification at the erase")
            << int(BtFaultKind::Notification) << 0x81 << -1 << 1 << false;
        QTest::newRow("notification at every chunk")
            << int(BtFaultKind::Notification) << 0x83 << 1 << -1 << false;
        QTest::newRow("erase answer again after chunk 1")
            << int(BtFaultKind::StaleAnswer) << 0x83 << 1 << 1 << false;
        QTest::newRow("erase answer again, last chunk refused")
            << int(BtFaultKind::StaleAnswer) << 0x83 << 1 << 1 << true;
        QTest::newRow("last answer again after the end")
            << int(BtFaultKind::StaleAnswer) << 0x83 << 5 << 1 << false;
    }

    // Notifications and answers nobody waits for are passed over: the image
    // ends once, only on the answer to its last chunk, and nothing follows
    // its end, not even when the keyboard leaves afterwards.
    void ignoredFrames()
    {
        QFETCH(int, kind);
        QFETCH(int, op);
        QFETCH(int, chunk);
        QFETCH(int, count);
        QFETCH(bool, lastRefused);
        BtSession s;
        QCOMPARE(s.link.device()->_bt_app_boot(), 0u);
        BtFault f;
        f.kind = BtFaultKind(kind);
        f.op = op;
        f.atChunk = chunk;
        f.count = count;
        s.link.keyboard->injectBtFault(f);
        BtFault refuse;
        refuse.op = 0x83;
        refuse.atChunk = 5;
        refuse.errorCode = 9;
        if (lastRefused)
            s.link.keyboard->injectBtFault(refuse);
        const QByteArray image = sim::makeFirmwareImage(5, 200); // 5 chunks
        QVERIFY(s.write(image, false));
        QCOMPARE(s.moduleFrames().mid(2), expectedChunks(image, false));
        QTest::qWait(100);
        s.link.bus.unplug(s.link.keyboard);
        QTest::qWait(100);
        QCOMPARE(s.finished, lastRefused ? 0 : 1);
        using Errors = QList<QPair<int, int>>;
        QCOMPARE(s.errors, lastRefused ? Errors{qMakePair(0x83, 9)} : Errors());
        QCOMPARE(s.stopped, 0);
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
        const QByteArray small(4095, 'x');
        for (const auto &image : {qMakePair(QByteArray(), false), qMakePair(small, true)})
            QVERIFY(!s.worker.startImage(s.link.usb(),
                                         reinterpret_cast<const uint8_t *>(image.first.data()),
                                         uint32_t(image.first.size()), image.second));
        QVERIFY(s.link.usb()->isReadEnabled());
        QVERIFY(s.moduleFrames().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDfuBt)
#include "tst_dfu_bt.moc"

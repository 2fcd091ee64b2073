// The simulated keyboard, seen only through the HidBackend calls the host uses
// and the frames the keyboard received. What the host makes of its answers is
// checked by the device suites; here: what those suites and demo mode rely on.

#include "demo.h"
#include "simbus.h"

#include <QRegularExpression>
#include <QtEndian>
#include <QtTest>

#include <tuple>

using namespace sim;

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// Report id 0, then the frame: command, sub-command, payload length and
// argument (little-endian), payload from frame byte 8.
QByteArray request(uint8_t command, uint8_t sub, const QByteArray &payload = {},
                   uint16_t argument = 0)
{
    const int n = payload.size();
    return (bytes({0, command, sub, n & 0xFF, n >> 8, argument & 0xFF, argument >> 8, 0, 0}) +
            payload)
        .leftJustified(65, '\0', true);
}

int writeReport(SimBus &bus, HidHandle *handle, const QByteArray &report)
{
    return bus.write(handle, reinterpret_cast<const unsigned char *>(report.constData()),
                     size_t(report.size()));
}

uint32_t statusOf(const QByteArray &answer)
{
    return answer.size() < 12 ? 0xFFFFFFFFu : qFromLittleEndian<quint32>(answer.constData() + 8);
}

// One open interface: write a request, read what comes back.
struct Link
{
    Link(SimBus &bus, const QString &path) : bus(bus), handle(bus.open(path)) {}
    ~Link()
    {
        if (handle)
            bus.close(handle);
    }
    int send(uint8_t command, uint8_t sub, const QByteArray &payload = {}, uint16_t argument = 0)
    {
        return writeReport(bus, handle, request(command, sub, payload, argument));
    }
    // The next input report; empty on time-out, "-1" on error.
    QByteArray receive(int timeoutMs = 1000)
    {
        unsigned char buffer[65] = {};
        const int n = bus.readTimeout(handle, buffer, sizeof buffer, timeoutMs);
        return n < 0 ? QByteArrayLiteral("-1") : QByteArray(reinterpret_cast<char *>(buffer), n);
    }
    QByteArray exchange(uint8_t command, uint8_t sub, const QByteArray &payload = {},
                        uint16_t argument = 0)
    {
        return send(command, sub, payload, argument) == 65 ? receive() : QByteArray();
    }
    uint32_t status(uint8_t command, uint8_t sub, const QByteArray &payload = {})
    {
        return statusOf(exchange(command, sub, payload));
    }

    SimBus &bus;
    HidHandle *handle;
};

// A bus answering at once with one keyboard, linked to its vendor interface.
struct Rig
{
    explicit Rig(Personality personality = Personality::DualMode, int index = -1)
        : kb((bus.setReportLatencyUs(0), bus.plug(personality, index))), link(bus, kb->path())
    {
    }
    SimBus bus;
    SimKeyboard *kb;
    Link link;
};

// Everything the host can change on a keyboard (apart from its current colour
// and mode maps), to see that a request changed nothing or everything.
QByteArray state(SimKeyboard *kb)
{
    QByteArray s = QByteArray::number(kb->currentKeyMap()) + ' ' +
                   QByteArray::number(kb->scanSpeed()) + ' ' + QByteArray::number(kb->sleepTime());
    for (int m = 0; m < kb->keyMapCount(); ++m)
        s += kb->keyCodes(m);
    for (int m = 0; m < kb->colourMapCount(); ++m)
        s += kb->keyColours(m);
    for (int m = 0; m < kb->modeMapCount(); ++m)
        s += kb->modes(m);
    for (int i = 0; i < 32; ++i) // lighting records
        s += kb->lightingRecord(i);
    for (int i = 0; i < kb->keyFunctionCount(); ++i)
        s += kb->keyFunction(i);
    for (int i = 0; i < kb->macroSlotCount(); ++i)
        s += kb->macroHead(i) + kb->macroFrames(i);
    return s + kb->userInfo() + kb->bluetoothName();
}

} // namespace

class TestSimKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void enumerationAndHandles();
    void refusalsAndFactoryReset();
    void personalities();
    void bootLoaderSwitch();
    void demoBus();
};

void TestSimKeyboard::enumerationAndHandles()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *dual = bus.plug(Personality::DualMode);
    SimKeyboard *usb = bus.plug(Personality::UsbOnly);
    SimKeyboard *second = bus.plug(Personality::DualMode);
    QVERIFY(!bus.plug(Personality::DualMode, dual->index())); // already on the bus
    QVERIFY(dual->deviceId() != second->deviceId() && dual->deviceId() != usb->deviceId());
    QCOMPARE(bus.enumerate(kBootLoaderVendorId, kBootLoaderProductId).size(), 0);

    // Two interfaces per keyboard; the path ends in the interface number (also
    // when hidapi reports -1 for it), and the product string is the visible
    // name (without the marker byte).
    second->setReportsInterfaceNumber(false);
    QStringList seen;
    for (const HidDeviceInfo &info : bus.enumerate(kSimVendorId, kSimProductId)) {
        seen << QString::number(info.interfaceNumber) + info.path.right(1);
        if (info.path.endsWith(QString::number(kSimInterface)))
            seen << info.product;
    }
    QCOMPARE(seen, (QStringList{"00", "11", "Lumory K108", "00", "11", "Lumory T88", "-10", "-11",
                                "Lumory K108"}));

    QVERIFY(!bus.open(QStringLiteral("sim:9-9:1.1")));
    HidHandle *h = bus.open(dual->path());
    unsigned char buffer[65] = {};
    QCOMPARE(bus.readTimeout(h, buffer, sizeof buffer, 20), 0); // nothing yet
    QByteArray report = request(0x10, 0x10);
    QCOMPARE(writeReport(bus, h, report), 65);
    QCOMPARE(bus.read(h, buffer, sizeof buffer), 64); // no report id on input
    QCOMPARE(bytes({buffer[0], buffer[1]}), bytes({0x10, 0x10}));
    report[0] = 1; // numbered reports are not accepted
    QCOMPARE(writeReport(bus, h, report), -1);
    QCOMPARE(dual->receivedFrames(), QList<QByteArray>{request(0x10, 0x10).mid(1)});

    // Interface 0 is the plain keyboard: it takes reports but never answers.
    Link plain(bus, dual->path().replace(QRegularExpression("1$"), "0"));
    QCOMPARE(plain.send(0x10, 0x10), 65);
    QVERIFY(plain.receive(50).isEmpty());
    QCOMPARE(dual->receivedFrames().size(), 1);

    QCOMPARE(bus.exit(), 0); // leaves open handles alone
    bus.close(h);
    QCOMPARE(bus.openHandleCount(), 1);
    QCOMPARE(bus.readTimeout(h, buffer, sizeof buffer, 0), -1);
}

void TestSimKeyboard::refusalsAndFactoryReset()
{
    // A refused request changes nothing; a factory reset restores everything
    // but the identity.
    Rig r;
    const QByteArray factory = state(r.kb);
    const QByteArray id = r.kb->deviceId();
    QCOMPARE(r.link.status(0x20, 0x11, bytes({1, 3, 3, 0, 0x02, 0x04, 0, 0})), kSimStatusOk);
    QCOMPARE(r.link.status(0x10, 0x31, QByteArray(48, 'u')), kSimStatusOk);
    QCOMPARE(r.link.status(0xB0, 0x21, bytes({0x60, 0xEA, 0, 0})), kSimStatusOk);
    QCOMPARE(r.kb->sleepTime(), 60000u);
    const QByteArray changed = state(r.kb);
    QCOMPARE(r.link.status(0x77, 0x01), kSimStatusUnknownCommand);
    QCOMPARE(r.link.status(0x10, 0x21, bytes({5})), kSimStatusBadLength);
    QCOMPARE(r.link.status(0x20, 0x02, bytes({4})), kSimStatusOutOfRange); // 4 maps
    QCOMPARE(r.link.status(0x20, 0x11, bytes({0, 0, 1, 0, 0, 0, 0, 0})), kSimStatusBadLength);
    QCOMPARE(r.link.status(0x50, 0x40, QByteArray(10, 1)), kSimStatusBadState); // none selected
    QVERIFY(state(r.kb) == changed);
    QCOMPARE(r.link.status(0x10, 0x60), kSimStatusOk);
    QVERIFY(state(r.kb) == factory);
    QCOMPARE(r.kb->deviceId(), id);
}

void TestSimKeyboard::personalities()
{
    const std::tuple<Personality, int, const char *, bool, bool> all[] = {
        // keys, product name, lighting, Bluetooth
        {Personality::DualMode, 108, kDualModeProductName, true, true},
        {Personality::UsbOnly, 88, kUsbOnlyProductName, true, false},
        {Personality::NoLighting, 68, kNoLightingProductName, false, true}};
    for (const auto &[personality, keys, name, lighting, bluetooth] : all) {
        Rig r{personality};
        QCOMPARE(r.kb->keyCount(), keys);
        QCOMPARE(r.kb->productName(), QByteArray(name).leftJustified(16, '\0'));
        // Without lighting, the colour and lighting queries get the error frame.
        const std::pair<int, int> queries[] = {{0x30, 0x00}, {0x60, 0x00}, {0x60, 0x20}};
        for (const auto &[command, sub] : queries)
            QCOMPARE(int(uint8_t(r.link.exchange(command, sub)[0])),
                     lighting ? command : int(kSimErrorFrame));
        // Without Bluetooth, group 0xB0 is not answered at all; the rest still is.
        QCOMPARE(r.link.send(0xB0, 0x10), 65);
        QCOMPARE(r.link.receive(50).left(2), bluetooth ? bytes({0xB0, 0x10}) : QByteArray());
        // Key-code writes always answer status 0 and echo map, first and last.
        QCOMPARE(r.link.exchange(0x20, 0x11, bytes({0, 5, 5, 0, 2, 4, 0, 0})).mid(8, 7),
                 bytes({0, 0, 0, 0, 0, 5, 5}));
        if (!lighting)
            continue;
        // The T88 answers colour and mode writes with the request itself, so
        // bytes 8-11 are not 0; the K108 answers with status 0. Both store.
        const bool echoes = personality == Personality::UsbOnly;
        const QByteArray colour = bytes({0, 5, 5, 0, 0x10, 0x20, 0x30, 0});
        const QByteArray mode = bytes({0, 6, 6, 0, 9});
        QCOMPARE(r.link.exchange(0x30, 0x11, colour).mid(8, 8),
                 echoes ? colour : bytes({0, 0, 0, 0, 0, 5, 5, 0}));
        QCOMPARE(r.link.exchange(0x60, 0x04, mode).mid(8, 5),
                 echoes ? mode : bytes({0, 0, 0, 0, 0}));
        QCOMPARE(r.kb->keyColours(0).mid(20, 4), colour.mid(4));
        QCOMPARE(r.kb->modes(0).at(6), '\x09');
    }
}

void TestSimKeyboard::bootLoaderSwitch()
{
    SimBus bus;
    bus.setBootLoaderDelayMs(50);
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode, 2);
    Link link(bus, kb->path());
    QCOMPARE(link.send(0x10, 0x00), 65);
    QCOMPARE(link.receive(), QByteArray("-1")); // not answered: the keyboard is gone
    QVERIFY(bus.enumerate(kSimVendorId, kSimProductId).isEmpty());

    QTRY_COMPARE(bus.enumerate(kBootLoaderVendorId, kBootLoaderProductId).size(), 1);
    const HidDeviceInfo loader = bus.enumerate(kBootLoaderVendorId, kBootLoaderProductId).first();
    QCOMPARE(loader.interfaceNumber, kBootLoaderInterface);
    QCOMPARE(loader.path.right(1), QString::number(kBootLoaderInterface));
    SimKeyboard *dfu = bus.find(Personality::BootLoader, 2);
    QVERIFY(dfu);
    Link loaderLink(bus, loader.path);
    QCOMPARE(loaderLink.send(0xA4, 0), 65);
    QCOMPARE(dfu->receivedFrames().size(), 1);
}

void TestSimKeyboard::demoBus()
{
    // The argument wins over LUMORY_SIMULATE; "--simulate" alone is one keyboard.
    qunsetenv("LUMORY_SIMULATE");
    QCOMPARE(demoKeyboardCount({"Lumory"}), 0);
    QCOMPARE(demoKeyboardCount({"Lumory", "--simulate"}), 1);
    qputenv("LUMORY_SIMULATE", "4");
    QCOMPARE(demoKeyboardCount({"Lumory", "--simulate=0"}), 0);

    // The boards take turns, so that every layout of the catalogue is seen.
    SimBus *bus = installDemoBusFromArguments({"Lumory"});
    qunsetenv("LUMORY_SIMULATE");
    QVERIFY(bus);
    QCOMPARE(HidBackend::instance(), static_cast<HidBackend *>(bus));
    QList<std::pair<Personality, int>> plugged;
    for (const SimKeyboard *kb : bus->keyboards())
        plugged.append({kb->personality(), kb->index()});
    const QList<std::pair<Personality, int>> expected = {{Personality::DualMode, 0},
                                                         {Personality::UsbOnly, 0},
                                                         {Personality::NoLighting, 0},
                                                         {Personality::DualMode, 1}};
    QVERIFY(plugged == expected);
    uninstallDemoBus();
    QVERIFY(HidBackend::instance() != static_cast<HidBackend *>(bus));
    QVERIFY(!installDemoBusFromArguments({"Lumory"}));
}

QTEST_GUILESS_MAIN(TestSimKeyboard)
#include "tst_simkeyboard.moc"

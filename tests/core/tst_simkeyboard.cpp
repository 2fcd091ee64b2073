// The simulated keyboard, seen only through the HidBackend calls the host uses
// and the frames the keyboard received.

#include "demo.h"
#include "simbus.h"

#include <QElapsedTimer>
#include <QtEndian>
#include <QtTest>

#include <atomic>
#include <thread>
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

SimKeyboard *plugWithoutLatency(SimBus &bus, Personality personality, int index)
{
    bus.setReportLatencyUs(0);
    return bus.plug(personality, index);
}

// A bus answering at once with one keyboard, linked to its vendor interface.
struct Rig
{
    explicit Rig(Personality personality = Personality::DualMode, int index = -1)
        : kb(plugWithoutLatency(bus, personality, index)), link(bus, kb->path())
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
    void enumerationAndFilters();
    void openReadWriteLikeHidapi();
    void settingsAndFactoryReset();
    void refusedRequestsChangeNothing_data();
    void refusedRequestsChangeNothing();
    void personalities();
    void faults_data();
    void faults();
    void writeFailureAndDisconnect();
    void unplugReleasesBlockedRead();
    void replugKeepsState();
    void notificationsAndUserActions();
    void bootLoaderSwitch();
    void latencyIsObeyed();
    void concurrentUse();
    void demoBus();
};

void TestSimKeyboard::enumerationAndFilters()
{
    SimBus bus;
    SimKeyboard *dual = bus.plug(Personality::DualMode);
    SimKeyboard *usb = bus.plug(Personality::UsbOnly);
    SimKeyboard *second = bus.plug(Personality::DualMode);
    QVERIFY(dual && usb && second);
    QVERIFY(!bus.plug(Personality::DualMode, dual->index())); // already on the bus
    QCOMPARE(bus.keyboards().size(), 3);
    QVERIFY(dual->deviceId() != second->deviceId() && dual->deviceId() != usb->deviceId());

    // Two interfaces per keyboard; the path ends in the interface number.
    QCOMPARE(bus.enumerate(kSimVendorId, kSimProductId).size(), 6);
    QCOMPARE(bus.enumerate(kSimVendorId, 0).size(), 6);
    QCOMPARE(bus.enumerate(kBootLoaderVendorId, kBootLoaderProductId).size(), 0);
    QSet<QString> paths;
    int vendorInterfaces = 0;
    for (const HidDeviceInfo &info : bus.enumerate(0, 0)) {
        QCOMPARE(info.path.right(1).toInt(), info.interfaceNumber);
        paths.insert(info.path);
        vendorInterfaces += info.interfaceNumber == kSimInterface ? 1 : 0;
    }
    QCOMPARE(paths.size(), 6);
    QCOMPARE(vendorInterfaces, 3);
    QCOMPARE(dual->path().right(1), QString::number(kSimInterface));
    QCOMPARE(bus.find(dual->path()), dual);

    // hidapi may report interface_number -1: then only the path tells them apart.
    second->setReportsInterfaceNumber(false);
    QCOMPARE(second->interfaceNumber(), -1);
    QStringList endings;
    for (const HidDeviceInfo &info : bus.enumerate(0, 0)) {
        if (info.interfaceNumber == -1)
            endings << info.path.right(1);
    }
    endings.sort();
    QCOMPARE(endings, QStringList({"0", "1"}));
}

void TestSimKeyboard::openReadWriteLikeHidapi()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    QVERIFY(!bus.open(QStringLiteral("sim:9-9:1.1")));
    HidHandle *h = bus.open(kb->path());
    QVERIFY(h);
    QCOMPARE(bus.openHandleCount(), 1);
    unsigned char buffer[65] = {};
    QCOMPARE(bus.readTimeout(h, buffer, sizeof buffer, 0), 0); // nothing yet
    QCOMPARE(bus.readTimeout(h, buffer, sizeof buffer, 20), 0);

    QByteArray report = request(0x10, 0x10);
    QCOMPARE(writeReport(bus, h, report), 65);
    QCOMPARE(bus.read(h, buffer, sizeof buffer), 64); // no report id on input
    QCOMPARE(bytes({buffer[0], buffer[1]}), bytes({0x10, 0x10}));
    report[0] = 1; // numbered reports are not accepted
    QCOMPARE(writeReport(bus, h, report), -1);
    // The keyboard saw exactly the first request, without its report id.
    QCOMPARE(kb->receivedFrames(), QList<QByteArray>{request(0x10, 0x10).mid(1)});
    kb->clearReceivedFrames();

    // Interface 0 is the plain keyboard: it takes reports but never answers.
    Link plain(bus, kb->path().left(kb->path().size() - 1) + QLatin1Char('0'));
    QVERIFY(plain.handle);
    QCOMPARE(plain.send(0x10, 0x10), 65);
    QVERIFY(plain.receive(50).isEmpty());
    QVERIFY(kb->receivedFrames().isEmpty());

    QCOMPARE(bus.exit(), 0); // leaves open handles alone
    bus.close(h);
    QCOMPARE(bus.openHandleCount(), 1);
    QCOMPARE(bus.readTimeout(h, buffer, sizeof buffer, 0), -1);
    QCOMPARE(writeReport(bus, h, report), -1);
}

void TestSimKeyboard::settingsAndFactoryReset()
{
    // Most answer layouts are checked against the host's parsing in
    // tst_device_load, tst_device_commands and tst_macro_transfer; here: the
    // rest, what the keyboard keeps, and that a factory reset restores it all
    // but the id.
    Rig r;
    Link &link = r.link;
    const QByteArray factory = state(r.kb);
    const QByteArray id = r.kb->deviceId();

    // Keys 3-5 of map 1 (byte 3 of an entry kept as sent; the answer echoes map,
    // first and last key after the status), read back from key 0.
    const QByteArray entries = bytes({0x02, 0x04, 0, 0, 0x03, 0x05, 0, 0, 0x12, 0x34, 0x12, 0x77});
    QByteArray a = link.exchange(0x20, 0x11, bytes({1, 3, 5, 0}) + entries);
    QCOMPARE(a.left(2) + a.mid(8, 7), bytes({0x20, 0x11, 0, 0, 0, 0, 1, 3, 5}));
    QCOMPARE(r.kb->keyCodes(1).mid(12, 12), entries);
    a = link.exchange(0x20, 0x10, bytes({1, 0, 12, 0}));
    QCOMPARE(a.mid(2, 2) + a.mid(8, 3), bytes({4 + 13 * 4, 0, 1, 0, 12}));
    QCOMPARE(a.mid(12, 52), r.kb->keyCodes(1).left(52));
    QCOMPARE(link.status(0x10, 0x21, bytes({5, 0})), kSimStatusOk); // scan speed
    QCOMPARE(r.kb->scanSpeed(), uint16_t(5));
    QByteArray info(48, 'u');
    info[0] = 'i';
    QCOMPARE(link.status(0x10, 0x31, info), kSimStatusOk); // user info
    QCOMPARE(link.exchange(0x10, 0x30).mid(8, 48), info);
    QCOMPARE(link.status(0x30, 0x11, bytes({0, 7, 7, 0, 0x10, 0x20, 0x30, 0})), kSimStatusOk);
    QCOMPARE(r.kb->keyColours(0).mid(28, 4), bytes({0x10, 0x20, 0x30, 0}));
    QCOMPARE(link.status(0xB0, 0x21, bytes({0x60, 0xEA, 0, 0})), kSimStatusOk);
    QCOMPARE(r.kb->sleepTime(), 60000u);
    // 16 macro slots of at most 512 frames: frame index 512 is out of range.
    QCOMPARE(link.exchange(0x50, 0x00).mid(8, 4), bytes({16, 0, 0x00, 0x02}));
    QVERIFY(r.kb->setMacro(1, "m", QByteArray(20, 'f')));
    QCOMPARE(link.status(0x50, 0x03, bytes({1})), kSimStatusOk);
    QCOMPARE(statusOf(link.exchange(0x50, 0x40, QByteArray(10, 0), 512)), kSimStatusOutOfRange);

    const QByteArray reset = link.exchange(0x10, 0x60);
    QCOMPARE(reset.left(2) + reset.mid(8, 4), bytes({0x10, 0x60, 0, 0, 0, 0}));
    QVERIFY(state(r.kb) == factory);
    QCOMPARE(r.kb->deviceId(), id);
}

void TestSimKeyboard::refusedRequestsChangeNothing_data()
{
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("sub");
    QTest::addColumn<QByteArray>("payload");
    QTest::addColumn<int>("argument");
    QTest::addColumn<uint>("status");
    auto row = [](const char *tag, int command, int sub, const QByteArray &payload, uint32_t status,
                  int argument = 0) {
        QTest::newRow(tag) << command << sub << payload << argument << uint(status);
    };
    row("unknown command", 0x77, 0x01, {}, kSimStatusUnknownCommand);
    row("unknown sub-command", 0x10, 0x99, {}, kSimStatusUnknownCommand);
    row("scan speed too short", 0x10, 0x21, bytes({5}), kSimStatusBadLength);
    row("key map 4 of 4", 0x20, 0x10, bytes({4, 0, 0, 0}), kSimStatusOutOfRange);
    row("past the last key", 0x20, 0x10, bytes({0, 100, 108, 0}), kSimStatusOutOfRange);
    row("more keys than a frame", 0x20, 0x10, bytes({0, 0, 13, 0}), kSimStatusOutOfRange);
    row("key entries missing", 0x20, 0x11, bytes({0, 0, 1, 0, 0, 0, 0, 0}), kSimStatusBadLength);
    row("select key map 4", 0x20, 0x02, bytes({4}), kSimStatusOutOfRange);
    row("lighting record 32", 0x60, 0x21, bytes({32}), kSimStatusOutOfRange);
    row("key function 40", 0x40, 0x10, bytes({40}), kSimStatusOutOfRange);
    row("macro frames, no slot selected", 0x50, 0x40, QByteArray(10, 1), kSimStatusBadState);
}

void TestSimKeyboard::refusedRequestsChangeNothing()
{
    QFETCH(int, command);
    QFETCH(int, sub);
    QFETCH(QByteArray, payload);
    QFETCH(int, argument);
    Rig r;
    const QByteArray before = state(r.kb);
    const QByteArray a = r.link.exchange(uint8_t(command), uint8_t(sub), payload, argument);
    QCOMPARE(a.left(2), bytes({command, sub}));
    QTEST(uint(statusOf(a)), "status");
    QVERIFY(state(r.kb) == before);
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
        QCOMPARE(r.link.exchange(0x20, 0x00).left(2), bytes({0x20, 0x00}));
    }
}

void TestSimKeyboard::faults_data()
{
    QTest::addColumn<int>("kind");
    QTest::newRow("no answer") << int(FaultKind::NoAnswer);
    QTest::newRow("late answer") << int(FaultKind::LateAnswer);
    QTest::newRow("wrong echo") << int(FaultKind::WrongEcho);
    QTest::newRow("error status") << int(FaultKind::ErrorStatus);
}

void TestSimKeyboard::faults()
{
    QFETCH(int, kind);
    Rig r;
    // The fault hits only the second select-key-map request; the query in between is spared.
    // kind, at frame, count, delay, status, command, sub-command
    r.kb->injectFault({FaultKind(kind), 1, 1, 150, 0xC0DE, 0x20, 0x02});

    QCOMPARE(r.link.status(0x20, 0x02, bytes({1})), kSimStatusOk);
    QCOMPARE(r.link.exchange(0x20, 0x00).left(2), bytes({0x20, 0x00}));
    QCOMPARE(r.link.send(0x20, 0x02, bytes({3})), 65);
    const QByteArray first = r.link.receive(50);
    switch (FaultKind(kind)) {
    case FaultKind::NoAnswer:
        QVERIFY(first.isEmpty());
        QCOMPARE(r.kb->currentKeyMap(), 3); // carried out, only the answer is lost
        break;
    case FaultKind::LateAnswer:
        QVERIFY(first.isEmpty());
        QCOMPARE(r.link.receive(2000).left(2), bytes({0x20, 0x02}));
        break;
    case FaultKind::WrongEcho:
        QCOMPARE(first.size(), 64);
        QVERIFY(first.left(2) != bytes({0x20, 0x02}) && uint8_t(first[0]) != 0xF0);
        break;
    default: // ErrorStatus
        QCOMPARE(first.left(2), bytes({0x20, 0x02}));
        QCOMPARE(statusOf(first), 0xC0DEu);
        QCOMPARE(r.kb->currentKeyMap(), 1); // refused: nothing changed
    }
    // Consumed: the next request is answered normally.
    QCOMPARE(r.link.status(0x20, 0x02, bytes({0})), kSimStatusOk);
    QCOMPARE(r.kb->receivedFrames().size(), 4);
}

void TestSimKeyboard::writeFailureAndDisconnect()
{
    Rig r;
    r.kb->injectFault({FaultKind::WriteFailure});
    QCOMPARE(r.link.send(0x10, 0x10), -1);
    QVERIFY(r.kb->receivedFrames().isEmpty()); // never reached the keyboard
    QCOMPARE(r.link.exchange(0x10, 0x10).left(2), bytes({0x10, 0x10}));

    r.kb->injectFault({FaultKind::Disconnect, 2});
    QCOMPARE(r.link.exchange(0x10, 0x11).left(2), bytes({0x10, 0x11}));
    QCOMPARE(r.link.send(0x10, 0x40), 65);
    QCOMPARE(r.link.receive(), QByteArray("-1"));
    QCOMPARE(r.link.send(0x10, 0x40), -1);
    QVERIFY(r.bus.enumerate(0, 0).isEmpty() && r.bus.keyboards().isEmpty());
    QCOMPARE(r.kb->receivedFrames().size(), 3); // the object stays valid after leaving
    QVERIFY(!r.bus.open(r.kb->path()));
}

void TestSimKeyboard::unplugReleasesBlockedRead()
{
    SimBus bus;
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    HidHandle *h = bus.open(kb->path());
    QVERIFY(h);
    std::atomic<int> result{1};
    std::thread reader([&] {
        unsigned char buffer[65];
        result = bus.read(h, buffer, sizeof buffer);
    });
    QTest::qWait(30);
    QCOMPARE(result.load(), 1); // still blocked
    bus.unplug(kb);
    reader.join();
    QCOMPARE(result.load(), -1);
    unsigned char buffer[65];
    QCOMPARE(bus.readTimeout(h, buffer, sizeof buffer, 0), -1);
    bus.close(h);
}

void TestSimKeyboard::replugKeepsState()
{
    SimBus bus;
    SimKeyboard *kb = plugWithoutLatency(bus, Personality::DualMode, 3);
    const QString path = kb->path();
    {
        Link link(bus, path);
        link.exchange(0x20, 0x11, bytes({2, 10, 10, 0, 0x02, 0x2C, 0, 0}));
        link.exchange(0x20, 0x02, bytes({2}));
    }
    const QByteArray before = state(kb);
    bus.unplug(kb);
    QVERIFY(bus.enumerate(0, 0).isEmpty());

    SimKeyboard *back = bus.plug(Personality::DualMode, 3);
    QCOMPARE(back->path(), path);
    QVERIFY(state(back) == before);
    QCOMPARE(back->currentKeyMap(), 2);
    SimKeyboard *other = bus.plug(Personality::DualMode, 4);
    QVERIFY(other->keyCodes(2) != back->keyCodes(2));
    QCOMPARE(other->currentKeyMap(), 0);
}

void TestSimKeyboard::notificationsAndUserActions()
{
    Rig r;
    SimKeyboard *kb = r.kb;
    Link &link = r.link;
    Link watcher(r.bus, kb->path());
    Link plain(r.bus, kb->path().left(kb->path().size() - 1) + QLatin1Char('0'));

    kb->sendNotification(0x42, bytes({1, 2, 3}));
    for (Link *l : {&link, &watcher}) { // every open handle gets it
        const QByteArray n = l->receive();
        QCOMPARE(n.left(4) + n.mid(8, 3), bytes({0xF0, 0x42, 3, 0, 1, 2, 3}));
    }
    link.exchange(0x20, 0x01); // an answer goes only to the handle that asked
    QVERIFY(watcher.receive(30).isEmpty());
    QVERIFY(plain.handle && plain.receive(0).isEmpty()); // the plain keyboard interface: nothing

    // The layer, colour-map and mode-map keys: kind, n = 2, previous and new map.
    using Press = bool (SimKeyboard::*)(int);
    using Count = int (SimKeyboard::*)() const;
    const std::tuple<Press, Count, int, int> presses[] = {
        {&SimKeyboard::pressLayerKey, &SimKeyboard::keyMapCount, 0x20, 2},
        {&SimKeyboard::pressColourMapKey, &SimKeyboard::colourMapCount, 0x30, 1},
        {&SimKeyboard::pressModeMapKey, &SimKeyboard::modeMapCount, 0x60, 3}};
    for (const auto &[press, count, kind, map] : presses) {
        QVERIFY((kb->*press)(map));
        const QByteArray n = link.receive();
        QCOMPARE(n.left(4) + n.mid(8, 2), bytes({0xF0, kind, 2, 0, 0, map}));
        QVERIFY(!(kb->*press)((kb->*count)())); // no such map: nothing sent
    }
    QCOMPARE(kb->currentKeyMap(), 2);

    QVERIFY(kb->setKeyLocked(5, true)); // kind 0x21 with the key's entry, lock bit set
    QByteArray n = link.receive();
    QCOMPARE(n.left(4), bytes({0xF0, 0x21, 4, 0}));
    QCOMPARE(n.mid(8, 4), kb->keyCodes(2).mid(20, 4));
    QCOMPARE(int(n[8] & 1), 1);

    QVERIFY(!kb->pressKeyFunction(0)); // not in use
    QByteArray entry(56, '\0');
    entry[0] = char(0 | 0x40 | 0x80); // id 0, in use, hi = 3
    entry[1] = 0x01;
    kb->setKeyFunction(0, entry);
    QVERIFY(kb->pressKeyFunction(0));
    n = link.receive();
    QCOMPARE(n.left(4) + n.mid(8, 2), bytes({0xF0, 0xAA, 2, 0, 0, 3}));

    // Key presses become 0x50 frames only while recording.
    QVERIFY(!kb->simulateKey(0xE1, true, 10));
    link.exchange(0x50, 0x10, bytes({1}));
    QVERIFY(kb->simulateKey(0x04, true, 100));
    n = link.receive();
    QCOMPARE(n.left(4), bytes({0xF0, 0x50, 10, 0}));
    QCOMPARE(n.mid(8, 10), bytes({100, 0, 0x02, 0, 0x04, 0, 0, 0, 0, 0})); // Shift still held
    QVERIFY(kb->simulateReport(30, 0, QByteArray()));
    QCOMPARE(link.receive().mid(8, 10), bytes({30, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    link.exchange(0x50, 0x10, bytes({0}));
    QVERIFY(!kb->simulateKey(0x05, true, 10));
    QVERIFY(link.receive(30).isEmpty());
}

void TestSimKeyboard::bootLoaderSwitch()
{
    SimBus bus;
    bus.setBootLoaderDelayMs(50);
    SimKeyboard *kb = plugWithoutLatency(bus, Personality::DualMode, 2);
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
    QCOMPARE(dfu->vendorId(), kBootLoaderVendorId);
    Link loaderLink(bus, loader.path);
    QCOMPARE(loaderLink.send(0xA4, 0), 65);
    QCOMPARE(dfu->receivedFrames().size(), 1);
}

void TestSimKeyboard::latencyIsObeyed()
{
    // An answer is readable two report latencies (default 1 ms) after the request.
    SimBus bus;
    QCOMPARE(bus.reportLatencyUs(), 1000);
    Link link(bus, bus.plug(Personality::DualMode)->path());
    for (const int latencyUs : {20000, 1000, 1000, 1000}) {
        bus.setReportLatencyUs(latencyUs);
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(link.exchange(0x10, 0x10).left(2), bytes({0x10, 0x10}));
        QVERIFY(timer.nsecsElapsed() >= 2000 * qint64(latencyUs));
    }
}

void TestSimKeyboard::concurrentUse()
{
    // The host reads on one thread and writes on another while the test thread
    // plugs keyboards in and out and the keyboard sends notifications.
    SimBus bus;
    SimKeyboard *kb = plugWithoutLatency(bus, Personality::DualMode, -1);
    HidHandle *h = bus.open(kb->path());
    QVERIFY(h);
    constexpr int kRequests = 300, kNotifications = 50;
    std::atomic<bool> stop{false};
    std::atomic<int> answers{0}, notes{0}, errors{0};
    std::thread reader([&] {
        unsigned char buffer[65];
        while (!stop) {
            const int n = bus.readTimeout(h, buffer, sizeof buffer, 5);
            if (n < 0)
                ++errors;
            else if (n > 0)
                ++(buffer[0] == 0xF0 ? notes : answers);
        }
    });
    std::thread writer([&] {
        for (int i = 0; i < kRequests; ++i)
            errors += writeReport(bus, h, request(0x20, 0x01)) == 65 ? 0 : 1;
    });
    for (int i = 0; i < kNotifications; ++i) {
        SimKeyboard *other = bus.plug(Personality::UsbOnly);
        QCOMPARE(bus.enumerate(0, 0).size(), 4);
        kb->sendNotification(0x60, bytes({0, 1}));
        QCOMPARE(kb->keyCodes(0).size(), 108 * 4);
        bus.unplug(other);
    }
    writer.join();
    QTRY_COMPARE(answers.load() + notes.load(), kRequests + kNotifications);
    stop = true;
    reader.join();
    QCOMPARE(notes.load(), kNotifications);
    QCOMPARE(errors.load(), 0);
    QCOMPARE(kb->receivedFrames().size(), kRequests);
    bus.close(h);
}

void TestSimKeyboard::demoBus()
{
    // The argument wins over LUMORY_SIMULATE; "--simulate" alone is one keyboard.
    qunsetenv("LUMORY_SIMULATE");
    QCOMPARE(demoKeyboardCount({"Lumory"}), 0);
    QCOMPARE(demoKeyboardCount({"Lumory", "--simulate"}), 1);
    QCOMPARE(demoKeyboardCount({"Lumory", "--simulate=3"}), 3);
    qputenv("LUMORY_SIMULATE", "2");
    QCOMPARE(demoKeyboardCount({"Lumory"}), 2);
    QCOMPARE(demoKeyboardCount({"Lumory", "--simulate=0"}), 0);

    SimBus *bus = installDemoBusFromArguments({"Lumory"});
    qunsetenv("LUMORY_SIMULATE");
    QVERIFY(bus);
    QCOMPARE(HidBackend::instance(), static_cast<HidBackend *>(bus));
    const QList<SimKeyboard *> list = bus->keyboards();
    QCOMPARE(list.size(), 2);
    QVERIFY(list.at(0)->index() != list.at(1)->index());
    QCOMPARE(list.at(0)->personality(), Personality::DualMode);
    uninstallDemoBus();
    QVERIFY(HidBackend::instance() != static_cast<HidBackend *>(bus));
    QVERIFY(!installDemoBusFromArguments({"Lumory"}));
}

QTEST_GUILESS_MAIN(TestSimKeyboard)
#include "tst_simkeyboard.moc"

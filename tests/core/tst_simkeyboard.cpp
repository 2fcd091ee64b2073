// The simulated keyboard, seen only through the HidBackend calls the host uses
// and the frames the keyboard received.

#include "demo.h"
#include "simbus.h"

#include <QElapsedTimer>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <thread>

using namespace sim;

namespace {

QByteArray request(uint8_t command, uint8_t sub, const QByteArray &payload = QByteArray(),
                   uint16_t argument = 0)
{
    QByteArray report(65, '\0'); // report id 0 + 64 bytes
    report[1] = char(command);
    report[2] = char(sub);
    report[3] = char(payload.size() & 0xFF);
    report[4] = char(payload.size() >> 8);
    report[5] = char(argument & 0xFF);
    report[6] = char(argument >> 8);
    report.replace(9, payload.size(), payload);
    return report.left(65);
}

uint32_t status(const QByteArray &answer)
{
    return uint32_t(uint8_t(answer[8])) | uint32_t(uint8_t(answer[9])) << 8 |
           uint32_t(uint8_t(answer[10])) << 16 | uint32_t(uint8_t(answer[11])) << 24;
}

uint16_t word(const QByteArray &bytes, int at)
{
    return uint16_t(uint8_t(bytes[at]) | uint8_t(bytes[at + 1]) << 8);
}

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// One open interface: write a request, read what comes back.
class Link
{
public:
    Link(SimBus &bus, const QString &path) : m_bus(bus), m_handle(bus.open(path)) {}
    ~Link()
    {
        if (m_handle)
            m_bus.close(m_handle);
    }
    bool isOpen() const { return m_handle != nullptr; }
    HidHandle *handle() const { return m_handle; }

    int send(uint8_t command, uint8_t sub, const QByteArray &payload = QByteArray(),
             uint16_t argument = 0)
    {
        const QByteArray report = request(command, sub, payload, argument);
        return m_bus.write(m_handle, reinterpret_cast<const unsigned char *>(report.constData()),
                           size_t(report.size()));
    }
    // The next input report; empty on time-out, "-1" on error.
    QByteArray receive(int timeoutMs = 1000)
    {
        unsigned char buffer[65] = {};
        const int n = m_bus.readTimeout(m_handle, buffer, sizeof buffer, timeoutMs);
        if (n < 0)
            return QByteArrayLiteral("-1");
        return QByteArray(reinterpret_cast<const char *>(buffer), n);
    }
    QByteArray exchange(uint8_t command, uint8_t sub, const QByteArray &payload = QByteArray(),
                        uint16_t argument = 0)
    {
        if (send(command, sub, payload, argument) != 65)
            return QByteArray();
        return receive();
    }

private:
    SimBus &m_bus;
    HidHandle *m_handle;
};

} // namespace

class TestSimKeyboard : public QObject
{
    Q_OBJECT

private slots:
    void enumerationAndFilters();
    void interfaceNumberFromPathOnly();
    void openReadWriteLikeHidapi();
    void plainKeyboardInterfaceNeverAnswers();
    void deviceInformation();
    void keyCodeMapsAtTheWire();
    void coloursLightingAndPersonalities();
    void keyFunctionsAndBluetooth();
    void macroTransfer();
    void factoryReset();
    void faults_data();
    void faults();
    void writeFailureAndDisconnect();
    void unplugReleasesBlockedRead();
    void replugKeepsState();
    void notifications();
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
    QCOMPARE(second->index(), dual->index() + 1);
    QVERIFY(!bus.plug(Personality::DualMode, dual->index())); // already on the bus

    const QList<HidDeviceInfo> all = bus.enumerate(0, 0);
    QCOMPARE(all.size(), 6); // two interfaces per keyboard
    QCOMPARE(bus.enumerate(kSimVendorId, kSimProductId).size(), 6);
    QCOMPARE(bus.enumerate(kSimVendorId, 0).size(), 6);
    QCOMPARE(bus.enumerate(kBootLoaderVendorId, kBootLoaderProductId).size(), 0);

    QSet<QString> paths;
    int vendorInterfaces = 0;
    for (const HidDeviceInfo &info : all) {
        QCOMPARE(info.path.right(1).toInt(), info.interfaceNumber);
        paths.insert(info.path);
        if (info.interfaceNumber == kSimInterface) {
            ++vendorInterfaces;
            QVERIFY(bus.find(info.path));
        }
    }
    QCOMPARE(paths.size(), 6);
    QCOMPARE(vendorInterfaces, 3);
    QCOMPARE(dual->path().right(1), QString::number(kSimInterface));
    QCOMPARE(bus.find(dual->path()), dual);
    QVERIFY(dual->deviceId() != second->deviceId());
    QVERIFY(dual->deviceId() != usb->deviceId());
    QCOMPARE(dual->productName(), QByteArray(kDualModeProductName).leftJustified(16, '\0'));
    QCOMPARE(bus.keyboards().size(), 3);
}

void TestSimKeyboard::interfaceNumberFromPathOnly()
{
    SimBus bus;
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    kb->setReportsInterfaceNumber(false);
    QCOMPARE(kb->interfaceNumber(), -1);
    const QList<HidDeviceInfo> list = bus.enumerate(kSimVendorId, kSimProductId);
    QCOMPARE(list.size(), 2);
    QStringList lastCharacters;
    for (const HidDeviceInfo &info : list) {
        QCOMPARE(info.interfaceNumber, -1);
        lastCharacters << info.path.right(1);
    }
    lastCharacters.sort();
    QCOMPARE(lastCharacters, QStringList({"0", "1"}));
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
    QCOMPARE(bus.write(h, reinterpret_cast<const unsigned char *>(report.constData()), 65), 65);
    QCOMPARE(bus.read(h, buffer, sizeof buffer), 64); // no report id on input
    QCOMPARE(int(buffer[0]), 0x10);
    QCOMPARE(int(buffer[1]), 0x10);

    report[0] = 1; // numbered reports are not accepted
    QCOMPARE(bus.write(h, reinterpret_cast<const unsigned char *>(report.constData()), 65), -1);
    // The keyboard saw exactly the first request, without its report id.
    QCOMPARE(kb->receivedFrames().size(), 1);
    QCOMPARE(kb->receivedFrames().first(), request(0x10, 0x10).mid(1));
    kb->clearReceivedFrames();
    QVERIFY(kb->receivedFrames().isEmpty());

    QCOMPARE(bus.exit(), 0); // leaves open handles alone
    bus.close(h);
    QCOMPARE(bus.openHandleCount(), 0);
    QCOMPARE(bus.readTimeout(h, buffer, sizeof buffer, 0), -1);
    QCOMPARE(bus.write(h, reinterpret_cast<const unsigned char *>(report.constData()), 65), -1);
}

void TestSimKeyboard::plainKeyboardInterfaceNeverAnswers()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    QString bootPath;
    for (const HidDeviceInfo &info : bus.enumerate(0, 0)) {
        if (info.interfaceNumber == 0)
            bootPath = info.path;
    }
    QVERIFY(!bootPath.isEmpty());
    Link link(bus, bootPath);
    QVERIFY(link.isOpen());
    QCOMPARE(link.send(0x10, 0x10), 65);
    QVERIFY(link.receive(50).isEmpty());
    QVERIFY(kb->receivedFrames().isEmpty());
}

void TestSimKeyboard::deviceInformation()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    Link link(bus, kb->path());

    QByteArray a = link.exchange(0x10, 0x10);
    QCOMPARE(a.size(), 64);
    QCOMPARE(a.mid(32, 16), kb->productName());
    QVERIFY(QChar::fromLatin1(a[32]).isPrint());

    kb->setFirmwareVersion(123);
    a = link.exchange(0x10, 0x11);
    QCOMPARE(word(a, 8), uint16_t(123));
    for (int i = 12; i < 28; ++i)
        QVERIFY2(uint8_t(a[i]) <= 9, "release date bytes are digit values");

    a = link.exchange(0x10, 0x40);
    QCOMPARE(a.mid(8, 12), kb->deviceId());

    a = link.exchange(0x10, 0x21, bytes({5, 0})); // scan speed
    QCOMPARE(bytes({a[0], a[1]}), bytes({0x10, 0x21}));
    QCOMPARE(status(a), kSimStatusOk);
    QCOMPARE(kb->scanSpeed(), uint16_t(5));
    QCOMPARE(status(link.exchange(0x10, 0x21, bytes({5}))), kSimStatusBadLength);

    a = link.exchange(0x10, 0x31, QByteArray(48, 'u'));
    QCOMPARE(status(a), kSimStatusOk);
    QCOMPARE(link.exchange(0x10, 0x30).mid(8, 48), QByteArray(48, 'u'));

    a = link.exchange(0x77, 0x01); // unknown command
    QCOMPARE(bytes({a[0], a[1]}), bytes({0x77, 0x01}));
    QCOMPARE(status(a), kSimStatusUnknownCommand);
    QCOMPARE(status(link.exchange(0x10, 0x99)), kSimStatusUnknownCommand);
}

void TestSimKeyboard::keyCodeMapsAtTheWire()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    Link link(bus, kb->path());

    QByteArray a = link.exchange(0x20, 0x00);
    QCOMPARE(int(uint8_t(a[8])), kb->keyMapCount());
    QCOMPARE(int(uint8_t(a[9])), kb->keyCount());
    QCOMPARE(kb->keyCount(), 108);
    // The first key of the default map is Escape: type 1, stype 0, code 0x29.
    QCOMPARE(kb->keyCodes(0).left(4), bytes({0x02, 0x29, 0x00, 0x00}));

    // set keys 3..5 of map 1, then read 0..12 back
    const QByteArray entries = bytes({0x02, 0x04, 0, 0, 0x03, 0x05, 0, 0, 0x12, 0x34, 0x12, 0x77});
    a = link.exchange(0x20, 0x11, bytes({1, 3, 5, 0}) + entries);
    QCOMPARE(status(a), kSimStatusOk);
    QCOMPARE(a.mid(12, 3), bytes({1, 3, 5}));
    QCOMPARE(kb->keyCodes(1).mid(12, 12), entries);

    a = link.exchange(0x20, 0x10, bytes({1, 0, 12, 0}));
    QCOMPARE(a.mid(8, 3), bytes({1, 0, 12}));
    QCOMPARE(int(word(a, 2)), 4 + 13 * 4);
    QCOMPARE(a.mid(12, 52), kb->keyCodes(1).left(52));

    // out of range: map, last key, too many keys for one frame
    QCOMPARE(status(link.exchange(0x20, 0x10, bytes({4, 0, 0, 0}))), kSimStatusOutOfRange);
    QCOMPARE(status(link.exchange(0x20, 0x10, bytes({0, 100, 108, 0}))), kSimStatusOutOfRange);
    QCOMPARE(status(link.exchange(0x20, 0x10, bytes({0, 0, 13, 0}))), kSimStatusOutOfRange);
    QCOMPARE(status(link.exchange(0x20, 0x11, bytes({0, 0, 1, 0}) + QByteArray(4, 0))),
             kSimStatusBadLength);

    QCOMPARE(status(link.exchange(0x20, 0x02, bytes({2}))), kSimStatusOk);
    QCOMPARE(kb->currentKeyMap(), 2);
    QCOMPARE(int(link.exchange(0x20, 0x01)[8]), 2);
    QCOMPARE(status(link.exchange(0x20, 0x02, bytes({4}))), kSimStatusOutOfRange);
    QCOMPARE(kb->currentKeyMap(), 2);
}

void TestSimKeyboard::coloursLightingAndPersonalities()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *dual = bus.plug(Personality::DualMode);
    SimKeyboard *dark = bus.plug(Personality::NoLighting);
    SimKeyboard *wired = bus.plug(Personality::UsbOnly);
    QCOMPARE(wired->keyCount(), 88);
    QCOMPARE(dark->keyCount(), 68);
    QVERIFY(dual->productName() != dark->productName());
    QVERIFY(dual->productName() != wired->productName());
    Link link(bus, dual->path());

    QByteArray a = link.exchange(0x30, 0x00);
    QCOMPARE(int(uint8_t(a[0])), 0x30);
    QCOMPARE(int(a[8]), dual->colourMapCount());
    a = link.exchange(0x30, 0x11, bytes({0, 7, 7, 0, 0x10, 0x20, 0x30, 0}));
    QCOMPARE(status(a), kSimStatusOk);
    QCOMPARE(dual->keyColours(0).mid(28, 4), bytes({0x10, 0x20, 0x30, 0}));

    a = link.exchange(0x60, 0x00);
    QCOMPARE(int(a[8]), dual->modeMapCount());
    QCOMPARE(int(uint8_t(a[9])), dual->modeCount());
    a = link.exchange(0x60, 0x04, bytes({1, 50, 51, 0, 9, 10}));
    QCOMPARE(a.mid(12, 3), bytes({1, 50, 51}));
    a = link.exchange(0x60, 0x03, bytes({1, 48, 95, 0})); // 48 entries, one chunk
    QCOMPARE(int(word(a, 2)), 52);
    QCOMPARE(a.mid(14, 2), bytes({9, 10}));

    QCOMPARE(int(link.exchange(0x60, 0x20)[8]), 32);
    a = link.exchange(0x60, 0x21, bytes({5}));
    QCOMPARE(a.left(3), bytes({0x60, 0x21, 12}));
    QCOMPARE(a.mid(8, 12), dual->lightingRecord(5));
    QCOMPARE(int(a[8] & 0x3F), 5);
    QByteArray record = dual->lightingRecord(6);
    record[11] = 0x42;
    QCOMPARE(status(link.exchange(0x60, 0x22, record)), kSimStatusOk);
    QCOMPARE(dual->lightingRecord(6), record);
    a = link.exchange(0x60, 0x21, bytes({32}));
    QVERIFY(a.left(3) != bytes({0x60, 0x21, 12}));
    QCOMPARE(status(a), kSimStatusOutOfRange);

    // A board without lighting answers the info queries with another byte 0.
    Link darkLink(bus, dark->path());
    for (int sub : {0x00, 0x20})
        QVERIFY(uint8_t(darkLink.exchange(0x60, uint8_t(sub))[0]) != 0x60);
    QVERIFY(uint8_t(darkLink.exchange(0x30, 0x00)[0]) != 0x30);
    QCOMPARE(dark->colourMapCount(), 0);
    QCOMPARE(dark->currentColourMap(), -1);

    // A wired board does not answer group 0xB0 at all, and keeps answering the rest.
    Link wiredLink(bus, wired->path());
    QCOMPARE(wiredLink.send(0xB0, 0x10), 65);
    QVERIFY(wiredLink.receive(50).isEmpty());
    QCOMPARE(uint8_t(wiredLink.exchange(0x20, 0x00)[0]), uint8_t(0x20));
}

void TestSimKeyboard::keyFunctionsAndBluetooth()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    Link link(bus, kb->path());

    QByteArray a = link.exchange(0x40, 0x00);
    QCOMPARE(int(a[8]), kb->keyFunctionCount());
    QByteArray entry = kb->keyFunction(3);
    entry[0] = char(3 | 0x40 | 0x80); // id 3, in use, hi bit 0
    entry[20] = 0x11;
    QCOMPARE(status(link.exchange(0x40, 0x20, entry)), kSimStatusOk);
    a = link.exchange(0x40, 0x10, bytes({3}));
    QCOMPARE(a.left(3), bytes({0x40, 0x10, 0x38}));
    QCOMPARE(a.mid(8, 56), entry);
    QCOMPARE(status(link.exchange(0x40, 0x10, bytes({40}))), kSimStatusOutOfRange);

    a = link.exchange(0xB0, 0x11, QByteArray("XNewName").leftJustified(12, '\0'));
    QCOMPARE(status(a), kSimStatusOk);
    QCOMPARE(link.exchange(0xB0, 0x10).mid(8, 12), QByteArray("XNewName").leftJustified(12, '\0'));
    QCOMPARE(status(link.exchange(0xB0, 0x21, bytes({0x60, 0xEA, 0, 0}))), kSimStatusOk);
    QCOMPARE(kb->sleepTime(), 60000u);
    QCOMPARE(link.exchange(0xB0, 0x20).mid(8, 4), bytes({0x60, 0xEA, 0, 0}));
}

void TestSimKeyboard::macroTransfer()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    Link link(bus, kb->path());

    QByteArray a = link.exchange(0x50, 0x00);
    QCOMPARE(int(a[8]), 16);
    QCOMPARE(int(word(a, 10)), 512);

    // No slot selected yet: frame transfers are refused.
    QCOMPARE(status(link.exchange(0x50, 0x40, QByteArray(10, 1), 0)), kSimStatusBadState);

    QByteArray frames;
    for (int i = 0; i < 7; ++i)
        frames += bytes({10 + i, 0, 0, 0, 4 + i, 0, 0, 0, 0, 0});
    QCOMPARE(status(link.exchange(0x50, 0x03, bytes({2}))), kSimStatusOk);
    a = link.exchange(0x50, 0x40, frames.left(50), 0);
    QCOMPARE(a.left(3), bytes({0x50, 0x40, 4}));
    QCOMPARE(word(a, 4), uint16_t(0));
    QCOMPARE(status(a), kSimStatusOk);
    a = link.exchange(0x50, 0x40, frames.mid(50), 5);
    QCOMPARE(word(a, 4), uint16_t(5));
    a = link.exchange(0x50, 0x40, QByteArray(), 7); // commit
    QCOMPARE(a.left(3), bytes({0x50, 0x40, 4}));
    QCOMPARE(status(a), kSimStatusOk);
    QCOMPARE(kb->macroFrames(2), frames);

    a = link.exchange(0x50, 0x01, bytes({2}));
    QCOMPARE(a.left(3), bytes({0x50, 0x01, 24}));
    QCOMPARE(a.mid(8, 24), kb->macroHead(2));
    QCOMPARE(int((word(a, 8) >> 7) | (uint8_t(a[10]) & 1) << 9), 7);

    a = link.exchange(0x50, 0x30, QByteArray(), 5); // the last two frames
    QCOMPARE(a.left(2), bytes({0x50, 0x30}));
    QCOMPARE(int(word(a, 2)), 20);
    QCOMPARE(word(a, 4), uint16_t(5));
    QCOMPARE(a.mid(8, 20), frames.mid(50));

    // heads: name a slot, then delete it
    QByteArray head = kb->macroHead(4);
    head[0] = char(4 | 0x40);
    head.replace(8, 5, "Hello");
    QCOMPARE(status(link.exchange(0x50, 0x02, head)), kSimStatusOk);
    QCOMPARE(kb->macroHead(4), head);
    QCOMPARE(status(link.exchange(0x50, 0x02, bytes({4}) + QByteArray(23, 0))), kSimStatusOk);
    QCOMPARE(kb->macroHead(4), bytes({4}) + QByteArray(23, 0));

    // 300 frames written in rounds of five are read back in full
    QVERIFY(kb->setMacro(9, "long", QByteArray(3000, 'x')));
    QCOMPARE(status(link.exchange(0x50, 0x03, bytes({9}))), kSimStatusOk);
    a = link.exchange(0x50, 0x30, QByteArray(), 295);
    QCOMPARE(int(word(a, 2)), 50);
    QCOMPARE(word(a, 4), uint16_t(295));
    QCOMPARE(status(link.exchange(0x50, 0x40, QByteArray(10, 0), 512)), kSimStatusOutOfRange);

    QCOMPARE(status(link.exchange(0x50, 0x10, bytes({1}))), kSimStatusOk);
    QVERIFY(kb->isRecordingMacro());
    QCOMPARE(status(link.exchange(0x50, 0x10, bytes({0}))), kSimStatusOk);
    QVERIFY(!kb->isRecordingMacro());
    QCOMPARE(status(link.exchange(0x50, 0x20, bytes({1}))), kSimStatusOk);
    QVERIFY(kb->isPlayingMacro());
}

void TestSimKeyboard::factoryReset()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    const QByteArray map0 = kb->keyCodes(0);
    const QByteArray id = kb->deviceId();
    Link link(bus, kb->path());
    link.exchange(0x20, 0x11, bytes({0, 0, 0, 0, 0x02, 0x05, 0, 0}));
    link.exchange(0xB0, 0x21, bytes({0, 0, 0, 0}));
    QVERIFY(kb->setMacro(1, "m", QByteArray(20, 'f')));
    QVERIFY(kb->keyCodes(0) != map0);

    const QByteArray a = link.exchange(0x10, 0x60);
    QCOMPARE(a.left(2), bytes({0x10, 0x60}));
    QCOMPARE(status(a), kSimStatusOk);
    QCOMPARE(kb->keyCodes(0), map0);
    QCOMPARE(kb->sleepTime(), 600000u);
    QCOMPARE(kb->macroFrames(1), QByteArray());
    QCOMPARE(kb->deviceId(), id);
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
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    Link link(bus, kb->path());

    // The fault hits only the second setCurKCMID; the getKCInfo in between is spared.
    Fault fault;
    fault.kind = FaultKind(kind);
    fault.atFrame = 1;
    fault.command = 0x20;
    fault.subCommand = 0x02;
    fault.delayMs = 150;
    fault.status = 0xC0DE;
    kb->injectFault(fault);

    QCOMPARE(status(link.exchange(0x20, 0x02, bytes({1}))), kSimStatusOk);
    QCOMPARE(link.exchange(0x20, 0x00).left(2), bytes({0x20, 0x00}));
    QCOMPARE(link.send(0x20, 0x02, bytes({3})), 65);
    const QByteArray first = link.receive(50);
    switch (FaultKind(kind)) {
    case FaultKind::NoAnswer:
        QVERIFY(first.isEmpty());
        QCOMPARE(kb->currentKeyMap(), 3); // received and done, only the answer is lost
        break;
    case FaultKind::LateAnswer: {
        QVERIFY(first.isEmpty());
        const QByteArray late = link.receive(2000);
        QCOMPARE(late.left(2), bytes({0x20, 0x02}));
        break;
    }
    case FaultKind::WrongEcho:
        QCOMPARE(first.size(), 64);
        QVERIFY(first.left(2) != bytes({0x20, 0x02}));
        QVERIFY(uint8_t(first[0]) != 0xF0);
        break;
    case FaultKind::ErrorStatus:
        QCOMPARE(first.left(2), bytes({0x20, 0x02}));
        QCOMPARE(status(first), 0xC0DEu);
        QCOMPARE(kb->currentKeyMap(), 1); // refused: nothing changed
        break;
    default:
        QFAIL("unexpected kind");
    }
    // consumed: the next request is answered normally
    QCOMPARE(status(link.exchange(0x20, 0x02, bytes({0}))), kSimStatusOk);
    QCOMPARE(kb->receivedFrames().size(), 4);
}

void TestSimKeyboard::writeFailureAndDisconnect()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    Link link(bus, kb->path());

    Fault failure;
    failure.kind = FaultKind::WriteFailure;
    kb->injectFault(failure);
    QCOMPARE(link.send(0x10, 0x10), -1);
    QVERIFY(kb->receivedFrames().isEmpty()); // never reached the keyboard
    QCOMPARE(link.exchange(0x10, 0x10).left(2), bytes({0x10, 0x10}));

    Fault disconnect;
    disconnect.kind = FaultKind::Disconnect;
    disconnect.atFrame = 2;
    kb->injectFault(disconnect);
    QCOMPARE(link.exchange(0x10, 0x11).left(2), bytes({0x10, 0x11}));
    QCOMPARE(link.send(0x10, 0x40), 65);
    QCOMPARE(link.receive(), QByteArray("-1"));
    QCOMPARE(link.send(0x10, 0x40), -1);
    QVERIFY(bus.enumerate(0, 0).isEmpty());
    QVERIFY(bus.keyboards().isEmpty());
    QCOMPARE(kb->receivedFrames().size(), 3); // the object stays valid after leaving
    QVERIFY(!bus.open(kb->path()));
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
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode, 3);
    const QString path = kb->path();
    {
        Link link(bus, path);
        link.exchange(0x20, 0x11, bytes({2, 10, 10, 0, 0x02, 0x2C, 0, 0}));
        link.exchange(0x20, 0x02, bytes({2}));
    }
    const QByteArray map2 = kb->keyCodes(2);
    bus.unplug(kb);
    QVERIFY(bus.enumerate(0, 0).isEmpty());

    SimKeyboard *back = bus.plug(Personality::DualMode, 3);
    QCOMPARE(back->path(), path);
    QCOMPARE(back->keyCodes(2), map2);
    QCOMPARE(back->currentKeyMap(), 2);
    SimKeyboard *other = bus.plug(Personality::DualMode, 4);
    QVERIFY(other->keyCodes(2) != map2);
    QCOMPARE(other->currentKeyMap(), 0);
}

void TestSimKeyboard::notifications()
{
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    Link link(bus, kb->path());
    Link watcher(bus, kb->path());

    kb->sendNotification(0x42, bytes({1, 2, 3}));
    for (Link *l : {&link, &watcher}) { // every open handle gets it
        const QByteArray n = l->receive();
        QCOMPARE(n.left(4), bytes({0xF0, 0x42, 3, 0}));
        QCOMPARE(n.mid(8, 3), bytes({1, 2, 3}));
    }
    // an answer goes only to the handle that asked
    link.exchange(0x20, 0x01);
    QVERIFY(watcher.receive(30).isEmpty());

    QVERIFY(kb->pressLayerKey(2));
    QByteArray n = link.receive();
    QCOMPARE(n.left(4), bytes({0xF0, 0x20, 2, 0}));
    QCOMPARE(int(n[9]), 2);
    QCOMPARE(kb->currentKeyMap(), 2);
    QVERIFY(!kb->pressLayerKey(4));
    QVERIFY(kb->pressColourMapKey(1));
    QCOMPARE(link.receive().left(2), bytes({0xF0, 0x30}));
    QVERIFY(kb->pressModeMapKey(3));
    QCOMPARE(link.receive().mid(8, 2), bytes({0, 3}));

    QVERIFY(kb->setKeyLocked(5, true));
    n = link.receive();
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
    QCOMPARE(n.left(4), bytes({0xF0, 0xAA, 2, 0}));
    QCOMPARE(n.mid(8, 2), bytes({0, 3}));

    // key presses become 0x50 frames only while recording
    QVERIFY(!kb->simulateKey(0xE1, true, 10));
    for (Link *l : {&link, &watcher})
        while (!l->receive(0).isEmpty()) {
        }
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
    bus.setReportLatencyUs(0);
    bus.setBootLoaderDelayMs(50);
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
    QCOMPARE(dfu->vendorId(), kBootLoaderVendorId);

    Link loaderLink(bus, loader.path);
    QCOMPARE(loaderLink.send(0xA4, 0), 65);
    QCOMPARE(dfu->receivedFrames().size(), 1);
}

void TestSimKeyboard::latencyIsObeyed()
{
    SimBus bus;
    QCOMPARE(bus.reportLatencyUs(), 1000);
    bus.setReportLatencyUs(20000);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
    Link link(bus, kb->path());

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(link.send(0x10, 0x10), 65);
    const QByteArray answer = link.receive(2000);
    const qint64 elapsedUs = timer.nsecsElapsed() / 1000;
    QCOMPARE(answer.left(2), bytes({0x10, 0x10}));
    QVERIFY2(elapsedUs >= 40000, "the answer needs two report latencies");

    bus.setReportLatencyUs(1000);
    QList<qint64> trips;
    for (int i = 0; i < 20; ++i) {
        timer.restart();
        link.exchange(0x20, 0x01);
        trips.append(timer.nsecsElapsed() / 1000);
    }
    std::sort(trips.begin(), trips.end());
    qDebug() << "round trip at 1 ms latency, median" << trips.at(trips.size() / 2) << "us";
    QVERIFY(trips.first() >= 2000);
}

void TestSimKeyboard::concurrentUse()
{
    // The host reads on one thread and writes on another while the test thread
    // plugs keyboards in and out and the keyboard sends notifications.
    SimBus bus;
    bus.setReportLatencyUs(0);
    SimKeyboard *kb = bus.plug(Personality::DualMode);
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
        const QByteArray report = request(0x20, 0x01);
        for (int i = 0; i < kRequests; ++i) {
            if (bus.write(h, reinterpret_cast<const unsigned char *>(report.constData()), 65) != 65)
                ++errors;
        }
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

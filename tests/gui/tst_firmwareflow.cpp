// The firmware update from the settings page against the simulated keyboard,
// its Bluetooth module and its boot loader: a package written end to end, a
// refused package, a loader that never comes, a keyboard lost in each phase,
// and a loader left behind that is offered the update again.
#include "device/device.h"
#include "main/devicesession.h"
#include "main/firmwareflow.h"
#include "sessionfixture.h"
#include "setting/firmware.h"
#include "setting/setting.h"
#include "widget/tablabel.h"

#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using sim::Personality;

namespace {
struct Update
{
    TestSupport::SessionFixture f;
    QTemporaryDir package;
    sim::SimKeyboard *kb = nullptr;
    Lumory *w = nullptr;
    int boxes = 0; // shown before the update started

    // A package holding a USB image of `version`, and a Bluetooth one for a
    // dual-mode keyboard.
    explicit Update(uint16_t version = 106, Personality personality = Personality::UsbOnly)
    {
        f.bus.setBootLoaderDelayMs(50);
        kb = f.bus.plug(personality);
        TestSupport::writeFile(package.filePath("hx_usb_app_V1.bin"),
                               sim::makeFirmwareImage(version, 3000));
        if (personality == Personality::DualMode)
            TestSupport::writeFile(package.filePath("hx_bt_app_V1.bin"),
                                   sim::makeFirmwareImage(version, 1000, 7, 1));
        w = f.start();
        Device::setDfuTimeouts({300, 500, 300, 10});
        Device::setBtTimeouts({300, 400, 250, 500, 10});
    }
    bool open()
    {
        if (!f.waitLoaded())
            return false;
        w->labelPageClickSlot(QStringLiteral("Setting"));
        flow()->setLoaderWaitMs(300);
        return panel()->startButton() && panel()->pathField()->isEnabled();
    }
    FirmwareFlow *flow() const { return w->firmwareFlow(); }
    Firmware *panel() const { return w->settingPage()->firmwarePanel(); }
    void start(const QString &dir = {})
    {
        boxes = f.dialogs.messages.size();
        panel()->pathField()->setText(dir.isEmpty() ? package.path() : dir);
        panel()->startButton()->click();
    }
    // The keyboard's boot loader, once it is on the bus.
    sim::SimKeyboard *loader() const
    {
        sim::SimKeyboard *found = nullptr;
        const auto appeared = [&] {
            return (found = f.bus.find(Personality::BootLoader, kb->index()));
        };
        return QTest::qWaitFor(appeared) ? found : nullptr;
    }
    bool windowUsable() const
    {
        return !flow()->isRunning() && w->tabLabels().first()->isEnabled();
    }
};
} // namespace

class TestFirmwareFlow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aPackageIsWrittenAndTheKeyboardComesBack()
    {
        // The Bluetooth image first, then the USB one.
        Update u(107, Personality::DualMode);
        QVERIFY(u.open());
        QSignalSpy finished(u.flow(), &FirmwareFlow::finished);
        QSignalSpy progress(u.flow(), &FirmwareFlow::progress);
        u.start();
        QVERIFY(u.flow()->isRunning());
        QVERIFY(!u.w->tabLabels().first()->isEnabled());
        // Exit (tray or menu) is refused while the keyboard is being written.
        u.w->exitAppActionSlot();
        QCOMPARE(u.f.dialogs.messages.size(), u.boxes + 1);
        QVERIFY(u.w->deviceSession());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(progress.last().first().toInt(), 100);
        for (int i = 1; i < progress.size(); ++i)
            QVERIFY(progress.at(i).first().toInt() >= progress.at(i - 1).first().toInt());
        // The scan finds the keyboard again, running the new firmware, and
        // the settings page shows it.
        QVERIFY(u.f.waitLoaded());
        sim::SimKeyboard *kb = u.f.bus.find(Personality::DualMode, u.kb->index());
        QVERIFY(kb);
        const QByteArray bt = TestSupport::readFile(u.package.filePath("hx_bt_app_V1.bin"));
        QCOMPARE(kb->btApplicationImage().left(bt.size()), bt);
        QTRY_COMPARE(u.w->deviceSession()->device()->fwVersion(), uint16_t(107));
        QTRY_COMPARE(u.w->currentPageName(), QStringLiteral("Setting"));
        QCOMPARE(u.w->settingPage()->firmwareText(), Setting::versionText(107));
        QVERIFY(u.windowUsable());
        QCOMPARE(u.f.dialogs.messages.size(), u.boxes + 1);
    }

    void aRefusedPackageSendsNothing()
    {
        Update u;
        QVERIFY(u.open());
        QTemporaryDir other;
        TestSupport::writeFile(other.filePath("hx_usb_app_V1.bin"), QByteArray());
        u.kb->clearReceivedFrames();
        u.start(other.path());
        QCOMPARE(u.f.dialogs.messages.size(), u.boxes + 1);
        QVERIFY(u.kb->receivedFrames().isEmpty());
        QVERIFY(u.windowUsable());
        QVERIFY(u.w->deviceSession()->isLoaded());
    }

    void theNineteenthFailedOpenEndsTheUpdate()
    {
        Update u;
        QVERIFY(u.open());
        u.kb->setBootLoaderAppears(false);
        u.flow()->setLoaderWaitMs(3600 * 1000); // the test drives the attempts
        QSignalSpy finished(u.flow(), &FirmwareFlow::finished);
        u.start();
        QTRY_VERIFY(!u.f.bus.find(Personality::UsbOnly, u.kb->index()));
        for (int attempt = 1; attempt <= 19; ++attempt) {
            u.flow()->waitOpenDfuDeviceSolt();
            const bool ended = attempt == 19;
            QCOMPARE(finished.size(), ended ? 1 : 0);
            QCOMPARE(u.flow()->isRunning(), !ended);
            QCOMPARE(u.f.dialogs.messages.size(), u.boxes + (ended ? 1 : 0));
            QCOMPARE(u.flow()->waitTimer()->isActive(), !ended);
        }
        QVERIFY(u.windowUsable());
    }

    void everyPhaseOfALostKeyboardEndsTheUpdate_data()
    {
        QTest::addColumn<bool>("bluetooth");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("at");       // loader packet (1: the erase), or module operation
        QTest::addColumn<QString>("told"); // the start of the one box's text
        using B = sim::BtFaultKind;
        QTest::newRow("loader silent at the erase")
            << false << int(sim::LoaderFaultKind::Silence) << 1 << "The firmware update failed.";
        const QString interrupted = "The firmware update of the Bluetooth module was interrupted.";
        QTest::newRow("module silent at the erase")
            << true << int(B::Silence) << 0x81 << interrupted;
        QTest::newRow("unplugged at a chunk") << true << int(B::Unplug) << 0x83 << interrupted;
        const QString stayed = "The Bluetooth module did not return to its application.";
        QTest::newRow("module silent at the return") << true << int(B::Silence) << 0x85 << stayed;
        QTest::newRow("unplugged at the return") << true << int(B::Unplug) << 0x85 << stayed;
        QTest::newRow("module refuses a chunk")
            << true << int(B::ErrorCode) << 0x83 << "WriteAppFlashErr: 9";
    }
    void everyPhaseOfALostKeyboardEndsTheUpdate()
    {
        QFETCH(bool, bluetooth);
        QFETCH(int, kind);
        QFETCH(int, at);
        QFETCH(QString, told);
        Update u(106, bluetooth ? Personality::DualMode : Personality::UsbOnly);
        QVERIFY(u.open());
        QSignalSpy finished(u.flow(), &FirmwareFlow::finished);
        if (bluetooth) {
            sim::BtFault fault;
            fault.kind = sim::BtFaultKind(kind);
            fault.op = at;
            fault.atChunk = at == 0x83 ? 5 : -1;
            fault.count = -1;
            fault.errorCode = 9;
            u.kb->injectBtFault(fault);
            u.start();
        } else {
            u.flow()->setLoaderWaitMs(800); // time to arm the fault first
            u.start();
            sim::LoaderFault fault;
            fault.kind = sim::LoaderFaultKind(kind);
            fault.atPacket = at;
            fault.count = -1;
            sim::SimKeyboard *loader = u.loader();
            QVERIFY(loader);
            loader->injectLoaderFault(fault);
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
        QCOMPARE(finished.first().first().toBool(), false);
        QTest::qWait(50);                                   // a second box would be queued by now
        QCOMPARE(u.f.dialogs.messages.size(), u.boxes + 1); // the user is told once
        QVERIFY2(u.f.dialogs.messages.last().text.startsWith(told),
                 qPrintable(u.f.dialogs.messages.last().text));
        QVERIFY(u.windowUsable());
        QVERIFY(!u.flow()->waitTimer()->isActive());
        QVERIFY(u.w->deviceSession()->scanTimer()->isActive());
        // A keyboard still plugged in keeps (or gets back) its session.
        if (kind != int(sim::BtFaultKind::Unplug) && bluetooth)
            QVERIFY(u.f.waitLoaded());
    }

    // The answer to the run command is not awaited: a loader that stays after
    // it, like one lost in the middle of the image, is found by the scan and
    // offered the update again.
    void aLoaderLeftBehindIsOfferedAgain_data()
    {
        QTest::addColumn<bool>("written");
        QTest::newRow("stays after the run command") << true;
        QTest::newRow("silent in the middle of the image") << false;
    }
    void aLoaderLeftBehindIsOfferedAgain()
    {
        QFETCH(bool, written);
        Update u(108);
        QVERIFY(u.open());
        u.flow()->setLoaderWaitMs(800);
        QSignalSpy finished(u.flow(), &FirmwareFlow::finished);
        u.start();
        sim::SimKeyboard *loader = u.loader();
        QVERIFY(loader);
        sim::LoaderFault fault; // silence
        if (written) {
            fault.kind = sim::LoaderFaultKind::StayInLoader;
            fault.command = 0xAB;
        } else {
            fault.atPacket = 20;
            fault.count = -1;
        }
        loader->injectLoaderFault(fault);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
        QCOMPARE(finished.first().first().toBool(), written);
        QCOMPARE(u.f.dialogs.messages.size(), u.boxes + (written ? 0 : 1));
        QVERIFY(u.windowUsable());
        QTRY_VERIFY(u.w->settingPage()->isWatching()); // the loader must stay
        QVERIFY(u.panel()->startButton()->isEnabled());
        QVERIFY(!u.panel()->backupButton()->isEnabled()); // a loader has nothing to back up
        if (written) {
            u.f.bus.unplug(loader);
            QTRY_VERIFY(!u.w->settingPage()->isWatching());
            QVERIFY(!u.panel()->startButton()->isEnabled());
            QVERIFY(u.w->deviceSession()->scanTimer()->isActive());
            return;
        }
        loader->clearFaults();
        u.start();
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 15000);
        QCOMPARE(finished.last().first().toBool(), true);
        QVERIFY(u.f.waitLoaded());
        QTRY_COMPARE(u.w->deviceSession()->device()->fwVersion(), uint16_t(108));
    }
};

QTEST_MAIN(TestFirmwareFlow)
#include "tst_firmwareflow.moc"

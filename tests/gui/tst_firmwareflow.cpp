// The firmware update from the settings page against the simulated keyboard
// and its boot loader: a package written end to end, refused packages, a
// loader that never comes, and a loader lost in the middle of the image.
#include "device/device.h"
#include "main/devicesession.h"
#include "main/firmwareflow.h"
#include "sessionfixture.h"
#include "setting/firmware.h"
#include "setting/schedule.h"
#include "setting/setting.h"
#include "widget/tablabel.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

using sim::Personality;
using TestSupport::SessionFixture;

namespace {
struct Update
{
    SessionFixture f;
    QTemporaryDir package;
    sim::SimKeyboard *kb = nullptr;
    Lumory *w = nullptr;

    // A package holding one USB image of `version`.
    explicit Update(uint16_t version = 106, Personality personality = Personality::UsbOnly)
    {
        f.bus.setBootLoaderDelayMs(50);
        kb = f.bus.plug(personality);
        TestSupport::writeFile(package.filePath("hx_usb_app_V1.bin"),
                               sim::makeFirmwareImage(version, 3000));
        w = f.start();
        Device::DfuTimeouts t;
        t.answerMs = 300;
        t.eraseMs = 500;
        t.leaveMs = 300;
        t.readSliceMs = 10;
        Device::setDfuTimeouts(t);
    }
    bool open()
    {
        if (!f.waitLoaded())
            return false;
        w->labelPageClickSlot(QStringLiteral("Setting"));
        w->firmwareFlow()->setLoaderWaitMs(300);
        return panel()->startButton() && panel()->pathField()->isEnabled();
    }
    Firmware *panel() const { return w->settingPage()->firmwarePanel(); }
    void start(const QString &dir) const
    {
        panel()->pathField()->setText(dir);
        panel()->startButton()->click();
    }
    bool windowUsable() const
    {
        return !w->firmwareFlow()->isRunning() && w->tabLabels().first()->isEnabled();
    }
};
} // namespace

class TestFirmwareFlow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aPackageIsWrittenAndTheKeyboardComesBack()
    {
        Update u(107);
        QVERIFY(u.open());
        const int boxes = u.f.dialogs.messages.size(); // the version question
        QSignalSpy finished(u.w->firmwareFlow(), &FirmwareFlow::finished);
        QSignalSpy progress(u.w->firmwareFlow(), &FirmwareFlow::progress);
        u.start(u.package.path());
        QVERIFY(u.w->firmwareFlow()->isRunning());
        QVERIFY(!u.w->tabLabels().first()->isEnabled());
        // Exit (tray or menu) is refused while the keyboard is being written.
        u.w->exitAppActionSlot();
        QCOMPARE(u.f.dialogs.messages.size(), boxes + 1);
        QVERIFY(u.w->deviceSession());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
        QCOMPARE(finished.first().first().toBool(), true);
        QCOMPARE(progress.last().first().toInt(), 100);
        for (int i = 1; i < progress.size(); ++i)
            QVERIFY(progress.at(i).first().toInt() >= progress.at(i - 1).first().toInt());
        // The scan finds the keyboard again, running the new firmware, and
        // the settings page shows it.
        QVERIFY(u.f.waitLoaded());
        QTRY_COMPARE(u.w->deviceSession()->device()->fwVersion(), uint16_t(107));
        QTRY_COMPARE(u.w->currentPageName(), QStringLiteral("Setting"));
        QCOMPARE(u.w->settingPage()->firmwareText(), Setting::versionText(107));
        QVERIFY(u.windowUsable());
        QCOMPARE(u.f.dialogs.messages.size(), boxes + 1);
    }

    void refusedPackagesSendNothing_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no image") << "readme.txt" << QByteArray("x");
        QTest::newRow("empty USB image") << "hx_usb_app_V1.bin" << QByteArray();
    }
    void refusedPackagesSendNothing()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, content);
        Update u;
        QVERIFY(u.open());
        QTemporaryDir other;
        TestSupport::writeFile(other.filePath(file), content);
        u.kb->clearReceivedFrames();
        const int boxes = u.f.dialogs.messages.size();
        u.start(other.path());
        QCOMPARE(u.f.dialogs.messages.size(), boxes + 1);
        QVERIFY(u.kb->receivedFrames().isEmpty());
        QVERIFY(u.windowUsable());
        QVERIFY(u.w->deviceSession()->isLoaded());
    }

    void theNineteenthFailedOpenEndsTheUpdate_data()
    {
        QTest::addColumn<int>("failures");
        QTest::newRow("18 failed opens: still waiting") << 18;
        QTest::newRow("19 failed opens: the user is told") << 19;
    }
    void theNineteenthFailedOpenEndsTheUpdate()
    {
        QFETCH(int, failures);
        Update u;
        QVERIFY(u.open());
        u.kb->setBootLoaderAppears(false);
        u.w->firmwareFlow()->setLoaderWaitMs(3600 * 1000); // the test drives the attempts
        QSignalSpy finished(u.w->firmwareFlow(), &FirmwareFlow::finished);
        const int boxes = u.f.dialogs.messages.size();
        u.start(u.package.path());
        QTRY_VERIFY(!u.f.bus.find(Personality::UsbOnly, u.kb->index()));
        for (int i = 0; i < failures; ++i)
            u.w->firmwareFlow()->waitOpenDfuDeviceSolt();
        const bool ended = failures >= FirmwareFlow::kLoaderAttempts;
        QCOMPARE(finished.size(), ended ? 1 : 0);
        QCOMPARE(u.w->firmwareFlow()->isRunning(), !ended);
        QCOMPARE(u.f.dialogs.messages.size(), boxes + (ended ? 1 : 0));
        QCOMPARE(u.w->firmwareFlow()->waitTimer()->isActive(), !ended);
        if (ended)
            QVERIFY(u.windowUsable());
    }

    void everyPhaseOfALostKeyboardEndsTheUpdate_data()
    {
        QTest::addColumn<bool>("bluetooth");
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("at"); // loader packet, or module operation
        QTest::addColumn<int>("chunk");
        // 3000 bytes: synchronisation, erase with the first 48 bytes, 53
        // packets of 56 (the last one padded), then the run command.
        const struct
        {
            const char *name;
            int packet;
        } usb[] = {
            {"sync", 0}, {"erase", 1}, {"first data", 2}, {"middle data", 27}, {"last data", 54}};
        for (const auto &phase : usb) {
            QTest::addRow("loader silent at %s", phase.name)
                << false << int(sim::LoaderFaultKind::Silence) << phase.packet << -1;
            QTest::addRow("loader unplugged at %s", phase.name)
                << false << int(sim::LoaderFaultKind::Unplug) << phase.packet << -1;
        }
        const struct
        {
            const char *name;
            int op;
            int chunk;
        } bt[] = {{"erase", 0x81, -1}, {"chunk", 0x83, 5}, {"return", 0x85, -1}};
        for (const auto &phase : bt) {
            QTest::addRow("module silent at %s", phase.name)
                << true << int(sim::BtFaultKind::Silence) << phase.op << phase.chunk;
            QTest::addRow("keyboard unplugged at module %s", phase.name)
                << true << int(sim::BtFaultKind::Unplug) << phase.op << phase.chunk;
        }
    }
    void everyPhaseOfALostKeyboardEndsTheUpdate()
    {
        QFETCH(bool, bluetooth);
        QFETCH(int, kind);
        QFETCH(int, at);
        QFETCH(int, chunk);
        Update u(106, bluetooth ? Personality::DualMode : Personality::UsbOnly);
        if (bluetooth) {
            TestSupport::writeFile(u.package.filePath("hx_bt_app_V1.bin"),
                                   sim::makeFirmwareImage(106, 1000, 7, 1));
            Device::setBtTimeouts({300, 400, 250, 500, 10});
        }
        QVERIFY(u.open());
        const int boxes = u.f.dialogs.messages.size();
        QSignalSpy finished(u.w->firmwareFlow(), &FirmwareFlow::finished);
        if (bluetooth) {
            sim::BtFault fault;
            fault.kind = sim::BtFaultKind(kind);
            fault.op = at;
            fault.atChunk = chunk;
            fault.count = -1;
            u.kb->injectBtFault(fault);
            u.start(u.package.path());
        } else {
            u.w->firmwareFlow()->setLoaderWaitMs(800); // time to arm the fault first
            u.start(u.package.path());
            sim::SimKeyboard *loader = nullptr;
            QTRY_VERIFY((loader = u.f.bus.find(Personality::BootLoader, u.kb->index())));
            sim::LoaderFault fault;
            fault.kind = sim::LoaderFaultKind(kind);
            fault.atPacket = at;
            fault.count = -1;
            loader->injectLoaderFault(fault);
        }
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(u.f.dialogs.messages.size(), boxes + 1); // the user is told once
        QVERIFY(u.windowUsable());
        QVERIFY(!u.w->firmwareFlow()->waitTimer()->isActive());
        QVERIFY(u.w->deviceSession()->scanTimer()->isActive());
    }

    // The answer to the run command is not awaited: a loader that stays
    // after it is found by the scan and offered the update again.
    void aLoaderThatStaysAfterTheRunCommandIsOfferedAgain_data()
    {
        QTest::addColumn<int>("kind");
        QTest::newRow("run command answered") << int(sim::LoaderFaultKind::StayInLoader);
        QTest::newRow("run command not answered") << int(sim::LoaderFaultKind::Silence);
    }
    void aLoaderThatStaysAfterTheRunCommandIsOfferedAgain()
    {
        QFETCH(int, kind);
        Update u;
        QVERIFY(u.open());
        u.w->firmwareFlow()->setLoaderWaitMs(800);
        QSignalSpy finished(u.w->firmwareFlow(), &FirmwareFlow::finished);
        u.start(u.package.path());
        sim::SimKeyboard *loader = nullptr;
        QTRY_VERIFY((loader = u.f.bus.find(Personality::BootLoader, u.kb->index())));
        sim::LoaderFault stay;
        stay.kind = sim::LoaderFaultKind(kind);
        stay.command = 0xAB;
        loader->injectLoaderFault(stay);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
        QTRY_VERIFY(u.w->settingPage()->isWatching()); // the loader must stay
        QVERIFY(u.panel()->startButton()->isEnabled());
        QVERIFY(u.windowUsable());
        u.f.bus.unplug(loader);
        QTRY_VERIFY(!u.w->settingPage()->isWatching());
        QVERIFY(!u.panel()->startButton()->isEnabled());
        QVERIFY(u.w->deviceSession()->scanTimer()->isActive());
    }

    void aLoaderLostMidImageLeavesTheKeyboardUpdatable()
    {
        Update u(108);
        QVERIFY(u.open());
        const int boxes = u.f.dialogs.messages.size();
        QSignalSpy finished(u.w->firmwareFlow(), &FirmwareFlow::finished);
        u.start(u.package.path());
        sim::SimKeyboard *loader = nullptr;
        QTRY_VERIFY((loader = u.f.bus.find(Personality::BootLoader, u.kb->index())));
        sim::LoaderFault silence;
        silence.kind = sim::LoaderFaultKind::Silence;
        silence.atPacket = 20;
        silence.count = -1;
        loader->injectLoaderFault(silence);
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 15000);
        QCOMPARE(finished.first().first().toBool(), false);
        QCOMPARE(u.f.dialogs.messages.size(), boxes + 1);
        QVERIFY(u.windowUsable());
        // The keyboard waits in its loader: the panel offers the update again.
        loader->clearFaults();
        QTRY_VERIFY(u.panel()->startButton()->isEnabled());
        u.start(u.package.path());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 2, 15000);
        QCOMPARE(finished.last().first().toBool(), true);
        QVERIFY(u.f.waitLoaded());
        QTRY_COMPARE(u.w->deviceSession()->device()->fwVersion(), uint16_t(108));
    }

    void bluetoothImagesGoFirstAndErrorsEndTheUpdate_data()
    {
        QTest::addColumn<bool>("refused");
        QTest::newRow("written") << false;
        QTest::newRow("module refuses the write") << true;
    }
    void bluetoothImagesGoFirstAndErrorsEndTheUpdate()
    {
        QFETCH(bool, refused);
        Update u(109, Personality::DualMode);
        const QByteArray bt = sim::makeFirmwareImage(109, 1000, 7, 1);
        TestSupport::writeFile(u.package.filePath("hx_bt_app_V1.bin"), bt);
        QVERIFY(u.open());
        if (refused) {
            sim::BtFault fault;
            fault.kind = sim::BtFaultKind::ErrorCode;
            fault.op = 0x83;
            fault.errorCode = 9;
            u.kb->injectBtFault(fault);
        }
        const int boxes = u.f.dialogs.messages.size();
        QSignalSpy finished(u.w->firmwareFlow(), &FirmwareFlow::finished);
        u.start(u.package.path());
        QTRY_COMPARE_WITH_TIMEOUT(finished.size(), 1, 20000);
        QCOMPARE(finished.first().first().toBool(), !refused);
        if (refused) {
            // One box with the module's error; the keyboard stays in its session.
            QCOMPARE(u.f.dialogs.messages.size(), boxes + 1);
            QCOMPARE(u.f.dialogs.messages.last().title, QStringLiteral("ErrorCode"));
            QVERIFY(
                u.f.dialogs.messages.last().text.startsWith(QStringLiteral("WriteAppFlashErr: 9")));
            QVERIFY(u.windowUsable());
            QVERIFY(u.w->deviceSession()->isLoaded());
            return;
        }
        QVERIFY(u.f.waitLoaded());
        sim::SimKeyboard *kb = u.f.bus.find(Personality::DualMode, u.kb->index());
        QVERIFY(kb);
        QCOMPARE(kb->btApplicationImage().left(bt.size()), bt);
        QTRY_COMPARE(u.w->deviceSession()->device()->fwVersion(), uint16_t(109));
        QVERIFY(u.windowUsable());
    }
};

QTEST_MAIN(TestFirmwareFlow)
#include "tst_firmwareflow.moc"

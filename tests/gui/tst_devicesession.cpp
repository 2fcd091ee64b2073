// The device session on the simulated bus: discovery, the numbered device
// list, opening and loading, switching, unplugging, load errors, the version
// question and the notification table.
#include "color/color.h"
#include "device/device.h"
#include "device/usb.h"
#include "macro/macro.h"
#include "main/devicesession.h"
#include "main/lightingcontroller.h"
#include "sessionfixture.h"
#include "setting/setting.h"
#include "widget/boardinfo.h"
#include "widget/menutree.h"
#include "widget/tablabel.h"

#include <QAction>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

using sim::Personality;
using TestSupport::SessionFixture;

class TestDeviceSession : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void keyboardIsFoundOpenedAndLoaded()
    {
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        DeviceSession *s = w->deviceSession();
        QCOMPARE(s->usb()->getUsbPath(), kb->path());
        QCOMPARE(s->productName(), QStringLiteral("LLumory K108"));
        QVERIFY(s->currentBoard());
        QCOMPARE(s->currentBoard()->name, QStringLiteral("LLumory K108"));
        QCOMPARE(f.deviceEntries(), QStringList{QStringLiteral("Device 1 · Lumory K108")});
        QVERIFY(w->menuTree()->deviceMenu()->actions().first()->isChecked());
        QCOMPARE(w->settingPage()->productText(), QStringLiteral("Lumory K108"));
        QCOMPARE(w->settingPage()->firmwareText(), QStringLiteral("V1.0.5"));
        QVERIFY(w->settingPage()->layoutEditorButton()->isVisibleTo(w->settingPage()));
        QCOMPARE(w->currentPageName(), QStringLiteral("staticLayout"));
        for (TabLabel *tab : w->tabLabels())
            QVERIFY(tab->isEnabled());
        // The per-keyboard directory exists with its shortcuts file.
        QVERIFY(s->deviceDir().endsWith(QString::fromLatin1(kb->deviceId().toHex()) + '/'));
        QVERIFY(QFile::exists(s->deviceDir() + QStringLiteral("shortcuts.xml")));
        // No version question for an up-to-date keyboard.
        QVERIFY(f.dialogs.messages.isEmpty());

        QString missing;
        QVERIFY2(
            f.logHasInOrder(
                {"Find Normal device.", "Create USB thread.", "usb opened , succeeded!! 监听停止",
                 "loadDevInfoSlot------------------------------",
                 "get device load information finished.", "get device load key code finished.",
                 "Get device load key color succeeded.", "Get device load getKMInfo succeeded.",
                 "Get device load key macro succeeded.", "Get device load key shortcuts succeeded.",
                 "Get device load key LED succeeded.", "Get device load shortcuts succeeded.",
                 "Lumory Device open time ", "setSettingInformation", "Keyboard load finished "},
                &missing),
            qPrintable(missing));
    }

    void lightingAndMacroPagesWaitUntilShown()
    {
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        kb->setMacro(2, "Hi", QByteArray());
        Lumory *w = f.start();
        auto *picture = w->findChild<QLabel *>(QStringLiteral("disconnectedPicture"));
        QVERIFY(!picture->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(f.waitLoaded());
        QVERIFY(picture->pixmap(Qt::ReturnByValue).isNull());
        QVERIFY(!w->findChild<Color *>() && !w->findChild<Macro *>());
        // Meanwhile the colour-map row answers the keyboard's own map change.
        QVERIFY(kb->pressColourMapKey(1));
        const QVector<QPushButton *> &rows = w->lighting()->colourGlobules();
        QTRY_VERIFY(rows.size() > 1 && rows.at(1)->property("selected").toBool());
        // Shown or asked for: built once, for the loaded keyboard.
        for (const char *page : {"Color", "Macro", "Color", "Macro"})
            w->labelPageClickSlot(QString::fromLatin1(page));
        QCOMPARE(w->findChildren<Color *>().size(), 1);
        QCOMPARE(w->findChildren<Macro *>().size(), 1);
        QVERIFY(w->lighting()->page() == w->colorPage());
        QCOMPARE(w->macroPage()->items().size(), 1);
        // Unplugged: the pages go and none is built without a keyboard.
        f.bus.unplug(kb);
        QVERIFY(f.waitClosed());
        QVERIFY(!w->colorPage() && !w->macroPage());
        QTRY_VERIFY(!w->findChild<Color *>() && !w->findChild<Macro *>());
        QVERIFY(!picture->isHidden() && !picture->pixmap(Qt::ReturnByValue).isNull());
    }

    void deviceNumbersFollowPlugging()
    {
        SessionFixture f;
        sim::SimKeyboard *a = f.bus.plug(Personality::DualMode, 0);
        sim::SimKeyboard *b = f.bus.plug(Personality::DualMode, 1);
        const QString pathB = b->path();
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        QCOMPARE(f.deviceEntries(),
                 (QStringList{"Device 1 · Lumory K108", "Device 2 · Lumory K108"}));
        QCOMPARE(w->deviceSession()->usb()->getUsbPath(), a->path());

        // Unplugging the open keyboard frees number 1 and the other one opens.
        f.bus.unplug(a);
        QTRY_COMPARE_WITH_TIMEOUT(f.deviceEntries(), QStringList{"Device 2 · Lumory K108"}, 5000);
        // The list may change before the session has closed the first keyboard.
        QTRY_VERIFY_WITH_TIMEOUT(w->deviceSession()->isLoaded() && w->deviceSession()->usb() &&
                                     w->deviceSession()->usb()->getUsbPath() == pathB,
                                 15000);

        // The next keyboard takes number 1 and is listed before number 2. With
        // a keyboard open the bus is looked at when the menu is about to show.
        sim::SimKeyboard *c = f.bus.plug(Personality::UsbOnly, 2);
        w->menuTree()->deviceMenu()->popup(QPoint());
        w->menuTree()->deviceMenu()->hide();
        QCOMPARE(f.deviceEntries(),
                 (QStringList{"Device 1 · Lumory T88", "Device 2 · Lumory K108"}));
        QCOMPARE(w->menuTree()->getUsbData().value(1).path, c->path());
        QCOMPARE(w->menuTree()->getUsbData().value(2).path, pathB);
        // The open keyboard keeps its check mark.
        QVERIFY(w->menuTree()->getUsbData().value(2).action->isChecked());
        QVERIFY(!w->menuTree()->getUsbData().value(1).action->isChecked());
    }

    void discoveryLooksAtTheBusOncePerTickAndNotWhileOpen()
    {
        SessionFixture f;
        const int before = f.bus.enumerationCount();
        Lumory *w = f.start();
        // The first look comes with the window, and only once.
        const int constructed = before + 1;
        QCOMPARE(f.bus.enumerationCount(), constructed);
        QCoreApplication::processEvents();
        QCOMPARE(f.bus.enumerationCount(), constructed);
        // Nothing there: one look per tick, for the keyboards and the boot
        // loader together.
        QSignalSpy ticks(w->deviceSession()->scanTimer(), &QTimer::timeout);
        QTRY_VERIFY(ticks.count() >= 3);
        QCOMPARE(f.bus.enumerationCount(), constructed + ticks.count());
        // A keyboard open: its unplugging ends its read, nothing polls.
        f.bus.plug(Personality::DualMode);
        QVERIFY(f.waitLoaded());
        const int looks = f.bus.enumerationCount();
        QTest::qWait(1500);
        QCOMPARE(f.bus.enumerationCount(), looks);
    }

    void switchingClosesOneAndOpensTheOther()
    {
        SessionFixture f;
        f.bus.plug(Personality::DualMode, 0);
        sim::SimKeyboard *b = f.bus.plug(Personality::UsbOnly, 1);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        // Choosing the open keyboard only re-checks its entry.
        Usb *usb = w->deviceSession()->usb();
        QAction *entry = w->menuTree()->getUsbData().value(1).action;
        entry->trigger(); // a checkable entry toggles off first
        QVERIFY(entry->isChecked());
        QCOMPARE(w->deviceSession()->usb(), usb);
        QVERIFY(f.logMessages().contains(QStringLiteral("=====相同设备，不切换=====")));
        QVERIFY(!f.logMessages().contains(QStringLiteral("close device.....")));

        const int loads = f.logMessages().filter(QStringLiteral("Keyboard load finished")).size();
        w->menuTree()->getUsbData().value(2).action->trigger();
        QVERIFY(w->deviceSession()->isSwitching());
        QTRY_VERIFY_WITH_TIMEOUT(
            f.logMessages().filter(QStringLiteral("Keyboard load finished")).size() > loads, 15000);
        QCOMPARE(w->deviceSession()->usb()->getUsbPath(), b->path());
        QCOMPARE(w->deviceSession()->productName(), QStringLiteral("LLumory T88"));
        QVERIFY(!w->deviceSession()->isSwitching());
        QVERIFY(w->menuTree()->getUsbData().value(2).action->isChecked());
        QVERIFY(!w->menuTree()->getUsbData().value(1).action->isChecked());
        QString missing;
        QVERIFY2(f.logHasInOrder({"=====切换设备=====", "close device.....",
                                  "0000000000000000000-closeDevice-0000000000000000000",
                                  "Create USB thread."},
                                 &missing),
                 qPrintable(missing));
        // The version question for the older T88 firmware was asked (answered Ok = not Yes).
        QCOMPARE(f.dialogs.messages.size(), 1);
    }

    void unplugWhileLoadingAndWhileIdle()
    {
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        Lumory *w = f.start();
        // Wait until the device model exists, then pull the plug mid-load.
        QTRY_VERIFY_WITH_TIMEOUT(w->deviceSession()->device(), 5000);
        QVERIFY(!w->deviceSession()->isLoaded());
        f.bus.unplug(kb);
        QVERIFY(f.waitClosed());
        QVERIFY(!w->deviceSession()->device());
        QTRY_VERIFY(w->deviceSession()->scanTimer()->isActive());
        QCOMPARE(w->settingPage()->productText(), QStringLiteral("None"));

        // Plugged in again: found and loaded. While a firmware update waits for
        // the keyboard to go away, its leaving does not close it.
        kb = f.bus.plug(Personality::DualMode);
        QVERIFY(f.waitLoaded());
        w->deviceSession()->updateWaitTimer()->start(60000);
        f.bus.unplug(kb);
        QTRY_VERIFY(f.deviceEntries().isEmpty());
        QTest::qWait(100);
        QVERIFY(w->deviceSession()->usb());
        w->deviceSession()->updateWaitTimer()->stop();
        QVERIFY(w->deviceSession()->closeDevice());

        // Plugged in again: found and loaded; then unplugged while idle.
        kb = f.bus.plug(Personality::DualMode);
        QVERIFY(f.waitLoaded());
        f.bus.unplug(kb);
        QVERIFY(f.waitClosed());
        QTRY_VERIFY(f.deviceEntries().isEmpty());
        QCOMPARE(w->settingPage()->productText(), QStringLiteral("None"));
        QVERIFY(!w->settingPage()->factoryResetButton()->isEnabled());
        for (TabLabel *tab : w->tabLabels())
            QVERIFY(tab->isEnabled());
    }

    void silentKeyboardCanStillBeClosed()
    {
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        sim::Fault silent;
        silent.kind = sim::FaultKind::NoAnswer;
        silent.count = -1;
        silent.command = 0x10;
        silent.subCommand = 0x10;
        kb->injectFault(silent);
        Lumory *w = f.start();
        QTRY_VERIFY_WITH_TIMEOUT(w->deviceSession()->device(), 5000);
        QTest::qWait(1200); // inside the getDeviceInfo retry loop
        QVERIFY(!w->deviceSession()->isLoaded());
        QElapsedTimer timer;
        timer.start();
        QVERIFY(w->deviceSession()->closeDevice());
        QVERIFY2(timer.elapsed() < 3000, "closing waited for the silent keyboard");
        QVERIFY(!w->deviceSession()->device());
        QVERIFY(!w->deviceSession()->usb());
    }

    void loadErrorsAreRetriedWhileTheKeyboardIsThere()
    {
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        // The load fails while the keyboard stays present, as when it was
        // unplugged and plugged in again within one device-list tick.
        sim::Fault broken;
        broken.kind = sim::FaultKind::WriteFailure;
        broken.command = 0x20;
        broken.subCommand = 0x00; // getKCInfo
        kb->injectFault(broken);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        QCOMPARE(f.logMessages().filter(QStringLiteral("Device Load Info Error.")).size(), 1);
        for (TabLabel *tab : w->tabLabels())
            QVERIFY(tab->isEnabled());

        // A keyboard that keeps failing is retried a few times, then left
        // alone until it is chosen in the menu (or plugged in again).
        broken.count = -1;
        kb->injectFault(broken);
        w->deviceSession()->reloadDevice();
        QTRY_COMPARE_WITH_TIMEOUT(
            f.logMessages().filter(QStringLiteral("Device Load Info Error.")).size(), 5, 15000);
        QTest::qWait(1500);
        QCOMPARE(f.logMessages().filter(QStringLiteral("Device Load Info Error.")).size(), 5);
        QVERIFY(!w->deviceSession()->usb());
        kb->clearFaults();
        w->menuTree()->getUsbData().value(1).action->trigger();
        QVERIFY(f.waitLoaded());
    }

    void versionQuestion()
    {
        // Older firmware than the catalogue's: asked, and "No" loads the keyboard.
        {
            SessionFixture f;
            f.bus.plug(Personality::UsbOnly); // firmware 1.02, catalogue knows 1.03
            f.dialogs.answers.enqueue(QMessageBox::No);
            f.start();
            QVERIFY(f.waitLoaded());
            QCOMPARE(f.dialogs.messages.size(), 1);
            const Dialogs::MessageRequest &box = f.dialogs.messages.first();
            QCOMPARE(box.title, QStringLiteral("Firmware Update"));
            QCOMPARE(box.text, QStringLiteral("Firmware Version: <font color='red'>v1.02</font> "
                                              "less than <font color='red'>v1.03</font>, "
                                              "Firmware Update you sure!"));
            QCOMPARE(box.buttons, QMessageBox::Yes | QMessageBox::No);
            QCOMPARE(box.defaultButton, QMessageBox::Yes);
        }
        // Newer firmware than the catalogue's is never questioned.
        SessionFixture f;
        const QString config = f.appDir.configFile(QStringLiteral("config.xml"));
        QByteArray xml = TestSupport::readFile(config);
        const int at = xml.indexOf("LLumory K108");
        QVERIFY(at > 0);
        const int fw = xml.indexOf("1.05", at);
        QVERIFY(fw > 0);
        xml.replace(fw, 4, "1.04");
        QVERIFY(TestSupport::writeFile(config, xml));
        f.bus.plug(Personality::DualMode); // firmware 1.05
        f.start();
        QVERIFY(f.waitLoaded());
        QVERIFY(f.dialogs.messages.isEmpty());
    }

    void notificationTable()
    {
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        DeviceSession *s = w->deviceSession();
        QSignalSpy keyMap(s, &DeviceSession::keyMapNotify);
        QSignalSpy colourMap(s, &DeviceSession::colourMapNotify);
        QSignalSpy modeMap(s, &DeviceSession::modeMapNotify);
        QSignalSpy locks(s, &DeviceSession::lockNotify);
        QSignalSpy macro(s, &DeviceSession::macroNotify);
        QSignalSpy function(s, &DeviceSession::keyFunctionNotify);

        kb->sendNotification(0x20, QByteArray("\x00\x02", 2));     // map 2
        kb->sendNotification(0x20, QByteArray("\x00\x01\x00", 3)); // length 3: ignored
        kb->sendNotification(0x20, QByteArray("\x00\x09", 2));     // no button 9: ignored
        kb->sendNotification(0x30, QByteArray("\x00\x01", 2));
        kb->sendNotification(0x60, QByteArray("\x00\x03", 2));
        kb->sendNotification(0x60, QByteArray("\x00\x7f", 2)); // out of range
        kb->sendNotification(0xAA, QByteArray("\x45\x03", 2));
        kb->sendNotification(0xAA, QByteArray("\x45", 1)); // wrong length
        kb->sendNotification(0x21, QByteArray("\x03\x04\x00\x00", 4));
        kb->sendNotification(0x50, QByteArray(10, '\x01'));
        kb->sendNotification(0x77, QByteArray("\x01\x02", 2)); // unknown kind

        QTRY_COMPARE(macro.count(), 1);
        QCOMPARE(keyMap.count(), 1);
        QCOMPARE(keyMap.at(0).at(0).toInt(), 2);
        QCOMPARE(colourMap.count(), 1);
        QCOMPARE(colourMap.at(0).at(0).toInt(), 1);
        QCOMPARE(modeMap.count(), 1);
        QCOMPARE(modeMap.at(0).at(0).toInt(), 3);
        QCOMPARE(function.count(), 1);
        QCOMPARE(function.at(0).at(0).toInt(), 0x45);
        QCOMPARE(function.at(0).at(1).toInt(), 0x03);
        QCOMPARE(locks.count(), 1);
        QCOMPARE(locks.at(0).at(0).toByteArray(), QByteArray("\x03\x04\x00\x00", 4));
        QCOMPARE(macro.at(0).at(0).toByteArray(), QByteArray(10, '\x01'));

        // A length field larger than the frame never reads past it.
        QByteArray raw(64, '\0');
        raw[0] = char(0xF0);
        raw[1] = 0x21;
        raw[2] = char(0xFF);
        raw[3] = char(0x7F);
        kb->sendRawReport(raw);
        QTRY_COMPARE(locks.count(), 2);
        QCOMPARE(locks.at(1).at(0).toByteArray().size(), 56);

        // The keyboard's own layer key.
        QVERIFY(kb->pressLayerKey(1));
        QTRY_COMPARE(keyMap.count(), 2);
        QCOMPARE(keyMap.at(1).at(0).toInt(), 1);
    }

    void catalogueWithoutIdentifiersScansNothing()
    {
        SessionFixture f;
        QVERIFY(TestSupport::writeFile(f.appDir.configFile(QStringLiteral("config.xml")),
                                       "<c><tools_info><usb vid='0' pid='0' iface='1'/>"
                                       "</tools_info></c>"));
        f.bus.plug(Personality::DualMode);
        Lumory *w = f.start();
        QTest::qWait(1500);
        QVERIFY(f.deviceEntries().isEmpty());
        QVERIFY(!w->deviceSession()->usb());
    }

    void dfuKeyboardLeadsToTheSettingsPage()
    {
        SessionFixture f;
        f.bus.plug(Personality::BootLoader);
        Lumory *w = f.start();
        // The first look finds it while the window is built: the settings
        // page is built for it and offers the update.
        QTRY_COMPARE_WITH_TIMEOUT(w->currentPageName(), QStringLiteral("Setting"), 5000);
        QVERIFY(w->settingPage()->isWatching());
        QVERIFY(!w->deviceSession()->usb());
        QVERIFY(f.logMessages().contains(QStringLiteral("Find DFU device.")));
    }
};

QTEST_MAIN(TestDeviceSession)
#include "tst_devicesession.moc"

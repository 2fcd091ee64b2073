// The preferences menu: radio groups, the files they write, language texts,
// start at log-in, the numbered device list, About and Help.
#include "setting/Language.h"
#include "testsupport.h"
#include "widget/infodialog.h"
#include "widget/menutree.h"

#include <QAction>
#include <QFile>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

namespace {

QStringList menuTexts(QMenu *menu)
{
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << action->text();
    return texts;
}

UsbData usb(const QString &path)
{
    UsbData data;
    data.path = path;
    data.vendorId = 0x1209;
    data.productId = 0x0001;
    return data;
}
} // namespace

class TestMenuTree : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layoutChoiceIsARadioGroup()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        Language language;
        MenuTree menu(nullptr);
        QSignalSpy mac(&menu, &MenuTree::emitLayoutVersionMac);
        QSignalSpy win(&menu, &MenuTree::emitLayoutVersionWin);
        QSignalSpy autoSpy(&menu, &MenuTree::emitLayoutVersionAuto);
        const QString file = dir.configFile(QStringLiteral("menutree.xml"));

        menu.winAction()->trigger();
        QVERIFY(menu.winAction()->isChecked());
        QVERIFY(!menu.macAction()->isChecked());
        QVERIFY(!menu.autoAction()->isChecked());
        QCOMPARE(win.count(), 1);
        QVERIFY(TestSupport::readFile(file).contains("MacOS=\"0\" Windows=\"1\" Automatic=\"0\""));

        // Unchecking the checked entry puts the mark back and writes nothing.
        QVERIFY(TestSupport::writeFile(file, "sentinel"));
        menu.winAction()->trigger();
        QVERIFY(menu.winAction()->isChecked());
        QCOMPARE(win.count(), 1);
        QCOMPARE(TestSupport::readFile(file), QByteArray("sentinel"));

        menu.macAction()->trigger();
        QVERIFY(menu.macAction()->isChecked() && !menu.winAction()->isChecked());
        QCOMPARE(mac.count(), 1);
        QCOMPARE(autoSpy.count(), 0);
        QVERIFY(TestSupport::readFile(file).contains("MacOS=\"1\" Windows=\"0\" Automatic=\"0\""));
    }

    void initLayoutVersionEmitsOnlyTheFirstChecked()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        QVERIFY(TestSupport::writeFile(
            dir.configFile(QStringLiteral("menutree.xml")),
            "<COMMAND><setting auto_start='0'/>"
            "<layout_version MacOS='0' Windows='1' Automatic='1'/></COMMAND>"));
        Language language;
        MenuTree menu(nullptr);
        QSignalSpy mac(&menu, &MenuTree::emitLayoutVersionMac);
        QSignalSpy win(&menu, &MenuTree::emitLayoutVersionWin);
        QSignalSpy autoSpy(&menu, &MenuTree::emitLayoutVersionAuto);
        menu.initLayoutVersion();
        QCOMPARE(mac.count(), 0);
        QCOMPARE(win.count(), 1);
        QCOMPARE(autoSpy.count(), 0);
    }

    void languageChoiceAndTexts()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        QVERIFY(TestSupport::writeFile(dir.configFile(QStringLiteral("Language.xml")),
                                       "<COMMAND><Language Language=\"0\"/></COMMAND>"));
        Language language;
        MenuTree menu(nullptr);
        QVERIFY(menu.chineseAction()->isChecked());
        QVERIFY(!menu.englishAction()->isChecked());
        QCOMPARE(menu.powerBootAction()->text(), QStringLiteral("开机启动"));
        QCOMPARE(menu.exitAction()->text(), QStringLiteral("退出"));
        QCOMPARE(menu.deviceMenu()->title(), QStringLiteral("USB 设备"));
        menu.addDeviceAction(usb(QStringLiteral("sim:1-1:1.1")));
        QCOMPARE(menuTexts(menu.deviceMenu()), QStringList{QStringLiteral("设备1")});

        // Unchecking the checked language keeps it.
        menu.chineseAction()->trigger();
        QVERIFY(menu.chineseAction()->isChecked());
        QCOMPARE(language.getLangType(), 0);

        menu.englishAction()->trigger();
        QCOMPARE(language.getLangType(), 1);
        QVERIFY(!menu.chineseAction()->isChecked());
        QVERIFY(menu.englishAction()->isChecked());
        QCOMPARE(menu.powerBootAction()->text(), QStringLiteral("Power Boot"));
        QCOMPARE(menu.checkUpdateAction()->text(), QStringLiteral("Check for update"));
        QCOMPARE(menu.autoAction()->text(), QStringLiteral("Automatic"));
        QCOMPARE(menu.aboutAction()->text(), QStringLiteral("About Lumory"));
        QCOMPARE(menu.deviceMenu()->title(), QStringLiteral("USB Device"));
        QCOMPARE(menuTexts(menu.deviceMenu()), QStringList{QStringLiteral("Device 1")});
        QVERIFY(TestSupport::readFile(dir.configFile(QStringLiteral("Language.xml")))
                    .contains("<Language Language=\"1\"/>"));

        // Main menu order.
        QStringList top;
        for (QAction *action : menu.menu()->actions()) {
            if (!action->isSeparator())
                top << (action->menu() ? action->menu()->title() : action->text());
        }
        QCOMPARE(top, (QStringList{"Setting", "Check for update", "Layout version", "USB Device",
                                   "About Lumory", "语言(Language)", "Help", "Exit"}));
    }

    void powerBootWritesProfileAndFile()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        QVERIFY(TestSupport::writeFile(home.profile(), "export A=1\n"));
        Language language;
        MenuTree menu(nullptr);
        QVERIFY(!menu.isAutoStart());
        menu.powerBootAction()->trigger();
        QVERIFY(menu.isAutoStart());
        QCOMPARE(TestSupport::readFile(home.profile()),
                 QByteArray("export A=1\n/usr/local/Lumory/Lumory /background &\n"));
        QVERIFY(TestSupport::readFile(dir.configFile(QStringLiteral("menutree.xml")))
                    .contains("<setting auto_start=\"1\"/>"));

        // A new menu reads the choice back and keeps exactly one line.
        MenuTree again(nullptr);
        QVERIFY(again.isAutoStart());
        QCOMPARE(TestSupport::readFile(home.profile()),
                 QByteArray("export A=1\n/usr/local/Lumory/Lumory /background &\n"));
        again.powerBootAction()->trigger();
        QCOMPARE(TestSupport::readFile(home.profile()), QByteArray("export A=1\n"));
    }

    void deviceNumbersAreReusedInOrder()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        Language language;
        MenuTree menu(nullptr);
        QSignalSpy chosen(&menu, &MenuTree::ActionTriggered);
        QCOMPARE(menu.getDefault(), 1);
        menu.addDeviceAction(usb(QStringLiteral("a1")));
        menu.addDeviceAction(usb(QStringLiteral("b1")));
        menu.addDeviceAction(usb(QStringLiteral("c1")));
        QCOMPARE(menuTexts(menu.deviceMenu()), (QStringList{"Device 1", "Device 2", "Device 3"}));

        menu.removeDeviceAction(menu.getUsbData().value(1));
        QCOMPARE(menu.getDefault(), 1);
        menu.removeDeviceAction(menu.getUsbData().value(3));
        QCOMPARE(menu.getDefault(), 1); // first freed number in list order
        QCOMPARE(menuTexts(menu.deviceMenu()), QStringList{"Device 2"});

        menu.addDeviceAction(usb(QStringLiteral("d1")));
        QCOMPARE(menuTexts(menu.deviceMenu()), (QStringList{"Device 1", "Device 2"}));
        QCOMPARE(menu.getUsbData().value(1).path, QStringLiteral("d1"));
        QCOMPARE(menu.getDefault(), 3);
        menu.addDeviceAction(usb(QStringLiteral("e1")));
        QCOMPARE(menuTexts(menu.deviceMenu()), (QStringList{"Device 1", "Device 2", "Device 3"}));
        QCOMPARE(menu.getDefault(), 4);

        menu.setOpenAction(QStringLiteral("b1"));
        QList<bool> checks;
        for (QAction *action : menu.deviceMenu()->actions())
            checks << action->isChecked();
        QCOMPARE(checks, (QList<bool>{false, true, false}));
        menu.setOpenAction(QStringLiteral("unknown"));
        QVERIFY(menu.getUsbData().value(2).action->isChecked());

        menu.getUsbData().value(3).action->trigger();
        QCOMPARE(chosen.count(), 1);
        const UsbData picked = chosen.at(0).at(0).value<UsbData>();
        QCOMPARE(picked.path, QStringLiteral("e1"));
        QCOMPARE(picked.number, 3);

        menu.setActionEnabled(false);
        for (QAction *action : menu.deviceMenu()->actions())
            QVERIFY(!action->isEnabled());

        menu.clearDeviceAction();
        QVERIFY(menu.deviceMenu()->actions().isEmpty());
        QVERIFY(menu.getUsbData().isEmpty());
        QCOMPARE(menu.getDefault(), 1);
    }

    void aboutAndHelpShowTheirFiles()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        TestSupport::DialogRecorder dialogs;
        Language language;
        MenuTree menu(nullptr);
        QSignalSpy exit(&menu, &MenuTree::emitMainExit);
        menu.aboutAction()->trigger();
        menu.helpAction()->trigger();
        QCOMPARE(dialogs.execDialogs,
                 (QStringList{QStringLiteral("aboutDialog"), QStringLiteral("helpDialog")}));
        menu.exitAction()->trigger();
        QCOMPARE(exit.count(), 1);

        InfoDialog english(InfoDialog::About, 1);
        QCOMPARE(english.titleText(), QStringLiteral("About Lumory"));
        QVERIFY(english.bodyHtml().contains(QStringLiteral("configures your mechanical keyboard")));
        InfoDialog chinese(InfoDialog::Help, 0);
        QCOMPARE(chinese.titleText(), QStringLiteral("Lumory 帮助"));
        QVERIFY(!chinese.bodyHtml().contains(QStringLiteral("Plug the keyboard")));
    }
};

QTEST_MAIN(TestMenuTree)
#include "tst_menutree.moc"

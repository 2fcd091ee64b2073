// The preferences menu: radio groups and the file they write, language texts,
// start at log-in, the numbered device list, About, Help and Exit.
#include "setting/Language.h"
#include "testsupport.h"
#include "widget/menutree.h"

#include <QAction>
#include <QMenu>
#include <QSignalSpy>
#include <QtTest>

namespace {
QStringList menuTexts(QMenu *menu)
{
    QStringList texts;
    for (QAction *action : menu->actions())
        texts << (action->menu() ? action->menu()->title() : action->text());
    texts.removeAll(QString()); // separators
    return texts;
}

UsbData usb(const QString &path)
{
    UsbData data;
    data.path = path;
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
        const QString file = dir.configFile(QStringLiteral("menutree.xml"));
        QVERIFY(TestSupport::writeFile(
            file, "<COMMAND><setting auto_start='0'/>"
                  "<layout_version MacOS='0' Windows='1' Automatic='1'/></COMMAND>"));
        Language language;
        MenuTree menu(nullptr);
        QSignalSpy mac(&menu, &MenuTree::emitLayoutVersionMac);
        QSignalSpy win(&menu, &MenuTree::emitLayoutVersionWin);
        QSignalSpy autoSpy(&menu, &MenuTree::emitLayoutVersionAuto);
        menu.initLayoutVersion(); // only the first checked entry counts
        QCOMPARE((QList<int>{mac.count(), win.count(), autoSpy.count()}), (QList<int>{0, 1, 0}));

        menu.macAction()->trigger();
        QVERIFY(menu.macAction()->isChecked() && !menu.winAction()->isChecked() &&
                !menu.autoAction()->isChecked());
        QCOMPARE(mac.count(), 1);
        QVERIFY(TestSupport::readFile(file).contains("MacOS=\"1\" Windows=\"0\" Automatic=\"0\""));
        // Unchecking the checked entry puts the mark back and writes nothing.
        QVERIFY(TestSupport::writeFile(file, "sentinel"));
        menu.macAction()->trigger();
        QVERIFY(menu.macAction()->isChecked());
        QCOMPARE(mac.count(), 1);
        QCOMPARE(TestSupport::readFile(file), QByteArray("sentinel"));
    }

    void languageStartAtLogInDialogsAndDevices()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        TestSupport::DialogRecorder dialogs;
        QVERIFY(TestSupport::writeFile(dir.configFile(QStringLiteral("Language.xml")),
                                       "<COMMAND><Language Language=\"0\"/></COMMAND>"));
        QVERIFY(TestSupport::writeFile(home.profile(), "export A=1\n"));
        Language language;
        MenuTree menu(nullptr);
        QVERIFY(menu.chineseAction()->isChecked() && !menu.englishAction()->isChecked());
        menu.addDeviceAction(usb(QStringLiteral("sim:1-1:1.1")));
        QCOMPARE(menu.exitAction()->text(), QStringLiteral("退出"));
        QCOMPARE(menuTexts(menu.deviceMenu()), QStringList{QStringLiteral("设备1")});

        menu.chineseAction()->trigger(); // unchecking the checked language keeps it
        QCOMPARE(language.getLangType(), 0);
        menu.englishAction()->trigger();
        QCOMPARE(language.getLangType(), 1);
        QVERIFY(!menu.chineseAction()->isChecked() && menu.englishAction()->isChecked());
        QCOMPARE(menuTexts(menu.menu()),
                 (QStringList{"Setting", "Check for update", "Layout version", "USB Device",
                              "Back up keyboard…", "Restore keyboard…", "About Lumory",
                              "语言(Language)", "Help", "Exit"}));
        QCOMPARE(menuTexts(menu.deviceMenu()), QStringList{QStringLiteral("Device 1")});
        QVERIFY(TestSupport::readFile(dir.configFile(QStringLiteral("Language.xml")))
                    .contains("<Language Language=\"1\"/>"));

        // Start at log-in: one line in ~/.profile, the choice in menutree.xml.
        const QByteArray line = "/usr/local/Lumory/Lumory /background &\n";
        QVERIFY(!menu.isAutoStart());
        menu.powerBootAction()->trigger();
        QVERIFY(menu.isAutoStart());
        QCOMPARE(TestSupport::readFile(home.profile()), "export A=1\n" + line);
        QVERIFY(TestSupport::readFile(dir.configFile(QStringLiteral("menutree.xml")))
                    .contains("<setting auto_start=\"1\"/>"));
        menu.powerBootAction()->trigger();
        QCOMPARE(TestSupport::readFile(home.profile()), QByteArray("export A=1\n"));

        // About and Help are modal dialogs; Exit is the main window's.
        QSignalSpy exit(&menu, &MenuTree::emitMainExit);
        menu.aboutAction()->trigger();
        menu.helpAction()->trigger();
        QCOMPARE(dialogs.execDialogs, (QStringList{"aboutDialog", "helpDialog"}));
        menu.exitAction()->trigger();
        QCOMPARE(exit.count(), 1);

        // Device numbers: the first freed number in list order is taken again.
        qRegisterMetaType<UsbData>();
        QSignalSpy chosen(&menu, &MenuTree::ActionTriggered);
        menu.clearDeviceAction();
        QVERIFY(menu.deviceMenu()->actions().isEmpty() && menu.getUsbData().isEmpty());
        for (const char *path : {"a1", "b1", "c1"})
            menu.addDeviceAction(usb(QLatin1String(path)));
        menu.removeDeviceAction(menu.getUsbData().value(1));
        menu.removeDeviceAction(menu.getUsbData().value(3));
        QCOMPARE(menu.getDefault(), 1);
        menu.addDeviceAction(usb(QStringLiteral("d1")));
        QCOMPARE(menu.getDefault(), 3);
        menu.addDeviceAction(usb(QStringLiteral("e1")));
        QCOMPARE(menuTexts(menu.deviceMenu()), (QStringList{"Device 1", "Device 2", "Device 3"}));
        QCOMPARE(menu.getUsbData().value(1).path, QStringLiteral("d1"));

        menu.setOpenAction(QStringLiteral("b1"));
        menu.setOpenAction(QStringLiteral("unknown")); // changes nothing
        QList<bool> checks;
        for (QAction *action : menu.deviceMenu()->actions())
            checks << action->isChecked();
        QCOMPARE(checks, (QList<bool>{false, true, false}));
        menu.getUsbData().value(3).action->trigger();
        QCOMPARE(chosen.count(), 1);
        const UsbData picked = chosen.at(0).at(0).value<UsbData>();
        QVERIFY(picked.path == QStringLiteral("e1") && picked.number == 3);
        menu.setActionEnabled(false);
        for (QAction *action : menu.deviceMenu()->actions())
            QVERIFY(!action->isEnabled());
    }
};

QTEST_MAIN(TestMenuTree)
#include "tst_menutree.moc"

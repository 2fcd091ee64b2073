// The main window: construction, page tabs, starting hidden at log-in, and
// the staged exit sequence with its log lines.
#include "main/loghandler.h"
#include "main/lumory.h"
#include "testsupport.h"
#include "widget/menutree.h"
#include "widget/tablabel.h"

#include <QAction>
#include <QFile>
#include <QtTest>

namespace {

void enableAutoStart(const TestSupport::ScratchAppDir &dir)
{
    QVERIFY(
        TestSupport::writeFile(dir.configFile(QStringLiteral("menutree.xml")),
                               "<COMMAND><setting auto_start='1'/>"
                               "<layout_version MacOS='0' Windows='0' Automatic='1'/></COMMAND>"));
}

QString todaysLog(const TestSupport::ScratchAppDir &dir)
{
    return dir.path() + QDate::currentDate().toString(QStringLiteral("/log/yyyy-MM-dd.txt"));
}

// The messages of the log file, without time, level and source.
QStringList logMessages(const QString &path)
{
    QStringList messages;
    for (const QString &line : TestSupport::readLines(path)) {
        const int at = line.indexOf(QStringLiteral("): "));
        messages << (at >= 0 ? line.mid(at + 3) : line);
    }
    return messages;
}
} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup()
    {
        Lumory::setTrayAvailableOverride(-1);
        LogHandler::instance().release();
        QGuiApplication::setQuitOnLastWindowClosed(false);
    }

    void buildsFiveTabsInOrder()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        Lumory window(nullptr, QStringLiteral("None"));
        QStringList texts;
        QStringList pages;
        for (TabLabel *label : window.tabLabels()) {
            texts << label->text();
            pages << label->pageName();
        }
        QCOMPARE(texts, (QStringList{"KEY", "COLOR", "SHORTCUTS", "MACRO", "SETTING"}));
        QCOMPARE(pages, (QStringList{"staticLayout", "Color", "Shortcuts", "Macro", "Setting"}));
        QVERIFY(window.initLock());
        QCOMPARE(window.currentPageName(), QStringLiteral("staticLayout"));
        window.labelPageClickSlot(QStringLiteral("Setting"));
        QCOMPARE(window.currentPageName(), QStringLiteral("Setting"));
        QVERIFY(window.tabLabels().last()->isSelected());
        QVERIFY(!window.tabLabels().first()->isSelected());
        QVERIFY(QFile::exists(todaysLog(dir)));

        // The language follows the menu.
        window.menuTree()->chineseAction()->trigger();
        texts.clear();
        for (TabLabel *label : window.tabLabels())
            texts << label->text();
        QCOMPARE(texts, (QStringList{"键值", "颜色", "快捷键", "宏", "设置"}));
        QCOMPARE(window.trayExitAction()->text(), QStringLiteral("退出"));
    }

    void backgroundStartHidesToTheTray()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        enableAutoStart(dir);
        Lumory::setTrayAvailableOverride(1);
        Lumory window(nullptr, QStringLiteral("/background"));
        window.show();
        QTRY_VERIFY(window.isHidden());
        window.mainShow();
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
    }

    void backgroundStartWithoutTrayMinimises()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        enableAutoStart(dir);
        Lumory::setTrayAvailableOverride(0);
        Lumory window(nullptr, QStringLiteral("/background"));
        window.show();
        QTRY_VERIFY(window.isMinimized());
        QVERIFY(window.isVisible());
        // Neither the close button nor "Minimize" hides it to a missing tray.
        window.mainShow();
        window.mainHide();
        QTRY_VERIFY(window.isMinimized());
        QVERIFY(window.isVisible());
    }

    void backgroundWithoutAutoStartShowsNormally()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        Lumory::setTrayAvailableOverride(1);
        Lumory window(nullptr, QStringLiteral("/background"));
        window.show();
        QTest::qWait(50);
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
    }

    void exitSequenceLogsItsStagesInOrder()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        Lumory::setTrayAvailableOverride(1);
        auto *window = new Lumory(nullptr, QStringLiteral("None"));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->trayExitAction()->trigger();
        QVERIFY(window->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(!LogHandler::instance().isInstalled(), 5000);
        delete window;

        const QStringList messages = logMessages(todaysLog(dir));
        const QStringList expected = {
            QStringLiteral("close device....."),
            QStringLiteral("0000000000000000000-closeDevice-0000000000000000000"),
            QStringLiteral("delete close device finish."),
            QStringLiteral("quit countdown 1"),
            QStringLiteral("quit countdown 0"),
            QStringLiteral("delete static dialog finish."),
            QStringLiteral("delete menu tree finished."),
            QStringLiteral("delete synmic keyBtn finish."),
            QStringLiteral("delete static keyBtn finish."),
            QStringLiteral("Lumory quit."),
            QStringLiteral("colseEvent()"),
            QStringLiteral("0000000000000000000-normal quit-0000000000000000000"),
            QStringLiteral("0000000000000000000-closeEvent-0000000000000000000"),
        };
        int from = 0;
        for (const QString &want : expected) {
            int found = -1;
            for (int i = from; i < messages.size(); ++i) {
                if (messages.at(i).startsWith(want)) {
                    found = i;
                    break;
                }
            }
            QVERIFY2(found >= 0, qPrintable(QStringLiteral("missing in order: ") + want));
            from = found + 1;
        }
        // The close event is the last line written.
        QCOMPARE(messages.last(),
                 QStringLiteral("0000000000000000000-closeEvent-0000000000000000000"));
        QVERIFY(
            QRegularExpression(QStringLiteral(R"(^Lumory quit\. \d{4}-\d\d-\d\d \d\d:\d\d:\d\d$)"))
                .match(messages.filter(QStringLiteral("Lumory quit.")).first())
                .hasMatch());
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"

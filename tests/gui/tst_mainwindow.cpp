// The main window: construction, page tabs, starting hidden at log-in, and
// the staged exit sequence with its log lines.
#include "globalHook/qxtglobalshortcut.h"
#include "main/loghandler.h"
#include "main/lumory.h"
#include "testsupport.h"
#include "widget/menutree.h"
#include "widget/tablabel.h"

#include <QAction>
#include <QtTest>

namespace {

void enableAutoStart(const TestSupport::ScratchAppDir &dir)
{
    QVERIFY(
        TestSupport::writeFile(dir.configFile(QStringLiteral("menutree.xml")),
                               "<COMMAND><setting auto_start='1'/>"
                               "<layout_version MacOS='0' Windows='0' Automatic='1'/></COMMAND>"));
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
        QVERIFY(!TestSupport::logMessages(dir.path()).isEmpty());

        // The language follows the menu.
        window.menuTree()->chineseAction()->trigger();
        texts.clear();
        for (TabLabel *label : window.tabLabels())
            texts << label->text();
        QCOMPARE(texts, (QStringList{"键值", "颜色", "快捷键", "宏", "设置"}));
        QCOMPARE(window.trayExitAction()->text(), QStringLiteral("退出"));
    }

    void backgroundStart_data()
    {
        QTest::addColumn<bool>("autoStart");
        QTest::addColumn<bool>("tray");
        QTest::newRow("at log-in, tray: hidden") << true << true;
        QTest::newRow("at log-in, no tray: minimised") << true << false;
        QTest::newRow("not at log-in: shown") << false << true;
    }

    void backgroundStart()
    {
        QFETCH(bool, autoStart);
        QFETCH(bool, tray);
        TestSupport::ScratchAppDir dir;
        TestSupport::ScopedHome home;
        if (autoStart)
            enableAutoStart(dir);
        Lumory::setTrayAvailableOverride(tray ? 1 : 0);
        Lumory window(nullptr, QStringLiteral("/background"));
        window.show();
        if (!autoStart) {
            QTest::qWait(50);
            QVERIFY(window.isVisible() && !window.isMinimized());
            return;
        }
        if (tray) {
            QTRY_VERIFY(window.isHidden());
            window.mainShow();
            QVERIFY(window.isVisible() && !window.isMinimized());
            return;
        }
        QTRY_VERIFY(window.isMinimized());
        QVERIFY(window.isVisible());
        QVERIFY(!window.trayIcon()->isVisible());
        // Neither the close button nor "Minimize" hides it to a missing tray.
        window.mainShow();
        window.mainHide();
        QTRY_VERIFY(window.isMinimized());
        QVERIFY(window.isVisible());
        // A panel that starts after the program: the icon appears with its
        // tray, and from then on the window can hide to it.
        Lumory::setTrayAvailableOverride(1);
        QTRY_VERIFY_WITH_TIMEOUT(window.trayIcon()->isVisible(), 5000);
        window.mainShow();
        window.mainHide();
        QTRY_VERIFY(window.isHidden());
    }

    void globalShortcutWithoutX11IsSkippedOnce()
    {
        // Offscreen (as on Wayland): setShortcut() fails, the program goes on,
        // and the log says so once.
        static QStringList messages;
        messages.clear();
        const QtMessageHandler previous = qInstallMessageHandler(
            [](QtMsgType, const QMessageLogContext &, const QString &m) { messages << m; });
        {
            QxtGlobalShortcut first(QKeySequence(QStringLiteral("Ctrl+D")));
            QxtGlobalShortcut second;
            const bool registered = second.setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
            qInstallMessageHandler(previous);
            QVERIFY(!registered && first.shortcut().isEmpty() && second.shortcut().isEmpty());
        }
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages.first().contains(QStringLiteral("global shortcut disabled")));
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

        const QStringList messages = TestSupport::logMessages(dir.path());
        QString missing;
        QVERIFY2(
            TestSupport::hasInOrder(
                messages,
                {"close device.....", "0000000000000000000-closeDevice-0000000000000000000",
                 "delete close device finish.", "quit countdown 1", "quit countdown 0",
                 "delete static dialog finish.", "delete menu tree finished.",
                 "delete synmic keyBtn finish.", "delete static keyBtn finish.", "Lumory quit.",
                 "colseEvent()", "0000000000000000000-normal quit-0000000000000000000",
                 "0000000000000000000-closeEvent-0000000000000000000"},
                &missing),
            qPrintable(missing));
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

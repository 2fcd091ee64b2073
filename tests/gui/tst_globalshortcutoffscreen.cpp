// Without an X display the hot key is skipped: setShortcut() fails, the
// program goes on, and the log says so once.
#include "globalHook/qxtglobalshortcut.h"

#include <QApplication>
#include <QtTest>

namespace {
QStringList s_messages;
void collect(QtMsgType, const QMessageLogContext &, const QString &message)
{
    s_messages << message;
}
} // namespace

class TestGlobalShortcutOffscreen : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void skippedWithOneLogLine()
    {
        QtMessageHandler previous = qInstallMessageHandler(&collect);
        {
            QxtGlobalShortcut first(QKeySequence(QStringLiteral("Ctrl+D")));
            QxtGlobalShortcut second;
            const bool registered = second.setShortcut(QKeySequence(QStringLiteral("Ctrl+E")));
            second.setEnabled(false);
            qInstallMessageHandler(previous);
            QVERIFY(!registered);
            QVERIFY(first.shortcut().isEmpty());
            QVERIFY(second.shortcut().isEmpty());
        }
        QCOMPARE(s_messages.size(), 1);
        QVERIFY2(s_messages.first().contains(QStringLiteral("global shortcut disabled")),
                 qPrintable(s_messages.first()));
    }
};

QTEST_MAIN(TestGlobalShortcutOffscreen)
#include "tst_globalshortcutoffscreen.moc"

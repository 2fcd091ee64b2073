// The log handler: line format, level words, daily files, rotation over
// midnight, pruning to ten files, and concurrent writers.
#include "main/loghandler.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

using TestSupport::readLines;

class TestLogHandler : public QObject
{
    Q_OBJECT

private:
    QDateTime m_now;
    void setNow(const QDateTime &now)
    {
        m_now = now;
        LogHandler::setClock([this] { return m_now; });
    }
    static QString logFile(const TestSupport::ScratchAppDir &dir, const QDate &date)
    {
        return dir.path() + date.toString(QStringLiteral("/log/yyyy-MM-dd.txt"));
    }

private Q_SLOTS:
    void cleanup()
    {
        LogHandler::instance().release();
        LogHandler::setClock({});
    }

    void levelWordsAreFiveCharacters()
    {
        QCOMPARE(LogHandlerPrivate::levelWord(QtDebugMsg), QStringLiteral("Debug"));
        QCOMPARE(LogHandlerPrivate::levelWord(QtInfoMsg), QStringLiteral("Info "));
        QCOMPARE(LogHandlerPrivate::levelWord(QtWarningMsg), QStringLiteral("Warn "));
        QCOMPARE(LogHandlerPrivate::levelWord(QtCriticalMsg), QStringLiteral("Error"));
        QCOMPARE(LogHandlerPrivate::levelWord(QtFatalMsg), QStringLiteral("Fatal"));
    }

    void lineFormatStripsDirectories()
    {
        QMessageLogContext context("/home/dev/src/device/usb.cpp", 42, "void f()", "default");
        QCOMPARE(LogHandlerPrivate::formatLine(QTime(9, 5, 7), QtWarningMsg, context,
                                               QStringLiteral("hid write failed")),
                 QStringLiteral("09:05:07 - [Warn ] (usb.cpp:42): hid write failed\n"));
        QMessageLogContext bare;
        QCOMPARE(LogHandlerPrivate::formatLine(QTime(23, 0, 0), QtCriticalMsg, bare,
                                               QStringLiteral("x")),
                 QStringLiteral("23:00:00 - [Error] (:0): x\n"));
    }

    void writesTodaysFileAndAppendsOnRestart()
    {
        TestSupport::ScratchAppDir dir(false);
        setNow(QDateTime(QDate(2026, 3, 1), QTime(10, 20, 30)));
        LogHandler::instance().installMessageHandler();
        LogHandler::instance().installMessageHandler(); // second call does nothing
        qWarning() << "first run";
        qCritical() << "a critical one";
        LogHandler::instance().release();

        setNow(QDateTime(QDate(2026, 3, 1), QTime(18, 0, 0)));
        LogHandler::instance().installMessageHandler();
        qInfo() << "second run";
        LogHandler::instance().release();

        const QStringList lines = readLines(logFile(dir, QDate(2026, 3, 1)));
        QCOMPARE(lines.size(), 3);
        const QRegularExpression format(QStringLiteral(
            R"(^\d\d:\d\d:\d\d - \[(Debug|Info |Warn |Error|Fatal)\] \(tst_loghandler\.cpp:\d+\): .*$)"));
        for (const QString &line : lines)
            QVERIFY2(format.match(line).hasMatch(), qPrintable(line));
        QVERIFY(lines.at(0).startsWith(QStringLiteral("10:20:30 - [Warn ]")));
        QVERIFY(lines.at(0).endsWith(QStringLiteral("first run")));
        QVERIFY(lines.at(1).contains(QStringLiteral("[Error]")));
        QVERIFY(lines.at(2).startsWith(QStringLiteral("18:00:00 - [Info ]")));
    }

    void rotatesAtTheCheckAfterMidnight()
    {
        TestSupport::ScratchAppDir dir(false);
        const QDate day1(2026, 3, 1);
        const QDate day2(2026, 3, 2);
        setNow(QDateTime(day1, QTime(23, 55, 0)));
        LogHandler::instance().installMessageHandler();
        qDebug() << "before midnight";

        // Past midnight but before the ten-minute check: still yesterday's file.
        setNow(QDateTime(day2, QTime(0, 1, 0)));
        qDebug() << "after midnight, before the check";
        LogHandler::instance().flush();
        const QByteArray day1Before = [&] {
            QFile f(logFile(dir, day1));
            f.open(QIODevice::ReadOnly);
            return f.readAll();
        }();
        QVERIFY(!QFile::exists(logFile(dir, day2)));

        LogHandler::instance().checkLogFile();
        qDebug() << "after the check";
        LogHandler::instance().release();

        QFile f(logFile(dir, day1));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), day1Before); // closed untouched
        const QStringList lines1 = readLines(logFile(dir, day1));
        QCOMPARE(lines1.size(), 2);
        QVERIFY(lines1.at(1).endsWith(QStringLiteral("after midnight, before the check")));
        const QStringList lines2 = readLines(logFile(dir, day2));
        QCOMPARE(lines2.size(), 1);
        QVERIFY(lines2.at(0).endsWith(QStringLiteral("after the check")));
    }

    void prunesOneFilePerPass()
    {
        TestSupport::ScratchAppDir dir(false);
        QDir().mkpath(dir.path() + QStringLiteral("/log"));
        // Ten old files plus today's makes eleven.
        for (int day = 1; day <= 10; ++day) {
            QFile f(logFile(dir, QDate(2026, 1, day)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QFile other(dir.path() + QStringLiteral("/log/notes.md"));
        QVERIFY(other.open(QIODevice::WriteOnly));
        other.close();

        setNow(QDateTime(QDate(2026, 2, 1), QTime(12, 0, 0)));
        LogHandler::instance().installMessageHandler();
        QVERIFY(!QFile::exists(logFile(dir, QDate(2026, 1, 1))));
        QVERIFY(QFile::exists(logFile(dir, QDate(2026, 1, 2))));
        QVERIFY(QFile::exists(other.fileName()));

        // Ten left: nothing more goes.
        LogHandler::instance().checkLogFile();
        QVERIFY(QFile::exists(logFile(dir, QDate(2026, 1, 2))));

        // Two more appear: each pass removes only the first by name.
        for (int day = 20; day <= 21; ++day) {
            QFile f(logFile(dir, QDate(2026, 1, day)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        LogHandler::instance().checkLogFile();
        QVERIFY(!QFile::exists(logFile(dir, QDate(2026, 1, 2))));
        QVERIFY(QFile::exists(logFile(dir, QDate(2026, 1, 3))));
        LogHandler::instance().checkLogFile();
        QVERIFY(!QFile::exists(logFile(dir, QDate(2026, 1, 3))));
        QVERIFY(QFile::exists(logFile(dir, QDate(2026, 1, 4))));
        QCOMPARE(QDir(dir.path() + QStringLiteral("/log"))
                     .entryList({QStringLiteral("*.txt")}, QDir::Files)
                     .size(),
                 10);
    }

    void concurrentWritersNeverInterleave()
    {
        TestSupport::ScratchAppDir dir(false);
        setNow(QDateTime(QDate(2026, 3, 1), QTime(8, 0, 0)));
        LogHandler::instance().installMessageHandler();
        constexpr int kThreads = 4;
        constexpr int kLines = 300;
        QList<QThread *> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads << QThread::create([t] {
                for (int i = 0; i < kLines; ++i)
                    qDebug().noquote() << QStringLiteral("thread %1 line %2 end").arg(t).arg(i);
            });
        }
        for (QThread *thread : threads)
            thread->start();
        for (QThread *thread : threads) {
            thread->wait();
            delete thread;
        }
        LogHandler::instance().release();
        const QStringList lines = readLines(logFile(dir, QDate(2026, 3, 1)));
        QCOMPARE(lines.size(), kThreads * kLines);
        const QRegularExpression format(QStringLiteral(
            R"(^08:00:00 - \[Debug\] \(tst_loghandler\.cpp:\d+\): thread \d line \d+ end$)"));
        for (const QString &line : lines)
            QVERIFY2(format.match(line).hasMatch(), qPrintable(line));
    }

    void unwritableLogDirectoryFallsBackToStdout()
    {
        TestSupport::ScratchAppDir dir(false);
        // A file where the log directory should be.
        QFile blocker(dir.path() + QStringLiteral("/log"));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        LogHandler::instance().installMessageHandler();
        qWarning() << "still fine";
        QVERIFY(LogHandler::instance().currentFileName().isEmpty());
        LogHandler::instance().checkLogFile();
        LogHandler::instance().release();
    }
};

QTEST_GUILESS_MAIN(TestLogHandler)
#include "tst_loghandler.moc"

// The log handler: line format, daily files, rotation over midnight, pruning
// to ten files, concurrent writers, and the flush that follows written lines.
#include "main/loghandler.h"
#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>
#include <QtTest>

#include <memory>
#include <vector>

using TestSupport::readLines;

class TestLogHandler : public QObject
{
    Q_OBJECT

private:
    QDateTime m_now;
    void setNow(const QDate &date, const QTime &time)
    {
        m_now = QDateTime(date, time);
        LogHandler::setClock([this] { return m_now; });
    }
    static QString logFile(const TestSupport::ScratchAppDir &dir, const QDate &date)
    {
        return dir.path() + date.toString(QStringLiteral("/log/yyyy-MM-dd.txt"));
    }
    static void touch(const QString &path) { QVERIFY(TestSupport::writeFile(path, "")); }

private Q_SLOTS:
    void cleanup()
    {
        LogHandler::instance().release();
        LogHandler::setClock({});
    }

    void writesTodaysFileAndAppendsOnRestart()
    {
        TestSupport::ScratchAppDir dir(false);
        const QDate day(2026, 3, 1);
        setNow(day, QTime(10, 20, 30));
        LogHandler::instance().installMessageHandler();
        LogHandler::instance().installMessageHandler(); // second call does nothing
        qWarning() << "first run";
        qCritical() << "a critical one";
        LogHandler::instance().release();

        setNow(day, QTime(18, 0, 0));
        LogHandler::instance().installMessageHandler();
        qInfo() << "second run";
        qDebug() << "and a debug line";
        LogHandler::instance().release();

        // Time, a five-letter level, the source file without its directories.
        QStringList lines = readLines(logFile(dir, day));
        lines.replaceInStrings(QRegularExpression(QStringLiteral(R"(\.cpp:\d+\): )")), ".cpp:N): ");
        QCOMPARE(lines,
                 (QStringList{"10:20:30 - [Warn ] (tst_loghandler.cpp:N): first run",
                              "10:20:30 - [Error] (tst_loghandler.cpp:N): a critical one",
                              "18:00:00 - [Info ] (tst_loghandler.cpp:N): second run",
                              "18:00:00 - [Debug] (tst_loghandler.cpp:N): and a debug line"}));
    }

    void rotatesAtTheCheckAfterMidnightAndPrunesOneFilePerPass()
    {
        TestSupport::ScratchAppDir dir(false);
        QDir().mkpath(dir.path() + QStringLiteral("/log"));
        // Nine old files, another file, and the two days' files make twelve.
        for (int day = 1; day <= 9; ++day)
            touch(logFile(dir, QDate(2026, 1, day)));
        touch(dir.path() + QStringLiteral("/log/notes.md"));
        auto left = [&] {
            return QDir(dir.path() + QStringLiteral("/log")).entryList(QDir::Files).join(' ');
        };
        const QDate day1(2026, 3, 1);
        const QDate day2(2026, 3, 2);
        setNow(day1, QTime(23, 55, 0));
        LogHandler::instance().installMessageHandler();
        qDebug() << "before midnight";
        QVERIFY(left().startsWith(QStringLiteral("2026-01-01.txt"))); // ten: nothing goes
        // Past midnight but before the ten-minute check: still yesterday's file.
        setNow(day2, QTime(0, 1, 0));
        qDebug() << "after midnight, before the check";
        LogHandler::instance().flush();
        QVERIFY(!QFile::exists(logFile(dir, day2)));
        LogHandler::instance().checkLogFile();
        qDebug() << "after the check";
        // Counted before the switch: eleven only at the next pass, which
        // removes the first by name; then ten are left.
        QVERIFY(left().startsWith(QStringLiteral("2026-01-01.txt")));
        LogHandler::instance().checkLogFile();
        QVERIFY(left().startsWith(QStringLiteral("2026-01-02.txt")));
        LogHandler::instance().checkLogFile();
        QVERIFY(left().startsWith(QStringLiteral("2026-01-02.txt")));
        QVERIFY(left().endsWith(QStringLiteral("2026-03-02.txt notes.md")));
        LogHandler::instance().release();

        const QStringList lines1 = readLines(logFile(dir, day1));
        QCOMPARE(lines1.size(), 2);
        QVERIFY(lines1.at(1).endsWith(QStringLiteral("after midnight, before the check")));
        const QStringList lines2 = readLines(logFile(dir, day2));
        QVERIFY(!lines2.isEmpty() && lines2.at(0).endsWith(QStringLiteral("after the check")));
    }

    void concurrentWritersNeverInterleave()
    {
        TestSupport::ScratchAppDir dir(false);
        setNow(QDate(2026, 3, 1), QTime(8, 0, 0));
        LogHandler::instance().installMessageHandler();
        std::vector<std::unique_ptr<QThread>> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back(QThread::create([t] {
                for (int i = 0; i < 300; ++i)
                    qDebug().noquote() << QStringLiteral("thread %1 line %2 end").arg(t).arg(i);
            }));
            threads.back()->start();
        }
        for (auto &thread : threads)
            thread->wait();
        LogHandler::instance().release();
        const QStringList lines = readLines(logFile(dir, QDate(2026, 3, 1)));
        QCOMPARE(lines.size(), 4 * 300);
        const QRegularExpression format(QStringLiteral(
            R"(^08:00:00 - \[Debug\] \(tst_loghandler\.cpp:\d+\): thread \d line \d+ end$)"));
        for (const QString &line : lines)
            QVERIFY2(format.match(line).hasMatch(), qPrintable(line));
    }

    void flushFollowsWrittenLinesOnly_data()
    {
        QTest::addColumn<bool>("fromWorker");
        QTest::newRow("lines of this thread") << false;
        QTest::newRow("lines of another thread") << true;
    }

    void flushFollowsWrittenLinesOnly()
    {
        QFETCH(bool, fromWorker);
        TestSupport::ScratchAppDir dir(false);
        const QDate day(2026, 3, 1);
        setNow(day, QTime(9, 0, 0));
        LogHandler &log = LogHandler::instance();
        log.installMessageHandler();
        // Nothing written, nothing that would wake an idle program.
        QTest::qWait(20);
        QVERIFY(!log.isFlushScheduled());
        // Each line reaches the file by itself (no flush() or release()), the
        // one after a flush as well, and then nothing stays scheduled.
        for (int line = 1; line <= 2; ++line) {
            auto write = [line] { qInfo() << "line" << line; };
            if (fromWorker) {
                std::unique_ptr<QThread> worker(QThread::create(write));
                worker->start();
                QVERIFY(worker->wait(5000));
            } else {
                write();
            }
            QTRY_COMPARE(readLines(logFile(dir, day)).size(), line);
            QTRY_VERIFY(!log.isFlushScheduled());
        }
    }

    void unwritableLogDirectoryFallsBackToStdout()
    {
        TestSupport::ScratchAppDir dir(false);
        touch(dir.path() + QStringLiteral("/log")); // a file where the directory should be
        LogHandler::instance().installMessageHandler();
        qWarning() << "still fine";
        QVERIFY(LogHandler::instance().currentFileName().isEmpty());
        LogHandler::instance().checkLogFile();
    }
};

QTEST_GUILESS_MAIN(TestLogHandler)
#include "tst_loghandler.moc"

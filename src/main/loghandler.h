#pragma once

#include <QDateTime>
#include <QDir>
#include <QObject>

#include <functional>

class QFile;
class QTextStream;
class QTimer;

// Owns the open log file and the two timers: a ten-minute check that rotates
// to a new file when the date has changed and prunes old files, and a flush
// one second after the first line that was not flushed yet, so the file never
// lags far behind standard output and an idle program is not woken for it.
class LogHandlerPrivate : public QObject
{
    Q_OBJECT

public:
    explicit LogHandlerPrivate(QObject *parent = nullptr);
    ~LogHandlerPrivate() override;

    // Opens today's file if none is open, deletes the oldest file when more
    // than ten exist, and switches to a new file when the date has changed.
    // The caller holds logMutex.
    void openAndBackupLogFile();

    static void messageHandler(QtMsgType type, const QMessageLogContext &context,
                               const QString &message);

    // Level word for a message type; always five characters.
    static QString levelWord(QtMsgType type);
    // The line written to the file, without the time-stamp source.
    static QString formatLine(const QTime &time, QtMsgType type, const QMessageLogContext &context,
                              const QString &message);

    bool isFlushScheduled() const;
    // Arms the flush for lines just written, unless it is armed already.
    // Any thread; the caller holds logMutex.
    void flushSoon();

private:
    QString fileNameFor(const QDate &date) const;

    QDir logDir;
    QTimer *renameLogFileTimer = nullptr;
    QTimer *flushLogFileTimer = nullptr;
    QDate logFileCreatedDate;
    bool flushArmed = false; // guarded by logMutex
};

// Process-wide message handler: every qDebug()/qInfo()/qWarning()/qCritical()
// goes to standard output and to <appdir>/log/yyyy-MM-dd.txt as
//   hh:mm:ss - [Level] (file:line): text
// Thread-safe; at most ten log files are kept.
class LogHandler
{
public:
    static LogHandler &instance();

    // Installs the handler (opens the file, starts the timers). A second call does nothing.
    void installMessageHandler();
    // Restores the default handler, flushes and closes the file.
    void release();
    bool isInstalled() const;

    // Runs the ten-minute check now (rotation and pruning).
    void checkLogFile();
    // Flushes the file now.
    void flush();
    // True while written lines wait for the flush that follows them within a
    // second. Call it on the thread that installed the handler.
    bool isFlushScheduled() const;
    // The file currently written, or empty.
    QString currentFileName() const;

    // The clock used for time-stamps, file names and rotation. Tests replace
    // it; an empty function restores the system clock.
    static void setClock(std::function<QDateTime()> clock);
    static QDateTime now();

    LogHandler() = default;
    LogHandler(const LogHandler &) = delete;
    LogHandler &operator=(const LogHandler &) = delete;

private:
    LogHandlerPrivate *d = nullptr;
};

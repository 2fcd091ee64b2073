#include "main/loghandler.h"

#include "main/apppaths.h"
#include "main/singleton.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRecursiveMutex>
#include <QTextCodec>
#include <QTextStream>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {
// Recursive: the rotation logs while it holds the lock, and those lines come
// back through the handler on the same thread.
QRecursiveMutex logMutex;
QFile *logFile = nullptr;
QTextStream *logOut = nullptr;
LogHandlerPrivate *logPrivate = nullptr; // the installed handler's, guarded by logMutex

std::function<QDateTime()> g_clock;

constexpr int kRenameIntervalMs = 600000;
constexpr int kFlushIntervalMs = 1000;
constexpr int kMaxLogFiles = 10;

void closeLogFile()
{
    if (logOut) {
        logOut->flush();
        delete logOut;
        logOut = nullptr;
    }
    if (logFile) {
        logFile->flush();
        logFile->close();
        delete logFile;
        logFile = nullptr;
    }
}
} // namespace

LogHandlerPrivate::LogHandlerPrivate(QObject *parent) : QObject(parent)
{
    logDir.setPath(AppPaths::logDir());

    // The file for today, if it already exists, was created today: starting
    // twice on one day appends to the same file.
    logFileCreatedDate = LogHandler::now().date();
    const QFileInfo info(fileNameFor(logFileCreatedDate));
    if (!info.exists())
        logFileCreatedDate = QDate();

    openAndBackupLogFile();

    renameLogFileTimer = new QTimer(this);
    renameLogFileTimer->setInterval(kRenameIntervalMs);
    connect(renameLogFileTimer, &QTimer::timeout, this, [this] {
        QMutexLocker lock(&logMutex);
        openAndBackupLogFile();
    });
    renameLogFileTimer->start();

    flushLogFileTimer = new QTimer(this);
    flushLogFileTimer->setSingleShot(true);
    flushLogFileTimer->setInterval(kFlushIntervalMs);
    connect(flushLogFileTimer, &QTimer::timeout, this, [this] {
        QMutexLocker lock(&logMutex);
        flushArmed = false;
        if (logOut)
            logOut->flush();
    });
}

bool LogHandlerPrivate::isFlushScheduled() const
{
    return flushArmed || flushLogFileTimer->isActive();
}

void LogHandlerPrivate::flushSoon()
{
    if (flushArmed)
        return;
    flushArmed = true;
    // The timer belongs to the thread that installed the handler; lines
    // come from any thread.
    if (QThread::currentThread() == thread())
        flushLogFileTimer->start();
    else
        QMetaObject::invokeMethod(flushLogFileTimer, QOverload<>::of(&QTimer::start),
                                  Qt::QueuedConnection);
}

LogHandlerPrivate::~LogHandlerPrivate()
{
    closeLogFile();
}

QString LogHandlerPrivate::fileNameFor(const QDate &date) const
{
    return AppPaths::logDir() + date.toString(QStringLiteral("/yyyy-MM-dd.txt"));
}

void LogHandlerPrivate::openAndBackupLogFile()
{
    if (!logDir.exists())
        logDir.mkpath(QStringLiteral("."));

    if (!logFileCreatedDate.isValid())
        logFileCreatedDate = LogHandler::now().date();

    auto openFile = [this] {
        auto *file = new QFile(fileNameFor(logFileCreatedDate));
        if (file->open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text)) {
            logFile = file;
            logOut = new QTextStream(logFile);
            logOut->setCodec("UTF-8");
        } else {
            delete file;
        }
    };

    if (!logFile)
        openFile();

    const QFileInfoList files =
        logDir.entryInfoList(QStringList() << QStringLiteral("*.txt"), QDir::Files, QDir::Name);
    if (files.size() > kMaxLogFiles) {
        const QString oldest = files.first().absoluteFilePath();
        qDebug().noquote() << "delete file = " << oldest;
        QFile::remove(oldest);
    }

    const QDate today = LogHandler::now().date();
    if (logFile && logFileCreatedDate != today) {
        closeLogFile();
        logFileCreatedDate = today;
        openFile();
    }
}

QString LogHandlerPrivate::levelWord(QtMsgType type)
{
    switch (type) {
    case QtDebugMsg:
        return QStringLiteral("Debug");
    case QtWarningMsg:
        return QStringLiteral("Warn ");
    case QtCriticalMsg:
        return QStringLiteral("Error");
    case QtFatalMsg:
        return QStringLiteral("Fatal");
    case QtInfoMsg:
        return QStringLiteral("Info ");
    }
    return QStringLiteral("Debug");
}

QString LogHandlerPrivate::formatLine(const QTime &time, QtMsgType type,
                                      const QMessageLogContext &context, const QString &message)
{
    QString file = QString::fromUtf8(context.file ? context.file : "");
    const int slash = qMax(file.lastIndexOf(QLatin1Char('/')), file.lastIndexOf(QLatin1Char('\\')));
    if (slash >= 0)
        file = file.mid(slash + 1);
    return QStringLiteral("%1 - [%2] (%3:%4): %5\n")
        .arg(time.toString(QStringLiteral("hh:mm:ss")), levelWord(type), file,
             QString::number(context.line), message);
}

void LogHandlerPrivate::messageHandler(QtMsgType type, const QMessageLogContext &context,
                                       const QString &message)
{
    QMutexLocker lock(&logMutex);
    const QByteArray local = message.toLocal8Bit();
    std::fwrite(local.constData(), 1, static_cast<size_t>(local.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (logOut) {
        *logOut << formatLine(LogHandler::now().time(), type, context, message);
        if (type == QtFatalMsg)
            logOut->flush();
        else if (logPrivate)
            logPrivate->flushSoon();
    }
}

LogHandler &LogHandler::instance()
{
    return Singleton<LogHandler>::instance();
}

void LogHandler::installMessageHandler()
{
    QMutexLocker lock(&logMutex);
    if (d)
        return;
    d = new LogHandlerPrivate();
    logPrivate = d;
    qInstallMessageHandler(LogHandlerPrivate::messageHandler);
}

void LogHandler::release()
{
    QMutexLocker lock(&logMutex);
    if (!d)
        return;
    qInstallMessageHandler(nullptr);
    logPrivate = nullptr;
    delete d;
    d = nullptr;
}

bool LogHandler::isInstalled() const
{
    QMutexLocker lock(&logMutex);
    return d != nullptr;
}

void LogHandler::checkLogFile()
{
    QMutexLocker lock(&logMutex);
    if (d)
        d->openAndBackupLogFile();
}

void LogHandler::flush()
{
    QMutexLocker lock(&logMutex);
    if (logOut)
        logOut->flush();
}

bool LogHandler::isFlushScheduled() const
{
    QMutexLocker lock(&logMutex);
    return d && d->isFlushScheduled();
}

QString LogHandler::currentFileName() const
{
    QMutexLocker lock(&logMutex);
    return logFile ? logFile->fileName() : QString();
}

void LogHandler::setClock(std::function<QDateTime()> clock)
{
    QMutexLocker lock(&logMutex);
    g_clock = std::move(clock);
}

QDateTime LogHandler::now()
{
    QMutexLocker lock(&logMutex);
    return g_clock ? g_clock() : QDateTime::currentDateTime();
}

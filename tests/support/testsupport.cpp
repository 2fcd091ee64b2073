#include "testsupport.h"

#include "main/apppaths.h"
#include "main/loghandler.h"
#include "simbus.h"

#include <QDate>
#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QTimer>

namespace TestSupport {

QString sourceDataDir()
{
    return QStringLiteral(LUMORY_SOURCE_DATA_DIR);
}

QString buildDir()
{
    return QStringLiteral(LUMORY_BUILD_DIR);
}

bool copyTree(const QString &from, const QString &to)
{
    QDir source(from);
    if (!source.exists())
        return false;
    QDir().mkpath(to);
    QDirIterator it(from, QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + QLatin1Char('/') + source.relativeFilePath(path);
        if (it.fileInfo().isDir()) {
            if (!QDir().mkpath(target))
                return false;
        } else {
            QDir().mkpath(QFileInfo(target).absolutePath());
            QFile::remove(target);
            if (!QFile::copy(path, target))
                return false;
            QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                              QFile::ReadOther);
        }
    }
    return true;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

QList<QByteArray> framesOf(sim::SimKeyboard *keyboard, uint8_t command, uint8_t subCommand)
{
    QList<QByteArray> found;
    for (const QByteArray &frame : keyboard->receivedFrames()) {
        if (uint8_t(frame.at(0)) == command && uint8_t(frame.at(1)) == subCommand)
            found << frame;
    }
    return found;
}

QStringList readLines(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    QStringList lines;
    QTextStream in(&file);
    in.setCodec("UTF-8");
    while (!in.atEnd())
        lines << in.readLine();
    return lines;
}

ScratchAppDir::ScratchAppDir(bool copyData)
{
    if (copyData) {
        copyTree(sourceDataDir() + QStringLiteral("/config"), path() + QStringLiteral("/config"));
        copyTree(sourceDataDir() + QStringLiteral("/images"), path() + QStringLiteral("/images"));
    }
    AppPaths::setAppDir(path());
}

ScratchAppDir::~ScratchAppDir()
{
    AppPaths::setAppDir(QString());
}

QString ScratchAppDir::configFile(const QString &name) const
{
    return path() + QStringLiteral("/config/") + name;
}

ScopedHome::ScopedHome()
{
    m_hadOld = qEnvironmentVariableIsSet("HOME");
    m_old = qgetenv("HOME");
    qputenv("HOME", m_dir.path().toLocal8Bit());
}

ScopedHome::~ScopedHome()
{
    if (m_hadOld)
        qputenv("HOME", m_old);
    else
        qunsetenv("HOME");
}

QStringList logMessages(const QString &appDir)
{
    LogHandler::instance().flush();
    QStringList messages;
    const QString path =
        appDir + QDate::currentDate().toString(QStringLiteral("/log/yyyy-MM-dd.txt"));
    for (const QString &line : readLines(path)) {
        const int at = line.indexOf(QStringLiteral("): "));
        messages << (at >= 0 ? line.mid(at + 3) : line);
    }
    return messages;
}

bool hasInOrder(const QStringList &messages, const QStringList &expected, QString *missing)
{
    int from = 0;
    for (const QString &want : expected) {
        int found = -1;
        for (int i = from; i < messages.size() && found < 0; ++i) {
            if (messages.at(i).startsWith(want))
                found = i;
        }
        if (found < 0) {
            if (missing)
                *missing = want;
            return false;
        }
        from = found + 1;
    }
    return true;
}

DialogRecorder::DialogRecorder()
{
    Dialogs::setMessageHandler([this](const Dialogs::MessageRequest &request) {
        messages.append(request);
        const int answer = answers.isEmpty() ? defaultAnswer : answers.dequeue();
        interrupt();
        return answer;
    });
    Dialogs::setFileHandler([this](const Dialogs::FileRequest &request) {
        files.append(request);
        const QString answer = fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
        interrupt();
        return answer;
    });
    Dialogs::setExecHandler([this](QDialog *dialog) {
        execDialogs.append(dialog->objectName());
        interrupt();
        return execResult;
    });
    Dialogs::setColorHandler([this](const Dialogs::ColorRequest &request) {
        colors.append(request);
        const QColor answer = colorAnswers.isEmpty() ? QColor() : colorAnswers.dequeue();
        interrupt();
        return answer;
    });
}

void DialogRecorder::interruptNext(std::function<void()> action, std::function<bool()> done,
                                   int spinMs)
{
    m_action = std::move(action);
    m_done = std::move(done);
    m_spinMs = spinMs;
}

void DialogRecorder::interrupt()
{
    ++opened;
    if (!m_action)
        return;
    if (interruptAfter > 0) {
        --interruptAfter;
        return;
    }
    const std::function<void()> action = std::exchange(m_action, {});
    const std::function<bool()> done = std::exchange(m_done, {});
    action();
    // A nested event loop, as a box runs one; Exit's QCoreApplication::quit()
    // ends it as it would end the box.
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer tick;
    QObject::connect(&tick, &QTimer::timeout, &loop, [&] {
        if (clock.elapsed() >= m_spinMs || (done && done()))
            loop.quit();
    });
    tick.start(10);
    loop.exec();
    interruptDone = done && done();
}

DialogRecorder::~DialogRecorder()
{
    Dialogs::setMessageHandler({});
    Dialogs::setFileHandler({});
    Dialogs::setExecHandler({});
    Dialogs::setColorHandler({});
}

} // namespace TestSupport

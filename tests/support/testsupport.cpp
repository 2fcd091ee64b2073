#include "testsupport.h"

#include "main/apppaths.h"
#include "simbus.h"

#include <QDialog>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

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

DialogRecorder::DialogRecorder()
{
    Dialogs::setMessageHandler([this](const Dialogs::MessageRequest &request) {
        messages.append(request);
        return answers.isEmpty() ? defaultAnswer : answers.dequeue();
    });
    Dialogs::setFileHandler([this](const Dialogs::FileRequest &request) {
        files.append(request);
        return fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue();
    });
    Dialogs::setExecHandler([this](QDialog *dialog) {
        execDialogs.append(dialog->objectName());
        return execResult;
    });
}

DialogRecorder::~DialogRecorder()
{
    Dialogs::setMessageHandler({});
    Dialogs::setFileHandler({});
    Dialogs::setExecHandler({});
}

} // namespace TestSupport

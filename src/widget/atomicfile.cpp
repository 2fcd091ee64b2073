#include "widget/atomicfile.h"

#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSet>
#include <QXmlStreamReader>

namespace {

// Absolute paths of the files any process we may look at holds open.
QSet<QString> openFiles()
{
    QSet<QString> open;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &pid : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        if (pid.toInt() <= 0)
            continue;
        const QDir fds(proc.filePath(pid + QStringLiteral("/fd")));
        const QDir::Filters all = QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot;
        for (const QString &fd : fds.entryList(all)) {
            const QString target = QFile::symLinkTarget(fds.filePath(fd));
            if (!target.isEmpty())
                open.insert(target);
        }
    }
    return open;
}

} // namespace

namespace AtomicFile {

bool write(const QString &path, const QByteArray &data, QString *error)
{
    QString target = path;
    const QFileInfo info(path);
    if (info.isSymLink()) {
        const QString linked = info.symLinkTarget();
        if (!linked.isEmpty())
            target = linked;
    }

    const QFileInfo targetInfo(target);
    const bool existed = targetInfo.exists();
    const QFileDevice::Permissions permissions = targetInfo.permissions();

    QSaveFile file(target);
    if (!file.open(QIODevice::WriteOnly)) {
        if (error)
            *error = file.errorString();
        return false;
    }
    if (existed)
        file.setPermissions(permissions);
    if (file.write(data) != data.size()) {
        if (error)
            *error = file.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        if (error)
            *error = file.errorString();
        return false;
    }
    return true;
}

QString setAsideBrokenXml(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray content = file.readAll();
    file.close();
    if (content.trimmed().isEmpty())
        return QString();
    QXmlStreamReader xml(content);
    while (!xml.atEnd())
        xml.readNext();
    if (!xml.hasError())
        return QString();

    QString aside = path + QStringLiteral(".broken");
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = path + QStringLiteral(".broken.") + QString::number(n);
    if (!QFile::rename(path, aside)) {
        qWarning().noquote() << "Cannot keep the unreadable" << path << "as" << aside;
        return QString();
    }
    qWarning().noquote() << "The unreadable" << path << "is kept as" << aside;
    return aside;
}

int removeStaleTemporaries(const QString &dir, const QStringList &names, int minAgeSeconds)
{
    QStringList escaped;
    for (const QString &name : names)
        escaped << QRegularExpression::escape(name);
    // Six random letters, which may not spell the ".broken" of a kept file.
    const QRegularExpression temporary(
        QStringLiteral("^(%1)\\.(?!broken$)[A-Za-z]{6}$").arg(escaped.join(QLatin1Char('|'))));
    const QDateTime before = QDateTime::currentDateTimeUtc().addSecs(-minAgeSeconds);
    QStringList stale;
    for (const QFileInfo &info : QDir(dir).entryInfoList(QDir::Files | QDir::Hidden)) {
        if (!info.isSymLink() && temporary.match(info.fileName()).hasMatch() &&
            info.lastModified().toUTC() < before)
            stale << info.canonicalFilePath();
    }
    if (stale.isEmpty())
        return 0;
    const QSet<QString> open = openFiles();
    int removed = 0;
    for (const QString &path : qAsConst(stale)) {
        if (open.contains(path) || !QFile::remove(path))
            continue;
        qInfo().noquote() << "Removed a temporary file left by an interrupted write:" << path;
        ++removed;
    }
    return removed;
}

} // namespace AtomicFile

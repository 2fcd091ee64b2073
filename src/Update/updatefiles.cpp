#include "Update/updatefiles.h"

#include "Update/zipreader.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QVector>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr qint64 kCopyChunk = 256 * 1024;
constexpr mode_t kDefaultFileMode = 0644;

bool fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

bool isControl(QChar c)
{
    return c.unicode() < 0x20 || c.unicode() == 0x7f;
}

// `path` (canonical) is `root` (canonical) or lies below it.
bool isWithin(const QString &root, const QString &path)
{
    if (root == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == root || path.startsWith(root + QLatin1Char('/'));
}

// Walks `segments` below the canonical directory `root`: every part that exists, resolved with
// symbolic links followed, must lie inside `root`; a dangling link is refused because writing
// through it would create its target wherever it points.
bool staysInside(const QString &root, const QStringList &segments, QString *why)
{
    QString path = root;
    for (const QString &segment : segments) {
        path += QLatin1Char('/') + segment;
        const QFileInfo info(path);
        if (!info.exists()) {
            if (info.isSymLink())
                return fail(why, QStringLiteral("dangling symbolic link at %1").arg(path));
            return true; // nothing below exists either
        }
        if (!isWithin(root, info.canonicalFilePath()))
            return fail(why, QStringLiteral("%1 leads outside %2").arg(path, root));
    }
    return true;
}

mode_t permissionBits(const QString &path)
{
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return kDefaultFileMode;
    return st.st_mode & 0777;
}

bool renameOver(const QString &from, const QString &to, QString *error)
{
    if (::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) != 0)
        return fail(error, QStringLiteral("cannot rename %1 to %2: %3")
                               .arg(from, to, QString::fromLocal8Bit(strerror(errno))));
    return true;
}

// Finishes a written file: permissions, data on disk, closed.
bool finishFile(QFile &file, mode_t mode, QString *error)
{
    if (!file.flush() || ::fchmod(file.handle(), mode) != 0 || ::fsync(file.handle()) != 0)
        return fail(error, QStringLiteral("cannot write %1: %2")
                               .arg(file.fileName(), QString::fromLocal8Bit(strerror(errno))));
    file.close();
    return true;
}

// Copies one regular file: a temporary file beside the target takes the data and then replaces
// the target in one rename, so the target is either the old or the new file.
bool copyFileAtomically(const QString &source, const QString &target, QString *error)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return fail(error, QStringLiteral("cannot read %1: %2").arg(source, in.errorString()));
    QTemporaryFile out(QFileInfo(target).absolutePath() + QStringLiteral("/.lumory-XXXXXX"));
    if (!out.open())
        return fail(error,
                    QStringLiteral("cannot write beside %1: %2").arg(target, out.errorString()));
    for (;;) {
        const QByteArray chunk = in.read(kCopyChunk);
        if (chunk.isEmpty()) {
            if (in.error() != QFileDevice::NoError || !in.atEnd())
                return fail(error,
                            QStringLiteral("cannot read %1: %2").arg(source, in.errorString()));
            break;
        }
        if (out.write(chunk) != chunk.size())
            return fail(error,
                        QStringLiteral("cannot write %1: %2").arg(target, out.errorString()));
    }
    if (!finishFile(out, permissionBits(source), error) ||
        !renameOver(out.fileName(), target, error))
        return false;
    out.setAutoRemove(false);
    return true;
}

// An archive entry name: relative, no "..", no backslash, no control character.
bool isSafeArchiveName(const QString &name, QString *why)
{
    if (name.isEmpty())
        return fail(why, QStringLiteral("an entry without a name"));
    if (name.startsWith(QLatin1Char('/')))
        return fail(why, QStringLiteral("absolute path \"%1\"").arg(name));
    if (name.contains(QLatin1Char('\\')))
        return fail(why, QStringLiteral("backslash in \"%1\"").arg(name));
    if (std::any_of(name.begin(), name.end(), isControl))
        return fail(why, QStringLiteral("control character in \"%1\"").arg(name));
    QStringList segments = name.split(QLatin1Char('/'));
    if (name.endsWith(QLatin1Char('/')))
        segments.removeLast(); // a directory entry
    for (const QString &segment : segments) {
        if (segment == QLatin1String(".."))
            return fail(why, QStringLiteral("\"..\" in \"%1\"").arg(name));
        if (segment.isEmpty() || segment == QLatin1String("."))
            return fail(why, QStringLiteral("empty or \".\" segment in \"%1\"").arg(name));
    }
    return true;
}

} // namespace

namespace UpdateFiles {

bool isSafeSegment(const QString &name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
           !name.contains(QLatin1Char('/')) && !name.contains(QLatin1Char('\\')) &&
           std::none_of(name.begin(), name.end(), isControl);
}

bool isSafeEntry(const QString &entry, QString *why)
{
    if (!entry.startsWith(QLatin1Char('/')))
        return fail(why, QStringLiteral("not an absolute server path"));
    if (entry.contains(QLatin1Char('\\')))
        return fail(why, QStringLiteral("contains a backslash"));
    if (std::any_of(entry.begin(), entry.end(), isControl))
        return fail(why, QStringLiteral("contains a control character"));
    const QStringList segments = entry.mid(1).split(QLatin1Char('/'));
    for (const QString &segment : segments) {
        if (!isSafeSegment(segment))
            return fail(why, QStringLiteral("empty, \".\" or \"..\" segment"));
    }
    const QString top = segments.first();
    if (top == QLatin1String("UpgradeLumory") && segments.size() >= 2)
        return true;
    if (top == QLatin1String("UpgradeFirmware") && segments.size() >= 3)
        return true;
    return fail(why, QStringLiteral("not below /UpgradeLumory/ or /UpgradeFirmware/<product>/"));
}

QString localPath(const QString &programDir, const QString &entry, QString *why)
{
    if (!isSafeEntry(entry, why))
        return QString();
    const QString root = QFileInfo(programDir).canonicalFilePath();
    if (root.isEmpty()) {
        fail(why, QStringLiteral("program directory %1 does not exist").arg(programDir));
        return QString();
    }
    if (!staysInside(root, entry.mid(1).split(QLatin1Char('/')), why))
        return QString();
    return QDir::cleanPath(QFileInfo(programDir).absoluteFilePath() + entry);
}

bool EstablishDir(const QString &path)
{
    QString dir = path;
    dir.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (dir.isEmpty())
        return false;
    QDir().mkpath(dir);
    return QFileInfo(dir).isDir();
}

bool removeFile(const QString &path)
{
    const QFileInfo info(path);
    if (info.isSymLink())
        return QFile::remove(path) || !QFileInfo(path).isSymLink();
    if (!info.isFile())
        return true; // missing, or a directory: no regular file of that name
    return QFile::remove(path) || !QFileInfo::exists(path);
}

bool deleteDirectory(const QString &path, int *removedTopLevelFiles)
{
    if (path.isEmpty())
        return false;
    const QFileInfo self(path);
    if (self.isSymLink())
        return QFile::remove(path);
    if (!self.exists())
        return true;
    if (!self.isDir())
        return false;
    bool ok = true;
    const QDir dir(path);
    const QFileInfoList entries =
        dir.entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString entryPath = entry.absoluteFilePath();
        qDebug().noquote() << "absoluteFilePath=" << entryPath;
        if (entry.isDir() && !entry.isSymLink()) {
            ok = deleteDirectory(entryPath) && ok;
        } else if (QFile::remove(entryPath)) {
            if (removedTopLevelFiles)
                ++*removedTopLevelFiles;
        } else {
            qWarning().noquote() << "cannot remove" << entryPath;
            ok = false;
        }
    }
    return QDir().rmdir(path) && ok;
}

bool copyDirectoryFiles(const QString &from, const QString &to, bool overwrite, QString *error)
{
    qDebug().noquote() << "copyDirectoryFiles=" << from << to;
    const QFileInfo source(from);
    if (!source.isDir() || source.isSymLink())
        return fail(error, QStringLiteral("%1 is not a directory").arg(from));
    if (!EstablishDir(to))
        return fail(error, QStringLiteral("cannot create %1").arg(to));
    if (isWithin(source.canonicalFilePath(), QFileInfo(to).canonicalFilePath()))
        return fail(error, QStringLiteral("cannot copy %1 into itself (%2)").arg(from, to));

    const QFileInfoList entries = QDir(from).entryInfoList(QDir::AllEntries | QDir::Hidden |
                                                           QDir::System | QDir::NoDotAndDotDot);
    for (const QFileInfo &entry : entries) {
        const QString target = QDir(to).filePath(entry.fileName());
        if (entry.isSymLink()) {
            qDebug().noquote() << "copyDirectoryFiles skips the symbolic link"
                               << entry.absoluteFilePath();
            continue;
        }
        if (entry.isDir()) {
            if (!copyDirectoryFiles(entry.absoluteFilePath(), target, overwrite, error))
                return false;
            continue;
        }
        if (!entry.isFile()) {
            qDebug().noquote() << "copyDirectoryFiles skips" << entry.absoluteFilePath();
            continue;
        }
        const QFileInfo existing(target);
        if (existing.isDir() && !existing.isSymLink())
            return fail(error, QStringLiteral("%1 is a directory").arg(target));
        if ((existing.exists() || existing.isSymLink()) && !overwrite)
            continue;
        if (!copyFileAtomically(entry.absoluteFilePath(), target, error))
            return false;
        if (entry.suffix().compare(QLatin1String("lumoryzip"), Qt::CaseInsensitive) == 0) {
            const bool unpacked = uzip(target, to, true, error);
            removeFile(target);
            if (!unpacked)
                return false;
        }
    }
    return true;
}

bool uzip(const QString &archive, const QString &directory, bool overwrite, QString *error,
          qint64 limit)
{
    ZipReader zip(archive);
    if (!zip.open(error))
        return false;

    // Everything is checked before anything is written.
    qint64 declared = 0;
    QString why;
    for (const ZipReader::Entry &e : zip.entries()) {
        if (!isSafeArchiveName(e.name, &why))
            return fail(error, QStringLiteral("%1 refused: %2").arg(archive, why));
        if (e.isSymLink() || e.isSpecial())
            return fail(error, QStringLiteral("%1 refused: \"%2\" is a symbolic link or special "
                                              "file")
                                   .arg(archive, e.name));
        declared += e.uncompressedSize;
        if (declared > limit)
            return fail(error, QStringLiteral("%1 refused: it unpacks to more than %2 bytes")
                                   .arg(archive)
                                   .arg(limit));
    }

    const bool existed = QFileInfo(directory).isDir();
    if (!EstablishDir(directory))
        return fail(error, QStringLiteral("cannot create %1").arg(directory));
    const QString root = QFileInfo(directory).canonicalFilePath();
    auto failed = [&](const QString &text) {
        if (!existed)
            QDir().rmdir(directory); // only when still empty
        return fail(error, text);
    };
    for (const ZipReader::Entry &e : zip.entries()) {
        if (!staysInside(root, e.name.split(QLatin1Char('/'), Qt::SkipEmptyParts), &why))
            return failed(QStringLiteral("%1 refused: %2").arg(archive, why));
    }

    // Inflate every file into a staging directory, so that damaged data change nothing.
    struct Staged
    {
        QString staged;
        QString target;
    };
    QVector<Staged> staged;
    {
        QTemporaryDir staging(root + QStringLiteral("/.lumory-unzip-XXXXXX"));
        if (!staging.isValid())
            return failed(QStringLiteral("cannot create a staging directory in %1").arg(root));
        qint64 budget = limit;
        for (const ZipReader::Entry &e : zip.entries()) {
            if (e.isDirectory())
                continue;
            QFile out(staging.filePath(QString::number(staged.size())));
            if (!out.open(QIODevice::WriteOnly))
                return failed(
                    QStringLiteral("cannot write %1: %2").arg(out.fileName(), out.errorString()));
            const auto sink = [&out](const char *data, qint64 size) {
                return out.write(data, size) == size;
            };
            const bool unixMode = (e.madeBy >> 8) == 3 && (e.unixMode() & 0777) != 0;
            if (!zip.extract(e, sink, &budget, error) ||
                !finishFile(out, unixMode ? (e.unixMode() & 0755) : kDefaultFileMode, error)) {
                if (!existed)
                    QDir().rmdir(directory);
                return false;
            }
            staged.append({out.fileName(), root + QLatin1Char('/') + e.name});
        }

        // All data are good: put the files in place.
        for (const ZipReader::Entry &e : zip.entries()) {
            if (e.isDirectory() && !EstablishDir(root + QLatin1Char('/') + e.name))
                return fail(error, QStringLiteral("cannot create %1 in %2").arg(e.name, root));
        }
        for (const Staged &s : staged) {
            const QFileInfo target(s.target);
            if (!EstablishDir(target.absolutePath()) ||
                !isWithin(root, QFileInfo(target.absolutePath()).canonicalFilePath()))
                return fail(error, QStringLiteral("cannot create %1").arg(target.absolutePath()));
            if (target.isDir() && !target.isSymLink())
                return fail(error, QStringLiteral("%1 is a directory").arg(s.target));
            if ((target.exists() || target.isSymLink()) && !overwrite)
                continue;
            if (!renameOver(s.staged, s.target, error))
                return false;
        }
    }
    return true;
}

} // namespace UpdateFiles

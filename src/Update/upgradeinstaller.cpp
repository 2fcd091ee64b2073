#include "Update/upgradeinstaller.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryFile>
#include <QTextStream>
#include <QThread>
#include <QVector>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString text(int language, const char *english, const char *chinese)
{
    return QString::fromUtf8(language == 0 ? chinese : english);
}

int languageOf(const QStringList &args)
{
    return args.size() >= 7 && args.at(6) == QLatin1String("0") ? 0 : 1;
}

bool isNumber(const QString &value, int *number)
{
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
    if (!digits.match(value).hasMatch())
        return false;
    *number = value.toInt();
    return true;
}

// A single file name: no directory part, no "." or "..", nothing unprintable.
bool isPlainName(const QString &name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    return true;
}

bool isInside(const QString &dir, const QString &path)
{
    if (dir == QLatin1String("/"))
        return path.startsWith(QLatin1Char('/'));
    return path == dir || path.startsWith(dir + QLatin1Char('/'));
}

// The canonical path of an existing directory given as an absolute path.
QString existingDir(const QString &path)
{
    if (path.isEmpty() || QDir::isRelativePath(path))
        return QString();
    const QFileInfo info(path);
    return info.isDir() ? info.canonicalFilePath() : QString();
}

QByteArray readLink(const QString &path)
{
    char buffer[4096];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return size > 0 ? QByteArray(buffer, int(size)) : QByteArray();
}

bool isScript(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) && file.read(2) == "#!";
}

void syncDirectory(const QString &dir)
{
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

// Creates the directory `rel` below `root` (canonical) one segment at a time,
// refusing any segment that is, or leads through a link to, a place outside
// `root`. Returns the canonical directory, or "" with `error` set.
QString makeDirInside(const QString &root, const QString &rel, int language, QString *error)
{
    QString current = root;
    const QStringList segments = rel.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    for (const QString &segment : segments) {
        const QString next = current + QLatin1Char('/') + segment;
        const QFileInfo info(next);
        if (!isPlainName(segment) || (info.exists() && !isInside(root, info.canonicalFilePath()))) {
            *error = text(language, "Refused to write outside the program directory: %1",
                          "拒绝写入程序目录之外：%1")
                         .arg(next);
            return QString();
        }
        if (!info.exists() && !info.isSymLink() && !QDir().mkdir(next)) {
            *error = text(language, "Cannot create directory %1", "无法创建目录 %1").arg(next);
            return QString();
        }
        const QFileInfo made(next);
        if (!made.isDir()) {
            *error = text(language, "Not a directory: %1", "不是目录：%1").arg(next);
            return QString();
        }
        current = made.canonicalFilePath();
        if (!isInside(root, current)) {
            *error = text(language, "Refused to write outside the program directory: %1",
                          "拒绝写入程序目录之外：%1")
                         .arg(next);
            return QString();
        }
    }
    return current;
}

// Writes `source` to a temporary file in `dir` and renames it to `name`.
bool replaceFile(const QString &source, const QString &dir, const QString &name, int language,
                 QString *error)
{
    const QString target = dir + QLatin1Char('/') + name;
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly)) {
        *error = text(language, "Cannot read %1: %2", "无法读取 %1：%2")
                     .arg(source, input.errorString());
        return false;
    }
    QTemporaryFile output(dir + QStringLiteral("/.upgrade-") + name + QStringLiteral(".XXXXXX"));
    if (!output.open()) {
        *error = text(language, "Cannot write %1: %2", "无法写入 %1：%2")
                     .arg(target, output.errorString());
        return false;
    }
    const QString writeFailed = text(language, "Cannot write %1: %2", "无法写入 %1：%2");
    while (!input.atEnd()) {
        const QByteArray chunk = input.read(1 << 20);
        if (chunk.isEmpty() && input.error() != QFileDevice::NoError) {
            *error = text(language, "Cannot read %1: %2", "无法读取 %1：%2")
                         .arg(source, input.errorString());
            return false;
        }
        if (output.write(chunk) != chunk.size()) {
            *error = writeFailed.arg(target, output.errorString());
            return false;
        }
    }
    struct stat status;
    const mode_t mode = ::fstat(input.handle(), &status) == 0 ? (status.st_mode & 07777) : 0644;
    if (!output.flush() || ::fchmod(output.handle(), mode & 0777) != 0 ||
        ::fsync(output.handle()) != 0) {
        *error = writeFailed.arg(target, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    if (::rename(QFile::encodeName(output.fileName()).constData(),
                 QFile::encodeName(target).constData()) != 0) {
        *error = writeFailed.arg(target, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    output.setAutoRemove(false);
    syncDirectory(dir);
    return true;
}

// Appends to D/Upgrade/upgrade.log (or the fallback directory) and reports
// failures on standard error as well.
class Log
{
public:
    explicit Log(int language) : m_language(language) {}
    void setDir(const QString &dir)
    {
        if (!dir.isEmpty() && QDir().mkpath(dir))
            m_path = dir + QStringLiteral("/upgrade.log");
    }
    int language() const { return m_language; }
    void info(const QString &message) { append(message); }
    void fail(const QString &message)
    {
        std::fprintf(stderr, "Upgrade: %s\n", message.toLocal8Bit().constData());
        append(message);
    }

private:
    void append(const QString &message)
    {
        if (m_path.isEmpty())
            return;
        QFile file(m_path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
            return;
        const QString line = QDateTime::currentDateTime().toString(Qt::ISODate) + QLatin1Char(' ') +
                             message + QLatin1Char('\n');
        file.write(line.toUtf8());
    }

    int m_language;
    QString m_path;
};

// The program to start again when the arguments are not usable as a whole:
// D/<exe> from arguments 3 and 4, when it is there.
QString fallbackProgram(const QStringList &args)
{
    if (args.size() < 4 || args.at(0) != QLatin1String("upgrade") || !isPlainName(args.at(3)))
        return QString();
    const QString dir = existingDir(QDir::cleanPath(args.at(2)));
    if (dir.isEmpty())
        return QString();
    const QFileInfo exe(dir + QLatin1Char('/') + args.at(3));
    return exe.isFile() && exe.isExecutable() ? exe.absoluteFilePath() : QString();
}

bool startProgram(const QString &exe, Log &log)
{
    const int language = log.language();
    const QFileInfo info(exe);
    qint64 pid = 0;
    if (info.isFile() && info.isExecutable() &&
        QProcess::startDetached(exe, {}, info.absolutePath(), &pid)) {
        log.info(
            text(language, "Started %1 (process %2)", "已启动 %1（进程 %2）").arg(exe).arg(pid));
        return true;
    }
    log.fail(text(language, "Cannot start %1", "无法启动 %1").arg(exe));
    return false;
}

void waitForProgram(const QString &exe, const UpgradeInstaller::Options &options, Log &log)
{
    const int language = log.language();
    if (UpgradeInstaller::runningInstances(exe).isEmpty())
        return;
    log.info(text(language, "Waiting for %1 to exit", "等待 %1 退出").arg(exe));
    if (!UpgradeInstaller::waitForExit(exe, options.waitTimeoutMs, options.pollIntervalMs))
        log.info(text(language, "%1 is still running after %2 ms; installing anyway",
                      "%1 在 %2 毫秒后仍在运行，继续安装")
                     .arg(exe)
                     .arg(options.waitTimeoutMs));
}

} // namespace

namespace UpgradeInstaller {

bool parseArguments(const QStringList &args, Arguments *out, QString *error)
{
    const int language = languageOf(args);
    QString reason;
    Arguments parsed;
    QString restartDir;
    if (args.size() != 7) {
        reason = text(language, "Expected 7 arguments, got %1", "参数个数应为 7，实际为 %1")
                     .arg(args.size());
    } else if (args.at(0) != QLatin1String("upgrade")) {
        reason = text(language, "The first argument is not \"upgrade\": %1",
                      "第一个参数不是 \"upgrade\"：%1")
                     .arg(args.at(0));
    } else if (!isNumber(args.at(1), &parsed.expectedFiles)) {
        reason = text(language, "Invalid file count: %1", "文件数无效：%1").arg(args.at(1));
    } else if ((parsed.programDir = existingDir(QDir::cleanPath(args.at(2)))).isEmpty()) {
        reason =
            text(language, "Program directory not found: %1", "找不到程序目录：%1").arg(args.at(2));
    } else if (!isPlainName(args.at(3))) {
        reason =
            text(language, "Invalid program file name: %1", "程序文件名无效：%1").arg(args.at(3));
    } else if (!QFileInfo(parsed.programDir + QLatin1Char('/') + args.at(3)).isFile()) {
        reason = text(language, "Program not found: %1", "找不到程序：%1")
                     .arg(parsed.programDir + QLatin1Char('/') + args.at(3));
    } else if ((parsed.newFilesDir = existingDir(QDir::cleanPath(args.at(4)))).isEmpty()) {
        reason = text(language, "New files directory not found: %1", "找不到新文件目录：%1")
                     .arg(args.at(4));
    } else if (isInside(parsed.newFilesDir, parsed.programDir)) {
        reason = text(language, "The new files directory contains the program directory: %1",
                      "新文件目录包含程序目录：%1")
                     .arg(args.at(4));
    } else if ((restartDir = existingDir(QDir::cleanPath(args.at(5)))) != parsed.programDir) {
        reason = text(language, "The restart directory is not the program directory: %1",
                      "重启目录不是程序目录：%1")
                     .arg(args.at(5));
    } else if (!isNumber(args.at(6), &parsed.language)) {
        reason = text(language, "Invalid language number: %1", "语言编号无效：%1").arg(args.at(6));
    }
    if (!reason.isEmpty()) {
        if (error)
            *error = reason;
        return false;
    }
    parsed.exeName = args.at(3);
    *out = parsed;
    return true;
}

QList<qint64> runningInstances(const QString &executable)
{
    QString target = QFileInfo(executable).canonicalFilePath();
    if (target.isEmpty())
        target = QDir::cleanPath(QFileInfo(executable).absoluteFilePath());
    const QByteArray wanted = QFile::encodeName(target);
    const QByteArray deleted = wanted + " (deleted)";
    // A script runs as its interpreter, with the script's path among the first
    // arguments (after any option of the "#!" line).
    const bool script = isScript(target);
    const qint64 self = QCoreApplication::applicationPid();

    QList<qint64> pids;
    const QDir proc(QStringLiteral("/proc"));
    for (const QString &entry : proc.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        bool isPid = false;
        const qint64 pid = entry.toLongLong(&isPid);
        if (!isPid || pid == self)
            continue;
        const QString base = proc.filePath(entry);
        const QByteArray exe = readLink(base + QStringLiteral("/exe"));
        bool match = exe == wanted || exe == deleted;
        if (!match && script) {
            QFile cmdline(base + QStringLiteral("/cmdline"));
            if (!cmdline.open(QIODevice::ReadOnly))
                continue;
            const QList<QByteArray> argv = cmdline.readAll().split('\0');
            const QString cwd = QFile::decodeName(readLink(base + QStringLiteral("/cwd")));
            for (int i = 1; i < qMin(argv.size(), 3) && !match; ++i) {
                const QString arg = QFile::decodeName(argv.at(i));
                if (arg.isEmpty())
                    continue;
                const QString path = QDir::isAbsolutePath(arg) ? arg : cwd + QLatin1Char('/') + arg;
                match = QDir::cleanPath(path) == target ||
                        QFileInfo(path).canonicalFilePath() == target;
            }
        }
        if (match)
            pids << pid;
    }
    return pids;
}

bool waitForExit(const QString &executable, int timeoutMs, int pollIntervalMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!runningInstances(executable).isEmpty()) {
        if (timer.elapsed() >= timeoutMs)
            return false;
        QThread::msleep(ulong(qMax(1, pollIntervalMs)));
    }
    return true;
}

int countFiles(const QString &dir)
{
    int count = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        if (!it.fileInfo().isSymLink() && it.fileInfo().isFile())
            ++count;
    }
    return count;
}

CopyResult copyTree(const QString &from, const QString &to, int language)
{
    CopyResult result;
    const QString source = QFileInfo(from).canonicalFilePath();
    const QString root = QFileInfo(to).canonicalFilePath();
    if (source.isEmpty() || root.isEmpty() || !QFileInfo(source).isDir() ||
        !QFileInfo(root).isDir()) {
        result.ok = false;
        result.error = text(language, "Cannot copy %1 to %2", "无法将 %1 复制到 %2").arg(from, to);
        return result;
    }
    const QString prefix = source.endsWith(QLatin1Char('/')) ? source : source + QLatin1Char('/');
    // The whole list first: the new files usually lie below `to` themselves.
    QVector<QFileInfo> entries;
    QDirIterator it(source, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        it.next();
        entries << it.fileInfo();
    }
    for (const QFileInfo &info : qAsConst(entries)) {
        const QString path = info.filePath();
        const QString rel = path.mid(prefix.size());
        if (info.isSymLink() || (!info.isDir() && !info.isFile())) {
            ++result.skipped;
            result.notes << (info.isSymLink()
                                 ? text(language, "Skipped symbolic link %1", "跳过符号链接 %1")
                                 : text(language, "Skipped special file %1", "跳过特殊文件 %1"))
                                .arg(path);
            continue;
        }
        const int slash = rel.lastIndexOf(QLatin1Char('/'));
        const QString dirRel = info.isDir() ? rel : (slash < 0 ? QString() : rel.left(slash));
        const QString dir = makeDirInside(root, dirRel, language, &result.error);
        if (dir.isEmpty()) {
            result.ok = false;
            return result;
        }
        if (info.isDir())
            continue;
        const QString name = info.fileName();
        const QFileInfo target(dir + QLatin1Char('/') + name);
        if (!isPlainName(name) || (target.isDir() && !target.isSymLink())) {
            result.ok = false;
            result.error =
                text(language, "Cannot replace %1", "无法替换 %1").arg(target.filePath());
            return result;
        }
        if (!replaceFile(path, dir, name, language, &result.error)) {
            result.ok = false;
            return result;
        }
        ++result.copied;
    }
    return result;
}

int run(const QStringList &args, const Options &options)
{
    Log log(languageOf(args));
    const int language = log.language();
    Arguments parsed;
    QString error;
    if (!parseArguments(args, &parsed, &error)) {
        // Nothing is installed, but the program that started us is brought back.
        const QString exe = fallbackProgram(args);
        log.setDir(exe.isEmpty() ? options.fallbackLogDir
                                 : QFileInfo(exe).absolutePath() + QStringLiteral("/Upgrade"));
        log.fail(error);
        if (!exe.isEmpty()) {
            waitForProgram(exe, options, log);
            startProgram(exe, log);
        }
        return 1;
    }

    log.setDir(parsed.programDir + QStringLiteral("/Upgrade"));
    const QString exe = parsed.programDir + QLatin1Char('/') + parsed.exeName;
    log.info(text(language, "Installing %1 into %2", "正在将 %1 安装到 %2")
                 .arg(parsed.newFilesDir, parsed.programDir));
    waitForProgram(exe, options, log);

    const int found = countFiles(parsed.newFilesDir);
    if (found != parsed.expectedFiles)
        log.info(text(language, "Found %1 new files, expected %2", "找到 %1 个新文件，应为 %2 个")
                     .arg(found)
                     .arg(parsed.expectedFiles));
    const CopyResult copy = copyTree(parsed.newFilesDir, parsed.programDir, language);
    for (const QString &note : copy.notes)
        log.info(note);
    if (copy.ok)
        log.info(text(language, "Installed %1 files", "已安装 %1 个文件").arg(copy.copied));
    else
        log.fail(text(language, "Installation failed after %1 files: %2",
                      "安装失败（已安装 %1 个文件）：%2")
                     .arg(copy.copied)
                     .arg(copy.error));
    const bool started = startProgram(exe, log);
    return copy.ok && started ? 0 : 1;
}

} // namespace UpgradeInstaller

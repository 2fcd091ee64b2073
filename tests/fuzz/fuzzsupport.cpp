#include "fuzzsupport.h"

#include "main/apppaths.h"
#include "widget/fileproblems.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

int g_argc = 0;
// Never destroyed: the fuzzer ends the process with exit(), and Qt's own
// globals may be gone by the time a static application object would go.
QCoreApplication *g_app = nullptr;
std::unique_ptr<QTemporaryDir> g_dir;

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &) {}

} // namespace

namespace fuzz {

void init(int *argc, char ***argv)
{
    if (g_app)
        return;
    if (qEnvironmentVariableIntValue("LUMORY_FUZZ_LOG") == 0)
        qInstallMessageHandler(dropMessage);
    g_argc = *argc;
    g_app = new QCoreApplication(g_argc, *argv);
    // Every input is written to a file: memory-backed storage keeps that cheap.
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    const QString base = shm.isDir() && shm.isWritable() ? shm.filePath() : QDir::tempPath();
    g_dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/lumory-fuzz-XXXXXX"));
    if (!g_dir->isValid()) {
        std::fprintf(stderr, "fuzz: cannot create a scratch directory\n");
        std::abort();
    }
    QDir(g_dir->path()).mkpath(QStringLiteral("config"));
    AppPaths::setAppDir(g_dir->path());
    // Whatever the program would keep in the user's folders stays in the
    // scratch directory too.
    const QByteArray home = g_dir->path().toLocal8Bit();
    qputenv("HOME", home);
    qputenv("XDG_CONFIG_HOME", home + "/xdg-config");
    qputenv("XDG_DATA_HOME", home + "/xdg-data");
    qputenv("XDG_STATE_HOME", home + "/xdg-state");
}

QString appDir()
{
    return g_dir->path();
}

QString writeFile(const QString &relativePath, const uint8_t *data, size_t size)
{
    const QString path = g_dir->path() + QLatin1Char('/') + relativePath;
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size)) !=
            static_cast<qint64>(size)) {
        std::fprintf(stderr, "fuzz: cannot write %s\n", qPrintable(path));
        std::abort();
    }
    return path;
}

void resetProblems()
{
    FileProblems::instance().clear();
}

} // namespace fuzz

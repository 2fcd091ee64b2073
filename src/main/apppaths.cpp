#include "main/apppaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>

#include <unistd.h>

namespace {
QMutex g_mutex;
QString g_override;
int g_forced = -1;
// The directory the cached answer belongs to, and the answer.
QString g_checkedDir;
bool g_checkedWritable = true;

bool canWrite(const QString &dir)
{
    const QByteArray local = QFile::encodeName(dir);
    return ::access(local.constData(), W_OK | X_OK) == 0;
}

// An XDG base directory: the variable when it holds an absolute path, else
// the default below the home directory.
QString xdgDir(const char *variable, const QString &fallback)
{
    const QString value = qEnvironmentVariable(variable);
    if (!value.isEmpty() && QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::homePath() + QLatin1Char('/') + fallback;
}

QString userConfigDir()
{
    return xdgDir("XDG_CONFIG_HOME", QStringLiteral(".config")) + QStringLiteral("/Lumory/");
}

QString userDataDir()
{
    return xdgDir("XDG_DATA_HOME", QStringLiteral(".local/share")) + QStringLiteral("/Lumory");
}

QString userStateDir()
{
    return xdgDir("XDG_STATE_HOME", QStringLiteral(".local/state")) + QStringLiteral("/Lumory");
}
} // namespace

namespace AppPaths {

QString appDir()
{
    {
        QMutexLocker lock(&g_mutex);
        if (!g_override.isEmpty())
            return g_override;
    }
    return QCoreApplication::applicationDirPath();
}

void setAppDir(const QString &dir)
{
    QMutexLocker lock(&g_mutex);
    g_override = dir;
}

QString configDir()
{
    return appDir() + QStringLiteral("/config/");
}

QString imagesDir()
{
    return appDir() + QStringLiteral("/images/");
}

bool isAppDirWritable()
{
    const QString dir = appDir();
    QMutexLocker lock(&g_mutex);
    if (g_forced >= 0)
        return g_forced == 1;
    if (dir != g_checkedDir || g_checkedDir.isEmpty()) {
        const QString config = dir + QStringLiteral("/config");
        g_checkedWritable = qEnvironmentVariableIntValue("LUMORY_FORCE_READONLY_APPDIR") == 0 &&
                            canWrite(dir) && (!QFileInfo::exists(config) || canWrite(config));
        g_checkedDir = dir;
    }
    return g_checkedWritable;
}

void forceAppDirWritable(int writable)
{
    QMutexLocker lock(&g_mutex);
    g_forced = writable < 0 ? -1 : (writable ? 1 : 0);
    g_checkedDir.clear();
}

QString writableConfigDir()
{
    return isAppDirWritable() ? configDir() : userConfigDir();
}

QString dataDir()
{
    return isAppDirWritable() ? appDir() : userDataDir();
}

QString logDir()
{
    return isAppDirWritable() ? appDir() + QStringLiteral("/log")
                              : userStateDir() + QStringLiteral("/log");
}

QString downloadDir()
{
    return dataDir();
}

QString configFile(const QString &name)
{
    return readablePath(configDir() + name);
}

QString writablePath(const QString &path)
{
    if (isAppDirWritable())
        return path;
    const QString shipped = configDir();
    const QString clean = QDir::cleanPath(path);
    const QString root = QDir::cleanPath(shipped) + QLatin1Char('/');
    if (!clean.startsWith(root))
        return path;
    return userConfigDir() + clean.mid(root.size());
}

QString readablePath(const QString &path)
{
    const QString user = writablePath(path);
    if (user != path && QFileInfo::exists(user))
        return user;
    return path;
}

} // namespace AppPaths

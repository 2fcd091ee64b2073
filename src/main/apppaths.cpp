#include "main/apppaths.h"

#include <QCoreApplication>
#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex g_mutex;
QString g_override;
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

} // namespace AppPaths

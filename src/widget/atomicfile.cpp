#include "widget/atomicfile.h"

#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

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

} // namespace AtomicFile

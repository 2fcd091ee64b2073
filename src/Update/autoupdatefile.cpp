#include "Update/autoupdatefile.h"

#include "main/apppaths.h"
#include "widget/atomicfile.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>

namespace AutoUpdateFile {

QString defaultPath()
{
    return AppPaths::configDir() + QStringLiteral("AutoUpdate.xml");
}

bool read(const QString &requested, bool *on)
{
    // The user's copy of a shipped preference takes precedence.
    const QString path = AppPaths::readablePath(requested);
    QFile file(path);
    QDomDocument doc;
    if (!file.open(QIODevice::ReadOnly) || !doc.setContent(&file)) {
        qDebug() << "读取xml错误" << path;
        return false;
    }
    const QDomElement element = doc.documentElement()
                                    .firstChildElement(QStringLiteral("Update"))
                                    .firstChildElement(QStringLiteral("AutoUpdate"));
    const QString value = element.attribute(QStringLiteral("Auto"));
    qDebug() << "hx_usb_app=" << value;
    bool ok = false;
    const int state = value.trimmed().toInt(&ok);
    if (element.isNull() || !ok) {
        qDebug() << "读取xml错误" << path;
        return false;
    }
    *on = state != 0;
    return true;
}

bool write(const QString &requested, int checkState, QString *error)
{
    const QString path = AppPaths::writablePath(requested);
    QDomDocument doc;
    doc.appendChild(doc.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version='1.0' encoding='UTF-8'")));
    QDomElement root = doc.createElement(QStringLiteral("COMMAND"));
    doc.appendChild(root);
    QDomElement update = doc.createElement(QStringLiteral("Update"));
    root.appendChild(update);
    QDomElement autoUpdate = doc.createElement(QStringLiteral("AutoUpdate"));
    autoUpdate.setAttribute(QStringLiteral("Auto"), QString::number(checkState));
    update.appendChild(autoUpdate);

    QDir().mkpath(QFileInfo(path).absolutePath());
    // What the user had there is kept when it is not ours to overwrite.
    AtomicFile::setAsideBrokenXml(path);
    return AtomicFile::write(path, doc.toByteArray(4), error);
}

} // namespace AutoUpdateFile

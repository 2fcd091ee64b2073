#include "widget/menutreedata.h"

#include "main/apppaths.h"
#include "widget/atomicfile.h"
#include "widget/fileproblems.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamWriter>

namespace {
bool flag(const QDomElement &element, const QString &name)
{
    return element.attribute(name).toUInt() != 0;
}

QString bit(bool value)
{
    return value ? QStringLiteral("1") : QStringLiteral("0");
}
} // namespace

bool MenuTreeData::read(const QString &requested)
{
    *this = MenuTreeData();
    // The user's copy of a shipped preference takes precedence.
    const QString path = AppPaths::readablePath(requested);
    QFile file(path);
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "Parse menutree XML error, DomDocument is NULL.";
        if (file.exists()) // missing is a first start
            FileProblems::report(path, 0, 0, file.errorString());
        return false;
    }
    const QByteArray content = file.readAll();
    if (!doc.setContent(content, &message, &line, &column)) {
        qWarning() << "Parse menutree XML error, DomDocument is NULL.";
        // An empty file holds nothing to lose; anything else stays as it is
        // (the next save sets it aside) and the user is told.
        if (!content.trimmed().isEmpty())
            FileProblems::report(path, line, column, message);
        return false;
    }
    for (QDomElement e = doc.documentElement().firstChildElement(); !e.isNull();
         e = e.nextSiblingElement()) {
        const QString tag = e.tagName();
        if (tag == QLatin1String("setting")) {
            autoStart = flag(e, QStringLiteral("auto_start"));
        } else if (tag == QLatin1String("layout_version")) {
            layoutMac = flag(e, QStringLiteral("MacOS"));
            layoutWin = flag(e, QStringLiteral("Windows"));
            layoutAuto = flag(e, QStringLiteral("Automatic"));
        } else if (tag == QLatin1String("webDownload")) {
            webDownload = e.attribute(QStringLiteral("web"));
        } else if (tag == QLatin1String("webHelp")) {
            webHelp = e.attribute(QStringLiteral("web"));
        }
    }
    return true;
}

int MenuTreeData::write(const QString &requested) const
{
    // A shipped preference in a read-only program folder is saved as the
    // user's copy.
    const QString path = AppPaths::writablePath(requested);
    QByteArray data;
    QXmlStreamWriter xml(&data);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeProcessingInstruction(QStringLiteral("xml"),
                                   QStringLiteral("version = '1.0' encoding = 'UTF-8'"));
    xml.writeStartElement(QStringLiteral("COMMAND"));
    xml.writeStartElement(QStringLiteral("setting"));
    xml.writeAttribute(QStringLiteral("auto_start"), bit(autoStart));
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("layout_version"));
    xml.writeAttribute(QStringLiteral("MacOS"), bit(layoutMac));
    xml.writeAttribute(QStringLiteral("Windows"), bit(layoutWin));
    xml.writeAttribute(QStringLiteral("Automatic"), bit(layoutAuto));
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("webDownload"));
    xml.writeAttribute(QStringLiteral("web"), webDownload);
    xml.writeEndElement();
    xml.writeStartElement(QStringLiteral("webHelp"));
    xml.writeAttribute(QStringLiteral("web"), webHelp);
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    // Auto-formatting puts a newline before the declaration; the file starts with it.
    if (data.startsWith('\n'))
        data.remove(0, 1);

    // The user's folder is made on the first save; the program's own is not.
    if (path != requested)
        QDir().mkpath(QFileInfo(path).absolutePath());
    AtomicFile::setAsideBrokenXml(path);
    if (!AtomicFile::write(path, data)) {
        qWarning() << "menu tree save；return -2";
        return -2;
    }
    return 0;
}

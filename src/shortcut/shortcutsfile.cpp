#include "shortcut/shortcutsfile.h"

#include "widget/atomicfile.h"
#include "widget/fileproblems.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

QVector<STCTS> createShortcutsLocalData(const kf_t *table, int count, const QVector<KF> &catalogue)
{
    QVector<STCTS> list;
    for (int i = 0; table && i < count; ++i) {
        if (!table[i].inUse())
            continue;
        STCTS s;
        s.id = table[i].id();
        s.hi = table[i].hi();
        s.type = static_cast<quint32>(kfControlType(catalogue, int(s.hi)));
        list.append(s);
    }
    return list;
}

namespace ShortcutsFile {
namespace {
bool isItemName(const QStringRef &tag)
{
    if (tag.size() < 5 || !tag.startsWith(QLatin1String("item")))
        return false;
    for (int i = 4; i < tag.size(); ++i) {
        if (!tag.at(i).isDigit())
            return false;
    }
    return true;
}

// Reads one item element (the reader stands on its start); false when its
// id or hi is not a number, so it cannot be matched to an entry.
bool readItem(QXmlStreamReader &xml, Item *item)
{
    const QXmlStreamAttributes a = xml.attributes();
    bool idOk = false;
    bool hiOk = false;
    item->id = a.value(QLatin1String("id")).trimmed().toUInt(&idOk);
    item->hi = int(a.value(QLatin1String("hi")).trimmed().toUInt(&hiOk));
    item->hitype = a.value(QLatin1String("hitype")).trimmed().toInt();
    for (int i = 0; i < 4; ++i)
        item->btn[i] = a.value(QStringLiteral("btn%1").arg(i)).toString();
    while (xml.readNextStartElement()) {
        const QStringRef tag = xml.name();
        const QXmlStreamAttributes c = xml.attributes();
        if (tag == QLatin1String("Website")) {
            item->text = c.value(QLatin1String("web")).toString();
        } else if (tag == QLatin1String("DocApp") || tag == QLatin1String("FileFolder")) {
            item->text = c.value(QLatin1String("dir")).toString();
        } else if (tag == QLatin1String("LEDBrightness")) {
            bool ok = false;
            const int index = c.value(QLatin1String("index")).trimmed().toInt(&ok);
            item->ledIndex = ok ? index : -1;
        } else if (tag == QLatin1String("ReplaceKey") || tag == QLatin1String("LockKey")) {
            for (int i = 0; i < 9; ++i)
                item->keyList[i] = c.value(QStringLiteral("b%1").arg(i)).toString();
        } else if (tag == QLatin1String("Macro")) {
            item->macroName = c.value(QLatin1String("menuid")).toString();
            item->macroCount = c.value(QLatin1String("number")).trimmed().toInt();
        }
        xml.skipCurrentElement();
    }
    return idOk && hiOk;
}

// Parses the file; `report` sends a broken one to FileProblems.
LoadStatus parse(const QString &path, QVector<Item> *items, bool report)
{
    items->clear();
    QFile file(path);
    if (!file.exists())
        return LoadStatus::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Open XML file failed:" << path << file.errorString();
        if (report)
            FileProblems::report(path, 0, 0, file.errorString());
        return LoadStatus::UnreadableKept;
    }
    if (file.size() == 0)
        return LoadStatus::Missing;
    QXmlStreamReader xml(&file);
    if (xml.readNextStartElement()) {
        if (xml.name() != QLatin1String("shortcuts"))
            xml.raiseError(QStringLiteral("the document element is not <shortcuts>"));
        while (!xml.hasError() && xml.readNextStartElement()) {
            Item item;
            if (isItemName(xml.name()) && readItem(xml, &item))
                items->append(item);
            else if (!xml.isEndElement())
                xml.skipCurrentElement();
        }
    }
    if (xml.hasError()) {
        FileProblems::reportXml(path, xml, report);
        return LoadStatus::UnreadableKept;
    }
    return LoadStatus::Ok;
}
} // namespace

LoadStatus load(const QString &path, QVector<Item> *items)
{
    return parse(path, items, true);
}

LoadStatus fillStrings(const QString &path, QVector<STCTS> *stcts)
{
    QVector<Item> items;
    const LoadStatus status = load(path, &items);
    for (const Item &item : qAsConst(items)) {
        if (item.text.isEmpty())
            continue;
        for (STCTS &s : *stcts) {
            if (s.id == item.id && s.hi == quint32(item.hi)) {
                s.str = item.text;
                qDebug().noquote() << "id=" << s.id << "stcts.str=" << s.str;
                break;
            }
        }
    }
    return status;
}

bool isUnreadable(const QString &path)
{
    QVector<Item> items;
    return parse(path, &items, false) == LoadStatus::UnreadableKept;
}

SaveStatus save(const QString &path, const QVector<Item> &items, QString *error)
{
    if (isUnreadable(path)) {
        if (error)
            *error = QStringLiteral("%1 is not a shortcuts file; it is kept as it is").arg(path);
        return SaveStatus::KeptUnreadable;
    }
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeStartElement(QStringLiteral("shortcuts"));
    for (int n = 0; n < items.size(); ++n) {
        const Item &item = items.at(n);
        xml.writeStartElement(QStringLiteral("item%1").arg(n));
        xml.writeAttribute(QStringLiteral("id"), QString::number(item.id));
        for (int i = 0; i < 4; ++i)
            xml.writeAttribute(QStringLiteral("btn%1").arg(i), item.btn[i]);
        xml.writeAttribute(QStringLiteral("hi"), QString::number(item.hi));
        xml.writeAttribute(QStringLiteral("hitype"), QString::number(item.hitype));
        switch (item.hitype) {
        case E_SCT_WEB:
            xml.writeStartElement(QStringLiteral("Website"));
            xml.writeAttribute(QStringLiteral("web"), item.text);
            xml.writeEndElement();
            break;
        case E_SCT_DOCAPP:
        case E_SCT_FOLDER:
            xml.writeStartElement(
                QLatin1String(item.hitype == E_SCT_DOCAPP ? "DocApp" : "FileFolder"));
            xml.writeAttribute(QStringLiteral("dir"), item.text);
            xml.writeEndElement();
            break;
        case E_SCT_LEDBRI:
            xml.writeStartElement(QStringLiteral("LEDBrightness"));
            if (item.ledIndex != -1)
                xml.writeAttribute(QStringLiteral("index"), QString::number(item.ledIndex));
            xml.writeEndElement();
            break;
        case E_SCT_REPKEY:
        case E_SCT_LOCKKEY:
            xml.writeStartElement(
                QLatin1String(item.hitype == E_SCT_REPKEY ? "ReplaceKey" : "LockKey"));
            for (int i = 0; i < 9; ++i) {
                if (!item.keyList[i].isEmpty() && item.keyList[i] != QLatin1String(" "))
                    xml.writeAttribute(QStringLiteral("b%1").arg(i), item.keyList[i]);
            }
            xml.writeEndElement();
            break;
        case E_SCT_MACRO:
            xml.writeStartElement(QStringLiteral("Macro"));
            xml.writeAttribute(QStringLiteral("menuid"), item.macroName);
            xml.writeAttribute(QStringLiteral("number"), QString::number(item.macroCount));
            xml.writeEndElement();
            break;
        default:
            break;
        }
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndDocument();
    // The writer would indent the declaration; it has to open the file.
    bytes =
        QByteArrayLiteral("<?xml version = '1.0' encoding = 'UTF-8'?>\n") + bytes.trimmed() + '\n';
    return AtomicFile::write(path, bytes, error) ? SaveStatus::Saved : SaveStatus::WriteFailed;
}

} // namespace ShortcutsFile

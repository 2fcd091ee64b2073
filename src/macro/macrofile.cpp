#include "macro/macrofile.h"

#include "macro/macrocodec.h"
#include "widget/atomicfile.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

namespace MacroFile {
namespace {

const QLatin1String kRoot("MACRO");
const QLatin1String kItem("ITEM");
const QLatin1String kKey("KEY");

// n of "KEY<n>" written as a plain decimal number (no sign, no leading zero,
// no space); -1 for any other KEY... name.
int keyNumber(const QStringRef &name)
{
    const QStringRef digits = name.mid(kKey.size());
    if (digits.isEmpty() || digits.size() > 9 || (digits.size() > 1 && digits.at(0) == '0'))
        return -1;
    for (const QChar c : digits) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return -1;
    }
    return digits.toInt();
}

// One attribute of a KEY element: missing or empty reads as 0. False, with
// the reason in `why`, for text that is not a number or a value outside
// 0 .. max.
bool attribute(const QXmlStreamAttributes &attrs, QLatin1String name, int base, qint64 max,
               qint64 *value, QString *why)
{
    const QString raw = attrs.value(name).toString();
    const QString text = raw.trimmed();
    *value = 0;
    if (text.isEmpty())
        return true;
    bool ok = false;
    const qlonglong v = text.toLongLong(&ok, base);
    if (!ok) {
        *why = QStringLiteral("%1=\"%2\" is not a number").arg(name).arg(raw);
        return false;
    }
    if (v < 0 || v > max) {
        *why = QStringLiteral("%1=\"%2\" is out of range").arg(name).arg(raw);
        return false;
    }
    *value = v;
    return true;
}

struct Child
{
    QString name;
    QXmlStreamAttributes attrs;
    int line = 0;
    int column = 0;
};

// Turns one KEY element into an event; false (with the reason) when one of
// its values does not fit.
bool toEvent(const QXmlStreamAttributes &attrs, DataKey *event, QString *why)
{
    qint64 status = 0, code = 0, type = 0, stype = 0, delay = 0;
    if (!attribute(attrs, QLatin1String("status"), 10, DataKey::kDown, &status, why) ||
        !attribute(attrs, QLatin1String("code"), 16, 0xFFFF, &code, why) ||
        !attribute(attrs, QLatin1String("type"), 10, kMaxType, &type, why) ||
        !attribute(attrs, QLatin1String("stype"), 10, kMaxStype, &stype, why) ||
        !attribute(attrs, QLatin1String("delay"), 10, DataKey::kMaxDelay, &delay, why))
        return false;
    *event =
        DataKey(int32_t(status), uint16_t(delay), uint16_t(code), uint16_t(type), uint16_t(stype));
    return true;
}

// Skipped elements logged one by one; the rest are only counted.
constexpr int kLoggedSkips = 10;

void skip(const QString &path, const Child &child, const QString &why, ReadReport *report)
{
    if (report->skipped < kLoggedSkips)
        qWarning().noquote() << "macro file" << QStringLiteral("%1:%2:").arg(path).arg(child.line)
                             << child.name << "skipped:" << why;
    if (report->skipped++ == 0) {
        report->line = child.line;
        report->column = child.column;
        report->what = child.name + QStringLiteral(": ") + why;
    }
}

// Reads one ITEM (the reader stands on its start). Its children are taken
// first, because the KEY numbers allowed depend on how many there are.
void readItem(QXmlStreamReader &xml, const QString &path, QVector<DataKey> *events,
              ReadReport *report)
{
    QVector<Child> children;
    while (xml.readNextStartElement()) {
        children.append({xml.name().toString(), xml.attributes(), int(xml.lineNumber()),
                         int(xml.columnNumber())});
        xml.skipCurrentElement();
    }
    if (xml.hasError())
        return;
    for (const Child &child : qAsConst(children)) {
        if (!child.name.startsWith(kKey))
            continue;
        const int n = keyNumber(QStringRef(&child.name));
        if (n < 0 || n >= children.size()) {
            skip(path, child, QStringLiteral("no KEY number from 0 to %1").arg(children.size() - 1),
                 report);
            continue;
        }
        DataKey event;
        QString why;
        if (toEvent(child.attrs, &event, &why))
            events->append(event);
        else
            skip(path, child, why, report);
    }
}

// Whether a write to `path` lands in `inside` (a canonical folder): a
// symbolic link is followed by the atomic write, so every link of the chain
// must point into the folder, and the chain must end.
bool staysInside(const QString &path, const QString &inside)
{
    QFileInfo info(path);
    for (int hops = 0; info.isSymLink(); ++hops) {
        const QString target = info.symLinkTarget();
        const QString dir = QFileInfo(QFileInfo(target).absolutePath()).canonicalFilePath();
        if (hops == 16 || target.isEmpty() || dir != inside)
            return false;
        info = QFileInfo(target);
    }
    return true;
}

} // namespace

QString ReadReport::location() const
{
    if (what.isEmpty() || line == 0)
        return what;
    return QStringLiteral("%1:%2: %3").arg(line).arg(column).arg(what);
}

SaveStatus save(const QString &path, int id, const QVector<DataKey> &events, QString *error)
{
    if (path.isEmpty()) {
        if (error)
            *error = QStringLiteral("no file name");
        return SaveStatus::WriteFailed;
    }
    QByteArray bytes;
    QXmlStreamWriter xml(&bytes);
    xml.setAutoFormatting(true);
    xml.setAutoFormattingIndent(4);
    xml.writeStartElement(kRoot);
    xml.writeStartElement(kItem);
    xml.writeAttribute(QStringLiteral("id"), QString::number(id));
    for (int i = 0; i < events.size(); ++i) {
        const DataKey &e = events.at(i);
        xml.writeStartElement(kKey + QString::number(i));
        xml.writeAttribute(QStringLiteral("status"),
                           QString::number(e.isDown() ? DataKey::kDown : DataKey::kUp));
        xml.writeAttribute(QStringLiteral("code"), QString::number(e.code, 16));
        xml.writeAttribute(QStringLiteral("type"), QString::number(e.type));
        xml.writeAttribute(QStringLiteral("stype"), QString::number(e.stype));
        xml.writeAttribute(QStringLiteral("delay"), QString::number(e.delay));
        xml.writeEndElement();
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();
    // The writer would indent the declaration; it has to open the file.
    bytes =
        QByteArrayLiteral("<?xml version = '1.0' encoding = 'UTF-8'?>\n") + bytes.trimmed() + '\n';
    return AtomicFile::write(path, bytes, error) ? SaveStatus::Saved : SaveStatus::WriteFailed;
}

bool ensureFolder(const QString &folder)
{
    if (folder.isEmpty())
        return false;
    const QFileInfo info(folder);
    if (info.isDir())
        return true;
    if (info.exists() || info.isSymLink()) {
        qWarning().noquote() << "The macro folder" << folder << "is not a folder";
        return false;
    }
    qDebug().noquote() << QStringLiteral("文件夹  不存在，创建。") << folder;
    if (!QDir().mkpath(folder)) {
        qWarning().noquote() << "Cannot create the macro folder" << folder;
        return false;
    }
    return true;
}

int read(const QString &path, QVector<DataKey> *events, ReadReport *report)
{
    ReadReport local;
    ReadReport &r = report ? *report : local;
    r = ReadReport();
    events->clear();

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        r.content = ReadReport::Content::Unopenable;
        r.what = file.errorString();
        qWarning().noquote() << "Open macro file failed:" << path << r.what;
        return kCannotOpen;
    }
    QXmlStreamReader xml(&file);
    QVector<DataKey> found;
    bool sawRoot = false;
    bool notMacro = false;
    if (xml.readNextStartElement()) {
        sawRoot = true;
        if (xml.name() != kRoot) {
            notMacro = true;
            xml.raiseError(QStringLiteral("the document element is not <MACRO>"));
        }
        while (!xml.hasError() && xml.readNextStartElement()) {
            if (xml.name() == kItem)
                readItem(xml, path, &found, &r);
            else
                xml.skipCurrentElement();
        }
    }
    // What follows the document element must be well-formed, too.
    while (!xml.hasError() && !xml.atEnd())
        xml.readNext();

    if (xml.hasError()) {
        if (notMacro)
            r.content = ReadReport::Content::NotMacro;
        else if (!sawRoot && xml.error() == QXmlStreamReader::PrematureEndOfDocumentError)
            r.content = ReadReport::Content::Empty;
        else
            r.content = ReadReport::Content::Unparsable;
        r.line = int(xml.lineNumber());
        r.column = int(xml.columnNumber());
        r.what = xml.errorString();
        r.skipped = 0;
        qWarning().noquote() << "read macro file" << path;
        qWarning().noquote() << "parse file  macro.xml failed:" << r.line << "-" << r.column << ":"
                             << r.what;
        return kUnparsable;
    }
    if (r.skipped > kLoggedSkips)
        qWarning().noquote() << "macro file" << path << ":" << r.skipped << "KEY elements skipped";
    r.frames = MacroCodec::framesNeeded(found);
    *events = found;
    return kRead;
}

bool isPlainName(const QString &macroName)
{
    if (macroName.isEmpty() || macroName == QLatin1String(".") || macroName == QLatin1String(".."))
        return false;
    for (const QChar c : macroName) {
        // Other_Control: NUL and the other C0 and C1 controls, and DEL.
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c.category() == QChar::Other_Control)
            return false;
    }
    const QByteArray local = macroName.toLocal8Bit();
    return local.size() <= 16 && QString::fromLocal8Bit(local) == macroName;
}

QString fileNameFor(const QString &macroName, int slotId)
{
    if (isPlainName(macroName))
        return macroName + QStringLiteral(".xml");
    return QStringLiteral("Macro%1.xml").arg(slotId);
}

QString pathIn(const QString &folder, const QString &macroName, int slotId)
{
    if (folder.isEmpty())
        return QString();
    const QString dir = QDir::cleanPath(QDir(folder).absolutePath());
    const QString path = QDir::cleanPath(QDir(dir).filePath(fileNameFor(macroName, slotId)));
    if (QFileInfo(path).absolutePath() != dir) {
        qWarning().noquote() << "The macro file" << path << "is not in" << dir;
        return QString();
    }
    if (!staysInside(path, QFileInfo(dir).canonicalFilePath())) {
        qWarning().noquote() << "The macro file" << path << "links out of" << dir;
        return QString();
    }
    return path;
}

bool renameFile(const QString &folder, const QString &oldName, int oldId, const QString &newName,
                int newId)
{
    const QString from = pathIn(folder, oldName, oldId);
    const QString to = pathIn(folder, newName, newId);
    if (from.isEmpty() || to.isEmpty())
        return false;
    const QFileInfo old(from);
    if (from == to || (!old.exists() && !old.isSymLink()))
        return true;
    if (!old.isFile())
        return false;
    const QFileInfo taken(to);
    if (taken.exists() || taken.isSymLink()) {
        qWarning().noquote() << "Cannot rename" << from << "to" << to << ": the name is taken";
        return false;
    }
    if (!QFile::rename(from, to)) {
        qWarning().noquote() << "Cannot rename" << from << "to" << to;
        return false;
    }
    return true;
}

bool removeFile(const QString &folder, const QString &macroName, int slotId)
{
    const QString path = pathIn(folder, macroName, slotId);
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (!info.isFile())
        return false;
    if (!QFile::remove(path)) {
        qWarning().noquote() << "Cannot delete" << path;
        return false;
    }
    return true;
}

} // namespace MacroFile

// Layout files (Keyboard Layout Editor JSON), static key tables and the
// custom colour list: the parsers of class Data that describe drawn keys.
#include "widget/data.h"

#include "device/wirerecords.h"
#include "main/apppaths.h"
#include "widget/fileproblems.h"
#include "widget/keydesc.h"
#include "widget/menutreedata.h"

#include <QDebug>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>
#include <QXmlStreamReader>

#include <cmath>

namespace {

// Layout values beyond this many units are not a keyboard; they are ignored
// so that no later pixel conversion can overflow.
constexpr double kMaxLayoutUnits = 1000.0;

// The properties of the next key of a layout row.
struct PendingKey
{
    double w = 1;
    double h = 1;
    double x2 = 0;
    double y2 = 0;
    double w2 = 0;
    double h2 = 0;
};

// A property value of a layout JSON object, or false when it is not a
// usable number (it is then ignored and the pending value stays).
bool layoutNumber(const QJsonObject &object, const QString &member, double *value)
{
    const QJsonValue v = object.value(member);
    if (v.isUndefined())
        return false;
    const double d = v.toDouble(std::nan(""));
    if (!v.isDouble() || !std::isfinite(d) || std::fabs(d) > kMaxLayoutUnits) {
        qWarning().noquote() << "Layout JSON: ignored property" << member << v;
        return false;
    }
    *value = d;
    return true;
}

// A 16-bit attribute of a static key table: hexadecimal for code, decimal
// otherwise. Missing or empty gives 0; anything unreadable gives 0 and a log line.
uint16_t tableNumber(const QXmlStreamAttributes &attributes, const char *name, int base)
{
    const QString text = attributes.value(QLatin1String(name)).toString().trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const uint value = text.toUInt(&ok, base);
    if (!ok || value > 0xFFFF) {
        qWarning().noquote() << "Static key table: unreadable" << name << "attribute" << text;
        return 0;
    }
    return static_cast<uint16_t>(value);
}

// Line and column (both from 1) of a byte offset into a UTF-8 text.
void textPosition(const QByteArray &text, int offset, int *line, int *column)
{
    offset = qBound(0, offset, int(text.size()));
    const int lineStart = offset > 0 ? text.lastIndexOf('\n', offset - 1) + 1 : 0;
    *line = int(text.left(lineStart).count('\n')) + 1;
    *column = int(QString::fromUtf8(text.mid(lineStart, offset - lineStart)).size()) + 1;
}

// Reports a file that cannot be opened (an empty name has nothing to say).
void reportUnopened(const QFile &file)
{
    if (!file.fileName().isEmpty())
        FileProblems::report(file.fileName(), 0, 0, file.errorString());
}

// Reports the error a stream reader stopped at, if any.
void reportXmlError(const QXmlStreamReader &xml, const QString &path)
{
    if (!xml.hasError())
        return;
    qWarning().noquote() << xml.errorString();
    FileProblems::report(path, int(xml.lineNumber()), int(xml.columnNumber()), xml.errorString());
}

bool isCodedKey(const QXmlStreamReader &xml)
{
    return xml.isStartElement() && xml.name() == QLatin1String("key") &&
           !xml.attributes().value(QLatin1String("code")).isEmpty();
}

} // namespace

bool Data::parseJsonFileForFix(QVector<KeyDesc> *keys, const QString &fileName, QString *path)
{
    QString filePath;
    if (!fileName.isEmpty()) {
        filePath = AppPaths::configDir() + fileName;
        if (path)
            *path = filePath;
    } else if (path) {
        filePath = *path;
    }

    if (!keys) {
        qWarning() << "Layout JSON: no key vector to fill.";
        return false;
    }
    QFile file(filePath);
    if (filePath.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Open JSON failed:" << filePath;
        reportUnopened(file);
        return false;
    }
    const QByteArray bytes = file.readAll();
    file.close();

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (doc.isNull() || error.error != QJsonParseError::NoError) {
        qWarning() << "Parse JSON failed.";
        int line = 0;
        int column = 0;
        // The parser's offset lies just past the character it stopped at.
        textPosition(bytes, error.offset - 1, &line, &column);
        qDebug().noquote() << filePath << line << column << error.errorString();
        FileProblems::report(filePath, line, column, error.errorString());
        return true;
    }
    if (!doc.isArray()) {
        FileProblems::report(filePath, 1, 1, QStringLiteral("not an array of key rows"));
        return true;
    }

    // The cursors stay within the same bounds as single values, however many
    // offsets a file adds up.
    bool clamped = false;
    auto bounded = [&clamped](double value) {
        if (std::fabs(value) <= kMaxLayoutUnits)
            return value;
        clamped = true;
        return std::copysign(kMaxLayoutUnits, value);
    };
    double y = 0;
    for (const QJsonValue &element : doc.array()) {
        if (element.isArray()) {
            double x = 0;
            PendingKey pending;
            for (const QJsonValue &item : element.toArray()) {
                if (item.isObject()) {
                    const QJsonObject props = item.toObject();
                    double v = 0;
                    if (layoutNumber(props, QStringLiteral("x"), &v))
                        x = bounded(x + v);
                    if (layoutNumber(props, QStringLiteral("y"), &v))
                        y = bounded(y + v); // stays added for the later rows
                    if (layoutNumber(props, QStringLiteral("x2"), &v))
                        pending.x2 = bounded(pending.x2 + v);
                    if (layoutNumber(props, QStringLiteral("y2"), &v))
                        pending.y2 = bounded(pending.y2 + v);
                    layoutNumber(props, QStringLiteral("w"), &pending.w);
                    layoutNumber(props, QStringLiteral("h"), &pending.h);
                    layoutNumber(props, QStringLiteral("w2"), &pending.w2);
                    layoutNumber(props, QStringLiteral("h2"), &pending.h2);
                } else if (item.isString()) {
                    KeyDesc key;
                    key.legend = item.toString();
                    key.x = x;
                    key.y = y;
                    key.w = pending.w;
                    key.h = pending.h;
                    key.x2 = pending.x2;
                    key.y2 = pending.y2;
                    key.w2 = pending.w2;
                    key.h2 = pending.h2;
                    keys->append(key);
                    x = bounded(x + pending.w);
                    pending = PendingKey();
                }
            }
        }
        // Every top-level element takes a row, also a leading metadata object.
        y = bounded(y + 1);
    }
    if (clamped)
        qWarning().noquote() << "Layout JSON: positions beyond" << kMaxLayoutUnits
                             << "units were held at that bound in" << filePath;
    return true;
}

bool Data::parseStaticXML(QVector<KeyDesc> *keys, const QString &fileName)
{
    qDebug().noquote() << "parse static XML file:" << fileName;
    QFile file(AppPaths::configDir() + fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Open static XML file failed:" << fileName;
        if (!fileName.isEmpty())
            reportUnopened(file);
        return false;
    }
    QXmlStreamReader xml(&file);
    int index = 0;
    int ignored = 0;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!isCodedKey(xml))
            continue;
        // A table longer than the layout labels only the keys that exist.
        if (!keys || index >= keys->size()) {
            ++ignored;
            continue;
        }
        const QXmlStreamAttributes a = xml.attributes();
        KeyDesc &key = (*keys)[index++];
        key.code = tableNumber(a, "code", 16);
        key.type = tableNumber(a, "type", 10);
        key.stype = tableNumber(a, "stype", 10);
        key.name = a.value(QLatin1String("name")).toString();
        key.setImage(a.value(QLatin1String("image")).toString());
        key.alias = a.value(QLatin1String("alias")).toString();
    }
    if (ignored > 0) {
        qWarning().noquote() << "Static key table" << fileName << "has" << ignored
                             << "more coded key elements than the layout has keys (" << index
                             << "); the extra ones are ignored.";
    }
    reportXmlError(xml, file.fileName());
    return true;
}

bool Data::parseStaticXML(StaticKeyLabel *key, const QString &fileName)
{
    QFile file(AppPaths::configDir() + fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Open static XML file failed:" << fileName;
        if (!fileName.isEmpty())
            reportUnopened(file);
        return false;
    }
    if (!key)
        return true;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!isCodedKey(xml))
            continue;
        const QXmlStreamAttributes a = xml.attributes();
        if (tableNumber(a, "code", 16) != key->code || tableNumber(a, "type", 10) != key->type ||
            tableNumber(a, "stype", 10) != key->stype)
            continue;
        key->name = a.value(QLatin1String("name")).toString();
        key->alias = a.value(QLatin1String("alias")).toString();
        key->image = a.value(QLatin1String("image")).toString();
        return true;
    }
    reportXmlError(xml, file.fileName());
    return true;
}

QString Data::staticTableFor(bool layoutMac, bool layoutWin, bool layoutAuto) const
{
    if (layoutMac)
        return m_xmlMac;
    if (layoutWin || layoutAuto)
        return m_xmlWin;
    return QString();
}

QString Data::currentStaticTable() const
{
    MenuTreeData prefs;
    prefs.read(AppPaths::configDir() + QStringLiteral("menutree.xml"));
    return staticTableFor(prefs.layoutMac, prefs.layoutWin, prefs.layoutAuto);
}

bool Data::parseStaticKeyBtn(QVector<KeyDesc> *keys)
{
    QVector<BoardInfo *> boards;
    if (!parseConfigXML(&boards, QStringLiteral("config.xml")))
        return false;
    QString path;
    if (!parseJsonFileForFix(keys, m_json, &path))
        return false;
    const QString table = currentStaticTable();
    if (table.isEmpty()) {
        qDebug() << "No layout version is set; the static keys stay unlabelled.";
        return true;
    }
    parseStaticXML(keys, table);
    return true;
}

bool Data::selectStaticKey(StaticKeyLabel *key)
{
    // The macro key needs only the table; the static layout adds nothing to it.
    QVector<BoardInfo *> boards;
    if (!parseConfigXML(&boards, QStringLiteral("config.xml")))
        return false;
    const QString table = currentStaticTable();
    if (table.isEmpty())
        return true;
    return parseStaticXML(key, table);
}

KeyDesc *Data::selectStaticBtn(KeyDesc *target, const kc_t &record, const QVector<KeyDesc> *statics)
{
    if (!statics) {
        qWarning() << "Select static btn failed, static key tab is NULL.";
        return target;
    }
    if (!target)
        return target;
    for (const KeyDesc &key : *statics) {
        if (!key.matches(record))
            continue;
        target->image = key.image;
        target->legend = key.legend;
        target->code = key.code;
        target->stype = key.stype;
        target->type = key.type;
        target->alias = key.alias;
        target->name = key.name;
        target->vectorIndex = key.vectorIndex;
        return target;
    }
    target->type = 0;
    target->stype = 0;
    target->code = 0;
    target->name = QStringLiteral(" ");
    target->alias = QStringLiteral(" ");
    // A picture left from the earlier key would still be drawn (it wins over
    // the name), so the key would look assigned while it is not.
    target->image.clear();
    target->vectorIndex = -1;
    qWarning() << "error ! btn select not static key: "
               << "ty=" << int(record.type()) << "sty=" << int(record.stype())
               << "co=" << record.code();
    return target;
}

QString Data::indexToLetters(int index)
{
    // Bijective base 26: A..Z, AA..ZZ, AAA.. (the two-letter range is
    // 'A' + (n / 26 - 1) followed by 'A' + n % 26).
    QString letters;
    for (int n = index; n >= 0; n = n / 26 - 1)
        letters.prepend(QChar(QLatin1Char(char('A' + n % 26))));
    return letters;
}

bool Data::parseStaticColorXML(QStringList *names, const QString &fileName)
{
    QFile file(AppPaths::configDir() + QStringLiteral("customcolor/") + fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Open custom color XML file failed:" << file.fileName();
        if (!fileName.isEmpty())
            reportUnopened(file);
        return false;
    }
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("color"))
            continue;
        const QString name = xml.attributes().value(QLatin1String("name")).toString();
        if (!name.isEmpty() && names)
            names->append(name);
    }
    reportXmlError(xml, file.fileName());
    return true;
}

bool Data::CheckoutFileFormat(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    file.close();
    return true;
}

int Data::keySpacing()
{
    return 2;
}

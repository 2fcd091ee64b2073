#include "color/customcolors.h"

#include "main/apppaths.h"
#include "widget/atomicfile.h"
#include "widget/fileproblems.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>

#include <cctype>

namespace CustomColors {

namespace {
QString key(int index)
{
    return QStringLiteral("customColor_") + QString::number(index);
}

// Line and column (from 1) of a byte offset, for the problem report.
void position(const QByteArray &content, int offset, int *line, int *column)
{
    const QByteArray before = content.left(offset);
    *line = before.count('\n') + 1;
    *column = offset - (before.lastIndexOf('\n') + 1) + 1;
}

// A file that is not a JSON document is moved aside before it is replaced,
// so that whatever the user had there is not lost. (A link is left alone:
// what it points to is the user's business, and is written through.)
void setAsideBroken(const QString &path)
{
    QFile file(path);
    if (QFileInfo(path).isSymLink() || !file.open(QIODevice::ReadOnly))
        return;
    const QByteArray content = file.readAll();
    file.close();
    QJsonParseError error;
    QJsonDocument::fromJson(content, &error);
    if (content.trimmed().isEmpty() || error.error == QJsonParseError::NoError)
        return;
    QString aside = path + QStringLiteral(".broken");
    for (int n = 2; QFileInfo::exists(aside) || QFileInfo(aside).isSymLink(); ++n)
        aside = path + QStringLiteral(".broken.") + QString::number(n);
    if (QFile::rename(path, aside))
        qWarning().noquote() << "The unreadable" << path << "is kept as" << aside;
}
} // namespace

QString colorName(QRgb color)
{
    return QStringLiteral("#%1").arg(color & 0xffffff, 6, 16, QLatin1Char('0'));
}

bool parseColorName(const QString &name, QRgb *color)
{
    if (!name.startsWith(QLatin1Char('#')))
        return false;
    const QString digits = name.mid(1);
    for (const QChar c : digits) {
        if (c.unicode() > 0x7f || !std::isxdigit(c.unicode()))
            return false;
    }
    const uint value = digits.toUInt(nullptr, 16);
    switch (digits.size()) {
    case 3: {
        const uint r = (value >> 8) & 0xf, g = (value >> 4) & 0xf, b = value & 0xf;
        *color = 0xff000000u | (r * 17) << 16 | (g * 17) << 8 | (b * 17);
        return true;
    }
    case 6:
        *color = 0xff000000u | value;
        return true;
    case 8:
        *color = value;
        return true;
    default:
        return false;
    }
}

bool analyJson(const QString &requested, QVector<QRgb> *colors)
{
    // The user's copy of a shipped preference takes precedence.
    const QString path = AppPaths::readablePath(requested);
    while (colors->size() < kCount)
        colors->append(kInitial);
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning() << "Couldn't open colorbtn32.json file!";
        if (file.exists()) // missing is a first start: the buttons stay white
            FileProblems::report(path, 0, 0, file.errorString());
        return false;
    }
    const QByteArray content = file.readAll();
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) {
        qWarning() << "analy \"byteArray\" error.";
        int line = 1, column = 1;
        if (error.error != QJsonParseError::NoError)
            position(content, error.offset, &line, &column);
        FileProblems::report(path, line, column,
                             error.error != QJsonParseError::NoError
                                 ? error.errorString()
                                 : QStringLiteral("the document is not an array"));
        return true;
    }
    const QJsonArray array = doc.array();
    if (array.size() > kCount)
        qWarning().noquote() << path << "holds" << array.size() << "colours; the first" << kCount
                             << "are used.";
    for (int i = 0; i < array.size() && i < kCount; ++i) {
        if (!array.at(i).isObject()) {
            qWarning().noquote() << path << "element" << i << "is not an object; skipped.";
            continue;
        }
        const QJsonValue value = array.at(i).toObject().value(key(i));
        QRgb color = 0;
        if (!parseColorName(value.toString(), &color)) {
            qWarning().noquote() << path << "has no valid" << key(i) << "colour; it stays"
                                 << colorName((*colors)[i]);
            continue;
        }
        (*colors)[i] = color | 0xff000000u;
    }
    return true;
}

QByteArray formatJson(const QVector<QRgb> &colors)
{
    QJsonArray array;
    for (int i = 0; i < colors.size(); ++i)
        array.append(QJsonObject{{key(i), colorName(colors.at(i))}});
    QByteArray text = QJsonDocument(array).toJson(QJsonDocument::Compact);
    text.replace("[", "[\n");
    text.replace("{", "  {\n    ");
    text.replace(":", ": ");
    text.replace(",", ",\n");
    text.replace("}", "\n  }");
    text.replace("}]", "}\n]");
    return text;
}

bool writeJson(const QString &requested, const QVector<QRgb> &colors)
{
    const QString path = AppPaths::writablePath(requested);
    const QString folder = QFileInfo(path).absolutePath();
    QString reason;
    if (!QDir().mkpath(folder)) {
        reason = QStringLiteral("cannot create the folder");
    } else {
        setAsideBroken(path);
        if (AtomicFile::write(path, formatJson(colors), &reason))
            return true;
    }
    qWarning() << "Couldn't open colorbtn32.json file！";
    qWarning().noquote() << "Cannot write" << path << ':' << reason;
    return false;
}

} // namespace CustomColors

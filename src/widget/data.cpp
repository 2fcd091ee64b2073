#include "widget/data.h"

#include "main/apppaths.h"
#include "widget/fileproblems.h"

#include <QDebug>
#include <QDir>
#include <QDomDocument>
#include <QFile>

#include <cmath>

namespace {
int intAttr(const QDomElement &e, const char *name)
{
    return e.attribute(QLatin1String(name)).trimmed().toInt();
}

bool boolAttr(const QDomElement &e, const char *name)
{
    return intAttr(e, name) != 0;
}

// Drawing geometry is in pixels. Values beyond this bound are not a keyboard:
// they are ignored (taken as missing) so that no pixel arithmetic overflows.
constexpr int kMaxGeometry = 1000;

// A value the catalogue cannot use: logged, and the user told where it is.
void ignoredValue(const QDomElement &e, const char *name, const QString &text, const QString &path)
{
    const QString what = QStringLiteral("%1 %2=\"%3\" is out of range and was ignored")
                             .arg(e.tagName(), QLatin1String(name), text);
    qWarning().noquote() << "Board catalogue:" << what << "at line" << e.lineNumber();
    FileProblems::report(path, e.lineNumber(), e.columnNumber(), what);
}

int geometryAttr(const QDomElement &e, const char *name, const QString &path)
{
    const QString text = e.attribute(QLatin1String(name)).trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const int value = text.toInt(&ok);
    if (ok && value >= -kMaxGeometry && value <= kMaxGeometry)
        return value;
    ignoredValue(e, name, text, path);
    return 0;
}

// A firmware version such as 1.05; anything that is not one turns the
// update question off (0).
double versionAttr(const QDomElement &e, const char *name, const QString &path)
{
    const QString text = e.attribute(QLatin1String(name)).trimmed();
    if (text.isEmpty())
        return 0;
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok && std::isfinite(value) && value >= 0 && value <= 0xFFFF / 100.0)
        return value;
    ignoredValue(e, name, text, path);
    return 0;
}

uint16_t hexAttr(const QDomElement &e, const char *name)
{
    bool ok = false;
    const uint value = e.attribute(QLatin1String(name)).trimmed().toUInt(&ok, 16);
    if (!ok || value > 0xFFFF)
        return 0;
    return static_cast<uint16_t>(value);
}
} // namespace

Data::Data() = default;
Data::~Data() = default;

std::unique_ptr<QDomDocument> Data::openXMLDomDocument(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "Open XML file failed:" << fileName << file.errorString();
        FileProblems::report(fileName, 0, 0, file.errorString());
        return nullptr;
    }
    auto doc = std::make_unique<QDomDocument>();
    QString message;
    int line = 0;
    int column = 0;
    if (!doc->setContent(&file, &message, &line, &column)) {
        qWarning().noquote() << "Open XML file failed:" << fileName << message << line << column;
        FileProblems::report(fileName, line, column, message);
        return nullptr;
    }
    return doc;
}

bool Data::parseConfigXML(QVector<BoardInfo *> *boards, const QString &fileName)
{
    const QString path = AppPaths::configDir() + fileName;
    const std::unique_ptr<QDomDocument> doc = openXMLDomDocument(path);
    if (!doc)
        return false;
    for (QDomElement section = doc->documentElement().firstChildElement(); !section.isNull();
         section = section.nextSiblingElement()) {
        if (section.tagName() == QLatin1String("tools_info")) {
            for (QDomElement e = section.firstChildElement(); !e.isNull();
                 e = e.nextSiblingElement()) {
                if (e.tagName() == QLatin1String("usb")) {
                    m_vid = hexAttr(e, "vid");
                    m_pid = hexAttr(e, "pid");
                    m_iface = intAttr(e, "iface");
                } else if (e.tagName() == QLatin1String("static")) {
                    m_xmlWin = e.attribute(QStringLiteral("xmlWin"));
                    m_xmlMac = e.attribute(QStringLiteral("xmlMac"));
                    m_json = e.attribute(QStringLiteral("json"));
                    m_x = geometryAttr(e, "x", path);
                    m_y = geometryAttr(e, "y", path);
                    m_w = geometryAttr(e, "w", path);
                    m_h = geometryAttr(e, "h", path);
                }
            }
        } else if (section.tagName() == QLatin1String("board_type")) {
            for (QDomElement e = section.firstChildElement(QStringLiteral("board")); !e.isNull();
                 e = e.nextSiblingElement(QStringLiteral("board"))) {
                auto board = std::make_unique<BoardInfo>();
                board->name = e.attribute(QStringLiteral("name"));
                board->file = e.attribute(QStringLiteral("file"));
                board->kf = e.attribute(QStringLiteral("kf"));
                board->fw = versionAttr(e, "fw", path);
                board->key = boolAttr(e, "key");
                board->color = boolAttr(e, "color");
                board->shortcuts = boolAttr(e, "shortcuts");
                board->macro = boolAttr(e, "macro");
                board->setting = boolAttr(e, "setting");
                board->x = geometryAttr(e, "x", path);
                board->y = geometryAttr(e, "y", path);
                board->w = geometryAttr(e, "w", path);
                board->h = geometryAttr(e, "h", path);
                board->KLE = boolAttr(e, "KLE");
                board->KLEW = intAttr(e, "KLEW");
                board->KLEH = intAttr(e, "KLEH");
                board->KLER = intAttr(e, "KLER");
                board->KLEC = intAttr(e, "KLEC");
                boards->append(board.get());
                m_ownedBoards.push_back(std::move(board));
            }
        }
    }
    return true;
}

QString Data::productNameString(const QByteArray &block)
{
    const int end = block.indexOf('\0');
    return QString::fromLocal8Bit(end >= 0 ? block.left(end) : block);
}

QString Data::versionString(uint16_t version)
{
    return QStringLiteral("%1.%2.%3")
        .arg(version / 100)
        .arg((version % 100) / 10)
        .arg(version % 10);
}

BoardInfo *Data::findBoard(const QVector<BoardInfo *> &boards, const QByteArray &productName)
{
    const QString name = productNameString(productName);
    if (name.isEmpty())
        return nullptr;
    for (BoardInfo *board : boards) {
        if (board && board->name == name)
            return board;
    }
    return nullptr;
}

namespace DeviceFiles {

QString deviceDirName(const QByteArray &deviceId)
{
    return QString::fromLatin1(deviceId.left(12).toHex());
}

QString createCurDeviceFile(const QString &appDir, const QByteArray &deviceId)
{
    const QString dir = appDir + QLatin1Char('/') + deviceDirName(deviceId);
    if (!QDir(dir).exists()) {
        qDebug().noquote() << "文件夹  不存在，创建。" << dir;
        if (!QDir().mkpath(dir))
            qWarning().noquote() << "create file error!" << dir;
    } else {
        qDebug().noquote() << "文件夹  存在, 不创建。" << dir;
    }
    const QString shortcuts = dir + QStringLiteral("/shortcuts.xml");
    if (!QFile::exists(shortcuts)) {
        QFile file(shortcuts);
        if (file.open(QIODevice::WriteOnly)) {
            file.close();
            qDebug() << "文件    不存在，创建完成: shortcuts.xml";
        } else {
            qWarning() << "create file error!";
        }
    }
    return dir + QLatin1Char('/');
}

} // namespace DeviceFiles

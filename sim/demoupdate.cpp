#include "demoupdate.h"

#include "daytimeserver.h"
#include "simbus.h"
#include "updateserver.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QXmlStreamWriter>

namespace sim {

namespace {

struct Package
{
    const char *product;
    const char *directory; // below <program dir>/firmware/
};

constexpr Package kPackages[] = {
    {kDualModeProductName, "K108"},
    {kUsbOnlyProductName, "T88"},
    {kNoLightingProductName, "C68"},
};

// Every sample image carries "LUMORYFW01" and its version (little-endian
// 16 bits) at byte 0x100.
constexpr int kMarkerOffset = 0x100;
const QByteArray kMarker = QByteArrayLiteral("LUMORYFW01");

bool writeFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).path())) {
        qWarning().noquote() << "demo update site: cannot create the directory of" << path;
        return false;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(bytes) != bytes.size() || !file.flush()) {
        qWarning().noquote() << "demo update site: cannot write" << path << ":"
                             << file.errorString();
        return false;
    }
    return true;
}

// The image's version as the program shows it (106 -> "1.0.6"), or an empty
// string when the image carries no marker.
QString imageVersion(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || !file.seek(kMarkerOffset))
        return {};
    const QByteArray head = file.read(kMarker.size() + 2);
    if (head.size() != kMarker.size() + 2 || !head.startsWith(kMarker))
        return {};
    const int version = quint8(head.at(kMarker.size())) | quint8(head.at(kMarker.size() + 1)) << 8;
    return QStringLiteral("%1.%2.%3").arg(version / 100).arg(version % 100 / 10).arg(version % 10);
}

// The program version after `running`: the minor part raised, the patch
// level zero ("1.0.0" -> "1.1.0", "V2.3" -> "2.4.0").
QString nextVersion(const QString &running)
{
    QString text = running.trimmed();
    if (text.startsWith(QLatin1Char('V'), Qt::CaseInsensitive))
        text.remove(0, 1);
    const QStringList parts = text.split(QLatin1Char('.'));
    const int major = parts.value(0).toInt();
    const int minor = parts.value(1).toInt();
    return QStringLiteral("%1.%2.0").arg(major).arg(minor + 1);
}

// An INI section written by hand, so that the texts stay readable UTF-8 and a
// text with a comma stays unquoted, as an update server's files are.
QByteArray iniSection(const QString &name, const QList<QPair<QString, QString>> &values)
{
    QByteArray out = "[" + name.toUtf8() + "]\n";
    for (const auto &value : values)
        out += value.first.toUtf8() + '=' + value.second.toUtf8() + '\n';
    return out;
}

} // namespace

DemoUpdateSite::DemoUpdateSite(QObject *parent) : QObject(parent) {}

DemoUpdateSite::~DemoUpdateSite() = default;

bool DemoUpdateSite::start(const QString &programDir, const QString &runningVersion,
                           const QString &signingKey)
{
    if (m_server) {
        qWarning() << "demo update site: already started";
        return false;
    }
    if (!m_dir.isValid()) {
        qWarning().noquote() << "demo update site: no scratch directory:" << m_dir.errorString();
        return false;
    }
    if (!writeProgramFiles(runningVersion))
        return false;
    for (const Package &package : kPackages) {
        const QString product = QString::fromLatin1(package.product);
        if (writeFirmwareFiles(programDir, product, QString::fromLatin1(package.directory)))
            m_products.append(product);
    }

    m_server = new UpdateServer(this);
    m_server->setRoot(m_dir.path());
    m_server->setSigningKey(signingKey);
    // The program takes its time from the daytime servers below, which tell
    // this machine's time, so its requests are never far off.
    m_server->setMaxSkewSeconds(300);
    if (!m_server->listen(0))
        return false;
    for (int i = 0; i < kTimeServerCount; ++i) {
        auto *daytime = new DaytimeServer(this);
        if (!daytime->listen(0))
            return false;
        m_daytime.append(daytime);
    }
    qInfo().noquote() << "demo update site:" << baseUrl() << "offers version" << m_offeredVersion
                      << "and firmware for" << m_products.join(QStringLiteral(", "));
    return true;
}

QString DemoUpdateSite::baseUrl() const
{
    return m_server ? m_server->baseUrl() : QString();
}

QStringList DemoUpdateSite::timeServers() const
{
    QStringList servers;
    for (const DaytimeServer *daytime : m_daytime)
        servers.append(daytime->address());
    return servers;
}

bool DemoUpdateSite::writeProgramFiles(const QString &runningVersion)
{
    const QString root = m_dir.path();
    m_offeredVersion = nextVersion(runningVersion);
    const QString whatsNewEntry = QStringLiteral("/UpgradeLumory/Linux/Lumory/Lumory/WHATSNEW.txt");

    const QByteArray versionFile = iniSection(
        QStringLiteral("LumoryVersion"),
        {{QStringLiteral("Version"), m_offeredVersion},
         {QStringLiteral("ChineseUpdateInfo"),
          QStringLiteral("Lumory %1：固件更新更快，更新页面更清楚。").arg(m_offeredVersion)},
         {QStringLiteral("EnglishUpdateInfo"),
          QStringLiteral("Lumory %1: faster firmware updates, a clearer update page.")
              .arg(m_offeredVersion)}});

    QByteArray urlFile;
    QXmlStreamWriter xml(&urlFile);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("LumoryFileURL"));
    xml.writeStartElement(QStringLiteral("tools_FileURL_") + runningVersion);
    xml.writeEmptyElement(QStringLiteral("FileURL"));
    xml.writeAttribute(QStringLiteral("url"), whatsNewEntry);
    xml.writeEndElement();
    xml.writeEmptyElement(QStringLiteral("tools_DeleteFile_") + runningVersion);
    xml.writeStartElement(QStringLiteral("tools_info"));
    xml.writeEmptyElement(QStringLiteral("Chinese"));
    xml.writeAttribute(
        QStringLiteral("synopsis"),
        QStringLiteral("新版本 %1：更新说明见 WHATSNEW.txt。").arg(m_offeredVersion));
    xml.writeEmptyElement(QStringLiteral("English"));
    xml.writeAttribute(QStringLiteral("synopsis"),
                       QStringLiteral("Version %1, see WHATSNEW.txt.").arg(m_offeredVersion));
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();

    const QByteArray whatsNew = QStringLiteral("Lumory %1\n\n"
                                               "- Faster firmware updates.\n"
                                               "- A clearer update page.\n")
                                    .arg(m_offeredVersion)
                                    .toUtf8();

    return writeFile(root + QStringLiteral("/UpgradeLumory/Linux/VersionFile/LumoryVersion.ini"),
                     versionFile) &&
           writeFile(root + QStringLiteral("/UpgradeLumory/Linux/URLFile/LumoryFileURL.xml"),
                     urlFile) &&
           writeFile(root + whatsNewEntry, whatsNew);
}

bool DemoUpdateSite::writeFirmwareFiles(const QString &programDir, const QString &product,
                                        const QString &package)
{
    const QDir source(programDir + QStringLiteral("/firmware/") + package);
    const QString kinds[] = {QStringLiteral("hx_usb_app"), QStringLiteral("hx_bt_app"),
                             QStringLiteral("hx_bt_sd")};
    QString images[3];
    QString versions[3];
    const QStringList files =
        source.entryList({QStringLiteral("*.bin")}, QDir::Files | QDir::Readable, QDir::Name);
    for (const QString &name : files) {
        for (int kind = 0; kind < 3; ++kind) {
            if (name.startsWith(kinds[kind] + QLatin1Char('_')) && images[kind].isEmpty()) {
                const QString version = imageVersion(source.filePath(name));
                if (!version.isEmpty()) {
                    images[kind] = name;
                    versions[kind] = version;
                }
            }
        }
    }
    if (images[0].isEmpty()) {
        qWarning().noquote() << "demo update site: no readable USB application image in"
                             << source.path() << "- no firmware offered for" << product;
        return false;
    }

    const QString base = m_dir.path() + QStringLiteral("/UpgradeFirmware/") + product;
    QList<QPair<QString, QString>> values;
    for (int kind = 0; kind < 3; ++kind) {
        if (!images[kind].isEmpty())
            values.append({kinds[kind] + QStringLiteral("_Version"), versions[kind]});
    }
    values.append({QStringLiteral("ChineseUpdateInfo"),
                   QStringLiteral("固件 %1：按键响应更快，灯效更平滑。").arg(versions[0])});
    values.append(
        {QStringLiteral("EnglishUpdateInfo"),
         QStringLiteral("Firmware %1: quicker key response, smoother lighting.").arg(versions[0])});

    QByteArray urlFile;
    QXmlStreamWriter xml(&urlFile);
    xml.setAutoFormatting(true);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("FirmwareFileURL"));
    xml.writeStartElement(QStringLiteral("Firmware_FileURL"));
    xml.writeEmptyElement(QStringLiteral("FileURL"));
    for (int kind = 0; kind < 3; ++kind) {
        if (!images[kind].isEmpty())
            xml.writeAttribute(kinds[kind], QStringLiteral("/Firmware/") + images[kind]);
    }
    xml.writeEndElement();
    xml.writeEndElement();
    xml.writeEndDocument();

    if (!writeFile(base + QStringLiteral("/VersionFile/FirmwareVersion.ini"),
                   iniSection(QStringLiteral("FirmwareVersion"), values)) ||
        !writeFile(base + QStringLiteral("/URLFile/FirmwareFileURL.xml"), urlFile))
        return false;
    for (const QString &image : images) {
        if (image.isEmpty())
            continue;
        QFile file(source.filePath(image));
        if (!file.open(QIODevice::ReadOnly) ||
            !writeFile(base + QStringLiteral("/Firmware/") + image, file.readAll()))
            return false;
    }
    return true;
}

} // namespace sim

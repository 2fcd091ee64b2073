#include "Update/updateformats.h"

#include "Update/updatefiles.h"

#include <QCryptographicHash>
#include <QDebug>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QTextStream>
#include <QUrl>

namespace UpdateFormats {

const char kDefaultSigningKey[] = "k6dy362y6fxlx6zt3oj2uolvyndlgc6p22vqhi4o";

QStringList defaultTimeServers()
{
    return {QStringLiteral("time-a-g.nist.gov:13"),   QStringLiteral("time-b-g.nist.gov:13"),
            QStringLiteral("time-c-g.nist.gov:13"),   QStringLiteral("time-d-g.nist.gov:13"),
            QStringLiteral("time-a-wwv.nist.gov:13"), QStringLiteral("time-b-wwv.nist.gov:13"),
            QStringLiteral("time-c-wwv.nist.gov:13")};
}

} // namespace UpdateFormats

namespace {

constexpr int kMinTimeoutMs = 100;
constexpr int kMaxTimeoutMs = 600000;

bool isSigningKey(const QString &key)
{
    static const QRegularExpression pattern(QStringLiteral("^[a-z0-9]{40}$"));
    return pattern.match(key).hasMatch();
}

// "host:port" with a DNS name, an IPv4 address or a bracketed IPv6 address.
bool isHostPort(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^(?:[A-Za-z0-9](?:[A-Za-z0-9.-]*[A-Za-z0-9])?|\\[[0-9A-Fa-f:.]+\\]):"
                       "([0-9]{1,5})$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch())
        return false;
    const int port = m.captured(1).toInt();
    return port >= 1 && port <= 65535;
}

// An http or https address with a host, no query, fragment or user part; trailing "/" dropped.
QString checkedBase(const QString &text)
{
    QString base = text.trimmed();
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    const QUrl url(base, QUrl::StrictMode);
    const QString scheme = url.scheme();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty() || url.hasQuery() || url.hasFragment() || !url.userInfo().isEmpty())
        return QString();
    return base;
}

// The text after '=' of `key` in section `group`, exactly as written (trimmed).
QString rawIniValue(const QString &path, const QString &group, const QString &key)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QTextStream in(&file);
    in.setCodec("UTF-8");
    QString section;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            section = line.mid(1, line.size() - 2).trimmed();
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (eq > 0 && section == group && line.left(eq).trimmed() == key)
            return line.mid(eq + 1).trimmed();
    }
    return QString();
}

// A text value of an INI file. QSettings splits a value with commas into a
// list; such a value is read from the file as written instead.
QString iniText(const QSettings &settings, const QString &path, const QString &group,
                const QString &key)
{
    const QVariant value = settings.value(group + QLatin1Char('/') + key);
    if (value.type() == QVariant::StringList)
        return rawIniValue(path, group, key);
    return value.toString();
}

bool openIni(const QString &path, QSettings &settings)
{
    settings.setIniCodec("UTF-8");
    settings.allKeys(); // reads the file, setting the status
    if (!QFileInfo(path).isFile() || !QFileInfo(path).isReadable() ||
        settings.status() != QSettings::NoError) {
        qWarning().noquote() << "cannot read" << path;
        return false;
    }
    return true;
}

bool openXml(const QString &path, QDomDocument *doc)
{
    QFile file(path);
    QString message;
    int line = 0;
    if (!file.open(QIODevice::ReadOnly) || !doc->setContent(&file, &message, &line)) {
        qDebug().noquote() << "读取xml错误" << path << message << line;
        return false;
    }
    return true;
}

bool isNumber(const QString &part)
{
    if (part.isEmpty())
        return false;
    for (const QChar c : part) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    return true;
}

// Compares two digit strings of any length by value.
int compareNumbers(QString a, QString b)
{
    while (a.size() > 1 && a.startsWith(QLatin1Char('0')))
        a.remove(0, 1);
    while (b.size() > 1 && b.startsWith(QLatin1Char('0')))
        b.remove(0, 1);
    if (a.size() != b.size())
        return a.size() < b.size() ? -1 : 1;
    return QString::compare(a, b);
}

QStringList versionParts(QString version)
{
    version = version.trimmed();
    if (version.startsWith(QLatin1Char('V')) || version.startsWith(QLatin1Char('v')))
        version.remove(0, 1);
    return version.split(QLatin1Char('.'));
}

} // namespace

namespace UpdateFormats {

UpdateConfig readUpdateConfig(const QString &path, QString *problem)
{
    UpdateConfig config;
    config.signingKey = QString::fromLatin1(kDefaultSigningKey);
    config.timeServers = defaultTimeServers();
    QStringList problems;
    auto finish = [&]() {
        if (problem)
            *problem = problems.join(QStringLiteral("; "));
        return config;
    };
    if (!QFileInfo::exists(path))
        return finish();

    QDomDocument doc;
    QFile file(path);
    QString message;
    int line = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        problems << QStringLiteral("%1: cannot be read (%2)").arg(path, file.errorString());
        return finish();
    }
    if (!doc.setContent(&file, &message, &line)) {
        problems << QStringLiteral("%1: not well-formed XML at line %2 (%3)")
                        .arg(path)
                        .arg(line)
                        .arg(message);
        return finish();
    }
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("ONLINEUPDATE")) {
        problems << QStringLiteral("%1: the document element is \"%2\", not \"ONLINEUPDATE\"")
                        .arg(path, root.tagName());
        return finish();
    }

    const QDomElement server = root.firstChildElement(QStringLiteral("Server"));
    if (server.hasAttribute(QStringLiteral("base"))) {
        const QString text = server.attribute(QStringLiteral("base"));
        const QString base = checkedBase(text);
        if (base.isEmpty() && !text.trimmed().isEmpty())
            problems << QStringLiteral("%1: server base \"%2\" is not an http or https address")
                            .arg(path, text);
        config.baseUrl = base;
    }
    if (server.hasAttribute(QStringLiteral("signingKey"))) {
        const QString key = server.attribute(QStringLiteral("signingKey"));
        if (isSigningKey(key))
            config.signingKey = key;
        else // the value itself is a secret: name it by its length only
            problems << QStringLiteral("%1: signingKey (%2 characters) is not 40 lower-case "
                                       "letters and digits; the built-in key is used")
                            .arg(path)
                            .arg(key.size());
    }

    QStringList servers;
    const QStringList defaults = defaultTimeServers();
    for (QDomElement e = root.firstChildElement(QStringLiteral("TimeServer")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("TimeServer"))) {
        const QString address = e.attribute(QStringLiteral("address")).trimmed();
        if (isHostPort(address)) {
            servers << address;
            continue;
        }
        const QString fallback = defaults.value(servers.size() % defaults.size());
        problems << QStringLiteral("%1: time server \"%2\" is not host:port; %3 is used")
                        .arg(path, address, fallback);
        servers << fallback;
    }
    if (!servers.isEmpty())
        config.timeServers = servers;

    const QDomElement timeouts = root.firstChildElement(QStringLiteral("Timeouts"));
    const struct
    {
        const char *name;
        int *value;
    } fields[] = {{"connectMs", &config.connectTimeoutMs},
                  {"readMs", &config.readTimeoutMs},
                  {"transferMs", &config.transferTimeoutMs}};
    for (const auto &field : fields) {
        const QString name = QString::fromLatin1(field.name);
        if (!timeouts.hasAttribute(name))
            continue;
        bool ok = false;
        const QString text = timeouts.attribute(name);
        const int value = text.trimmed().toInt(&ok);
        if (ok && value >= kMinTimeoutMs && value <= kMaxTimeoutMs)
            *field.value = value;
        else
            problems << QStringLiteral("%1: time-out %2=\"%3\" is not %4..%5 ms; %6 is used")
                            .arg(path, name, text)
                            .arg(kMinTimeoutMs)
                            .arg(kMaxTimeoutMs)
                            .arg(*field.value);
    }
    return finish();
}

QByteArray Hash(const QString &text)
{
    return QCryptographicHash::hash(text.toLatin1(), QCryptographicHash::Md5).toHex();
}

QString encodePath(const QString &entry)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(entry, QByteArrayLiteral("/")));
}

QString timeParameter(const QDateTime &utc)
{
    if (!utc.isValid())
        return QString();
    return QString::number(utc.toSecsSinceEpoch() + 60, 16);
}

QString signedUrl(const QString &base, const QString &key, const QString &entry,
                  const QDateTime &utc)
{
    const QString t = timeParameter(utc);
    if (t.isEmpty())
        return QString();
    const QString p = encodePath(entry);
    return base + p + QStringLiteral("?sign=") + QString::fromLatin1(Hash(key + p + t)) +
           QStringLiteral("&t=") + t;
}

QDateTime parseDaytime(const QByteArray &answer)
{
    QByteArray text = answer;
    const int nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    const QStringList fields =
        QString::fromLatin1(text.trimmed()).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (fields.size() < 3)
        return QDateTime();
    const QDate date =
        QDate::fromString(QStringLiteral("20") + fields.at(1), QStringLiteral("yyyy-MM-dd"));
    const QTime time = QTime::fromString(fields.at(2), QStringLiteral("hh:mm:ss"));
    if (!date.isValid() || !time.isValid())
        return QDateTime();
    return QDateTime(date, time, Qt::UTC);
}

QStringList ReadSettings(const QString &path, int langType)
{
    QSettings settings(path, QSettings::IniFormat);
    if (!openIni(path, settings))
        return {};
    const QString group = QStringLiteral("LumoryVersion");
    const QString version = iniText(settings, path, group, QStringLiteral("Version")).trimmed();
    if (version.isEmpty())
        return {};
    const QString info =
        langType == 0 ? QStringLiteral("ChineseUpdateInfo") : QStringLiteral("EnglishUpdateInfo");
    return {version, iniText(settings, path, group, info)};
}

QStringList ReadFirmwareSettings(const QString &path, int langType, uint32_t type)
{
    QSettings settings(path, QSettings::IniFormat);
    if (!openIni(path, settings))
        return {};
    const QString group = QStringLiteral("FirmwareVersion");
    QStringList keys{QStringLiteral("hx_usb_app_Version")};
    if (type == 1)
        keys << QStringLiteral("hx_bt_app_Version") << QStringLiteral("hx_bt_sd_Version");
    QStringList list;
    for (const QString &key : keys) {
        const QString value = iniText(settings, path, group, key).trimmed();
        qDebug().noquote() << "VersionList==" << value;
        if (value.isEmpty())
            return {};
        list << value;
    }
    const QString info =
        langType == 0 ? QStringLiteral("ChineseUpdateInfo") : QStringLiteral("EnglishUpdateInfo");
    list << iniText(settings, path, group, info);
    qDebug().noquote() << "VersionList==" << list.constLast();
    return list;
}

bool parseLumoryUrlXml(const QString &path, const QString &version, int langType, UrlInfo *info)
{
    QDomDocument doc;
    if (!openXml(path, &doc))
        return false;
    UrlInfo result;
    const QString files = QStringLiteral("tools_FileURL_") + version;
    const QString deletes = QStringLiteral("tools_DeleteFile_") + version;
    const QString language = langType == 0 ? QStringLiteral("Chinese") : QStringLiteral("English");
    for (QDomElement e = doc.documentElement().firstChildElement(); !e.isNull();
         e = e.nextSiblingElement()) {
        const QString name = e.tagName();
        if (name == files || name == deletes) {
            for (QDomElement u = e.firstChildElement(QStringLiteral("FileURL")); !u.isNull();
                 u = u.nextSiblingElement(QStringLiteral("FileURL"))) {
                const QString entry = u.attribute(QStringLiteral("url"));
                QString why;
                if (!UpdateFiles::isSafeEntry(entry, &why)) {
                    qWarning().noquote() << "URL file" << path << "refused, entry" << entry << why;
                    return false;
                }
                if (name == files) {
                    qDebug().noquote() << "value=" << entry;
                    result.fileList << entry;
                } else {
                    result.deleteList << entry;
                }
            }
        } else if (name == QLatin1String("tools_info")) {
            result.description =
                e.firstChildElement(language).attribute(QStringLiteral("synopsis"));
        }
    }
    if (info)
        *info = result;
    return true;
}

bool parseFirmwareUrlXml(const QString &path, const QString &product, uint32_t type,
                         QStringList *files)
{
    if (!UpdateFiles::isSafeSegment(product)) {
        qWarning().noquote() << "firmware URL file refused, product name" << product;
        return false;
    }
    QDomDocument doc;
    if (!openXml(path, &doc))
        return false;
    QStringList attributes{QStringLiteral("hx_usb_app")};
    if (type == 1)
        attributes << QStringLiteral("hx_bt_app") << QStringLiteral("hx_bt_sd");
    const QString root = QStringLiteral("/UpgradeFirmware/") + product;
    QStringList result;
    const QDomElement list =
        doc.documentElement().firstChildElement(QStringLiteral("Firmware_FileURL"));
    for (QDomElement u = list.firstChildElement(QStringLiteral("FileURL")); !u.isNull();
         u = u.nextSiblingElement(QStringLiteral("FileURL"))) {
        for (const QString &attribute : attributes) {
            if (!u.hasAttribute(attribute))
                continue;
            const QString value = u.attribute(attribute);
            if (attribute == QLatin1String("hx_usb_app"))
                qDebug().noquote() << "hx_usb_app=" << value;
            const QString entry =
                root + (value.startsWith(QLatin1Char('/')) ? value : QLatin1Char('/') + value);
            QString why;
            if (!UpdateFiles::isSafeEntry(entry, &why)) {
                qWarning().noquote()
                    << "firmware URL file" << path << "refused, entry" << entry << why;
                return false;
            }
            result << entry;
        }
    }
    if (files)
        *files = result;
    return true;
}

int compareVersions(const QString &server, const QString &running)
{
    const QStringList a = versionParts(server);
    const QStringList b = versionParts(running);
    for (int i = 0; i < qMax(a.size(), b.size()); ++i) {
        const QString x = a.value(i, QStringLiteral("0"));
        const QString y = b.value(i, QStringLiteral("0"));
        const int c = isNumber(x) && isNumber(y) ? compareNumbers(x, y) : QString::compare(x, y);
        if (c != 0)
            return c < 0 ? -1 : 1;
    }
    return 0;
}

} // namespace UpdateFormats

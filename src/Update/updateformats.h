#pragma once

#include <QDateTime>
#include <QStringList>
#include <cstdint>

// What the program URL file lists for the running program version.
struct UrlInfo
{
    QStringList fileList;   // server paths to download
    QStringList deleteList; // server paths to delete below the program directory
    QString description;
};

// Where the update server is and how requests are signed; read from
// config/OnlineUpdate.xml beside the executable.
struct UpdateConfig
{
    QString baseUrl;         // "http://host:port" or https, no trailing slash; empty: no server
    QString signingKey;      // 40 ASCII characters (lower-case letters and digits)
    QStringList timeServers; // seven "host:port" daytime servers
    int connectTimeoutMs = 30000;  // daytime connect wait
    int readTimeoutMs = 30000;     // daytime data wait
    int transferTimeoutMs = 60000; // an HTTP transfer without any data for this long fails
    bool isConfigured() const { return !baseUrl.isEmpty(); }
};

// The online update's file formats and request signing. Pure functions: no
// network, no widgets.
namespace UpdateFormats {

// The key requests are signed with when the configuration names none.
extern const char kDefaultSigningKey[];
// The daytime servers used when the configuration names none ("host:13").
QStringList defaultTimeServers();
// Where the configuration lives below the program directory.
constexpr const char kConfigFileName[] = "config/OnlineUpdate.xml";

// Reads the configuration; a missing file gives the built-in defaults (no base address, the
// built-in key, seven public daytime servers on port 13). A file that is present but bad
// (unparsable, base not http/https, key not 40 [a-z0-9], server not host:port, a time-out not
// 100..600000 ms) -> defaults for the bad values and a message in *problem naming the file and
// the value (several problems are separated by "; "). A trailing "/" of the base is dropped.
UpdateConfig readUpdateConfig(const QString &path, QString *problem = nullptr);
// Lower-case hex MD5 of the Latin-1 bytes of `text`.
QByteArray Hash(const QString &text);
// UTF-8 percent-encoding of a server path with "/" left as it is ("/a b/x.bin" -> "/a%20b/x.bin").
QString encodePath(const QString &entry);
// Seconds since 1970-01-01 UTC of `utc` plus 60, lower-case hex, no prefix; empty for a null time.
QString timeParameter(const QDateTime &utc);
// base + encodePath(entry) + "?sign=" + Hash(key + encodePath(entry) + t) + "&t=" + t;
// empty for a null time (a request is never sent unsigned).
QString signedUrl(const QString &base, const QString &key, const QString &entry,
                  const QDateTime &utc);
// A daytime answer: cut at the first NUL, trim, fields 2 and 3 (space-separated) with "20" in
// front, format "yyyy-MM-dd hh:mm:ss", UTC. Null when that is not a valid time (also when the
// answer has fewer than three fields).
QDateTime parseDaytime(const QByteArray &answer);
// Program version file (INI, UTF-8): [LumoryVersion/Version, description of the language
// (0 Chinese -> ChineseUpdateInfo, otherwise EnglishUpdateInfo)]; empty list when the file cannot
// be read or has no version. A description containing commas is returned whole: it equals the
// text after '=' in the file.
QStringList ReadSettings(const QString &path, int langType);
// Firmware version file: type 1 -> [hx_usb_app_Version, hx_bt_app_Version, hx_bt_sd_Version,
// description]; every other type -> [hx_usb_app_Version, description]; each value logged after
// "VersionList=="; empty list on error (unreadable, or a version of the type missing).
QStringList ReadFirmwareSettings(const QString &path, int langType, uint32_t type);
// Program URL file: elements "tools_FileURL_<version>", "tools_DeleteFile_<version>",
// "tools_info" (Chinese/English synopsis by langType). false (and "读取xml错误" logged) when
// unreadable or unparsable; false (logged) when a listed path is not a safe server path
// (UpdateFiles::isSafeEntry). *info is only written on success.
bool parseLumoryUrlXml(const QString &path, const QString &version, int langType, UrlInfo *info);
// Firmware URL file: "Firmware_FileURL"/"FileURL" attributes hx_usb_app (and for type 1
// hx_bt_app, hx_bt_sd), each appended to "/UpgradeFirmware/" + product (a "/" put between when
// the value has none); logs "hx_usb_app=". An absent attribute is skipped. false when unreadable,
// unparsable, the product is not one safe path segment or a resulting path is not safe.
bool parseFirmwareUrlXml(const QString &path, const QString &product, uint32_t type,
                         QStringList *files);
// Compares the server's and the running version (>0: server newer, 0: same, <0: older). A leading
// "V"/"v" is ignored; the dot-separated parts are compared as numbers ("1.10" is newer than
// "1.9"), a missing part counts as 0, and a part that is not a number is compared as text.
int compareVersions(const QString &server, const QString &running);

} // namespace UpdateFormats

#pragma once

#include "widget/boardinfo.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>
#include <memory>
#include <vector>

class QDomDocument;
class QStringList;
struct KeyDesc;
struct StaticKeyLabel;
struct kc_t;

// Parser of the program's data files. Each user owns its own instance.
// Parsers return false only when their file cannot be read; what a file
// holds beyond that is taken as far as it makes sense; problems are logged
// and a file that cannot be used is reported to FileProblems (once per file).
class Data
{
public:
    Data();
    ~Data();
    Data(const Data &) = delete;
    Data &operator=(const Data &) = delete;

    // Reads <appdir>/config/<fileName> (the board catalogue) into `boards`
    // and the catalogue-wide members. The BoardInfo objects stay owned by
    // this parser and live as long as it does. Geometry beyond ±1000 pixels
    // and a firmware version that is not one are ignored (taken as missing)
    // and reported.
    bool parseConfigXML(QVector<BoardInfo *> *boards, const QString &fileName);

    // Opens and parses an XML file; null on failure, which is logged and
    // reported to FileProblems with the parser's line and column.
    static std::unique_ptr<QDomDocument> openXMLDomDocument(const QString &fileName);

    // The first board whose name equals `productName` (the keyboard's
    // product name block read up to its first NUL), or null.
    static BoardInfo *findBoard(const QVector<BoardInfo *> &boards, const QByteArray &productName);
    // The product name block as the catalogue compares it: up to the first NUL.
    static QString productNameString(const QByteArray &block);
    // A firmware or hardware version as x.y.z: 123 is "1.2.3".
    static QString versionString(uint16_t version);

    // Catalogue-wide values.
    uint16_t vid() const { return m_vid; }
    uint16_t pid() const { return m_pid; }
    int iface() const { return m_iface; }
    QString json() const { return m_json; }
    QString xmlWin() const { return m_xmlWin; }
    QString xmlMac() const { return m_xmlMac; }
    int staticX() const { return m_x; }
    int staticY() const { return m_y; }
    int staticW() const { return m_w; }
    int staticH() const { return m_h; }

    // ---- Layout files and static key tables (data_layout.cpp) ----

    // Appends one key per string of a Keyboard Layout Editor JSON file.
    // With a non-empty `fileName` the file is <appdir>/config/<fileName> and
    // its path is written back to `path`; with an empty one `path` is used
    // as it is. False only when the file cannot be opened; a malformed
    // document adds nothing and still returns true.
    bool parseJsonFileForFix(QVector<KeyDesc> *keys, const QString &fileName, QString *path);
    // Labels the keys of `keys` in order from a static key table
    // (<appdir>/config/<fileName>). False only when it cannot be opened.
    bool parseStaticXML(QVector<KeyDesc> *keys, const QString &fileName);
    // Copies name, alias and image of the first table key with the same
    // type, stype and code into `key`; unchanged without a match.
    bool parseStaticXML(StaticKeyLabel *key, const QString &fileName);
    // A complete static key set: the catalogue, the static layout and the
    // table the layout-version preference selects. False when the catalogue
    // or the static layout cannot be read.
    bool parseStaticKeyBtn(QVector<KeyDesc> *keys);
    // Labels one macro key from the table of the current layout version.
    bool selectStaticKey(StaticKeyLabel *key);
    // Copies the identity and labels of the static key matching `record`
    // onto `target`; without a match clears the target's identity. Returns
    // `target`.
    static KeyDesc *selectStaticBtn(KeyDesc *target, const kc_t &record,
                                    const QVector<KeyDesc> *statics);
    // Column letters: 0 -> A, 25 -> Z, 26 -> AA, 51 -> AZ, 52 -> BA, ...
    static QString indexToLetters(int index);
    // Appends the `name` of every `color` element of
    // <appdir>/config/customcolor/<fileName> to `names`, in order.
    bool parseStaticColorXML(QStringList *names, const QString &fileName);
    // True when the file at `path` can be opened for reading.
    static bool CheckoutFileFormat(const QString &path);
    // The static key table a layout-version preference selects: xmlMac for
    // MacOS, else xmlWin for Windows or Automatic, else none ("").
    QString staticTableFor(bool layoutMac, bool layoutWin, bool layoutAuto) const;
    // The same for the preference stored in <appdir>/config/menutree.xml.
    QString currentStaticTable() const;
    // Gap between neighbouring drawn keys, in pixels.
    static int keySpacing();

private:
    uint16_t m_vid = 0;
    uint16_t m_pid = 0;
    int m_iface = 0;
    QString m_json;
    QString m_xmlWin;
    QString m_xmlMac;
    int m_x = 0;
    int m_y = 0;
    int m_w = 0;
    int m_h = 0;
    std::vector<std::unique_ptr<BoardInfo>> m_ownedBoards;
};

// The per-keyboard data directory <appdir>/<device id in hex>/ with its
// shortcuts.xml; settings follow the physical keyboard, not the model.
namespace DeviceFiles {
// 24 lower-case hexadecimal digits of the 12-byte device id.
QString deviceDirName(const QByteArray &deviceId);
// Creates the directory and an empty shortcuts.xml when missing; returns
// the directory path ending in "/".
QString createCurDeviceFile(const QString &appDir, const QByteArray &deviceId);
} // namespace DeviceFiles

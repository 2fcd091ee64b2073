#pragma once

// A keyboard profile: everything a keyboard stores and the host keeps for it,
// in one versioned JSON document ("format": "lumory-profile", "version": 1)
// that a person can read and diff. docs/profile-format.md describes the file.
//
// Raw values (hexadecimal wire records) are what a restore writes; the names
// and decoded fields beside them are for people and are ignored when read.
// Members the program does not know are ignored on restore and kept when a
// profile that was read is written again.

#include "device/wirerecords.h"
#include "shortcut/kfcatalogue.h"
#include "shortcut/shortcutsfile.h"

#include <QByteArray>
#include <QHash>
#include <QJsonObject>
#include <QMap>
#include <QString>
#include <QVector>

#include <cstdint>

// One key of a board's layout: where it is (its matrix name, as the layout
// checker names keys: column letters and row number, A0, B3, AB5) and what it
// is (its legend in the board's layout file).
struct ProfileLayoutKey
{
    QString position;
    QString legend;
};

// One map of a group (key codes, colours or modes) as the keyboard numbers it.
struct ProfileMap
{
    int index = 0;
    QByteArray data; // entries x 4 bytes (key codes, colours) or x 1 byte (modes)
};

// One macro slot: its head as stored (frame count = frames.size()) and frames.
struct ProfileMacro
{
    km_t head{};
    QVector<mframe_t> frames;
};

struct KeyboardProfile
{
    // Identity.
    QString board;           // product name block as text (the catalogue's board name)
    QByteArray productBlock; // 16 bytes
    QString family;          // "vvvv:pppp", the USB identifiers the keyboard family shares
    uint16_t firmware = 0;
    uint16_t hardware = 0;
    QByteArray deviceId; // 12 bytes
    int keyCount = 0;
    QVector<ProfileLayoutKey> layout; // keyCount entries, or none when the board was unknown

    // Maps; active = the map the keyboard uses (-1: none).
    int activeKeyMap = -1;
    QVector<ProfileMap> keyMaps; // keyCount x 4 bytes each
    int colourEntries = 0;
    int activeColourMap = -1;
    QVector<ProfileMap> colourMaps; // colourEntries x 4 bytes (b, g, r, 0)
    int modeEntries = 0;
    int activeModeMap = -1;
    QVector<ProfileMap> modeMaps; // modeEntries bytes

    QVector<la_t> lighting;                      // record i has mode number i
    QVector<kf_t> functions;                     // entry i has id i
    QMap<int, ShortcutsFile::Item> functionHost; // host data of entries in use, by entry
    QVector<ProfileMacro> macros;                // slot i has id i

    // Settings.
    bool bluetooth = false; // the next two exist
    QByteArray btName;      // 12 bytes
    uint32_t sleepTimeMs = 0;
    uint16_t scanSpeed = 0;
    uint8_t nKey = 0;
    QByteArray userInfo; // 48 bytes

    // The document this profile was read from (empty for a fresh back-up);
    // its unknown members are written again by ProfileFile::write.
    QJsonObject original;
};

// Why a profile cannot be used, and what went wrong around it.
enum class ProfileProblem
{
    None,
    Unreadable,   // the file cannot be opened
    Empty,        // nothing in it
    Truncated,    // the text ends in the middle of the document
    Damaged,      // not well-formed JSON elsewhere
    NotAProfile,  // well-formed, but no "format": "lumory-profile"
    NewerVersion, // written by a newer program (major version above ours)
    OtherFamily,  // a keyboard of another family (other USB identifiers)
    Missing,      // a member the profile needs is not there (a cut document)
    OutOfRange,   // a value of the wrong kind or outside what a keyboard can hold
    WriteFailed,  // the file could not be written
};

// Names shown beside raw values: the static key table (by key identity) and
// the board's function catalogue. Empty tables give empty names.
class ProfileNames
{
public:
    // Reads <appdir>/config/: the static key table of the layout-version
    // preference and, when given, the function catalogue `kfFile` (relative
    // to config/).
    static ProfileNames fromConfig(const QString &kfFile = QString());

    void addKey(uint16_t type, uint16_t stype, uint16_t code, const QString &name);
    void setFunctions(const QVector<KF> &functions) { m_functions = functions; }

    // Name of the key a kc_t entry sends ("" when unknown); "+lock" is not added.
    QString keyName(const kc_t &entry) const;
    // Name of a HID keyboard usage (macro reports).
    QString usageName(uint8_t usage) const;
    // The function with number `hi`, or null.
    const KF *function(int hi) const;
    const QVector<KF> &functions() const { return m_functions; }

private:
    QHash<quint64, QString> m_keys;
    QVector<KF> m_functions;
};

namespace ProfileFile {

constexpr const char *kFormat = "lumory-profile";
constexpr int kVersion = 1;
// The suffix of profile files.
constexpr const char *kSuffix = ".lumory";

// The document of a profile, formatted for reading and diffing (one key per line).
QByteArray toJson(const KeyboardProfile &profile, const ProfileNames &names);

// Reads and checks a whole document. On a problem `profile` is left empty
// and `detail` names the place and the value (e.g. "keyMaps.maps[1].keys[7].kc").
ProfileProblem fromJson(const QByteArray &text, KeyboardProfile *profile, QString *detail);

// Reads and checks a file; `family`, when not empty, must be the profile's.
ProfileProblem read(const QString &path, KeyboardProfile *profile, QString *detail,
                    const QString &family = QString());

// Writes atomically (never a half-written file); members of
// `profile.original` that the program does not know are kept.
ProfileProblem write(const QString &path, const KeyboardProfile &profile, const ProfileNames &names,
                     QString *detail = nullptr);

// "vvvv:pppp" in lower-case hexadecimal.
QString familyOf(uint16_t vendorId, uint16_t productId);

// A readable sentence for a problem, 0 = Chinese, 1 = English.
QString describe(ProfileProblem problem, const QString &detail, int langType = 1);

} // namespace ProfileFile

// The keys of a board as the profile names them: position and legend of each
// key of the board's layout file, in key order. Empty when the catalogue has
// no such board or its layout cannot be read.
QVector<ProfileLayoutKey> profileLayoutOf(const QByteArray &productBlock);
// The same from a layout file (<appdir>/config/<layoutFile>).
QVector<ProfileLayoutKey> profileLayoutFromFile(const QString &layoutFile);

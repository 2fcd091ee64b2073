#pragma once

#include "device/wirerecords.h"
#include "shortcut/kfcatalogue.h"

#include <QString>
#include <QVector>

// Host-side parameter of one function stored on the keyboard.
struct STCTS
{
    quint32 id = 0;   // the entry's id
    quint32 type = 0; // control_type of the function
    quint32 hi = 0;
    QString str; // URL or path; empty when none is stored
};

// One STCTS per entry of `table` that is in use, in table order, with an
// empty `str`; the type comes from `catalogue` (E_SCT_NONE when unknown).
QVector<STCTS> createShortcutsLocalData(const kf_t *table, int count, const QVector<KF> &catalogue);

// The per-keyboard "shortcuts.xml": one `item<n>` per editor entry.
namespace ShortcutsFile {

struct Item
{
    quint32 id = 0;
    int hi = 0;
    int hitype = E_SCT_NONE;
    QString btn[4];     // aliases of the trigger keys
    QString text;       // Website `web`, DocApp / FileFolder `dir`
    int ledIndex = -1;  // LEDBrightness `index`; -1: none chosen, not written
    QString keyList[9]; // ReplaceKey / LockKey `b<i>`; empty or " ": not written
    QString macroName;  // Macro `menuid`
    int macroCount = 1; // Macro `number`
};

enum class LoadStatus
{
    Ok,
    Missing,        // no file (or an empty one): nothing stored yet
    UnreadableKept, // exists but is not a shortcuts file: reported, kept as it is
};

enum class SaveStatus
{
    Saved,
    KeptUnreadable, // the existing file is unreadable: left alone, nothing written
    WriteFailed,
};

// Reads every `item<n>` (any n, any order) into `items`. For a broken file
// the items before the error are returned.
LoadStatus load(const QString &path, QVector<Item> *items);

// Fills `str` of the records whose id and hi match an item of the file.
LoadStatus fillStrings(const QString &path, QVector<STCTS> *stcts);

// Whether `path` holds something that is not a shortcuts file and so must
// not be replaced by an automatic save.
bool isUnreadable(const QString &path);

// Writes the file atomically, attributes in a fixed order. Refuses while the
// existing file is unreadable; moving it aside (AtomicFile::setAsideBrokenXml)
// is the user's decision.
SaveStatus save(const QString &path, const QVector<Item> &items, QString *error = nullptr);

} // namespace ShortcutsFile

#pragma once

// One macro per XML file on the host:
//
//   <?xml version = '1.0' encoding = 'UTF-8'?>
//   <MACRO>
//       <ITEM id="3">
//           <KEY0 status="1" code="2c" type="1" stype="0" delay="100"/>
//           ...
//       </ITEM>
//   </MACRO>
//
// "id" is the keyboard slot (-1 in exported files); "code" is hexadecimal
// without a prefix, the other attributes decimal. The macro's name is not in
// the file: it is the file name. Files are written with a fixed attribute
// order so they stay stable from run to run; the reader takes any order.
//
// Macro names come from the keyboard, so they are checked before they reach
// the file system: only a plain name becomes a file name, anything else is
// stored under "Macro<slot>.xml", and no path built here leaves the folder.

#include "macro/datakey.h"

#include <QString>
#include <QVector>

namespace MacroFile {

enum class SaveStatus
{
    Saved,
    WriteFailed, // nothing changed: an existing file keeps its old content
};

// read() results.
constexpr int kRead = 0;
constexpr int kUnparsable = -1;
constexpr int kCannotOpen = -2;

// Largest values a file may carry; events beyond them are skipped.
constexpr int kMaxType = 7;   // three bits in a key entry
constexpr int kMaxStype = 15; // four bits in a key entry

struct ReadReport
{
    enum class Content
    {
        Macro,      // a macro file (it may hold no events)
        Empty,      // no element at all (nothing, white space, a declaration)
        NotMacro,   // well-formed XML whose document element is not MACRO
        Unparsable, // not well-formed XML
        Unopenable, // missing or not readable
    };

    Content content = Content::Macro;
    // For Unparsable / NotMacro: where the parse stopped. For a macro file:
    // the first skipped KEY element, if any. Line 0: no position.
    int line = 0;
    int column = 0;
    QString what;
    // KEY elements left out: a number outside 0 .. children - 1 or not a
    // plain decimal number ("KEYx", "KEY01"), or a value out of range.
    int skipped = 0;
    // Frames the events take on the keyboard (MacroCodec::framesNeeded).
    int frames = 0;

    // "line:column: what" ("what" alone without a position), or "" when
    // nothing went wrong.
    QString location() const;
};

// Writes the macro atomically (temporary file, then rename), so a failed or
// interrupted write leaves any old file as it was. A status other than 0
// counts as a press and is written as 1. Missing parent folders are not
// created (see ensureFolder). `error` receives a readable reason on failure.
SaveStatus save(const QString &path, int id, const QVector<DataKey> &events,
                QString *error = nullptr);

// Creates `folder` with its missing parents; logs "文件夹  不存在，创建。"
// with the folder when it does. False when it cannot (for example when a
// file stands in the way).
bool ensureFolder(const QString &folder);

// Replaces `events` with the events of the file: every child of the root
// named ITEM, for every child element named "KEY<n>" with n from 0 to the
// ITEM's number of child elements - 1, in document order; other children are
// ignored, a missing attribute reads as 0.
//
// Values the keyboard cannot hold are not clamped: the whole event is
// skipped with a log line and counted in the report (status other than 0
// or 1, code above ffff, type above 7, stype above 15, delay above 65535,
// negative numbers, text that is not a number, a malformed KEY number).
//
// Returns kRead (0) for a macro file (also one without events), kUnparsable
// (-1) for an empty file, a file that is not well-formed, or one whose root is
// not MACRO, and kCannotOpen (-2) when it cannot be opened. On -1 and -2
// `events` is left empty: a half-read macro is never handed out. The report
// tells the cases apart and says where the file went wrong.
int read(const QString &path, QVector<DataKey> *events, ReadReport *report = nullptr);

// A name that may be used as a file name as it is: not empty, not "." or
// "..", no "/" or "\", no NUL or other control character, and at most 16
// bytes in the local 8-bit encoding (the keyboard's name field), which must
// give the same name back.
bool isPlainName(const QString &macroName);

// macroName + ".xml" for a plain name, else "Macro<slotId>.xml".
QString fileNameFor(const QString &macroName, int slotId);

// The absolute path of the macro's file in `folder`. Empty when there is no
// folder (nothing is ever saved to the current directory) or when the file
// is a symbolic link that leads out of the folder.
QString pathIn(const QString &folder, const QString &macroName, int slotId);

// Renames the macro's file in `folder` to the new name's. True when done or
// when there was no file; false when a name leads out of the folder, the
// old entry is not a file, or the new name is taken (nothing is replaced).
bool renameFile(const QString &folder, const QString &oldName, int oldId, const QString &newName,
                int newId);

// Deletes the macro's file from `folder`. True when done or when there was
// no file; false when the name leads out of the folder, the entry is not a
// file, or it cannot be removed.
bool removeFile(const QString &folder, const QString &macroName, int slotId);

} // namespace MacroFile

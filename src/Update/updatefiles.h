#pragma once

#include <QString>

// File operations of the online update. Every path that comes from the update
// server is checked here before anything is written or deleted.
namespace UpdateFiles {

constexpr qint64 kMaxUnpackedBytes = 256LL * 1024 * 1024;

// A server path the program may download or delete: starts with "/UpgradeLumory/" or
// "/UpgradeFirmware/<product>/" (product one safe segment), every segment non-empty, not "." or
// "..", no backslash, no control character (< 0x20 or 0x7f). *why gets a short English reason.
bool isSafeEntry(const QString &entry, QString *why = nullptr);
// One path segment (a product name the keyboard reports): non-empty, not "." or "..", no "/" or
// "\\", no control character.
bool isSafeSegment(const QString &name);
// programDir + entry, when that lies inside programDir (the existing part of the path resolved
// with symbolic links followed must stay inside the canonical programDir; a dangling link is
// refused); empty otherwise.
QString localPath(const QString &programDir, const QString &entry, QString *why = nullptr);
// Creates a directory path; "/" and "\\" both separate. true when it exists afterwards.
bool EstablishDir(const QString &path);
// Deletes `path` when it is a regular file (not a symlink's target: a symlink itself is removed,
// never followed). true when nothing of that name remains that was a regular file.
bool removeFile(const QString &path);
// Empty path fails; a missing directory counts as done; a file in its place fails; otherwise
// removes every entry (hidden included), directories recursively, each logged as
// "absoluteFilePath=", symbolic links removed without following them; adds the number of removed
// top-level files (anything but directories) to *removedTopLevelFiles when given; finally removes
// the directory. A symbolic link given as `path` is removed itself.
bool deleteDirectory(const QString &path, int *removedTopLevelFiles = nullptr);
// Logs "copyDirectoryFiles="; creates `to`; copies every entry recursively (symbolic links are
// skipped with a log line); an existing file is replaced only when `overwrite`; each file is
// written to a temporary name in the target directory and renamed (never half a file), with the
// source's permission bits; a copied file with suffix "lumoryzip" is unpacked into the target
// directory with uzip (overwrite) and then deleted. false with *error on the first failure.
bool copyDirectoryFiles(const QString &from, const QString &to, bool overwrite,
                        QString *error = nullptr);
// Unpacks a zip archive into `directory` entry by entry: refuses (whole archive, nothing written)
// absolute paths, ".." segments, backslashes, symbolic-link entries, and archives whose declared
// total exceeds `limit`; also stops when the actually inflated bytes exceed the limit. Each file is
// written via a temporary name and renamed; existing files are replaced when `overwrite`.
// Every file is inflated and its CRC-32 checked before the first one is put in place, so a
// damaged archive changes nothing either.
bool uzip(const QString &archive, const QString &directory, bool overwrite,
          QString *error = nullptr, qint64 limit = kMaxUnpackedBytes);

} // namespace UpdateFiles

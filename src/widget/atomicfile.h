#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Writes files so that a crash or a full disk never leaves a half-written
// file behind: the data goes to a temporary file beside the target, which
// then replaces it. An existing file keeps its permissions; a symbolic link
// is followed so the link itself survives.
namespace AtomicFile {

// Returns false (and leaves any existing file untouched) on failure;
// `error`, when given, receives a readable reason.
bool write(const QString &path, const QByteArray &data, QString *error = nullptr);

// For XML files the program rewrites: when `path` holds something that is
// not well-formed XML (an empty file does not count), it is renamed to
// "<path>.broken" (".broken.2", ... when that is taken) so that writing
// fresh content does not destroy what the user had. Returns the new path,
// or "" when nothing was moved.
QString setAsideBrokenXml(const QString &path);

// Removes the temporary files write() leaves when the program is killed
// mid-write: "<name>.XXXXXX" (six letters) beside each of `names` in `dir`,
// older than `minAgeSeconds` and open in no process. Nothing else is
// touched. Returns how many were removed.
int removeStaleTemporaries(const QString &dir, const QStringList &names, int minAgeSeconds = 60);

} // namespace AtomicFile

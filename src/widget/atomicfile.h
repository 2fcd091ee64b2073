#pragma once

#include <QByteArray>
#include <QString>

// Writes files so that a crash or a full disk never leaves a half-written
// file behind: the data goes to a temporary file beside the target, which
// then replaces it. An existing file keeps its permissions; a symbolic link
// is followed so the link itself survives.
namespace AtomicFile {

// Returns false (and leaves any existing file untouched) on failure;
// `error`, when given, receives a readable reason.
bool write(const QString &path, const QByteArray &data, QString *error = nullptr);

} // namespace AtomicFile

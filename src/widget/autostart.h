#pragma once

#include <QByteArray>
#include <QString>

// Start at log-in: a line in the user's ~/.profile that starts the program
// hidden in the tray.
namespace AutoStart {

// The line the program adds.
QByteArray programLine(); // "/usr/local/Lumory/Lumory /background &"

// ~/.profile of the current user ($HOME).
QString defaultProfilePath();

// Removes every earlier program line and, when `on`, appends one. Other lines
// keep their order and bytes. The file is replaced atomically, keeps its
// permissions, and is left untouched when nothing would change. A profile
// that cannot be read or written is left as it is ("Can't open the file!").
// Returns true when the profile ends up in the wanted state.
bool apply(bool on, const QString &profilePath = defaultProfilePath());

// The new profile content for `on`, from the old content.
QByteArray rewrite(const QByteArray &content, bool on);

} // namespace AutoStart

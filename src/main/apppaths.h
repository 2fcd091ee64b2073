#pragma once

#include <QString>

// Where the program finds its data: the directory of the executable, with
// config/ and images/ beside it. Tests point it at a scratch copy.
//
// What the program writes (preferences, logs, per-keyboard folders,
// downloads) stays beside the executable while that directory is writable
// (a build tree, an unpacked copy). An installed copy whose directory a
// normal user cannot write keeps them in the user's XDG directories:
//   preferences      $XDG_CONFIG_HOME/Lumory/   (~/.config/Lumory/)
//   per-keyboard     $XDG_DATA_HOME/Lumory/     (~/.local/share/Lumory/)
//   downloads        $XDG_DATA_HOME/Lumory/
//   logs             $XDG_STATE_HOME/Lumory/log (~/.local/state/Lumory/log)
// A preference the user has written takes precedence over the shipped one.
namespace AppPaths {

// QCoreApplication::applicationDirPath() unless overridden.
QString appDir();
// Overrides the application directory (empty restores the default).
void setAppDir(const QString &dir);
// appDir() + "/config/": the shipped data, read only.
QString configDir();
// appDir() + "/images/"
QString imagesDir();

// Whether appDir() (and its config/) can be written by this user; checked
// once per application directory. LUMORY_FORCE_READONLY_APPDIR=1 in the
// environment treats it as read-only (useful as root, who can write anyway).
bool isAppDirWritable();
// Forces the answer of isAppDirWritable() for tests; -1 checks again, 0 is
// read-only, 1 is writable.
void forceAppDirWritable(int writable);

// Where preferences are written, ending in "/": configDir() or
// $XDG_CONFIG_HOME/Lumory/.
QString writableConfigDir();
// The parent of the per-keyboard folders, no trailing "/": appDir() or
// $XDG_DATA_HOME/Lumory.
QString dataDir();
// The daily logs, no trailing "/": appDir() + "/log" or
// $XDG_STATE_HOME/Lumory/log.
QString logDir();
// Where online update downloads land, no trailing "/": appDir() or
// $XDG_DATA_HOME/Lumory.
QString downloadDir();

// The preference `name` (relative to config/) to read: the user's copy when
// it exists, else the shipped one.
QString configFile(const QString &name);
// `path` moved from configDir() to writableConfigDir() when it lies below
// configDir(); any other path is returned unchanged.
QString writablePath(const QString &path);
// The file to read for `path`: its writable copy when that exists, else
// `path` itself.
QString readablePath(const QString &path);

} // namespace AppPaths

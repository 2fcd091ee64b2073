#pragma once

#include <QString>

// Where the program finds its data: the directory of the executable, with
// config/ and images/ beside it. Tests point it at a scratch copy.
namespace AppPaths {

// QCoreApplication::applicationDirPath() unless overridden.
QString appDir();
// Overrides the application directory (empty restores the default).
void setAppDir(const QString &dir);
// appDir() + "/config/"
QString configDir();
// appDir() + "/images/"
QString imagesDir();

} // namespace AppPaths

#pragma once

#include <QString>

// The preferences kept in <appdir>/config/menutree.xml.
struct MenuTreeData
{
    bool autoStart = false;
    QString webDownload;
    QString webHelp;
    bool layoutMac = false;
    bool layoutWin = false;
    bool layoutAuto = false;

    // Reads the file; on failure logs and leaves the defaults. Returns false
    // when the file cannot be opened or parsed.
    bool read(const QString &path);
    // Writes the file atomically; 0 on success, -2 when it cannot be written.
    int write(const QString &path) const;
};

#pragma once

#include <QString>

// config/AutoUpdate.xml: whether the program checks for updates on its own.
//   <?xml version='1.0' encoding='UTF-8'?>
//   <COMMAND>
//       <Update>
//           <AutoUpdate Auto="2"/>
//       </Update>
//   </COMMAND>
// Auto is the check box state: "0" unchecked, "2" checked.
namespace AutoUpdateFile {

// AppPaths::configDir() + "AutoUpdate.xml"
QString defaultPath();

// Reads the file into *on (Auto != 0). False, with "读取xml错误" logged and
// *on left alone, when the file is missing, unparsable or has no numeric
// Auto attribute.
bool read(const QString &path, bool *on);

// Writes the check box state (Qt::CheckState as a number) atomically. A file
// that holds something other than XML is first set aside as "<path>.broken".
// False (the old file untouched) when it cannot be written; `error` gets the
// reason.
bool write(const QString &path, int checkState, QString *error = nullptr);

} // namespace AutoUpdateFile

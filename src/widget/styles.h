#pragma once

#include <QString>

// Style-sheet pieces the pages share.
namespace Styles {
// The drop-down part of combo boxes on the dark pages: no frame, our arrow.
QString comboBoxArrow();
} // namespace Styles

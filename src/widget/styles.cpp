#include "widget/styles.h"

#include "main/apppaths.h"

namespace Styles {
QString comboBoxArrow()
{
    return QStringLiteral("QComboBox::drop-down { border: none; width: 22px; }"
                          "QComboBox::down-arrow { image: url(%1main/combo-arrow.svg);"
                          " width: 12px; height: 12px; }")
        .arg(AppPaths::imagesDir());
}
} // namespace Styles

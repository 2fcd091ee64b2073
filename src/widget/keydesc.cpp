#include "widget/keydesc.h"

#include "device/wirerecords.h"
#include "widget/data.h"

#include <algorithm>
#include <cmath>

void KeyDesc::setRowCol(int newRow, int newCol)
{
    row = newRow;
    col = newCol;
    // Any negative row means "no matrix position"; -1 is the one in use.
    if (row < 0) {
        name = QString();
        return;
    }
    name = Data::indexToLetters(col) + QString::number(row);
}

void KeyDesc::setImage(const QString &newImage)
{
    image = newImage;
    if (!image.isEmpty())
        name = QString();
}

QString KeyDesc::imageFile() const
{
    if (image.isEmpty())
        return QString();
    return image.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".svg");
}

bool KeyDesc::matches(const kc_t &record) const
{
    return type == record.type() && stype == record.stype() && code == record.code();
}

LayoutExtent layoutExtent(const QVector<KeyDesc> &keys)
{
    LayoutExtent extent;
    for (const KeyDesc &key : keys) {
        extent.right = std::max(extent.right, key.x + key.w);
        extent.bottom = std::max(extent.bottom, key.y + key.h);
    }
    return extent;
}

int toPixels(double value)
{
    // The largest size a widget can have (QWIDGETSIZE_MAX, a widget header).
    constexpr double kLimit = (1 << 24) - 1;
    if (std::isnan(value))
        return 0;
    return static_cast<int>(std::clamp(value, -kLimit, kLimit));
}

#pragma once

#include <QByteArray>
#include <QString>
#include <QVector>

// 0xAARRGGBB, the same type as Qt Gui's QRgb, which this library cannot
// include.
typedef unsigned int QRgb;

// The palette's custom colours and their file, customcolor/color_btn_32.json:
// a JSON array of one object per button, {"customColor_<i>": "#rrggbb"}.
namespace CustomColors {

constexpr int kCount = 38;
// What a button shows when the file gives it nothing.
constexpr QRgb kInitial = 0xffffffff;

// Reads the file into `colors` (resized to kCount, new entries kInitial).
// Element i, when it is an object, gives button i from "customColor_<i>";
// anything unusable leaves that button's colour as it was. Returns false
// only when the file cannot be opened.
bool analyJson(const QString &path, QVector<QRgb> *colors);

// The file's bytes for `colors` (alpha is not stored).
QByteArray formatJson(const QVector<QRgb> &colors);

// Replaces the file (atomically, creating its folder). On failure the old
// file stays as it was and false is returned.
bool writeJson(const QString &path, const QVector<QRgb> &colors);

// "#rrggbb".
QString colorName(QRgb color);
// Reads "#rgb", "#rrggbb" or "#aarrggbb"; false for anything else.
bool parseColorName(const QString &name, QRgb *color);

} // namespace CustomColors

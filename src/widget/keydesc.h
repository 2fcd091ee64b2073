#pragma once

#include <QString>
#include <QVector>

#include <cstdint>

struct kc_t;

// One drawn key as the layout files describe it: its identity (type, stype,
// code), its labels and picture, and its rectangles in layout units. This is
// everything KeyBtn shows that is not widget state; the key page builds its
// widgets from these. A plain value type.
struct KeyDesc
{
    uint16_t type = 0;                   // key class (fits the 3-bit kc_t field when 0-7)
    uint16_t stype = 0;                  // key subclass (fits the 4-bit kc_t field when 0-15)
    uint16_t code = 0;                   // key code within the class
    QString alias = QStringLiteral(" "); // short alternative legend
    QString name = QStringLiteral(" ");  // text shown on the key
    QString image;                       // picture file name, e.g. "lock.svg"
    QString legend;                      // the key's string in the layout JSON

    // Main rectangle and the second rectangle of a polygon key, in layout
    // units; x2 and y2 are relative to the main rectangle.
    double x = 0;
    double y = 0;
    double w = 0;
    double h = 0;
    double x2 = 0;
    double y2 = 0;
    double w2 = 0;
    double h2 = 0;

    int row = -1; // matrix position, see setRowCol()
    int col = -1;
    int vectorIndex = -1; // position of the key in its layout vector
    bool locked = false;  // copy of the lock bit of the key's kc_t record

    // A key with a second rectangle (any of x2, y2, w2, h2 non-zero).
    bool isPolygonShape() const { return x2 != 0 || y2 != 0 || w2 != 0 || h2 != 0; }
    // The first polygon kind: x2, y2 and h2 all non-zero. A typical ISO
    // Enter (x2 < 0, y2 = 0) is a polygon key of the second kind.
    bool isPolygon() const { return x2 != 0 && y2 != 0 && h2 != 0; }

    // Stores the matrix position and names the key after it: column letters
    // followed by the row number (A3, AB3); a negative row gives "".
    void setRowCol(int row, int col);
    // A non-empty picture replaces the name with "".
    void setImage(const QString &image);
    // File name the picture is drawn from: the image name up to its first
    // dot followed by ".svg"; empty without an image.
    QString imageFile() const;

    // Same identity as a stored key-code record: type, stype and code equal
    // (the lock bit and the record's last byte do not count).
    bool matches(const kc_t &record) const;
    // Same identity as another key.
    bool sameKey(const KeyDesc &other) const
    {
        return type == other.type && stype == other.stype && code == other.code;
    }
    // The palette key that toggles a key's lock bit: type 0, stype 0, code 0xF0.
    bool isLockKey() const { return type == 0 && stype == 0 && code == kLockCode; }
    // The palette key that does nothing: type, stype and code all 0.
    bool isEmptyKey() const { return type == 0 && stype == 0 && code == 0; }

    static constexpr uint16_t kLockCode = 0xF0;
};

// The labels of one static key, as the macro editor's timeline keeps them.
struct StaticKeyLabel
{
    uint16_t type = 0;
    uint16_t stype = 0;
    uint16_t code = 0;
    QString name = QStringLiteral(" ");
    QString alias = QStringLiteral(" ");
    QString image;
};

// The extent of a layout: the largest x + w and y + h over all keys (0 for
// no keys), in layout units.
struct LayoutExtent
{
    double right = 0;
    double bottom = 0;
};
LayoutExtent layoutExtent(const QVector<KeyDesc> &keys);

// Pixels computed from layout data, converted to int only within range:
// truncated toward zero, held within the largest widget size, NaN gives 0.
int toPixels(double value);

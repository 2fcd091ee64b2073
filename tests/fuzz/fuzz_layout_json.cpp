// Keyboard Layout Editor JSON (config/layout/*.json, the static layout and
// files opened in the layout editor), then the pixel geometry the key page
// derives from it.
#include "fuzzsupport.h"

#include "widget/data.h"
#include "widget/keydesc.h"

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    QString path = fuzz::writeFile(QStringLiteral("config/layout/fuzz.json"), data, size);
    Data parser;
    QVector<KeyDesc> keys;
    parser.parseJsonFileForFix(&keys, QString(), &path);

    constexpr double kUnit = 54.0;
    const int spacing = Data::keySpacing();
    const LayoutExtent extent = layoutExtent(keys);
    volatile int sink = toPixels(extent.right * kUnit) + toPixels(extent.bottom * kUnit);
    int row = -1;
    int col = 0;
    double lastY = -1;
    for (KeyDesc &key : keys) {
        if (key.y != lastY) {
            ++row;
            col = 0;
            lastY = key.y;
        }
        key.setRowCol(row, col++);
        sink = sink + toPixels(kUnit * key.x) + toPixels(kUnit * key.y) +
               toPixels(kUnit * key.w - spacing + 1) + toPixels(kUnit * key.h - spacing + 1);
        if (key.isPolygonShape())
            sink = sink + toPixels(kUnit * (key.x + key.x2)) + toPixels(kUnit * (key.y + key.y2)) +
                   toPixels(kUnit * key.w2) + toPixels(kUnit * key.h2);
        key.setImage(key.legend);
        sink = sink + key.imageFile().size();
    }
    fuzz::resetProblems();
    return 0;
}

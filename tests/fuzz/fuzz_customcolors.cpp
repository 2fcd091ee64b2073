// The palette's custom colours, config/customcolor/color_btn_32.json.
#include "fuzzsupport.h"

#include "color/customcolors.h"

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path =
        fuzz::writeFile(QStringLiteral("config/customcolor/color_btn_32.json"), data, size);
    QVector<QRgb> colors;
    CustomColors::analyJson(path, &colors);
    volatile int sink = CustomColors::formatJson(colors).size();
    (void)sink;
    fuzz::resetProblems();
    return 0;
}

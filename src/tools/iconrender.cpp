// Renders an SVG icon into a square PNG of the given size. Run by the build to
// make the fixed-size hicolor icons from the one scalable drawing:
//   lumory_icon_render <icon.svg> <size> <out.png>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSaveFile>
#include <QSvgRenderer>

#include <cstdio>

namespace {

// Keeps the build log to what matters: what the SVG reader says about the
// drawing, and errors. The offscreen platform's start-up chatter (no runtime
// directory on a build machine) is left out.
void printMessage(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    if (type == QtDebugMsg || type == QtInfoMsg)
        return;
    if (type == QtWarningMsg && qstrcmp(context.category, "qt.svg") != 0)
        return;
    std::fprintf(stderr, "lumory_icon_render: %s\n", qPrintable(text));
}

} // namespace

int main(int argc, char *argv[])
{
    // A build machine has no display; nothing here is shown.
    qInstallMessageHandler(printMessage);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 4) {
        std::fprintf(stderr, "usage: lumory_icon_render <icon.svg> <size> <out.png>\n");
        return 2;
    }
    bool sizeOk = false;
    const int size = args.at(2).toInt(&sizeOk);
    if (!sizeOk || size < 1 || size > 4096) {
        std::fprintf(stderr, "lumory_icon_render: bad size '%s'\n", qPrintable(args.at(2)));
        return 2;
    }
    QSvgRenderer renderer(args.at(1));
    if (!renderer.isValid()) {
        std::fprintf(stderr, "lumory_icon_render: cannot read SVG '%s'\n", qPrintable(args.at(1)));
        return 1;
    }

    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        renderer.render(&painter, QRectF(0, 0, size, size));
    }
    // A drawing that parses but paints nothing (a wrong view box, say) must fail
    // the build rather than install an invisible icon.
    bool painted = false;
    for (int y = 0; y < size && !painted; ++y) {
        const auto *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < size && !painted; ++x)
            painted = qAlpha(line[x]) != 0;
    }
    if (!painted) {
        std::fprintf(stderr, "lumory_icon_render: '%s' paints nothing at %d px\n",
                     qPrintable(args.at(1)), size);
        return 1;
    }

    // Written in one go, so a failed run never leaves a half-written icon behind
    // that a later build would take as up to date.
    const QString out = args.at(3);
    QSaveFile file(out);
    if (!QDir().mkpath(QFileInfo(out).absolutePath()) || !file.open(QIODevice::WriteOnly) ||
        !image.save(&file, "PNG") || !file.commit()) {
        std::fprintf(stderr, "lumory_icon_render: cannot write '%s'\n", qPrintable(out));
        return 1;
    }
    return 0;
}

// The macro timeline widget, one line: "name value unit".
//
//   timeline_relayout_ms  1,000 events appended one by one through
//                         MacroKeyLayout::createKey to a shown timeline
//                         (off screen), scrolled to each new event and drawn
//                         as the staged drawing does; total time, median of
//                         5 runs. Appending places only the new event, so
//                         the total grows linearly with the events.

#include "macro/macrokeylayout.h"

#include <QApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void quietTimeline(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

} // namespace

int timelineBenchmarks()
{
    const QtMessageHandler previous = qInstallMessageHandler(quietTimeline);
    constexpr int kEvents = 1000;
    std::vector<double> runs;
    int failures = 0;
    for (int run = 0; run < 5; ++run) {
        MacroKeyLayout layout;
        layout.resize(900, layout.height());
        layout.show();
        QApplication::processEvents();
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < kEvents; ++i) {
            // Typing over the letters, every event after a short wait.
            layout.createKey(i % 2 ? 0 : 1, 5 + i % 40, uint16_t(4 + (i / 2) % 26), 1, 0, true);
            QApplication::processEvents();
        }
        runs.push_back(timer.nsecsElapsed() / 1e6);
        if (layout.model().size() != kEvents || layout.framesNeeded() != kEvents)
            ++failures;
    }
    std::sort(runs.begin(), runs.end());
    std::printf("%s %.3f %s\n", "timeline_relayout_ms", runs[runs.size() / 2], "ms");
    std::fflush(stdout);
    qInstallMessageHandler(previous);
    if (failures)
        std::fprintf(stderr, "timeline benchmark: the timeline lost events\n");
    return failures ? 1 : 0;
}

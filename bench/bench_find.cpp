// The key page's finding: building the palette's search index (done at the
// first search) and answering a typed text (done at every keystroke).

#include "benchsupport.h"
#include "widget/data.h"
#include "widget/keysearch.h"

#include <QElapsedTimer>

#include <algorithm>
#include <vector>

namespace {
double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}
} // namespace

int findBenchmarks()
{
    Data data;
    std::vector<double> builds;
    KeySearch search;
    for (int run = 0; run < 15; ++run) {
        QElapsedTimer timer;
        timer.start();
        QVector<KeyDesc> windows;
        QVector<KeyDesc> mac;
        if (!KeySearch::loadPalette(&data, &windows, &mac)) {
            std::fprintf(stderr, "find: the palette could not be read\n");
            return 1;
        }
        search = KeySearch(windows, mac);
        builds.push_back(timer.nsecsElapsed() / 1e6);
    }
    bench::figure("find_index_ms", median(builds), "ms");

    // Every prefix of a few typical searches, as typed.
    const QStringList typed = {QStringLiteral("mute"),      QStringLiteral("volume up"),
                               QStringLiteral("play"),      QStringLiteral("f12"),
                               QStringLiteral("backspace"), QStringLiteral("kp enter"),
                               QStringLiteral("静音"),      QStringLiteral("command"),
                               QStringLiteral("print scr"), QStringLiteral("zzz")};
    std::vector<double> queries;
    int found = 0;
    for (int run = 0; run < 20; ++run) {
        for (const QString &text : typed) {
            for (int n = 1; n <= text.size(); ++n) {
                QElapsedTimer timer;
                timer.start();
                found += search.indices(text.left(n), KeySearch::Windows).size();
                queries.push_back(timer.nsecsElapsed() / 1e3);
            }
        }
    }
    bench::figure("find_query_us", median(queries), "us");
    bench::figure(
        "find_query_p99_us",
        [&] {
            std::vector<double> sorted = queries;
            std::sort(sorted.begin(), sorted.end());
            return sorted[sorted.size() * 99 / 100];
        }(),
        "us");
    return found > 0 ? 0 : 1;
}

// Macro file figures, one line each: "name value unit".
//
//   macro_file_save_ms  a macro of 2,048 events written to its file
//                       (atomically, median of 21 runs)
//   macro_file_read_ms  the same file read back into events (median of 21 runs)

#include "macro/macrofile.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double medianOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

} // namespace

int macroFileBenchmarks()
{
    constexpr int kEvents = 2048;
    constexpr int kRuns = 21;
    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "macro file benchmark: no temporary folder\n");
        return 1;
    }
    QVector<DataKey> events;
    events.reserve(kEvents);
    for (int i = 0; i < kEvents; ++i) {
        const uint16_t code = (i / 2) % 9 == 0 ? 0xE1 : uint16_t(4 + (i / 2) % 26);
        events.append(
            DataKey(i % 2 ? DataKey::kUp : DataKey::kDown, uint16_t(5 + i % 40), code, 1, 0));
    }
    const QString path = MacroFile::pathIn(dir.path(), QStringLiteral("Bench"), 0);
    QElapsedTimer timer;
    int failures = 0;

    std::vector<double> save;
    for (int run = 0; run < kRuns; ++run) {
        timer.start();
        if (MacroFile::save(path, 0, events) != MacroFile::SaveStatus::Saved)
            ++failures;
        save.push_back(timer.nsecsElapsed() / 1e6);
    }

    std::vector<double> read;
    QVector<DataKey> back;
    for (int run = 0; run < kRuns; ++run) {
        timer.start();
        if (MacroFile::read(path, &back) != MacroFile::kRead || back.size() != kEvents)
            ++failures;
        read.push_back(timer.nsecsElapsed() / 1e6);
    }

    if (failures) {
        std::fprintf(stderr, "macro file benchmark: %d runs failed\n", failures);
        return 1;
    }
    std::printf("%s %.3f %s\n", "macro_file_save_ms", medianOf(save), "ms");
    std::printf("%s %.3f %s\n", "macro_file_read_ms", medianOf(read), "ms");
    std::fflush(stdout);
    return 0;
}

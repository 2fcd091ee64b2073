// Macro figures, one line each: "name value unit".
//
//   macro_encode_us     events of a 512-frame macro encoded into frames
//                       (median of 300 runs)
//   macro_decode_us     512 stored frames decoded into events (median of 300 runs)
//   timeline_append_ms  1,000 events appended one by one to a timeline model,
//                       asking its frame count and total time after each, as
//                       the editor does while a recording grows (median of 21 runs)
//
// The debug lines the codec writes per frame are formatted but not printed.

#include "benchsupport.h"
#include "macro/macrocodec.h"
#include "macro/timelinemodel.h"

#include <QElapsedTimer>
#include <QVector>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void silent(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v[v.size() / 2];
}

using bench::figure;

// Typing over the letters and Shift, every event after a short wait: each
// event opens a frame.
QVector<DataKey> typing(int count)
{
    QVector<DataKey> keys;
    keys.reserve(count);
    for (int i = 0; i < count; ++i) {
        const bool shift = (i / 2) % 7 == 0;
        const uint16_t code = shift ? 0xE1 : uint16_t(4 + (i / 2) % 26);
        keys.append(
            DataKey(i % 2 ? DataKey::kUp : DataKey::kDown, uint16_t(5 + i % 40), code, 1, 0));
    }
    return keys;
}

} // namespace

int macroCodecBenchmarks()
{
    const QtMessageHandler previous = qInstallMessageHandler(silent);
    const int frameCount = MacroCodec::kMaxFrames;
    const QVector<DataKey> keys = typing(frameCount);
    std::vector<mframe_t> frames(static_cast<size_t>(frameCount));
    QElapsedTimer timer;

    std::vector<double> encode;
    int encoded = 0;
    for (int run = 0; run < 300; ++run) {
        timer.start();
        encoded = MacroCodec::key2mframe(keys, frames.data(), frameCount);
        encode.push_back(timer.nsecsElapsed() / 1000.0);
    }

    std::vector<double> decode;
    QVector<DataKey> back;
    for (int run = 0; run < 300; ++run) {
        back.clear();
        timer.start();
        MacroCodec::parserFrame(encoded, frames.data(), frameCount, &back);
        decode.push_back(timer.nsecsElapsed() / 1000.0);
    }

    std::vector<double> append;
    const QVector<DataKey> events = typing(1000);
    qint64 shown = 0;
    for (int run = 0; run < 21; ++run) {
        MacroTimeline timeline;
        timer.start();
        for (const DataKey &k : events) {
            timeline.createKey(k.status, k.delay, k.code, k.type, k.stype);
            shown += timeline.framesNeeded() + timeline.totalTime();
        }
        append.push_back(timer.nsecsElapsed() / 1e6);
    }
    qInstallMessageHandler(previous);

    if (encoded != frameCount || back.size() != frameCount || shown <= 0) {
        std::fprintf(stderr, "macro benchmark: %d frames, %d events back\n", encoded,
                     int(back.size()));
        return 1;
    }
    figure("macro_encode_us", median(encode), "us");
    figure("macro_decode_us", median(decode), "us");
    figure("timeline_append_ms", median(append), "ms");
    return 0;
}

// Macro files (<device folder>/macro/*.xml and imported ones), then the
// encoding to keyboard frames that follows a load, and back.
#include "fuzzsupport.h"

#include "macro/macrocodec.h"
#include "macro/macrofile.h"

#include <vector>

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeFile(QStringLiteral("macro/fuzz.xml"), data, size);
    QVector<DataKey> events;
    MacroFile::ReadReport report;
    MacroFile::read(path, &events, &report);
    volatile int sink = report.location().size() + report.skipped + report.frames;

    std::vector<mframe_t> frames(MacroCodec::kMaxFrames);
    const int count =
        MacroCodec::key2mframe(events, frames.data(), static_cast<int>(frames.size()));
    if (count >= 0) {
        QVector<DataKey> decoded;
        sink = sink + MacroCodec::parserFrame(count, frames.data(), count, &decoded);
    }
    (void)sink;
    fuzz::resetProblems();
    return 0;
}

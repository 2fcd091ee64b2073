// The version files of the online update (INI): the program's and the
// firmware's, for both languages and both firmware kinds, then the version
// comparison that decides whether to offer the update.
#include "fuzzsupport.h"

#include "Update/updateformats.h"

#include <QFile>

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // QSettings keeps files it has read in a cache that is checked by size and
    // time stamp: a new name for each input keeps one input from reading the
    // previous one's values.
    static quint64 counter = 0;
    const QString path =
        fuzz::writeFile(QStringLiteral("temp/version%1.ini").arg(++counter), data, size);

    volatile int sink = 0;
    for (int lang = 0; lang < 2; ++lang) {
        const QStringList program = UpdateFormats::ReadSettings(path, lang);
        if (!program.isEmpty())
            sink = sink + UpdateFormats::compareVersions(program.first(), QStringLiteral("1.0.0"));
        for (uint32_t type = 0; type < 2; ++type) {
            const QStringList firmware = UpdateFormats::ReadFirmwareSettings(path, lang, type);
            for (const QString &version : firmware)
                sink = sink + UpdateFormats::compareVersions(version, QStringLiteral("V1.06"));
        }
    }
    (void)sink;
    QFile::remove(path);
    fuzz::resetProblems();
    return 0;
}

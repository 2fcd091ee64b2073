// Zip archives of the online update: the central directory, then every entry
// inflated into memory with a budget, as the unpacking does before it writes
// anything.
#include "fuzzsupport.h"

#include "Update/zipreader.h"

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeFile(QStringLiteral("temp/update.lumoryzip"), data, size);
    ZipReader reader(path);
    QString error;
    if (reader.open(&error)) {
        qint64 budget = 4 * 1024 * 1024;
        for (const ZipReader::Entry &entry : reader.entries()) {
            volatile int sink = entry.isDirectory() + entry.isSymLink() + entry.isSpecial();
            (void)sink;
            if (entry.isDirectory())
                continue;
            qint64 taken = 0;
            reader.extract(
                entry,
                [&taken](const char *, qint64 n) {
                    taken += n;
                    return true;
                },
                &budget, &error);
            if (budget <= 0)
                break;
        }
    }
    return 0;
}

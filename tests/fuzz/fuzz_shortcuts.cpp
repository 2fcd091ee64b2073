// The per-keyboard shortcuts.xml: the editor's load, the strings the key
// functions keep on the host, and the check that guards automatic saves.
#include "fuzzsupport.h"

#include "shortcut/shortcutsfile.h"

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path =
        fuzz::writeFile(QStringLiteral("0123456789abcdef01234567/shortcuts.xml"), data, size);
    QVector<ShortcutsFile::Item> items;
    ShortcutsFile::load(path, &items);

    // Records as the keyboard's table would give them, for the ids the file names.
    QVector<STCTS> records;
    for (const ShortcutsFile::Item &item : items) {
        STCTS record;
        record.id = item.id;
        record.hi = static_cast<quint32>(item.hi);
        record.type = static_cast<quint32>(item.hitype);
        records.append(record);
    }
    ShortcutsFile::fillStrings(path, &records);
    volatile int sink = ShortcutsFile::isUnreadable(path);
    for (const STCTS &record : records)
        sink = sink + record.str.size();
    (void)sink;
    fuzz::resetProblems();
    return 0;
}

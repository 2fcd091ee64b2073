// A board's function catalogue (config/kf/*_kf.xml), then what the key
// function editor does with each function: its defaults encoded into an
// entry and read back.
#include "fuzzsupport.h"

#include "device/wirerecords.h"
#include "shortcut/kfcatalogue.h"
#include "shortcut/kfrecord.h"

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeFile(QStringLiteral("config/kf/fuzz_kf.xml"), data, size);
    QVector<KF> catalogue;
    parseKFXML(path, &catalogue);
    for (const KF &function : catalogue) {
        kf_t entry{};
        KfRecord::encode(KfRecord::defaults(function.control_type, function.hi), &entry);
        const KfRecord::KfFunction back = KfRecord::decode(entry, catalogue);
        // Unsigned: the values come from the input and may be as large as int goes.
        volatile unsigned sink =
            unsigned(back.controlType) + unsigned(kfControlType(catalogue, function.hi)) +
            unsigned(function.options.size()) + unsigned(function.tipsZh.size());
        (void)sink;
    }
    fuzz::resetProblems();
    return 0;
}

// Static key tables (config/static/static_win.xml, static_mac.xml): labelling
// the palette, one macro key, and the key map's lookup of a stored record.
#include "fuzzsupport.h"

#include "device/wirerecords.h"
#include "widget/data.h"
#include "widget/keydesc.h"

#include <QStringList>

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString table = QStringLiteral("static/fuzz.xml");
    fuzz::writeFile(QStringLiteral("config/") + table, data, size);
    Data parser;

    // As many palette keys as the shipped static layout has.
    QVector<KeyDesc> keys(224);
    parser.parseStaticXML(&keys, table);

    // A macro key looks itself up by identity; take the last labelled one so
    // that the lookup can succeed.
    StaticKeyLabel label;
    for (const KeyDesc &key : keys) {
        if (key.code != 0 || key.type != 0 || key.stype != 0) {
            label.type = key.type;
            label.stype = key.stype;
            label.code = key.code;
        }
    }
    parser.parseStaticXML(&label, table);

    // A stored record looked up among the labelled keys (the first few: each
    // lookup walks the whole table).
    for (int i = 0; i < keys.size() && i < 16; ++i) {
        kc_t record{};
        record.setType(static_cast<uint8_t>(keys[i].type));
        record.setStype(static_cast<uint8_t>(keys[i].stype));
        record.setCode(keys[i].code);
        KeyDesc target;
        Data::selectStaticBtn(&target, record, &keys);
        volatile int sink = target.imageFile().size() + target.name.size();
        (void)sink;
    }

    // The custom colour names use the same kind of table.
    fuzz::writeFile(QStringLiteral("config/customcolor/fuzz.xml"), data, size);
    QStringList names;
    parser.parseStaticColorXML(&names, QStringLiteral("fuzz.xml"));
    fuzz::resetProblems();
    return 0;
}

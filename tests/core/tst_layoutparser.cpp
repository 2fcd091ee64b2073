// Layout files, static key tables and the key descriptions built from them,
// and the consistency of the shipped layouts, palette, pictures and the
// simulated keyboards' default key maps.
#include "testsupport.h"

#include "device/wirerecords.h"
#include "main/apppaths.h"
#include "simbus.h"
#include "widget/data.h"
#include "widget/keydesc.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRectF>
#include <QSet>
#include <QXmlStreamReader>
#include <QtTest>

#include <algorithm>

namespace {

// Collects the messages logged while it lives (and keeps them off the console).
// The parsers log on the test thread only.
struct LogCapture
{
    LogCapture() : previous(qInstallMessageHandler(&handler)) { current = this; }
    ~LogCapture()
    {
        qInstallMessageHandler(previous);
        current = nullptr;
    }
    int count(const QString &text) const { return lines.filter(text).size(); }
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        if (current)
            current->lines << message;
    }
    static inline LogCapture *current = nullptr;
    QtMessageHandler previous;
    QStringList lines;
};

void put(const QString &path, const QByteArray &content)
{
    QVERIFY2(QDir().mkpath(QFileInfo(path).absolutePath()) && TestSupport::writeFile(path, content),
             qPrintable(path));
}

QVector<KeyDesc> parseLayout(const QByteArray &json, bool *ok)
{
    TestSupport::ScratchAppDir dir(false);
    put(dir.configFile(QStringLiteral("layout/test.json")), json);
    QVector<KeyDesc> keys;
    QString path;
    *ok = Data().parseJsonFileForFix(&keys, QStringLiteral("layout/test.json"), &path);
    return keys;
}

kc_t record(int type, int stype, int code, bool lock = false)
{
    kc_t r{};
    r.setType(uint8_t(type));
    r.setStype(uint8_t(stype));
    r.setCode(uint16_t(code));
    r.setLock(lock);
    r.extra = 0x5A;
    return r;
}

// The polygon kind and second rectangle of a polygon key, "" for others.
QString secondRect(const KeyDesc &k)
{
    if (!k.isPolygonShape() && !k.isPolygon())
        return QString();
    return QString::asprintf(" kind%d %g,%g %gx%g", k.isPolygon() ? 1 : 2, k.x2, k.y2, k.w2, k.h2);
}

// "legend x,y wxh" and the second rectangle of each key.
QString geometry(const QVector<KeyDesc> &keys)
{
    QStringList out;
    for (const KeyDesc &k : keys)
        out << QString::asprintf("%s %g,%g %gx%g", qUtf8Printable(k.legend), k.x, k.y, k.w, k.h) +
                   secondRect(k);
    return out.join(QStringLiteral(" | "));
}

// The first two keys of a layout whose areas overlap, or "" when none do.
QString overlappingKeys(const QVector<KeyDesc> &keys)
{
    QVector<QPair<int, QRectF>> areas;
    for (int i = 0; i < keys.size(); ++i) {
        const KeyDesc &k = keys[i];
        areas.append({i, QRectF(k.x, k.y, k.w, k.h)});
        if (k.isPolygonShape())
            areas.append({i, QRectF(k.x + k.x2, k.y + k.y2, k.w2, k.h2)});
    }
    for (const auto &a : areas) {
        for (const auto &b : areas) {
            if (a.first < b.first && a.second.intersects(b.second))
                return keys[a.first].legend + QStringLiteral(" / ") + keys[b.first].legend;
        }
    }
    return QString();
}

// Identity and labels: "type/stype/code|name|alias|image".
QString label(const KeyDesc &k)
{
    return QString::asprintf("%u/%u/%x|%s|%s|%s", k.type, k.stype, k.code, qUtf8Printable(k.name),
                             qUtf8Printable(k.alias), qUtf8Printable(k.image));
}

const KeyDesc *findStatic(const QVector<KeyDesc> &statics, const kc_t &r)
{
    auto it = std::find_if(statics.begin(), statics.end(),
                           [&](const KeyDesc &k) { return k.matches(r); });
    return it == statics.end() ? nullptr : &*it;
}

// A scratch copy of the shipped data with its board catalogue read; `ok`
// turns false at the first file that cannot be read.
struct Shipped
{
    TestSupport::ScratchAppDir dir;
    Data data;
    QVector<BoardInfo *> boards;
    bool ok = data.parseConfigXML(&boards, QStringLiteral("config.xml"));

    QVector<KeyDesc> layout(const QString &file)
    {
        QVector<KeyDesc> keys;
        QString path;
        ok = data.parseJsonFileForFix(&keys, file, &path) && ok;
        return keys;
    }
    QVector<KeyDesc> labelled(QVector<KeyDesc> keys, const QString &table)
    {
        ok = data.parseStaticXML(&keys, table) && ok;
        return keys;
    }
};

} // namespace

class TestLayoutParser : public QObject
{
    Q_OBJECT

private slots:
    void kleGeometry_data();
    void kleGeometry();
    void kleFileProblems();
    void staticTable_data();
    void staticTable();
    void macroKeyLabelAndColourNames();
    void columnLettersAndNames();
    void descriptionHelpers();
    void selectStaticButton();
    void layoutVersionChoosesTheTable();
    void shippedTablesLabelThePalette();
    void shippedPicturesAreSvg();
    void shippedBoardsLayoutsAndDefaultMaps();
};

void TestLayoutParser::kleGeometry_data()
{
    QTest::addColumn<QByteArray>("json");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("logText"); // "" when the row does not look at the log
    QTest::addColumn<int>("logCount");
    auto row = [](const char *tag, const QByteArray &json, const char *expected,
                  const char *logText = "", int logCount = 0) {
        QTest::newRow(tag) << json << QString(expected) << QString(logText) << logCount;
    };
    // Properties apply to the next key only; x adds to the cursor; rows restart at x = 0.
    row("w=2 then A and B", R"([[{"w":2},"A","B"],[{"x":0.5,"h":2},"C",{"x":1},"D"],["E"]])",
        "A 0,0 2x1 | B 2,0 1x1 | C 0.5,1 1x2 | D 2.5,1 1x1 | E 0,2 1x1");
    row("y=0.5 shifts later rows", R"([["A"],[{"y":0.5},"B","C"],["D"],[{"y":0.25},"E"]])",
        "A 0,0 1x1 | B 0,1.5 1x1 | C 1,1.5 1x1 | D 0,2.5 1x1 | E 0,3.75 1x1");
    // A leading metadata object takes a row; other items and unknown members are ignored.
    row("leading metadata object", R"([{"name":"board","author":"someone"},
            ["A", 7, null, true, ["nested"], {"r":15,"a":4,"c":"red"}, "B"], "not a row", ["C"]])",
        "A 0,1 1x1 | B 1,1 1x1 | C 0,3 1x1");
    // Second-rectangle values apply to one key; x2 and y2 add up over the objects before it.
    row("ISO Enter polygon", R"([[{"w":1.5},"Tab","Q",
            {"x":0.25,"w":1.25,"h":2,"w2":1.5,"h2":1,"x2":-0.25},"Enter","Del"],
            [{"x2":0.5,"y2":0.5},{"x2":0.25,"y2":-1.5,"h2":1,"w2":1},"Odd"]])",
        "Tab 0,0 1.5x1 | Q 1.5,0 1x1 | Enter 2.75,0 1.25x2 kind2 -0.25,0 1.5x1 | Del 4,0 1x1 | "
        "Odd 0,1 1x1 kind1 0.75,-1 1x1");
    row("unusable numbers", R"([[{"w":"2"},"A",{"w":1e300,"x":-5e9},"B",{"h":2,"y":"1"},"C"]])",
        "A 0,0 1x1 | B 1,0 1x1 | C 2,0 1x2", "Layout JSON: ignored property", 4);
    // Offsets adding up beyond any keyboard are held at a bound, so no later
    // conversion to pixels can overflow.
    row("far offsets", "[[" + QByteArray(R"({"x":900},)").repeated(5000) + R"("far"]])",
        "far 1000,0 1x1", "Layout JSON: positions beyond", 1);
}

void TestLayoutParser::kleGeometry()
{
    QFETCH(QByteArray, json);
    QFETCH(QString, logText);
    LogCapture log;
    bool ok = false;
    const QVector<KeyDesc> keys = parseLayout(json, &ok);
    QVERIFY(ok);
    QTEST(geometry(keys), "expected");
    if (!logText.isEmpty())
        QTEST(log.count(logText), "logCount");
    // Keys carry no identity or matrix position until a table labels them.
    for (const KeyDesc &k : keys)
        QVERIFY(k.name == " " && k.alias == " " && k.row == -1 && k.vectorIndex == -1);
}

void TestLayoutParser::kleFileProblems()
{
    TestSupport::ScratchAppDir dir(false);
    Data data;
    QVector<KeyDesc> keys;
    QString path;
    LogCapture log;
    QVERIFY(!data.parseJsonFileForFix(&keys, QStringLiteral("missing.json"), &path));
    QCOMPARE(path, AppPaths::configDir() + QStringLiteral("missing.json"));
    QVERIFY(!data.parseJsonFileForFix(&keys, QString(), nullptr));
    QCOMPARE(log.count(QStringLiteral("Open JSON failed:")), 2);
    // Malformed JSON, or an object instead of the array of rows: no keys.
    put(dir.configFile(QStringLiteral("broken.json")), R"([["A","B"],[)");
    QVERIFY(data.parseJsonFileForFix(&keys, QStringLiteral("broken.json"), &path));
    QCOMPARE(log.count(QStringLiteral("Parse JSON failed.")), 1);
    put(dir.configFile(QStringLiteral("object.json")), R"({"rows":[["A"]]})");
    QVERIFY(data.parseJsonFileForFix(&keys, QStringLiteral("object.json"), &path));
    QVERIFY(keys.isEmpty());

    // An empty file name takes the path argument as a full path, unchanged;
    // keys are appended to what the vector holds.
    const QString full = dir.path() + QStringLiteral("/elsewhere/kle.json");
    put(full, R"([["A","B"]])");
    path = full;
    QVERIFY(data.parseJsonFileForFix(&keys, QString(), &path));
    QVERIFY(data.parseJsonFileForFix(&keys, QString(), &path));
    QCOMPARE(keys.size(), 4);
    QCOMPARE(path, full);
    QVERIFY(Data::CheckoutFileFormat(full));
    QVERIFY(!Data::CheckoutFileFormat(dir.path() + QStringLiteral("/elsewhere/none.json")));
}

void TestLayoutParser::staticTable_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QByteArray>("xml"); // null: no file
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("logText");
    QTest::addColumn<int>("logCount");
    QTest::addColumn<int>("logLines"); // -1: not looked at
    auto row = [](const char *tag, const char *file, const QByteArray &xml, int size, bool ok,
                  const char *expected, const char *logText, int logCount, int logLines) {
        QTest::newRow(tag) << QString(file) << xml << size << ok << QString(expected)
                           << QString(logText) << logCount << logLines;
    };
    const QByteArray five = R"(<t>
        <key code="04" type="1" name="A"/><key code="05" type="1" name="B"/>
        <key code="06" type="1" name="C"/><key code="07" type="1" name="D"/>
        <key code="08" type="1" name="E"/><key name="skipped"/></t>)";

    // Elements without a code or with an empty one use up no key; code="0" is
    // the empty key; a picture replaces the name; keys past the table keep theirs.
    row("empty-code elements use no key", "t.xml", R"(<?xml version="1.0" encoding="UTF-8"?>
        <anything><key code="04" type="1" stype="0" name="A" alias="a-alias"/>
            <key name="no code: skipped"/><key code="" type="9" name="empty code: skipped"/>
            <group><deeper>
                <key code="f0" type="0" stype="0" name="Lock" image="lock.svg" alias="Lock"/>
            </deeper></group><other code="05"/>
            <key code="0" type="0" stype="0" name="None" alias="None"/>
            <key code="1E2" type="2" stype="12" name="Mute" alias="M" image="volume-mute.svg"/>
        </anything>)",
        5, true,
        "1/0/4|A|a-alias| 0/0/f0||Lock|lock.svg 0/0/0|None|None| 2/12/1e2||M|volume-mute.svg "
        "3/1/77|old|old|old.svg",
        "ignored", 0, 1);
    // Nothing is written past the vector; one line names how many were left over.
    row("extra elements logged once", "long.xml", five, 2, true, "1/0/4|A|| 1/0/5|B||",
        "has 3 more coded key elements", 1, 2);
    row("one extra element", "long.xml", five, 4, true, "1/0/4|A|| 1/0/5|B|| 1/0/6|C|| 1/0/7|D||",
        "has 1 more", 1, 2);
    row("empty vector", "long.xml", five, 0, true, "", "has 5 more", 1, 2);
    // An XML error stops the labelling; the keys labelled so far keep their values.
    row("XML error", "bad.xml", R"(<t><key code="04" type="1" name="A"/>
        <key code="05" type="1" name="B"/><broken attr=></t>)",
        3, true, "1/0/4|A|| 1/0/5|B|| 3/1/77|old|old|old.svg", "", 0, 2);
    row("unreadable numbers become 0", "num.xml",
        R"(<t><key code="zz" type="x" stype="70000" name="Q"/></t>)", 1, true, "0/0/0|Q||",
        "Static key table: unreadable", 3, 4);
    row("missing file", "missing.xml", QByteArray(), 1, false, "3/1/77|old|old|old.svg",
        "Open static XML file failed:", 1, -1);
    row("no file name", "", QByteArray(), 1, false, "3/1/77|old|old|old.svg", "", 0, -1);
}

void TestLayoutParser::staticTable()
{
    QFETCH(QString, file);
    QFETCH(QByteArray, xml);
    QFETCH(int, size);
    QFETCH(QString, logText);
    QFETCH(int, logLines);
    TestSupport::ScratchAppDir dir(false);
    if (!xml.isNull())
        put(dir.configFile(file), xml);
    KeyDesc old;
    old.type = 3;
    old.stype = 1;
    old.code = 0x77;
    old.name = old.alias = QStringLiteral("old");
    old.image = QStringLiteral("old.svg");
    QVector<KeyDesc> keys(size, old);
    Data data;
    LogCapture log;
    QTEST(data.parseStaticXML(&keys, file), "ok");
    QCOMPARE(keys.size(), size);
    QStringList labels;
    for (const KeyDesc &k : keys)
        labels << label(k);
    QTEST(labels.join(QLatin1Char(' ')), "expected");
    if (!logText.isEmpty())
        QTEST(log.count(logText), "logCount");
    if (logLines >= 0)
        QVERIFY2(log.lines.size() == logLines, qPrintable(log.lines.join(QLatin1Char('\n'))));
}

void TestLayoutParser::macroKeyLabelAndColourNames()
{
    TestSupport::ScratchAppDir dir(false);
    put(dir.configFile(QStringLiteral("t.xml")), R"(<t>
        <key code="04" type="2" stype="0" name="Wrong type"/>
        <key code="04" type="1" stype="0" name="A" alias="a"/>
        <key code="04" type="1" stype="0" name="Second A"/>
        <key code="E3" type="1" stype="0" name="Win" image="windows.svg" alias="LWin"/></t>)");
    Data data;
    auto lookUp = [&](uint16_t type, uint16_t code, const QString &file = QStringLiteral("t.xml")) {
        StaticKeyLabel key;
        key.type = type;
        key.code = code;
        return data.parseStaticXML(&key, file) ? key.name + '|' + key.alias + '|' + key.image
                                               : QStringLiteral("failed");
    };
    QCOMPARE(lookUp(1, 0x04), QStringLiteral("A|a|")); // the first match of type and code
    QVERIFY(lookUp(1, 0xE3).endsWith(QStringLiteral("|LWin|windows.svg")));
    QCOMPARE(lookUp(3, 0x99), QStringLiteral(" | |")); // no match: unlabelled

    put(dir.configFile(QStringLiteral("customcolor/colors.xml")),
        "<COMMAND><color name=\"#ff0000\"/><color name=\"\"/><color/>"
        "<group><color name=\"#00ff00\"/></group><other name=\"#0000ff\"/></COMMAND>");
    QStringList names;
    QVERIFY(data.parseStaticColorXML(&names, QStringLiteral("colors.xml")));
    QCOMPARE(names, QStringList({QStringLiteral("#ff0000"), QStringLiteral("#00ff00")}));

    LogCapture log;
    QCOMPARE(lookUp(1, 0x04, QStringLiteral("none.xml")), QStringLiteral("failed"));
    QVERIFY(!data.parseStaticColorXML(&names, QStringLiteral("missing.xml")));
}

void TestLayoutParser::columnLettersAndNames()
{
    // A key is named after its column letters and row; a negative row gives no name.
    const std::tuple<int, int, const char *> cases[] = {
        {3, 0, "A3"},   {0, 25, "Z0"},   {5, 26, "AA5"},   {3, 27, "AB3"}, {1, 51, "AZ1"},
        {2, 52, "BA2"}, {0, 701, "ZZ0"}, {0, 702, "AAA0"}, {-1, 4, ""}};
    for (const auto &[row, col, name] : cases) {
        KeyDesc key;
        key.setRowCol(row, col);
        QCOMPARE(key.name, QString(name));
        QVERIFY(key.row == row && key.col == col);
        if (row >= 0)
            QCOMPARE(Data::indexToLetters(col) + QString::number(row), key.name);
    }
    QCOMPARE(Data::indexToLetters(4), QStringLiteral("E"));
    QCOMPARE(Data::indexToLetters(-1), QString());
}

void TestLayoutParser::descriptionHelpers()
{
    KeyDesc key;
    key.name = QStringLiteral("Up");
    key.setImage(QString());
    QCOMPARE(key.name + key.imageFile(), QStringLiteral("Up"));
    key.setImage(QStringLiteral("arrow-up.png.old"));
    QCOMPARE(key.name, QString());
    QCOMPARE(key.imageFile(), QStringLiteral("arrow-up.svg"));

    key.type = 1;
    key.code = 0x52;
    QVERIFY(key.matches(record(1, 0, 0x52)));
    QVERIFY(key.matches(record(1, 0, 0x52, true))); // the lock bit does not count
    for (const kc_t &other : {record(1, 1, 0x52), record(2, 0, 0x52), record(1, 0, 0x152)})
        QVERIFY(!key.matches(other));
    key.type = 9; // does not fit the record's three bits: never matches
    QVERIFY(!key.matches(record(1, 0, 0x52)));

    bool ok = false;
    const LayoutExtent extent =
        layoutExtent(parseLayout(R"([[{"x":1,"y":4,"w":2.25,"h":2},"S",{"x":0.25},"O"]])", &ok));
    QVERIFY(ok);
    QCOMPARE(extent.right, 4.5);
    QCOMPARE(extent.bottom, 6.0);
    QCOMPARE(layoutExtent({}).right, 0.0);
}

void TestLayoutParser::selectStaticButton()
{
    QVector<KeyDesc> statics(3);
    statics[0].type = 1;
    statics[0].code = 0x04;
    statics[1].type = 2;
    statics[1].code = 0xE2;
    statics[1].setImage(QStringLiteral("volume-mute.svg"));
    statics[1].alias = statics[1].legend = QStringLiteral("Mute");
    statics[1].vectorIndex = 1;
    statics[2] = statics[1];
    statics[2].alias = QStringLiteral("second");

    // The first match wins; geometry and lock state stay the target's own.
    KeyDesc target;
    target.x = 7;
    target.locked = true;
    QCOMPARE(Data::selectStaticBtn(&target, record(2, 0, 0xE2, true), &statics), &target);
    QCOMPARE(label(target), QStringLiteral("2/0/e2||Mute|volume-mute.svg"));
    QVERIFY(target.legend == QStringLiteral("Mute") && target.vectorIndex == 1);
    QVERIFY(target.x == 7.0 && target.locked);

    // No match: the empty key, without the earlier key's picture.
    LogCapture log;
    QCOMPARE(Data::selectStaticBtn(&target, record(3, 1, 0x77), &statics), &target);
    QCOMPARE(label(target), QStringLiteral("0/0/0| | |"));
    QCOMPARE(target.vectorIndex, -1);
    QCOMPARE(log.count(QStringLiteral("error ! btn select not static key: ")), 1);
    QCOMPARE(log.count(QStringLiteral("ty= 3 sty= 1 co= 119")), 1);

    KeyDesc untouched;
    untouched.code = 0x33;
    QCOMPARE(Data::selectStaticBtn(&untouched, record(1, 0, 0x04), nullptr), &untouched);
    QCOMPARE(untouched.code, uint16_t(0x33));
    QCOMPARE(log.count(QStringLiteral("Select static btn failed, static key tab is NULL.")), 1);
}

void TestLayoutParser::layoutVersionChoosesTheTable()
{
    Shipped s;
    Data &data = s.data;
    QVERIFY(s.ok);
    QCOMPARE(data.staticTableFor(false, false, true), data.xmlWin());
    QCOMPARE(data.staticTableFor(false, true, false), data.xmlWin());
    QCOMPARE(data.staticTableFor(true, true, true), data.xmlMac());
    QCOMPARE(data.staticTableFor(false, false, false), QString());

    // The menutree flags MacOS, Windows and Automatic pick the table labelling
    // the palette: Automatic takes the Windows one; with no flag it stays unlabelled.
    const std::tuple<const char *, QString, QString> cases[] = {
        {"001", data.xmlWin(), QStringLiteral("windows.svg")},
        {"101", data.xmlMac(), QStringLiteral("command.svg")},
        {"000", QString(), QString()}};
    for (const auto &[flags, table, guiImage] : cases) {
        put(s.dir.configFile(QStringLiteral("menutree.xml")),
            QByteArray("<COMMAND><layout_version MacOS=\"") + flags[0] + "\" Windows=\"" +
                flags[1] + "\" Automatic=\"" + flags[2] + "\"/></COMMAND>");
        QCOMPARE(data.currentStaticTable(), table);
        QVector<KeyDesc> keys;
        QVERIFY(data.parseStaticKeyBtn(&keys) && !keys.isEmpty());
        const KeyDesc *gui = findStatic(keys, record(1, 0, 0xE3));
        QCOMPARE(gui ? gui->image : QString(), guiImage);
        for (const KeyDesc &k : keys)
            QVERIFY(table.isEmpty() == (k.name == QStringLiteral(" ") && k.image.isEmpty()));
        StaticKeyLabel macroKey;
        macroKey.type = 1;
        macroKey.code = 0xE3;
        QVERIFY(data.selectStaticKey(&macroKey));
        QCOMPARE(macroKey.image, guiImage);
    }

    // Without a catalogue there is nothing to build.
    QFile::remove(s.dir.configFile(QStringLiteral("config.xml")));
    LogCapture log;
    QVector<KeyDesc> keys;
    QVERIFY(!Data().parseStaticKeyBtn(&keys));
    QVERIFY(keys.isEmpty());
}

void TestLayoutParser::shippedTablesLabelThePalette()
{
    Shipped s;
    const QVector<KeyDesc> placed = s.layout(s.data.json());
    QVERIFY(placed.size() > 150);
    LogCapture log;
    const QVector<KeyDesc> win = s.labelled(placed, s.data.xmlWin());
    const QVector<KeyDesc> mac = s.labelled(placed, s.data.xmlMac());
    QVERIFY(s.ok);
    // Exactly as many coded elements as keys: nothing ignored, no errors.
    QCOMPARE(log.lines.size(), 2);

    const QString pictures = QStringLiteral("StaticKeySvg/BlackImage/");
    QSet<quint64> seen;
    for (int i = 0; i < win.size(); ++i) {
        for (const KeyDesc &k : {win[i], mac[i]}) {
            // Every key is labelled: a name or an existing picture, and an alias.
            QVERIFY2(!k.image.isEmpty() || !k.name.trimmed().isEmpty(), qPrintable(label(k)));
            QVERIFY2(!k.alias.trimmed().isEmpty(), qPrintable(label(k)));
            QVERIFY2(k.type <= 7 && k.stype <= 15, qPrintable(label(k)));
            QVERIFY2(k.image.isEmpty() ||
                         QFile::exists(AppPaths::imagesDir() + pictures + k.imageFile()),
                     qPrintable(k.image));
        }
        // Both tables describe the same keys in the same order, each key once;
        // the palette's legends follow the Windows aliases.
        QVERIFY2(win[i].sameKey(mac[i]), qPrintable(label(win[i])));
        const quint64 identity = quint64(win[i].type) << 32 | win[i].stype << 16 | win[i].code;
        QVERIFY2(!seen.contains(identity), qPrintable(label(win[i])));
        seen.insert(identity);
        QCOMPARE(placed[i].legend, win[i].alias);
    }
    const QString overlap = overlappingKeys(placed);
    QVERIFY2(overlap.isEmpty(), qPrintable(overlap));

    const KeyDesc *lock = findStatic(win, record(0, 0, 0xF0));
    QVERIFY(lock && lock->image == QStringLiteral("lock.svg"));
    QVERIFY(findStatic(win, record(0, 0, 0)));
    // Every key usage of the keyboard page (0x04 to 0xA4 and the eight
    // modifiers) is offered, so any such code stored on a keyboard shows.
    for (int code = 0x04; code <= 0xE7; code = (code == 0xA4 ? 0xE0 : code + 1))
        QVERIFY2(findStatic(win, record(1, 0, code)), qPrintable(QString::number(code, 16)));
}

void TestLayoutParser::shippedPicturesAreSvg()
{
    const QString pictures =
        TestSupport::sourceDataDir() + QStringLiteral("/images/StaticKeySvg/BlackImage/");
    for (const char *name : {"lock.svg", "close.svg", "close-hover.svg"})
        QVERIFY2(QFile::exists(pictures + QLatin1String(name)), name);
    // Every picture is a well-formed SVG document with a view box.
    for (const QString &file : QDir(pictures).entryList({QStringLiteral("*.svg")}, QDir::Files)) {
        QFile f(pictures + file);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&f);
        QVERIFY(xml.readNextStartElement());
        QCOMPARE(xml.name().toString(), QStringLiteral("svg"));
        QVERIFY2(!xml.attributes().value(QLatin1String("viewBox")).isEmpty(), qPrintable(file));
        while (!xml.atEnd())
            xml.readNext();
        QVERIFY2(!xml.hasError(), qPrintable(file + QLatin1Char(' ') + xml.errorString()));
    }
}

void TestLayoutParser::shippedBoardsLayoutsAndDefaultMaps()
{
    Shipped s;
    const QVector<KeyDesc> palette = s.labelled(s.layout(s.data.json()), s.data.xmlWin());
    QCOMPARE(s.boards.size(), 3);
    sim::SimBus bus;
    const QPair<sim::Personality, int> keyCounts[] = {{sim::Personality::DualMode, 108},
                                                      {sim::Personality::UsbOnly, 88},
                                                      {sim::Personality::NoLighting, 68}};
    for (const auto &expected : keyCounts) {
        sim::SimKeyboard *kb = bus.plug(expected.first);
        const BoardInfo *board = Data::findBoard(s.boards, kb->productName());
        QVERIFY2(board, kb->productName().constData());
        LogCapture log;
        const QVector<KeyDesc> layout = s.layout(board->file);
        QVERIFY2(log.lines.isEmpty(), qPrintable(log.lines.join(QLatin1Char('\n'))));
        QCOMPARE(layout.size(), expected.second);
        QCOMPARE(kb->keyCount(), expected.second);
        const QString overlap = overlappingKeys(layout);
        QVERIFY2(overlap.isEmpty(), qPrintable(board->name + QLatin1Char(' ') + overlap));

        // Every key of every default map shows a palette key; in map 0, key i
        // of the layout is record i, so its legend names the key the record shows.
        for (int m = 0; m < kb->keyMapCount(); ++m) {
            const QByteArray map = kb->keyCodes(m);
            QCOMPARE(map.size(), kb->keyCount() * 4);
            for (int i = 0; i < kb->keyCount(); ++i) {
                kc_t r;
                memcpy(&r, map.constData() + 4 * i, sizeof r);
                const KeyDesc *shown = findStatic(palette, r);
                if (!shown || (m == 0 && shown->alias != layout[i].legend))
                    QFAIL(qPrintable(
                        QString::asprintf("%s map %d key %d: type %d code 0x%x, layout %s",
                                          qUtf8Printable(board->name), m, i, r.type(), r.code(),
                                          qUtf8Printable(layout[i].legend))));
            }
        }
    }
    // The tenkeyless ISO board's only polygon key is its Enter, of the second kind.
    QStringList polygons;
    for (const KeyDesc &k : s.layout(QStringLiteral("layout/T88.json"))) {
        if (k.isPolygonShape())
            polygons << k.legend + secondRect(k);
    }
    QCOMPARE(polygons, QStringList{QStringLiteral("Enter kind2 -0.25,0 1.5x1")});
    QVERIFY(s.ok);
}

QTEST_GUILESS_MAIN(TestLayoutParser)
#include "tst_layoutparser.moc"

// Layout files, static key tables and the key descriptions built from them,
// what is said about files that cannot be used, and how the shipped layouts,
// palette and the simulated keyboards' default key maps fit together.
#include "testsupport.h"

#include "device/wirerecords.h"
#include "main/apppaths.h"
#include "simbus.h"
#include "widget/data.h"
#include "widget/fileproblems.h"
#include "widget/keydesc.h"

#include <QDir>
#include <QFileInfo>
#include <QtTest>

#include <cmath>

namespace {

// The next `times` warnings matching `pattern` are expected (the test fails
// without them).
void expectWarning(const char *pattern, int times = 1)
{
    for (int i = 0; i < times; ++i)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QLatin1String(pattern)));
}

void put(const QString &name, const QByteArray &content)
{
    const QString path = AppPaths::configDir() + name;
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()) && TestSupport::writeFile(path, content));
}

// "line:column what" of the problem reported for a configuration file, or "".
QString problemOf(const QString &name)
{
    FileProblems::Problem p;
    if (!FileProblems::find(AppPaths::configDir() + name, &p))
        return QString();
    return QStringLiteral("%1:%2 %3").arg(p.line).arg(p.column).arg(p.what);
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

// "legend x,y wxh", plus " kindN x2,y2 w2xh2" for polygon keys.
QString geometry(const QVector<KeyDesc> &keys)
{
    QStringList out;
    for (const KeyDesc &k : keys) {
        out << QString::asprintf("%s %g,%g %gx%g", qUtf8Printable(k.legend), k.x, k.y, k.w, k.h);
        if (k.isPolygonShape())
            out.last() += QString::asprintf(" kind%d %g,%g %gx%g", k.isPolygon() ? 1 : 2, k.x2,
                                            k.y2, k.w2, k.h2);
    }
    return out.join(QStringLiteral(" | "));
}

// Identity and labels: "type/stype/code|name|alias|image".
QString label(const KeyDesc &k)
{
    return QString::asprintf("%u/%u/%x|%s|%s|%s", k.type, k.stype, k.code, qUtf8Printable(k.name),
                             qUtf8Printable(k.alias), qUtf8Printable(k.image));
}

const KeyDesc *findStatic(const QVector<KeyDesc> &statics, const kc_t &r)
{
    const auto it = std::find_if(statics.begin(), statics.end(),
                                 [&](const KeyDesc &k) { return k.matches(r); });
    return it == statics.end() ? nullptr : &*it;
}

} // namespace

class TestLayoutParser : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { FileProblems::instance().clear(); }

    void kleGeometry()
    {
        TestSupport::ScratchAppDir dir(false);
        auto parsed = [](const QByteArray &json) {
            put(QStringLiteral("t.json"), json);
            QVector<KeyDesc> keys;
            QString path;
            return Data().parseJsonFileForFix(&keys, QStringLiteral("t.json"), &path)
                       ? geometry(keys)
                       : QStringLiteral("failed");
        };
        // Properties apply to the next key only; x adds to the cursor; rows
        // restart at x = 0; y stays added for the later rows.
        QCOMPARE(parsed(R"([[{"w":2},"A","B"],[{"x":0.5,"h":2,"y":0.5},"C",{"x":1},"D"],["E"]])"),
                 "A 0,0 2x1 | B 2,0 1x1 | C 0.5,1.5 1x2 | D 2.5,1.5 1x1 | E 0,2.5 1x1");
        // A leading metadata object takes a row; other items and members are ignored.
        QCOMPARE(parsed(R"([{"name":"board"}, ["A", 7, null, true, ["nested"],
                 {"r":15,"c":"red"}, "B"], "not a row", ["C"]])"),
                 "A 0,1 1x1 | B 1,1 1x1 | C 0,3 1x1");
        // Second-rectangle values apply to one key; x2 and y2 add up before it.
        QCOMPARE(parsed(R"([[{"w":1.5},"Tab",{"x":0.25,"w":1.25,"h":2,"w2":1.5,"h2":1,"x2":-0.25},
                 "Enter","Del"],[{"x2":0.5,"y2":0.5},{"x2":0.25,"y2":-1.5,"h2":1,"w2":1},"Odd"]])"),
                 "Tab 0,0 1.5x1 | Enter 1.75,0 1.25x2 kind2 -0.25,0 1.5x1 | Del 3,0 1x1 | "
                 "Odd 0,1 1x1 kind1 0.75,-1 1x1");
        // Values that are no number or beyond ±1000 units are ignored; offsets
        // adding up beyond that are held there, so pixels cannot overflow.
        expectWarning("^Layout JSON: ignored property", 4);
        QCOMPARE(parsed(R"([[{"w":"2"},"A",{"w":1e300,"x":-5e9},"B",{"h":2,"y":"1"},"C"]])"),
                 "A 0,0 1x1 | B 1,0 1x1 | C 2,0 1x2");
        expectWarning("^Layout JSON: positions beyond");
        QCOMPARE(parsed("[[" + QByteArray(R"({"x":900},)").repeated(5000) + R"("far"]])"),
                 "far 1000,0 1x1");
        QVERIFY(FileProblems::instance().problems().isEmpty());
    }

    void unusableLayoutFilesAreSaid()
    {
        TestSupport::ScratchAppDir dir(false);
        Data data;
        QVector<KeyDesc> keys;
        QString path;
        QVERIFY(!data.parseJsonFileForFix(&keys, QStringLiteral("missing.json"), &path));
        QCOMPARE(path, AppPaths::configDir() + QStringLiteral("missing.json"));
        QVERIFY(problemOf(QStringLiteral("missing.json")).startsWith(QStringLiteral("0:0 ")));
        QVERIFY(!data.parseJsonFileForFix(&keys, QString(), nullptr));
        // Malformed JSON, or an object instead of rows: no keys, still true,
        // and the file is named with the line and column where it goes wrong.
        put(QStringLiteral("broken.json"), "[[\"A\",\"B\"],\n [\"Ü\" \"C\"]]");
        put(QStringLiteral("object.json"), R"({"rows":[["A"]]})");
        expectWarning("^Parse JSON failed.$", 2);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(data.parseJsonFileForFix(&keys, QStringLiteral("broken.json"), &path));
            QVERIFY(data.parseJsonFileForFix(&keys, QStringLiteral("object.json"), &path));
        }
        QVERIFY(keys.isEmpty());
        QCOMPARE(problemOf(QStringLiteral("broken.json")), "2:7 missing value separator");
        QCOMPARE(problemOf(QStringLiteral("object.json")), "1:1 not an array of key rows");
        QCOMPARE(FileProblems::instance().problems().size(), 3);

        // An empty file name takes the path argument as a full path, unchanged;
        // keys are appended to what the vector holds.
        const QString full = AppPaths::configDir() + QStringLiteral("elsewhere/kle.json");
        put(QStringLiteral("elsewhere/kle.json"), R"([["A","B"]])");
        path = full;
        QVERIFY(data.parseJsonFileForFix(&keys, QString(), &path));
        QVERIFY(data.parseJsonFileForFix(&keys, QString(), &path));
        QVERIFY(keys.size() == 4 && path == full);
        QVERIFY(Data::CheckoutFileFormat(full) && !Data::CheckoutFileFormat(full + "x"));
    }

    void staticTableLabelsAndMatchesKeys()
    {
        TestSupport::ScratchAppDir dir(false);
        KeyDesc old;
        old.type = 3;
        old.code = 0x77;
        old.name = old.alias = QStringLiteral("old");
        QVector<KeyDesc> keys;
        auto labelled = [&](const QString &file, int size) {
            keys = QVector<KeyDesc>(size, old);
            QStringList out{Data().parseStaticXML(&keys, file) ? "ok" : "failed"};
            for (const KeyDesc &k : keys)
                out << label(k);
            return out.join(QLatin1Char(' '));
        };
        // Elements without a code or with an empty one use up no key, at any
        // depth; a picture replaces the name; keys past the table keep theirs.
        put(QStringLiteral("t.xml"), R"(<anything><key code="04" type="1" name="A" alias="a"/>
            <key name="no code"/><key code="" type="9" name="empty code"/>
            <group><key code="f0" type="0" stype="0" name="Lock" image="lock.svg"/></group>
            <other code="05"/><key code="1E2" type="2" stype="12" name="Mute" alias="M"/>
            <key code="04" type="1" name="2nd"/><key code="zz" type="x" stype="70000"/></anything>)");
        expectWarning("^Static key table: unreadable", 3);
        QCOMPARE(labelled(QStringLiteral("t.xml"), 6), "ok 1/0/4|A|a| 0/0/f0|||lock.svg "
                                                       "2/12/1e2|Mute|M| 1/0/4|2nd|| 0/0/0||| "
                                                       "3/0/77|old|old|");

        // A stored record takes the first matching key's identity and labels
        // (the lock bit does not count); its geometry and lock stay its own.
        for (int i = 0; i < keys.size(); ++i)
            keys[i].vectorIndex = i;
        KeyDesc target;
        target.x = 7;
        target.locked = true;
        QCOMPARE(Data::selectStaticBtn(&target, record(0, 0, 0xF0, true), &keys), &target);
        QVERIFY(label(target) == "0/0/f0|||lock.svg" && target.locked && target.x == 7);
        Data::selectStaticBtn(&target, record(1, 0, 0x04), &keys);
        QVERIFY(label(target) == "1/0/4|A|a|" && target.vectorIndex == 0);
        QCOMPARE(Data::selectStaticBtn(&target, record(0, 0, 0), nullptr), &target);
        QCOMPARE(label(target), "1/0/4|A|a|"); // no table: unchanged
        // No match: the empty key, without the earlier key's picture.
        expectWarning("^error ! btn select not static key:  ty= 2 sty= 0 co= 482$");
        Data::selectStaticBtn(&target, record(2, 0, 0x1E2), &keys);
        QVERIFY(label(target) == "0/0/0| | |" && target.vectorIndex == -1);
        // A macro key takes the labels of the first table key matching it.
        auto lookUp = [](uint16_t type, uint16_t stype, uint16_t code, const QString &file) {
            StaticKeyLabel key;
            key.type = type;
            key.stype = stype;
            key.code = code;
            return Data().parseStaticXML(&key, file) ? key.name + '|' + key.alias + '|' + key.image
                                                     : QStringLiteral("failed");
        };
        QCOMPARE(lookUp(1, 0, 0x04, "t.xml"), QStringLiteral("A|a|"));
        QCOMPARE(lookUp(2, 12, 0x1E2, "t.xml"), QStringLiteral("Mute|M|"));
        QCOMPARE(lookUp(2, 0, 0x1E2, "t.xml"), QStringLiteral(" | |"));
        QCOMPARE(lookUp(1, 0, 0x04, "none.xml"), QStringLiteral("failed"));

        // A table longer than the layout labels the keys there are and says so once.
        expectWarning("has 3 more coded key elements");
        QCOMPARE(labelled(QStringLiteral("t.xml"), 2), "ok 1/0/4|A|a| 0/0/f0|||lock.svg");
        // An XML error stops the labelling; the keys labelled so far keep
        // theirs and the file is named with the line of the error.
        put(QStringLiteral("bad.xml"), "<t><key code='04' type='1' name='A'/>\n<broken attr=></t>");
        QCOMPARE(labelled(QStringLiteral("bad.xml"), 2), "ok 1/0/4|A|| 3/0/77|old|old|");
        QVERIFY(problemOf(QStringLiteral("bad.xml")).startsWith(QStringLiteral("2:")));
        QCOMPARE(labelled(QStringLiteral("none.xml"), 1), "failed 3/0/77|old|old|");
        QVERIFY(problemOf(QStringLiteral("none.xml")).startsWith(QStringLiteral("0:0")));
        QCOMPARE(labelled(QString(), 1), "failed 3/0/77|old|old|");

        // Custom colours: the names of `color` elements, in order.
        put(QStringLiteral("customcolor/c.xml"), "<c><color name='#f00'/><color name=''/><color/>"
                                                 "<g><color name='#0f0'/></g><x name='#00f'/></c>");
        QStringList names;
        QVERIFY(Data().parseStaticColorXML(&names, QStringLiteral("c.xml")));
        QCOMPARE(names, QStringList({QStringLiteral("#f00"), QStringLiteral("#0f0")}));
        QVERIFY(!Data().parseStaticColorXML(&names, QStringLiteral("missing.xml")));
    }

    void keyNamesPicturesAndPixels()
    {
        // A key is named after its column letters and row; a negative row gives no name.
        const std::tuple<int, int, const char *> cases[] = {{3, 0, "A3"},     {5, 26, "AA5"},
                                                            {1, 51, "AZ1"},   {2, 52, "BA2"},
                                                            {0, 702, "AAA0"}, {-1, 4, ""}};
        for (const auto &[row, col, name] : cases) {
            KeyDesc key;
            key.setRowCol(row, col);
            QVERIFY(key.name == name && key.row == row && key.col == col);
        }
        KeyDesc key;
        key.setImage(QStringLiteral("arrow-up.png.old"));
        QVERIFY(key.name.isEmpty() && key.imageFile() == QStringLiteral("arrow-up.svg"));

        // Pixels from layout data become ints only within range.
        QCOMPARE(toPixels(-2.9), -2);
        QCOMPARE(toPixels(2000.0 * 2e9), (1 << 24) - 1);
        QCOMPARE(toPixels(-1e300), -((1 << 24) - 1));
        QCOMPARE(toPixels(std::nan("")), 0);
    }

    void shippedDataLayoutVersionAndSimulatedKeyboards()
    {
        TestSupport::ScratchAppDir dir;
        Data data;
        QVector<BoardInfo *> boards;
        QString path;
        QVERIFY(data.parseConfigXML(&boards, QStringLiteral("config.xml")));
        // MacOS, Windows, Automatic: Automatic takes the Windows table; with no
        // flag the palette stays unlabelled.
        const std::tuple<const char *, QString, QString> cases[] = {
            {"001", data.xmlWin(), QStringLiteral("windows.svg")},
            {"111", data.xmlMac(), QStringLiteral("command.svg")},
            {"000", QString(), QString()}};
        QVector<KeyDesc> palette;
        for (const auto &[flags, table, guiImage] : cases) {
            put(QStringLiteral("menutree.xml"),
                QByteArray("<COMMAND><layout_version MacOS=\"") + flags[0] + "\" Windows=\"" +
                    flags[1] + "\" Automatic=\"" + flags[2] + "\"/></COMMAND>");
            QCOMPARE(data.currentStaticTable(), table);
            QVector<KeyDesc> keys;
            QVERIFY(data.parseStaticKeyBtn(&keys) && !keys.isEmpty());
            const KeyDesc *gui = findStatic(keys, record(1, 0, 0xE3));
            QCOMPARE(gui ? gui->image : QString(), guiImage);
            StaticKeyLabel macroKey;
            macroKey.type = 1;
            macroKey.code = 0xE3;
            QVERIFY(data.selectStaticKey(&macroKey) && macroKey.image == guiImage);
            if (palette.isEmpty())
                palette = keys;
        }
        // Each board's layout has its keyboard's key count, and in map 0 key i
        // of the layout is record i, whose palette key carries its legend.
        sim::SimBus bus;
        for (auto p : {sim::Personality::DualMode, sim::Personality::UsbOnly,
                       sim::Personality::NoLighting}) {
            sim::SimKeyboard *kb = bus.plug(p);
            const BoardInfo *board = Data::findBoard(boards, kb->productName());
            QVector<KeyDesc> layout;
            QVERIFY(board && data.parseJsonFileForFix(&layout, board->file, &path));
            QCOMPARE(layout.size(), kb->keyCount());
            for (int i = 0; i < kb->keyCount(); ++i) {
                kc_t r;
                memcpy(&r, kb->keyCodes(0).constData() + 4 * i, sizeof r);
                const KeyDesc *shown = findStatic(palette, r);
                QVERIFY2(shown && shown->alias == layout[i].legend,
                         qPrintable(board->name + QString::asprintf(" key %d", i)));
            }
        }
        QVERIFY(FileProblems::instance().problems().isEmpty());
        // Without a catalogue there is nothing to build.
        QFile::remove(dir.configFile(QStringLiteral("config.xml")));
        QVERIFY(!Data().parseStaticKeyBtn(&palette));
    }
};

QTEST_GUILESS_MAIN(TestLayoutParser)
#include "tst_layoutparser.moc"

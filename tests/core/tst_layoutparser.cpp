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
#include <QHash>
#include <QMutex>
#include <QRectF>
#include <QSet>
#include <QStringList>
#include <QXmlStreamReader>
#include <QtTest>

namespace {

// Collects the log lines written while it lives (and keeps them off the console).
class LogCapture
{
public:
    LogCapture()
    {
        QMutexLocker lock(&mutex());
        current() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        QMutexLocker lock(&mutex());
        current() = nullptr;
    }
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const
    {
        QMutexLocker lock(&mutex());
        return m_lines;
    }
    int count(const QString &text) const
    {
        int n = 0;
        for (const QString &line : lines())
            n += line.contains(text) ? 1 : 0;
        return n;
    }

private:
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }
    static LogCapture *&current()
    {
        static LogCapture *c = nullptr;
        return c;
    }
    static void handler(QtMsgType, const QMessageLogContext &, const QString &message)
    {
        QMutexLocker lock(&mutex());
        if (current())
            current()->m_lines << message;
    }

    QtMessageHandler m_previous = nullptr;
    QStringList m_lines;
};

void writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(path));
    f.write(content);
}

void writeConfig(const TestSupport::ScratchAppDir &dir, const QString &name, const QByteArray &text)
{
    writeFile(dir.configFile(name), text);
}

QVector<KeyDesc> parseLayout(const QByteArray &json, bool *ok = nullptr)
{
    TestSupport::ScratchAppDir dir(false);
    writeConfig(dir, QStringLiteral("layout/test.json"), json);
    Data data;
    QVector<KeyDesc> keys;
    QString path;
    const bool result = data.parseJsonFileForFix(&keys, QStringLiteral("layout/test.json"), &path);
    if (ok)
        *ok = result;
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

kc_t recordAt(const QByteArray &map, int i)
{
    kc_t r{};
    memcpy(&r, map.constData() + 4 * i, sizeof r);
    return r;
}

QString describe(const KeyDesc &k)
{
    return QStringLiteral("type %1 stype %2 code 0x%3 (%4)")
        .arg(k.type)
        .arg(k.stype)
        .arg(k.code, 0, 16)
        .arg(k.legend);
}

quint64 identityKey(const KeyDesc &k)
{
    return quint64(k.type) << 32 | quint64(k.stype) << 16 | k.code;
}

// The first two keys of a layout whose areas overlap, or "" when none do.
QString overlappingKeys(const QVector<KeyDesc> &keys)
{
    auto areas = [](const KeyDesc &k) {
        QVector<QRectF> rects{QRectF(k.x, k.y, k.w, k.h)};
        if (k.isPolygonShape())
            rects << QRectF(k.x + k.x2, k.y + k.y2, k.w2, k.h2);
        return rects;
    };
    for (int i = 0; i < keys.size(); ++i) {
        for (int j = i + 1; j < keys.size(); ++j) {
            for (const QRectF &a : areas(keys[i])) {
                for (const QRectF &b : areas(keys[j])) {
                    if (a.intersects(b))
                        return keys[i].legend + QStringLiteral(" / ") + keys[j].legend;
                }
            }
        }
    }
    return QString();
}

const KeyDesc *findStatic(const QVector<KeyDesc> &statics, const kc_t &r)
{
    for (const KeyDesc &k : statics) {
        if (k.matches(r))
            return &k;
    }
    return nullptr;
}

} // namespace

class TestLayoutParser : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // ---- Keyboard Layout Editor JSON ----

    void kleRowsWidthsAndOffsets()
    {
        bool ok = false;
        const QVector<KeyDesc> keys = parseLayout(R"([
            [{"w":2},"A","B"],
            [{"x":0.5,"h":2},"C",{"x":1},"D"],
            ["E"]
        ])",
                                                  &ok);
        QVERIFY(ok);
        QCOMPARE(keys.size(), 5);
        // w = 2 applies to A only; B follows it at x = 2 with the default width.
        QCOMPARE(keys[0].legend, QStringLiteral("A"));
        QCOMPARE(keys[0].x, 0.0);
        QCOMPARE(keys[0].w, 2.0);
        QCOMPARE(keys[1].legend, QStringLiteral("B"));
        QCOMPARE(keys[1].x, 2.0);
        QCOMPARE(keys[1].w, 1.0);
        QCOMPARE(keys[1].h, 1.0);
        // x adds to the cursor; pending properties reset after each key.
        QCOMPARE(keys[2].x, 0.5);
        QCOMPARE(keys[2].y, 1.0);
        QCOMPARE(keys[2].h, 2.0);
        QCOMPARE(keys[3].x, 2.5);
        QCOMPARE(keys[3].h, 1.0);
        // A new row starts at x = 0.
        QCOMPARE(keys[4].x, 0.0);
        QCOMPARE(keys[4].y, 2.0);
        // Keys carry no identity or position until labelled.
        QCOMPARE(keys[0].name, QStringLiteral(" "));
        QCOMPARE(keys[0].alias, QStringLiteral(" "));
        QCOMPARE(keys[0].row, -1);
        QCOMPARE(keys[0].vectorIndex, -1);
        QVERIFY(!keys[0].isPolygonShape());
    }

    void kleVerticalOffsetAccumulates()
    {
        const QVector<KeyDesc> keys = parseLayout(R"([
            ["A"],
            [{"y":0.5},"B","C"],
            ["D"],
            [{"y":0.25},"E"]
        ])");
        QCOMPARE(keys.size(), 5);
        QCOMPARE(keys[0].y, 0.0);
        QCOMPARE(keys[1].y, 1.5);
        QCOMPARE(keys[2].y, 1.5);
        QCOMPARE(keys[3].y, 2.5); // the half unit stays for every later row
        QCOMPARE(keys[4].y, 3.75);
    }

    void kleMetadataAndOtherItems()
    {
        // A leading metadata object takes a row; items that are neither
        // objects nor strings are ignored; unknown members too.
        const QVector<KeyDesc> keys = parseLayout(R"([
            {"name":"board","author":"someone"},
            ["A", 7, null, true, ["nested"], {"r":15,"a":4,"c":"red"}, "B"],
            "not a row",
            ["C"]
        ])");
        QCOMPARE(keys.size(), 3);
        QCOMPARE(keys[0].y, 1.0);
        QCOMPARE(keys[1].x, 1.0);
        QCOMPARE(keys[1].w, 1.0);
        QCOMPARE(keys[2].y, 3.0);
    }

    void kleIsoEnterPolygon()
    {
        const QVector<KeyDesc> keys = parseLayout(R"([
            [{"w":1.5},"Tab","Q",{"x":0.25,"w":1.25,"h":2,"w2":1.5,"h2":1,"x2":-0.25},"Enter","Del"],
            [{"x2":0.5,"y2":0.5},{"x2":0.25,"y2":-1.5,"h2":1,"w2":1},"Odd"]
        ])");
        QCOMPARE(keys.size(), 5);
        const KeyDesc &enter = keys[2];
        QCOMPARE(enter.x, 2.75);
        QCOMPARE(enter.w, 1.25);
        QCOMPARE(enter.h, 2.0);
        QCOMPARE(enter.x2, -0.25);
        QCOMPARE(enter.y2, 0.0);
        QCOMPARE(enter.w2, 1.5);
        QCOMPARE(enter.h2, 1.0);
        QVERIFY(enter.isPolygonShape());
        QVERIFY(!enter.isPolygon()); // second kind: y2 is 0
        // The second-rectangle values do not carry over to the next key.
        QCOMPARE(keys[3].x, 4.0);
        QVERIFY(!keys[3].isPolygonShape());
        // x2 and y2 add up over the objects before a key.
        const KeyDesc &odd = keys[4];
        QCOMPARE(odd.x2, 0.75);
        QCOMPARE(odd.y2, -1.0);
        QVERIFY(odd.isPolygon()); // first kind: x2, y2 and h2 all non-zero
    }

    void kleUnusableNumbersAreIgnored()
    {
        LogCapture log;
        const QVector<KeyDesc> keys = parseLayout(R"([
            [{"w":"2"},"A",{"w":1e300,"x":-5e9},"B",{"h":2,"y":"1"},"C"]
        ])");
        QCOMPARE(keys.size(), 3);
        QCOMPARE(keys[0].w, 1.0);
        QCOMPARE(keys[1].w, 1.0);
        QCOMPARE(keys[1].x, 1.0);
        QCOMPARE(keys[2].h, 2.0);
        QCOMPARE(keys[2].y, 0.0);
        QCOMPARE(log.count(QStringLiteral("Layout JSON: ignored property")), 4);

        // Offsets that add up beyond any keyboard are held at a bound, so
        // that no later conversion to pixels can overflow.
        QByteArray row = "[[";
        for (int i = 0; i < 5000; ++i)
            row += "{\"x\":900},";
        row += "\"far\"]]";
        const QVector<KeyDesc> far = parseLayout(row);
        QCOMPARE(far.size(), 1);
        QCOMPARE(far[0].x, 1000.0);
        QCOMPARE(log.count(QStringLiteral("Layout JSON: positions beyond")), 1);
    }

    void kleFileProblems()
    {
        TestSupport::ScratchAppDir dir(false);
        Data data;
        QVector<KeyDesc> keys;
        QString path;
        {
            LogCapture log;
            QVERIFY(!data.parseJsonFileForFix(&keys, QStringLiteral("missing.json"), &path));
            QCOMPARE(log.count(QStringLiteral("Open JSON failed:")), 1);
            QCOMPARE(path, AppPaths::configDir() + QStringLiteral("missing.json"));
        }
        writeConfig(dir, QStringLiteral("broken.json"), R"([["A","B"],[)");
        {
            LogCapture log;
            QVERIFY(data.parseJsonFileForFix(&keys, QStringLiteral("broken.json"), &path));
            QVERIFY(keys.isEmpty());
            QCOMPARE(log.count(QStringLiteral("Parse JSON failed.")), 1);
        }
        writeConfig(dir, QStringLiteral("object.json"), R"({"rows":[["A"]]})");
        QVERIFY(data.parseJsonFileForFix(&keys, QStringLiteral("object.json"), &path));
        QVERIFY(keys.isEmpty());

        // An empty file name takes the path argument as a full path, unchanged.
        writeFile(dir.path() + QStringLiteral("/elsewhere/kle.json"), R"([["A","B"]])");
        path = dir.path() + QStringLiteral("/elsewhere/kle.json");
        QVERIFY(data.parseJsonFileForFix(&keys, QString(), &path));
        QCOMPARE(keys.size(), 2);
        QCOMPARE(path, dir.path() + QStringLiteral("/elsewhere/kle.json"));
        // Keys are appended to what the vector holds.
        QVERIFY(data.parseJsonFileForFix(&keys, QString(), &path));
        QCOMPARE(keys.size(), 4);
        {
            LogCapture log;
            QVERIFY(!data.parseJsonFileForFix(&keys, QString(), nullptr));
            QCOMPARE(log.count(QStringLiteral("Open JSON failed:")), 1);
        }
        QVERIFY(Data::CheckoutFileFormat(path));
        QVERIFY(!Data::CheckoutFileFormat(dir.path() + QStringLiteral("/elsewhere/none.json")));
    }

    // ---- Static key tables ----

    void staticTableLabelsKeysInOrder()
    {
        TestSupport::ScratchAppDir dir(false);
        writeConfig(dir, QStringLiteral("t.xml"), R"(<?xml version="1.0" encoding="UTF-8"?>
            <anything>
                <key code="04" type="1" stype="0" name="A" alias="a-alias"/>
                <key name="no code: skipped"/>
                <key code="" type="9" name="empty code: skipped"/>
                <group><deeper>
                    <key code="f0" type="0" stype="0" name="Lock" image="lock.svg" alias="Lock"/>
                </deeper></group>
                <other code="05"/>
                <key code="0" type="0" stype="0" name="None" alias="None"/>
                <key code="1E2" type="2" stype="12" name="Mute" alias="M" image="volume-mute.svg"/>
            </anything>)");
        Data data;
        QVector<KeyDesc> keys(5);
        keys[4].name = QStringLiteral("keeps");
        LogCapture log;
        QVERIFY(data.parseStaticXML(&keys, QStringLiteral("t.xml")));
        QCOMPARE(log.count(QStringLiteral("parse static XML file:")), 1);
        QCOMPARE(keys[0].code, uint16_t(0x04));
        QCOMPARE(keys[0].type, uint16_t(1));
        QCOMPARE(keys[0].name, QStringLiteral("A"));
        QCOMPARE(keys[0].alias, QStringLiteral("a-alias"));
        QVERIFY(keys[0].image.isEmpty());
        // The elements without a code did not use up a key.
        QVERIFY(keys[1].isLockKey());
        QCOMPARE(keys[1].image, QStringLiteral("lock.svg"));
        QCOMPARE(keys[1].name, QString()); // a picture replaces the name
        QCOMPARE(keys[1].imageFile(), QStringLiteral("lock.svg"));
        // code="0" is a code: the empty key.
        QVERIFY(keys[2].isEmptyKey());
        QCOMPARE(keys[2].name, QStringLiteral("None"));
        QCOMPARE(keys[3].code, uint16_t(0x1E2));
        QCOMPARE(keys[3].stype, uint16_t(12));
        QCOMPARE(keys[4].name, QStringLiteral("keeps"));
        QCOMPARE(keys[4].alias, QStringLiteral(" "));
        QCOMPARE(log.count(QStringLiteral("ignored")), 0);

        // Labelling again from another table replaces pictures and names.
        writeConfig(dir, QStringLiteral("u.xml"), R"(<t><key code="04" type="1" name="B"/>
            <key code="F0" type="0" name="Locked"/></t>)");
        QVERIFY(data.parseStaticXML(&keys, QStringLiteral("u.xml")));
        QCOMPARE(keys[1].name, QStringLiteral("Locked"));
        QVERIFY(keys[1].image.isEmpty());
        QCOMPARE(keys[1].alias, QString());
    }

    void staticTableLongerThanLayout()
    {
        TestSupport::ScratchAppDir dir(false);
        writeConfig(dir, QStringLiteral("long.xml"), R"(<t>
            <key code="04" type="1" name="A"/><key code="05" type="1" name="B"/>
            <key code="06" type="1" name="C"/><key code="07" type="1" name="D"/>
            <key code="08" type="1" name="E"/><key name="skipped"/></t>)");
        Data data;
        QVector<KeyDesc> keys(2);
        LogCapture log;
        QVERIFY(data.parseStaticXML(&keys, QStringLiteral("long.xml")));
        QCOMPARE(keys.size(), 2);
        QCOMPARE(keys[0].name, QStringLiteral("A"));
        QCOMPARE(keys[1].name, QStringLiteral("B"));
        // One line for all the extra elements, naming how many.
        QCOMPARE(log.count(QStringLiteral("ignored")), 1);
        QCOMPARE(log.count(QStringLiteral("has 3 more coded key elements")), 1);

        // An empty vector takes nothing either.
        QVector<KeyDesc> none;
        QVERIFY(data.parseStaticXML(&none, QStringLiteral("long.xml")));
        QVERIFY(none.isEmpty());
    }

    void staticTableProblems()
    {
        TestSupport::ScratchAppDir dir(false);
        Data data;
        QVector<KeyDesc> keys(3);
        {
            LogCapture log;
            QVERIFY(!data.parseStaticXML(&keys, QStringLiteral("missing.xml")));
            QCOMPARE(log.count(QStringLiteral("Open static XML file failed:")), 1);
            QVERIFY(!data.parseStaticXML(&keys, QString()));
        }
        QCOMPARE(keys[0].name, QStringLiteral(" "));

        // An XML error stops the labelling; the keys labelled so far keep their values.
        writeConfig(dir, QStringLiteral("bad.xml"), R"(<t><key code="04" type="1" name="A"/>
            <key code="05" type="1" name="B"/><broken attr=></t>)");
        {
            LogCapture log;
            QVERIFY(data.parseStaticXML(&keys, QStringLiteral("bad.xml")));
            QCOMPARE(keys[0].name, QStringLiteral("A"));
            QCOMPARE(keys[1].name, QStringLiteral("B"));
            QCOMPARE(keys[2].name, QStringLiteral(" "));
            QCOMPARE(log.lines().size(), 2); // the file name, then the reader's error
        }

        // Unreadable numbers become 0 and are logged.
        writeConfig(dir, QStringLiteral("num.xml"),
                    R"(<t><key code="zz" type="x" stype="70000" name="Q"/></t>)");
        {
            LogCapture log;
            QVERIFY(data.parseStaticXML(&keys, QStringLiteral("num.xml")));
            QVERIFY(keys[0].isEmptyKey());
            QCOMPARE(keys[0].name, QStringLiteral("Q"));
            QCOMPARE(log.count(QStringLiteral("Static key table: unreadable")), 3);
        }
    }

    void macroKeyLabel()
    {
        TestSupport::ScratchAppDir dir(false);
        writeConfig(dir, QStringLiteral("t.xml"), R"(<t>
            <key code="04" type="2" stype="0" name="Wrong type"/>
            <key code="04" type="1" stype="0" name="A" alias="a"/>
            <key code="04" type="1" stype="0" name="Second A"/>
            <key code="E3" type="1" stype="0" name="Win" image="windows.svg" alias="LWin"/></t>)");
        Data data;
        StaticKeyLabel key;
        key.type = 1;
        key.code = 0x04;
        QVERIFY(data.parseStaticXML(&key, QStringLiteral("t.xml")));
        QCOMPARE(key.name, QStringLiteral("A"));
        QCOMPARE(key.alias, QStringLiteral("a"));
        QVERIFY(key.image.isEmpty());
        key.code = 0xE3;
        QVERIFY(data.parseStaticXML(&key, QStringLiteral("t.xml")));
        QCOMPARE(key.image, QStringLiteral("windows.svg"));
        QCOMPARE(key.alias, QStringLiteral("LWin"));

        StaticKeyLabel unknown;
        unknown.type = 3;
        unknown.code = 0x99;
        QVERIFY(data.parseStaticXML(&unknown, QStringLiteral("t.xml")));
        QCOMPARE(unknown.name, QStringLiteral(" "));
        QCOMPARE(unknown.alias, QStringLiteral(" "));
        LogCapture log;
        QVERIFY(!data.parseStaticXML(&unknown, QStringLiteral("none.xml")));
    }

    void customColourNames()
    {
        TestSupport::ScratchAppDir dir(false);
        writeConfig(dir, QStringLiteral("customcolor/colors.xml"),
                    "<COMMAND><color name=\"#ff0000\"/><color name=\"\"/><color/>"
                    "<group><color name=\"#00ff00\"/></group><other name=\"#0000ff\"/></COMMAND>");
        Data data;
        QStringList names;
        QVERIFY(data.parseStaticColorXML(&names, QStringLiteral("colors.xml")));
        QCOMPARE(names, QStringList({QStringLiteral("#ff0000"), QStringLiteral("#00ff00")}));
        LogCapture log;
        QVERIFY(!data.parseStaticColorXML(&names, QStringLiteral("missing.xml")));
    }

    // ---- Key descriptions ----

    void columnLettersAndNames()
    {
        QCOMPARE(Data::indexToLetters(0), QStringLiteral("A"));
        QCOMPARE(Data::indexToLetters(25), QStringLiteral("Z"));
        QCOMPARE(Data::indexToLetters(26), QStringLiteral("AA"));
        QCOMPARE(Data::indexToLetters(27), QStringLiteral("AB"));
        QCOMPARE(Data::indexToLetters(51), QStringLiteral("AZ"));
        QCOMPARE(Data::indexToLetters(52), QStringLiteral("BA"));
        QCOMPARE(Data::indexToLetters(701), QStringLiteral("ZZ"));
        // Past ZZ the letters go on instead of running into other characters.
        QCOMPARE(Data::indexToLetters(702), QStringLiteral("AAA"));
        QCOMPARE(Data::indexToLetters(-1), QString());

        KeyDesc key;
        key.setRowCol(3, 0);
        QCOMPARE(key.name, QStringLiteral("A3"));
        QCOMPARE(key.row, 3);
        QCOMPARE(key.col, 0);
        key.setRowCol(3, 27);
        QCOMPARE(key.name, QStringLiteral("AB3"));
        key.setRowCol(5, 26);
        QCOMPARE(key.name, QStringLiteral("AA5"));
        key.setRowCol(0, 2);
        QCOMPARE(key.name, QStringLiteral("C0"));
        key.setRowCol(-1, 4);
        QCOMPARE(key.name, QString());
        QCOMPARE(key.row, -1);
        QCOMPARE(key.col, 4);
    }

    void descriptionHelpers()
    {
        KeyDesc key;
        key.name = QStringLiteral("Up");
        key.setImage(QString());
        QCOMPARE(key.name, QStringLiteral("Up"));
        QCOMPARE(key.imageFile(), QString());
        key.setImage(QStringLiteral("arrow-up.png.old"));
        QCOMPARE(key.name, QString());
        QCOMPARE(key.imageFile(), QStringLiteral("arrow-up.svg"));

        key.type = 1;
        key.code = 0x52;
        QVERIFY(key.matches(record(1, 0, 0x52)));
        QVERIFY(key.matches(record(1, 0, 0x52, true))); // the lock bit does not count
        QVERIFY(!key.matches(record(1, 1, 0x52)));
        QVERIFY(!key.matches(record(2, 0, 0x52)));
        QVERIFY(!key.matches(record(1, 0, 0x152)));
        key.type = 9; // does not fit the record's three bits: never matches
        QVERIFY(!key.matches(record(1, 0, 0x52)));

        KeyDesc square;
        square.x = 1;
        square.w = 2.25;
        square.y = 4;
        square.h = 2;
        KeyDesc other;
        other.x = 3.5;
        other.w = 1;
        other.h = 1;
        const LayoutExtent extent = layoutExtent({square, other});
        QCOMPARE(extent.right, 4.5);
        QCOMPARE(extent.bottom, 6.0);
        QCOMPARE(layoutExtent({}).right, 0.0);
        QCOMPARE(Data::keySpacing(), 2);
    }

    void selectStaticButton()
    {
        QVector<KeyDesc> statics(3);
        statics[0].type = 1;
        statics[0].code = 0x04;
        statics[0].name = QStringLiteral("A");
        statics[1].type = 2;
        statics[1].code = 0xE2;
        statics[1].setImage(QStringLiteral("volume-mute.svg"));
        statics[1].alias = QStringLiteral("Mute");
        statics[1].legend = QStringLiteral("Mute");
        statics[1].vectorIndex = 1;
        statics[2] = statics[1];
        statics[2].alias = QStringLiteral("second");

        KeyDesc target;
        target.x = 7;
        target.locked = true;
        QCOMPARE(Data::selectStaticBtn(&target, record(2, 0, 0xE2, true), &statics), &target);
        QCOMPARE(target.type, uint16_t(2));
        QCOMPARE(target.code, uint16_t(0xE2));
        QCOMPARE(target.image, QStringLiteral("volume-mute.svg"));
        QCOMPARE(target.alias, QStringLiteral("Mute")); // the first match wins
        QCOMPARE(target.name, QString());
        QCOMPARE(target.legend, QStringLiteral("Mute"));
        QCOMPARE(target.vectorIndex, 1);
        QCOMPARE(target.x, 7.0); // geometry and lock state are the target's own
        QVERIFY(target.locked);

        {
            LogCapture log;
            QCOMPARE(Data::selectStaticBtn(&target, record(3, 1, 0x77), &statics), &target);
            QVERIFY(target.isEmptyKey());
            QCOMPARE(target.name, QStringLiteral(" "));
            QCOMPARE(target.alias, QStringLiteral(" "));
            QCOMPARE(target.vectorIndex, -1);
            QVERIFY(target.image.isEmpty()); // no stale picture of the earlier key
            QCOMPARE(log.count(QStringLiteral("error ! btn select not static key: ")), 1);
            QCOMPARE(log.count(QStringLiteral("ty= 3 sty= 1 co= 119")), 1);
        }
        {
            LogCapture log;
            KeyDesc untouched;
            untouched.code = 0x33;
            QCOMPARE(Data::selectStaticBtn(&untouched, record(1, 0, 0x04), nullptr), &untouched);
            QCOMPARE(untouched.code, uint16_t(0x33));
            QCOMPARE(log.count(QStringLiteral("Select static btn failed, static key tab is NULL.")),
                     1);
        }
    }

    // ---- Layout-version preference ----

    void layoutVersionChoosesTheTable()
    {
        TestSupport::ScratchAppDir dir;
        Data data;
        QVector<BoardInfo *> boards;
        QVERIFY(data.parseConfigXML(&boards, QStringLiteral("config.xml")));
        QCOMPARE(data.staticTableFor(false, false, true), data.xmlWin());
        QCOMPARE(data.staticTableFor(false, true, false), data.xmlWin());
        QCOMPARE(data.staticTableFor(true, true, true), data.xmlMac());
        QCOMPARE(data.staticTableFor(false, false, false), QString());

        auto prefs = [&](const char *mac, const char *win, const char *automatic) {
            writeConfig(dir, QStringLiteral("menutree.xml"),
                        QStringLiteral("<COMMAND><layout_version MacOS=\"%1\" Windows=\"%2\" "
                                       "Automatic=\"%3\"/></COMMAND>")
                            .arg(QLatin1String(mac), QLatin1String(win), QLatin1String(automatic))
                            .toUtf8());
        };

        // Automatic labels the palette from the Windows table.
        prefs("0", "0", "1");
        QCOMPARE(data.currentStaticTable(), data.xmlWin());
        QVector<KeyDesc> keys;
        QVERIFY(data.parseStaticKeyBtn(&keys));
        QVERIFY(!keys.isEmpty());
        const KeyDesc *gui = findStatic(keys, record(1, 0, 0xE3));
        QVERIFY(gui);
        QCOMPARE(gui->image, QStringLiteral("windows.svg"));

        prefs("1", "0", "1");
        QCOMPARE(data.currentStaticTable(), data.xmlMac());
        keys.clear();
        QVERIFY(data.parseStaticKeyBtn(&keys));
        gui = findStatic(keys, record(1, 0, 0xE3));
        QVERIFY(gui);
        QCOMPARE(gui->image, QStringLiteral("command.svg"));

        StaticKeyLabel option;
        option.type = 1;
        option.code = 0xE2;
        QVERIFY(data.selectStaticKey(&option));
        QCOMPARE(option.image, QStringLiteral("option.svg"));

        // No flag: the palette is placed but stays unlabelled.
        prefs("0", "0", "0");
        QCOMPARE(data.currentStaticTable(), QString());
        keys.clear();
        QVERIFY(data.parseStaticKeyBtn(&keys));
        QVERIFY(!keys.isEmpty());
        for (const KeyDesc &k : keys)
            QCOMPARE(k.name, QStringLiteral(" "));
        StaticKeyLabel unlabelled;
        unlabelled.type = 1;
        unlabelled.code = 0x04;
        QVERIFY(data.selectStaticKey(&unlabelled));
        QCOMPARE(unlabelled.name, QStringLiteral(" "));

        // Without a catalogue there is nothing to build.
        QFile::remove(dir.configFile(QStringLiteral("config.xml")));
        LogCapture log;
        Data empty;
        keys.clear();
        QVERIFY(!empty.parseStaticKeyBtn(&keys));
        QVERIFY(keys.isEmpty());
    }

    // ---- The shipped data ----

    void shippedLayoutsMatchTheBoards()
    {
        TestSupport::ScratchAppDir dir;
        Data data;
        QVector<BoardInfo *> boards;
        QVERIFY(data.parseConfigXML(&boards, QStringLiteral("config.xml")));
        const QHash<QString, int> expected{{QStringLiteral("LLumory K108"), 108},
                                           {QStringLiteral("LLumory T88"), 88},
                                           {QStringLiteral("LLumory C68"), 68}};
        QCOMPARE(boards.size(), expected.size());
        for (const BoardInfo *board : boards) {
            LogCapture log;
            QVector<KeyDesc> keys;
            QString path;
            QVERIFY2(data.parseJsonFileForFix(&keys, board->file, &path), qPrintable(board->file));
            QCOMPARE(keys.size(), expected.value(board->name));
            QVERIFY2(log.lines().isEmpty(), qPrintable(log.lines().join(QLatin1Char('\n'))));
            const QString overlap = overlappingKeys(keys);
            QVERIFY2(overlap.isEmpty(), qPrintable(board->name + QLatin1Char(' ') + overlap));
        }
        // The tenkeyless ISO board's Enter is a polygon key of the second kind.
        QVector<KeyDesc> t88;
        QString path;
        QVERIFY(data.parseJsonFileForFix(&t88, QStringLiteral("layout/T88.json"), &path));
        int polygons = 0;
        for (const KeyDesc &k : t88) {
            if (!k.isPolygonShape())
                continue;
            ++polygons;
            QCOMPARE(k.legend, QStringLiteral("Enter"));
            QVERIFY(!k.isPolygon());
            QCOMPARE(k.x2, -0.25);
            QCOMPARE(k.w2, 1.5);
            QCOMPARE(k.h2, 1.0);
        }
        QCOMPARE(polygons, 1);
    }

    void shippedTablesLabelThePalette()
    {
        TestSupport::ScratchAppDir dir;
        Data data;
        QVector<BoardInfo *> boards;
        QVERIFY(data.parseConfigXML(&boards, QStringLiteral("config.xml")));
        QVector<KeyDesc> win;
        QString path;
        QVERIFY(data.parseJsonFileForFix(&win, data.json(), &path));
        QVERIFY(win.size() > 150);
        QVector<KeyDesc> mac = win;
        const QVector<KeyDesc> placed = win;

        LogCapture log;
        QVERIFY(data.parseStaticXML(&win, data.xmlWin()));
        QVERIFY(data.parseStaticXML(&mac, data.xmlMac()));
        // Exactly as many coded elements as keys: nothing ignored, no errors.
        QCOMPARE(log.lines().size(), 2);

        // Every key is labelled: a name or a picture, and an alias.
        for (const QVector<KeyDesc> *table : {&win, &mac}) {
            for (const KeyDesc &k : *table) {
                QVERIFY2(!k.image.isEmpty() || !k.name.trimmed().isEmpty(),
                         qPrintable(describe(k)));
                QVERIFY2(!k.alias.trimmed().isEmpty(), qPrintable(describe(k)));
                QVERIFY2(k.type <= 7 && k.stype <= 15, qPrintable(describe(k)));
            }
        }
        // The two tables describe the same keys in the same order.
        for (int i = 0; i < win.size(); ++i)
            QVERIFY2(win[i].sameKey(mac[i]), qPrintable(describe(win[i])));
        // The palette's legends name its keys (they follow the Windows aliases),
        // so the layout and the tables stay in step.
        for (int i = 0; i < win.size(); ++i)
            QCOMPARE(placed[i].legend, win[i].alias);

        // No key twice, and the palette's keys do not overlap.
        QSet<quint64> seen;
        for (const KeyDesc &k : win) {
            QVERIFY2(!seen.contains(identityKey(k)), qPrintable(describe(k)));
            seen.insert(identityKey(k));
        }
        const QString overlap = overlappingKeys(placed);
        QVERIFY2(overlap.isEmpty(), qPrintable(overlap));
        // The special keys are there.
        QVERIFY(findStatic(win, record(0, 0, 0xF0)));
        QCOMPARE(findStatic(win, record(0, 0, 0xF0))->image, QStringLiteral("lock.svg"));
        QVERIFY(findStatic(win, record(0, 0, 0)));
        // Every key usage of the keyboard page (0x04 to 0xA4 and the eight
        // modifiers) is offered, so any such code stored on a keyboard shows.
        for (int code = 0x04; code <= 0xA4; ++code)
            QVERIFY2(findStatic(win, record(1, 0, code)), qPrintable(QString::number(code, 16)));
        for (int code = 0xE0; code <= 0xE7; ++code)
            QVERIFY(findStatic(win, record(1, 0, code)));
    }

    void shippedPicturesExist()
    {
        const QString pictures =
            TestSupport::sourceDataDir() + QStringLiteral("/images/StaticKeySvg/BlackImage/");
        for (const char *name : {"lock.svg", "close.svg", "close-hover.svg"})
            QVERIFY2(QFile::exists(pictures + QLatin1String(name)), name);

        TestSupport::ScratchAppDir dir;
        Data data;
        QVector<BoardInfo *> boards;
        QVERIFY(data.parseConfigXML(&boards, QStringLiteral("config.xml")));
        for (const QString &table : {data.xmlWin(), data.xmlMac()}) {
            QVector<KeyDesc> keys;
            QString path;
            QVERIFY(data.parseJsonFileForFix(&keys, data.json(), &path));
            QVERIFY(data.parseStaticXML(&keys, table));
            for (const KeyDesc &k : keys) {
                if (k.image.isEmpty())
                    continue;
                QVERIFY2(QFile::exists(AppPaths::imagesDir() +
                                       QStringLiteral("StaticKeySvg/BlackImage/") + k.imageFile()),
                         qPrintable(k.image));
            }
        }

        // Every picture is a well-formed SVG document with a view box.
        const QStringList files = QDir(pictures).entryList({QStringLiteral("*.svg")}, QDir::Files);
        QVERIFY(files.size() >= 3);
        for (const QString &file : files) {
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

    void simulatedKeyMapsMatchLayoutsAndPalette()
    {
        TestSupport::ScratchAppDir dir;
        Data data;
        QVector<BoardInfo *> boards;
        QVERIFY(data.parseConfigXML(&boards, QStringLiteral("config.xml")));
        QVector<KeyDesc> palette;
        QString path;
        QVERIFY(data.parseJsonFileForFix(&palette, data.json(), &path));
        QVERIFY(data.parseStaticXML(&palette, data.xmlWin()));

        sim::SimBus bus;
        for (const sim::Personality personality :
             {sim::Personality::DualMode, sim::Personality::UsbOnly,
              sim::Personality::NoLighting}) {
            sim::SimKeyboard *kb = bus.plug(personality);
            QVERIFY(kb);
            const BoardInfo *board = Data::findBoard(boards, kb->productName());
            QVERIFY2(board, kb->productName().constData());

            // Every key of every default map shows a palette key.
            for (int m = 0; m < kb->keyMapCount(); ++m) {
                const QByteArray map = kb->keyCodes(m);
                QCOMPARE(map.size(), kb->keyCount() * 4);
                for (int i = 0; i < kb->keyCount(); ++i) {
                    const kc_t r = recordAt(map, i);
                    QVERIFY2(findStatic(palette, r),
                             qPrintable(QStringLiteral("%1 map %2 key %3: type %4 code 0x%5")
                                            .arg(board->name)
                                            .arg(m)
                                            .arg(i)
                                            .arg(int(r.type()))
                                            .arg(r.code(), 0, 16)));
                }
            }

            // Key i of the layout is record i of the printed map: the layout's
            // legend names the palette key that the record shows.
            QVector<KeyDesc> layout;
            QVERIFY(data.parseJsonFileForFix(&layout, board->file, &path));
            QCOMPARE(layout.size(), kb->keyCount());
            const QByteArray map0 = kb->keyCodes(0);
            for (int i = 0; i < layout.size(); ++i) {
                const KeyDesc *shown = findStatic(palette, recordAt(map0, i));
                QVERIFY(shown);
                QVERIFY2(shown->alias == layout[i].legend,
                         qPrintable(QStringLiteral("%1 key %2: layout %3, keyboard %4")
                                        .arg(board->name)
                                        .arg(i)
                                        .arg(layout[i].legend, shown->alias)));
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestLayoutParser)
#include "tst_layoutparser.moc"

// Lighting-mode presets, and how the parameter dialog's values go into a
// lighting-mode record: only the dialog's own bits change.

#include "color/modeparameters.h"
#include "device/wirerecords.h"
#include "testsupport.h"
#include "tst_device_fixture.h"

#include <QTemporaryDir>
#include <QtTest>

namespace {
la_t recordOf(const QByteArray &bytes)
{
    la_t r;
    std::memcpy(&r, bytes.constData(), sizeof r);
    return r;
}
QByteArray hex(const la_t &r)
{
    return QByteArray(reinterpret_cast<const char *>(&r), sizeof r).toHex();
}
} // namespace

class TestModeParameters : public QObject
{
    Q_OBJECT

private slots:
    void presetsFile();
    void applyChangesOnlyTheDialogsBits();
};

void TestModeParameters::presetsFile()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("modeParameter.xml"));
    QVERIFY(TestSupport::writeFile(
        path, "<LEDMODE><item text=\"Pulse\" mode=\"7\" CF=\"2\" TPT=\"900\" CR=\"0\" RCWK=\"1\""
              " HL=\"50\" LL=\"10\" LS=\"4\" LD=\"300\" BD=\"1\" SDY=\"11\" HDY=\"65535\""
              " PDY=\"1200\" LDY=\"12\"/><other/><item text=\"Plain\"/></LEDMODE>"));
    const QVector<ModePreset> p = initComboBoxData(path);
    QCOMPARE(p.size(), 2);
    const ModePreset &a = p[0];
    QCOMPARE(a.text + p[1].text, QStringLiteral("PulsePlain"));
    QCOMPARE(
        (QList<int>{a.mode, a.cycleFlag, a.totalPeriodTimes, a.colourRandom, a.randomColourOnPress,
                    a.highestLevel, a.lowestLevel, a.levelStep, a.levelDelay, a.brightnessDirection,
                    a.stepDelay, a.highestDelay, a.periodDelay, a.levelDelayTime}),
        (QList<int>{7, 1, 900, 0, 1, 50, 10, 4, 300, 1, 11, 65535, 1200, 12}));

    // A broken document names the place of the error and gives no presets.
    QVERIFY(TestSupport::writeFile(path, "<LEDMODE>\n<item text=\"a\">\n</LEDMODE>"));
    linktest::LogCapture log;
    QVERIFY(initComboBoxData(path).isEmpty());
    const QString line = log.lines().filter(QStringLiteral("init combo box data")).value(0);
    QVERIFY2(line.startsWith(QStringLiteral("init combo box data, parse file failed: Ln:3, Col:")),
             qPrintable(line));

    // The shipped presets are found by their mode, which is not always their place.
    const QVector<ModePreset> shipped =
        initComboBoxData(QStringLiteral(LUMORY_SOURCE_DATA_DIR "/config/modeParameter.xml"));
    QVERIFY(shipped.size() >= 6);
    bool moved = false;
    for (int i = 0; i < shipped.size(); ++i) {
        const ModePreset &s = shipped[i];
        QCOMPARE(ModeRules::presetForEffect(shipped, s.mode), i);
        moved |= s.mode != i;
        QVERIFY(s.lowestLevel <= s.highestLevel && s.highestLevel <= 63 &&
                s.levelStep <= s.highestLevel - s.lowestLevel && s.totalPeriodTimes >= 1);
    }
    QVERIFY(moved);
}

void TestModeParameters::applyChangesOnlyTheDialogsBits()
{
    // Unedited values write back every byte, also bits outside the fields
    // (word 1 bits 20-31); without a list entry (-1) the effect stays.
    for (const char *bytes :
         {"ffffffffffffffffffffffff", "e53f7e9bd40bc5a1ff00127f", "4a81fc03e8fbffff01000000"}) {
        const la_t original = recordOf(QByteArray::fromHex(bytes));
        for (int effect : {int(original.effect()), -1}) {
            la_t r = original;
            ModeRules::apply(&r, original.modeNumber(), effect, ModeRules::settingsOf(original));
            QCOMPARE(hex(r), QByteArray(bytes));
        }
    }
    // Each setting, even when too wide, lands in exactly its own bits.
    const la_t zero = recordOf(QByteArray(12, '\0'));
    const ModeSettings none = ModeRules::settingsOf(zero);
    const QList<QPair<const char *, void (*)(ModeSettings &)>> cases{
        {"000400000000000000000000", [](ModeSettings &s) { s.cycleFlag = true; }},
        {"000800000000000000000000", [](ModeSettings &s) { s.colourRandom = true; }},
        {"001000000000000000000000", [](ModeSettings &s) { s.randomColourOnPress = true; }},
        {"002000000000000000000000", [](ModeSettings &s) { s.highToLow = true; }},
        {"00c00f000000000000000000", [](ModeSettings &s) { s.highestLevel = 0xFFFF; }},
        {"0000f0030000000000000000", [](ModeSettings &s) { s.lowestLevel = 0xFFFF; }},
        {"000000fc0000000000000000", [](ModeSettings &s) { s.levelStep = 0xFFFF; }},
        {"00000000ff03000000000000", [](ModeSettings &s) { s.totalPeriodTimes = 0xFFFF; }},
        {"0000000000fc0f0000000000", [](ModeSettings &s) { s.levelDelay = 0xFFFF; }},
        {"0000000000000000ffff0000", [](ModeSettings &s) { s.highestDelay = 0xFFFF; }},
        {"00000000000000000000ffff", [](ModeSettings &s) { s.periodDelay = 0xFFFF; }},
    };
    for (const auto &c : cases) {
        ModeSettings s = none;
        c.second(s);
        la_t r = zero;
        ModeRules::apply(&r, 0, 0, s);
        QCOMPARE(hex(r), QByteArray(c.first));
    }
    // Mode number and effect come from the dialog; all else cleared keeps the free bits.
    la_t r = recordOf(QByteArray(12, char(0xFF)));
    ModeRules::apply(&r, 5, 9, none);
    QCOMPARE(hex(r), QByteArray("450200000000f0ff00000000"));
}

QTEST_GUILESS_MAIN(TestModeParameters)
#include "tst_modeparameters.moc"

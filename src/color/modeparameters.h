#pragma once

// Presets of the lighting-mode parameter dialog and the rules that move its
// values in and out of a lighting-mode record. No widget is involved here.

#include <QString>
#include <QVector>

struct la_t;

// One `item` of modeParameter.xml.
struct ModePreset
{
    QString text;                     // shown in the "LED Action" list
    int mode = 0;                     // effect number, matched against the list index
    bool cycleFlag = false;           // CF
    int totalPeriodTimes = 1;         // TPT
    bool colourRandom = false;        // CR
    bool randomColourOnPress = false; // RCWK
    int highestLevel = 63;            // HL
    int lowestLevel = 0;              // LL
    int levelStep = 1;                // LS
    int levelDelay = 20;              // LD
    int brightnessDirection = 0;      // BD: 0 = low to high, otherwise high to low
    int stepDelay = 0;                // SDY (kept, not used by the dialog)
    int highestDelay = 0;             // HDY, ms
    int periodDelay = 0;              // PDY, ms
    int levelDelayTime = 0;           // LDY (kept, not used by the dialog)
};

// Reads the presets of modeParameter.xml in file order. A file that cannot be
// opened or does not parse gives an empty list (the parse error is logged).
QVector<ModePreset> initComboBoxData(const QString &path);

// The values the parameter dialog edits.
struct ModeSettings
{
    bool cycleFlag = false;
    int totalPeriodTimes = 1;
    bool colourRandom = false;
    bool randomColourOnPress = false;
    int highestLevel = 63;
    int lowestLevel = 63;
    int levelStep = 1;
    int levelDelay = 20; // "Step Delay"
    bool highToLow = false;
    int highestDelay = 0;
    int periodDelay = 0;
};

namespace ModeRules {

// Field ranges of the dialog's controls.
constexpr int kMaxLevel = 63;
constexpr int kMinPeriodTimes = 1;
constexpr int kMaxPeriodTimes = 1000;
constexpr int kMaxLevelDelay = 1000;
constexpr int kMaxDelayMs = 65535;

ModeSettings settingsOf(const la_t &record);
ModeSettings settingsOf(const ModePreset &preset);

// Writes the dialog's values into `record` for mode `n`: mode number = n,
// effect = `effect` (a negative effect keeps the record's effect bits), and
// every field by masking, so each bit the dialog does not own keeps its value.
void apply(la_t *record, int n, int effect, const ModeSettings &settings);

// The list position of the preset whose `mode` equals `effect`, or -1.
int presetForEffect(const QVector<ModePreset> &presets, int effect);

// `text` as a whole number within [min, max]; false for anything else.
bool acceptedNumber(const QString &text, int min, int max, int *value = nullptr);

} // namespace ModeRules

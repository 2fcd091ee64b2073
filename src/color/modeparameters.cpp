#include "color/modeparameters.h"

#include "device/wirerecords.h"

#include <QDebug>
#include <QDomDocument>
#include <QFile>

namespace {

int intAttribute(const QDomElement &e, const char *name)
{
    return e.attribute(QLatin1String(name)).toInt(nullptr, 10);
}

} // namespace

QVector<ModePreset> initComboBoxData(const QString &path)
{
    QVector<ModePreset> presets;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qWarning().noquote() << "init combo box data, open file failed:" << path;
        return presets;
    }
    QDomDocument doc;
    QString message;
    int line = 0;
    int column = 0;
    if (!doc.setContent(&file, &message, &line, &column)) {
        qWarning().nospace().noquote() << "init combo box data, parse file failed: Ln:" << line
                                       << ", Col:" << column << ":" << message;
        return presets;
    }
    const QDomElement root = doc.documentElement();
    if (root.tagName() != QLatin1String("LEDMODE"))
        return presets;
    for (QDomElement e = root.firstChildElement(QStringLiteral("item")); !e.isNull();
         e = e.nextSiblingElement(QStringLiteral("item"))) {
        ModePreset p;
        p.text = e.attribute(QStringLiteral("text"));
        p.mode = intAttribute(e, "mode");
        p.cycleFlag = intAttribute(e, "CF") != 0;
        p.totalPeriodTimes = intAttribute(e, "TPT");
        p.colourRandom = intAttribute(e, "CR") != 0;
        p.randomColourOnPress = intAttribute(e, "RCWK") != 0;
        p.highestLevel = intAttribute(e, "HL");
        p.lowestLevel = intAttribute(e, "LL");
        p.levelStep = intAttribute(e, "LS");
        p.levelDelay = intAttribute(e, "LD");
        p.brightnessDirection = intAttribute(e, "BD");
        p.stepDelay = intAttribute(e, "SDY");
        p.highestDelay = intAttribute(e, "HDY");
        p.periodDelay = intAttribute(e, "PDY");
        p.levelDelayTime = intAttribute(e, "LDY");
        presets.append(p);
    }
    return presets;
}

namespace ModeRules {

ModeSettings settingsOf(const la_t &r)
{
    ModeSettings s;
    s.cycleFlag = r.cycleFlag();
    s.totalPeriodTimes = r.totalPeriodTimes();
    s.colourRandom = r.colourRandom();
    s.randomColourOnPress = r.randomColourOnPress();
    s.highestLevel = r.highestLevel();
    s.lowestLevel = r.lowestLevel();
    s.levelStep = r.levelStep();
    s.levelDelay = r.levelDelay();
    s.highToLow = r.brightnessDirection();
    s.highestDelay = r.highestDelay();
    s.periodDelay = r.periodDelay();
    return s;
}

ModeSettings settingsOf(const ModePreset &p)
{
    ModeSettings s;
    s.cycleFlag = p.cycleFlag;
    s.totalPeriodTimes = p.totalPeriodTimes;
    s.colourRandom = p.colourRandom;
    s.randomColourOnPress = p.randomColourOnPress;
    s.highestLevel = p.highestLevel;
    s.lowestLevel = p.lowestLevel;
    s.levelStep = p.levelStep;
    s.levelDelay = p.levelDelay;
    s.highToLow = p.brightnessDirection != 0;
    s.highestDelay = p.highestDelay;
    s.periodDelay = p.periodDelay;
    return s;
}

void apply(la_t *record, int n, int effect, const ModeSettings &s)
{
    if (!record)
        return;
    // The accessors mask every value to its field's width, so an out-of-range
    // value can never spill into a neighbouring field.
    record->setModeNumber(uint8_t(n));
    if (effect >= 0)
        record->setEffect(uint8_t(effect));
    record->setCycleFlag(s.cycleFlag);
    record->setColourRandom(s.colourRandom);
    record->setRandomColourOnPress(s.randomColourOnPress);
    record->setBrightnessDirection(s.highToLow);
    record->setHighestLevel(uint8_t(s.highestLevel));
    record->setLowestLevel(uint8_t(s.lowestLevel));
    record->setLevelStep(uint8_t(s.levelStep));
    record->setTotalPeriodTimes(uint16_t(s.totalPeriodTimes));
    record->setLevelDelay(uint16_t(s.levelDelay));
    record->setHighestDelay(uint16_t(s.highestDelay));
    record->setPeriodDelay(uint16_t(s.periodDelay));
}

int presetForEffect(const QVector<ModePreset> &presets, int effect)
{
    for (int i = 0; i < presets.size(); ++i) {
        if (presets.at(i).mode == effect)
            return i;
    }
    return -1;
}

bool acceptedNumber(const QString &text, int min, int max, int *value)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int v = text.toInt();
    if (v < min || v > max)
        return false;
    if (value)
        *value = v;
    return true;
}

} // namespace ModeRules

// The lighting-mode presets config/modeParameter.xml, then what the
// parameter dialog does with a preset: its settings written into a record.
#include "fuzzsupport.h"

#include "color/modeparameters.h"
#include "device/wirerecords.h"

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString path = fuzz::writeFile(QStringLiteral("config/modeParameter.xml"), data, size);
    const QVector<ModePreset> presets = initComboBoxData(path);
    for (int i = 0; i < presets.size(); ++i) {
        const ModePreset &preset = presets[i];
        la_t record{};
        ModeRules::apply(&record, i, preset.mode, ModeRules::settingsOf(preset));
        const ModeSettings back = ModeRules::settingsOf(record);
        volatile int sink = back.highestLevel + back.periodDelay +
                            ModeRules::presetForEffect(presets, preset.mode) + preset.text.size();
        (void)sink;
    }
    fuzz::resetProblems();
    return 0;
}

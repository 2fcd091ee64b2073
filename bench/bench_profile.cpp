// Keyboard profile figures on the simulated K108 at its default timing (1 ms
// to the keyboard, 1 ms back), one line each: "name value unit".
//
//   profile_backup_s        the whole keyboard read and written to a file:
//                           four key maps, four colour and mode maps, the
//                           lighting records, the key functions and three
//                           macros of 5, 40 and 100 frames
//   profile_restore_s       after a factory reset: the file read and checked,
//                           the keyboard read, what differs written and read back
//   profile_restore_noop_s  the same file again: reads only, nothing written
//
// Each has a floor: its exchanges at one round trip each plus the pauses the
// macro transfer protocol prescribes (50 ms after each read round of five
// frames, 100 ms after each write round, 50 ms before a macro's commit).

#include "benchsupport.h"
#include "device/device.h"
#include "device/hidbackend.h"
#include "device/profileengine.h"
#include "device/usb.h"
#include "simbus.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QTemporaryDir>
#include <QThread>
#include <QWaitCondition>

#include <cstdio>

namespace {

using bench::figure;

using bench::Link;

QByteArray macroFrames(int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        mframe_t f{};
        f.setTs(uint16_t(20 + i % 50));
        f.keys[0] = uint8_t(4 + i % 26);
        out.append(reinterpret_cast<const char *>(&f), sizeof f);
    }
    return out;
}

// A keyboard that differs from its factory state in every part.
void customise(sim::SimKeyboard *kb)
{
    for (int m = 0; m < kb->keyMapCount(); ++m) {
        QByteArray map = kb->keyCodes(m);
        for (int k = m; k < kb->keyCount(); k += 9)
            map[k * 4 + 1] = char(0x04 + (k + m) % 26);
        kb->setKeyCodes(m, map);
    }
    for (int m = 0; m < kb->colourMapCount(); ++m) {
        QByteArray colours = kb->keyColours(m);
        for (int k = 0; k < kb->keyCount(); k += 5)
            colours[k * 4] = char(k * 7 + m);
        kb->setKeyColours(m, colours);
    }
    for (int m = 0; m < kb->modeMapCount(); ++m) {
        QByteArray modes = kb->modes(m);
        for (int k = 1; k < kb->modeCount(); k += 4)
            modes[k] = char((k + m) % 32);
        kb->setModes(m, modes);
    }
    for (int r = 0; r < 32; r += 3) {
        QByteArray record = kb->lightingRecord(r);
        record[8] = char(r);
        kb->setLightingRecord(r, record);
    }
    for (int slot = 0; slot < 6; ++slot) {
        kf_t e{};
        e.head[0] = uint8_t(slot);
        e.setInUse(true);
        e.setHi(uint8_t(4 + slot % 3));
        e.keys[0].setType(1);
        e.keys[0].setCode(uint16_t(0x1E + slot));
        e.setKeyCount(1);
        kb->setKeyFunction(slot, QByteArray(reinterpret_cast<const char *>(&e), sizeof e));
    }
    kb->setMacro(0, "Short", macroFrames(5));
    kb->setMacro(1, "Medium", macroFrames(40));
    kb->setMacro(2, "Long", macroFrames(100));
    kb->setBluetoothName("XBench board");
    kb->setSleepTime(120000);
}

// Read pauses of a macro of `frames` frames, in milliseconds.
int readPausesMs(int frames)
{
    return frames / wk::kMacroFramesPerRound * wk::kMacroReadPauseMs;
}
int writePausesMs(int frames)
{
    return frames / wk::kMacroFramesPerRound * wk::kMacroWritePauseMs + wk::kMacroCommitPauseMs;
}

} // namespace

int profileBenchmarks()
{
    QTemporaryDir dir;
    sim::SimBus bus; // default timing
    sim::SimKeyboard *kb = bus.plug(sim::Personality::DualMode);
    customise(kb);
    Link link(&bus);
    if (!link.opened || !dir.isValid() || link.device->getDeviceInfo() != WK_SUCCESS)
        return 1;
    ProfileContext context = ProfileContext::forDevice(link.device);
    context.dataDir = dir.path();
    const QString path = dir.filePath(QStringLiteral("bench.lumory"));
    const double rttS = 2.0 * bus.reportLatencyUs() / 1e6;
    const int macroFrameCounts[] = {5, 40, 100};
    int failures = 0;
    QElapsedTimer clock;

    // Back-up (the first run also reads the information a loaded keyboard has).
    ProfileEngine(link.device, context).backup(path);
    kb->clearReceivedFrames();
    clock.start();
    failures += !ProfileEngine(link.device, context).backup(path).ok();
    const double backupS = clock.nsecsElapsed() / 1e9;
    int readPauses = 0;
    for (int n : macroFrameCounts)
        readPauses += readPausesMs(n);
    figure("profile_backup_s", backupS, "s");
    figure("profile_backup_floor_s", kb->receivedFrames().size() * rttS + readPauses / 1000.0, "s");

    // Restore after a factory reset: plan (reads) and writes with read-back.
    failures += link.device->setFactoryReset() != WK_SUCCESS;
    kb->clearReceivedFrames();
    clock.start();
    {
        ProfileEngine engine(link.device, context);
        RestorePlan plan;
        failures += !engine.plan(path, &plan).ok();
        failures += !engine.restore(plan).ok();
    }
    const double restoreS = clock.nsecsElapsed() / 1e9;
    int writePauses = 0;
    for (int n : macroFrameCounts)
        writePauses += writePausesMs(n) + readPausesMs(n); // written, then read back
    figure("profile_restore_s", restoreS, "s");
    figure("profile_restore_floor_s", kb->receivedFrames().size() * rttS + writePauses / 1000.0,
           "s");

    // The same file again: the keyboard matches, so it is only read.
    kb->clearReceivedFrames();
    clock.start();
    {
        ProfileEngine engine(link.device, context);
        RestorePlan plan;
        failures += !engine.plan(path, &plan).ok();
        failures += !plan.isEmpty();
        failures += !engine.restore(plan).ok();
    }
    const double noopS = clock.nsecsElapsed() / 1e9;
    figure("profile_restore_noop_s", noopS, "s");
    figure("profile_restore_noop_floor_s", kb->receivedFrames().size() * rttS + readPauses / 1000.0,
           "s");
    figure("profile_failures", failures, "count");
    return failures ? 1 : 0;
}

// Device-link figures on the simulated keyboard at its default timing (1 ms
// to the keyboard, 1 ms back). One line per figure: "name value unit".
// Arguments name the groups to run (rtt load macro512 lighting kf macropage find
// codec macrofile timeline dfurecovery dfu bt); none runs them all.
//
//   rtt_*          one command exchange (getNKey), 1000 times back to back,
//                  and 300 times after 1-20 ms of idle time (rtt_spaced_*)
//   read_pause_ms  the receive loop asked to stop reading (the firmware
//                  hand-over) until it confirms, median of 50
//   load_*         the whole loading sequence, run directly on a Device
//   macro512_*     writing and reading a 512-frame macro, against the sum of
//                  the pauses the transfer protocol prescribes
//   paint_key_ms   one key's colour written and acknowledged (floor: one round trip)
//   krm_switch_ms, lmm_switch_ms
//                  switching the colour / mode map and reading it back
//                  (floor: 1 + one round trip per chunk of the map)
//   lighting_page_build_ms
//                  building the lighting page (palette, custom colour file,
//                  32 mode buttons) for a loaded keyboard, laid out
//   kf_load_ms     the key-function information and all 32 entries (floor:
//                  one round trip each)
//   kf_notify_to_action_ms
//                  a key-function key reported by the keyboard until the
//                  host action is asked for, through the whole program
//   shortcuts_save_ms
//                  writing shortcuts.xml with 32 functions
//   macro_*, timeline_append_ms
//                  the macro codec at 512 frames, and 1,000 events appended
//                  to a macro's timeline
//   macro_page_load_s, macro_page_load_floor_s
//                  reading a 300-frame macro into the macro page and drawing
//                  it (floor: the read's pauses and one event per 50 ms tick)
//   macro_download_s
//                  a 512-frame macro from the page to the keyboard (floor:
//                  macro512_write_floor_s)
//   record_events_per_s
//                  key changes reported while recording, decoded and drawn
//   macro_file_*   writing and reading a macro file of 2,048 events
//   find_index_ms, find_query_us, find_query_p99_us
//                  the palette search's index (built at the first search)
//                  and one typed text answered (every keystroke)
//   dfu_64k_s, bt_app_100k_s (and their floors)
//                  a 64 KiB USB image through the boot loader, a 100 KiB
//                  Bluetooth application through the module
//   dfu_fault_recovery_s
//                  the loader unplugged at a middle packet: from Start to the
//                  window usable again
//   timeline_relayout_ms
//                  1,000 events appended one by one to a shown timeline

#include "benchsupport.h"
#include "device/device.h"
#include "device/hidbackend.h"
#include "device/usb.h"
#include "simbus.h"

#include "color/color.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "macro/macrokeylayout.h"
#include "main/devicesession.h"
#include "main/firmwareflow.h"
#include "main/lumory.h"
#include "setting/firmware.h"
#include "setting/setting.h"
#include "shortcut/hostactions.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsfile.h"
#include "widget/dialogs.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QToolButton>

#include <functional>

#include <QApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QThread>
#include <QWaitCondition>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

void quietMessages(QtMsgType type, const QMessageLogContext &, const QString &text)
{
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", qPrintable(text));
}

using bench::figure;

using bench::Link;

double percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    const size_t i = std::min(v.size() - 1, static_cast<size_t>(p * (v.size() - 1) + 0.5));
    return v[i];
}

int roundTrips()
{
    sim::SimBus bus; // default timing
    bus.plug(sim::Personality::DualMode);
    Link link(&bus);
    if (!link.opened)
        return 1;
    const double floorMs = 2.0 * bus.reportLatencyUs() / 1000.0;
    for (int i = 0; i < 20; ++i) // warm-up
        link.device->getNKey();
    std::vector<double> ms;
    ms.reserve(1000);
    QElapsedTimer clock;
    int failures = 0;
    for (int i = 0; i < 1000; ++i) {
        clock.start();
        if (link.device->getNKey() != WK_SUCCESS)
            ++failures;
        ms.push_back(clock.nsecsElapsed() / 1e6);
    }
    // Commands with idle time between them (as when a user clicks), so that
    // they find the receive loop anywhere in its read/pause cycle.
    std::vector<double> spaced;
    uint32_t seed = 12345;
    for (int i = 0; i < 300; ++i) {
        seed = seed * 1103515245u + 12345u;
        QThread::usleep(1000 + (seed >> 8) % 19000);
        clock.start();
        if (link.device->getNKey() != WK_SUCCESS)
            ++failures;
        spaced.push_back(clock.nsecsElapsed() / 1e6);
    }
    figure("rtt_median_ms", percentile(ms, 0.5), "ms");
    figure("rtt_p99_ms", percentile(ms, 0.99), "ms");
    figure("rtt_max_ms", percentile(ms, 1.0), "ms");
    figure("rtt_spaced_median_ms", percentile(spaced, 0.5), "ms");
    figure("rtt_spaced_p99_ms", percentile(spaced, 0.99), "ms");
    figure("rtt_floor_ms", floorMs, "ms");
    figure("rtt_failures", failures, "count");

    // The loop sits in its read (idle keyboard) when the pause is asked for.
    std::vector<double> pause;
    for (int i = 0; i < 50; ++i) {
        QThread::msleep(5);
        clock.start();
        link.usb->setReadEnabled(false);
        if (!link.usb->waitReadPaused(2000))
            ++failures;
        pause.push_back(clock.nsecsElapsed() / 1e6);
        link.usb->setReadEnabled(true);
    }
    figure("read_pause_ms", percentile(pause, 0.5), "ms");
    return failures ? 1 : 0;
}

int loading()
{
    sim::SimBus bus;
    sim::SimKeyboard *kb = bus.plug(sim::Personality::DualMode);
    Link link(&bus);
    if (!link.opened)
        return 1;
    kb->clearReceivedFrames();
    QElapsedTimer clock;
    clock.start();
    const uint32_t st = link.device->loadDevInfoSlot();
    const double totalMs = clock.nsecsElapsed() / 1e6;
    const int exchanges = kb->receivedFrames().size();
    const double extraMs = totalMs - 1000.0; // the fixed pause after getDeviceInfo
    figure("load_exchanges", exchanges, "count");
    figure("load_total_ms", totalMs, "ms");
    figure("load_extra_ms", extraMs, "ms");
    figure("load_extra_per_exchange_ms", exchanges ? extraMs / exchanges : 0.0, "ms");
    return st == WK_SUCCESS ? 0 : 1;
}

int macroTransfers()
{
    sim::SimBus bus;
    bus.plug(sim::Personality::DualMode);
    Link link(&bus);
    if (!link.opened)
        return 1;
    Device *d = link.device;
    if (d->getKMInfo() != WK_SUCCESS || d->getAllMacroHead() != WK_SUCCESS)
        return 1;
    std::vector<mframe_t> frames(512);
    for (int i = 0; i < 512; ++i) {
        frames[size_t(i)] = mframe_t{};
        frames[size_t(i)].setTs(uint16_t(i));
        frames[size_t(i)].keys[0] = uint8_t(4 + i % 26);
    }
    const int rounds = 512 / 5;
    const double writeFloor = (rounds * wk::kMacroWritePauseMs + wk::kMacroCommitPauseMs) / 1000.0;
    const double readFloor = rounds * wk::kMacroReadPauseMs / 1000.0;

    QElapsedTimer clock;
    clock.start();
    const uint32_t w = d->writeMacro(3, 512, frames.data());
    const double writeS = clock.nsecsElapsed() / 1e9;
    clock.start();
    const uint32_t r = d->readMacro(3);
    const double readS = clock.nsecsElapsed() / 1e9;
    const bool same =
        d->macroFramesHeld() == 512 && std::equal(frames.begin(), frames.end(), d->macroFrames(),
                                                  [](const mframe_t &a, const mframe_t &b) {
                                                      return std::memcmp(&a, &b, sizeof a) == 0;
                                                  });
    figure("macro512_write_s", writeS, "s");
    figure("macro512_write_floor_s", writeFloor, "s");
    figure("macro512_write_over_floor_pct", 100.0 * (writeS / writeFloor - 1.0), "%");
    figure("macro512_read_s", readS, "s");
    figure("macro512_read_floor_s", readFloor, "s");
    figure("macro512_read_over_floor_pct", 100.0 * (readS / readFloor - 1.0), "%");
    return (w == WK_SUCCESS && r == WK_SUCCESS && same) ? 0 : 1;
}

int lighting()
{
    sim::SimBus bus;
    bus.plug(sim::Personality::DualMode);
    Link link(&bus);
    if (!link.opened)
        return 1;
    Device *d = link.device;
    if (d->getKRInfo() || d->getCurKRMID() || d->getLMInfo() || d->getCurLMMID())
        return 1;
    const double rtt = 2.0 * bus.reportLatencyUs() / 1000.0;
    QElapsedTimer clock;
    std::vector<double> paint, krm, lmm;
    int failures = 0;
    for (int i = 0; i < 200; ++i) {
        clock.start();
        failures += d->setKRRgb(uint8_t(i % d->krCount()), 0xFF000000u | uint32_t(i) * 977u) != 0;
        paint.push_back(clock.nsecsElapsed() / 1e6);
    }
    for (int i = 0; i < 20; ++i) {
        clock.start();
        failures += d->setCurKRMID(uint8_t(i % d->krmCount())) != 0;
        failures += d->getCurKRM() != 0;
        krm.push_back(clock.nsecsElapsed() / 1e6);
        clock.start();
        failures += d->setCurLMMID(uint8_t(i % d->lmmCount())) != 0;
        failures += d->getCurLMM() != 0;
        lmm.push_back(clock.nsecsElapsed() / 1e6);
    }
    const int krChunks = (d->krCount() + wk::kKeyChunk - 1) / wk::kKeyChunk;
    const int lmChunks =
        (d->lmCount() + wk::kMaxModeEntriesPerFrame - 1) / wk::kMaxModeEntriesPerFrame;
    figure("paint_key_ms", percentile(paint, 0.5), "ms");
    figure("paint_key_floor_ms", rtt, "ms");
    figure("krm_switch_ms", percentile(krm, 0.5), "ms");
    figure("krm_switch_floor_ms", (1 + krChunks) * rtt, "ms");
    figure("lmm_switch_ms", percentile(lmm, 0.5), "ms");
    figure("lmm_switch_floor_ms", (1 + lmChunks) * rtt, "ms");

    std::vector<double> build;
    for (int i = 0; i < 10; ++i) {
        clock.start();
        {
            Color page;
            page.setDevice(d);
            page.adjustSize();
            build.push_back(clock.nsecsElapsed() / 1e6);
        }
    }
    figure("lighting_page_build_ms", percentile(build, 0.5), "ms");
    return failures ? 1 : 0;
}

int keyFunctions()
{
    int failures = 0;
    {
        sim::SimBus bus;
        bus.plug(sim::Personality::DualMode);
        Link link(&bus);
        if (!link.opened)
            return 1;
        std::vector<double> ms;
        QElapsedTimer clock;
        for (int run = 0; run < 30; ++run) {
            clock.start();
            if (link.device->getKFInfo() != WK_SUCCESS || link.device->getAllKF() != WK_SUCCESS)
                ++failures;
            ms.push_back(clock.nsecsElapsed() / 1e6);
        }
        figure("kf_load_ms", percentile(ms, 0.5), "ms");
        figure("kf_load_floor_ms",
               (1 + link.device->kfCount()) * 2.0 * bus.reportLatencyUs() / 1000.0, "ms");
    }
    {
        // The whole program: keyboard, session, key-function page.
        struct Clocked : HostActions
        {
            QElapsedTimer *clock = nullptr;
            double lastMs = -1;
            bool openUrl(const QString &) override
            {
                return lastMs = clock->nsecsElapsed() / 1e6, true;
            }
            bool startProgram(const QString &, const QStringList &) override { return true; }
            bool openFolder(const QString &) override { return true; }
        } host;
        QElapsedTimer clock;
        host.clock = &clock;
        HostActions::setInstance(&host);
        Dialogs::setMessageHandler(
            [](const Dialogs::MessageRequest &) { return int(QMessageBox::Ok); });
        sim::SimBus bus;
        sim::SimKeyboard *kb = bus.plug(sim::Personality::DualMode);
        kf_t web{};
        web.setInUse(true);
        web.setHi(1);
        web.keys[0].setType(1);
        web.keys[0].setCode(0x04);
        kb->setKeyFunction(0, QByteArray(reinterpret_cast<const char *>(&web), sizeof web));
        HidBackend::setInstance(&bus);
        {
            Lumory window(nullptr, QStringLiteral("None"));
            qInstallMessageHandler(quietMessages); // the window installs its log handler
            QElapsedTimer wait;
            wait.start();
            while (!(window.shortcutsPage() && window.shortcutsPage()->isLoaded()) &&
                   wait.elapsed() < 20000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
            std::vector<double> ms;
            for (int run = 0; run < 50 && window.shortcutsPage(); ++run) {
                host.lastMs = -1;
                clock.start();
                kb->pressKeyFunction(0);
                while (host.lastMs < 0 && clock.elapsed() < 2000)
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
                if (host.lastMs < 0)
                    ++failures;
                else
                    ms.push_back(host.lastMs);
            }
            if (!ms.empty())
                figure("kf_notify_to_action_ms", percentile(ms, 0.5), "ms");
            else
                ++failures;
            window.exitAppActionSlot();
            QElapsedTimer quit;
            quit.start();
            while (quit.elapsed() < 1500)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        }
        HidBackend::setInstance(nullptr);
        HostActions::setInstance(nullptr);
        Dialogs::setMessageHandler({});
    }
    {
        QTemporaryDir dir;
        QVector<ShortcutsFile::Item> items(32);
        for (int i = 0; i < items.size(); ++i) {
            items[i].id = quint32(i);
            items[i].hi = 1;
            items[i].hitype = 1;
            items[i].btn[0] = QStringLiteral("LCtrl");
            items[i].text = QStringLiteral("https://www.example.com/page/%1").arg(i);
        }
        std::vector<double> ms;
        QElapsedTimer clock;
        for (int run = 0; run < 50; ++run) {
            clock.start();
            if (ShortcutsFile::save(dir.filePath(QStringLiteral("shortcuts.xml")), items) !=
                ShortcutsFile::SaveStatus::Saved)
                ++failures;
            ms.push_back(clock.nsecsElapsed() / 1e6);
        }
        figure("shortcuts_save_ms", percentile(ms, 0.5), "ms");
    }
    return failures ? 1 : 0;
}

// Runs the event loop until `done` holds or `limitMs` pass; false on time-out.
bool spinUntil(const std::function<bool()> &done, int limitMs)
{
    QElapsedTimer wait;
    wait.start();
    while (!done()) {
        if (wait.elapsed() > limitMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

int macroPage()
{
    int failures = 0;
    Dialogs::setMessageHandler(
        [](const Dialogs::MessageRequest &) { return int(QMessageBox::Yes); });
    sim::SimBus bus;
    sim::SimKeyboard *kb = bus.plug(sim::Personality::DualMode);
    // 300 frames: A down and up in turn, 10 ms apart.
    QByteArray frames;
    for (int i = 0; i < 300; ++i) {
        QByteArray f(10, '\0');
        f[0] = 10;
        f[4] = char(i % 2 ? 0 : 0x04);
        frames += f;
    }
    kb->setMacro(0, "Long", frames);
    kb->setMacro(1, "Empty", QByteArray());
    HidBackend::setInstance(&bus);
    {
        Lumory window(nullptr, QStringLiteral("None"));
        qInstallMessageHandler(quietMessages);
        if (!spinUntil(
                [&] { return window.macroPage() && window.macroPage()->items().size() == 2; },
                20000))
            return 1;
        Macro *page = window.macroPage();
        QElapsedTimer clock;
        clock.start();
        page->items().at(0)->loadButton()->click();
        if (!spinUntil([&] { return !page->isDrawing(); }, 120000))
            ++failures;
        const int events = page->items().at(0)->timeline()->dataKeys().size();
        figure("macro_page_load_s", clock.nsecsElapsed() / 1e9, "s");
        // Floor: the read's pause after each round of five frames, and the
        // drawing of one event per tick.
        figure("macro_page_load_floor_s", (300 / 5) * 0.050 + events * 0.050, "s");

        // A 512-frame macro written to the keyboard.
        MacroItem *target = page->items().at(1);
        QVector<DataKey> many;
        for (int i = 0; i < 512; ++i) {
            DataKey k(i % 2 ? 0 : 1);
            k.delay = 10;
            k.code = 0x04;
            k.type = 1;
            many.append(k);
        }
        target->timeline()->setEvents(many);
        page->setItemSelect(target);
        clock.start();
        page->downloadItemDataSlot();
        figure("macro_download_s", clock.nsecsElapsed() / 1e9, "s");
        if (kb->macroFrames(1).size() != 5120)
            ++failures;

        // Recording: key changes as fast as the keyboard reports them.
        page->setItemSelect(page->items().at(1));
        page->recordButton()->setChecked(true);
        if (!page->isRecording())
            ++failures;
        // Each change is drawn before the next is reported (the keyboard's
        // notification ring holds 32 reports, a typist never gets ahead).
        const int changes = 1000;
        clock.start();
        for (int i = 0; i < changes; ++i) {
            const int before = target->timeline()->dataKeys().size();
            kb->simulateKey(0x04, i % 2 == 0, 1);
            if (!spinUntil([&] { return target->timeline()->dataKeys().size() > before; }, 2000)) {
                ++failures;
                break;
            }
        }
        figure("record_events_per_s", changes / (clock.nsecsElapsed() / 1e9), "1/s");
        page->recordButton()->setChecked(false);
        window.exitAppActionSlot();
        spinUntil([] { return false; }, 1500);
    }
    HidBackend::setInstance(nullptr);
    Dialogs::setMessageHandler({});
    return failures ? 1 : 0;
}

int dfuRecovery()
{
    // A USB image whose loader vanishes at a middle packet, from the click
    // on Start to the window usable again.
    Dialogs::setMessageHandler(
        [](const Dialogs::MessageRequest &) { return int(QMessageBox::No); });
    sim::SimBus bus;
    bus.setBootLoaderDelayMs(100);
    sim::SimKeyboard *kb = bus.plug(sim::Personality::UsbOnly);
    QTemporaryDir package;
    QFile image(package.filePath(QStringLiteral("hx_usb_app_V1.bin")));
    if (!image.open(QIODevice::WriteOnly))
        return 1;
    image.write(sim::makeFirmwareImage(110, 8192));
    image.close();
    HidBackend::setInstance(&bus);
    int failures = 0;
    {
        Lumory window(nullptr, QStringLiteral("None"));
        qInstallMessageHandler(quietMessages);
        if (!spinUntil([&] { return window.deviceSession()->isLoaded(); }, 20000))
            return 1;
        FirmwareFlow *flow = window.firmwareFlow();
        flow->setLoaderWaitMs(100);
        Firmware *panel = window.settingPage()->firmwarePanel();
        panel->pathField()->setText(package.path());
        QElapsedTimer clock;
        clock.start();
        panel->startButton()->click();
        sim::SimKeyboard *loader = nullptr;
        if (!spinUntil(
                [&] { return (loader = bus.find(sim::Personality::BootLoader, kb->index())); },
                10000))
            return 1;
        sim::LoaderFault unplug;
        unplug.kind = sim::LoaderFaultKind::Unplug;
        unplug.atPacket = 60;
        loader->injectLoaderFault(unplug);
        if (!spinUntil([&] { return !flow->isRunning(); }, 30000))
            ++failures;
        figure("dfu_fault_recovery_s", clock.nsecsElapsed() / 1e9, "s");
        window.exitAppActionSlot();
        spinUntil([] { return false; }, 1500);
    }
    HidBackend::setInstance(nullptr);
    Dialogs::setMessageHandler({});
    return failures ? 1 : 0;
}

} // namespace

int macroCodecBenchmarks();
int macroFileBenchmarks();
int timelineBenchmarks();
int dfuBenchmarks();
int btBenchmarks();
int updateBenchmarks();
int profileBenchmarks();
int findBenchmarks();

int main(int argc, char **argv)
{
    // The lighting page is built off screen.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    qInstallMessageHandler(quietMessages);
    // Groups to run: all, or those named on the command line.
    const std::pair<const char *, int (*)()> groups[] = {{"rtt", roundTrips},
                                                         {"load", loading},
                                                         {"macro512", macroTransfers},
                                                         {"lighting", lighting},
                                                         {"kf", keyFunctions},
                                                         {"macropage", macroPage},
                                                         {"codec", macroCodecBenchmarks},
                                                         {"macrofile", macroFileBenchmarks},
                                                         {"timeline", timelineBenchmarks},
                                                         {"dfurecovery", dfuRecovery},
                                                         {"dfu", dfuBenchmarks},
                                                         {"bt", btBenchmarks},
                                                         {"update", updateBenchmarks},
                                                         {"profile", profileBenchmarks},
                                                         {"find", findBenchmarks}};
    const QStringList wanted = app.arguments().mid(1);
    int failed = 0;
    for (const auto &group : groups) {
        if (wanted.isEmpty() || wanted.contains(QLatin1String(group.first)))
            failed += group.second();
    }
    if (failed)
        std::fprintf(stderr, "%d device-link benchmark(s) failed\n", failed);
    return failed ? 1 : 0;
}

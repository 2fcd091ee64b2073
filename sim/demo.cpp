#include "demo.h"

#include "simbus.h"

#include "device/wirerecords.h"
#include "shortcut/shortcutsfile.h"
#include "widget/data.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QtGlobal>

#include <memory>
#include <mutex>

namespace sim {

namespace {

constexpr int kMaxDemoKeyboards = 16;

struct DemoBus
{
    std::mutex mutex;
    std::unique_ptr<SimBus> bus;

    ~DemoBus()
    {
        if (bus && HidBackend::instance() == bus.get())
            HidBackend::setInstance(nullptr);
    }
};

DemoBus &demo()
{
    static DemoBus instance;
    return instance;
}

// "<n>" as a keyboard count; anything unreadable counts as one keyboard.
int parseCount(const QString &text, const char *source)
{
    bool ok = false;
    const int n = text.trimmed().toInt(&ok);
    if (!ok || n < 0) {
        qWarning() << "demo mode: cannot read" << text << "from" << source
                   << "as a number of keyboards; using 1";
        return 1;
    }
    if (n > kMaxDemoKeyboards) {
        qWarning() << "demo mode:" << n << "keyboards asked for, using" << kMaxDemoKeyboards;
        return kMaxDemoKeyboards;
    }
    return n;
}

kc_t key(uint16_t usage)
{
    kc_t k{};
    k.setType(1);
    k.setCode(usage);
    return k;
}

// An entry in use: Ctrl + Alt + `usage` runs function `hi`.
QByteArray demoFunction(int index, int hi, uint16_t usage, uint32_t param1 = 0, uint32_t param2 = 0)
{
    kf_t e{};
    e.head[0] = uint8_t(index & 0x3F);
    e.setInUse(true);
    e.setHi(uint8_t(hi));
    e.setKeyCount(3);
    e.setHostFlag(true);
    e.setLayerMask(0xFF);
    e.keys[0] = key(0xE0); // left Ctrl
    e.keys[1] = key(0xE2); // left Alt
    e.keys[2] = key(usage);
    e.setParam1(param1);
    e.setParam2(param2);
    return QByteArray(reinterpret_cast<const char *>(&e), int(sizeof e));
}

// One macro frame: delay, modifier bits and up to one key.
QByteArray frame(uint16_t ts, uint8_t modifiers, uint8_t usage)
{
    QByteArray f(10, '\0');
    f[0] = char(ts & 0xFF);
    f[1] = char(ts >> 8);
    f[2] = char(modifiers);
    f[4] = char(usage);
    return f;
}

constexpr int kWebEntry = 0;
constexpr int kFolderEntry = 3;
constexpr int kMacroEntry = 5;
const char kDemoWebAddress[] = "https://www.example.com";

} // namespace

void seedDemoKeyboard(SimKeyboard *keyboard)
{
    if (!keyboard || keyboard->personality() != Personality::DualMode)
        return;
    // Functions 1 (web site), 3 (folder) and 8 (macro) of the full-size catalogue.
    keyboard->setKeyFunction(kWebEntry, demoFunction(kWebEntry, 1, 0x1A));           // Ctrl+Alt+W
    keyboard->setKeyFunction(kFolderEntry, demoFunction(kFolderEntry, 3, 0x08));     // Ctrl+Alt+E
    keyboard->setKeyFunction(kMacroEntry, demoFunction(kMacroEntry, 8, 0x10, 0, 1)); // Ctrl+Alt+M
    // "Hi": Shift+H, release, I, release.
    keyboard->setMacro(
        0, "Hi", frame(0, 0x02, 0x0B) + frame(40, 0, 0) + frame(40, 0, 0x0C) + frame(40, 0, 0));
    // Ctrl+C.
    keyboard->setMacro(1, "Copy", frame(0, 0x01, 0) + frame(20, 0x01, 0x06) + frame(50, 0, 0));
}

void seedDemoHostData(SimBus *bus, const QString &appDir)
{
    if (!bus)
        return;
    for (SimKeyboard *keyboard : bus->keyboards()) {
        if (keyboard->personality() != Personality::DualMode)
            continue;
        const QString dir =
            appDir + QLatin1Char('/') + DeviceFiles::deviceDirName(keyboard->deviceId());
        const QString path = dir + QStringLiteral("/shortcuts.xml");
        if (QFileInfo(path).size() > 0)
            continue;
        QDir().mkpath(dir);
        ShortcutsFile::Item web;
        web.id = kWebEntry;
        web.hi = 1;
        web.hitype = 1;
        web.text = QString::fromLatin1(kDemoWebAddress);
        ShortcutsFile::Item folder;
        folder.id = kFolderEntry;
        folder.hi = 3;
        folder.hitype = 3;
        folder.text = QDir::homePath();
        ShortcutsFile::Item macro;
        macro.id = kMacroEntry;
        macro.hi = 8;
        macro.hitype = 7;
        macro.macroName = QStringLiteral("Hi");
        for (ShortcutsFile::Item *item : {&web, &folder, &macro}) {
            item->btn[0] = QStringLiteral("LCtrl");
            item->btn[1] = QStringLiteral("LAlt");
        }
        web.btn[2] = QStringLiteral("W");
        folder.btn[2] = QStringLiteral("E");
        macro.btn[2] = QStringLiteral("M");
        if (ShortcutsFile::save(path, {web, folder, macro}) != ShortcutsFile::SaveStatus::Saved)
            qWarning().noquote() << "demo mode: could not write" << path;
    }
}

int demoKeyboardCount(const QStringList &arguments)
{
    for (const QString &argument : arguments) {
        if (argument == QLatin1String("--simulate"))
            return 1;
        if (argument.startsWith(QLatin1String("--simulate=")))
            return parseCount(argument.mid(int(qstrlen("--simulate="))), "--simulate");
    }
    if (qEnvironmentVariableIsSet("LUMORY_SIMULATE")) {
        const QString value = qEnvironmentVariable("LUMORY_SIMULATE");
        return value.trimmed().isEmpty() ? 1 : parseCount(value, "LUMORY_SIMULATE");
    }
    return 0;
}

SimBus *installDemoBus(int keyboardCount)
{
    DemoBus &state = demo();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (!state.bus) {
        state.bus = std::make_unique<SimBus>();
        // K108, T88 and C68 in turn, so that every layout of the catalogue
        // (and the board without a colour page) can be seen.
        static const Personality boards[] = {Personality::DualMode, Personality::UsbOnly,
                                             Personality::NoLighting};
        constexpr int kinds = int(sizeof boards / sizeof boards[0]);
        for (int i = 0; i < qBound(0, keyboardCount, kMaxDemoKeyboards); ++i)
            seedDemoKeyboard(state.bus->plug(boards[i % kinds], i / kinds));
    }
    HidBackend::setInstance(state.bus.get());
    return state.bus.get();
}

SimBus *installDemoBusFromArguments(const QStringList &arguments)
{
    const int count = demoKeyboardCount(arguments);
    if (count <= 0)
        return nullptr;
    return installDemoBus(count);
}

void uninstallDemoBus()
{
    DemoBus &state = demo();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.bus && HidBackend::instance() == state.bus.get())
        HidBackend::setInstance(nullptr);
    state.bus.reset();
}

} // namespace sim

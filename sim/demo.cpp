#include "demo.h"

#include "simbus.h"

#include <QDebug>
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

} // namespace

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
            state.bus->plug(boards[i % kinds], i / kinds);
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

#include "main/lumory.h"
#include "main/singleapplication.h"

#include "demo.h"

#include <QDebug>
#include <QSocketNotifier>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace {
int g_signalFds[2] = {-1, -1};

void onTerminate(int)
{
    const char byte = 1;
    [[maybe_unused]] ssize_t written = ::write(g_signalFds[0], &byte, 1);
}

// SIGTERM and SIGINT run the normal exit sequence, so the keyboard is closed
// cleanly when the session ends or the user presses Ctrl+C.
void installTerminationHandler(Lumory *window)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalFds[1], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window, notifier] {
        char byte = 0;
        [[maybe_unused]] ssize_t got = ::read(g_signalFds[1], &byte, 1);
        notifier->setEnabled(false);
        window->exitAppActionSlot();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminate;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}
} // namespace

int main(int argc, char *argv[])
{
    SingleApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Lumory"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMORY_VERSION));
    if (app.isRunning())
        return 0;

    // Demo mode: simulated keyboards instead of hardware (--simulate, LUMORY_SIMULATE).
    const int simulated = sim::demoKeyboardCount(QCoreApplication::arguments());
    sim::installDemoBusFromArguments(QCoreApplication::arguments());

    QString startMode = QStringLiteral("None");
    for (int i = 0; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        qDebug().noquote() << "argument:" << arg;
        if (arg == QLatin1String("/background"))
            startMode = QStringLiteral("/background");
    }

    Lumory window(nullptr, startMode);
    if (simulated > 0)
        qInfo() << "Demo mode:" << simulated << "simulated keyboard(s) plugged in";
    app.setMainWindow(&window);
    installTerminationHandler(&window);
    window.show();
    const int result = app.exec();
    app.setMainWindow(nullptr);
    return result;
}

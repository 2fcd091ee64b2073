#include "main/termination.h"

#include "main/lumory.h"

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
} // namespace

void installTerminationHandler(Lumory *window)
{
    if (g_signalFds[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM, 0, g_signalFds) != 0) {
        g_signalFds[0] = g_signalFds[1] = -1;
        return;
    }
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

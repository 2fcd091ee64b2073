#include "main/lumory.h"
#include "main/singleapplication.h"
#include "main/termination.h"
#include "shortcut/desktophostactions.h"

#include "demo.h"
#include "demomenu.h"
#include "demoonline.h"
#include "main/apppaths.h"

#include <QDebug>

#ifdef __GLIBC__
#include <malloc.h>
#endif

int main(int argc, char *argv[])
{
#ifdef __GLIBC__
    // A handful of threads that allocate little: one arena besides the main
    // thread's instead of one per thread, each holding its own pages.
    mallopt(M_ARENA_MAX, 2);
#endif
    // Nothing here draws with OpenGL: without the xcb GL integration the
    // process saves tens of megabytes of driver libraries and buffers.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // The update check needs no watch over network interfaces: without this
    // Qt's bearer thread polls them every 10 s for the rest of the run.
    if (qEnvironmentVariableIsEmpty("QT_BEARER_POLL_TIMEOUT"))
        qputenv("QT_BEARER_POLL_TIMEOUT", "86400000");
    SingleApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Lumory"));
    QCoreApplication::setApplicationVersion(QStringLiteral(LUMORY_VERSION));
    if (app.isRunning())
        return 0;

    // Demo mode: simulated keyboards instead of hardware (--simulate, LUMORY_SIMULATE).
    const int simulated = sim::demoKeyboardCount(QCoreApplication::arguments());
    sim::SimBus *demoBus = sim::installDemoBusFromArguments(QCoreApplication::arguments());
    sim::seedDemoHostData(demoBus, AppPaths::dataDir());

    QString startMode = QStringLiteral("None");
    for (int i = 0; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        qDebug().noquote() << "argument:" << arg;
        if (arg == QLatin1String("/background"))
            startMode = QStringLiteral("/background");
    }

    // Key functions open web sites, programs and folders through the desktop.
    DesktopHostActions::installDefault();

    // Demo mode's update site: a newer program and firmware, served locally.
    if (simulated > 0) {
        Lumory::setUpdateStateSetup(
            [](overallVariate *state) { sim::startDemoOnlineUpdate(state, AppPaths::appDir()); });
    }
    Lumory window(nullptr, startMode);
    if (simulated > 0) {
        qInfo() << "Demo mode:" << simulated << "simulated keyboard(s) plugged in";
        window.addTitleBarWidget(new sim::DemoMenu(demoBus));
    }
    app.setMainWindow(&window);
    installTerminationHandler(&window);
    window.show();
    const int result = app.exec();
    app.setMainWindow(nullptr);
    return result;
}

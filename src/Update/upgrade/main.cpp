// The installer "Upgrade": started by the program with the new version
// downloaded, it installs the new files and starts the program again.
#include "Update/upgradeinstaller.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    UpgradeInstaller::Options options;
    options.fallbackLogDir = QCoreApplication::applicationDirPath();
    // How long to wait for the program to exit (milliseconds).
    bool ok = false;
    const int wait = qEnvironmentVariableIntValue("LUMORY_UPGRADE_WAIT_MS", &ok);
    if (ok && wait >= 0)
        options.waitTimeoutMs = wait;
    return UpgradeInstaller::run(QCoreApplication::arguments().mid(1), options);
}

#include "shortcut/desktophostactions.h"

#include <QDebug>
#include <QDesktopServices>
#include <QProcess>
#include <QUrl>

bool DesktopHostActions::openUrl(const QString &url)
{
    const bool opened = QDesktopServices::openUrl(QUrl(url, QUrl::StrictMode));
    if (!opened)
        qWarning() << "Could not open" << url;
    return opened;
}

bool DesktopHostActions::startProgram(const QString &program, const QStringList &arguments)
{
    const bool started = QProcess::startDetached(program, arguments);
    if (!started)
        qWarning() << "Could not start" << program << arguments;
    return started;
}

bool DesktopHostActions::openFolder(const QString &folder)
{
    return launchFolder(*this, folder);
}

void DesktopHostActions::installDefault()
{
    static DesktopHostActions actions;
    if (!HostActions::instance())
        HostActions::setInstance(&actions);
}

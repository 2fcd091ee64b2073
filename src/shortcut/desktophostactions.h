#pragma once

#include "shortcut/hostactions.h"

// The real host: the desktop's URL handler and detached processes. Nothing
// waits for a started process, so the keyboard keeps being served.
class DesktopHostActions : public HostActions
{
public:
    bool openUrl(const QString &url) override;
    bool startProgram(const QString &program, const QStringList &arguments) override;
    bool openFolder(const QString &folder) override;

    // Makes a process-wide DesktopHostActions the instance unless one is
    // already installed (tests install their own first). Call at start-up.
    static void installDefault();
};

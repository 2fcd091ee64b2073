#pragma once

// Demo mode: the program runs against simulated keyboards instead of hardware.

#include <QString>
#include <QStringList>

namespace sim {

class SimBus;
class SimKeyboard;

// Creates the process-wide demo bus with `keyboardCount` keyboards, installs
// it with HidBackend::setInstance and returns it. The boards take turns: K108
// (DualMode), T88 (UsbOnly), C68 (NoLighting), then K108 again with the next
// index, and so on.
// The bus lives until uninstallDemoBus() or the end of the process. Calling it
// again while a demo bus is installed returns the installed bus unchanged.
SimBus *installDemoBus(int keyboardCount = 1);

// Demo mode is on with the argument "--simulate" (one keyboard) or
// "--simulate=<n>", or with the environment variable LUMORY_SIMULATE=<n>; the
// argument wins. n = 0 turns it off. Installs the bus and returns it, or
// returns nullptr when not simulating.
SimBus *installDemoBusFromArguments(const QStringList &arguments);

// The number of keyboards asked for by the arguments or the environment; 0 = none.
int demoKeyboardCount(const QStringList &arguments);

// Restores the hidapi back end and destroys the demo bus (no handle may be open).
void uninstallDemoBus();

// What a full-size demo keyboard ships with, so that every page has something
// to show: three key functions in use (a web site, a folder, a macro) at
// entries 0, 3 and 5, and two stored macros ("Hi" typed, and Ctrl+C).
void seedDemoKeyboard(SimKeyboard *keyboard);

// The host side of those functions: writes <appDir>/<device id>/shortcuts.xml
// with the web address and the folder for each full-size demo keyboard on the
// bus, unless the file already holds something (the user's own data stays).
void seedDemoHostData(SimBus *bus, const QString &appDir);

} // namespace sim

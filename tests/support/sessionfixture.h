#pragma once

#include "main/lumory.h"
#include "simbus.h"
#include "testsupport.h"

#include <QStringList>

#include <memory>

namespace TestSupport {

// A main window on a simulated bus, with scratch data directory, HOME and
// answered dialogs. The bus answers at once (no simulated latency) unless a
// test asks for it.
class SessionFixture
{
public:
    SessionFixture();
    ~SessionFixture();

    sim::SimBus bus;
    ScratchAppDir appDir;
    ScopedHome home;
    DialogRecorder dialogs;
    std::unique_ptr<Lumory> window;

    // Builds the main window (after the bus and dialogs are set up).
    Lumory *start();
    // Waits until a keyboard is loaded and its pages are built.
    bool waitLoaded(int timeoutMs = 15000);
    // Waits until no keyboard is open.
    bool waitClosed(int timeoutMs = 15000);
    // Messages of today's log (without time, level and source).
    QStringList logMessages() const;
    // True when `expected` appear in this order among the log messages
    // (each matched by prefix); `missing` receives the first one not found.
    bool logHasInOrder(const QStringList &expected, QString *missing = nullptr) const;
    // The "USB Device" entries' texts in menu order.
    QStringList deviceEntries() const;
};

} // namespace TestSupport

#pragma once

// Demo mode's online update: the update page talks to a local update site
// with a newer program version and newer firmware for the simulated
// keyboards, so the whole flow can be tried without any network.

#include <QString>

class overallVariate;

namespace sim {

class DemoUpdateSite;

// Starts a DemoUpdateSite (owned by `state`) for the program in
// `programDir` and points the state's configuration at it: its base address
// and daytime servers; the signing key stays the configured one. Memory
// only: the user's OnlineUpdate.xml is never written. Returns the site, or
// nullptr (logged; the configuration unchanged) when it cannot start.
DemoUpdateSite *startDemoOnlineUpdate(overallVariate *state, const QString &programDir);

} // namespace sim

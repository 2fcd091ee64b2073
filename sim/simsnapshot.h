#pragma once

// The whole stored state of a simulated keyboard as named parts, for tests
// that compare a keyboard with itself before and after (a back-up, a factory
// reset and a restore must give back the same keyboard) or with another.

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

namespace sim {

class SimKeyboard;

// Part name -> bytes in the wire layouts: "keyMap0", "activeKeyMap",
// "colourMap0", "activeColourMap", "modeMap0", "activeModeMap", "lighting0",
// "function0", "macroHead0", "macroFrames0", "btName", "sleepTime",
// "scanSpeed", "nKey", "userInfo".
using StateSnapshot = QMap<QString, QByteArray>;

StateSnapshot snapshot(const SimKeyboard *keyboard);

// The parts that differ (present in one only, or with other bytes), sorted.
QStringList differences(const StateSnapshot &a, const StateSnapshot &b);

} // namespace sim

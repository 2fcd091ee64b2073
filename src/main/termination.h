#pragma once

class Lumory;

// SIGTERM and SIGINT run the window's normal exit sequence, so the keyboard
// is closed cleanly when the desktop session ends or the user presses Ctrl+C.
// The signal only writes a byte to a socket; the exit runs on the main thread
// from whatever event loop is running (also a message box's).
void installTerminationHandler(Lumory *window);

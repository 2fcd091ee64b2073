#pragma once

// The device link of the answer fuzz target and of its seed recorder: the
// transport running its receive loop on its own thread against a HID back
// end, the device model on top, and the exchanges a connected keyboard goes
// through.

#include "device/device.h"
#include "device/usb.h"
#include "macro/macrocodec.h"

#include <QMutex>
#include <QThread>
#include <QWaitCondition>

class HidBackend;

namespace fuzz {

// Identifiers the harness back ends answer to.
constexpr uint16_t kVendorId = 0x1209;
constexpr uint16_t kProductId = 0x0001;
constexpr int kInterface = 1;

class DeviceLink
{
public:
    // Installs `backend`, opens the interface by enumeration and starts the
    // receive loop.
    explicit DeviceLink(HidBackend *backend);
    // Stops the loop (the back end should make reads fail first, or the loop
    // ends only after its current read), delivers the reports that reached
    // the ring, and closes.
    ~DeviceLink();
    DeviceLink(const DeviceLink &) = delete;
    DeviceLink &operator=(const DeviceLink &) = delete;

    Device *device() { return m_device; }
    bool opened() const { return m_opened; }

    // Runs runDeviceSession() on a device thread of its own, as the program
    // loads a keyboard. After `budgetMs` the exchanges are aborted: the model
    // paces macro transfers with pauses of 50 ms or more, and a fuzzer would
    // otherwise spend its time waiting in them.
    void runSession(int budgetMs);

private:
    QWaitCondition m_condition;
    QMutex m_mutex;
    bool m_waiting = false;
    QThread m_thread;
    Usb *m_usb = nullptr;
    Device *m_device = nullptr;
    bool m_opened = false;
    MacroCodec::LiveDecoder m_liveDecoder; // frames reported while recording
};

// The loading sequence in the program's order (its pause after the device
// information left out) up to the first failure, then a macro read, a few
// edits the pages make, and what the pages read from the model.
void runDeviceSession(Device *device);

} // namespace fuzz

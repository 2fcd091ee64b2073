#pragma once
// What the benchmark groups share: the "name value unit" output line, and a
// device link over a simulated bus (transport on its own thread, model on the
// caller's), as the program runs them.

#include "device/device.h"
#include "device/hidbackend.h"
#include "device/usb.h"
#include "simbus.h"

#include <QMutex>
#include <QObject>
#include <QThread>
#include <QWaitCondition>

#include <cstdio>

namespace bench {

inline void figure(const char *name, double value, const char *unit)
{
    std::printf("%s %.3f %s\n", name, value, unit);
    std::fflush(stdout);
}

class Link
{
public:
    explicit Link(sim::SimBus *bus)
    {
        HidBackend::setInstance(bus);
        usb = new Usb(&condition, &mutex, &waiting);
        usb->setDfuPID(sim::kSimVendorId, sim::kSimProductId, sim::kSimInterface);
        opened = usb->open() == 0;
        usb->moveToThread(&thread);
        thread.start();
        device = new Device(usb, &condition, &mutex, &waiting);
        QObject::connect(usb, &Usb::emitRecvCmd, device, &Device::recvCmdSlot);
        QMetaObject::invokeMethod(usb, &Usb::readSlot, Qt::QueuedConnection);
    }
    ~Link()
    {
        device->abortExchanges();
        usb->quitReadWhile();
        thread.quit();
        thread.wait();
        usb->close();
        delete device;
        delete usb;
        HidBackend::setInstance(nullptr);
    }
    Link(const Link &) = delete;
    Link &operator=(const Link &) = delete;

    QWaitCondition condition;
    QMutex mutex;
    bool waiting = false;
    QThread thread;
    Usb *usb = nullptr;
    Device *device = nullptr;
    bool opened = false;
};

} // namespace bench

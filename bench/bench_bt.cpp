// Bluetooth module figures on the simulated dual-mode keyboard at its default
// timing (1 ms to the keyboard, 1 ms back). One line per figure:
// "name value unit".
//
//   bt_app_100k_s        a 100 KiB application image written to the module,
//                        from the hand-over of reading until the answer to
//                        the last chunk
//   bt_app_100k_floor_s  its floor: the erase and the chunks times one round
//                        trip of the link (one chunk in flight allows no less)

#include "benchsupport.h"
#include "device/device.h"
#include "device/hidbackend.h"
#include "device/updatedfubtthread.h"
#include "device/usb.h"
#include "simbus.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QMutex>
#include <QThread>
#include <QTimer>
#include <QWaitCondition>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

using bench::figure;

} // namespace

int btBenchmarks()
{
    constexpr int kImageSize = 100 * 1024;
    sim::SimBus bus; // default timing
    sim::SimKeyboard *keyboard = bus.plug(sim::Personality::DualMode);
    HidBackend::setInstance(&bus);

    QWaitCondition condition;
    QMutex mutex;
    bool waiting = false;
    auto *usb = new Usb(&condition, &mutex, &waiting);
    usb->setDfuPID(sim::kSimVendorId, sim::kSimProductId, sim::kSimInterface);
    QThread usbThread;
    auto *device = new Device(usb, &condition, &mutex, &waiting);
    int failed = 0;
    if (usb->open() == 0) {
        usb->moveToThread(&usbThread);
        usbThread.start();
        QObject::connect(usb, &Usb::emitRecvCmd, device, &Device::recvCmdSlot);
        QMetaObject::invokeMethod(usb, &Usb::readSlot, Qt::QueuedConnection);

        updateDFUBtThread worker;
        QEventLoop loop;
        bool finished = false;
        QObject::connect(&worker, &updateDFUBtThread::emitUpdateDfuFinished, &loop, [&] {
            finished = true;
            loop.quit();
        });
        QObject::connect(&worker, &updateDFUBtThread::emitStopDfu, &loop, &QEventLoop::quit);
        QObject::connect(&worker, &updateDFUBtThread::UpdateError, &loop, &QEventLoop::quit);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit); // never wait for ever

        const QByteArray image = sim::makeFirmwareImage(101, kImageSize, 0, 1);
        // The mode switch dumps its answer to standard output, which carries
        // only figures here.
        std::fflush(stdout);
        const int savedOut = dup(STDOUT_FILENO);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0)
            dup2(null, STDOUT_FILENO);
        const bool inBoot = device->_bt_app_boot() == 0;
        std::fflush(stdout);
        if (savedOut >= 0) {
            dup2(savedOut, STDOUT_FILENO);
            close(savedOut);
        }
        if (null >= 0)
            close(null);
        QElapsedTimer clock;
        clock.start();
        if (inBoot && worker.startImage(usb, reinterpret_cast<const uint8_t *>(image.constData()),
                                        uint32_t(image.size()), false))
            loop.exec();
        const double seconds = clock.nsecsElapsed() / 1e9;
        worker.stop();
        worker.wait();

        const int frames = 1 + (kImageSize + 47) / 48;
        const double roundTrip = 2.0 * bus.reportLatencyUs() / 1e6;
        if (finished && keyboard->btApplicationImage().left(kImageSize) == image) {
            figure("bt_app_100k_s", seconds, "s");
            figure("bt_app_100k_floor_s", frames * roundTrip, "s");
        } else {
            std::fprintf(stderr, "bt_app_100k: the image was not written\n");
            failed = 1;
        }
    } else {
        std::fprintf(stderr, "bt_app_100k: the simulated keyboard could not be opened\n");
        failed = 1;
    }
    device->abortExchanges();
    usb->quitReadWhile();
    usbThread.quit();
    usbThread.wait();
    usb->close();
    delete device;
    delete usb;
    HidBackend::setInstance(nullptr);
    return failed;
}

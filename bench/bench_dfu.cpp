// USB boot-loader figures on the simulated loader at its default timing (1 ms
// to the loader, 1 ms back). One line per figure: "name value unit".
//
//   dfu_64k_s        a 64 KiB image streamed to the loader, from the first
//                    packet until the whole image is acknowledged and the run
//                    command has left
//   dfu_64k_floor_s  its floor: the packets of the update times one round trip
//                    of the link (stop and wait allows no less)

#include "benchsupport.h"
#include "device/device.h"
#include "device/hidbackend.h"
#include "device/usb.h"
#include "simbus.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <cstdio>

namespace {

using bench::figure;

} // namespace

int dfuBenchmarks()
{
    constexpr int kImageSize = 64 * 1024;
    sim::SimBus bus; // default timing
    sim::SimKeyboard *loader = bus.plug(sim::Personality::BootLoader);
    HidBackend::setInstance(&bus);

    Usb usb(nullptr, nullptr, nullptr);
    usb.setDfuPID(sim::kBootLoaderVendorId, sim::kBootLoaderProductId, sim::kBootLoaderInterface);
    auto *device = new Device(nullptr, nullptr, nullptr, nullptr);
    QThread thread;
    int failed = 0;
    if (device->openDFU(&usb)) {
        device->moveToThread(&thread);
        QObject::connect(&thread, &QThread::started, device, &Device::readDFUUsbSlot);
        QEventLoop loop;
        bool finished = false;
        QObject::connect(device, &Device::emitUpdateDfuFinished, &loop, [&] {
            finished = true;
            loop.quit();
        });
        QObject::connect(device, &Device::emitStopDfu, &loop, &QEventLoop::quit);
        QTimer::singleShot(120000, &loop, &QEventLoop::quit); // never wait for ever

        QByteArray image = sim::makeFirmwareImage(101, kImageSize);
        QElapsedTimer clock;
        clock.start();
        thread.start();
        device->dfuStartUpdateFW(reinterpret_cast<uint8_t *>(image.data()), image.size());
        loop.exec();
        const double seconds = clock.nsecsElapsed() / 1e9;

        const int packets = 3 + (kImageSize - 48 + 55) / 56;
        const double roundTrip = 2.0 * bus.reportLatencyUs() / 1e6;
        if (finished && loader->loaderImage() == image) {
            figure("dfu_64k_s", seconds, "s");
            figure("dfu_64k_floor_s", packets * roundTrip, "s");
        } else {
            std::fprintf(stderr, "dfu_64k: the update did not finish\n");
            failed = 1;
        }
    } else {
        std::fprintf(stderr, "dfu_64k: the simulated loader could not be opened\n");
        failed = 1;
    }
    device->stopDfuRead();
    thread.quit();
    thread.wait();
    usb.close();
    delete device;
    HidBackend::setInstance(nullptr);
    return failed;
}

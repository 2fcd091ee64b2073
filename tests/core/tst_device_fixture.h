#pragma once

// Shared set-up of the device-link tests: a transport running its receive
// loop on its own thread against a HID back end (the simulated bus, or a
// scripted keyboard for answers the simulator never gives), plus the device
// model on top of it.

#include "device/device.h"
#include "device/hidbackend.h"
#include "device/usb.h"
#include "simbus.h"

#include <QByteArray>
#include <QList>
#include <QMutex>
#include <QMutexLocker>
#include <QStringList>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace linktest {

// Collects the log lines written while it lives (and still passes them on).
class LogCapture
{
public:
    LogCapture()
    {
        QMutexLocker lock(&mutex());
        current() = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        QMutexLocker lock(&mutex());
        current() = nullptr;
    }
    QStringList lines() const
    {
        QMutexLocker lock(&mutex());
        return m_lines;
    }
    int count(const QString &text) const
    {
        int n = 0;
        for (const QString &line : lines())
            n += line.contains(text) ? 1 : 0;
        return n;
    }

private:
    static QMutex &mutex()
    {
        static QMutex m;
        return m;
    }
    static LogCapture *&current()
    {
        static LogCapture *c = nullptr;
        return c;
    }
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        QtMessageHandler previous = nullptr;
        {
            QMutexLocker lock(&mutex());
            if (LogCapture *c = current()) {
                c->m_lines.append(text);
                previous = c->m_previous;
            }
        }
        if (previous && type != QtDebugMsg)
            previous(type, context, text);
    }

    QtMessageHandler m_previous = nullptr;
    QStringList m_lines;
};

// Counts emissions of a signal from any thread (a QSignalSpy may only be
// used by the thread that emits).
class SignalCounter
{
public:
    template <typename Sender, typename Signal> SignalCounter(Sender *sender, Signal signal)
    {
        m_connection = QObject::connect(sender, signal, [this] { ++m_count; });
    }
    ~SignalCounter() { QObject::disconnect(m_connection); }
    int count() const { return m_count.load(); }

private:
    std::atomic<int> m_count{0};
    QMetaObject::Connection m_connection;
};

// A keyboard at the wire whose answers a test writes itself. Each request
// frame is handed to `handler`; the bytes it returns are queued as one input
// report (fewer than 64 = a short read; empty = no answer).
class ScriptedBackend : public HidBackend
{
public:
    using Handler = std::function<QByteArray(const QByteArray &request)>;

    static constexpr const char *kPath = "scripted-1";

    void setHandler(Handler h)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_handler = std::move(h);
    }
    QList<QByteArray> frames() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_frames;
    }
    void clearFrames()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_frames.clear();
    }
    // Every later write fails (hid_write returns -1).
    void setWriteFails(bool fails)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_writeFails = fails;
    }
    // Every later read fails, as when the keyboard is pulled out.
    void failReads()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_readFails = true;
        m_cv.notify_all();
    }
    // Queues an unsolicited report.
    void push(const QByteArray &report)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_queue.push_back(report);
        m_cv.notify_all();
    }
    int writeCalls() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_writeCalls;
    }

    QList<HidDeviceInfo> enumerate(uint16_t vendorId, uint16_t productId) override
    {
        HidDeviceInfo info;
        info.path = QString::fromLatin1(kPath);
        info.vendorId = sim::kSimVendorId;
        info.productId = sim::kSimProductId;
        info.interfaceNumber = sim::kSimInterface;
        if ((vendorId && vendorId != info.vendorId) || (productId && productId != info.productId))
            return {};
        return {info};
    }
    HidHandle *open(const QString &path) override
    {
        return path == QLatin1String(kPath) ? reinterpret_cast<HidHandle *>(this) : nullptr;
    }
    int read(HidHandle *handle, unsigned char *data, size_t length) override
    {
        return readTimeout(handle, data, length, -1);
    }
    int readTimeout(HidHandle *, unsigned char *data, size_t length, int timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        auto ready = [&] { return m_readFails || !m_queue.empty(); };
        if (timeoutMs < 0)
            m_cv.wait(lock, ready);
        else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
            return 0;
        if (m_readFails)
            return -1;
        const QByteArray report = m_queue.front();
        m_queue.pop_front();
        const size_t n = std::min<size_t>(length, static_cast<size_t>(report.size()));
        std::memcpy(data, report.constData(), n);
        return static_cast<int>(n);
    }
    int write(HidHandle *, const unsigned char *data, size_t length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        ++m_writeCalls;
        if (m_writeFails || length != 65 || data[0] != 0)
            return -1;
        const QByteArray frame(reinterpret_cast<const char *>(data + 1), 64);
        m_frames.append(frame);
        if (m_handler) {
            const QByteArray answer = m_handler(frame);
            if (!answer.isEmpty()) {
                m_queue.push_back(answer);
                m_cv.notify_all();
            }
        }
        return static_cast<int>(length);
    }
    void close(HidHandle *) override {}
    int exit() override { return 0; }

private:
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;
    Handler m_handler;
    QList<QByteArray> m_frames;
    std::deque<QByteArray> m_queue;
    bool m_writeFails = false;
    bool m_readFails = false;
    int m_writeCalls = 0;
};

// A 64-byte answer echoing `request`'s command and sub-command, with
// `payloadLength` at bytes 2-3; `fill` writes the rest.
inline QByteArray answerTo(const QByteArray &request, uint16_t payloadLength = 0)
{
    QByteArray a(64, '\0');
    a[0] = request[0];
    a[1] = request[1];
    a[2] = static_cast<char>(payloadLength & 0xFF);
    a[3] = static_cast<char>(payloadLength >> 8);
    return a;
}
inline void put32(QByteArray &a, int at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        a[at + i] = static_cast<char>(v >> (8 * i));
}
inline uint8_t byteAt(const QByteArray &a, int i)
{
    return static_cast<uint8_t>(a.at(i));
}
inline uint16_t argOf(const QByteArray &frame)
{
    return static_cast<uint16_t>(byteAt(frame, 4) | (byteAt(frame, 5) << 8));
}
inline uint16_t lenOf(const QByteArray &frame)
{
    return static_cast<uint16_t>(byteAt(frame, 2) | (byteAt(frame, 3) << 8));
}
// Frames of one command/sub-command pair.
inline QList<QByteArray> framesOf(const QList<QByteArray> &all, uint8_t cmd, uint8_t sub)
{
    QList<QByteArray> out;
    for (const QByteArray &f : all) {
        if (byteAt(f, 0) == cmd && byteAt(f, 1) == sub)
            out.append(f);
    }
    return out;
}

// The transport and the device model over one HID back end.
class Link
{
public:
    // Opens the keyboard interface with this path by enumeration and starts
    // the receive loop on its own thread. The device model lives on the
    // calling thread (as when pages call it from the main thread).
    explicit Link(HidBackend *backend, uint16_t vendorId = sim::kSimVendorId,
                  uint16_t productId = sim::kSimProductId, int iface = sim::kSimInterface)
        : m_backend(backend)
    {
        HidBackend::setInstance(backend);
        usb = new Usb(&condition, &mutex, &waiting);
        usb->setDfuPID(vendorId, productId, iface);
        opened = usb->open() == 0;
        usb->moveToThread(&usbThread);
        usbThread.start();
        device = new Device(usb, &condition, &mutex, &waiting);
        QObject::connect(usb, &Usb::emitRecvCmd, device, &Device::recvCmdSlot);
        if (opened)
            QMetaObject::invokeMethod(usb, &Usb::readSlot, Qt::QueuedConnection);
    }
    ~Link() { shutdown(); }

    void shutdown()
    {
        if (!usb)
            return;
        device->abortExchanges();
        usb->quitReadWhile();
        usbThread.quit();
        usbThread.wait();
        usb->close();
        delete device;
        device = nullptr;
        delete usb;
        usb = nullptr;
        HidBackend::setInstance(nullptr);
    }

    bool waitingFlag()
    {
        QMutexLocker lock(&mutex);
        return waiting;
    }

    QWaitCondition condition;
    QMutex mutex;
    bool waiting = false;
    QThread usbThread;
    Usb *usb = nullptr;
    Device *device = nullptr;
    bool opened = false;

private:
    HidBackend *m_backend;
};

// A simulated bus with one keyboard of `personality`, its latency set to 0
// unless a test cares about timing.
class SimLink
{
public:
    explicit SimLink(sim::Personality personality = sim::Personality::DualMode, int latencyUs = 0)
    {
        bus.setReportLatencyUs(latencyUs);
        keyboard = bus.plug(personality);
        link = std::make_unique<Link>(&bus);
    }
    ~SimLink() { link.reset(); }

    Device *device() const { return link->device; }
    Usb *usb() const { return link->usb; }
    QList<QByteArray> frames() const { return keyboard->receivedFrames(); }

    sim::SimBus bus;
    sim::SimKeyboard *keyboard = nullptr;
    std::unique_ptr<Link> link;
};

} // namespace linktest

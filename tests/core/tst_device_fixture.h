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
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>

namespace linktest {

// Collects the log lines written while it lives (warnings still reach the
// previous handler).
class LogCapture
{
public:
    LogCapture()
    {
        QMutexLocker lock(&s_mutex);
        s_current = this;
        m_previous = qInstallMessageHandler(&LogCapture::handler);
    }
    ~LogCapture()
    {
        qInstallMessageHandler(m_previous);
        QMutexLocker lock(&s_mutex);
        s_current = nullptr;
    }
    QStringList lines() const
    {
        QMutexLocker lock(&s_mutex);
        return m_lines;
    }
    int count(const QString &text) const { return lines().filter(text).size(); }

private:
    static void handler(QtMsgType type, const QMessageLogContext &context, const QString &text)
    {
        QMutexLocker lock(&s_mutex);
        if (!s_current)
            return;
        s_current->m_lines.append(text);
        if (s_current->m_previous && type != QtDebugMsg)
            s_current->m_previous(type, context, text);
    }

    static inline QMutex s_mutex;
    static inline LogCapture *s_current = nullptr;
    QtMessageHandler m_previous = nullptr;
    QStringList m_lines;
};

// A keyboard at the wire whose answers a test writes itself. Each request
// frame is handed to the handler; the bytes it returns are queued as one input
// report (fewer than 64 = a short read; empty = no answer).
class ScriptedBackend : public HidBackend
{
    // Runs `f` with the lock held and wakes a waiting reader.
    template <typename F> auto locked(F f) const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_cv.notify_all();
        return f();
    }

public:
    using Handler = std::function<QByteArray(const QByteArray &request)>;
    static constexpr const char *kPath = "scripted-1";

    void setHandler(Handler h)
    {
        locked([&] { m_handler = std::move(h); });
    }
    QList<QByteArray> frames() const
    {
        return locked([&] { return m_frames; });
    }
    void clearFrames()
    {
        locked([&] { m_frames.clear(); });
    }
    void setWriteFails(bool fails)
    {
        locked([&] { m_writeFails = fails; });
    }
    // Every later read fails, as when the keyboard is pulled out.
    void failReads()
    {
        locked([&] { m_readFails = true; });
    }
    // Queues an unsolicited report.
    void push(const QByteArray &report)
    {
        locked([&] { m_queue.push_back(report); });
    }

    QList<HidDeviceInfo> enumerate(uint16_t, uint16_t) override
    {
        HidDeviceInfo info;
        info.path = QString::fromLatin1(kPath);
        info.interfaceNumber = sim::kSimInterface;
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
        const size_t n = std::min<size_t>(length, size_t(report.size()));
        std::memcpy(data, report.constData(), n);
        return int(n);
    }
    int write(HidHandle *, const unsigned char *data, size_t length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_writeFails || length != 65 || data[0] != 0)
            return -1;
        const QByteArray frame(reinterpret_cast<const char *>(data + 1), 64);
        m_frames.append(frame);
        const QByteArray answer = m_handler ? m_handler(frame) : QByteArray();
        if (!answer.isEmpty()) {
            m_queue.push_back(answer);
            m_cv.notify_all();
        }
        return int(length);
    }
    void close(HidHandle *) override {}
    int exit() override { return 0; }

private:
    mutable std::mutex m_mutex;
    mutable std::condition_variable m_cv;
    Handler m_handler;
    QList<QByteArray> m_frames;
    std::deque<QByteArray> m_queue;
    bool m_writeFails = false;
    bool m_readFails = false;
};

// A 64-byte answer echoing the request's command and sub-command, with
// `payloadLength` at bytes 2-3.
inline QByteArray answerTo(const QByteArray &request, uint16_t payloadLength = 0)
{
    QByteArray a(64, '\0');
    a[0] = request[0];
    a[1] = request[1];
    a[2] = char(payloadLength & 0xFF);
    a[3] = char(payloadLength >> 8);
    return a;
}
inline uint8_t byteAt(const QByteArray &a, int i)
{
    return uint8_t(a.at(i));
}
inline uint16_t lenOf(const QByteArray &frame)
{
    return uint16_t(byteAt(frame, 2) | byteAt(frame, 3) << 8);
}
inline uint16_t argOf(const QByteArray &frame)
{
    return uint16_t(byteAt(frame, 4) | byteAt(frame, 5) << 8);
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
inline sim::Fault fault(sim::FaultKind kind, int command = -1, int sub = -1, uint32_t status = 0)
{
    sim::Fault f;
    f.kind = kind;
    f.command = command;
    f.subCommand = sub;
    f.status = status;
    return f;
}

// The transport and the device model over one HID back end.
class Link
{
public:
    // Opens the keyboard interface by enumeration and starts the receive loop
    // on its own thread. The device model lives on the calling thread (as
    // when pages call it from the main thread).
    explicit Link(HidBackend *backend)
    {
        HidBackend::setInstance(backend);
        usb = new Usb(&condition, &mutex, &waiting);
        usb->setDfuPID(sim::kSimVendorId, sim::kSimProductId, sim::kSimInterface);
        opened = usb->open() == 0;
        usb->moveToThread(&usbThread);
        usbThread.start();
        device = new Device(usb, &condition, &mutex, &waiting);
        QObject::connect(usb, &Usb::emitRecvCmd, device, &Device::recvCmdSlot);
        if (opened)
            QMetaObject::invokeMethod(usb, &Usb::readSlot, Qt::QueuedConnection);
    }
    ~Link()
    {
        device->abortExchanges();
        usb->quitReadWhile();
        usbThread.quit();
        usbThread.wait();
        usb->close();
        delete device;
        delete usb;
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
};

// A simulated bus with one keyboard of `personality` that answers at once.
class SimLink
{
public:
    explicit SimLink(sim::Personality personality = sim::Personality::DualMode)
    {
        bus.setReportLatencyUs(0);
        keyboard = bus.plug(personality);
        link = std::make_unique<Link>(&bus);
    }

    Device *device() const { return link->device; }
    Usb *usb() const { return link->usb; }
    QList<QByteArray> frames() const { return keyboard->receivedFrames(); }

    sim::SimBus bus;
    sim::SimKeyboard *keyboard = nullptr;
    std::unique_ptr<Link> link;
};

} // namespace linktest

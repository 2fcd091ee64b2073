#include "device/usb.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QMetaMethod>
#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>

#ifdef __linux__
#include <sched.h>
#include <sys/syscall.h>
#include <unistd.h>
#endif

bool setThreadWakeSlice(int sliceUs)
{
#if defined(__linux__) && defined(SYS_sched_setattr) && defined(SYS_sched_getattr)
    // The kernel's struct sched_attr (first version); glibc has no wrapper.
    struct SchedAttr
    {
        uint32_t size;
        uint32_t policy;
        uint64_t flags;
        int32_t nice;
        uint32_t priority;
        uint64_t runtime;
        uint64_t deadline;
        uint64_t period;
    };
    SchedAttr attr{};
    if (syscall(SYS_sched_getattr, 0, &attr, sizeof attr, 0) != 0)
        return false;
    // Only normal threads; real-time, idle and deadline ones are left alone.
    if (attr.policy != SCHED_OTHER && attr.policy != SCHED_BATCH)
        return false;
    attr.size = sizeof attr;
    attr.flags &= 0x01; // SCHED_FLAG_RESET_ON_FORK stays; the rest do not apply here
    attr.runtime = static_cast<uint64_t>(std::max(0, sliceUs)) * 1000u;
    return syscall(SYS_sched_setattr, 0, &attr, 0) == 0;
#else
    Q_UNUSED(sliceUs);
    return false;
#endif
}

bool usbInterfaceMatches(const HidDeviceInfo &info, int iface)
{
    if (info.interfaceNumber == iface)
        return true;
    if (info.path.isEmpty())
        return false;
    const int digit = info.path.at(info.path.size() - 1).unicode() - '0';
    return digit == iface;
}

Usb::Usb(QWaitCondition *answerCondition, QMutex *answerMutex, bool *waiting, QObject *parent)
    : QObject(parent), m_answerCondition(answerCondition), m_answerMutex(answerMutex),
      m_waiting(waiting)
{
    for (auto &busy : m_slotBusy)
        busy.store(false);
    // emitRecvCmd crosses threads.
    qRegisterMetaType<uint8_t *>("uint8_t*");
}

Usb::~Usb()
{
    // Normally closed by the session after the loop ended; never leak the handle.
    if (HidHandle *handle = m_handle.exchange(nullptr))
        HidBackend::instance()->close(handle);
}

int Usb::write(const unsigned char *buffer, unsigned short length)
{
    HidHandle *handle = m_handle.load();
    if (!handle)
        return -1;
    unsigned char report[wk::kWireReportSize] = {};
    report[0] = 0; // report id
    if (buffer)
        std::memcpy(report + 1, buffer, std::min<int>(length, wk::kReportSize));
    int ret;
    {
        QMutexLocker lock(&m_writeLock);
        ret = HidBackend::instance()->write(handle, report, sizeof report);
    }
    if (ret < 0) {
        qWarning("hid write failed, ret=%d handle=%llx", ret,
                 static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(handle)));
        return -1;
    }
    // The receive loop is in its read already: the answer ends it.
    return 0;
}

int Usb::read(unsigned char *buffer, unsigned short length)
{
    HidHandle *handle = m_handle.load();
    if (!handle)
        return -1;
    unsigned char report[wk::kWireReportSize];
    int n;
    while ((n = HidBackend::instance()->read(handle, report, sizeof report)) == 0)
        qDebug() << "waiting...";
    if (n < 0)
        return n;
    if (buffer)
        std::memcpy(buffer, report, std::min<int>(length, n));
    return 0;
}

int Usb::readTimeout(unsigned char *buffer, unsigned short length, int timeoutMs)
{
    HidHandle *handle = m_handle.load();
    if (!handle)
        return -1;
    unsigned char report[wk::kWireReportSize];
    const int n = HidBackend::instance()->readTimeout(handle, report, sizeof report, timeoutMs);
    if (n <= 0)
        return n;
    const int copied = std::min<int>(length, n);
    if (buffer && copied > 0)
        std::memcpy(buffer, report, static_cast<size_t>(copied));
    return n;
}

int Usb::open()
{
    unsigned short vendorId, productId;
    int iface;
    {
        QMutexLocker lock(&m_identityLock);
        vendorId = m_vendorId;
        productId = m_productId;
        iface = m_iface;
    }
    qDebug() << "VID =" << QString::number(vendorId, 16);
    qDebug() << "PID =" << QString::number(productId, 16);
    qDebug() << "iface =" << iface;

    HidBackend *backend = HidBackend::instance();
    const QList<HidDeviceInfo> devs = backend->enumerate(vendorId, productId);
    if (devs.isEmpty()) {
        qWarning() << "Usb Open Err";
        return isOpen() ? 0 : -1;
    }
    qDebug("devs=%x path=%s", devs.size(), qPrintable(devs.first().path));
    for (const HidDeviceInfo &dev : devs) {
        if (!usbInterfaceMatches(dev, iface))
            continue;
        HidHandle *handle = backend->open(dev.path);
        qDebug() << "_handle=" << static_cast<void *>(handle);
        qDebug() << "cur_dev->path" << dev.path << dev.interfaceNumber << iface;
        if (handle) {
            // A handle opened before is replaced, not leaked.
            if (HidHandle *old = m_handle.exchange(handle))
                backend->close(old);
        }
        break;
    }
    return isOpen() ? 0 : -1;
}

void Usb::setDfuPID(unsigned short vendorId, unsigned short productId, int iface)
{
    QMutexLocker lock(&m_identityLock);
    m_vendorId = vendorId;
    m_productId = productId;
    m_iface = iface;
}

void Usb::close()
{
    HidBackend *backend = HidBackend::instance();
    if (HidHandle *handle = m_handle.exchange(nullptr))
        backend->close(handle);
    backend->exit();
    QMutexLocker lock(&m_identityLock);
    m_vendorId = 0;
    m_productId = 0;
}

void Usb::quitReadWhile()
{
    {
        QMutexLocker lock(&m_readStateLock);
        m_running.store(false);
        m_readStateChanged.wakeAll();
    }
    wakeLoopRead();
}

void Usb::wakeLoopRead()
{
    // A handle replaced meanwhile is closed, which ends its read as well.
    if (HidHandle *handle = m_handle.load())
        HidBackend::instance()->wakeReads(handle);
}

QString Usb::getUsbPath() const
{
    QMutexLocker lock(&m_identityLock);
    return m_path;
}

HidHandle *Usb::OpenUSB(const QString &path)
{
    HidHandle *handle = HidBackend::instance()->open(path);
    if (handle) {
        if (HidHandle *old = m_handle.exchange(handle))
            HidBackend::instance()->close(old);
    }
    return handle;
}

void Usb::setReadEnabled(bool enabled)
{
    {
        QMutexLocker lock(&m_readStateLock);
        if (!enabled)
            m_readDisableEpoch.fetch_add(1); // a new pause, to be confirmed by the loop
        m_readEnabled.store(enabled);
        m_readStateChanged.wakeAll();
    }
    if (!enabled)
        wakeLoopRead();
}

bool Usb::waitReadPaused(int timeoutMs)
{
    const QDeadlineTimer deadline(std::max(0, timeoutMs));
    QMutexLocker lock(&m_readStateLock);
    for (;;) {
        if (m_readEnabled.load())
            return false; // enabled again meanwhile: nothing to wait for
        if (!m_loopActive.load() || m_readPausedEpoch.load() >= m_readDisableEpoch.load())
            return true;
        if (deadline.hasExpired())
            return false;
        m_readStateChanged.wait(&m_readStateLock, deadline);
    }
}

int Usb::ringSlotIndex(const uint8_t *slot) const
{
    const uint8_t *first = &m_ring[0][0];
    if (slot < first || slot >= first + sizeof m_ring)
        return -1;
    const auto offset = static_cast<size_t>(slot - first);
    if (offset % wk::kWireReportSize != 0)
        return -1;
    return static_cast<int>(offset / wk::kWireReportSize);
}

void Usb::releaseRecvSlot(const uint8_t *slot)
{
    const int i = ringSlotIndex(slot);
    if (i >= 0)
        m_slotBusy[i].store(false, std::memory_order_release);
}

bool Usb::takeRecvSlot(const uint8_t *slot, uint8_t *out)
{
    const int i = ringSlotIndex(slot);
    // The acquire pairs with the loop's release after it filled the slot.
    if (i < 0 || !out || !m_slotBusy[i].load(std::memory_order_acquire))
        return false;
    std::memcpy(out, m_ring[i], wk::kReportSize);
    m_slotBusy[i].store(false, std::memory_order_release);
    return true;
}

void Usb::openSlot(unsigned short vendorId, unsigned short productId, int iface, QString path)
{
    qDebug() << "str==" << QThread::currentThreadId() << path;
    {
        QMutexLocker lock(&m_identityLock);
        m_vendorId = vendorId;
        m_productId = productId;
        m_iface = iface;
        m_path = path;
    }
    delete m_openTimer;
    m_openTimer = new QTimer(this);
    connect(m_openTimer, &QTimer::timeout, this, &Usb::timeroutOpenSlot);
    m_openTimer->start(kOpenRetryMs);
    // The first attempt right away; on success this runs the receive loop.
    timeroutOpenSlot();
}

void Usb::timeroutOpenSlot()
{
    const QString path = getUsbPath();
    qDebug() << "_path=" << path;
    if (!OpenUSB(path)) {
        qDebug() << "usb opening ..........";
        return;
    }
    qInfo() << "usb opened , succeeded!! 监听停止";
    if (m_openTimer) {
        // This slot runs inside the timer's signal: let the event loop delete it.
        m_openTimer->stop();
        m_openTimer->deleteLater();
        m_openTimer = nullptr;
    }
    emit emitOpenSucceeded();
    readSlot();
}

void Usb::readSlot()
{
    qDebug() << "usb thread id: " << QThread::currentThreadId();
    // Each report is a short burst of work that a waiting command depends on.
    setThreadWakeSlice(kWakeSliceUs);
    HidBackend *backend = HidBackend::instance();
    const std::function<bool()> stopRequested = [this] { return readStopRequested(); };
    bool readError = false;
    m_loopActive.store(true);
    while (m_running.load()) {
        if (!m_readEnabled.load()) {
            flushDropCount();
            sleepWhileReadDisabled();
            continue;
        }
        // A report, a stop or a pause ends the read. It has no time limit
        // unless dropped reports wait for a quiet moment to be logged.
        HidHandle *handle = m_handle.load();
        const int limitMs = m_dropsPending ? kDropReportQuietMs : -1;
        const int n =
            handle ? backend->readUntil(handle, m_readBuf, sizeof m_readBuf, limitMs, stopRequested)
                   : -1;
        if (n < 0) {
            readError = true;
            break;
        }
        if (n > 0)
            dispatchReport(n);
        else
            flushDropCount(); // a quiet moment: tell about drops now
    }
    flushDropCount();
    {
        // No loop, no read: whoever waits for the pause may go on.
        QMutexLocker lock(&m_readStateLock);
        m_loopActive.store(false);
        m_readStateChanged.wakeAll();
    }
    if (readError) {
        m_readFailed.store(true);
        m_running.store(false);
        qWarning() << "ERROR: unable to read";
    }
    // Whoever still waits for an answer is released now: none can come.
    if (m_answerMutex && m_answerCondition) {
        QMutexLocker lock(m_answerMutex);
        m_answerCondition->wakeAll();
    }
    qDebug() << "usb readSlot thread ID: " << QThread::currentThreadId() << " 退出循环 quit while";
    emit emitUsbDisconnect();
}

void Usb::sleepWhileReadDisabled()
{
    QMutexLocker lock(&m_readStateLock);
    while (m_running.load() && !m_readEnabled.load()) {
        // Confirms the pause to waitReadPaused(): no read is in flight. Each
        // wake-up confirms again, so that a pause taken while the loop slept
        // (disabled, enabled and disabled again) is confirmed as well.
        m_readPausedEpoch.store(m_readDisableEpoch.load());
        m_readStateChanged.wakeAll();
        m_readStateChanged.wait(&m_readStateLock);
    }
}

void Usb::dispatchReport(int length)
{
    // A short read leaves no stale bytes of an earlier report behind.
    if (length < static_cast<int>(sizeof m_readBuf))
        std::memset(m_readBuf + length, 0, sizeof m_readBuf - static_cast<size_t>(length));

    // Notifications never answer a command; everything else answers the
    // command that waits, if any.
    const bool notification = m_readBuf[0] == wk::kNotification;
    if (!notification && m_answerMutex && m_waiting) {
        bool answered = false;
        {
            QMutexLocker lock(m_answerMutex);
            if (*m_waiting) {
                std::memcpy(m_answerBuf, m_readBuf, sizeof m_answerBuf);
                // The answer is taken: a further report cannot overwrite it
                // before the waiter has copied it out.
                *m_waiting = false;
                answered = true;
            }
        }
        if (answered) {
            // Woken with the mutex free, the waiter runs on at once instead
            // of waking only to wait for the mutex. It tells this wake-up
            // from a stray one by the flag cleared above.
            if (m_answerCondition)
                m_answerCondition->wakeAll();
            return;
        }
    }

    static const QMetaMethod recvSignal = QMetaMethod::fromSignal(&Usb::emitRecvCmd);
    if (!isSignalConnected(recvSignal))
        return; // nobody would ever give the slot back
    const int next = (m_ringIndex + 1) % kRingSlots;
    if (m_slotBusy[next].load(std::memory_order_acquire)) {
        ++m_dropsPending;
        m_droppedTotal.fetch_add(1);
        return;
    }
    m_ringIndex = next;
    std::memcpy(m_ring[next], m_readBuf, sizeof m_ring[next]);
    m_slotBusy[next].store(true, std::memory_order_release);
    emit emitRecvCmd(m_ring[next]);
}

void Usb::flushDropCount()
{
    if (m_dropsPending == 0)
        return;
    qWarning("notification ring full, %llu report(s) dropped",
             static_cast<unsigned long long>(m_dropsPending));
    m_dropsPending = 0;
}

#pragma once

#include "device/hidbackend.h"
#include "device/protocol.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <QWaitCondition>

#include <atomic>
#include <cstdint>

class QTimer;

// True when an enumerated interface is interface number `iface`: either its
// interface_number says so, or the last character of its path, read as a
// decimal digit, does (with the libusb back end the path ends in the
// interface number, and interface_number may be -1).
bool usbInterfaceMatches(const HidDeviceInfo &info, int iface);

// Asks the scheduler to run the calling thread promptly when it wakes, even
// while other programs keep every processor busy, by giving it a short time
// slice of `sliceUs` microseconds (0: the default slice again). Meant for
// threads that sleep most of the time and then run briefly: the receive loop
// and a command waiting for its answer. Linux 6.12 and later honour it for
// normal threads without privileges; elsewhere it does nothing. The policy
// and niceness stay as they are. True when it took effect.
bool setThreadWakeSlice(int sliceUs);

// The HID transport of one keyboard interface.
//
// Lives on its own thread: openSlot() tries to open at once and then once a
// second, then the same thread runs the receive loop (readSlot) until it is
// told to stop or the device fails. The loop sits in a read that a report
// ends at once, and so does a stop or a pause: the back end's read is woken
// (HidBackend::wakeReads), or, with a back end that cannot be woken, notices
// it within one read slice (HidBackend::kStopSliceMs). An idle keyboard thus
// costs no wake-ups where the back end can be woken. While reading is
// disabled the loop sleeps until reading is enabled again or it is stopped.
//
// A report that arrives while a command waits (the shared waiting flag is
// set) is copied into the answer buffer under the shared mutex and the waiter
// is woken; every other report (notifications, late answers) goes into a
// 32-slot ring and is announced with emitRecvCmd().
//
// Ring slots are lent, not overwritten: a slot handed out by emitRecvCmd stays
// busy until its receiver calls releaseRecvSlot(). When the next slot is still
// busy the report is dropped and counted, so a slow receiver can never read a
// slot that the loop is rewriting.
class Usb : public QObject
{
    Q_OBJECT

public:
    static constexpr int kRingSlots = 32;
    // Reports dropped on a full ring are logged once the keyboard has been
    // quiet this long (or when the loop pauses or ends).
    static constexpr int kDropReportQuietMs = 250;
    // The time slice asked for the threads of an exchange (setThreadWakeSlice).
    static constexpr int kWakeSliceUs = 100;
    static constexpr int kOpenRetryMs = 1000;

    // The three exchange objects are shared with the device model and not owned.
    Usb(QWaitCondition *answerCondition, QMutex *answerMutex, bool *waiting,
        QObject *parent = nullptr);
    ~Usb() override;

    // Writes one output report: report id 0 followed by `length` (at most 64)
    // bytes, zero-padded to 65. 0 on success, -1 on failure or without a handle.
    int write(const unsigned char *buffer, unsigned short length);
    // Blocking read for the firmware-update paths. 0 on success (min(length,
    // bytes read) bytes copied), the back end's negative result on failure.
    int read(unsigned char *buffer, unsigned short length);
    // Bounded read for the firmware-update paths: waits at most `timeoutMs`
    // for one report. The number of bytes read (min(length, report) copied),
    // 0 when none arrived in time, negative when the device failed or no
    // handle is open.
    int readTimeout(unsigned char *buffer, unsigned short length, int timeoutMs);
    // Opens the first enumerated interface of the pair set with setDfuPID that
    // matches its interface number. 0 when a handle is open afterwards, else -1.
    int open();
    void setDfuPID(unsigned short vendorId, unsigned short productId, int iface);
    // Closes the handle (if any) and releases the back end's global state.
    void close();
    // Asks the receive loop to end: the read in flight is woken (or returns
    // within HidBackend::kStopSliceMs where the back end cannot be woken).
    void quitReadWhile();
    // The answer buffer: where a waiting command finds its answer (64 bytes
    // of report; read it only while holding the answer mutex).
    uint8_t *getBuf() { return m_answerBuf; }
    QString getUsbPath() const;
    int scan() { return 0; }
    int scan(unsigned short, unsigned short) { return 0; }
    HidHandle *OpenUSB(const QString &path);

    // Reading of the receive loop; the dual-mode update reads the keyboard
    // itself while this is off. Thread-safe.
    void setReadEnabled(bool enabled);
    bool isReadEnabled() const { return m_readEnabled.load(); }
    // After setReadEnabled(false): waits at most `timeoutMs` until the receive
    // loop confirms that it has stopped reading (a read in flight has returned
    // and its report, if any, has been delivered; at once where the back end
    // wakes its reads, else within HidBackend::kStopSliceMs). True when it
    // did, or when no loop is running; false on time-out or when reading was
    // enabled again meanwhile.
    bool waitReadPaused(int timeoutMs);

    // Gives a ring slot handed out by emitRecvCmd back to the loop. Pointers
    // that are not ring slots are ignored. Thread-safe.
    void releaseRecvSlot(const uint8_t *slot);
    // Copies the 64 bytes of a ring slot handed out by emitRecvCmd to `out`
    // and gives the slot back. False (nothing copied) for a pointer that is
    // not a lent ring slot. Thread-safe.
    bool takeRecvSlot(const uint8_t *slot, uint8_t *out);
    // Reports dropped because the ring was full, since construction.
    quint64 droppedReports() const { return m_droppedTotal.load(); }

    // False once the receive loop has ended (read error or quitReadWhile) or
    // was told to end: no answer can arrive any more.
    bool isLinkUp() const { return m_running.load() && !m_readFailed.load(); }
    bool isOpen() const { return m_handle.load() != nullptr; }

public slots:
    void openSlot(unsigned short vendorId, unsigned short productId, int iface, QString path);
    void timeroutOpenSlot();
    void readSlot();

signals:
    // `pcmd` designates a ring slot holding a report that no command waited
    // for; the receiver copies it and calls releaseRecvSlot().
    void emitRecvCmd(uint8_t *pcmd);
    void emitOpenSucceeded();
    void emitUsbDisconnect();

private:
    int ringSlotIndex(const uint8_t *slot) const;
    void dispatchReport(int length);
    // The loop's wait while reading is disabled; confirms the pause first.
    void sleepWhileReadDisabled();
    // The loop's read should end: it is stopped or paused.
    bool readStopRequested() const { return !m_running.load() || !m_readEnabled.load(); }
    // Wakes the loop's read after a stop or a pause was asked for.
    void wakeLoopRead();
    void flushDropCount();

    QWaitCondition *m_answerCondition;
    QMutex *m_answerMutex;
    bool *m_waiting;

    std::atomic<HidHandle *> m_handle{nullptr};
    unsigned short m_vendorId = 0;
    unsigned short m_productId = 0;
    int m_iface = 0;
    QString m_path;
    mutable QMutex m_identityLock; // path and identifiers, set on the transport thread

    std::atomic<bool> m_running{true};
    std::atomic<bool> m_readEnabled{true};
    std::atomic<bool> m_readFailed{false};
    // Hand-over of reading: each disable takes a new number; the loop echoes
    // the number it saw once it has stopped reading.
    std::atomic<quint64> m_readDisableEpoch{0};
    std::atomic<quint64> m_readPausedEpoch{0};
    std::atomic<bool> m_loopActive{false};
    QTimer *m_openTimer = nullptr;

    // Written only by the receive loop.
    uint8_t m_readBuf[wk::kWireReportSize] = {};
    // Written by the loop under the answer mutex while a command waits.
    uint8_t m_answerBuf[wk::kWireReportSize] = {};

    uint8_t m_ring[kRingSlots][wk::kWireReportSize] = {};
    std::atomic<bool> m_slotBusy[kRingSlots];
    int m_ringIndex = -1;
    quint64 m_dropsPending = 0; // loop-local: drops not yet logged
    std::atomic<quint64> m_droppedTotal{0};

    // Guards the hand-over of reading: the loop sleeps on the condition while
    // reading is disabled, and waitReadPaused() waits on it for the loop's
    // confirmation. Every change of the read flag, of the stop flag or of the
    // confirmation wakes it.
    QMutex m_readStateLock;
    QWaitCondition m_readStateChanged;

    QMutex m_writeLock; // one hid write at a time
};

#pragma once

#include <QDeadlineTimer>
#include <QMutex>
#include <QRecursiveMutex>
#include <QThread>
#include <QWaitCondition>

#include <atomic>
#include <cstdint>

class Usb;

// Writes one firmware image of a dual-mode keyboard's Bluetooth module (its
// application or its soft device) through the normal interface, while the
// transport's own receive loop is paused: an erase, then acknowledged chunks
// of 48 image bytes, one in flight at a time.
//
// startImage() takes reading over from the transport (it clears the
// read-enabled flag and waits, bounded, until the receive loop confirms that
// it stopped reading, so no answer can be read by the wrong reader), starts
// the thread if needed and sends the erase. Everything after that happens on
// the worker's own thread inside run().
//
// Each image ends with exactly one of emitUpdateDfuFinished() (every chunk
// acknowledged), UpdateError(type, code) (the module refused, or sent a frame
// that is no answer: (-1, -1)) or emitStopDfu() (the module stayed silent past
// its deadline, a frame could not be written, or the keyboard left; after a
// read error the thread ends). Nothing is emitted for an image after its end:
// late or repeated answers and 0xF0 notifications are ignored, and the worker
// reads only while an image is in progress. All signals are emitted on the
// worker's thread, so receivers elsewhere get them queued.
class updateDFUBtThread : public QThread
{
    Q_OBJECT

public:
    static constexpr int kChunk = 48;             // image bytes per chunk
    static constexpr uint32_t kSdOffset = 0x1000; // soft-device files are written from here

    explicit updateDFUBtThread(QObject *parent = nullptr);
    ~updateDFUBtThread() override;

    // Starts writing `size` bytes of `image` (not owned; it must stay valid
    // until the image ended) over `usb`. False, with nothing sent and nothing
    // emitted, when an image is still in progress, for a null transport or
    // image, an empty application image, a soft-device file shorter than
    // 4096 bytes, or when the receive loop did not hand reading over in time
    // (reading is then enabled again).
    bool startImage(Usb *usb, const uint8_t *image, uint32_t size, bool softDevice);
    // Ends run() within one read slice (for shutdown); wait() afterwards.
    void stop();
    // Whether an image is in progress (erase or chunks awaiting answers).
    bool isBusy() const;

    int sendCmd(unsigned char cmd, unsigned char sub, unsigned short length,
                unsigned short argument, unsigned char *data);
    uint32_t bt_erase_app_com();
    uint32_t bt_erase_sd_com();
    // Sends the return to the application as part of an image in progress;
    // its answer only ends the reading. The update flow uses
    // Device::_bt_boot_app() instead, with the transport reading again.
    uint32_t bt_boot_app();
    uint32_t DfuReceiveCmd(uint8_t *buf, int length);
    void ErrorMessage(uint8_t *buf, int length);
    static uint8_t GetCRC(unsigned char *buf, unsigned short length);

    // Session state, for the update flow and tests. Thread-safe.
    uint32_t sentBytes() const;
    uint32_t packetNumber() const;

public slots:
    void bt_app_bin_data();
    void bt_sd_bin_data();

signals:
    void app_bin();
    void sd_bin();
    void UpdateError(int ErrorType, int ErrorCode);
    void emitStopDfu();
    void emitUpdateDfuFinished();
    void BtFirmwareUpdateProgress(int percent);
    // Image bytes acknowledged so far (for a soft device: counting the
    // 4096 bytes that are never sent).
    void SendByteUpdateProgress(int bytes);

protected:
    void run() override;

private:
    enum class State
    {
        Idle,    // nothing in progress; the worker does not read
        Waiting, // a frame waits for its answer until m_deadline
        Failed,  // a frame could not be sent; run() reports it
    };
    uint32_t sendErase(uint8_t op, const char *name);
    void sendChunk(uint8_t op);
    // Sends one record as a 0xB0/0xDF frame and arms the deadline. Lock held.
    bool sendRecord(const uint8_t *record, uint16_t length, uint8_t awaitedOp, int deadlineMs);
    void finish(); // lock held

    mutable QRecursiveMutex m_lock;
    const uint8_t *m_image = nullptr;
    uint32_t m_imageSize = 0;
    uint32_t m_sent = 0;
    bool m_running = false;
    bool m_loopAlive = false; // run() is looping (false before start and once it returned)
    uint32_t m_packNo = 1;
    Usb *m_usb = nullptr;
    State m_state = State::Idle;
    uint8_t m_awaitedOp = 0;
    QDeadlineTimer m_deadline;
    uint8_t m_record[56] = {};

    std::atomic<bool> m_stop{false};
    QMutex m_idleLock;
    QWaitCondition m_idleCondition;
};

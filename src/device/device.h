#pragma once

#include "device/hidreport.h"
#include "device/protocol.h"
#include "device/wirerecords.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QRecursiveMutex>
#include <QString>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

class QMutex;
class QWaitCondition;
class Usb;

// The device model of one connected keyboard and every command that fills it
// from the keyboard or writes changes back.
//
// Each command is one exchange: lock the shared answer mutex, set the shared
// waiting flag, write the 64-byte request, wait (bounded) until the transport
// hands over the answer, copy it out, clear the flag, unlock. Whole exchanges
// are serialised by a second lock held from the first step to the last, so
// that the loading sequence (device thread) and the pages (main thread) never
// interleave; multi-exchange transfers (map reads, macro transfers) hold it
// for the whole transfer.
//
// A wait ends in one of three ways: the answer arrived (it is taken), the
// time limit passed (WK_ERROR_TIMEOUT, the model keeps its previous values),
// or the link went down: the transport's loop ended, or abortExchanges() was
// called, or the calling thread was asked to stop (QThread::requestInterruption).
// A released wait is never taken as an answer; it returns WK_ERROR_TIMEOUT
// without reading the answer buffer.
//
// Model fields are written by the command that performs the exchange and read
// by the pages once loading has finished.
class Device : public QObject
{
    Q_OBJECT

public:
    // The transport and the three exchange objects are shared, not owned.
    Device(Usb *usb, QWaitCondition *answerCondition, QMutex *answerMutex, bool *waiting,
           QObject *parent = nullptr);
    ~Device() override;

    void setUsb(Usb *usb);
    Usb *usb() const { return m_usb; }

    // Builds a 64-byte request (checksum bytes 6-7 always 0) and writes it.
    // WK_SUCCESS, WK_ERROR_WRITE, or WK_ERROR_OUT_OF_RANGE for a length above 56.
    uint32_t sendCmd(unsigned char cmd, unsigned char sub, unsigned short length,
                     unsigned short argument, const unsigned char *payload);
    // Releases a command that waits now and makes every later one fail at
    // once. For shutdown: call before quitting and joining the device thread.
    void abortExchanges();

    // --- Device information (0x10) ---------------------------------------
    uint32_t getDeviceInfo();
    uint32_t getDeviceVersion();
    uint32_t getScanSpeed();
    uint32_t setScanSpeed(unsigned short speedMs);
    uint32_t getUserInfo();
    uint32_t setUserInfo(const QString &text);
    uint32_t getDeviceId();
    uint32_t getNKey();
    uint32_t setNKey(unsigned char mode);
    // Restores the keyboard's factory settings (0x10/0x60, no payload).
    // Returns the keyboard's status, or WK_ERROR_TIMEOUT / WK_ERROR_WRITE /
    // WK_ERROR_VERIFY (answer of another command). The model is stale
    // afterwards: reload it.
    uint32_t setFactoryReset();
    // Firmware update (0x10/0x00 and the 0xB0/0xDF pass-through) lives with
    // the update protocol, not here.

    // --- Key codes (0x20) --------------------------------------------------
    uint32_t getKCInfo();
    uint32_t getCurKCMID();
    uint32_t setCurKCMID(unsigned char kcm);
    // Reads keys first..last (at most 13) of the current map into `dest`.
    uint32_t getKC(unsigned char first, unsigned char last, unsigned char *dest);
    // Writes keys first..last (at most 13, within the map) of the current map.
    uint32_t setKC(unsigned char first, unsigned char last, const unsigned char *entries);
    uint32_t getCurKCM();

    // --- Key colours (0x30) ------------------------------------------------
    uint32_t getKRInfo();
    uint32_t getCurKRMID();
    uint32_t setCurKRMID(unsigned char krm);
    uint32_t getKR(unsigned char first, unsigned char last, unsigned char *dest);
    // Writes keys first..last (at most 13). Only a failed write or a missing
    // answer fails: the answer's bytes 8-11 are not a status on every keyboard.
    uint32_t setKR(unsigned char first, unsigned char last, const unsigned char *entries);
    uint32_t getCurKRM();
    // Colour of key `index` in the current colour map as 0xffRRGGBB (a QRgb;
    // QColor is not available to this library); 0 when out of range.
    uint32_t getKRRgb(int index) const;
    // Writes one key's colour, given as 0xAARRGGBB (alpha ignored).
    uint32_t setKRRgb(unsigned char index, uint32_t rgb);

    // --- Key functions (0x40) ---------------------------------------------
    uint32_t getKFInfo();
    uint32_t getKFItem(unsigned char index, kf_t *entry);
    uint32_t setKFItem(kf_t *entry);
    uint32_t getAllKF();

    // --- Macros (0x50) ------------------------------------------------------
    uint32_t getKMInfo();
    uint32_t getAllMacroHead();
    uint32_t getMacroHead(unsigned char slot, km_t *head);
    uint32_t setMacroHead(km_t *head);
    uint32_t selectMacro(unsigned char slot);
    uint32_t setRecordMacro(unsigned char on);
    uint32_t setPlayMacro(unsigned char on);
    // Reads the frames of `slot` into the frame buffer (macroFrames()).
    uint32_t readMacro(unsigned char slot);
    // Writes `count` frames (at most 512) to `slot`; the transfer's real status.
    uint32_t writeMacro(unsigned char slot, int count, const mframe_t *frames);
    uint32_t deletMacro(unsigned char slot);
    // `name`: 16 bytes, NUL-padded by the caller (see macroName()).
    uint32_t setMacroName(unsigned char slot, const char *name);
    // 16 NUL-padded bytes for setMacroName from local 8-bit text (cut at 16).
    static QByteArray macroName(const QString &text);

    // --- Lighting (0x60) ----------------------------------------------------
    uint32_t getLMInfo();
    uint32_t getCurLMMID();
    uint32_t setCurLMMID(unsigned char lmm);
    uint32_t getLM(unsigned char first, unsigned char last, unsigned char *dest);
    // Writes entries first..last (at most 52); its answer is taken like setKR's.
    uint32_t setLM(unsigned char first, unsigned char last, const unsigned char *entries);
    uint32_t getCurLMM();
    uint32_t getLAInfo();
    uint32_t getLAItem(unsigned char index, la_t *record);
    uint32_t setLAItem(la_t *record);
    uint32_t getAllLA();

    // --- Bluetooth and power (0xB0) ---------------------------------------
    uint32_t getBtName();
    uint32_t setBtName(const QString &name);
    uint32_t getSleepTime();
    uint32_t setSleepTime(unsigned int ms);

    // --- Whole-keyboard transfers (device_profile.cpp) -----------------------
    //
    // The range commands name the map they address, so any map can be read or
    // written without making it the active one (and without telling the
    // keyboard's user by a changed layer). These do exactly that; the model's
    // array follows when the map is the active one. Ranges as getKC / setKC
    // (13 keys), getLM / setLM (48 / 52 entries). A get whose answer names
    // another map or range fails with WK_ERROR_VERIFY and leaves `dest` as it was.
    uint32_t getKCOfMap(unsigned char map, unsigned char first, unsigned char last,
                        unsigned char *dest);
    uint32_t setKCOfMap(unsigned char map, unsigned char first, unsigned char last,
                        const unsigned char *entries);
    uint32_t getKROfMap(unsigned char map, unsigned char first, unsigned char last,
                        unsigned char *dest);
    uint32_t setKROfMap(unsigned char map, unsigned char first, unsigned char last,
                        const unsigned char *entries);
    uint32_t getLMOfMap(unsigned char map, unsigned char first, unsigned char last,
                        unsigned char *dest);
    uint32_t setLMOfMap(unsigned char map, unsigned char first, unsigned char last,
                        const unsigned char *entries);
    // Settings written as the records they are, without emitState (nothing
    // is shown to the user). `record`: 12 and 48 bytes, cut or zero-filled.
    uint32_t setBtNameRecord(const QByteArray &record);
    uint32_t setUserInfoRecord(const QByteArray &record);
    uint32_t setSleepTimeQuiet(uint32_t ms);
    // getBtName with a time limit of `timeoutMs`: a board without Bluetooth
    // never answers, and asking it should not cost the full 2000 ms.
    uint32_t getBtNameWithin(int timeoutMs);
    // Runs `steps` (several commands that belong together, such as "write
    // these chunks of a map and read them back") with every other command
    // held off until it returns; its status is returned.
    uint32_t holdExchanges(const std::function<uint32_t()> &steps);

    // --- USB boot loader (firmware update, device_dfu.cpp) --------------------
    //
    // A Device bound to a transport that is opened on the loader (0416:a316)
    // streams one application image to it: a synchronisation packet, a
    // CMD_UPDATE_APROM packet (erases, carries the length and the first 48
    // bytes), CMD_WRITE_FLASH packets of 56 bytes, and the run command. Each
    // packet waits for the loader's answer (checksum of the 64 bytes sent,
    // packet number + 1) before the next one leaves.
    //
    // The answer loop (readDFUUsbSlot) runs on the loader-mode device's own
    // thread and ends every session with exactly one of emitUpdateDfuFinished()
    // or emitStopDfu(), both emitted from that thread. Each awaited answer has
    // a deadline (dfuTimeouts()); a loader that stays silent, answers wrongly,
    // refuses a write or leaves the bus ends the session with emitStopDfu().
    // After the run command the loader is expected to leave; that is not a
    // failure, and nothing else is emitted for the session. The loop also ends
    // quietly when stopDfuRead(), abortExchanges() or the thread's
    // requestInterruption() asks it to (within one read slice), so the thread
    // can be joined and the transport closed afterwards.
    static constexpr uint32_t CMD_SYNC_PACKNO = 0xA4;
    static constexpr uint32_t CMD_UPDATE_APROM = 0xA0;
    static constexpr uint32_t CMD_WRITE_FLASH = 0x00;
    static constexpr uint32_t CMD_RUN_APROM = 0xAB;
    static constexpr int kDfuFirstChunk = 48; // image bytes in the CMD_UPDATE_APROM packet
    static constexpr int kDfuChunk = 56;      // image bytes in a CMD_WRITE_FLASH packet

    // How long the loader may take to answer, in milliseconds.
    struct DfuTimeouts
    {
        int answerMs = 2000;  // synchronisation and CMD_WRITE_FLASH packets
        int eraseMs = 15000;  // CMD_UPDATE_APROM: the loader erases the application area
        int leaveMs = 5000;   // after the run command, for the loader to leave the bus
        int readSliceMs = 20; // longest single read, i.e. how soon a stop request is seen
    };
    // Process-wide; tests shorten them. Values below 1 ms are raised to 1.
    static void setDfuTimeouts(const DfuTimeouts &timeouts);
    static DfuTimeouts dfuTimeouts();

    // Binds to `usb` and opens it by enumeration (Usb::open, identifiers set
    // with Usb::setDfuPID). False for a null transport or a failed open.
    bool openDFU(Usb *usb);
    // Tells the running keyboard firmware to restart into its loader
    // (0x10/0x00, no answer awaited).
    void enterUsbMcuDfu();
    // Starts a session for `length` bytes of `image` (copied) and sends the
    // synchronisation packet. 0; WK_ERROR_OUT_OF_RANGE (nothing sent, the
    // session fails) for a negative length or a missing image.
    uint32_t dfuStartUpdateFW(uint8_t *image, int length);
    uint32_t dfuSendSyncPackno();
    uint32_t dfuSendUpdateAPROM();
    uint32_t dfuSendFWData();
    uint32_t dfuRunAPROM();
    // Writes 64 bytes of `buf` (at most `length`, zero-padded). 0 or WK_ERROR_WRITE.
    uint32_t dfuUSBWrite(uint8_t *buf, int length);
    // Checks one answer and, when it is the awaited one, sends the next packet. Always 0.
    uint32_t onDfuReceiveCmd(uint8_t *buf, int length);
    // Byte sum of `length` bytes, kept in 16 bits.
    static uint16_t dfuGetCRC(const uint8_t *buf, uint16_t length);
    // Ends the answer loop after its current read. Thread-safe.
    void stopDfuRead();

    // Session state, for the update flow and tests. Thread-safe.
    uint32_t dfuFileSize() const;
    uint32_t dfuSendByte() const;
    uint32_t dfuPacketNumber() const;
    bool dfuFinished() const; // the whole image was acknowledged and the run command sent
    bool dfuFailed() const;   // the session ended with emitStopDfu()

    // --- Bluetooth module (dual-mode firmware update, device_bt.cpp) ----------
    //
    // The module of a dual-mode keyboard is updated through the normal
    // interface with the 0xB0/0xDF pass-through. The two mode switches are
    // ordinary exchanges on this device model; erase and chunks are sent by
    // updateDFUBtThread while it reads the answers itself.
    static constexpr uint8_t BT_OP_APP_TO_BOOT = 0x08;
    static constexpr uint8_t BT_OP_ERASE_APP = 0x81;
    static constexpr uint8_t BT_OP_ERASE_SD = 0x82;
    static constexpr uint8_t CMD_UPDATE_BT_APP = 0x83;
    static constexpr uint8_t CMD_UPDATE_BT_SD = 0x84;
    static constexpr uint8_t BT_OP_BOOT_TO_APP = 0x85;
    // Error pairs reported by UpdateError besides the module's own.
    static constexpr int kBtErrorTypeLink = -1;
    static constexpr int kBtErrorBadFrame = -1; // an answer that is no 0xB0 frame
    static constexpr int kBtErrorTimeout = -2;  // a mode switch got no answer in time

    // How long the module may take, in milliseconds.
    struct BtTimeouts
    {
        int switchMs = 500;    // a mode switch (application <-> boot loader)
        int eraseMs = 10000;   // an erase of the application or soft-device area
        int answerMs = 2000;   // a chunk
        int handOverMs = 1000; // the normal receive loop stopping its reads
        int readSliceMs = 20;  // longest single read of the update worker
    };
    // Process-wide; tests shorten them. Values below 1 ms are raised to 1.
    static void setBtTimeouts(const BtTimeouts &timeouts);
    static BtTimeouts btTimeouts();

    // Module application -> boot loader. 0; WK_ERROR_WRITE when the module
    // refused (UpdateError(op, code)); WK_ERROR_TIMEOUT without an answer
    // (UpdateError(-1, -2)). UpdateError is emitted from the event loop,
    // never from inside this call.
    uint32_t enterBtMcuDfu();
    uint32_t _bt_app_boot();
    // Module boot loader -> application; results as _bt_app_boot.
    uint32_t _bt_boot_app();

    // --- Model --------------------------------------------------------------
    QByteArray btNameRecord() const { return bytes(m_btName); } // 12 bytes
    uint32_t sleepTimeMs() const { return m_sleepTime; }
    uint32_t lastSleepTimeMs() const { return m_lastSleepTime; }
    uint32_t infoWord(int i) const { return (i == 0 || i == 1) ? m_infoWords[i] : 0; }
    uint16_t fwVersion() const { return m_fw_version; }
    uint16_t hwVersion() const { return m_hw_version; }
    uint16_t scanSpeed() const { return m_scanSpeed; }
    QByteArray infoText() const { return bytes(m_infoText); }            // 16 bytes
    QByteArray productNameBlock() const { return bytes(m_productName); } // 16 bytes
    QByteArray releaseDate() const { return bytes(m_releaseDate); }      // 16 characters
    QByteArray userInfo() const { return bytes(m_userInfo); }            // 48 bytes
    QByteArray deviceIdBytes() const { return bytes(m_deviceId); }       // 12 bytes
    uint8_t nKeyMode() const { return m_nkey; }

    int8_t kcmCount() const { return m_nkcm; } // -1 until known
    int8_t curKCM() const { return m_curkcm; }
    uint8_t kcCount() const { return m_nkc; }
    const kc_t *keyCodes() const { return m_pKCs.get(); } // kcCount() entries
    kc_t keyCode(int index) const;

    // Whether the active map is one that may be written (and read): one the
    // keyboard has, or its only map when it has no switchable ones.
    bool krmWritable() const;
    bool lmmWritable() const;
    int8_t krmCount() const { return m_nkrm; }
    int8_t curKRM() const { return m_curkrm; }
    uint8_t krCount() const { return m_nkr; }
    const uint8_t *keyColours() const { return m_pKRs.get(); } // krCount() x 4 bytes (b, g, r, 0)

    int kfCount() const { return m_nKFTotalNum; }
    uint8_t kfSecondCount() const { return m_nKFSecond; }
    kf_t *kfRecords() { return m_pKFs.get(); } // kfCount() entries, editable before setKFItem
    kf_t *kfRecord(int index);

    uint8_t kmCount() const { return m_nKMTotalNum; }
    km_t *macroHead(int slot); // editable before setMacroHead; null when out of range
    uint8_t curKM() const { return m_curkm; }
    const mframe_t *macroFrames() const { return m_mframes.data(); } // kMacroFrameCapacity
    // Frames of the last macro read or written that the buffer holds (at most 512).
    int macroFramesHeld() const { return m_framesHeld; }

    int8_t lmmCount() const { return m_nlmm; }
    int8_t curLMM() const { return m_curlmm; }
    uint8_t lmCount() const { return m_nlm; }
    const uint8_t *modes() const { return m_pLMs.get(); } // lmCount() bytes
    uint8_t laCount() const { return m_nLATotalNum; }
    la_t *laRecord(int index); // editable before setLAItem; null when out of range

public slots:
    // Loads the whole configuration in its fixed order (device thread).
    uint32_t loadDevInfoSlot();
    // A report that no command waited for; `buf` is a transport ring slot.
    void recvCmdSlot(uint8_t *buf);
    // The loader's answer loop (loader-mode device, on its own thread).
    void readDFUUsbSlot();

signals:
    void emitFinishLoad();
    void emitLoadDevInfoError();
    void emitNotify(HidReport report);
    void emitState(int type, int state);
    // Image bytes sent so far, after each CMD_WRITE_FLASH packet.
    void SendByteUpdateProgress(int bytes);
    // The whole image was acknowledged and the run command sent.
    void emitUpdateDfuFinished();
    // The session failed: the loader vanished, stayed silent or refused.
    void emitStopDfu();
    // A Bluetooth module mode switch failed: (op code, module error code), or
    // (-1, -2) when it did not answer. Always delivered queued.
    void UpdateError(int ErrorType, int ErrorCode);

private:
    template <size_t N> static QByteArray bytes(const std::array<uint8_t, N> &a)
    {
        return QByteArray(reinterpret_cast<const char *>(a.data()), static_cast<int>(N));
    }

    // One exchange. On WK_SUCCESS the 64 answer bytes are in `answer`.
    // `waitOnSendFailure`: a failed write is not reported but waited out.
    uint32_t exchange(uint8_t cmd, uint8_t sub, const void *payload, uint16_t length,
                      uint16_t argument, int timeoutMs, uint8_t *answer,
                      bool waitOnSendFailure = false);
    // A "set" exchange with a long wait whose status is answer bytes 8-11.
    uint32_t setExchange(uint8_t cmd, uint8_t sub, const void *payload, uint16_t length,
                         uint8_t *answer);
    bool linkDown() const;
    bool abortRequested() const;
    // Sleeps `ms`, cut short when the exchanges are aborted. False when aborted.
    bool pauseMs(int ms);
    // A range read of map `map` whose answer must name that map and range.
    uint32_t getRangeOfMap(uint8_t cmd, uint8_t sub, unsigned char map, unsigned char first,
                           unsigned char last, int entrySize, unsigned char *dest);
    uint32_t setRangeOfMap(uint8_t cmd, uint8_t sub, unsigned char map, unsigned char first,
                           unsigned char last, int entrySize, const unsigned char *entries,
                           uint8_t *answer);
    uint32_t readKeyMap(int count, unsigned char *dest, bool colours);
    uint32_t _readMacro();
    uint32_t _writeMacro();
    void storeFrames(uint16_t start, uint16_t count, const uint8_t *answer);
    uint32_t loadSteps();
    // One module mode switch (op 0x08 or 0x85).
    uint32_t btModeSwitch(uint8_t op, const char *name, const char *answerLog);
    void postUpdateError(int type, int code);

    // Boot-loader session; guarded by m_dfuLock (recursive: the senders call each other).
    enum class DfuState
    {
        Idle,     // no session yet
        Waiting,  // a packet waits for its answer until m_dfuDeadline
        Running,  // the run command was sent; the loader should leave by m_dfuDeadline
        Finished, // done; nothing more is expected
        Failed,   // the session failed; the loop reports it
    };
    // Fills the common header, records command and checksum, writes. Lock held.
    uint32_t dfuSendPacket(uint8_t *packet, uint32_t command);
    void dfuArm(uint32_t command);
    mutable QRecursiveMutex m_dfuLock;
    QByteArray m_dfuImage;
    uint32_t m_dfuFileSize = 0;
    uint32_t m_dfuSendByte = 0;
    uint32_t m_dfuStartAddress = 0;
    uint32_t m_dfuPackNo = 1;
    uint32_t m_dfuLastCmd = 0xFFFFFFFF;
    uint16_t m_dfuCheckSum = 0;
    DfuState m_dfuState = DfuState::Idle;
    QDeadlineTimer m_dfuDeadline;
    uint8_t m_dfuPacket[wk::kReportSize] = {};
    std::atomic<bool> m_dfuStop{false};

    // Model, in the keyboard's own terms.
    std::array<uint8_t, 12> m_btName{};
    uint32_t m_sleepTime = 0;
    uint32_t m_lastSleepTime = 0;
    Usb *m_usb;
    uint32_t m_infoWords[2] = {0, 0};
    uint16_t m_fw_version = 0;
    uint16_t m_hw_version = 0;
    uint16_t m_scanSpeed = 0;
    std::array<uint8_t, 16> m_infoText{};
    std::array<uint8_t, 16> m_productName{};
    std::array<uint8_t, 16> m_releaseDate{};
    std::array<uint8_t, 48> m_userInfo{};
    std::array<uint8_t, 12> m_deviceId{};
    uint8_t m_nkey = 0;

    int8_t m_nkcm = -1;
    int8_t m_curkcm = -1;
    uint8_t m_nkc = 0;
    std::unique_ptr<kc_t[]> m_pKCs;

    int8_t m_nkrm = -1;
    int8_t m_curkrm = -1;
    uint8_t m_nkr = 0;
    std::unique_ptr<uint8_t[]> m_pKRs;

    int m_nKFTotalNum = 0;
    uint8_t m_nKFSecond = 0;
    std::unique_ptr<kf_t[]> m_pKFs;

    uint8_t m_nKMTotalNum = 0;
    std::unique_ptr<km_t[]> m_pKMs;
    uint8_t m_curkm = 0;
    std::array<mframe_t, wk::kMacroFrameCapacity> m_mframes{};
    int m_framesHeld = 0;

    int8_t m_nlmm = -1;
    int8_t m_curlmm = -1;
    uint8_t m_nlm = 0;
    std::unique_ptr<uint8_t[]> m_pLMs;
    std::unique_ptr<la_t[]> m_pLAs;
    uint8_t m_nLATotalNum = 0;

    // Exchange objects shared with the transport.
    QWaitCondition *m_answerCondition;
    QMutex *m_answerMutex;
    bool *m_waiting;
    QRecursiveMutex m_exchangeLock; // whole exchanges and transfers
    std::atomic<bool> m_aborted{false};
};

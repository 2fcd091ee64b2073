#pragma once

// The simulated HID bus and its keyboards.
//
// SimBus implements HidBackend, so Usb and the presence checks run on it
// unchanged. Each SimKeyboard is one keyboard interface on the bus that
// answers the vendor command set from its own state, exactly at the wire:
// 65-byte output reports in (report id 0 + 64 bytes), 64-byte input reports out.
//
// Timing: a report written by the host reaches the keyboard 1 ms later and
// the keyboard's answer becomes readable 1 ms after that (a full-speed
// interrupt endpoint). The latency can be changed for tests that do not care.
//
// Thread safety: every public method may be called from any thread.

#include "device/hidbackend.h"

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

namespace sim {

enum class Personality
{
    DualMode,   // USB + Bluetooth: several key/colour/mode maps, 32 lighting records,
                // 32 key functions, 16 macro slots, Bluetooth name and sleep time
    UsbOnly,    // no answer at all to group 0xB0; colour and mode writes are
                // answered with the request echoed back, not with a status
    NoLighting, // answers the colour and lighting info queries with another byte 0
    BootLoader, // the USB boot loader (vendor 0x0416, product 0xA316)
};

enum class FaultKind
{
    None,
    NoAnswer,     // the request is received but never answered
    LateAnswer,   // the answer arrives after `delayMs`
    WrongEcho,    // the answer's command/sub-command echo (byte 0/1) is altered
    ErrorStatus,  // a "set" answer carries `status` at bytes 8-11 instead of 0
    WriteFailure, // hid_write returns -1 for the request
    Disconnect,   // the keyboard vanishes: reads return -1, it leaves the bus
};

// How faults are matched: a fault applies to a received frame whose index in
// receivedFrames() (counting since plug-in or the last clearReceivedFrames()) is
// at least `atFrame` (any frame when -1) and whose command and sub-command pass
// the filters; it then applies to `count` such frames. A frame hit by
// WriteFailure never reaches the keyboard and takes no index. Faults hitting
// the same frame combine. NoAnswer: the request is carried out, only the answer
// is lost. ErrorStatus: the request is refused (the keyboard's state does not
// change) and its answer carries `status` at bytes 8-11. Disconnect: the frame
// is recorded, not answered, and the keyboard leaves the bus; the SimKeyboard
// object stays valid (no longer listed) until unplug() or the bus's end.
struct Fault
{
    FaultKind kind = FaultKind::None;
    int atFrame = -1;    // 0-based index of the received frame it applies to; -1 = the next one
    int count = 1;       // how many consecutive frames it applies to (-1 = all following)
    int delayMs = 0;     // LateAnswer
    uint32_t status = 0; // ErrorStatus
    int command = -1;    // if >= 0 only frames with this command byte count
    int subCommand = -1; // if >= 0 only frames with this sub-command byte count
};

// Faults of the USB boot loader (Personality::BootLoader), matched like Fault:
// a fault applies to a received packet whose index in receivedFrames() is at
// least `atPacket` (any packet when -1) and whose command code (byte 0) is
// `command` (any when -1), then to `count` such packets (-1 = all following).
// Generic Faults (NoAnswer, LateAnswer, WriteFailure, Disconnect, ...) apply
// to loader packets as well; these are the loader's own.
enum class LoaderFaultKind
{
    WrongChecksum,    // the answer's checksum is off by one
    SamePacketNumber, // the answer repeats the packet's own number instead of number + 1
    StaleAnswer,      // the answer to the previous packet is sent again instead
    ErrorCode,        // the operation is refused: not carried out, answered with checksum
                      // 0 and `errorCode` at bytes 8-11
    Silence,          // the packet is neither carried out nor answered
    Unplug,           // the loader leaves the bus on receiving the packet
    StayInLoader,     // the run command (0xAB) is answered but the loader stays
};

struct LoaderFault
{
    LoaderFaultKind kind = LoaderFaultKind::Silence;
    int atPacket = -1;
    int count = 1;
    int command = -1;
    uint32_t errorCode = 1; // ErrorCode
    // WrongChecksum, SamePacketNumber, StaleAnswer: the right answer follows
    // the faulty one (an answer the host has to ignore).
    bool thenAnswer = false;
};

// Faults of the Bluetooth module of a dual-mode keyboard (the 0xB0/0xDF
// update pass-through). A fault applies to a module frame whose operation code
// (record byte 0) is `op` (any when -1) and, for chunks (0x83, 0x84), whose
// packet number is at least `atChunk` (any when -1; other operations match
// only when it is -1); then to `count` such frames (-1 = all following).
enum class BtFaultKind
{
    ErrorCode,    // refused: not carried out, answered with byte 9 = 0 and `errorCode`
                  // at byte 12
    Silence,      // neither carried out nor answered
    Unplug,       // the keyboard leaves the bus on receiving the frame
    Notification, // carried out; a 0xF0 notification arrives just before the answer
    StaleAnswer,  // carried out; the answer to the previous module frame arrives
                  // again right after this frame's answer
};

struct BtFault
{
    BtFaultKind kind = BtFaultKind::ErrorCode;
    int op = -1;
    int atChunk = -1;
    int count = 1;
    uint8_t errorCode = 1; // ErrorCode
};

// Error codes of the simulated module (answer byte 12).
constexpr uint8_t kBtModuleUnknownOp = 1;
constexpr uint8_t kBtModuleBadChecksum = 2;
constexpr uint8_t kBtModuleBadState = 3;  // not in the boot loader, or the area is not erased
constexpr uint8_t kBtModuleBadPacket = 4; // chunk out of order or malformed

// Sample firmware images carry a version marker the simulated loader reads
// when it runs an image: at byte offset kFirmwareMarkerOffset (0x100) the 10
// ASCII bytes "LUMORYFW01", the firmware version as a 16-bit little-endian
// value (the keyboard's m_fw_version, e.g. 106 for v1.06) and one byte for the
// image kind (1 Bluetooth application, 2 soft device, 3 USB application). The
// packages in data/firmware are made the same way. An image without the
// marker runs with the keyboard's version unchanged.
constexpr int kFirmwareMarkerOffset = 0x100;
constexpr int kFirmwareMarkerSize = 10 + 2 + 1;
constexpr const char *kFirmwareMarkerTag = "LUMORYFW01";
// An image of `size` bytes of deterministic filler (varied by `seed`) with the
// marker for `version` (a USB application) when it fits
// (size >= kFirmwareMarkerOffset + kFirmwareMarkerSize).
QByteArray makeFirmwareImage(uint16_t version, int size, uint32_t seed = 0);
// The same with the given image kind in the marker (1 Bluetooth application,
// 2 soft device, 3 USB application).
QByteArray makeFirmwareImage(uint16_t version, int size, uint32_t seed, uint8_t kind);
// The version carried by an image's marker, or -1 when it has none.
int firmwareImageVersion(const QByteArray &image);

class SimKeyboard
{
public:
    virtual ~SimKeyboard() = default;

    // Identity on the bus.
    virtual QString path() const = 0; // ends in the interface number character
    virtual uint16_t vendorId() const = 0;
    virtual uint16_t productId() const = 0;
    virtual int interfaceNumber() const = 0;
    virtual Personality personality() const = 0;

    // Every 64-byte request frame the keyboard received, in order (without the report id).
    virtual QList<QByteArray> receivedFrames() const = 0;
    virtual void clearReceivedFrames() = 0;

    // Fault injection; faults are consumed as they apply.
    virtual void injectFault(const Fault &fault) = 0;
    virtual void clearFaults() = 0;

    // Unsolicited frame: byte 0 = 0xF0, byte 1 = kind, bytes 2-3 = payload length,
    // payload from byte 8 (at most 56 bytes).
    virtual void sendNotification(uint8_t kind, const QByteArray &payload) = 0;
    // Any raw 64-byte input report (shorter data is zero-filled).
    virtual void sendRawReport(const QByteArray &report) = 0;

    // Direct access to the keyboard's state for test set-up and assertions.
    // The byte layouts are those of the wire records.
    virtual QByteArray deviceId() const = 0;    // 12 bytes
    virtual QByteArray productName() const = 0; // 16 bytes
    virtual void setProductName(const QByteArray &name) = 0;
    virtual uint16_t firmwareVersion() const = 0;
    virtual void setFirmwareVersion(uint16_t version) = 0;
    virtual int keyMapCount() const = 0;
    virtual int keyCount() const = 0;
    virtual int currentKeyMap() const = 0;
    virtual QByteArray keyCodes(int map) const = 0; // keyCount() x 4 bytes
    virtual void setKeyCodes(int map, const QByteArray &entries) = 0;
    virtual int colourMapCount() const = 0;
    virtual int currentColourMap() const = 0;
    virtual QByteArray keyColours(int map) const = 0; // keyCount() x 4 bytes (b, g, r, 0)
    virtual int modeMapCount() const = 0;
    virtual int currentModeMap() const = 0;
    virtual int modeCount() const = 0;
    virtual QByteArray modes(int map) const = 0;            // modeCount() bytes
    virtual QByteArray lightingRecord(int index) const = 0; // 12 bytes
    virtual QByteArray keyFunction(int index) const = 0;    // 56 bytes
    virtual int keyFunctionCount() const = 0;
    virtual QByteArray macroHead(int slot) const = 0;   // 24 bytes
    virtual QByteArray macroFrames(int slot) const = 0; // frameCount x 10 bytes
    virtual int macroSlotCount() const = 0;
    virtual bool isRecordingMacro() const = 0;
    virtual QByteArray bluetoothName() const = 0; // 12 bytes
    virtual uint32_t sleepTime() const = 0;
    virtual void setSleepTime(uint32_t ms) = 0;
    virtual void restoreDefaults() = 0; // factory state

    // ---- Additions beyond the first contract (all thread-safe as well) ----

    // Position on the bus: (personality(), index()) identifies the stored state.
    virtual int index() const = 0;
    // hidapi sometimes reports interface_number -1; with false, enumerate() reports
    // -1 for both interfaces of this keyboard and the host must use the path.
    virtual void setReportsInterfaceNumber(bool reports) = 0;

    // More state for test set-up (same layouts as the getters above).
    virtual void setKeyColours(int map, const QByteArray &entries) = 0;
    virtual void setModes(int map, const QByteArray &modes) = 0;
    virtual void setLightingRecord(int index, const QByteArray &record) = 0;
    // Colour maps as reported: `reportedCount` maps (-1: the real number; 0: a
    // keyboard without switchable maps that still paints its active one) and
    // `current` as the active map (may be out of range).
    virtual void setColourMapShape(int reportedCount, int current) = 0;
    virtual void setKeyFunction(int index, const QByteArray &entry) = 0;
    // Resizes the key-function table (0 to 255 entries); new entries are free,
    // their id is their index (six bits).
    virtual void setKeyFunctionCount(int count) = 0;
    // Stores a macro: head `used` set, `frameCount` = frames.size() / 10, the name
    // NUL-padded to 16 bytes. Returns false for a bad slot or more than 512 frames.
    virtual bool setMacro(int slot, const QByteArray &name, const QByteArray &frames) = 0;
    // A raw 24-byte head as the keyboard stores it (any frame count up to
    // 1023, any id, a name of 16 bytes without terminator); the frames stay.
    virtual void setMacroHead(int slot, const QByteArray &head) = 0;
    // Resizes the macro slots (0 to 255); new slots are empty, their id is
    // their index (six bits).
    virtual void setMacroSlotCount(int count) = 0;
    virtual void setBluetoothName(const QByteArray &name) = 0; // padded/cut to 12 bytes
    virtual int selectedMacro() const = 0;                     // -1 before any selectMacro
    virtual bool isPlayingMacro() const = 0;
    virtual uint16_t scanSpeed() const = 0;
    virtual uint8_t nKey() const = 0;
    virtual QByteArray userInfo() const = 0; // 48 bytes
    virtual bool hasLighting() const = 0;
    virtual bool hasBluetooth() const = 0;

    // What the user does on the keyboard itself; each sends the natural notification.
    // The layer key: the current key map becomes `map`; sends kind 0x20, n = 2,
    // byte 8 = previous map, byte 9 = new map. False (nothing sent) for a bad map.
    virtual bool pressLayerKey(int map) = 0;
    virtual bool pressColourMapKey(int map) = 0; // kind 0x30, same layout
    virtual bool pressModeMapKey(int map) = 0;   // kind 0x60, same layout
    // A key-function combination: kind 0xAA, n = 2, byte 8 = id, byte 9 = hi of
    // entry `index`. False when the entry is out of range or not in use.
    virtual bool pressKeyFunction(int index) = 0;
    // Sets the lock bit of key `key` in the current key map and sends kind 0x21
    // carrying that key's 4-byte kc_t entry.
    virtual bool setKeyLocked(int key, bool locked) = 0;
    // A key goes down or up (HID keyboard usage; 0xE0-0xE7 are the modifiers)
    // `delayMs` after the previous change. While recording is on (setRecordMacro)
    // the keyboard sends kind 0x50 with one 10-byte mframe_t; returns whether it did.
    virtual bool simulateKey(uint8_t usage, bool down, uint16_t delayMs) = 0;
    // A whole report at once (modifiers + up to six usages) as one recorded frame.
    virtual bool simulateReport(uint16_t delayMs, uint8_t modifiers, const QByteArray &keys) = 0;

    // ---- Firmware update ----

    // The USB boot loader's protocol: a packet is 64 bytes (command code and
    // packet number as 32-bit little-endian values, then 56 data bytes); the
    // loader answers with the 16-bit byte sum of the 64 bytes it received at
    // bytes 0-1, the packet number + 1 at bytes 4-7 and a status (0) at
    // bytes 8-11. 0xA4 synchronises; 0xA0 erases the application area and
    // takes the start address, the image length and the first 48 bytes;
    // 0x00 takes the next 56 bytes; 0xAB runs the image: when it is complete
    // the loader leaves the bus and the keyboard comes back (after the bus's
    // boot-loader delay) with the version of the image's marker. An
    // incomplete image is not run; the loader answers and stays.
    virtual void injectLoaderFault(const LoaderFault &fault) = 0; // cleared by clearFaults()
    // The loader's application area: the bytes programmed since the last
    // erase (a complete image after a finished update). Empty for keyboards.
    virtual QByteArray loaderImage() const = 0;
    // The length announced by the last erase (0xA0), 0 before any.
    virtual uint32_t loaderAnnouncedLength() const = 0;
    // Whether this keyboard's boot loader enumerates after it is told to
    // enter it (default true). False: it leaves the bus and never returns.
    virtual void setBootLoaderAppears(bool appears) = 0;

    // The Bluetooth module (dual-mode keyboards): every 0xB0/0xDF frame is an
    // update record, op code at record byte 0. 0x08 switches the module from
    // its application to its boot loader, 0x85 back (it then runs the version
    // of the stored application's marker, kind 1, when it has one); in the
    // boot loader 0x81/0x82 erase the application / soft-device area and
    // 0x83/0x84 program one chunk of 48 bytes: record byte 1 = 0x34, byte 2 =
    // low byte of the sum of the 56 record bytes taken with byte 2 = 0, bytes
    // 4-7 = packet number, counting from 1 after each erase. The answer echoes
    // 0xB0/0xDF, carries the op code at byte 8, 1 (done) at byte 9 and an
    // error code (kBtModule*, 0 = none) at byte 12.
    virtual void injectBtFault(const BtFault &fault) = 0; // cleared by clearFaults()
    // The areas as programmed since their last erase, 48 bytes per chunk (the
    // 0xFF filler of a short last chunk included).
    virtual QByteArray btApplicationImage() const = 0;
    virtual QByteArray btSoftDeviceImage() const = 0;
    virtual bool btInBootLoader() const = 0;
    virtual uint16_t btVersion() const = 0; // 0 until an application with a marker ran
};

class SimBus : public HidBackend
{
public:
    SimBus();
    ~SimBus() override;

    // Plugs a keyboard in. `index` makes its path and device id unique on the
    // bus (two keyboards of the same personality need different indexes;
    // -1 picks the next free one). Owned by the bus.
    SimKeyboard *plug(Personality personality, int index = -1);
    // Unplugs it: open handles read -1 from then on; the object is destroyed.
    void unplug(SimKeyboard *keyboard);
    // The bus remembers each keyboard's state by (personality, index): plugging
    // the same pair in again gives back the same maps, macros and settings.
    QList<SimKeyboard *> keyboards() const;

    // Per-report latency in microseconds (default 1000: 1 ms to the keyboard,
    // 1 ms back). 0 answers at once. The keyboard takes a request in at write()
    // (receivedFrames() and its state show it at once); its answer becomes
    // readable two latencies later, a notification one latency after it is sent.
    // Input reports of one handle never overtake each other.
    void setReportLatencyUs(int us);
    int reportLatencyUs() const;

    // The keyboard with this path (either interface), or nullptr.
    SimKeyboard *find(const QString &path) const;
    // The present keyboard of this personality and index, or nullptr.
    SimKeyboard *find(Personality personality, int index) const;
    // Forgets the stored state of keyboards that are not plugged in.
    void forgetStoredState();
    // Number of handles open now (leak checks in tests).
    int openHandleCount() const;
    // Delay between a keyboard leaving for its boot loader and the loader
    // appearing on the bus (default 100 ms).
    void setBootLoaderDelayMs(int ms);

    // Looks at the bus so far: each enumerate() or enumerateAny() counts once.
    int enumerationCount() const;

    // HidBackend
    QList<HidDeviceInfo> enumerate(uint16_t vendorId, uint16_t productId) override;
    QList<HidDeviceInfo> enumerateAny(const QVector<HidPair> &pairs) override;
    HidHandle *open(const QString &path) override;
    int read(HidHandle *handle, unsigned char *data, size_t length) override;
    int readTimeout(HidHandle *handle, unsigned char *data, size_t length, int timeoutMs) override;
    // Waits in one piece: wakeReads() ends the wait of a stopped read at once.
    int readUntil(HidHandle *handle, unsigned char *data, size_t length, int timeoutMs,
                  const std::function<bool()> &stopRequested) override;
    void wakeReads(HidHandle *handle) override;
    int write(HidHandle *handle, const unsigned char *data, size_t length) override;
    void close(HidHandle *handle) override;
    int exit() override;

private:
    // One look at the bus (it takes the lock). A 0/0 pair lists every
    // keyboard when `zeroMeansAll` (enumerate), none otherwise (enumerateAny).
    QList<HidDeviceInfo> listPairs(const QVector<HidPair> &pairs, bool zeroMeansAll);

    struct Private;
    std::unique_ptr<Private> d;
};

// Vendor/product ids and interface number of the simulated keyboards.
constexpr uint16_t kSimVendorId = 0x1209; // pid.codes test identifiers, no real keyboard
constexpr uint16_t kSimProductId = 0x0001;
constexpr int kSimInterface = 1;
constexpr uint16_t kBootLoaderVendorId = 0x0416;
constexpr uint16_t kBootLoaderProductId = 0xA316;
constexpr int kBootLoaderInterface = 0;

// Error statuses the simulated keyboard puts at answer bytes 8-11.
constexpr uint32_t kSimStatusOk = 0x00000000;
constexpr uint32_t kSimStatusUnknownCommand = 0x00000001; // command/sub-command not supported
constexpr uint32_t kSimStatusOutOfRange = 0x00000002;     // map, key, record or slot index too big
constexpr uint32_t kSimStatusBadLength = 0x00000003;      // length field wrong for the command
constexpr uint32_t kSimStatusBadParameter = 0x00000004;   // a value the command does not accept
constexpr uint32_t kSimStatusBadState = 0x00000005; // e.g. frame transfer with no macro selected

// Byte 0 of the answer a keyboard without lighting gives to every command of the
// groups 0x30 and 0x60 (byte 1 = the request's sub-command, byte 12 = its command,
// status kSimStatusUnknownCommand at bytes 8-11).
constexpr uint8_t kSimErrorFrame = 0xEE;

// Product name blocks (16 bytes, NUL-padded) of the personalities. The host shows
// the name without its first byte; the board catalogue compares the whole block.
constexpr const char *kDualModeProductName = "LLumory K108";  // 108 keys, ANSI, USB + Bluetooth
constexpr const char *kUsbOnlyProductName = "LLumory T88";    // 88 keys, ISO tenkeyless, USB only
constexpr const char *kNoLightingProductName = "LLumory C68"; // 68 keys, compact, no lighting
constexpr const char *kBootLoaderProductName = "LLumory Loader";

} // namespace sim

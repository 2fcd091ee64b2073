#pragma once

// Internals of the simulated bus: the keyboard implementation, its state and
// the small interface through which a keyboard reaches the bus. Everything in
// here runs with the bus mutex held unless a method says otherwise.

#include "simbus.h"

#include <array>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;
using Frame = std::array<uint8_t, 64>;

// Fixed properties of a personality (the default tables are in simdefaults.cpp).
struct Traits
{
    uint16_t vendorId = kSimVendorId;
    uint16_t productId = kSimProductId;
    int interfaceNumber = kSimInterface;
    bool bootKeyboardInterface = true; // a second, plain interface 0 beside the vendor one
    bool lighting = true;              // answers the groups 0x30 and 0x60
    bool bluetooth = true;             // answers the group 0xB0
    bool loader = false;               // the USB boot loader
    // Answers colour and mode writes (0x30/0x11, 0x60/0x04) with the request
    // echoed back instead of a status, so bytes 8-11 hold map, first, last, 0.
    bool echoesLightingWrites = false;
    int keyCount = 0;
    int keyMaps = 0;
    int colourMaps = 0;
    int modeMaps = 0;
    int lightingRecords = 0;
    int keyFunctions = 0;
    int macroSlots = 0;
    int macroFrames = 0; // capacity per slot
    uint16_t firmwareVersion = 0;
    uint16_t hardwareVersion = 0;
    const char *productName = "";
    const char *releaseDate = ""; // 16 digits
    // keyCount keys of the base map: HID keyboard usages, or consumer usages
    // with bit 0x8000 set (media keys; see keyEntry in simdefaults.cpp).
    const uint16_t *keyUsages = nullptr;
};

const Traits &traitsOf(Personality personality);

// Everything a keyboard remembers; stored by the bus per (personality, index) so
// that re-plugging gives it back. Records use the wire layouts.
struct KeyboardState
{
    // identity (kept by a factory reset)
    QByteArray deviceId;    // 12
    QByteArray productName; // 16
    QByteArray infoText;    // 16
    QByteArray releaseDate; // 16 digit values
    uint32_t infoWord0 = 0;
    uint32_t infoWord1 = 0;
    uint16_t firmwareVersion = 0;
    uint16_t hardwareVersion = 0;

    // settings
    uint16_t scanSpeed = 1;
    uint8_t nKey = 1;
    QByteArray userInfo; // 48
    QByteArray btName;   // 12
    uint32_t sleepTime = 0;

    int curKeyMap = 0;
    std::vector<QByteArray> keyMaps; // keyCount x 4
    int curColourMap = 0;
    int reportedColourMaps = -1;        // -1: colourMaps.size()
    std::vector<QByteArray> colourMaps; // keyCount x 4
    int curModeMap = 0;
    std::vector<QByteArray> modeMaps;        // keyCount x 1
    std::vector<QByteArray> lightingRecords; // 12 each
    std::vector<QByteArray> keyFunctions;    // 56 each
    std::vector<QByteArray> macroHeads;      // 24 each
    std::vector<QByteArray> macroFrames;     // capacity x 10 each

    int selectedMacro = -1;
    bool recording = false;
    bool playing = false;

    // The keyboard the boot loader returns to (loader personality only).
    Personality returnPersonality = Personality::DualMode;
    // The loader's application area (loader personality only).
    QByteArray loaderFlash;         // programmed since the last erase
    uint32_t loaderImageLength = 0; // announced by the last erase
    bool loaderErased = false;
    Frame loaderLastAnswer{}; // for StaleAnswer
    // Whether the keyboard's loader enumerates after 0x10/0x00.
    bool loaderAppears = true;

    // The Bluetooth module (dual-mode keyboards).
    bool btBoot = false; // in its boot loader
    bool btAppErased = false;
    bool btSdErased = false;
    QByteArray btAppFlash;
    QByteArray btSdFlash;
    uint32_t btNextPacket = 1; // of the area erased last
    uint16_t btVersion = 0;
    Frame btLastAnswer{}; // for BtFaultKind::StaleAnswer
};

// Builds the factory state of a personality; `identity` true also fills the identity.
void fillDefaults(KeyboardState &state, Personality personality, int index, bool identity);

// macro head helpers (km_t, first word little-endian)
uint16_t macroFrameCount(const QByteArray &head);
void setMacroFrameCount(QByteArray &head, uint16_t count);

struct SimHandle;
class Keyboard;

// What a keyboard needs from the bus. Called with the bus mutex held.
class BusCore
{
public:
    virtual ~BusCore() = default;
    virtual std::mutex &mutex() const = 0;
    virtual Clock::duration latency() const = 0;
    // Queues an input report on `to`, or on every open vendor handle of the keyboard
    // when `to` is null, readable at `ready` (or later, to keep the order).
    virtual void deliver(Keyboard *keyboard, SimHandle *to, const Frame &report,
                         Clock::time_point ready) = 0;
    // The keyboard leaves the bus on its own (disconnect, reboot). Its object stays
    // valid until the bus is destroyed or it is unplugged explicitly.
    virtual void leave(Keyboard *keyboard) = 0;
    // After `delay`, a keyboard of `personality` with the same index and stored
    // state appears (the boot loader and the way back from it).
    virtual void appearLater(Personality personality, int index, Personality returnTo,
                             Clock::duration delay) = 0;
    virtual Clock::duration bootLoaderDelay() const = 0;

    // Firmware versions a boot loader hands to the keyboard it restarts into,
    // by (personality, index); taken by that keyboard when it appears.
    std::map<std::pair<int, int>, uint16_t> firmwareHandOver;
};

// One open interface.
struct SimHandle
{
    struct Report
    {
        Frame data;
        Clock::time_point ready;
    };
    Keyboard *keyboard = nullptr; // null once the keyboard left the bus
    int interfaceNumber = 0;
    bool vendor = true; // false: the plain boot keyboard interface, never answers
    bool dead = false;  // device gone: every read and write fails
    std::deque<Report> queue;
    std::condition_variable cv;
};

class Keyboard : public SimKeyboard
{
public:
    Keyboard(BusCore *bus, Personality personality, int index,
             std::shared_ptr<KeyboardState> state);
    ~Keyboard() override;

    // ---- bus side (mutex held) ----
    // A 64-byte request frame written on `from`. Returns false when the write
    // must fail (injected WriteFailure).
    bool receiveLocked(SimHandle *from, const Frame &frame);
    QString pathOf(int interfaceNumber) const;
    bool reportsInterfaceNumberLocked() const { return m_reportsInterface; }
    const Traits &traits() const { return m_traits; }
    bool presentLocked() const { return m_present; }
    void setPresentLocked(bool present) { m_present = present; }
    const QByteArray &productNameLocked() const { return m_state->productName; }
    const QByteArray &deviceIdLocked() const { return m_state->deviceId; }

    // ---- SimKeyboard ----
    QString path() const override;
    uint16_t vendorId() const override { return m_traits.vendorId; }
    uint16_t productId() const override { return m_traits.productId; }
    int interfaceNumber() const override;
    Personality personality() const override { return m_personality; }
    QList<QByteArray> receivedFrames() const override;
    void clearReceivedFrames() override;
    void injectFault(const Fault &fault) override;
    void clearFaults() override;
    void sendNotification(uint8_t kind, const QByteArray &payload) override;
    void sendRawReport(const QByteArray &report) override;
    QByteArray deviceId() const override;
    QByteArray productName() const override;
    void setProductName(const QByteArray &name) override;
    uint16_t firmwareVersion() const override;
    void setFirmwareVersion(uint16_t version) override;
    int keyMapCount() const override;
    int keyCount() const override;
    int currentKeyMap() const override;
    QByteArray keyCodes(int map) const override;
    void setKeyCodes(int map, const QByteArray &entries) override;
    int colourMapCount() const override;
    int currentColourMap() const override;
    QByteArray keyColours(int map) const override;
    int modeMapCount() const override;
    int currentModeMap() const override;
    int modeCount() const override;
    QByteArray modes(int map) const override;
    QByteArray lightingRecord(int index) const override;
    QByteArray keyFunction(int index) const override;
    int keyFunctionCount() const override;
    QByteArray macroHead(int slot) const override;
    QByteArray macroFrames(int slot) const override;
    int macroSlotCount() const override;
    bool isRecordingMacro() const override;
    QByteArray bluetoothName() const override;
    uint32_t sleepTime() const override;
    void setSleepTime(uint32_t ms) override;
    void restoreDefaults() override;

    int index() const override { return m_index; }
    void setReportsInterfaceNumber(bool reports) override;
    void setKeyColours(int map, const QByteArray &entries) override;
    void setModes(int map, const QByteArray &modes) override;
    void setLightingRecord(int index, const QByteArray &record) override;
    void setColourMapShape(int reportedCount, int current) override;
    void setKeyFunction(int index, const QByteArray &entry) override;
    void setKeyFunctionCount(int count) override;
    bool setMacro(int slot, const QByteArray &name, const QByteArray &frames) override;
    void setMacroHead(int slot, const QByteArray &head) override;
    void setMacroSlotCount(int count) override;
    void setBluetoothName(const QByteArray &name) override;
    int selectedMacro() const override;
    bool isPlayingMacro() const override;
    uint16_t scanSpeed() const override;
    uint8_t nKey() const override;
    QByteArray userInfo() const override;
    bool hasLighting() const override { return m_traits.lighting; }
    bool hasBluetooth() const override { return m_traits.bluetooth; }
    bool pressLayerKey(int map) override;
    bool pressColourMapKey(int map) override;
    bool pressModeMapKey(int map) override;
    bool pressKeyFunction(int index) override;
    bool setKeyLocked(int key, bool locked) override;
    bool simulateKey(uint8_t usage, bool down, uint16_t delayMs) override;
    bool simulateReport(uint16_t delayMs, uint8_t modifiers, const QByteArray &keys) override;
    void injectLoaderFault(const LoaderFault &fault) override;
    QByteArray loaderImage() const override;
    uint32_t loaderAnnouncedLength() const override;
    void setBootLoaderAppears(bool appears) override;
    void injectBtFault(const BtFault &fault) override;
    QByteArray btApplicationImage() const override;
    QByteArray btSoftDeviceImage() const override;
    bool btInBootLoader() const override;
    uint16_t btVersion() const override;

private:
    // What the command handlers ask the keyboard to do besides answering.
    enum class Outcome
    {
        Answer,      // send the answer frame
        Silent,      // no answer (a group this keyboard does not have)
        EnterLoader, // no answer; the keyboard restarts into its boot loader
    };

    std::unique_lock<std::mutex> lock() const
    {
        return std::unique_lock<std::mutex>(m_bus->mutex());
    }
    void notifyLocked(uint8_t kind, const QByteArray &payload);
    bool pressMapKeyLocked(uint8_t kind, int &current, int count, int map);
    bool sendRecordedFrameLocked(uint16_t delayMs);

    // Command handlers (simcommands.cpp, simmacro.cpp, simloader.cpp). `req` is the
    // request frame, `ans` a zeroed answer frame with the echo already filled in.
    Outcome dispatch(const Frame &req, Frame &ans);
    Outcome handleDevice(const Frame &req, Frame &ans); // 0x10
    Outcome handleKeyMaps(const Frame &req, Frame &ans, std::vector<QByteArray> &maps,
                          int &current);
    Outcome handleKeyCodes(const Frame &req, Frame &ans);     // 0x20
    Outcome handleColours(const Frame &req, Frame &ans);      // 0x30
    Outcome handleKeyFunctions(const Frame &req, Frame &ans); // 0x40
    Outcome handleMacros(const Frame &req, Frame &ans);       // 0x50
    Outcome handleLighting(const Frame &req, Frame &ans);     // 0x60
    Outcome handleBluetooth(const Frame &req, Frame &ans);    // 0xB0
    Outcome handleBtModule(const Frame &req, Frame &ans);     // 0xB0/0xDF (simbt.cpp)
    // The boot loader personality gets every frame here. The loader protocol lives
    // in simloader.cpp; it may answer through `ans` or stay silent.
    Outcome handleLoaderFrame(const Frame &req, Frame &ans);

    BusCore *m_bus;
    const Personality m_personality;
    const int m_index;
    const Traits &m_traits;
    std::shared_ptr<KeyboardState> m_state;
    bool m_present = true;
    bool m_reportsInterface = true;
    QList<QByteArray> m_received;
    std::vector<Fault> m_faults;
    std::vector<LoaderFault> m_loaderFaults;
    std::vector<BtFault> m_btFaults;
    std::array<uint8_t, 8> m_liveReport{}; // the current HID report while keys are simulated
};

// Little-endian helpers shared by the handlers.
inline uint16_t le16(const uint8_t *p)
{
    return uint16_t(p[0] | (p[1] << 8));
}
inline uint32_t le32(const uint8_t *p)
{
    return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline void put16(uint8_t *p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void put32(uint8_t *p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = uint8_t(v >> (8 * i));
}
// Answer payload length (bytes 2-3).
inline void setLength(Frame &ans, uint16_t length)
{
    put16(&ans[2], length);
}
// A "set" answer: status at bytes 8-11, length 4 (or more when echoes follow).
inline void setStatus(Frame &ans, uint32_t status, uint16_t length = 4)
{
    put32(&ans[8], status);
    setLength(ans, length);
}

} // namespace sim

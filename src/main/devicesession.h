#pragma once

#include "device/hidbackend.h"
#include "device/hidreport.h"
#include "device/usbdata.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QPointer>
#include <QThread>
#include <QVector>
#include <QWaitCondition>

#include <cstdint>

class Data;
class Device;
class MenuTree;
class QTimer;
class QWidget;
class Usb;
class overallVariate;
struct BoardInfo;

// The life of the connected keyboard: discovery every 500 ms, the numbered
// device list of the "USB Device" menu, opening the transport on its thread,
// loading the configuration on the device thread, the version question,
// notifications, switching between keyboards, unplugging and closing.
//
// Discovery looks at the bus once per tick. While no keyboard is open the
// scan timer's tick looks for the catalogue's keyboards and the boot loader
// together and keeps the device list up to date; while one opens, the device
// list's tick watches that it does not vanish first. While a keyboard is open
// nothing polls: its unplugging ends its receive loop with a read error, and
// the device list is looked at again when its menu is about to show.
//
// The main window owns one session and builds or clears its pages when the
// session says so; it never touches the threads itself.
class DeviceSession : public QObject
{
    Q_OBJECT

public:
    DeviceSession(Data *catalogue, const QVector<BoardInfo *> *boards, MenuTree *menuTree,
                  overallVariate *updateState, QWidget *dialogParent, QObject *parent = nullptr);
    ~DeviceSession() override;

    // Starts looking for keyboards: both timers, and the first look at once
    // rather than one interval later.
    void start();

    QTimer *scanTimer() const { return m_scanTimer; }
    QTimer *deviceListTimer() const { return m_deviceListTimer; }
    // Runs while a firmware update expects the keyboard to go away.
    QTimer *updateWaitTimer() const { return m_updateWaitTimer; }

    Device *device() const { return m_device; }
    Usb *usb() const { return m_usb; }
    // The catalogue entry of the loaded keyboard, or null.
    BoardInfo *currentBoard() const { return m_board; }
    // The product name block as text (all of it up to the first NUL).
    QString productName() const;
    // <appdir>/<device id>/ of the loaded keyboard, or empty.
    QString deviceDir() const { return m_deviceDir; }
    QString selectedPath() const { return m_selectedPath; }
    bool isSwitching() const { return m_switching; }
    bool isLoaded() const { return m_loaded; }
    // The vendor/product pair the session looks for (the catalogue's).
    uint16_t vendorId() const;
    uint16_t productId() const;

    bool isHaveDevice(unsigned short vendorId, unsigned short productId) const;
    QList<UsbData> getUSBList(unsigned short vendorId, unsigned short productId, int iface) const;

    // Tears the keyboard down: pages first (deviceClosing), then the device
    // thread, then the transport thread and the handle. Always true.
    bool closeDevice();
    // Asks whether to update the firmware when the catalogue knows a newer one.
    bool checkVersion();
    // Closes the keyboard and opens it again (after a factory reset).
    void reloadDevice();
    // The program is exiting: timers stop, the keyboard is closed and nothing
    // opens a keyboard again (pending switches and retries are dropped).
    void shutdown();
    bool isShutDown() const { return m_shutDown; }
    // Whether "Yes" to the version question leads to a firmware update. Until
    // a firmware flow takes it, "Yes" explains that and the keyboard loads.
    void setFirmwareUpdateAvailable(bool available) { m_firmwareUpdateAvailable = available; }
    void setLanguage(int langType) { m_langType = langType; }

public Q_SLOTS:
    void scanDeviceSlot();
    void MultiscanDeviceSlot();
    // Brings the device list up to date now (the menu is about to show).
    void refreshDeviceList();
    void switchUsbDevice(UsbData data);
    void intoNormalMode();
    void intoDFUMode();
    void openUSB();
    void usbOpenSucceededSlot();
    void finishLoadDeviceSlot();
    void deviceLoadInfoError();
    void usbDisconnectSLot();
    void usbQuitThreadSlot();
    void deviceQuitThreadSlot();
    void onRecvNotifySlot(const HidReport &report);

Q_SIGNALS:
    // To the transport and the device model.
    void emitUsbOpen(unsigned short vendorId, unsigned short productId, int iface, QString path);
    void emitLoadDevInfo();

    // To the main window.
    void loadingStarted();                 // disable the tabs while opening and loading
    void pagesBuilding();                  // loading finished, pages are about to be built
    void deviceReady(BoardInfo *board);    // build the pages (board may be null)
    void loadFinished();                   // pages built: enable tabs, show the key page
    void loadFailed();                     // the keyboard did not load
    void firmwareUpdateRequested();        // the user chose to update the firmware
    void dfuDeviceFound();                 // a keyboard waits in its boot loader
    void deviceClosing();                  // clear the pages of the closing keyboard
    void deviceClosed();                   // threads stopped, handle closed
    void deviceState(int type, int state); // result of a Bluetooth name or sleep time change

    // Notifications, already checked against the frame and the model.
    void keyMapNotify(int map);
    void colourMapNotify(int map);
    void modeMapNotify(int map);
    void lockNotify(const QByteArray &payload);
    void macroNotify(const QByteArray &payload);
    void keyFunctionNotify(int byte0, int byte1);

private:
    bool hasIdentifiers() const;
    // A keyboard is open and its receive loop reads.
    bool isKeyboardOpen() const;
    // The catalogue's keyboards (on its interface) among `found`.
    QList<UsbData> catalogueKeyboards(const QList<HidDeviceInfo> &found) const;
    // The device list follows `present` (the catalogue's keyboards on the bus).
    void updateDeviceList(const QList<UsbData> &present);
    // The queued first look for whoever starts the timers without start():
    // scans when the scan timer runs and start() has not looked yet.
    void lookNow();
    // Opens `path` again after a load error while it is present, a few times.
    void retryAfterLoadError(const QString &path);
    bool isPresent(const QString &path) const;

    Data *m_catalogue = nullptr;
    const QVector<BoardInfo *> *m_boards = nullptr;
    MenuTree *m_menuTree = nullptr;
    overallVariate *m_updateState = nullptr;
    QWidget *m_dialogParent = nullptr;

    QTimer *m_scanTimer = nullptr;
    QTimer *m_deviceListTimer = nullptr;
    QTimer *m_updateWaitTimer = nullptr;

    // The exchange objects shared by the transport and the device model.
    QWaitCondition m_answerCondition;
    QMutex m_answerMutex;
    bool m_waiting = false;

    QThread m_usbThread;
    QThread m_deviceThread;
    Usb *m_usb = nullptr;
    Device *m_device = nullptr;

    bool m_lookPending = false; // lookNow() is queued

    QString m_selectedPath;
    bool m_switching = false;
    bool m_loaded = false;
    bool m_closing = false;
    bool m_shutDown = false;
    bool m_firmwareUpdateAvailable = false;
    int m_langType = 1;
    // Automatic re-opens after load errors of the same keyboard.
    QString m_failedPath;
    int m_loadRetries = 0;
    BoardInfo *m_board = nullptr;
    QString m_deviceDir;
    QElapsedTimer m_openTime;
};

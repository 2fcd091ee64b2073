#pragma once

#include "setting/firmwareplan.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QThread>

class Device;
class DeviceSession;
class QTimer;
class QWidget;
class Usb;
class updateDFUBtThread;

// Carries a firmware package through the keyboard: checks the whole package
// first, then writes its images in order. A USB image closes the normal
// session, waits for the keyboard's boot loader (one try a second, 19
// tries), writes the image on the loader's own thread and lets the device
// scan find the keyboard again with its new firmware. Every failure ends
// with the window usable and the user told; a keyboard left in its loader
// is found again by the scan and can be updated once more.
class FirmwareFlow : public QObject
{
    Q_OBJECT

public:
    static constexpr uint16_t kLoaderVendorId = 0x0416;
    static constexpr uint16_t kLoaderProductId = 0xA316;
    static constexpr int kLoaderInterface = 0;
    static constexpr int kLoaderWaitMs = 1000;
    static constexpr int kLoaderAttempts = 19;

    FirmwareFlow(DeviceSession *session, QWidget *dialogParent, QObject *parent = nullptr);
    ~FirmwareFlow() override;

    // An update runs: Exit and switching keyboards are refused meanwhile.
    bool isRunning() const { return m_running; }
    QTimer *waitTimer() const { return m_waitTimer; }
    void setLanguage(int langType) { m_langType = langType; }
    // Test hook: the pause between loader open attempts.
    void setLoaderWaitMs(int ms);

public Q_SLOTS:
    // Makes the plan from a package folder and starts the first image.
    void updateDFUSlot(const QString &directory);
    void waitOpenDfuDeviceSolt();
    void updateDfuFinishedSlot();
    void updateErrorStopSlot();
    void afterDFUSlot();
    // The Bluetooth module reported an error (type, code).
    void DFUErrorCode(int type, int code);

Q_SIGNALS:
    // true: waiting for the keyboard's loader; false: waiting over.
    void emitWaitDfuOpen(bool waiting);
    // Percentage of the whole package; never falls back.
    void progress(int percent);
    // The window's buttons and tabs are blocked while true.
    void banWindowsButton(bool ban);
    // The update ended; `ok` when every image was acknowledged.
    void finished(bool ok);
    // The package was refused before anything was sent (the user was told).
    void refused();

private:
    void startNextImage();
    // Writes a Bluetooth image through the worker; the first one switches
    // the module into its boot loader.
    void DualmodeUpgrade(const FirmwarePlan::Image &image);
    void btImageFinished();
    void btInterrupted();
    // The module goes back to its application; the normal read resumes.
    bool leaveBtLoader();
    void BtUpgradeDisconnect();
    static QString btErrorText(int type, int code);
    void updateDFU_Key(const QByteArray &image);
    bool openDFUDevice();
    void end(bool ok, const QString &message);
    // Stops the loader's reader, then closes its handle.
    void releaseLoader();
    QString text(const char *en, const char *zh) const;

    QPointer<DeviceSession> m_session;
    QPointer<QWidget> m_dialogParent;
    QVector<FirmwarePlan::Image> m_images;
    FirmwareProgress *m_progress = nullptr;
    QByteArray m_usbImage;
    Usb *m_usb = nullptr;
    QPointer<Device> m_dfuDevice;
    updateDFUBtThread *m_btWorker = nullptr;
    bool m_btLoader = false; // the module waits in its boot loader
    int m_btKey = 0;         // the Bluetooth image being written
    QByteArray m_btImage;
    QThread m_dfuThread;
    QTimer *m_waitTimer = nullptr;
    int m_attempts = 0;
    bool m_running = false;
    int m_langType = 1;
    QElapsedTimer m_clock;
};

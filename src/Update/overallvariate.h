#pragma once

#include "Update/updateformats.h"

#include <QMutex>
#include <QObject>
#include <QString>

#include <atomic>
#include <cstdint>

// What the device session reports about the loaded keyboard.
struct KBInfo
{
    QString productName;
    QString usbAppVersion;
    QString btAppVersion;
    QString sdVersion;
    QString other;
    uint32_t type = 0; // 0 single-mode, 1 dual-mode
};

// Shared state of the online update, created once by the main window. The
// update page (main thread) and the downloader (the page's worker thread)
// reach each other only through this object: requests and results are
// signals (queued across the threads); the busy and online flags and the
// keyboard information are read by both sides and guarded.
//
// The object itself needs no widget: the page is created and connected by
// initialization(), which the GUI library defines (Update/onlineupdate.cpp).
class overallVariate : public QObject
{
    Q_OBJECT

public:
    explicit overallVariate(QObject *parent = nullptr);

    // Creates the update page and connects it (GUI library).
    void initialization();
    QObject *page() const { return m_page; }

    void setLangType(int langType) { m_langType = langType; }
    int langType() const { return m_langType; }
    // The running program's version: the last word of the "firmware"
    // attribute of the "firmware" element in config/about.xml.
    QString getLumoryVersions() const;
    void setAboutFile(const QString &path); // default: AppPaths::configDir() + "about.xml"

    // Requests (each only emits its signal).
    void checkUpdate();
    void checkFirmwareUpdate();
    void checkUpdateDownload();
    void dowmloadLumoryUpdateFile();
    void dowmloadFirmwareUpdateFile();
    void unModeFirmware();
    void DeviceOffline();
    void MainExit();
    void UpdateSignal(const QString &packageDirectory);
    void onlineUpdateShow();
    void CloseOnlineUpdateWidget();

    // Results of the downloader.
    void LumoryUpdate(bool found);
    void FirmwareUpdate(bool found);
    void setLumoryUpdateInfo(const QString &text);
    void setFirmwareUpdateInfo(const QString &text);
    void downloadProgress(int fileIndex);
    void downloadNumber(int fileCount);
    // Clears the busy flag and shows the text.
    void downloadError(const QString &message);
    void setBuay(bool busy);
    bool getBuay() const { return m_busy; }
    // Sets the busy flag when it is clear, in one step (two jobs never run
    // at once); true when the caller now owns it.
    bool tryTakeBusy();

    // Where the update server is and how requests are signed. Until set:
    // no server, the built-in key and daytime servers.
    void setConfig(const UpdateConfig &config);
    UpdateConfig config() const;

    // From the device session.
    void setKBInfo(const QString &productName, const QString &usbAppVersion, unsigned int type,
                   const QString &btAppVersion, const QString &sdVersion, const QString &other);
    void clearKBInfo();
    KBInfo getKBInfo() const;
    void setOnlinState(bool online);
    bool getOnlinState() const { return m_online; }

    void setAutoUpdate(bool on) { m_autoUpdate = on; }
    bool getAutoUpdate() const { return m_autoUpdate; }

Q_SIGNALS:
    void checkUpdateSignal();
    void checkUpdateSignalFirmware();
    void checkFirmwareUpdateSignal();
    void checkUpdateDownloadSignal();
    void dowmloadLumoryUpdateFileSignal();
    void dowmloadFirmwareUpdateFileSignal();
    void unModeFirmwareSignal();
    void DeviceOfflineSignal();
    void emitMainExit();
    void emitUpdateSignal(const QString &packageDirectory);
    void showPageSignal();
    void closePageSignal();
    void LumoryUpdateSignal(bool found);
    void FirmwareUpdateSignal(bool found);
    void setLumoryUpdateInfoSignal(const QString &text);
    void setFirmwareUpdateInfoSignal(const QString &text);
    void downloadProgressSignal(int fileIndex);
    void downloadNumberSignal(int fileCount);
    void ErrorInfoSignal(const QString &message);
    void threadBusySignal(bool busy);

private:
    std::atomic<bool> m_busy{false};
    std::atomic<bool> m_online{false};
    std::atomic<bool> m_autoUpdate{true};
    std::atomic<int> m_langType{1};
    mutable QMutex m_mutex; // guards m_kbInfo, m_aboutFile and m_config
    KBInfo m_kbInfo;
    QString m_aboutFile;
    UpdateConfig m_config;
    QObject *m_page = nullptr;
};

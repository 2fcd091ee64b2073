#pragma once

#include "Update/updateformats.h"

#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QUrl>

#include <atomic>
#include <cstdint>

class QFile;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;
class overallVariate;

// Versions known locally: the program's and the loaded keyboard's.
struct VersionInfo
{
    QString lumoryVersion;
    QString productName;
    QString usbAppVersion;
    QString btAppVersion;
    QString sdVersion;
    uint32_t type = 0;
};

// Talks to the update server on the update page's worker thread: checks for
// a newer program or keyboard firmware, downloads the files of a new
// version, starts the installer for a new program and hands a downloaded
// firmware package on. Reached only through queued signals of the shared
// update state; reports back through it.
//
// One job runs at a time (the state's busy flag, taken atomically). Every
// wait is bounded; when the worker thread is asked to stop
// (QThread::requestInterruption) a job ends at its next step, and a
// download in progress is dropped with its partial file when the object is
// destroyed.
class DownloadFile : public QObject
{
    Q_OBJECT

public:
    // `programDir`: where the program runs from (downloads land below it,
    // the installer is programDir/Upgrade/Upgrade).
    DownloadFile(overallVariate *state, const QString &programDir, QObject *parent = nullptr);
    ~DownloadFile() override;

    // The step of the current job, 0-5 (readable from any thread).
    int downloadMode() const { return m_downloadMode; }

    // The executable's file name handed to the installer (default: this
    // process's).
    void setExecutableName(const QString &name) { m_exeName = name; }

public Q_SLOTS:
    void checkUpdateSlot();
    void checkLumoryUpdateSlot();
    void checkFirmwareUpdateSlot();
    void dowmloadLumoryUpdateFileSlot();
    void dowmloadFirmwareUpdateFileSlot();
    void unModeFirmwareSlot();
    void WriteUpgradeFile();
    void upgradeFileDownloadFinished();

private:
    enum Mode
    {
        LumoryVersionFile = 0,
        LumoryUrlFile = 1,
        LumoryFiles = 2,
        FirmwareVersionFile = 3,
        FirmwareUrlFile = 4,
        FirmwareFiles = 5
    };

    // Job bookkeeping.
    bool beginJob(bool takeBusy);
    void startJob(int mode, const QString &firstEntry);
    void endJob();
    void failJob(const QString &message);
    void abortJob();
    void releaseDownload(bool removePartialFile);
    bool interrupted() const;
    void refreshKeyboard();
    void startFirmwareCheck();

    QDateTime getNetworkTime();
    QDateTime queryDaytime(const QString &hostPort);
    void Startdownload(int index);
    void startFile(const QString &entry);
    void downloadFile(const QUrl &url);
    bool writeAvailable();
    void transferTimedOut();

    void ReadVersionsFile(const QString &path);
    bool ReadFirmwareVersionsFile(const QString &path);
    void lumoryUrlFileIn();
    void firmwareUrlFileIn();
    void lumoryFilesIn();
    void firmwareFilesIn();
    bool UpdateUpgrradeProgram(QString *error);
    bool StartUpgradeProgram(QString *error);
    QString localFor(const QString &entry) const;
    // The local path of a server entry, or empty (the job failed) when the
    // entry or the path it leads to leaves its place.
    QString checkedLocalPath(const QString &entry);

    overallVariate *m_state;
    QString m_programDir;
    QString m_exeName;
    VersionInfo m_versionInfo;
    UpdateConfig m_config; // taken from the state when a job starts
    QStringList m_fileList;
    QFile *m_file = nullptr;
    QPointer<QNetworkReply> m_reply;
    QNetworkAccessManager *m_manager = nullptr;
    QTimer *m_transferTimer = nullptr;
    QUrl m_currentUrl;
    int m_redirectCount = 0;
    int m_fileIndex = 0;
    int m_filesRemoved = 0;
    bool m_jobActive = false;
    bool m_timedOut = false;
    std::atomic<int> m_downloadMode{0};
};

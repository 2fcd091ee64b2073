#pragma once

#include <QPointer>
#include <QThread>
#include <QWidget>

class DownloadFile;
class overallVariate;
class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;
class QTimer;

// The update page: a small application-modal window that tells whether a
// newer program or keyboard firmware exists, starts their download, shows
// the download's progress (in files) and errors, and keeps the automatic
// check preference (config/AutoUpdate.xml). It owns the worker thread the
// downloader runs on and talks to it only through the shared state's
// queued signals.
class onlineUpdate : public QWidget
{
    Q_OBJECT

public:
    // The page reads AutoUpdate.xml and starts the downloader's thread.
    explicit onlineUpdate(overallVariate *state, QWidget *parent = nullptr);
    // Stops the downloader (a time query or transfer in progress is
    // interrupted) and waits for its thread.
    ~onlineUpdate() override;

    QLabel *statusLabel() const { return m_status; }
    QPushButton *checkButton() const { return m_checkButton; }
    QCheckBox *autoCheckBox() const { return m_autoCheck; }
    QWidget *lumoryRow() const { return m_lumoryRow; }
    QWidget *firmwareRow() const { return m_firmwareRow; }
    QLabel *lumoryInfo() const { return m_lumoryInfo; }
    QLabel *firmwareInfo() const { return m_firmwareInfo; }
    QPushButton *lumoryButton() const { return m_lumoryButton; }
    QPushButton *firmwareButton() const { return m_firmwareButton; }
    QProgressBar *lumoryBar() const { return m_lumoryBar; }
    QProgressBar *firmwareBar() const { return m_firmwareBar; }
    QTimer *tipTimer() const { return m_tipTimer; }
    QThread *workerThread() { return &m_thread; }
    int langType() const { return m_langType; }

    // The texts of the page (0 Chinese, otherwise English).
    static QString waitingText(int langType, int dots);
    static QString foundText(int langType);
    static QString latestText(int langType);
    static QString failedText(int langType);
    static QString notConfiguredText(int langType);

public Q_SLOTS:
    void SetLanguage(int langType);
    // Brings the page to the front, un-minimised (the main menu's entry).
    void showPage();

    void checkUpdateSlot();
    void checkFirmwareUpdateSlot();
    void LumoryWidgetShow(bool found);
    void FirmeareWidgetShow(bool found);
    void setLumoryUpdateInfoSlot(const QString &text);
    void setFirmwareUpdateInfoSlot(const QString &text);
    void setDownloadProgress(int fileIndex);
    void setDownloadNumber(int fileCount);
    void threadBusySignalSolt(bool busy);
    void ErrorInfoSlot(const QString &message);
    void DeviceOfflineSlot();
    void UpdateTipTimerStart();
    void UpdateTipTimerStop();
    void UpdateTipSlot();

    void on_pushButton_checkUpdate_clicked();
    void on_pushButton_LumoryUpdate_clicked();
    void on_pushButton_FirmwareUpdate_clicked();
    void on_checkBox_AutoCheckUpdate_stateChanged(int state);

protected:
    bool event(QEvent *event) override;
    void showEvent(QShowEvent *event) override;

protected:
    // Escape closes the page, as in every dialog.
    void keyPressEvent(QKeyEvent *event) override;

private:
    enum class Status
    {
        Blank,
        Waiting,
        Found,
        Latest,
        Failed,
        NotConfigured
    };
    // Which download the progress signals belong to.
    enum class Download
    {
        None,
        Lumory,
        Firmware
    };

    void setupUi();
    // The page is as high as its rows need.
    void fitHeight();
    void centre();
    void setStatus(Status status);
    bool configured() const;
    // Without a server the check button stays off and the status says so.
    void applyConfigured();
    void setCheckButtonEnabled(bool enabled);
    QProgressBar *activeBar() const;

    QPointer<overallVariate> m_state;
    QThread m_thread;
    QPointer<DownloadFile> m_downloader;

    QLabel *m_title = nullptr;
    QLabel *m_status = nullptr;
    QPushButton *m_checkButton = nullptr;
    QCheckBox *m_autoCheck = nullptr;
    QWidget *m_lumoryRow = nullptr;
    QLabel *m_lumoryName = nullptr;
    QLabel *m_lumoryInfo = nullptr;
    QPushButton *m_lumoryButton = nullptr;
    QProgressBar *m_lumoryBar = nullptr;
    QWidget *m_firmwareRow = nullptr;
    QLabel *m_firmwareName = nullptr;
    QLabel *m_firmwareInfo = nullptr;
    QPushButton *m_firmwareButton = nullptr;
    QProgressBar *m_firmwareBar = nullptr;
    QTimer *m_tipTimer = nullptr;

    Status m_statusKind = Status::Blank;
    int m_tipDots = 1;
    // Never reset: the first tick after start-up shows two dots.
    int m_tipCount = 1;
    int m_langType = 1;
    // The download the user asked for last; its progress bar follows the
    // downloader once the file list of the new version is known.
    Download m_requested = Download::None;
    Download m_active = Download::None;
};

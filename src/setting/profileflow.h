#pragma once

#include "device/profileengine.h"
#include "widget/dialogs.h"

#include <QDialog>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QString>

class Device;
class DeviceSession;
class QLabel;
class QProgressBar;
class QPushButton;
class QWidget;

// The box shown while a back-up, a check or a restore runs: what is being
// done, how far it got, and Cancel. It does not run a modal loop of its own;
// the flow shows it and closes it when the run ends.
class ProfileProgress : public QDialog
{
    Q_OBJECT

public:
    explicit ProfileProgress(QWidget *parent = nullptr);

    void setTitle(const QString &title);
    void setStage(const QString &stage);
    void setRange(int done, int total);
    // Cancel was pressed: the button greys and says so until the run stops.
    void setStopping(const QString &text);
    void setCancelText(const QString &text);

    QLabel *titleLabel() const { return m_title; }
    QLabel *stageLabel() const { return m_stage; }
    QProgressBar *bar() const { return m_bar; }
    QPushButton *cancelButton() const { return m_cancel; }

Q_SIGNALS:
    void cancelRequested();

protected:
    // Escape and the window's close button mean Cancel, not "go away".
    void reject() override;

private:
    QLabel *m_title = nullptr;
    QLabel *m_stage = nullptr;
    QProgressBar *m_bar = nullptr;
    QPushButton *m_cancel = nullptr;
};

// Backs up the loaded keyboard to a profile file and restores one, carried
// to another board where needed, with the user asked in between.
//
// Back up: a save dialog (or, for the safety-net buttons, the default file
// in the user's documents folder), the run with progress and Cancel, and a
// message naming the file or what went wrong.
//
// Restore: an open dialog, the file checked whole and compared with the
// keyboard (progress, Cancel), the summary of what will change and what is
// dropped, the question, the restore (progress, Cancel, read back), the
// result, and the keyboard read again so that every page shows what it now
// stores. A file that cannot be used is refused with its problem named and
// nothing sent.
//
// The runs are on worker threads. While one runs, `busy(true)` asks the
// window to block its pages (they must not talk to the keyboard meanwhile).
// When the keyboard goes away (unplug, switching, Exit) a run is cancelled
// and joined before the session deletes the device: the flow listens to the
// session's deviceClosing itself, and keyboardClosing() may be called
// earlier by whoever closes the keyboard. Every box runs a nested event
// loop; what was held before it is checked again when it returns.
class ProfileFlow : public QObject
{
    Q_OBJECT

public:
    ProfileFlow(DeviceSession *session, QWidget *dialogParent, QObject *parent = nullptr);
    ~ProfileFlow() override;

    // The texts of the menu entries and buttons, 0 = Chinese, 1 = English.
    static QString backupText(int langType);
    static QString restoreText(int langType);

    // A back-up, check or restore runs on its thread.
    bool isRunning() const { return m_task != nullptr; }
    // A flow is under way (a run, or a box of the flow is open).
    bool isActive() const { return m_active; }
    // The progress box while a run lasts, else null.
    ProfileProgress *progressBox() const { return m_progress; }

    // Where the default back-up files go: the user's documents folder
    // unless set (tests).
    QString documentsDir() const;
    void setDocumentsDir(const QString &dir) { m_documentsDir = dir; }

public Q_SLOTS:
    void setLanguage(int langType) { m_langType = langType; }
    // "Back up keyboard…" of the menu: asks where to.
    void backup();
    // The safety-net buttons: the default file, no dialog but the result.
    void quickBackup();
    // "Restore keyboard…" of the menu.
    void restore();
    // Cancel of the progress box.
    void cancel();
    // The keyboard is about to be closed and its Device deleted: a run is
    // cancelled and waited for. Safe to call more than once.
    void keyboardClosing();

Q_SIGNALS:
    // The window blocks its tabs and buttons while true.
    void busy(bool running);
    // A flow ended (after its last box): `ok` when it did what was asked.
    void finished(bool ok);

private:
    enum class Stage
    {
        Backup,
        Plan,
        Restore,
    };
    // The loaded keyboard, or null (the user is told when `tell`).
    Device *loadedKeyboard(bool tell);
    // Whether `device` is still the session's loaded keyboard and the
    // program is not closing.
    bool stillCurrent(const QPointer<Device> &device) const;
    // A flow begins: the loaded keyboard (told when there is none), null
    // while another flow runs.
    Device *begin();
    // The flow's file dialog: the chosen path, or empty when the flow ended
    // there (cancelled, the keyboard changed, or this flow released while the
    // dialog was open); the caller then returns at once.
    QString askFile(const Dialogs::FileRequest &request, const QPointer<Device> &keyboard);
    void startBackup(Device *device, const QString &path);
    void startTask(Stage stage, ProfileTask *task, Device *device);
    // The run ended on its own (queued from the worker).
    void taskFinished(ProfileTask *task);
    // Stops and deletes the run; returns its result.
    ProfileResult endTask();
    void backupFinished(const ProfileResult &result);
    // `device`: the keyboard the run was on, null when it went away.
    void planFinished(const ProfileResult &result, const RestorePlan &plan,
                      const QPointer<Device> &device);
    void restoreFinished(const ProfileResult &result, const QPointer<Device> &device);
    // What the run had done when the keyboard went away, told once control
    // is back in the event loop.
    void tellCutOff(Stage stage, const ProfileResult &result);
    void done(bool ok);

    QString text(const char *zh, const char *en) const;
    // "Restored: …; not restored: …" lines of a restore that did not finish.
    QString partsText(const ProfileResult &result) const;
    int message(QMessageBox::Icon icon, const QString &title, const QStringList &paragraphs,
                const QStringList &buttons = QStringList());

    QPointer<DeviceSession> m_session;
    QPointer<QWidget> m_dialogParent;
    QPointer<ProfileProgress> m_progress;
    ProfileTask *m_task = nullptr;
    QPointer<Device> m_taskDevice;
    Stage m_stage = Stage::Backup;
    QString m_path;
    ProfileContext m_context;
    QString m_documentsDir;
    bool m_active = false;
    int m_langType = 1;
};

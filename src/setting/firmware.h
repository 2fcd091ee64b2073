#pragma once

#include <QWidget>

class QLabel;
class QLineEdit;
class QPushButton;
class Schedule;

// The firmware panel of the settings page: the package folder (remembered in
// config/temp/temp.xml), a chooser, the start button and the round progress
// indicator. It only collects the user's choice; the update itself is the
// firmware flow's.
class Firmware : public QWidget
{
    Q_OBJECT

public:
    explicit Firmware(QWidget *parent = nullptr);

    // Enables or disables the chooser, the start button and the path field together.
    void setButton(bool enabled);
    // Percentage of the whole package.
    void setFirmwareUpdateValue(int percent);
    void readFilePathXml();
    void saveFilePathXml();
    void setLanguage(int langType);

    QLineEdit *pathField() const { return m_path; }
    QPushButton *chooseButton() const { return m_choose; }
    QPushButton *startButton() const { return m_start; }
    // "Back up keyboard…" beside the start button: a safety net before an update.
    QPushButton *backupButton() const { return m_backup; }
    Schedule *schedule() const { return m_schedule; }
    QString chooserDirectory() const { return m_dirPath; }
    // The file the choice is remembered in (tests point it elsewhere).
    void setTempFile(const QString &path) { m_tempFile = path; }

public Q_SLOTS:
    void openFileSlot();
    void startUpdateSlot();
    void waitDfuOpenSlot(bool waiting);
    void editingTextChangedSlot(const QString &text);

Q_SIGNALS:
    void emitUpdateSure(const QString &path);
    void emitCancel();
    // The user asked for a back-up of the keyboard (default file, no dialog).
    void emitBackup();

private:
    void markPath(bool ok);

    QLabel *m_title = nullptr;
    QLabel *m_hint = nullptr;
    QLineEdit *m_path = nullptr;
    QPushButton *m_choose = nullptr;
    QPushButton *m_start = nullptr;
    QPushButton *m_backup = nullptr;
    Schedule *m_schedule = nullptr;
    QString m_dirPath;
    QString m_tempFile;
    int m_langType = 1;
};

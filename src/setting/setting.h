#pragma once

#include <QSlider>
#include <QWidget>

#include <cstdint>

class CheckUSB;
class Firmware;
class QCheckBox;
class QFrame;
class QLabel;
class QTimer;
class QLineEdit;
class QPushButton;

// The release date as shown: the keyboard's digits ("2024031510300000",
// yyyyMMdd then the time) or a separated date ("2024-03-15", "2024/3/15",
// "2024.03.15", a time may follow) as an ISO date "2024-03-15"; anything
// else (all zeros, no date) as received, without padding NULs or spaces.
QString releaseDateText(const QString &raw);

// A slider that leaves the mouse wheel to the page (no accidental changes
// while scrolling) and says when a change is still in progress: while a
// mouse button is down on it (dragging the handle, or a held click on the
// groove that repeats page steps) or a key repeats, its value is not final.
class WheelSafeSlider : public QSlider
{
    Q_OBJECT

public:
    using QSlider::QSlider;

    bool isHeld() const { return m_mouseHeld || m_keyRepeating || isSliderDown(); }
    // Where the handle is drawn (for tests that drag it).
    QRect handleRect() const;

Q_SIGNALS:
    // A held change ended: the mouse button or the repeating key was released.
    void holdEnded();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;

private:
    void endHold();

    bool m_mouseHeld = false;
    bool m_keyRepeating = false;
};

// The "SETTING" page: what the keyboard reports about itself, its Bluetooth
// name, automatic sleep, factory reset, and the firmware update entry. It
// only collects input and shows values; the main window talks to the keyboard.
class Setting : public QWidget
{
    Q_OBJECT

public:
    // `layoutEditor`: the board offers the keyboard layout editor.
    explicit Setting(bool layoutEditor, QWidget *parent = nullptr);

    void setPorductInformation(const QString &product, const QString &firmware,
                               const QString &hardware, const QString &date);
    void setBluetoothName(const QString &name);
    // Current and last non-zero sleep time in milliseconds.
    void setSleepTime(uint32_t currentMs, uint32_t lastMs);
    // Enables or disables every control that talks to the keyboard.
    void setInformationEnabled(bool enabled);
    // Shows "None" everywhere and disables the device controls.
    void clearInformation();

    // "V1.2.3" for 123.
    static QString versionText(uint16_t version);

    // For tests.
    QString productText() const;
    QString firmwareText() const;
    QString hardwareText() const;
    QString dateText() const;
    QLineEdit *bluetoothNameEdit() const { return m_btName; }
    QPushButton *bluetoothNameButton() const { return m_btButton; }
    QCheckBox *sleepCheckBox() const { return m_sleepEnabled; }
    WheelSafeSlider *sleepSlider() const { return m_sleepSlider; }
    QLabel *sleepValueLabel() const { return m_sleepValue; }
    QPushButton *factoryResetButton() const { return m_resetButton; }
    QPushButton *backupButton() const { return m_backupButton; }
    QPushButton *layoutEditorButton() const { return m_layoutButton; }
    QFrame *firmwareFrame() const { return m_firmwareFrame; }
    Firmware *firmwarePanel() const { return m_firmwarePanel; }
    // The firmware update, in the order a user meets it: the panel is offered
    // (intoUpdate, or setFirmwareAvailable for a loaded keyboard), the user
    // starts it (updateSureSlot), the page shows the progress, and the update
    // ends (updateFinished / updateErrorStop, both through cancelSlot).
    //
    // Offers the update for the keyboard with this vendor/product pair (both
    // 0: the boot loader's pair) and watches that it stays on the bus.
    void intoUpdate(uint16_t vendorId, uint16_t productId);
    // A loaded keyboard can be updated (true) or no keyboard is there
    // (false). No presence watch: an unplug ends the keyboard's session.
    void setFirmwareAvailable(bool available);
    void createCheckUSB(uint16_t vendorId, uint16_t productId);
    void deleteCheckUSB();
    bool isWatching() const { return m_checkUsb != nullptr; }
    // The update wrote every image; the page closes.
    void updateFinished();
    // The update failed; the page closes.
    void updateErrorStop();
    bool isUpdating() const { return m_updating; }
    int lastSleepMinutes() const { return m_lastSleepMinutes; }

public Q_SLOTS:
    void SetLanguage(int langType);
    void updateSureSlot(const QString &path);
    // Percentage of the whole package.
    void UpdateProgressSlot(int percent);
    void cancelSlot();
    void checkUSBDisconnectSlot();
    void dfuModeSlot();

Q_SIGNALS:
    void emitBluetoothName(const QString &name);
    void emitSleepTime(int minutes);
    void emitFactoryReset();
    // One-click back-up of the whole keyboard (default file name).
    void emitBackup();
    void emitLayoutEditor();
    // The user started the update of this package folder.
    void emitUpdateFU(const QString &path);
    // The update runs: the tabs are blocked / the update ended.
    void emitModeDUF();
    void emitNuModeDUF();
    // The watched keyboard went away: scan for keyboards again.
    void emitStartScanDevice();

private:
    void bluetoothButtonClicked();
    void sleepEnabledClicked(bool checked);
    void sleepValueChanged();
    void sendSleepSlider();
    void updateSleepEnabled();
    void factoryResetClicked();
    void updateSleepValueText();
    // Greys every card but the firmware panel while an update runs.
    void setOtherCardsEnabled(bool enabled);

    bool m_layoutEditor = false;
    bool m_deviceControlsEnabled = false;
    int m_langType = 1;
    int m_lastSleepMinutes = 0;
    // What the keyboard was last told or reported, in minutes (0 = off).
    int m_sentSleepMinutes = 0;
    // Set while the page itself moves the slider (not a user change).
    bool m_settingSleep = false;

    QLabel *m_infoTitle = nullptr;
    QLabel *m_productCaption = nullptr;
    QLabel *m_firmwareCaption = nullptr;
    QLabel *m_hardwareCaption = nullptr;
    QLabel *m_dateCaption = nullptr;
    QLabel *m_product = nullptr;
    QLabel *m_firmware = nullptr;
    QLabel *m_hardware = nullptr;
    QLabel *m_date = nullptr;

    QLabel *m_btTitle = nullptr;
    QLineEdit *m_btName = nullptr;
    QPushButton *m_btButton = nullptr;

    QLabel *m_sleepTitle = nullptr;
    QCheckBox *m_sleepEnabled = nullptr;
    WheelSafeSlider *m_sleepSlider = nullptr;
    QLabel *m_sleepValue = nullptr;
    QTimer *m_sleepSendTimer = nullptr;

    QLabel *m_resetTitle = nullptr;
    QPushButton *m_resetButton = nullptr;
    QPushButton *m_backupButton = nullptr;

    QFrame *m_firmwareFrame = nullptr;
    QFrame *m_firmwareCard = nullptr;
    Firmware *m_firmwarePanel = nullptr;
    CheckUSB *m_checkUsb = nullptr;
    bool m_updating = false;
    QPushButton *m_layoutButton = nullptr;
};

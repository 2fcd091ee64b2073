#pragma once

#include "color/modeparameters.h"
#include "main/undohistory.h"

#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <QVector>

class Device;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class NumberEdit;

// The parameter dialog of lighting mode n: edits the fields of the mode's
// record (or loads a preset from modeParameter.xml) and "Apply" writes the
// record to the keyboard. Only the dialog's own fields change; every other
// bit of the record is written back as read. A frameless, non-modal window.
class Parameter : public QDialog
{
    Q_OBJECT

public:
    Parameter(QWidget *parent, Device *device, int n);

    int modeNumber() const { return m_n; }
    const QVector<ModePreset> &presets() const { return m_presets; }
    // The values the controls hold now (edits at their last accepted text).
    ModeSettings currentSettings() const;

public slots:
    // Writes record n with the dialog's values; closes on success.
    void downloadData();
    // Fills the controls from record n.
    void readDeviceData();
    // Fills the controls from the preset at list position `presetIndex`.
    void readModeData(int presetIndex);
    // "LED Action" entry `index` chosen: loads the preset whose mode is `index`.
    void comboboxChangedMode(int index);
    void SetLanguage(int langType);

signals:
    // The keyboard took the record: `edit` takes it back (for the undo history).
    void emitApplied(const KeyboardEdit &edit);
    void emitClose();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void reject() override;

private:
    void buildControls();
    void fillControls(const ModeSettings &s);
    void highestLevelMoved(int value);
    void lowestLevelMoved(int value);
    void updateValueLabels();

    QPointer<Device> m_device;
    int m_n;
    int m_langType = 1;
    QVector<ModePreset> m_presets;

    QLabel *m_title = nullptr;
    QPushButton *m_closeButton = nullptr;
    QComboBox *m_action = nullptr;
    QCheckBox *m_cycleFlag = nullptr;
    NumberEdit *m_totalPeriod = nullptr;
    QCheckBox *m_colourRandom = nullptr;
    QCheckBox *m_randomOnPress = nullptr;
    QSlider *m_highest = nullptr;
    QSlider *m_lowest = nullptr;
    QSlider *m_step = nullptr;
    QSlider *m_stepDelay = nullptr;
    QLabel *m_highestValue = nullptr;
    QLabel *m_lowestValue = nullptr;
    QLabel *m_stepValue = nullptr;
    QLabel *m_stepDelayValue = nullptr;
    NumberEdit *m_highestDelay = nullptr;
    NumberEdit *m_periodDelay = nullptr;
    QButtonGroup *m_direction = nullptr;
    QRadioButton *m_l2h = nullptr;
    QRadioButton *m_h2l = nullptr;
    QPushButton *m_apply = nullptr;
    QVector<QLabel *> m_labels; // captions, in the order of kCaptions

    bool m_dragging = false;
    QPoint m_dragOffset;
};

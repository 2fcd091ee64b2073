#pragma once

#include "main/undohistory.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QVector>
#include <QWidget>

class Device;
class Parameter;
class QGroupBox;
class QPushButton;

// The "LED MODEL" group of the lighting page: the 32 lighting-mode buttons
// M0..M31. Pressing one makes it the brush for the keys; pressing it twice in
// quick succession opens the parameter dialog of that mode (one at a time).
// Buttons of modes the keyboard holds no record for are disabled.
class Mode : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kModeCount = 32;
    static constexpr int kDoublePressMs = 200;

    explicit Mode(QWidget *parent = nullptr);

    // The keyboard whose records the dialog edits; null when it is gone
    // (closes an open dialog).
    void setDevice(Device *device);
    // The selected mode number, -1 when none.
    int getSelectMode() const { return m_select; }
    // Clears the selection and shows every button released.
    void releaseButtonSelect();
    // The open parameter dialog, or null.
    Parameter *parameter() const;

public slots:
    void SetLanguage(int langType);

signals:
    void emitButtonPressed();
    void emitCursorMode(int mode);
    // A mode's parameters were applied to the keyboard.
    void emitModeApplied(const KeyboardEdit &edit);

private:
    void buttonPressed(int n);
    void openParameter(int n);
    void closeParameter();
    void updateButtons();

    QGroupBox *m_group = nullptr;
    QVector<QPushButton *> m_buttons;
    QPointer<Device> m_device;
    QPointer<Parameter> m_parameter;
    int m_select = -1;
    int m_langType = 1;
    int m_lastPressed = -1;
    QElapsedTimer m_pressTimer;
};

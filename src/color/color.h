#pragma once

#include <QPointer>
#include <QWidget>

class Device;
class Mode;
class Palette;

// The lighting page below the drawn keyboard: the colour palette ("LED
// COLOR") and the 32 lighting modes ("LED MODEL"). Both share one brush:
// choosing a colour lets go of the chosen mode and the other way round.
class Color : public QWidget
{
    Q_OBJECT

public:
    explicit Color(QWidget *parent = nullptr);

    Palette *palette() const { return m_palette; }
    Mode *mode() const { return m_mode; }
    void setDevice(Device *device);
    // Forgets the chosen colour and mode.
    void releaseBrush();

public Q_SLOTS:
    void SetLanguage(int langType);

Q_SIGNALS:
    // A mode was chosen: the colour cursor over the keyboard goes.
    void emitUnsetCursor();

private:
    Palette *m_palette = nullptr;
    Mode *m_mode = nullptr;
    QPointer<Device> m_device;
};

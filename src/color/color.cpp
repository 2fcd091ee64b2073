#include "color/color.h"

#include "color/mode.h"
#include "color/palette.h"
#include "device/device.h"

#include <QDebug>
#include <QVBoxLayout>

Color::Color(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ColorPage"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 8, 24, 8);
    layout->setSpacing(10);
    m_palette = new Palette(this);
    m_mode = new Mode(this);
    layout->addWidget(m_palette, 0, Qt::AlignHCenter);
    layout->addWidget(m_mode, 0, Qt::AlignHCenter);
    layout->addStretch(1);

    connect(m_palette, &Palette::emitButtonPressed, this,
            [this] { m_mode->releaseButtonSelect(); });
    connect(m_mode, &Mode::emitButtonPressed, this, [this] {
        m_palette->releaseButtonSelect();
        m_palette->releaseCurrentColor();
        Q_EMIT emitUnsetCursor();
    });
}

void Color::setDevice(Device *device)
{
    m_device = device;
    m_mode->setDevice(device);
}

void Color::releaseBrush()
{
    m_palette->releaseButtonSelect();
    m_palette->releaseCurrentColor();
    m_mode->releaseButtonSelect();
}

void Color::SetLanguage(int langType)
{
    m_palette->SetLanguage(langType);
    m_mode->SetLanguage(langType);
}

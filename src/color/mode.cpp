#include "color/mode.h"

#include "color/parameter.h"
#include "device/device.h"
#include "widget/dialogs.h"

#include <QDebug>
#include <QGridLayout>
#include <QGroupBox>
#include <QPushButton>
#include <QStyle>
#include <QVBoxLayout>

namespace {

constexpr int kPerRow = 16;
constexpr int kGap = 12;

const char kModeStyle[] =
    "QGroupBox { color: #e8eaed; font-size: 11pt; font-weight: 600; border: 1px solid #2c313a;"
    "  border-radius: 10px; margin-top: 14px; padding: 14px 10px 10px 10px; }"
    "QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 4px; }"
    "QPushButton { background: #2b2f38; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 5px; font-size: 9pt; padding: 0px; }"
    "QPushButton:hover { border-color: #46e6b7; }"
    "QPushButton[selected=\"true\"] { background: #46e6b7; color: #16181d;"
    "  border-color: #46e6b7; font-weight: 600; }"
    "QPushButton:disabled { background: #22252d; color: #4b5160; border-color: #2c313a; }";

} // namespace

Mode::Mode(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("modeGroup"));
    setStyleSheet(QLatin1String(kModeStyle));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    m_group = new QGroupBox(this);
    outer->addWidget(m_group);
    auto *grid = new QGridLayout(m_group);
    grid->setHorizontalSpacing(kGap);
    grid->setVerticalSpacing(kGap);
    for (int n = 0; n < kModeCount; ++n) {
        auto *b = new QPushButton(QStringLiteral("M%1").arg(n), m_group);
        b->setObjectName(QStringLiteral("modeButton_%1").arg(n));
        b->setFixedSize(35, 30);
        b->setFocusPolicy(Qt::NoFocus);
        b->setProperty("selected", false);
        connect(b, &QPushButton::pressed, this, [this, n] { buttonPressed(n); });
        grid->addWidget(b, n / kPerRow, n % kPerRow);
        m_buttons.append(b);
    }
    setDevice(nullptr);
    SetLanguage(m_langType);
}

void Mode::setDevice(Device *device)
{
    if (m_device != device) {
        closeParameter();
        if (m_device)
            disconnect(m_device, nullptr, this, nullptr);
        m_device = device;
        // A keyboard model deleted without notice takes its dialog with it.
        if (device)
            connect(device, &QObject::destroyed, this, &Mode::closeParameter);
    }
    const int count = m_device ? m_device->laCount() : 0;
    for (int n = 0; n < kModeCount; ++n)
        m_buttons[n]->setEnabled(n < count);
    if (m_select >= count)
        releaseButtonSelect();
}

Parameter *Mode::parameter() const
{
    return m_parameter;
}

void Mode::releaseButtonSelect()
{
    m_select = -1;
    updateButtons();
    unsetCursor();
}

void Mode::SetLanguage(int langType)
{
    m_langType = langType;
    const bool zh = langType == 0;
    m_group->setTitle(zh ? QStringLiteral("灯效模式") : QStringLiteral("LED MODEL"));
    for (int n = 0; n < kModeCount; ++n) {
        m_buttons[n]->setToolTip(
            zh ? QStringLiteral("双击编辑 M%1 的参数").arg(n)
               : QStringLiteral("Double-click to edit the parameters of M%1").arg(n));
    }
    if (m_parameter)
        m_parameter->SetLanguage(langType);
}

void Mode::buttonPressed(int n)
{
    if (n < 0 || n >= kModeCount || !m_buttons[n]->isEnabled())
        return;
    const bool doublePress =
        n == m_lastPressed && m_pressTimer.isValid() && m_pressTimer.elapsed() < kDoublePressMs;
    // A double press ends the pair: a third press starts a new one.
    m_lastPressed = doublePress ? -1 : n;
    m_pressTimer.start();

    m_select = n;
    updateButtons();
    emit emitButtonPressed();
    qDebug() << "set mode =" << n;
    emit emitCursorMode(n);
    if (doublePress)
        openParameter(n);
}

void Mode::openParameter(int n)
{
    qDebug("mode double clicked show mode configuration dialog. ");
    if (m_parameter) {
        qDebug("parameter is not NULL.");
        return;
    }
    if (!m_device || !m_device->laRecord(n))
        return;
    auto *dialog = new Parameter(this, m_device, n);
    dialog->SetLanguage(m_langType);
    connect(dialog, &Parameter::emitApplied, this, &Mode::emitModeApplied);
    connect(dialog, &Parameter::emitClose, this, &Mode::closeParameter);
    m_parameter = dialog;
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

void Mode::closeParameter()
{
    Parameter *dialog = m_parameter;
    if (!dialog)
        return;
    m_parameter = nullptr;
    disconnect(dialog, nullptr, this, nullptr);
    dialog->hide();
    // The dialog may be in the middle of its own signal (close button, Apply)
    // or waiting in a box: it is never deleted under its own feet.
    if (Dialogs::openCount() > 0)
        Dialogs::deleteSafely(dialog);
    else
        dialog->deleteLater();
}

void Mode::updateButtons()
{
    for (int n = 0; n < kModeCount; ++n) {
        QPushButton *b = m_buttons[n];
        const bool selected = n == m_select;
        if (b->property("selected").toBool() == selected)
            continue;
        b->setProperty("selected", selected);
        b->style()->unpolish(b);
        b->style()->polish(b);
    }
}

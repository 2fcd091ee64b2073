#include "color/palette.h"

#include "color/customcolors.h"
#include "main/apppaths.h"
#include "widget/dialogs.h"

#include <QAbstractButton>
#include <QDebug>
#include <QGridLayout>
#include <QGroupBox>
#include <QPainter>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kSwatchSize = 40;
const QColor kAccent(0x46, 0xe6, 0xb7);

// A round colour swatch. Selected, it gets the accent ring outside and a
// thin black or white ring inside, whichever stands out against its colour.
class Swatch : public QAbstractButton
{
public:
    explicit Swatch(QWidget *parent) : QAbstractButton(parent)
    {
        setFixedSize(kSwatchSize, kSwatchSize);
        setCursor(Qt::PointingHandCursor);
        setFocusPolicy(Qt::NoFocus); // the page is painted with the mouse
    }

    void setColor(QRgb color)
    {
        m_color = QColor::fromRgb(color);
        setToolTip(CustomColors::colorName(color));
        update();
    }

    void setSelected(bool selected)
    {
        setProperty("selected", selected);
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        const QRectF outer = QRectF(rect()).adjusted(1.5, 1.5, -1.5, -1.5);
        const bool selected = property("selected").toBool();
        if (selected) {
            painter.setPen(QPen(kAccent, 3));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(outer);
        } else if (underMouse()) {
            painter.setPen(QPen(QColor(0x5a, 0x60, 0x6e), 2));
            painter.drawEllipse(outer);
        }
        const QRectF inner = outer.adjusted(4, 4, -4, -4);
        painter.setPen(QPen(QColor(0x3a, 0x3f, 0x4b), 1));
        painter.setBrush(m_color);
        painter.drawEllipse(inner);
        if (selected) {
            const bool light = qGray(m_color.rgb()) > 128;
            painter.setPen(QPen(light ? Qt::black : Qt::white, 2));
            painter.setBrush(Qt::NoBrush);
            painter.drawEllipse(inner.adjusted(2, 2, -2, -2));
        }
    }

    void enterEvent(QEvent *event) override
    {
        update();
        QAbstractButton::enterEvent(event);
    }

    void leaveEvent(QEvent *event) override
    {
        update();
        QAbstractButton::leaveEvent(event);
    }

private:
    QColor m_color = Qt::white;
};

} // namespace

Palette::Palette(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Palette"));
    m_group = new QGroupBox(this);
    m_group->setObjectName(QStringLiteral("paletteGroup"));
    // The same card as the modes below it.
    m_group->setStyleSheet(QStringLiteral(
        "QGroupBox { color: #e8eaed; font-size: 11pt; font-weight: 600; border: 1px solid "
        "#2c313a; border-radius: 10px; margin-top: 14px; padding-top: 6px; }"
        "QGroupBox::title { subcontrol-origin: margin; left: 12px; padding: 0 4px; }"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_group);
    auto *grid = new QGridLayout(m_group);
    grid->setHorizontalSpacing(12);
    grid->setVerticalSpacing(10);
    grid->setContentsMargins(16, 14, 16, 14);

    CustomColors::analyJson(filePath(), &m_colors);
    for (int i = 0; i < CustomColors::kCount; ++i) {
        auto *swatch = new Swatch(m_group);
        swatch->setObjectName(QStringLiteral("customColor_") + QString::number(i));
        swatch->setColor(m_colors.at(i));
        connect(swatch, &QAbstractButton::clicked, this, [this, i] { customColorPressedSlot(i); });
        grid->addWidget(swatch, i / kColumns, i % kColumns);
        m_buttons.append(swatch);
    }
    grid->setColumnStretch(kColumns, 1);

    m_pressTimer = new QTimer(this);
    m_pressTimer->setSingleShot(true);
    m_pressTimer->setInterval(kDoublePressMs);
    connect(m_pressTimer, &QTimer::timeout, this, [this] { m_pressCount = 0; });

    SetLanguage(1);
}

QString Palette::filePath()
{
    return AppPaths::configDir() + QStringLiteral("customcolor/color_btn_32.json");
}

QColor Palette::getCurrentColor() const
{
    if (!m_currentColor.isValid())
        qDebug() << "get current color is NULL.";
    return m_currentColor;
}

void Palette::releaseButtonSelect()
{
    for (QAbstractButton *button : qAsConst(m_buttons))
        static_cast<Swatch *>(button)->setSelected(false);
}

void Palette::releaseCurrentColor()
{
    releaseButtonSelect();
    m_currentColor = QColor();
}

void Palette::SetLanguage(int language)
{
    m_group->setTitle(language == 0 ? QStringLiteral("灯光颜色") : QStringLiteral("LED COLOR"));
}

void Palette::customColorPressedSlot(int index)
{
    m_pressTimer->start();
    m_pressCount = index == m_lastPressed ? m_pressCount + 1 : 1;
    m_lastPressed = index;
    if (m_pressCount >= 2) {
        m_pressCount = 0;
        editCustomColor(index);
        if (Dialogs::isReleased(this))
            return;
    } else {
        m_currentColor = QColor::fromRgb(m_colors.at(index));
    }
    select(index);
    Q_EMIT emitButtonPressed();
    Q_EMIT emitCursorColor(m_currentColor);
}

void Palette::editCustomColor(int index)
{
    const QColor chosen =
        Dialogs::color(this, QColor::fromRgba(m_colors.at(index)), QStringLiteral("Select Color"));
    if (Dialogs::isReleased(this) || !chosen.isValid())
        return; // cancelled: the colour chosen by the first press stays
    m_colors[index] = chosen.rgba();
    m_currentColor = chosen;
    static_cast<Swatch *>(m_buttons.at(index))->setColor(chosen.rgb());
    CustomColors::writeJson(filePath(), m_colors);
}

void Palette::select(int index)
{
    for (int i = 0; i < m_buttons.size(); ++i)
        static_cast<Swatch *>(m_buttons.at(i))->setSelected(i == index);
}

#pragma once

#include <QColor>
#include <QRgb>
#include <QVector>
#include <QWidget>

class QAbstractButton;
class QGroupBox;
class QTimer;

// The "LED COLOR" group of the lighting page: the custom colour buttons
// customColor_0 .. customColor_37. A press makes the button's colour the
// brush; a second press on the same button within kDoublePressMs opens the
// colour dialog to change that custom colour, which is then saved.
class Palette : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kDoublePressMs = 200;
    static constexpr int kColumns = 19;

    explicit Palette(QWidget *parent = nullptr);

    // The chosen colour; invalid when none is chosen.
    QColor getCurrentColor() const;
    // Clear the buttons' selected look / also forget the chosen colour.
    void releaseButtonSelect();
    void releaseCurrentColor();

    // The custom colours behind the buttons.
    QVector<QRgb> customColors() const { return m_colors; }
    // Where they are kept.
    static QString filePath();

public Q_SLOTS:
    void SetLanguage(int language);

Q_SIGNALS:
    void emitButtonPressed();
    void emitCursorColor(const QColor &color);

private:
    void customColorPressedSlot(int index);
    void editCustomColor(int index);
    void select(int index);

    QGroupBox *m_group = nullptr;
    QVector<QAbstractButton *> m_buttons;
    QVector<QRgb> m_colors;
    QColor m_currentColor;
    QTimer *m_pressTimer = nullptr;
    int m_pressCount = 0;
    int m_lastPressed = -1;
};

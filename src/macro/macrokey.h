#pragma once

#include "macro/datakey.h"
#include "macro/timelinemodel.h"

#include <QPoint>
#include <QString>
#include <QWidget>

class QAbstractButton;
class QLineEdit;

// One key event of a macro's timeline: the key's picture (or name) in a frame
// that tells press from release, the delay field before it when the event
// waits, the dot marking the partner of the selected event, the total time of
// the pressed event, and small buttons for the edits. The widget holds a copy
// of its event for drawing; the timeline's model owns the data and every rule,
// so every action only goes out as a signal.
//
//   | delay column (only with a delay) | event column                  |
//   |               [x]                | [clock] [+] [-]   (selected)  |
//   |            [ 100 ]               |  frame with the key picture   |
//   |  ====== axis (delay span) ====== | [<]      dot      [>]         |
//   |                                  |        total time             |
class Key : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kEventWidth = 50;
    static constexpr int kDelayWidth = 48;
    static constexpr int kHeight = 90;
    static constexpr int kAxisY = 71; // the time axis the timeline draws behind its keys
    static constexpr int kDragStep = 20;

    // What the cap shows: a picture file (already resolved) or a text.
    struct Face
    {
        QString pictureFile;
        QString text;
    };

    explicit Key(const TimelineEvent &event, QWidget *parent = nullptr);
    ~Key() override;

    quint64 id() const { return m_event.id; }
    const DataKey &dataKey() const { return m_event.key; }
    const TimelineEvent &event() const { return m_event; }
    bool isDown() const { return m_event.key.isDown(); }

    // Takes the event as the model has it now (delay, key, labels).
    void setEvent(const TimelineEvent &event, const Face &face);
    // Width the event needs: its column, plus the delay column with a delay.
    int neededWidth() const;

    // Selection as the model has it: `pressed` is the event the user pressed
    // (its buttons and total time show), `partner` its other half (its dot
    // and delete button show). `totalMs` is shown on the pressed event.
    void setSelection(bool pressed, bool partner, qint64 totalMs);
    bool isSelected() const { return m_pressed || m_partner; }
    bool isPressed() const { return m_pressed; }
    bool isPartner() const { return m_partner; }
    // The warning blink's state; a marked event shows its selected frame.
    void setWarning(bool on);
    bool isWarning() const { return m_warning; }
    void setMarked(bool on);
    bool isMarked() const { return m_marked; }
    // The add-delay button stays hidden until the event is pressed again.
    void hideAddDelayButton();

    // Frame picture shown now: "down.svg", "up-select.svg", "down-warning.svg", ...
    QString framePicture() const;
    // The partner's dot, "dot-down.svg" / "dot-up.svg"; empty when none shows.
    QString dotPicture() const;
    // The total-time text of the pressed event; empty on other events.
    QString totalText() const;
    QString faceText() const { return m_face.text; }
    QString facePicture() const { return m_face.pictureFile; }

    // The delay field (null until the event first has a delay).
    QLineEdit *delayEdit() const { return m_delayEdit; }
    // Opens the delay field with its text selected (after a delay is added).
    void focusDelay();
    void setLanguage(int langType);

    // The action buttons (null until first needed), for the timeline's tests.
    enum Action
    {
        AddDelay,
        DeleteDelay,
        AddPair,
        DeletePair,
        MovePerv,
        MoveNext,
        ActionCount
    };
    QAbstractButton *button(Action action) const { return m_buttons[action]; }
    // Where a button of the event column sits, in widget coordinates.
    QRect buttonRect(Action action) const;

Q_SIGNALS:
    void emitPressed(Key *key);
    void emitDoubleClicked(Key *key);
    void emitAction(Key *key, int action);
    // The user typed in the delay field (digits only).
    void emitDelayEdited(Key *key, const QString &text);
    void emitDelayEditFinished(Key *key);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    int columnX() const { return hasDelay() ? kDelayWidth : 0; }
    bool hasDelay() const { return m_event.key.delay != 0; }
    QRect frameRect() const;
    void ensureDelayEdit();
    QAbstractButton *ensureButton(Action action);
    void updateControls();
    void updateToolTips();

    TimelineEvent m_event;
    Face m_face;
    bool m_pressed = false;
    bool m_partner = false;
    bool m_warning = false;
    bool m_marked = false;
    bool m_addDelayHidden = false;
    qint64 m_totalMs = 0;
    int m_langType = 1;

    QLineEdit *m_delayEdit = nullptr;
    QAbstractButton *m_buttons[ActionCount] = {};

    // Dragging: the press position, moved on by each step taken.
    bool m_dragging = false;
    int m_dragAnchorX = 0;
};

#pragma once

#include "macro/datakey.h"
#include "macro/timelinemodel.h"
#include "widget/keydesc.h"

#include <QHash>
#include <QPointer>
#include <QVector>
#include <QWidget>

#include <cstdint>

class Key;
class KeyBtn;
class QLabel;
class QTimer;
class QToolButton;
class StaticDialog;

// The timeline of one macro: its key events left to right in time order on
// an axis from "0" to "time/ms", scroll arrows at both ends, and below a
// legend and the number of frames the macro needs on the keyboard. It owns
// the macro's MacroTimeline; every user action goes to the model, and the
// Key widgets are brought in line with the model's answer (a refused edit
// blinks the offending pair). Keys are kept by event id, so nothing here ever
// holds an index or a Key across edits.
//
// (The drawn keyboard is KeyLayout; this is the macro editor's timeline.)
class MacroKeyLayout : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kAxisStart = 20;   // room for the "0" before the first event
    static constexpr int kExtraWidth = 150; // scroll width = events + this
    static constexpr int kArrowWidth = 16;
    static constexpr int kFooterHeight = 16;
    static constexpr int kScrollStep = 10;     // px per press of a scroll arrow
    static constexpr int kHoldScrollStep = 4;  // px per tick while held
    static constexpr int kHoldDelayMs = 90;    // before a held arrow repeats
    static constexpr int kHoldIntervalMs = 10; // repeat interval
    static constexpr int kWarningIntervalMs = 30;
    static constexpr int kWarningTicks = 10;

    explicit MacroKeyLayout(QWidget *parent = nullptr);
    ~MacroKeyLayout() override;

    MacroTimeline &model() { return m_model; }
    const MacroTimeline &model() const { return m_model; }

    // Appends one event (the keyboard's recording, the staged drawing of a
    // stored macro). Only the new Key is placed; the others stay as they are.
    void createKey(int status, int delay, uint16_t code, uint16_t type, uint16_t stype,
                   bool scrollToIt = false);
    // Replaces every event.
    void setEvents(const QVector<DataKey> &events);
    void clear();
    QVector<DataKey> dataKeys() const { return m_model.dataKeys(); }
    int framesNeeded() const { return m_model.framesNeeded(); }

    // The page's bulk delay: every non-zero delay takes the value.
    void setKeyDelayEidtTimeAll(int ms);
    // Removes unpaired events (when a recording stops).
    void checkoutKeyDuad();
    // Releases the selected events (another macro was selected).
    void releaseSelection();
    void scrollToStart();
    void scrollToEnd();
    // Brings the Keys in line with the model after the page changed it directly.
    void refresh();

    // Names and pictures of events come from the palette's descriptions (the
    // first with the same type, stype and code). The vector must outlive the
    // timeline or be replaced; null forgets it.
    void setLabelSource(const QVector<KeyDesc> *statics);
    // 0 Chinese, anything else English.
    void setLanguage(int langType);

    // ---- for the page and tests ----
    // The Keys in model order.
    const QVector<Key *> &keys() const { return m_order; }
    Key *keyAt(int index) const { return m_order.value(index); }
    Key *keyById(quint64 id) const { return m_keys.value(id); }
    int scrollValue() const { return m_scroll; }
    int maximumScroll() const;
    int contentWidth() const;
    QLabel *framesLabel() const { return m_framesLabel; }
    QToolButton *leftArrow() const { return m_left; }
    QToolButton *rightArrow() const { return m_right; }
    bool warningActive() const;
    // The key chooser while it is open.
    StaticDialog *chooser() const;

public Q_SLOTS:
    // User actions, from the Keys.
    void keyPressed(Key *key);
    void keyDoubleClicked(Key *key);
    void keyAction(Key *key, int action);
    void keyDelayEdited(Key *key, const QString &text);
    void keyDelayEditFinished(Key *key);
    // A double click on a key of the chooser.
    void staticDialogDoubleClicked(KeyBtn *key);
    // One tick of the warning blink.
    void warningTimerAcation();

Q_SIGNALS:
    // The user pressed the timeline or one of its events.
    void keyLayoutPressed();
    // The user changed the macro.
    void emitChanged();
    // The number of frames the macro needs changed.
    void framesChanged(int frames);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void buildUi();
    Key *makeKey(const TimelineEvent &event);
    void syncKey(Key *key, const TimelineEvent &event);
    void relayout();
    void placeTail();
    void syncSelection();
    void updateFrames();
    void updateLegend();
    // What a Done edit by the user brings about; a refused one blinks.
    void apply(const TimelineResult &result);
    void startWarningKeyMessage(quint64 first, quint64 second);
    void restoreWarningPair();
    void clearMarks();
    void openChooser(int index);
    bool released() const;
    StaticKeyLabel labelOf(const KeyBtn *key) const;
    const KeyDesc *descOf(uint16_t type, uint16_t stype, uint16_t code) const;
    void setScroll(int x);
    void startHold(int direction);
    void stopHold();

    MacroTimeline m_model;
    const QVector<KeyDesc> *m_statics = nullptr;
    int m_langType = 1;

    QHash<quint64, Key *> m_keys; // by event id
    QVector<Key *> m_order;       // model order
    int m_eventsEnd = kAxisStart;
    int m_frames = -1;
    bool m_framesOver = false;

    // Layout: [<] viewport with the scrolled canvas [>], footer below.
    QWidget *m_viewport = nullptr;
    QWidget *m_canvas = nullptr;
    QLabel *m_zeroLabel = nullptr;
    QLabel *m_timeArrow = nullptr;
    QLabel *m_timeLabel = nullptr;
    QToolButton *m_left = nullptr;
    QToolButton *m_right = nullptr;
    QLabel *m_legendDown = nullptr;
    QLabel *m_legendUp = nullptr;
    QLabel *m_legendDelay = nullptr;
    QLabel *m_framesLabel = nullptr;
    int m_scroll = 0;
    QTimer *m_holdDelay = nullptr;
    QTimer *m_holdRepeat = nullptr;
    int m_holdDirection = 0;

    // The warning blink: the pair by event id, so it never touches a Key
    // that an edit removed meanwhile.
    QTimer *m_warningTimer = nullptr;
    quint64 m_warnFirst = 0;
    quint64 m_warnSecond = 0;
    int m_warningTick = 0;
    QVector<quint64> m_marked; // the last blinked pair, showing its select pictures

    QPointer<StaticDialog> m_chooser;
};

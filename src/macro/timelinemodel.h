#pragma once

// The model of one macro's timeline: its key events in time order and every
// rule the editor enforces on them (selection and partners, pairs, the key
// chooser's limits, delays, moves, same-key spacing, removal of unpaired
// events). The timeline widget draws it and forwards clicks; each operation
// reports what happened so the widget can redraw or blink.
//
// Positions are list indexes. Each event also carries an id that stays the
// same while the event exists (moves, inserts and removals elsewhere do not
// change it), so a widget can keep its Key objects by id.

#include "macro/datakey.h"
#include "macro/macrocodec.h"
#include "widget/keydesc.h"

#include <QString>
#include <QVector>

#include <cstdint>
#include <functional>

// One event of the timeline: the key event and the labels the editor shows.
struct TimelineEvent
{
    DataKey key;
    QString name = QStringLiteral(" ");
    QString alias = QStringLiteral(" ");
    QString image;
    quint64 id = 0;
};

// A key's identity in the static key table.
struct KeyId
{
    uint16_t type = 0;
    uint16_t stype = 0;
    uint16_t code = 0;

    bool operator==(const KeyId &o) const
    {
        return type == o.type && stype == o.stype && code == o.code;
    }
    static KeyId of(const DataKey &k) { return KeyId{k.type, k.stype, k.code}; }
};

struct TimelineResult
{
    enum Outcome
    {
        Nothing, // no change
        Done,    // the timeline changed
        Refused  // not allowed: blink the two events
    };
    Outcome outcome = Nothing;
    // Refused: the offending pair, earlier event first (indexes; nothing moved).
    int blinkFirst = -1;
    int blinkSecond = -1;
    // Done: where the event operated on stands now (moves, delays, a new pair's
    // down event, an assigned pair's down event); -1 otherwise.
    int index = -1;
    // Events (by id) whose add-delay button hides: they got a delay from the
    // same-key spacing, or were swapped with delay 0. Ids of events a later
    // step of the same operation removed may be among them.
    QVector<quint64> hideAddDelay;

    bool done() const { return outcome == Done; }
    bool refused() const { return outcome == Refused; }
};

struct SelectResult
{
    bool found = false;   // the pressed event has a partner
    int pressed = -1;     // the pressed event
    int partner = -1;     // its partner (shows its dot), -1 when not found
    qint64 totalTime = 0; // sum of the delays up to and including the pressed event
};

struct ChooserLimits
{
    bool open = false; // false: the event has no partner, no chooser opens
    int down = -1;     // the pair the chooser applies to
    int up = -1;
    QVector<KeyId> banned; // keys that cannot be chosen

    bool allows(const KeyId &key) const { return !banned.contains(key); }
};

class MacroTimeline
{
public:
    // Labels of a key (name, alias, image) from the static key table.
    using LabelLookup = std::function<StaticKeyLabel(const KeyId &key)>;

    static constexpr uint16_t kSpacingMs = MacroCodec::kSameKeySpacingMs; // same-key spacing
    static constexpr uint16_t kAddedDelayMs = 10;                         // a delay the user adds
    static constexpr uint16_t kNewPairUpDelayMs = 50;                     // up event of a new pair
    static constexpr uint16_t kMaxDelay = DataKey::kMaxDelay;

    // ---- contents ----
    int size() const { return m_events.size(); }
    bool isEmpty() const { return m_events.isEmpty(); }
    const TimelineEvent &at(int index) const { return m_events.at(index); }
    const QVector<TimelineEvent> &events() const { return m_events; }
    QVector<DataKey> dataKeys() const;
    int indexOf(quint64 id) const; // -1 when gone
    void setLabelLookup(LabelLookup lookup) { m_lookup = std::move(lookup); }

    // Appends one event (delay held within 0..65535); returns its index.
    int createKey(int status, int delay, uint16_t code, uint16_t type, uint16_t stype);
    void clear();

    // ---- partners, selection, time ----
    // Down event: the first later event of the same key that is an up event;
    // up event: the nearest earlier down event of the same key. -1: unpaired.
    int getListOtherKey(int index) const;
    // Selects the event and its partner, releasing every other event.
    SelectResult keyPressed(int index);
    void releaseAll();
    bool isSelected(int index) const;
    int selectedIndex() const;   // the pressed event, -1 when none
    int selectedPartner() const; // its partner, -1 when none
    // Sum of the delays of the events from the first up to and including `index`.
    qint64 totalTimeAt(int index) const;
    qint64 totalTime() const;
    // Frames the macro needs on the keyboard (at most MacroCodec::kMaxFrames fit).
    int framesNeeded() const;

    // ---- pairs and keys ----
    // Inserts an empty pair (down with delay 0, up with delay 50) after
    // `index`; -1 inserts it at the start.
    TimelineResult createDoubleKey(int index);
    // Removes the event and its partner, then spaces same-key neighbours and
    // removes unpaired events.
    TimelineResult deleteDoubleKey(int index);
    // Opens the key chooser for the pair of the double-clicked event: the pair
    // is selected and remembered, and the keys it cannot take are listed.
    ChooserLimits keyDoubleClicked(int index);
    // The key picked in the chooser goes to the pair remembered when it
    // opened; a banned key is ignored. Closes the chooser.
    TimelineResult staticDialogDoubleClicked(const StaticKeyLabel &key);
    void closeChooser();
    bool chooserOpen() const { return m_chooserDown != 0; }

    // ---- editor rules ----
    // A neighbour of the same key with delay 0 gets kSpacingMs.
    TimelineResult checkoutKeyDelay();
    // Removes every unpaired event; its delay goes to the event after it.
    TimelineResult checkoutKeyDuad();

    // ---- delays ----
    TimelineResult addDelay(int index);            // the delay becomes 10 ms
    TimelineResult setDelay(int index, qint64 ms); // held within 0..65535
    // Removes the delay. Refused (blink) for a press right after the release
    // of its key and for a release right after any event of its key; a
    // release at the very start keeps its delay.
    TimelineResult keyDelayHideLineEdit(int index);
    // Every non-zero delay takes the value (held at 65535); below 1 nothing
    // changes, as 0 would put every event of the macro at one moment.
    TimelineResult setKeyDelayEidtTimeAll(qint64 ms);

    // ---- moves ----
    // Moves an event one place later / earlier, or onto the moment of its
    // neighbour when one of them has a delay. Refused (blink) onto the other
    // half of its own pair. The events around keep their moment: a delay that
    // changes hands is added to the receiver's (at most 65535, the rest stays
    // put), so the total time changes only by the same-key spacing, or when
    // the last event moves onto the one before it (the macro ends earlier).
    TimelineResult moveNextKey(int index);
    TimelineResult movePervKey(int index);

private:
    bool valid(int index) const { return index >= 0 && index < m_events.size(); }
    TimelineEvent makeEvent(const DataKey &key);
    void setDelayAt(int index, uint16_t delay);
    TimelineResult clearDelay(int index);
    // Adds the delay of `from` to `to`, at most 65535; the rest stays on `from`.
    void handOver(int from, int to);
    void swapAt(int a, int b);
    void removeAt(int index);
    void spacing(int index, TimelineResult *result);
    void invalidate() { m_cacheValid = false; }
    void refreshCache() const;

    QVector<TimelineEvent> m_events;
    quint64 m_nextId = 1;
    quint64 m_selected = 0; // ids; 0 = none
    quint64 m_partner = 0;
    quint64 m_chooserDown = 0;
    quint64 m_chooserUp = 0;
    QVector<KeyId> m_chooserBanned;
    LabelLookup m_lookup;

    // Frame count and total time, kept up to date by appends and recomputed
    // after any other change when next asked for.
    mutable bool m_cacheValid = true;
    mutable MacroCodec::FrameBuilder m_frames;
    mutable qint64 m_total = 0;
};

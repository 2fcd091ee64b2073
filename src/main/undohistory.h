#pragma once

#include "device/wirerecords.h"

#include <QByteArray>
#include <QObject>
#include <QVector>

#include <cstdint>
#include <functional>

class Device;

// One change made to the keyboard from the pages, with the value before and
// after it: what the write that made it needs, and what undoing it writes.
struct KeyboardEdit
{
    enum Kind
    {
        KeyCode,    // a key's kc_t record in a key map (remap, lock key, reset)
        KeyColour,  // a key's colour in a colour map
        KeyMode,    // a key's lighting mode in a mode map
        ModeRecord, // a lighting-mode record (the parameter dialog's Apply)
        KeyMap,     // the active key map
        ColourMap,  // the active colour map
        ModeMap     // the active mode map
    };

    // The value of one kind; only the member of the edit's kind is used.
    struct Value
    {
        kc_t keyCode{};   // KeyCode: the whole record, lock bit and byte 3 included
        uint32_t rgb = 0; // KeyColour: 0xffRRGGBB (Device::getKRRgb, setKRRgb)
        uint8_t mode = 0; // KeyMode: the mode byte (Device::setLM)
        la_t record{};    // ModeRecord: the whole 12-byte record
        int map = -1;     // KeyMap, ColourMap, ModeMap: the map number
    };

    Kind kind = KeyCode;
    bool valid = false;
    int map = -1;   // KeyCode, KeyColour, KeyMode: the map the key's value lives in
    int index = -1; // KeyCode, KeyColour, KeyMode: the key; ModeRecord: the mode number
    Value before;
    Value after;

    // Before and after are the same: nothing to write, nothing to undo.
    bool isNoOp() const;

    // Edits of what `device` holds now into `after`, in its active map; not
    // valid without a device or for a key or record it does not have.
    static KeyboardEdit remap(Device *device, int key, const kc_t &after);
    static KeyboardEdit colour(Device *device, int key, uint32_t rgb);
    static KeyboardEdit mode(Device *device, int key, uint8_t mode);
    static KeyboardEdit modeRecord(Device *device, const la_t &after);
    static KeyboardEdit keyMapSwitch(Device *device, int map);
    static KeyboardEdit colourMapSwitch(Device *device, int map);
    static KeyboardEdit modeMapSwitch(Device *device, int map);
};

// The edits made to one keyboard in this run, for undo and redo.
//
// A step is one or more edits made by one action (a remap, painting a key
// with colour and mode, "Reset map"). Undo writes the step's earlier values
// (last edit first), redo its later ones, through a writer the page supplies:
// it writes one value to the keyboard and shows it, and returns the
// keyboard's status (WK_SUCCESS or an error). A write the keyboard refuses
// leaves the history as it was: the edits of the step already written are
// written back, and the refusal is returned. A new step drops the steps that
// could be redone; the oldest steps go beyond the capacity.
//
// Writes a writer makes while the history calls it are not recorded, so the
// page may write through its usual paths.
class UndoHistory : public QObject
{
    Q_OBJECT

public:
    using Writer =
        std::function<uint32_t(const KeyboardEdit &edit, const KeyboardEdit::Value &value)>;
    static constexpr int kDefaultCapacity = 100;

    explicit UndoHistory(QObject *parent = nullptr);
    ~UndoHistory() override;

    // The keyboard the history belongs to (its device id); another keyboard
    // starts with an empty history.
    void setKeyboard(const QByteArray &deviceId);
    QByteArray keyboard() const { return m_keyboard; }
    // Forgets every step (the keyboard went away).
    void clear();

    void setCapacity(int steps); // at least 1
    int capacity() const { return m_capacity; }

    // Records a step already written. Edits that change nothing or are not
    // valid are left out; a step left empty records nothing.
    void record(const KeyboardEdit &edit);
    void record(const QVector<KeyboardEdit> &step);
    // Writes the step's later values, then records it. A refusal writes the
    // edits already made back and records nothing. WK_ERROR_OUT_OF_RANGE for
    // a step with nothing to write.
    uint32_t perform(const KeyboardEdit &edit, const Writer &writer);
    uint32_t perform(const QVector<KeyboardEdit> &step, const Writer &writer);

    bool canUndo() const { return m_position > 0; }
    bool canRedo() const { return m_position < m_steps.size(); }
    int undoCount() const { return m_position; }
    int redoCount() const { return int(m_steps.size()) - m_position; }
    // The step undo / redo would write (empty when there is none).
    QVector<KeyboardEdit> nextUndo() const;
    QVector<KeyboardEdit> nextRedo() const;

    // WK_SUCCESS, the writer's refusal (the history unchanged), or
    // WK_ERROR_OUT_OF_RANGE when there is nothing to undo or redo or no writer.
    uint32_t undo(const Writer &writer);
    uint32_t redo(const Writer &writer);

    // Writes `value` of `edit` to `device`: the device part of a writer. A
    // key's value goes into the edit's map, which is made active first when
    // the keyboard shows another one (the page then shows that map).
    static uint32_t writeToDevice(Device *device, const KeyboardEdit &edit,
                                  const KeyboardEdit::Value &value);

Q_SIGNALS:
    // Steps were recorded, undone, redone or dropped.
    void changed();

private:
    // Writes the step's values (later ones forward, or earlier ones
    // backward); on a refusal writes back what it wrote. The status.
    uint32_t writeStep(const QVector<KeyboardEdit> &step, bool forward, const Writer &writer);
    void append(QVector<KeyboardEdit> step);

    QByteArray m_keyboard;
    QVector<QVector<KeyboardEdit>> m_steps;
    int m_position = 0; // steps before it can be undone, from it on redone
    int m_capacity = kDefaultCapacity;
    bool m_writing = false;
    quint64 m_generation = 0; // changes when the history is cleared
};

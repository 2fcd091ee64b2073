#include "main/undohistory.h"

#include "device/device.h"

#include <QDebug>

#include <algorithm>
#include <cstring>

namespace {

bool sameBytes(const void *a, const void *b, size_t n)
{
    return std::memcmp(a, b, n) == 0;
}

KeyboardEdit mapSwitch(KeyboardEdit::Kind kind, Device *device, int current, int map)
{
    KeyboardEdit e;
    e.kind = kind;
    e.valid = device != nullptr && current >= 0 && map >= 0;
    e.before.map = current;
    e.after.map = map;
    return e;
}

// Makes `map` the keyboard's active map of one kind when it is not, and
// reads it, as the selector rows do.
uint32_t activate(Device *device, int active, int map, uint32_t (Device::*set)(unsigned char),
                  uint32_t (Device::*read)())
{
    if (active == map)
        return WK_SUCCESS;
    if (map < 0 || map > 0xFF)
        return WK_ERROR_OUT_OF_RANGE;
    const uint32_t st = (device->*set)(static_cast<unsigned char>(map));
    if (st != WK_SUCCESS)
        return st;
    return (device->*read)();
}

} // namespace

bool KeyboardEdit::isNoOp() const
{
    switch (kind) {
    case KeyCode:
        return sameBytes(&before.keyCode, &after.keyCode, sizeof(kc_t));
    case KeyColour:
        return (before.rgb & 0xFFFFFF) == (after.rgb & 0xFFFFFF);
    case KeyMode:
        return before.mode == after.mode;
    case ModeRecord:
        return sameBytes(&before.record, &after.record, sizeof(la_t));
    case KeyMap:
    case ColourMap:
    case ModeMap:
        return before.map == after.map;
    }
    return true;
}

KeyboardEdit KeyboardEdit::remap(Device *device, int key, const kc_t &after)
{
    KeyboardEdit e;
    e.kind = KeyCode;
    e.index = key;
    e.after.keyCode = after;
    if (!device || key < 0 || key >= device->kcCount() || !device->keyCodes())
        return e;
    e.valid = true;
    e.map = device->curKCM();
    e.before.keyCode = device->keyCode(key);
    return e;
}

KeyboardEdit KeyboardEdit::colour(Device *device, int key, uint32_t rgb)
{
    KeyboardEdit e;
    e.kind = KeyColour;
    e.index = key;
    // The keyboard keeps no alpha; what it reads back is opaque.
    e.after.rgb = 0xFF000000u | rgb;
    if (!device || key < 0 || key >= device->krCount() || !device->keyColours())
        return e;
    e.valid = true;
    e.map = device->curKRM();
    e.before.rgb = device->getKRRgb(key);
    return e;
}

KeyboardEdit KeyboardEdit::mode(Device *device, int key, uint8_t mode)
{
    KeyboardEdit e;
    e.kind = KeyMode;
    e.index = key;
    e.after.mode = mode;
    if (!device || key < 0 || key >= device->lmCount() || !device->modes())
        return e;
    e.valid = true;
    e.map = device->curLMM();
    e.before.mode = device->modes()[key];
    return e;
}

KeyboardEdit KeyboardEdit::modeRecord(Device *device, const la_t &after)
{
    KeyboardEdit e;
    e.kind = ModeRecord;
    e.index = after.modeNumber();
    e.after.record = after;
    const la_t *current = device ? device->laRecord(e.index) : nullptr;
    if (!current)
        return e;
    e.valid = true;
    e.before.record = *current;
    return e;
}

KeyboardEdit KeyboardEdit::keyMapSwitch(Device *device, int map)
{
    return mapSwitch(KeyMap, device, device ? device->curKCM() : -1, map);
}

KeyboardEdit KeyboardEdit::colourMapSwitch(Device *device, int map)
{
    return mapSwitch(ColourMap, device, device ? device->curKRM() : -1, map);
}

KeyboardEdit KeyboardEdit::modeMapSwitch(Device *device, int map)
{
    return mapSwitch(ModeMap, device, device ? device->curLMM() : -1, map);
}

// ---------------------------------------------------------------------------

UndoHistory::UndoHistory(QObject *parent) : QObject(parent) {}

UndoHistory::~UndoHistory() = default;

void UndoHistory::setKeyboard(const QByteArray &deviceId)
{
    if (deviceId == m_keyboard)
        return;
    clear();
    m_keyboard = deviceId;
}

void UndoHistory::clear()
{
    ++m_generation;
    const bool had = !m_steps.isEmpty();
    m_steps.clear();
    m_position = 0;
    if (had)
        Q_EMIT changed();
}

void UndoHistory::setCapacity(int steps)
{
    m_capacity = std::max(1, steps);
    const int excess = int(m_steps.size()) - m_capacity;
    if (excess <= 0)
        return;
    m_steps.remove(0, excess);
    m_position = std::max(0, m_position - excess);
    Q_EMIT changed();
}

void UndoHistory::append(QVector<KeyboardEdit> step)
{
    step.erase(std::remove_if(step.begin(), step.end(),
                              [](const KeyboardEdit &e) { return !e.valid || e.isNoOp(); }),
               step.end());
    if (step.isEmpty())
        return;
    m_steps.resize(m_position); // the steps that could be redone
    m_steps.append(step);
    if (m_steps.size() > m_capacity)
        m_steps.remove(0, int(m_steps.size()) - m_capacity);
    m_position = int(m_steps.size());
    Q_EMIT changed();
}

void UndoHistory::record(const KeyboardEdit &edit)
{
    record(QVector<KeyboardEdit>{edit});
}

void UndoHistory::record(const QVector<KeyboardEdit> &step)
{
    // The writes of an undo or redo are that step, not a new one.
    if (m_writing)
        return;
    append(step);
}

uint32_t UndoHistory::perform(const KeyboardEdit &edit, const Writer &writer)
{
    return perform(QVector<KeyboardEdit>{edit}, writer);
}

uint32_t UndoHistory::perform(const QVector<KeyboardEdit> &step, const Writer &writer)
{
    QVector<KeyboardEdit> edits;
    for (const KeyboardEdit &e : step) {
        if (e.valid && !e.isNoOp())
            edits.append(e);
    }
    if (edits.isEmpty() || !writer || m_writing)
        return WK_ERROR_OUT_OF_RANGE;
    const quint64 generation = m_generation;
    const uint32_t st = writeStep(edits, true, writer);
    if (st == WK_SUCCESS && generation == m_generation)
        append(edits);
    return st;
}

QVector<KeyboardEdit> UndoHistory::nextUndo() const
{
    return canUndo() ? m_steps.at(m_position - 1) : QVector<KeyboardEdit>();
}

QVector<KeyboardEdit> UndoHistory::nextRedo() const
{
    return canRedo() ? m_steps.at(m_position) : QVector<KeyboardEdit>();
}

uint32_t UndoHistory::undo(const Writer &writer)
{
    if (!canUndo() || !writer || m_writing)
        return WK_ERROR_OUT_OF_RANGE;
    const quint64 generation = m_generation;
    const uint32_t st = writeStep(m_steps.at(m_position - 1), false, writer);
    // A history cleared meanwhile (the keyboard went away) stays empty.
    if (st == WK_SUCCESS && generation == m_generation) {
        --m_position;
        Q_EMIT changed();
    }
    return st;
}

uint32_t UndoHistory::redo(const Writer &writer)
{
    if (!canRedo() || !writer || m_writing)
        return WK_ERROR_OUT_OF_RANGE;
    const quint64 generation = m_generation;
    const uint32_t st = writeStep(m_steps.at(m_position), true, writer);
    if (st == WK_SUCCESS && generation == m_generation) {
        ++m_position;
        Q_EMIT changed();
    }
    return st;
}

uint32_t UndoHistory::writeStep(const QVector<KeyboardEdit> &stepRef, bool forward,
                                const Writer &writer)
{
    // A copy: the writer may clear the history while it runs.
    const QVector<KeyboardEdit> step = stepRef;
    m_writing = true;
    const int n = int(step.size());
    auto valueOf = [forward](const KeyboardEdit &e, bool ahead) -> const KeyboardEdit::Value & {
        return ahead == forward ? e.after : e.before;
    };
    uint32_t st = WK_SUCCESS;
    int done = 0;
    for (; done < n; ++done) {
        const KeyboardEdit &e = step.at(forward ? done : n - 1 - done);
        st = writer(e, valueOf(e, true));
        if (st != WK_SUCCESS)
            break;
    }
    if (st != WK_SUCCESS) {
        // Take back what this step wrote, newest first.
        for (int k = done - 1; k >= 0; --k) {
            const KeyboardEdit &e = step.at(forward ? k : n - 1 - k);
            const uint32_t back = writer(e, valueOf(e, false));
            if (back != WK_SUCCESS)
                qWarning("undo history: taking back edit %d of a refused step failed, status %x", k,
                         back);
        }
    }
    m_writing = false;
    return st;
}

uint32_t UndoHistory::writeToDevice(Device *device, const KeyboardEdit &edit,
                                    const KeyboardEdit::Value &value)
{
    if (!device || !edit.valid)
        return WK_ERROR_OUT_OF_RANGE;
    const bool keyInRange = edit.index >= 0 && edit.index <= 0xFF;
    const auto key = static_cast<unsigned char>(edit.index);
    uint32_t st = WK_SUCCESS;
    switch (edit.kind) {
    case KeyboardEdit::KeyCode:
        if (!keyInRange)
            return WK_ERROR_OUT_OF_RANGE;
        st = activate(device, device->curKCM(), edit.map, &Device::setCurKCMID, &Device::getCurKCM);
        if (st != WK_SUCCESS)
            return st;
        return device->setKC(key, key, reinterpret_cast<const unsigned char *>(&value.keyCode));
    case KeyboardEdit::KeyColour:
        if (!keyInRange)
            return WK_ERROR_OUT_OF_RANGE;
        st = activate(device, device->curKRM(), edit.map, &Device::setCurKRMID, &Device::getCurKRM);
        if (st != WK_SUCCESS)
            return st;
        return device->setKRRgb(key, value.rgb);
    case KeyboardEdit::KeyMode:
        if (!keyInRange)
            return WK_ERROR_OUT_OF_RANGE;
        st = activate(device, device->curLMM(), edit.map, &Device::setCurLMMID, &Device::getCurLMM);
        if (st != WK_SUCCESS)
            return st;
        return device->setLM(key, key, &value.mode);
    case KeyboardEdit::ModeRecord: {
        la_t record = value.record;
        return device->setLAItem(&record);
    }
    case KeyboardEdit::KeyMap:
    case KeyboardEdit::ColourMap:
    case KeyboardEdit::ModeMap:
        break;
    }
    // A map switch writes even when the model already names the map.
    if (value.map < 0 || value.map > 0xFF)
        return WK_ERROR_OUT_OF_RANGE;
    switch (edit.kind) {
    case KeyboardEdit::KeyMap:
        return activate(device, -1, value.map, &Device::setCurKCMID, &Device::getCurKCM);
    case KeyboardEdit::ColourMap:
        return activate(device, -1, value.map, &Device::setCurKRMID, &Device::getCurKRM);
    case KeyboardEdit::ModeMap:
        return activate(device, -1, value.map, &Device::setCurLMMID, &Device::getCurLMM);
    default:
        return WK_ERROR_OUT_OF_RANGE;
    }
}

#pragma once

#include "main/undohistory.h"
#include "widget/keybtn.h"
#include "widget/keydefaults.h"
#include "widget/keydesc.h"
#include "widget/keysearch.h"
#include "widget/keyusage.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

class Data;
class Device;
class QFrame;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;
class QScrollArea;
class QWidget;
struct BoardInfo;

// The drawn keyboards of the key page and the remapping between them: the
// board of the connected keyboard (each key shows what it does now), the
// palette of every assignable key below it, and the key-map selector row.
// Selecting a board key and clicking a palette key writes that key's code
// into the current key map of the keyboard.
//
// Above the palette: a search field (matching keys stay, the others fade;
// Enter assigns the first match) and "Press a key", which takes the next key
// pressed on the computer's keyboard. Board keys whose code differs from the
// keyboard's default carry a mark; "Reset key" (context menu) and "Reset map"
// write the defaults back. Every edit of the keyboard made from the pages
// goes into the undo history kept here.
class KeyLayout : public QObject
{
    Q_OBJECT

public:
    // `boardArea` receives the drawn board and the selector row, `palettePage`
    // the scrollable palette.
    KeyLayout(Data *data, const QVector<BoardInfo *> *boards, QWidget *boardArea,
              QWidget *palettePage, QObject *parent = nullptr);
    ~KeyLayout() override;

    // Reads the static layout and draws the palette (unlabelled until a
    // layout version is chosen).
    bool loadStaticLayout();
    void drawStaticLayout(QVector<KeyBtn *> *keys);

    // The loaded keyboard (null when none), and whether pages may act.
    void setDevice(Device *device);
    // The main window's flag: pages act only while it is set.
    void setInitLockSource(const bool *lock) { m_initLockSource = lock; }

    void createDynamicKeybtn();
    void drawDynamicLayout(int boardIndex);
    void drawKeyCode();
    void initDynamicKeyBtnSignalsOrSlot();
    void deleteDynamicKeybtn();
    void deleteOperaterKeyBtn();
    void createGlobuleKeyLayer();
    void deleteGlobuleKeyLayer();
    void setFrameGlobuleKeyShow(bool show);
    void setDynamicKeyTextShowType(KeyBtn::TextShow show);
    void KeyBtnToolTip(bool enabled);
    void setDynamicKeyUnsetCursor();
    // Remapping happens on the key page only: elsewhere (the colour page
    // shows the same board) board and palette clicks select and write nothing.
    void setRemapEnabled(bool enabled);
    bool remapEnabled() const { return m_remapEnabled; }

    // Keyboard notifications.
    // Presses selector button `map` as if the user had; false when none exists.
    bool pressKeyMapButton(int map);
    // Lock states: records in the kc_t layout at every byte offset.
    void applyLockStates(const QByteArray &payload);

    // For the main window and tests.
    const QVector<KeyBtn *> &dynamicKeys() const { return m_vDynamicKeyBtn; }
    const QVector<KeyBtn *> &staticKeys() const { return m_vStaticKeyBtn; }
    // The palette keys' descriptions, labelled for the layout version shown.
    const QVector<KeyDesc> &staticDescs() const { return m_staticDescs; }
    const QVector<QPushButton *> &globuleKeys() const { return m_vGlobuleKey; }
    KeyBtn *selectedKey() const { return m_pkeyBtn; }
    KeyBtn *selectedStaticKey() const { return m_pStaticKeyBtn; }
    QWidget *boardFrame() const;
    // The table the palette is labelled from ("" until a version is chosen).
    QString staticTable() const { return m_staticTable; }
    // The line above the palette that says what to do next.
    QLabel *hintLabel() const { return m_hint; }
    // The look of a map selector button (the key-map row and the lighting rows).
    static void styleGlobuleKey(QPushButton *button, bool selected);
    // A map selector row: a caption and `count` round buttons numbered from
    // 0, none selected (null when there are no maps).
    static QFrame *buildMapRow(QWidget *parent, const QString &name, int count,
                               QVector<QPushButton *> *buttons, QLabel **caption);
    // The caption of the key-map selector row (null while there is no row).
    QLabel *keyMapLabel() const { return m_globuleLabel; }

    // The edits of the loaded keyboard made in this run.
    UndoHistory *history() const { return m_history; }
    // Writes one value of the history to the keyboard and shows what the
    // keyboard then holds (on every page showing the board).
    UndoHistory::Writer historyWriter();
    // An undo (redo) button in the look of the map selector rows, enabled
    // while `history` can undo (redo).
    static QPushButton *createHistoryButton(QWidget *parent, UndoHistory *history, bool redo);

    QLineEdit *searchField() const { return m_search; }
    // Palette positions the search text names, best first (empty: no search).
    const QVector<int> &searchMatches() const { return m_matches; }
    QPushButton *pressKeyButton() const { return m_pressKey; }
    bool pressKeyArmed() const { return m_armed; }
    QPushButton *undoButton() const { return m_undoButton; }
    QPushButton *redoButton() const { return m_redoButton; }
    QPushButton *resetMapButton() const { return m_resetMapButton; }
    // The loaded board's default key map (empty without a board).
    const KeyDefaults &defaults() const { return m_defaults; }
    // The context menu of a board key ("Reset key"); null off the key page.
    // The caller shows it; it deletes itself when closed.
    QMenu *createKeyMenu(KeyBtn *key);

public Q_SLOTS:
    void clickKeyBtnSlot(KeyBtn *key);
    void clickKeyBtnStaticSlot(KeyBtn *key);
    void keyCodeSlot(KeyBtn *staticKey);
    void unsetCursorKeySlot();
    void unsetCursorSlot();
    void globuleKeyPressedSlot();
    void layoutVersionWinSlot();
    void layoutVersionMacSlot();
    void layoutVersionAutoSlot();
    void SetLanguage(int langType);

    void searchSlot(const QString &text);
    // The first match of the search goes to the selected board key (one write).
    bool assignFirstMatch();
    void clearSearch();
    void focusSearch();
    // "Press a key": while armed the next key pressed in the window selects
    // the palette key with its usage and assigns it to the selected board key.
    void setPressKeyArmed(bool armed);
    // A key pressed (or released) while armed; true when it was taken.
    bool pressKeyEvent(const KeyPress &press, bool release = false);
    // Writes the default code back to board key `index` (one write); false
    // when its default is unknown, it has it already or the keyboard refused.
    bool resetKey(int index);
    // "Reset map": asks, then writes the defaults back to every changed key.
    void resetMapSlot();
    bool resetMap();
    // Write the previous (next) value and show it; false when there is
    // nothing to undo (redo) or the keyboard refused.
    bool undo();
    bool redo();

Q_SIGNALS:
    // The key-function page should let go of its selected board key.
    void emitReleaseKeySelection();
    // The key map shown changed (after a selector button).
    void keyMapChanged(int map);
    // The history wrote to the keyboard: pages showing lighting refresh.
    void historyWritten();
    // The keyboard refused an undo or redo; the history is unchanged.
    void historyRefused(uint32_t status);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    enum class Hint
    {
        PickBoardKey,   // nothing selected
        PickPaletteKey, // a board key is selected
        SelectFirst,    // a palette key was clicked with nothing selected
        Note            // a note of the search, "Press a key" or the history
    };
    void showHint(Hint hint);
    void showNote(const QString &text, bool warning = false);
    void labelStatic(const QString &table);
    void buildToolbar(QWidget *parent);
    // Undo, redo and "Reset map" at the end of the key-map row.
    void addHistoryControls();
    // The palette's lock key, which flips the lock bit instead of sending a code.
    static bool isLockKey(const KeyBtn *key);
    void applyTexts();
    // Shows key i of the board as the keyboard holds it, with its mark.
    void showKeyCode(int i, const QVector<KeyBtn *> &palette);
    void styleKeyMapRow();
    void updateHistoryButtons();
    // The key's name as the palette shows it now (for notes and tool tips).
    QString paletteName(int index) const;
    QString pressedName(const KeyPress &press) const;
    bool assignPalette(int index, const QString &done);
    // Shows what a history write changed: the written key, or the whole
    // board and the map rows when a map was switched or lighting was written.
    void showWritten(const KeyboardEdit &edit, bool keyMapSwitched);
    // undo() (redo() when `redo`): writes and shows, or explains a refusal.
    bool stepHistory(bool redo);
    bool zh() const { return m_langType == 0; }

    Data *m_data = nullptr;
    const QVector<BoardInfo *> *m_boards = nullptr;
    QWidget *m_boardArea = nullptr;
    QWidget *m_palettePage = nullptr;
    QPointer<Device> m_ptrDevice;
    const bool *m_initLockSource = nullptr;
    bool initLock() const { return m_initLockSource && *m_initLockSource; }

    QVector<KeyDesc> m_staticDescs;
    QVector<KeyBtn *> m_vStaticKeyBtn;
    QVector<KeyBtn *> m_vDynamicKeyBtn;
    QFrame *m_boardFrame = nullptr;
    QScrollArea *m_paletteScroll = nullptr;
    QWidget *m_paletteContent = nullptr;
    QString m_staticTable;
    QLabel *m_hint = nullptr;
    Hint m_hintShown = Hint::PickBoardKey;
    int m_langType = 1;
    bool m_remapEnabled = true;

    KeyBtn *m_pkeyBtn = nullptr;
    KeyBtn *m_prevKeyBtn = nullptr;
    KeyBtn *m_pStaticKeyBtn = nullptr;
    KeyBtn *m_prevStaticKeyBtn = nullptr;

    QFrame *m_globuleFrame = nullptr;
    QLabel *m_globuleLabel = nullptr;
    QHBoxLayout *m_hGlobuleKeyLayout = nullptr;
    QVector<QPushButton *> m_vGlobuleKey;
    QPushButton *m_undoButton = nullptr;
    QPushButton *m_redoButton = nullptr;
    QPushButton *m_resetMapButton = nullptr;

    UndoHistory *m_history = nullptr;
    bool m_fromKeyboard = false; // a map switch the keyboard made itself
    KeyDefaults m_defaults;
    KeySearch m_searchIndex;
    bool m_searchLoaded = false;
    // Enter assigned a match and the text is unchanged since: Ctrl+Z in the
    // field means that assignment, not the typing.
    bool m_searchAssigned = false;
    QWidget *m_toolbar = nullptr;
    QLineEdit *m_search = nullptr;
    QVector<int> m_matches;
    QPushButton *m_pressKey = nullptr;
    bool m_armed = false;
    KeyPressMatch m_heldModifier; // a modifier pressed while armed, assigned on release
    bool m_asking = false;        // "Reset map" waits for its answer
};

#pragma once

#include "widget/keybtn.h"
#include "widget/keydesc.h"

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
class QPushButton;
class QScrollArea;
class QWidget;
struct BoardInfo;

// The drawn keyboards of the key page and the remapping between them: the
// board of the connected keyboard (each key shows what it does now), the
// palette of every assignable key below it, and the key-map selector row.
// Selecting a board key and clicking a palette key writes that key's code
// into the current key map of the keyboard.
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

Q_SIGNALS:
    // The key-function page should let go of its selected board key.
    void emitReleaseKeySelection();
    // The key map shown changed (after a selector button).
    void keyMapChanged(int map);

private:
    enum class Hint
    {
        PickBoardKey,   // nothing selected
        PickPaletteKey, // a board key is selected
        SelectFirst     // a palette key was clicked with nothing selected
    };
    void showHint(Hint hint);
    void labelStatic(const QString &table);

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
};

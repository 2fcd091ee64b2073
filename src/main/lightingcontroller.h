#pragma once

#include "main/undohistory.h"

#include <QColor>
#include <QObject>
#include <QPointer>
#include <QVector>

class Color;
class Device;
class KeyBtn;
class KeyLayout;
class QFrame;
class QLabel;
class QPushButton;
class QWidget;

// The lighting side of the drawn keyboard: painting clicked keys with the
// lighting page's colour and mode, the colour-map and mode-map selector rows
// under the board, the brush cursors over the keys, and the keyboard's own
// map changes. The screen shows only what the keyboard accepted.
class LightingController : public QObject
{
    Q_OBJECT

public:
    LightingController(KeyLayout *keys, QWidget *boardArea, QWidget *dialogParent,
                       QObject *parent = nullptr);
    ~LightingController() override;

    // The loaded keyboard and its lighting page (null when there is none).
    void setDevice(Device *device, Color *page);
    // The lighting page of the loaded keyboard, built after it loaded.
    void setPage(Color *page);
    Color *page() const { return m_page; }
    // The lighting page is shown (or not): selector rows, mode legends and
    // painting follow it.
    void setShown(bool shown);
    bool isShown() const { return m_shown; }

    bool setKeyColor(int index, const QColor &color);
    bool setKeyMode(int index, int mode);
    void createGlobuleColorLayer();
    void deleteGlobuleColorLayer();
    void createGlobuleModeLayer();
    void deleteGlobuleModeLayer();
    void onKRMChange();
    void onLMMChange();

    // Keyboard notifications: press selector button `map` as the user would.
    bool pressColourMapButton(int map);
    bool pressModeMapButton(int map);

    const QVector<QPushButton *> &colourGlobules() const { return m_colourGlobules; }
    const QVector<QPushButton *> &modeGlobules() const { return m_modeGlobules; }
    // The undo and redo buttons of the lighting page (null without a row).
    QPushButton *undoButton() const { return m_undoButton; }
    QPushButton *redoButton() const { return m_redoButton; }
    // Shows the keyboard's colours, modes and active maps (after an undo).
    void showDeviceState();

public Q_SLOTS:
    void receiveRequestColorSlot(int index);
    void globuleColorPressedSlot();
    void globuleModePressedSlot();
    void setCursorColorSlot(const QColor &color);
    void setCursorModeSlot(int mode);
    void unsetCursorColorSlot();
    void unsetCursorModeSlot();
    void SetLanguage(int langType);

private:
    // Position of the drawn key with this vector index, or -1.
    int keyPosition(int index) const;
    QFrame *createRow(const QString &name, int count, int current, QVector<QPushButton *> *buttons,
                      QLabel **caption, void (LightingController::*slot)());
    void setKeysCursor(const QCursor &cursor);
    void connectKeys();
    // Says once per keyboard that a lighting write failed.
    void reportFailure(const QString &what, uint32_t status);
    void applyRowTexts();
    void addHistoryButtons(QFrame *row);
    // Records an edit the keyboard took: into the click's step while one is
    // collected, else as a step of its own.
    void recordEdit(const KeyboardEdit &edit);

    KeyLayout *m_keys = nullptr;
    QWidget *m_boardArea = nullptr;
    QWidget *m_dialogParent = nullptr;
    QPointer<Device> m_device;
    QPointer<Color> m_page;
    bool m_shown = false;
    bool m_failureShown = false;
    int m_langType = 1;

    QFrame *m_colourRow = nullptr;
    QLabel *m_colourCaption = nullptr;
    QVector<QPushButton *> m_colourGlobules;
    QFrame *m_modeRow = nullptr;
    QLabel *m_modeCaption = nullptr;
    QVector<QPushButton *> m_modeGlobules;
    QPushButton *m_undoButton = nullptr;
    QPushButton *m_redoButton = nullptr;
    QVector<KeyboardEdit> *m_step = nullptr; // the edits of one click
    bool m_fromKeyboard = false;             // a map switch the keyboard made itself
};

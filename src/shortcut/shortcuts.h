#pragma once

#include "shortcut/kfcatalogue.h"
#include "shortcut/shortcutsfile.h"
#include "shortcut/shortcutsparameter.h"
#include "widget/keybtn.h"
#include "widget/keydesc.h"

#include <QList>
#include <QPointer>
#include <QVector>
#include <QWidget>

class Device;
class QLabel;
class QScrollArea;
class QTimer;
class QToolButton;
class QVBoxLayout;
class QxtGlobalShortcut;
class ShortcutsItem;
class ShortcutsKB;

// The key-function page: the keyboard's key functions, one row each, with
// Add, Download and Delete. It carries out the host side of the functions
// (web site, document or program, folder) when the keyboard reports one,
// and offers the same actions in the Virtual Keyboard window (Ctrl+D).
class Shortcuts : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMaxItems = 32;
    static constexpr int kCreateTickMs = 100;
    static constexpr int kMaxMacros = 16; // the macro page shows at most 16

    explicit Shortcuts(QWidget *parent = nullptr);
    ~Shortcuts() override;

    // Loads everything for a newly loaded keyboard: the function catalogue
    // `catalogueFile` (in the configuration directory), the host data in
    // `shortcutsPath`, then one row per function in use, created one per
    // tick. Returns -1 when the catalogue cannot be read.
    int createKF(const QString &catalogueFile, const QString &shortcutsPath, Device *device,
                 const QVector<KeyDesc> *statics);
    // The keyboard goes away: stops the creation and removes every row.
    void closeDevice();

    // Writes the shortcuts file from `items`: 0 on success, -1 before the
    // page has finished loading, -2 when the file cannot be written (or is
    // an unreadable file that is kept).
    int save(const QList<ShortcutsItem *> &items, const QString &path);
    int save();

    bool isLoaded() const { return m_loaded; }
    QList<ShortcutsItem *> items() const { return m_items; }
    const QVector<KF> &catalogue() const { return m_catalogue; }
    const QVector<STCTS> &stcts() const { return m_stcts; }
    ShortcutsKB *virtualKeyboard() const { return m_kb; }
    QxtGlobalShortcut *hotKey() const { return m_hotKey; }
    QTimer *createTimer() const { return m_createTimer; }
    QToolButton *addButton() const { return m_addButton; }
    QToolButton *downloadButton() const { return m_downloadButton; }
    QToolButton *deleteButton() const { return m_deleteButton; }
    QScrollArea *scrollArea() const { return m_scroll; }
    // The board key picked for the trigger keys (null when none).
    KeyBtn *boardKey() const { return m_boardKey; }

    // The macros the macro boxes offer, in the macro page's order: the
    // keyboard's used heads at loading, then what the macro page reports.
    QVector<MacroChoice> macroChoices() const { return m_macroChoices; }

public Q_SLOTS:
    void itemAddButtonSlot();
    void itemDownloadButtonSlot();
    void itemDeleteButtonSlot();
    void requestSaveSlot();
    void createItemSlot();
    // The keyboard reports a key-function key with the entry's id and hi.
    void onNotify(int id, int hi);
    // A key of the drawn board was clicked while this page is shown.
    void boardKeyClicked(KeyBtn *key);
    void shortcutsItemReleaseSelectDynamicLayoutKey();
    void shortcutsItemBtnMouseTimerReleaseSlot(bool release);
    void parameterBtnReleaseSlot(bool release);
    void updateMacroComboboxAddItem(const QString &name);
    void updateMacroComboboxRemoveItem(int index);
    void updateMacroComboboxSetItemText(int index, const QString &name);
    void SetLanguage(int langType);

protected:
    void hideEvent(QHideEvent *event) override;

private:
    ShortcutsItem *createItem(int entryIndex, const STCTS *stcts, bool newEntry);
    STCTS lookupStcts(quint32 id, quint32 hi, bool *found);
    // Number of the stored macro a row chose, or -1 when it no longer exists.
    int resolveMacro(int number, const QString &name) const;
    QVector<MacroChoice> storedMacros() const;
    void rebuildVirtualKeyboard();
    void toggleVirtualKeyboard();
    void updateButtons();
    void updateEmptyHint();
    bool hasFreeEntry() const;
    void finishCreation();
    void reportFailures(const QStringList &rows, uint32_t writeError);
    void saveAfterChange();

    QPointer<Device> m_device;
    const QVector<KeyDesc> *m_statics = nullptr;
    QVector<KF> m_catalogue;
    QVector<STCTS> m_stcts;
    QString m_path;
    QList<ShortcutsItem *> m_items;
    bool m_loaded = false;
    bool m_busy = false;
    bool m_reportedUnreadable = false;
    int m_createIndex = 0;
    int m_langType = 1;
    QVector<MacroChoice> m_macroChoices; // what the macro boxes list, in order
    QList<QPointer<ShortcutsItem>> m_kbItems;

    QTimer *m_createTimer = nullptr;
    QLabel *m_keyHeading = nullptr;
    QLabel *m_functionHeading = nullptr;
    QLabel *m_parameterHeading = nullptr;
    QLabel *m_emptyHint = nullptr;
    QToolButton *m_addButton = nullptr;
    QToolButton *m_downloadButton = nullptr;
    QToolButton *m_deleteButton = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_list = nullptr;
    QVBoxLayout *m_listLayout = nullptr;
    QPointer<KeyBtn> m_boardKey;
    ShortcutsKB *m_kb = nullptr;
    QxtGlobalShortcut *m_hotKey = nullptr;
};

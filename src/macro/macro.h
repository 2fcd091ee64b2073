#pragma once

#include "macro/datakey.h"
#include "macro/macrocodec.h"
#include "widget/keydesc.h"

#include <QList>
#include <QPointer>
#include <QTimer>
#include <QVector>
#include <QWidget>

class Device;
class MacroItem;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QScrollArea;
class QTimer;
class QToolButton;
class QVBoxLayout;

// The macro page: the keyboard's macros, one timeline each, a list of their
// names, and the actions on the selected macro (add, rename, delete, load
// from the keyboard, download to it, the bulk delay).
class Macro : public QWidget
{
    Q_OBJECT

public:
    static constexpr int kMaxItems = 16;
    static constexpr int kDrawTickMs = 50;

    explicit Macro(QWidget *parent = nullptr);
    ~Macro() override;

    // Attaches the loaded keyboard: one macro per used slot. `folder` holds
    // the macro files. `statics` labels the events.
    void setDevice(Device *device, const QString &folder, const QVector<KeyDesc> *statics);
    // The keyboard goes away: drawing stops, the macros go, the files stay.
    void closeDevice();

    QList<MacroItem *> items() const { return m_items; }
    MacroItem *selectedItem() const;
    QComboBox *nameBox() const { return m_nameBox; }
    QLineEdit *renameField() const { return m_renameEdit; }
    QToolButton *addButton() const { return m_addButton; }
    QToolButton *renameButton() const { return m_renameButton; }
    QToolButton *deleteButton() const { return m_deleteButton; }
    QToolButton *otherButton() const { return m_otherButton; }
    QToolButton *downloadButton() const { return m_downloadButton; }
    QToolButton *recordButton() const { return m_recordButton; }
    QCheckBox *bulkDelayBox() const { return m_bulkBox; }
    QLineEdit *bulkDelayField() const { return m_bulkEdit; }
    QTimer *drawTimer() const { return m_drawTimer; }
    bool isDrawing() const { return m_drawTimer && m_drawTimer->isActive(); }
    // The names the key-function page's macro boxes list, in page order.
    QStringList names() const;

    // Reads the macro of slot `id` from the keyboard and decodes it into the
    // events waiting to be drawn. 0 on success.
    uint32_t mframe2key(int id);
    // Encodes `item` and writes it to its slot; the transfer's status.
    uint32_t downloadMacroItem(MacroItem *item);

    // Macro files. saveItem writes `item` to `path` with `id` (-1 for an
    // export): 0, or -2 when it cannot be written. saveMacroItem saves it in
    // the macro folder under its name and clears its unsaved mark on success.
    int saveItem(MacroItem *item, const QString &path, int id);
    int saveMacroItem(MacroItem *item);
    // Reads a file's events into the events waiting to be drawn: 0, -1 (not
    // a macro file), -2 (cannot be opened).
    int readItemXml(const QString &path);
    QString folder() const { return m_folder; }

    bool isRecording() const { return m_recording; }

public Q_SLOTS:
    void addItemSlot();
    void alterButtonSlot();
    void alterEditFinishedSlot();
    void deleteItemSlot();
    void setItemSelect(MacroItem *item);
    void comboboxCurentTextChangedSlot(int index);
    void downloadItemDataSlot();
    void loadDataSlot(MacroItem *item);
    void msecDelaysCheckBoxSlot(bool checked);
    void msecLineEditSlot(const QString &text);
    void SetLanguage(int langType);
    // Export and import; the action slots ask for the file first.
    void exportItemSlot(const QString &path);
    void importItemSlot(const QString &path);
    void exportActionSlot();
    void importActionSlot();
    // Starts (true) or stops (false) recording on the keyboard.
    void recorderItemDataSlot(bool on);
    // One frame the keyboard reported while recording (the notification's payload).
    void getRawData(const QByteArray &frame);

Q_SIGNALS:
    void updateShortcutsComboboxAddItem(const QString &name);
    void updateShortcutsComboboxSetItemText(int index, const QString &name);
    void updateShortcutsComboboxRemoveItem(int index);
    // True while loading (or recording) blocks the rest of the window.
    void emitBanWindowsButton(bool ban);

private:
    MacroItem *createItem(int id, const QString &name);
    void drawNextKey();
    void finishDrawing();
    void stopDrawing();
    void setBanned(bool banned);
    void applyButtonRules();
    void showBulkDelay(MacroItem *item);
    int positionOf(const MacroItem *item) const;
    bool nameTaken(const QString &name, const MacroItem *except) const;
    int freeSlot() const;
    void retranslate();
    void endRecording(bool tellKeyboard);
    void warn(const QString &text);

    QPointer<Device> m_device;
    const QVector<KeyDesc> *m_statics = nullptr;
    QString m_folder;
    QList<MacroItem *> m_items;
    QVector<DataKey> m_vDataKey;
    int m_drawIndex = 0;
    QPointer<MacroItem> m_loadTarget;
    quint32 m_allDelays = 0;
    bool m_recording = false;
    bool m_programmatic = false;
    bool m_banned = false;
    bool m_importing = false;
    int m_truncatedLoad = 0; // frames the head claimed beyond what could be read
    bool m_toldNoFolder = false;
    MacroCodec::LiveDecoder m_live;
    int m_langType = 1;

    QComboBox *m_nameBox = nullptr;
    QLineEdit *m_renameEdit = nullptr;
    QToolButton *m_addButton = nullptr;
    QToolButton *m_renameButton = nullptr;
    QToolButton *m_deleteButton = nullptr;
    QToolButton *m_otherButton = nullptr;
    QMenu *m_otherMenu = nullptr;
    QAction *m_exportAction = nullptr;
    QAction *m_importAction = nullptr;
    QToolButton *m_recordButton = nullptr;
    QToolButton *m_downloadButton = nullptr;
    QCheckBox *m_bulkBox = nullptr;
    QLineEdit *m_bulkEdit = nullptr;
    QLabel *m_msecLabel = nullptr;
    QLabel *m_emptyHint = nullptr;
    QScrollArea *m_scroll = nullptr;
    QWidget *m_list = nullptr;
    QVBoxLayout *m_listLayout = nullptr;
    QTimer *m_drawTimer = nullptr;
};

#pragma once

#include "shortcut/kfcatalogue.h"
#include "shortcut/kfrecord.h"
#include "shortcut/shortcutsfile.h"
#include "shortcut/shortcutsparameter.h"
#include "widget/keybtn.h"
#include "widget/keydesc.h"

#include <QFrame>
#include <QPointer>
#include <QVector>

#include <functional>

class Device;
class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;
class QToolButton;

// One key function of the keyboard as the key-function page shows it: up to
// four trigger keys taken from the drawn board, the key maps it works in, the
// function chosen from the board's catalogue and its parameter. Editing a row
// checks it; "Download" writes checked rows, unchecking one restores it from
// the keyboard and the shortcuts file.
class ShortcutsItem : public QFrame
{
    Q_OBJECT

public:
    // What a row needs from its page: the host data stored for an entry.
    using StctsLookup = std::function<STCTS(quint32 id, quint32 hi, bool *found)>;
    using MacroList = std::function<QVector<MacroChoice>()>;

    // Widths of the "Shortcut key" and "Function" columns (the page's headings follow them).
    static constexpr int kTriggerColumnWidth = 330;
    static constexpr int kFunctionColumnWidth = 210;

    ShortcutsItem(Device *device, int entryIndex, const QVector<KF> *catalogue,
                  const QVector<KeyDesc> *statics, QWidget *parent = nullptr);
    ~ShortcutsItem() override;

    void setStctsLookup(StctsLookup lookup) { m_lookup = std::move(lookup); }
    void setMacroList(MacroList list) { m_macros = std::move(list); }

    // Shows the entry: trigger keys, key maps, function and parameter (the
    // host data from `stcts`, defaults when null). A new row shows the first
    // catalogue function with its defaults.
    void fill(const STCTS *stcts, bool newEntry);

    // The keyboard's entry (null once the keyboard went away).
    kf_t *entry() const;
    int entryIndex() const { return m_index; }
    quint8 entryId() const;
    quint8 entryHi() const;

    // The function as the row shows it now, for download.
    KfRecord::KfFunction function() const;
    // The chosen function's control type (E_SCT_NONE for none or unknown).
    int controlType() const;
    // The web site, document/application or folder of the row.
    QString parameterText() const;
    // The row as the shortcuts file stores it.
    ShortcutsFile::Item fileItem() const;

    bool getSelect() const;
    // Checks or unchecks the row; unchecking restores it unless downloading.
    void setSelect(bool select);
    void setDownloading(bool downloading) { m_downloading = downloading; }
    // Draws the row with an error border until it is checked or unchecked again.
    void setError(bool error);
    bool hasError() const { return m_error; }

    // For the page and tests.
    QVector<KeyBtn *> triggerButtons() const { return m_btnList; }
    KeyBtn *pendingKey() const { return m_pendingKey; }
    QComboBox *functionBox() const { return m_function; }
    ShortcutsParameter *parameter() const { return m_parameter; }
    QCheckBox *checkBox() const { return m_checkBox; }
    QVector<QPushButton *> layerToggles() const { return m_toggles; }
    QToolButton *globuleButton() const { return m_globuleButton; }
    QToolButton *addKeyButton() const { return m_addKey; }
    QToolButton *deleteKeyButton() const { return m_deleteKey; }
    // The trigger buttons currently show the forbidden cursor.
    bool triggerCursorForbidden() const;

    void setLanguage(int langType);
    // Function names as the catalogue gives them, in the current language.
    static QString functionName(const KF &function, int langType);

public Q_SLOTS:
    void dynClickKeySlot(KeyBtn *key);
    void setBtnSlot(KeyBtn *button);
    void addBtnSlot();
    void deleteBtnSlot();
    void checkBoxSlot(bool checked);
    void setFunctionTextSlot(int index);
    void globuleChangeSlot();
    void globuleButtonSlot(bool shown);
    void executeCommandSlot();
    // Forgets the pending board key.
    void releasePendingKey();
    void btnMouseTimerReleaseSlot(bool release);

    // The macro page added, removed or renamed a macro.
    void updateMacroComboboxAddItem(const MacroChoice &macro);
    void updateMacroComboboxRemoveItem(int index);
    void updateMacroComboboxSetItemText(int index, const QString &name);

Q_SIGNALS:
    void emitRequestSave();
    void emitBtnMouseTimerRelease(bool release);
    void emitParameterBtnRelease(bool release);

private:
    void buildUi();
    void layoutTriggerButtons();
    void setTriggerCursor(bool forbidden);
    void showTriggerKeys();
    void showFunction(int hi);
    void rebuildParameter(const STCTS *stcts, bool useEntry);
    void markEdited();
    void undo();
    int catalogueIndexOf(int hi) const;
    void updateFrame();

    QPointer<Device> m_device;
    int m_index = -1;
    const QVector<KF> *m_catalogue = nullptr;
    const QVector<KeyDesc> *m_statics = nullptr;
    StctsLookup m_lookup;
    MacroList m_macros;
    int m_langType = 1;

    QCheckBox *m_checkBox = nullptr;
    QVector<KeyBtn *> m_btnList; // display order
    QVector<QLabel *> m_separators;
    QToolButton *m_addKey = nullptr;
    QToolButton *m_deleteKey = nullptr;
    QPointer<KeyBtn> m_pendingKey;
    KeyBtn *m_selectedBtn = nullptr;
    QToolButton *m_globuleButton = nullptr;
    QWidget *m_globuleRow = nullptr;
    QLabel *m_globuleCaption = nullptr;
    QVector<QPushButton *> m_toggles;
    QComboBox *m_function = nullptr;
    ShortcutsParameter *m_parameter = nullptr;
    QTimer *m_banTimer = nullptr;

    // The function number stored on the keyboard when the catalogue does not
    // know it: kept until the user chooses a function.
    int m_unknownHi = -1;
    bool m_loaded = false;
    bool m_downloading = false;
    bool m_updating = false;
    bool m_error = false;
    bool m_forbidden = true;
};

#pragma once

#include "shortcut/kfcatalogue.h"
#include "shortcut/kfrecord.h"
#include "widget/keydesc.h"

#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>
#include <QWidget>

class KeyBtn;
class QComboBox;
class QHBoxLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QToolButton;
class StaticDialog;

// A stored macro the macro box offers: its name and its number on the keyboard
// (-1 when only the name is known).
struct MacroChoice
{
    QString name;
    int number = -1;
};

// The "Parameter setting" column of one key-function row: the widgets of the
// chosen function's control type, filled from the keyboard's entry and the
// shortcuts file, and read back for download and for the file.
class ShortcutsParameter : public QWidget
{
    Q_OBJECT

public:
    ShortcutsParameter(const QVector<KeyDesc> *statics, QWidget *parent = nullptr);

    // Rebuilds the widgets for `controlType`. `function` gives the options of
    // an LED-brightness function; `values` and `text` fill the widgets.
    void build(int controlType, const KF *function, const KfRecord::KfFunction &values,
               const QString &text, const QVector<MacroChoice> &macros);
    int controlType() const { return m_type; }

    // Web site, document/application or folder field.
    QString text() const;
    // Option, key list, macro and swap values into `f`.
    void exportTo(KfRecord::KfFunction *f) const;
    int optionIndex() const;
    // Names of the key-list slots in use (" " for an empty one), nine entries.
    QStringList keyListNames() const;
    QString macroName() const;
    int macroNumber() const;
    int macroCount() const;
    // The key-list slots in use.
    int keyListCount() const { return m_listShown; }
    QVector<KeyBtn *> keyListButtons() const { return m_list; }
    QLineEdit *textField() const { return m_text; }
    QComboBox *optionBox() const { return m_options; }
    QComboBox *macroBox() const { return m_macro; }
    QLineEdit *countField() const { return m_count; }
    QLineEdit *swapField(int i) const { return i == 0 ? m_swap1 : m_swap2; }
    QToolButton *listAddButton() const { return m_listAdd; }
    QToolButton *listDeleteButton() const { return m_listDel; }
    QPushButton *chooserButton() const { return m_choose; }

    // The macro page added, removed or renamed a macro.
    void addMacro(const MacroChoice &macro);
    void removeMacro(int index);
    void renameMacro(int index, const QString &name);

    void setLanguage(int langType);

public Q_SLOTS:
    void addReplBtnSlot();
    void delReplBtnSlot();
    void saveSelectBtnSlot(KeyBtn *key);
    void doubleClickSlot(KeyBtn *key);
    void staticDoubleClickSlot(KeyBtn *key);
    void parameterBtnReleaseSlot(bool release);

Q_SIGNALS:
    // The user changed a value.
    void changed();

private:
    void clear();
    void buildText(const QString &text, bool chooser, bool folder);
    void buildOptions(const KF *function, int index);
    void buildKeyList(const KfRecord::KfFunction &values);
    void buildMacro(const KfRecord::KfFunction &values, const QVector<MacroChoice> &macros);
    void buildSwap(int first, int second);
    void layoutKeyList();
    void updateListButtons();
    void chooseFile();
    void swapEdited(QLineEdit *edited, QLineEdit *other, QString *previous);
    bool refusedForList(const KeyBtn *key) const;
    void setChanged();
    void retranslate();

    const QVector<KeyDesc> *m_statics = nullptr;
    int m_type = E_SCT_NONE;
    int m_langType = 1;
    bool m_filling = false;
    QHBoxLayout *m_layout = nullptr;

    QLineEdit *m_text = nullptr;
    QPushButton *m_choose = nullptr;
    bool m_folderChooser = false;
    QComboBox *m_options = nullptr;
    QVector<HI> m_optionSource;
    QVector<KeyBtn *> m_list;
    QWidget *m_listRow = nullptr;
    int m_listShown = 0;
    KeyBtn *m_listSelected = nullptr;
    QToolButton *m_listAdd = nullptr;
    QToolButton *m_listDel = nullptr;
    QPointer<StaticDialog> m_dialog;
    QComboBox *m_macro = nullptr;
    QLineEdit *m_count = nullptr;
    QLabel *m_timesLabel = nullptr;
    QLineEdit *m_swap1 = nullptr;
    QLineEdit *m_swap2 = nullptr;
    QString m_swapPrevious1;
    QString m_swapPrevious2;
};

#include "shortcut/shortcutsparameter.h"

#include "main/apppaths.h"
#include "widget/data.h"
#include "widget/dialogs.h"
#include "widget/keybtn.h"
#include "widget/staticdialog.h"

#include <algorithm>

#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QToolButton>

namespace {
constexpr int kListKeys = kf_t::kListKeys;
const char kErrorBorder[] = "border-color: #e06c75;";

// Shows the palette key matching `record` on `key` (an empty key without a match).
void showStaticKey(KeyBtn *key, const kc_t &record, const QVector<KeyDesc> *statics)
{
    KeyDesc desc;
    Data::selectStaticBtn(&desc, record, statics);
    key->setIdentity(desc.type, desc.stype, desc.code);
    key->setImage(desc.image);
    key->setText(desc.image.isEmpty() ? desc.name : QString());
    key->setAlias(desc.alias);
    key->setAliasMode(true);
    key->setToolTip(desc.name.trimmed().isEmpty() ? desc.alias : desc.name);
}

void clearKey(KeyBtn *key)
{
    key->setIdentity(0, 0, 0);
    key->setImage(QString());
    key->setText(QStringLiteral(" "));
    key->setAlias(QStringLiteral(" "));
    key->setToolTip(QString());
}

bool isEmptyKey(const KeyBtn *key)
{
    return key->getType() == 0 && key->getStype() == 0 && key->getCode() == 0;
}

QToolButton *roundButton(const QString &picture, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setFixedSize(20, 20);
    button->setCursor(Qt::PointingHandCursor);
    button->setIcon(QIcon(AppPaths::imagesDir() + QStringLiteral("shortcut/") + picture));
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    return button;
}
} // namespace

ShortcutsParameter::ShortcutsParameter(const QVector<KeyDesc> *statics, QWidget *parent)
    : QWidget(parent), m_statics(statics)
{
    setObjectName(QStringLiteral("parameter"));
    m_layout = new QHBoxLayout(this);
    m_layout->setContentsMargins(0, 0, 0, 0);
    m_layout->setSpacing(6);
}

void ShortcutsParameter::clear()
{
    if (m_dialog) {
        m_dialog->hide();
        m_dialog->deleteLater();
    }
    while (QLayoutItem *item = m_layout->takeAt(0)) {
        if (QWidget *w = item->widget()) {
            w->hide();
            w->deleteLater();
        }
        delete item;
    }
    m_text = nullptr;
    m_choose = nullptr;
    m_options = nullptr;
    m_list.clear();
    m_listRow = nullptr;
    m_listShown = 0;
    m_listSelected = nullptr;
    m_listAdd = m_listDel = nullptr;
    m_macro = nullptr;
    m_count = nullptr;
    m_timesLabel = nullptr;
    m_swap1 = m_swap2 = nullptr;
}

void ShortcutsParameter::build(int controlType, const KF *function,
                               const KfRecord::KfFunction &values, const QString &text,
                               const QVector<MacroChoice> &macros)
{
    m_filling = true;
    clear();
    m_type = controlType;
    switch (controlType) {
    case E_SCT_WEB:
        buildText(text, false, false);
        break;
    case E_SCT_DOCAPP:
        buildText(text, true, false);
        break;
    case E_SCT_FOLDER:
        buildText(text, true, true);
        break;
    case E_SCT_LEDBRI:
        buildOptions(function, values.param1);
        break;
    case E_SCT_REPKEY:
    case E_SCT_LOCKKEY:
        buildKeyList(values);
        break;
    case E_SCT_MACRO:
        buildMacro(values, macros);
        break;
    case E_SCT_SWAP:
        buildSwap(values.param1, values.param2);
        break;
    default:
        break;
    }
    m_layout->addStretch(1);
    retranslate();
    m_filling = false;
}

void ShortcutsParameter::setChanged()
{
    if (!m_filling)
        Q_EMIT changed();
}

void ShortcutsParameter::buildText(const QString &text, bool chooser, bool folder)
{
    m_text = new QLineEdit(text, this);
    m_text->setObjectName(QStringLiteral("parameterText"));
    m_text->setMinimumWidth(260);
    m_text->setCursorPosition(0);
    m_layout->addWidget(m_text, 1);
    connect(m_text, &QLineEdit::textChanged, this, &ShortcutsParameter::setChanged);
    if (chooser) {
        m_folderChooser = folder;
        m_choose = new QPushButton(QStringLiteral("…"), this);
        m_choose->setObjectName(QStringLiteral("chooseButton"));
        m_choose->setFixedWidth(34);
        m_layout->addWidget(m_choose);
        connect(m_choose, &QPushButton::clicked, this, &ShortcutsParameter::chooseFile);
    }
}

void ShortcutsParameter::chooseFile()
{
    Dialogs::FileRequest request;
    request.mode = m_folderChooser ? Dialogs::FileMode::Directory : Dialogs::FileMode::Open;
    request.caption = m_folderChooser ? QStringLiteral("Open Folder existion directory")
                                      : QStringLiteral("Open Folder");
    request.directory =
        m_text && !m_text->text().trimmed().isEmpty() ? m_text->text().trimmed() : QDir::homePath();
    const QPointer<ShortcutsParameter> self(this);
    const QString path = Dialogs::file(this, request);
    // The row may have been rebuilt or released while the chooser was open.
    if (!self || Dialogs::isReleased(this) || path.isEmpty() || !m_text)
        return;
    m_text->setText(path);
}

void ShortcutsParameter::buildOptions(const KF *function, int index)
{
    m_options = new QComboBox(this);
    m_options->setObjectName(QStringLiteral("optionBox"));
    m_options->setMinimumWidth(160);
    m_optionSource = function ? function->options : QVector<HI>();
    for (const HI &option : qAsConst(m_optionSource))
        m_options->addItem(option.name, option.value);
    m_options->setCurrentIndex(index >= 0 && index < m_options->count() ? index : -1);
    m_layout->addWidget(m_options);
    connect(m_options, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ShortcutsParameter::setChanged);
}

void ShortcutsParameter::buildKeyList(const KfRecord::KfFunction &values)
{
    m_listRow = new QWidget(this);
    auto *row = new QHBoxLayout(m_listRow);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(3);
    for (int i = 0; i < kListKeys; ++i) {
        auto *key = new KeyBtn(m_listRow);
        key->setObjectName(QStringLiteral("listKey%1").arg(i));
        key->setLook(KeyBtn::PaletteLook);
        key->setFixedSize(40, 34);
        key->setCursor(Qt::PointingHandCursor);
        showStaticKey(key, values.list[i], m_statics);
        if (isEmptyKey(key))
            clearKey(key);
        connect(key, &KeyBtn::emitClickKeyBtnSignal, this, &ShortcutsParameter::saveSelectBtnSlot);
        connect(key, &KeyBtn::emitDoubleClick, this, &ShortcutsParameter::doubleClickSlot);
        row->addWidget(key);
        m_list.append(key);
    }
    // Slots in use come first; a slot whose key is all zero is not in use.
    std::stable_partition(m_list.begin(), m_list.end(),
                          [](const KeyBtn *k) { return !isEmptyKey(k); });
    m_listShown = 0;
    for (const KeyBtn *key : qAsConst(m_list))
        m_listShown += isEmptyKey(key) ? 0 : 1;
    if (m_listShown == 0)
        m_listShown = 1;
    m_layout->addWidget(m_listRow);
    m_listAdd = roundButton(QStringLiteral("plus.svg"), this);
    m_listAdd->setObjectName(QStringLiteral("listAddButton"));
    m_listDel = roundButton(QStringLiteral("minus.svg"), this);
    m_listDel->setObjectName(QStringLiteral("listDeleteButton"));
    m_layout->addWidget(m_listAdd);
    m_layout->addWidget(m_listDel);
    connect(m_listAdd, &QToolButton::clicked, this, &ShortcutsParameter::addReplBtnSlot);
    connect(m_listDel, &QToolButton::clicked, this, &ShortcutsParameter::delReplBtnSlot);
    layoutKeyList();
}

void ShortcutsParameter::layoutKeyList()
{
    auto *row = static_cast<QHBoxLayout *>(m_listRow->layout());
    for (int i = 0; i < m_list.size(); ++i) {
        row->removeWidget(m_list.at(i));
        row->insertWidget(i, m_list.at(i));
        m_list.at(i)->setVisible(i < m_listShown);
    }
    updateListButtons();
}

void ShortcutsParameter::updateListButtons()
{
    bool anyEmpty = false;
    for (int i = 0; i < m_listShown; ++i)
        anyEmpty = anyEmpty || isEmptyKey(m_list.at(i));
    m_listAdd->setEnabled(m_listShown < kListKeys && !anyEmpty);
    m_listDel->setEnabled(m_listShown >= 2);
}

void ShortcutsParameter::addReplBtnSlot()
{
    if (m_list.isEmpty() || !m_listAdd->isEnabled())
        return;
    ++m_listShown;
    layoutKeyList();
}

void ShortcutsParameter::delReplBtnSlot()
{
    if (m_list.isEmpty() || m_listShown < 2)
        return;
    KeyBtn *key = m_listSelected && m_list.indexOf(m_listSelected) < m_listShown ? m_listSelected
                                                                                 : m_list.first();
    const bool hadKey = !isEmptyKey(key);
    key->setMoveMarker(true);
    m_listSelected = nullptr;
    clearKey(key);
    m_list.removeOne(key);
    m_list.append(key);
    --m_listShown;
    layoutKeyList();
    if (hadKey)
        setChanged();
}

void ShortcutsParameter::saveSelectBtnSlot(KeyBtn *key)
{
    if (!key || !m_list.contains(key))
        return;
    if (m_listSelected && m_listSelected != key)
        m_listSelected->setMoveMarker(true);
    m_listSelected = key;
    key->setMoveMarker(false);
}

bool ShortcutsParameter::refusedForList(const KeyBtn *key) const
{
    if (!key)
        return true;
    const bool empty = key->getType() == 0 && key->getStype() == 0 && key->getCode() == 0;
    const bool lock =
        key->getType() == 0 && key->getStype() == 0 && key->getCode() == KeyDesc::kLockCode;
    if (empty || lock)
        return true;
    for (int i = 0; i < m_listShown && i < m_list.size(); ++i) {
        const KeyBtn *k = m_list.at(i);
        if (k->getType() == key->getType() && k->getStype() == key->getStype() &&
            k->getCode() == key->getCode())
            return true;
    }
    return false;
}

void ShortcutsParameter::doubleClickSlot(KeyBtn *key)
{
    if (!key || !m_list.contains(key))
        return;
    saveSelectBtnSlot(key);
    if (m_dialog)
        return;
    auto *dialog = new StaticDialog(this);
    m_dialog = dialog;
    // Keys the list may not take are shown, but cannot be picked.
    for (KeyBtn *choice : dialog->keys())
        choice->setEnabled(!refusedForList(choice));
    connect(dialog, &StaticDialog::emitKeyBtnDoubleClicked, this,
            &ShortcutsParameter::staticDoubleClickSlot);
    connect(dialog, &StaticDialog::emitHide, dialog, &QObject::deleteLater);
    const QPointer<ShortcutsParameter> self(this);
    Dialogs::exec(dialog);
    if (dialog == m_dialog.data())
        dialog->deleteLater();
    if (!self)
        return;
}

void ShortcutsParameter::staticDoubleClickSlot(KeyBtn *key)
{
    if (!key || !m_listSelected || !m_list.contains(m_listSelected) || refusedForList(key))
        return;
    qDebug().noquote() << "static double clicked key is [ " << key->getName() << key->getCode()
                       << key->getType() << key->getStype() << " ]";
    kc_t record{};
    record.setType(static_cast<uint8_t>(key->getType()));
    record.setStype(static_cast<uint8_t>(key->getStype()));
    record.setCode(key->getCode());
    showStaticKey(m_listSelected, record, m_statics);
    // The dialog shows the list's keys as unavailable from now on.
    if (m_dialog) {
        for (KeyBtn *choice : m_dialog->keys())
            choice->setEnabled(!refusedForList(choice));
    }
    updateListButtons();
    setChanged();
}

void ShortcutsParameter::parameterBtnReleaseSlot(bool release)
{
    if (!release)
        return;
    if (m_listSelected)
        m_listSelected->setMoveMarker(true);
    m_listSelected = nullptr;
}

void ShortcutsParameter::buildMacro(const KfRecord::KfFunction &values,
                                    const QVector<MacroChoice> &macros)
{
    m_macro = new QComboBox(this);
    m_macro->setObjectName(QStringLiteral("macroBox"));
    m_macro->setMinimumWidth(160);
    int current = -1;
    for (const MacroChoice &m : macros) {
        m_macro->addItem(m.name, m.number);
        if (values.param1 >= 0 && m.number == values.param1 && current < 0)
            current = m_macro->count() - 1;
    }
    m_macro->setCurrentIndex(current);
    m_layout->addWidget(m_macro);
    m_count = new QLineEdit(QString::number(qBound(0, values.param2, 9999)), this);
    m_count->setObjectName(QStringLiteral("countField"));
    m_count->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9][0-9][0-9][0-9]")), m_count));
    m_count->setFixedWidth(60);
    m_layout->addWidget(m_count);
    m_timesLabel = new QLabel(this);
    m_layout->addWidget(m_timesLabel);
    connect(m_macro, QOverload<int>::of(&QComboBox::currentIndexChanged), this, [this](int index) {
        if (index < 0) {
            qDebug() << "macro current index changed slot index = -1 , not changed return!";
            return;
        }
        setChanged();
    });
    connect(m_count, &QLineEdit::textChanged, this, &ShortcutsParameter::setChanged);
}

void ShortcutsParameter::buildSwap(int first, int second)
{
    auto field = [this](int value) {
        auto *edit = new QLineEdit(QString::number(qBound(0, value, 7)), this);
        edit->setValidator(
            new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-7]")), edit));
        edit->setFixedWidth(40);
        edit->setAlignment(Qt::AlignCenter);
        return edit;
    };
    m_swap1 = field(first);
    m_swap1->setObjectName(QStringLiteral("swapFirst"));
    m_swap2 = field(second);
    m_swap2->setObjectName(QStringLiteral("swapSecond"));
    m_swapPrevious1 = m_swap1->text();
    m_swapPrevious2 = m_swap2->text();
    auto *picture = new QLabel(this);
    picture->setPixmap(
        QIcon(AppPaths::imagesDir() + QStringLiteral("shortcut/swap.svg")).pixmap(QSize(22, 22)));
    m_layout->addWidget(m_swap1);
    m_layout->addWidget(picture);
    m_layout->addWidget(m_swap2);
    connect(m_swap1, &QLineEdit::textEdited, this,
            [this] { swapEdited(m_swap1, m_swap2, &m_swapPrevious1); });
    connect(m_swap2, &QLineEdit::textEdited, this,
            [this] { swapEdited(m_swap2, m_swap1, &m_swapPrevious2); });
}

void ShortcutsParameter::swapEdited(QLineEdit *edited, QLineEdit *other, QString *previous)
{
    if (!edited->text().isEmpty() && edited->text() == other->text()) {
        // The two numbers must differ: the edit is taken back.
        const QSignalBlocker block(edited);
        edited->setText(*previous);
        edited->setStyleSheet(QLatin1String("QLineEdit { ") + QLatin1String(kErrorBorder) +
                              QLatin1String(" }"));
        return;
    }
    edited->setStyleSheet(QString());
    *previous = edited->text();
    setChanged();
}

QString ShortcutsParameter::text() const
{
    return m_text ? m_text->text() : QString();
}

int ShortcutsParameter::optionIndex() const
{
    return m_options ? m_options->currentIndex() : -1;
}

QStringList ShortcutsParameter::keyListNames() const
{
    QStringList names;
    for (int i = 0; i < kListKeys; ++i) {
        const KeyBtn *key = i < m_list.size() && i < m_listShown ? m_list.at(i) : nullptr;
        names.append(key && !isEmptyKey(key) ? key->getName() : QStringLiteral(" "));
    }
    return names;
}

QString ShortcutsParameter::macroName() const
{
    return m_macro ? m_macro->currentText() : QString();
}

int ShortcutsParameter::macroNumber() const
{
    if (!m_macro || m_macro->currentIndex() < 0)
        return -1;
    bool ok = false;
    const int number = m_macro->currentData().toInt(&ok);
    return ok ? number : -1;
}

int ShortcutsParameter::macroCount() const
{
    return m_count ? m_count->text().toInt() : 1;
}

void ShortcutsParameter::exportTo(KfRecord::KfFunction *f) const
{
    switch (m_type) {
    case E_SCT_LEDBRI:
        f->param1 = optionIndex();
        break;
    case E_SCT_REPKEY:
    case E_SCT_LOCKKEY:
        f->hasKeyList = !m_list.isEmpty();
        for (int i = 0; i < kListKeys; ++i) {
            kc_t k{};
            if (i < m_listShown && i < m_list.size()) {
                const KeyBtn *key = m_list.at(i);
                k.setType(static_cast<uint8_t>(key->getType()));
                k.setStype(static_cast<uint8_t>(key->getStype()));
                k.setCode(key->getCode());
            }
            f->list[i] = k;
        }
        break;
    case E_SCT_MACRO:
        f->param1 = macroNumber();
        f->param2 = macroCount();
        break;
    case E_SCT_SWAP:
        f->param1 = m_swap1 ? m_swap1->text().toInt() : 1;
        f->param2 = m_swap2 ? m_swap2->text().toInt() : 2;
        break;
    default:
        break;
    }
}

void ShortcutsParameter::addMacro(const MacroChoice &macro)
{
    if (m_macro)
        m_macro->addItem(macro.name, macro.number);
}

void ShortcutsParameter::removeMacro(int index)
{
    if (!m_macro || index < 0 || index >= m_macro->count())
        return;
    // The chosen macro goes: the choice is cleared first.
    if (m_macro->currentIndex() == index) {
        const QSignalBlocker block(m_macro);
        m_macro->setCurrentIndex(-1);
    }
    const QSignalBlocker block(m_macro);
    m_macro->removeItem(index);
}

void ShortcutsParameter::renameMacro(int index, const QString &name)
{
    if (m_macro && index >= 0 && index < m_macro->count())
        m_macro->setItemText(index, name);
}

void ShortcutsParameter::setLanguage(int langType)
{
    m_langType = langType;
    retranslate();
}

void ShortcutsParameter::retranslate()
{
    const bool zh = m_langType == 0;
    for (int i = 0; m_options && i < m_optionSource.size() && i < m_options->count(); ++i) {
        const HI &option = m_optionSource.at(i);
        m_options->setItemText(i, zh && !option.nameZh.isEmpty() ? option.nameZh : option.name);
    }
    if (m_timesLabel)
        m_timesLabel->setText(zh ? QStringLiteral("次") : QStringLiteral("Times"));
    if (m_text) {
        m_text->setPlaceholderText(
            m_type == E_SCT_WEB ? (zh ? QStringLiteral("网址，例如 https://example.com")
                                      : QStringLiteral("Web address, e.g. https://example.com"))
                                : (m_type == E_SCT_FOLDER
                                       ? (zh ? QStringLiteral("文件夹") : QStringLiteral("Folder"))
                                       : (zh ? QStringLiteral("文档或程序")
                                             : QStringLiteral("Document or program"))));
    }
    if (m_choose)
        m_choose->setToolTip(
            m_folderChooser
                ? (zh ? QStringLiteral("选择文件夹") : QStringLiteral("Choose a folder"))
                : (zh ? QStringLiteral("选择文件") : QStringLiteral("Choose a file")));
    if (m_listAdd)
        m_listAdd->setToolTip(zh ? QStringLiteral("添加按键") : QStringLiteral("Add a key"));
    if (m_listDel)
        m_listDel->setToolTip(zh ? QStringLiteral("删除选中的按键")
                                 : QStringLiteral("Remove the selected key"));
    for (KeyBtn *key : qAsConst(m_list)) {
        if (isEmptyKey(key))
            key->setToolTip(zh ? QStringLiteral("双击选择按键")
                               : QStringLiteral("Double-click to choose a key"));
    }
    if (m_macro)
        m_macro->setPlaceholderText(zh ? QStringLiteral("选择宏")
                                       : QStringLiteral("Choose a macro"));
}

#include "shortcut/shortcuts.h"

#include "device/device.h"
#include "device/protocol.h"
#include "globalHook/qxtglobalshortcut.h"
#include "main/apppaths.h"
#include "shortcut/kfrecord.h"
#include "shortcut/shortcutsitem.h"
#include "shortcut/shortcutskb.h"
#include "widget/dialogs.h"
#include "widget/keybtn.h"
#include "widget/styles.h"

#include <QComboBox>
#include <QDebug>
#include <QHBoxLayout>
#include <QHideEvent>
#include <QLabel>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstring>

namespace {
const char kPageStyle[] =
    "QWidget#Shortcuts { background: transparent; }"
    "QLabel { color: #c9ced8; font-size: 10pt; }"
    "QLabel[role=\"heading\"] { color: #9aa3b2; font-size: 9pt; font-weight: 600;"
    "  letter-spacing: 1px; }"
    "QLabel#emptyHint { color: #9aa3b2; font-size: 10pt; }"
    "QLineEdit { background: #1b1d23; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 4px 8px; font-size: 10pt; }"
    "QLineEdit:focus { border-color: #46e6b7; }"
    "QComboBox { background: #1b1d23; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 4px 8px; font-size: 10pt; }"
    "QComboBox:hover { border-color: #46e6b7; }"
    "QComboBox QAbstractItemView { background: #22252d; color: #e8eaed;"
    "  selection-background-color: #2f3640; selection-color: #46e6b7; border: 1px solid #3a3f4b; }"
    "QPushButton#chooseButton { background: #2c313a; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 4px; }"
    "QPushButton#chooseButton:hover { border-color: #46e6b7; }"
    "QCheckBox::indicator { width: 16px; height: 16px; border: 1px solid #4b5160;"
    "  border-radius: 4px; background: #1b1d23; }"
    "QCheckBox::indicator:checked { background: #46e6b7; border-color: #46e6b7; }"
    "QToolButton[role=\"action\"] { color: #e8eaed; background: #2c313a; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 5px 12px; font-size: 10pt; }"
    "QToolButton[role=\"action\"]:hover { border-color: #46e6b7; color: #46e6b7; }"
    "QToolButton[role=\"action\"]:disabled { color: #5c6370; border-color: #2c313a; }"
    "QScrollArea, QWidget#shortcutsList { background: transparent; border: none; }"
    "QScrollBar:vertical { background: #22252d; border-radius: 4px; width: 8px; }"
    "QScrollBar::handle:vertical { background: #46e6b7; border-radius: 4px; min-height: 30px; }"
    "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
    "QScrollBar::add-page, QScrollBar::sub-page { background: none; }";

QIcon actionIcon(const QString &base)
{
    const QString dir = AppPaths::imagesDir() + QStringLiteral("shortcut/");
    QIcon icon(dir + base + QStringLiteral(".svg"));
    icon.addFile(dir + base + QStringLiteral("-hover.svg"), QSize(), QIcon::Active);
    icon.addFile(dir + base + QStringLiteral("-ban.svg"), QSize(), QIcon::Disabled);
    return icon;
}

// A stored macro's name: at most 16 bytes of local 8-bit text.
QString macroHeadName(const km_t &head)
{
    return QString::fromLocal8Bit(head.name, int(strnlen(head.name, km_t::kNameSize)));
}
} // namespace

Shortcuts::Shortcuts(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Shortcuts"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QLatin1String(kPageStyle) + Styles::comboBoxArrow());

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(24, 8, 24, 8);
    page->setSpacing(6);

    auto *header = new QHBoxLayout();
    header->setContentsMargins(10, 0, 10, 0);
    header->setSpacing(8);
    header->addSpacing(33); // the rows' check boxes
    auto heading = [this](int width) {
        auto *label = new QLabel(this);
        label->setProperty("role", QStringLiteral("heading"));
        if (width > 0)
            label->setFixedWidth(width);
        return label;
    };
    m_keyHeading = heading(ShortcutsItem::kTriggerColumnWidth);
    m_functionHeading = heading(ShortcutsItem::kFunctionColumnWidth);
    m_parameterHeading = heading(0);
    header->addWidget(m_keyHeading);
    header->addWidget(m_functionHeading);
    header->addWidget(m_parameterHeading, 1);
    auto action = [this, header](const QString &name, const QString &picture) {
        auto *b = new QToolButton(this);
        b->setObjectName(name);
        b->setProperty("role", QStringLiteral("action"));
        b->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        b->setIcon(actionIcon(picture));
        b->setIconSize(QSize(18, 18));
        b->setCursor(Qt::PointingHandCursor);
        b->setEnabled(false);
        header->addWidget(b);
        return b;
    };
    m_addButton = action(QStringLiteral("addItemButton"), QStringLiteral("item-add"));
    m_downloadButton =
        action(QStringLiteral("downloadItemButton"), QStringLiteral("item-download"));
    m_deleteButton = action(QStringLiteral("deleteItemButton"), QStringLiteral("item-del"));
    connect(m_addButton, &QToolButton::clicked, this, &Shortcuts::itemAddButtonSlot);
    connect(m_downloadButton, &QToolButton::clicked, this, &Shortcuts::itemDownloadButtonSlot);
    connect(m_deleteButton, &QToolButton::clicked, this, &Shortcuts::itemDeleteButtonSlot);
    page->addLayout(header);

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("shortcutsScroll"));
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list = new QWidget();
    m_list->setObjectName(QStringLiteral("shortcutsList"));
    m_listLayout = new QVBoxLayout(m_list);
    m_listLayout->setContentsMargins(0, 0, 6, 0);
    m_listLayout->setSpacing(6);
    m_emptyHint = new QLabel(m_list);
    m_emptyHint->setObjectName(QStringLiteral("emptyHint"));
    m_emptyHint->setAlignment(Qt::AlignCenter);
    m_emptyHint->setWordWrap(true);
    m_emptyHint->hide();
    m_listLayout->addWidget(m_emptyHint);
    m_listLayout->addStretch(1);
    m_scroll->setWidget(m_list);
    page->addWidget(m_scroll, 1);

    m_createTimer = new QTimer(this);
    m_createTimer->setInterval(kCreateTickMs);
    connect(m_createTimer, &QTimer::timeout, this, &Shortcuts::createItemSlot);

    m_kb = new ShortcutsKB(nullptr);
    connect(m_kb, &ShortcutsKB::emitExecute, this, [this](int position) {
        ShortcutsItem *item = m_kbItems.value(position);
        if (item && item->controlType() >= E_SCT_WEB && item->controlType() <= E_SCT_FOLDER)
            item->executeCommandSlot();
    });
    m_hotKey = new QxtGlobalShortcut(this);
    connect(m_hotKey, &QxtGlobalShortcut::activated, this, &Shortcuts::toggleVirtualKeyboard);
    SetLanguage(m_langType);
}

Shortcuts::~Shortcuts()
{
    m_createTimer->stop();
    delete m_kb;
}

// ---- Loading ---------------------------------------------------------------

int Shortcuts::createKF(const QString &catalogueFile, const QString &shortcutsPath, Device *device,
                        const QVector<KeyDesc> *statics)
{
    closeDevice();
    const QString path = AppPaths::configDir() + catalogueFile;
    qDebug().noquote() << "parseKFXML=" << path;
    if (parseKFXML(path, &m_catalogue) != 0) {
        updateEmptyHint();
        return -1;
    }
    m_device = device;
    m_statics = statics;
    m_path = shortcutsPath;
    m_macroChoices = storedMacros();
    if (device)
        m_stcts = createShortcutsLocalData(device->kfRecords(), device->kfCount(), m_catalogue);
    ShortcutsFile::fillStrings(m_path, &m_stcts);
    m_createIndex = 0;
    updateButtons();
    m_createTimer->start();
    return 0;
}

void Shortcuts::createItemSlot()
{
    const int count = m_device ? m_device->kfCount() : 0;
    int index = m_createIndex;
    while (index < count && !m_device->kfRecord(index)->inUse())
        ++index;
    if (index >= count) {
        finishCreation();
        return;
    }
    m_createIndex = index + 1;
    kf_t *entry = m_device->kfRecord(index);
    bool found = false;
    const STCTS stcts = lookupStcts(entry->id(), entry->hi(), &found);
    if (!found) {
        qDebug().noquote() << "Create One Item failed, Not found id or hi, reutrn; "
                           << " id=" << entry->id() << " hi=" << entry->hi();
        entry->setInUse(false);
        return;
    }
    createItem(index, &stcts, false);
}

void Shortcuts::finishCreation()
{
    m_createTimer->stop();
    qDebug() << "Shortcuts Create Item finished.";
    m_loaded = true;
    save();
    rebuildVirtualKeyboard();
    updateButtons();
    updateEmptyHint();
}

ShortcutsItem *Shortcuts::createItem(int entryIndex, const STCTS *stcts, bool newEntry)
{
    auto *item = new ShortcutsItem(m_device, entryIndex, &m_catalogue, m_statics, m_list);
    item->setStctsLookup(
        [this](quint32 id, quint32 hi, bool *found) { return lookupStcts(id, hi, found); });
    item->setMacroList([this] { return m_macroChoices; });
    item->setLanguage(m_langType);
    item->fill(stcts, newEntry);
    connect(item, &ShortcutsItem::emitRequestSave, this, &Shortcuts::requestSaveSlot);
    m_listLayout->insertWidget(m_listLayout->count() - 1, item);
    m_items.append(item);
    if (m_boardKey)
        item->dynClickKeySlot(m_boardKey);
    updateEmptyHint();
    return item;
}

STCTS Shortcuts::lookupStcts(quint32 id, quint32 hi, bool *found)
{
    // The host data as the keyboard and the file hold them now.
    if (m_device && m_loaded) {
        m_stcts = createShortcutsLocalData(m_device->kfRecords(), m_device->kfCount(), m_catalogue);
        ShortcutsFile::fillStrings(m_path, &m_stcts);
    }
    for (const STCTS &s : qAsConst(m_stcts)) {
        if (s.id == id && s.hi == hi) {
            *found = true;
            return s;
        }
    }
    *found = false;
    return STCTS();
}

void Shortcuts::closeDevice()
{
    m_createTimer->stop();
    m_loaded = false;
    m_busy = false;
    for (ShortcutsItem *item : qAsConst(m_items)) {
        item->hide();
        Dialogs::deleteSafely(item);
    }
    m_items.clear();
    m_kbItems.clear();
    m_kb->setEntries({});
    m_kb->hide();
    m_hotKey->unsetShortcut();
    m_stcts.clear();
    m_catalogue.clear();
    m_macroChoices.clear();
    m_device = nullptr;
    m_boardKey = nullptr;
    updateButtons();
    m_emptyHint->hide();
}

// ---- Saving and the Virtual Keyboard --------------------------------------

int Shortcuts::save()
{
    return save(m_items, m_path);
}

int Shortcuts::save(const QList<ShortcutsItem *> &items, const QString &path)
{
    if (!m_loaded) {
        qDebug() << "INFO: The shortcuts is'nt init finished.";
        return -1;
    }
    QVector<ShortcutsFile::Item> fileItems;
    fileItems.reserve(items.size());
    for (const ShortcutsItem *item : items)
        fileItems.append(item->fileItem());
    QString error;
    switch (ShortcutsFile::save(path, fileItems, &error)) {
    case ShortcutsFile::SaveStatus::Saved:
        return 0;
    case ShortcutsFile::SaveStatus::KeptUnreadable:
        qWarning().noquote() << "shortcuts file is unreadable and kept as it is:" << path;
        return -2;
    case ShortcutsFile::SaveStatus::WriteFailed:
        qWarning().noquote() << "shortcuts file could not be written:" << path << error;
        return -2;
    }
    return -2;
}

void Shortcuts::saveAfterChange()
{
    const int result = save();
    rebuildVirtualKeyboard();
    if (result != -2 || m_reportedUnreadable)
        return;
    // Once per keyboard: the web addresses and paths were not stored.
    m_reportedUnreadable = true;
    const bool zh = m_langType == 0;
    const bool kept = ShortcutsFile::isUnreadable(m_path);
    const QString text =
        kept ? (zh ? QStringLiteral("无法读取 %1，文件保持原样。在修复或删除该文件之前，"
                                    "快捷键的网址和路径不会被保存。")
                   : QStringLiteral("%1 could not be read, so it was left as it is. Web "
                                    "addresses and paths of key functions are not saved until "
                                    "it is repaired or removed."))
             : (zh ? QStringLiteral("无法写入 %1。快捷键的网址和路径没有保存。")
                   : QStringLiteral("%1 could not be written. Web addresses and paths of key "
                                    "functions were not saved."));
    Dialogs::warning(this, QStringLiteral("Warning"), text.arg(m_path));
}

void Shortcuts::requestSaveSlot()
{
    saveAfterChange();
}

void Shortcuts::rebuildVirtualKeyboard()
{
    QVector<ShortcutsKB::Entry> entries;
    m_kbItems.clear();
    for (ShortcutsItem *item : qAsConst(m_items)) {
        ShortcutsKB::Entry e;
        e.type = item->controlType();
        e.text = item->parameterText();
        e.toolTip = item->functionBox()->currentText() + QStringLiteral(": ") + e.text;
        entries.append(e);
        m_kbItems.append(item);
    }
    m_kb->setEntries(entries);
    // Ctrl+D is taken from every other program while it is grabbed (in a
    // terminal it ends the input): only while the window has something to show.
    if (m_kb->getButtonNum() > 0) {
        if (m_hotKey->shortcut().isEmpty())
            m_hotKey->setShortcut(QKeySequence(QStringLiteral("Ctrl+D")));
    } else {
        m_hotKey->unsetShortcut();
        m_kb->hide();
    }
}

void Shortcuts::toggleVirtualKeyboard()
{
    if (m_kb->isVisible())
        m_kb->hide();
    else if (m_kb->getButtonNum() > 0)
        m_kb->Show();
}

// ---- Add, download, delete --------------------------------------------------

bool Shortcuts::hasFreeEntry() const
{
    if (!m_device)
        return false;
    const int count = m_device->kfCount();
    for (int i = 0; i < count && i < 64; ++i) {
        const kf_t *e = m_device->kfRecord(i);
        if (!e->inUse() && e->id() == i)
            return true;
    }
    return false;
}

void Shortcuts::updateButtons()
{
    const bool ready = m_loaded && m_device && !m_busy;
    const bool canAdd = ready && m_items.size() < kMaxItems && hasFreeEntry();
    m_addButton->setEnabled(canAdd);
    m_downloadButton->setEnabled(ready);
    m_deleteButton->setEnabled(ready);
    const bool zh = m_langType == 0;
    m_addButton->setToolTip(
        canAdd || !ready ? QString()
                         : (zh ? QStringLiteral("键盘上没有空闲的快捷键位置。")
                               : QStringLiteral("The keyboard has no free key-function entry.")));
}

void Shortcuts::updateEmptyHint()
{
    const bool zh = m_langType == 0;
    if (m_catalogue.isEmpty() && m_device.isNull() && !m_path.isEmpty()) {
        m_emptyHint->setText(zh ? QStringLiteral("无法读取本键盘的功能表。")
                                : QStringLiteral("The function list of this keyboard could "
                                                 "not be read."));
        m_emptyHint->show();
        return;
    }
    m_emptyHint->setText(zh ? QStringLiteral("键盘上还没有快捷键。点击“添加”新建一个。")
                            : QStringLiteral("No key functions on this keyboard yet. Click Add "
                                             "to create one."));
    m_emptyHint->setVisible(m_loaded && m_items.isEmpty());
}

void Shortcuts::itemAddButtonSlot()
{
    if (!m_loaded || !m_device || m_busy)
        return;
    if (m_items.size() >= kMaxItems) {
        qDebug().noquote() << "Shortcuts item is Maxnum = " << m_items.size() << ", return.";
        updateButtons();
        return;
    }
    const int index = KfRecord::claimFree(m_device->kfRecords(), m_device->kfCount());
    if (index < 0) {
        qDebug() << "Shortcuts add item failed! get kf_id is -1, return.";
        updateButtons();
        return;
    }
    ShortcutsItem *item = createItem(index, nullptr, true);
    qDebug().noquote() << "add item, list->size() = " << m_items.size() << " id=" << item->entryId()
                       << " hi=" << item->function().hi;
    m_list->adjustSize();
    QTimer::singleShot(0, this, [this] {
        m_scroll->verticalScrollBar()->setValue(m_scroll->verticalScrollBar()->maximum());
    });
    updateButtons();
}

int Shortcuts::resolveMacro(int number, const QString &name) const
{
    if (!m_device)
        return -1;
    const int slotCount = std::min<int>(m_device->kmCount(), 64);
    if (number >= 0) {
        for (int s = 0; s < slotCount; ++s) {
            const km_t *head = m_device->macroHead(s);
            if (head && head->used() && head->id() == number)
                return number;
        }
    }
    for (int s = 0; s < slotCount && !name.isEmpty(); ++s) {
        const km_t *head = m_device->macroHead(s);
        if (head && head->used() && macroHeadName(*head) == name)
            return head->id();
    }
    return -1;
}

QVector<MacroChoice> Shortcuts::storedMacros() const
{
    QVector<MacroChoice> list;
    if (!m_device)
        return list;
    // The same macros, in the same order, as the macro page lists (16 at most).
    const int slotCount = std::min<int>(m_device->kmCount(), 64);
    for (int s = 0; s < slotCount && list.size() < kMaxMacros; ++s) {
        const km_t *head = m_device->macroHead(s);
        if (head && head->used())
            list.append(MacroChoice{macroHeadName(*head), head->id()});
    }
    return list;
}

void Shortcuts::itemDownloadButtonSlot()
{
    if (!m_loaded || !m_device || m_busy)
        return;
    m_busy = true;
    updateButtons();
    qDebug() << "-------------------download data slot-------------------";
    QStringList failedRows;
    uint32_t writeError = 0;
    QList<ShortcutsItem *> failed;
    for (int i = 0; i < m_items.size(); ++i) {
        ShortcutsItem *item = m_items.at(i);
        kf_t *entry = item->entry();
        if (!item->getSelect() || !entry || !m_device)
            continue;
        KfRecord::KfFunction f = item->function();
        const bool zh = m_langType == 0;
        if (f.controlType == E_SCT_MACRO) {
            f.param1 = resolveMacro(f.param1, item->parameter()->macroName());
            if (f.param1 < 0) {
                qWarning() << "Macro of key function" << entry->id() << "no longer exists";
                failedRows.append(
                    zh ? QStringLiteral("第 %1 行：所选的宏已不存在。").arg(i + 1)
                       : QStringLiteral("Row %1: the chosen macro no longer exists.").arg(i + 1));
                failed.append(item);
                continue;
            }
        }
        kf_t copy = *entry;
        if (KfRecord::encode(f, &copy) == KfRecord::EncodeResult::SwapEqual) {
            qDebug() << "Error: swap1 == swap2";
            failedRows.append(
                zh ? QStringLiteral("第 %1 行：两个交换编号必须不同。").arg(i + 1)
                   : QStringLiteral("Row %1: the two swap numbers must differ.").arg(i + 1));
            failed.append(item);
            continue;
        }
        if (f.controlType == E_SCT_WEB)
            qDebug().noquote() << "       web=" << item->parameterText();
        else if (f.controlType == E_SCT_DOCAPP || f.controlType == E_SCT_FOLDER)
            qDebug().noquote() << "       dir=" << item->parameterText();
        const uint32_t status = m_device->setKFItem(&copy);
        if (status != WK_SUCCESS) {
            if (status == WK_ERROR_WRITE)
                writeError = status;
            failedRows.append(zh ? QStringLiteral("第 %1 行：键盘没有接受（错误 %2）。")
                                       .arg(i + 1)
                                       .arg(status, 0, 16)
                                 : QStringLiteral("Row %1: the keyboard did not accept it "
                                                  "(error %2).")
                                       .arg(i + 1)
                                       .arg(status, 0, 16));
            failed.append(item);
            continue;
        }
        *entry = copy;
    }
    for (ShortcutsItem *item : qAsConst(m_items)) {
        const bool kept = failed.contains(item);
        if (!kept) {
            item->setDownloading(true);
            item->setSelect(false);
            item->setDownloading(false);
        }
        item->releasePendingKey();
        item->btnMouseTimerReleaseSlot(true);
        item->setError(kept);
    }
    m_boardKey = nullptr;
    saveAfterChange();
    qDebug() << "--------------------------------------------------------";
    m_busy = false;
    updateButtons();
    if (!failedRows.isEmpty())
        reportFailures(failedRows, writeError);
}

void Shortcuts::reportFailures(const QStringList &rows, uint32_t writeError)
{
    const QPointer<Shortcuts> self(this);
    if (writeError != 0) {
        Dialogs::critical(this, QStringLiteral("critical"),
                          QStringLiteral("Set KF Item failed! <font color='red'> ERROR: ") +
                              QString::number(writeError) + QStringLiteral(". application</font>"));
    } else {
        const bool zh = m_langType == 0;
        Dialogs::warning(this, QStringLiteral("Warning"),
                         (zh ? QStringLiteral("以下快捷键没有写入键盘，仍保持选中：<br>")
                             : QStringLiteral("These key functions were not written to the "
                                              "keyboard and stay checked:<br>")) +
                             rows.join(QStringLiteral("<br>")));
    }
    if (!self || Dialogs::isReleased(this))
        return;
}

void Shortcuts::itemDeleteButtonSlot()
{
    if (!m_loaded || !m_device || m_busy)
        return;
    if (m_items.isEmpty()) {
        qDebug() << "MacroItem is empty!";
        return;
    }
    m_busy = true;
    QStringList failedRows;
    uint32_t writeError = 0;
    const QList<ShortcutsItem *> rows = m_items;
    for (int i = 0; i < rows.size(); ++i) {
        ShortcutsItem *item = rows.at(i);
        kf_t *entry = item->entry();
        if (!item->getSelect() || !entry || !m_device)
            continue;
        kf_t copy = *entry;
        KfRecord::release(&copy);
        const uint32_t status = m_device->setKFItem(&copy);
        if (status != WK_SUCCESS) {
            if (status == WK_ERROR_WRITE)
                writeError = status;
            failedRows.append((m_langType == 0
                                   ? QStringLiteral("第 %1 行：键盘没有接受（错误 %2）。")
                                   : QStringLiteral("Row %1: the keyboard did not accept it "
                                                    "(error %2)."))
                                  .arg(i + 1)
                                  .arg(status, 0, 16));
            item->setError(true);
            continue;
        }
        *entry = copy;
        qDebug().noquote() << "Delete select shortcuts item=" << m_items.indexOf(item)
                           << "size=" << m_items.size() << "id=" << copy.id();
        m_items.removeOne(item);
        item->hide();
        Dialogs::deleteSafely(item);
    }
    m_busy = false;
    updateButtons();
    updateEmptyHint();
    saveAfterChange();
    if (!failedRows.isEmpty())
        reportFailures(failedRows, writeError);
}

// ---- Notifications and selections ------------------------------------------

void Shortcuts::onNotify(int id, int hi)
{
    for (ShortcutsItem *item : qAsConst(m_items)) {
        const kf_t *e = item->entry();
        if (!e || e->id() != id || e->hi() != hi)
            continue;
        qDebug("id=%d-%d hi=%d-%d", id, e->id(), hi, e->hi());
        item->executeCommandSlot();
        return;
    }
}

void Shortcuts::boardKeyClicked(KeyBtn *key)
{
    // The board is shared with the key and colour pages.
    if (!key || !isVisibleTo(window()) || !m_loaded)
        return;
    if (m_boardKey && m_boardKey != key)
        m_boardKey->setMoveMarker(true);
    m_boardKey = key;
    key->setMoveMarker(false);
    for (ShortcutsItem *item : qAsConst(m_items))
        item->dynClickKeySlot(key);
}

void Shortcuts::shortcutsItemReleaseSelectDynamicLayoutKey()
{
    if (m_boardKey)
        m_boardKey->setMoveMarker(true);
    m_boardKey = nullptr;
    for (ShortcutsItem *item : qAsConst(m_items))
        item->releasePendingKey();
}

void Shortcuts::shortcutsItemBtnMouseTimerReleaseSlot(bool release)
{
    for (ShortcutsItem *item : qAsConst(m_items))
        item->btnMouseTimerReleaseSlot(release);
}

void Shortcuts::parameterBtnReleaseSlot(bool release)
{
    for (ShortcutsItem *item : qAsConst(m_items))
        item->parameter()->parameterBtnReleaseSlot(release);
}

void Shortcuts::hideEvent(QHideEvent *event)
{
    // A board key picked here means nothing on the other pages.
    shortcutsItemReleaseSelectDynamicLayoutKey();
    QWidget::hideEvent(event);
}

// ---- Macro box relay -------------------------------------------------------

void Shortcuts::updateMacroComboboxAddItem(const QString &name)
{
    const MacroChoice choice{name, -1};
    m_macroChoices.append(choice);
    for (ShortcutsItem *item : qAsConst(m_items))
        item->updateMacroComboboxAddItem(choice);
}

void Shortcuts::updateMacroComboboxRemoveItem(int index)
{
    if (index >= 0 && index < m_macroChoices.size())
        m_macroChoices.remove(index);
    for (ShortcutsItem *item : qAsConst(m_items))
        item->updateMacroComboboxRemoveItem(index);
}

void Shortcuts::updateMacroComboboxSetItemText(int index, const QString &name)
{
    if (index >= 0 && index < m_macroChoices.size())
        m_macroChoices[index].name = name;
    for (ShortcutsItem *item : qAsConst(m_items))
        item->updateMacroComboboxSetItemText(index, name);
}

void Shortcuts::SetLanguage(int langType)
{
    m_langType = langType;
    const bool zh = langType == 0;
    m_keyHeading->setText(zh ? QStringLiteral("快捷键") : QStringLiteral("Shortcut key"));
    m_functionHeading->setText(zh ? QStringLiteral("功能") : QStringLiteral("Function"));
    m_parameterHeading->setText(zh ? QStringLiteral("参数设置")
                                   : QStringLiteral("Parameter setting"));
    m_addButton->setText(zh ? QStringLiteral("添加") : QStringLiteral("Add"));
    m_downloadButton->setText(zh ? QStringLiteral("下载") : QStringLiteral("Download"));
    m_deleteButton->setText(zh ? QStringLiteral("删除") : QStringLiteral("Delete"));
    for (ShortcutsItem *item : qAsConst(m_items))
        item->setLanguage(langType);
    m_kb->setLanguage(langType);
    updateButtons();
    updateEmptyHint();
}

#include "macro/macro.h"

#include "device/device.h"
#include "device/protocol.h"
#include "macro/macrocodec.h"
#include "macro/macrofile.h"
#include "macro/macroitem.h"
#include "macro/macrokeylayout.h"
#include "main/apppaths.h"
#include "widget/dialogs.h"
#include "widget/staticdialog.h"
#include "widget/styles.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QRegularExpressionValidator>
#include <QScrollArea>
#include <QScrollBar>
#include <QStackedLayout>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include <cstring>

namespace {
constexpr int kMaxNameLength = 12;
constexpr int kMaxSlots = 64; // the id has 6 bits: slot 64 would be slot 0
constexpr quint32 kMaxDelay = 65535;
constexpr quint32 kMinBulkDelay = 5;

const char kPageStyle[] =
    "QWidget#Macro { background: transparent; }"
    "QLabel { color: #c9ced8; font-size: 10pt; }"
    "QLabel#emptyHint { color: #9aa3b2; }"
    "QLineEdit { background: #1b1d23; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 4px 8px; font-size: 10pt; }"
    "QLineEdit:focus { border-color: #46e6b7; }"
    "QLineEdit:disabled { color: #5c6370; border-color: #2c313a; }"
    "QComboBox { background: #1b1d23; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 4px 8px; font-size: 10pt; }"
    "QComboBox:hover { border-color: #46e6b7; }"
    "QComboBox:disabled { color: #5c6370; border-color: #2c313a; }"
    "QComboBox QAbstractItemView { background: #22252d; color: #e8eaed;"
    "  selection-background-color: #2f3640; selection-color: #46e6b7; border: 1px solid #3a3f4b; }"
    "QCheckBox { color: #c9ced8; font-size: 10pt; }"
    "QCheckBox:disabled { color: #5c6370; }"
    "QCheckBox::indicator { width: 16px; height: 16px; border: 1px solid #4b5160;"
    "  border-radius: 4px; background: #1b1d23; }"
    "QCheckBox::indicator:checked { background: #46e6b7; border-color: #46e6b7; }"
    "QToolButton { color: #e8eaed; background: #2c313a; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 5px 8px; font-size: 10pt; }"
    "QToolButton:hover { border-color: #46e6b7; color: #46e6b7; }"
    "QToolButton:disabled { color: #5c6370; border-color: #2c313a; }"
    "QToolButton:checked { background: #4a2a2e; border-color: #e06c75; color: #e06c75; }"
    "QToolButton::menu-indicator { image: none; }"
    "QMenu { background: #22252d; color: #e8eaed; border: 1px solid #3a3f4b; padding: 4px; }"
    "QMenu::item { padding: 6px 20px; border-radius: 4px; }"
    "QMenu::item:selected { background: #2f3640; color: #46e6b7; }"
    "QMenu::item:disabled { color: #5c6370; }"
    "QScrollArea, QWidget#macroList { background: transparent; border: none; }"
    "QScrollBar:vertical { background: #22252d; border-radius: 4px; width: 8px; }"
    "QScrollBar::handle:vertical { background: #46e6b7; border-radius: 4px; min-height: 30px; }"
    "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
    "QScrollBar::add-page, QScrollBar::sub-page { background: none; }";

QIcon pageIcon(const QString &base)
{
    const QString dir = AppPaths::imagesDir() + QStringLiteral("macro/");
    QIcon icon(dir + base + QStringLiteral(".svg"));
    icon.addFile(dir + base + QStringLiteral("-hover.svg"), QSize(), QIcon::Active);
    icon.addFile(dir + base + QStringLiteral("-ban.svg"), QSize(), QIcon::Disabled);
    return icon;
}

// A stored macro's name: at most 16 bytes of local 8-bit text.
QString headName(const km_t &head)
{
    return QString::fromLocal8Bit(head.name, int(strnlen(head.name, km_t::kNameSize)));
}

} // namespace

Macro::Macro(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("Macro"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QLatin1String(kPageStyle) + Styles::comboBoxArrow());

    auto *page = new QVBoxLayout(this);
    page->setContentsMargins(24, 14, 24, 8);
    page->setSpacing(8);

    // Name list (with the rename field over it) and the actions.
    auto *bar = new QHBoxLayout();
    bar->setSpacing(6);
    auto *nameStack = new QWidget(this);
    nameStack->setFixedWidth(220);
    auto *stack = new QStackedLayout(nameStack);
    m_nameBox = new QComboBox(nameStack);
    m_nameBox->setObjectName(QStringLiteral("nameBox"));
    m_renameEdit = new QLineEdit(nameStack);
    m_renameEdit->setObjectName(QStringLiteral("renameField"));
    m_renameEdit->setMaxLength(kMaxNameLength);
    m_renameEdit->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[a-zA-Z0-9]+$")), m_renameEdit));
    stack->addWidget(m_nameBox);
    stack->addWidget(m_renameEdit);
    bar->addWidget(nameStack);
    auto tool = [this, bar](const QString &name, const QString &picture) {
        auto *b = new QToolButton(this);
        b->setObjectName(name);
        b->setIcon(pageIcon(picture));
        b->setIconSize(QSize(18, 18));
        b->setCursor(Qt::PointingHandCursor);
        b->setEnabled(false);
        bar->addWidget(b);
        return b;
    };
    m_addButton = tool(QStringLiteral("addButton"), QStringLiteral("macro-add"));
    m_renameButton = tool(QStringLiteral("renameButton"), QStringLiteral("macro-rename"));
    m_deleteButton = tool(QStringLiteral("deleteButton"), QStringLiteral("macro-delete"));
    m_otherButton = tool(QStringLiteral("otherButton"), QStringLiteral("macro-other"));
    m_otherMenu = new QMenu(m_otherButton);
    m_exportAction = m_otherMenu->addAction(QString());
    m_importAction = m_otherMenu->addAction(QString());
    connect(m_exportAction, &QAction::triggered, this, &Macro::exportActionSlot);
    connect(m_importAction, &QAction::triggered, this, &Macro::importActionSlot);
    m_otherButton->setMenu(m_otherMenu);
    m_otherButton->setPopupMode(QToolButton::InstantPopup);
    bar->addSpacing(16);
    m_bulkBox = new QCheckBox(this);
    m_bulkBox->setObjectName(QStringLiteral("bulkDelayBox"));
    m_bulkBox->setEnabled(false);
    bar->addWidget(m_bulkBox);
    m_bulkEdit = new QLineEdit(this);
    m_bulkEdit->setObjectName(QStringLiteral("bulkDelayField"));
    m_bulkEdit->setFixedWidth(70);
    m_bulkEdit->setMaxLength(5);
    m_bulkEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,5}")), this));
    m_bulkEdit->setEnabled(false);
    bar->addWidget(m_bulkEdit);
    m_msecLabel = new QLabel(this);
    bar->addWidget(m_msecLabel);
    bar->addStretch(1);
    m_recordButton = tool(QStringLiteral("recordButton"), QStringLiteral("macro-record"));
    m_recordButton->setCheckable(true);
    m_recordButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_downloadButton = tool(QStringLiteral("downloadButton"), QStringLiteral("macro-download"));
    m_downloadButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    page->addLayout(bar);

    m_scroll = new QScrollArea(this);
    m_scroll->setObjectName(QStringLiteral("macroScroll"));
    m_scroll->setWidgetResizable(true);
    m_scroll->setFrameShape(QFrame::NoFrame);
    m_scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    m_list = new QWidget();
    m_list->setObjectName(QStringLiteral("macroList"));
    m_listLayout = new QVBoxLayout(m_list);
    m_listLayout->setContentsMargins(0, 0, 6, 0);
    m_listLayout->setSpacing(8);
    m_emptyHint = new QLabel(m_list);
    m_emptyHint->setObjectName(QStringLiteral("emptyHint"));
    m_emptyHint->setAlignment(Qt::AlignCenter);
    m_emptyHint->hide();
    m_listLayout->addWidget(m_emptyHint);
    m_listLayout->addStretch(1);
    m_scroll->setWidget(m_list);
    page->addWidget(m_scroll, 1);

    m_drawTimer = new QTimer(this);
    m_drawTimer->setInterval(kDrawTickMs);
    connect(m_drawTimer, &QTimer::timeout, this, &Macro::drawNextKey);

    connect(m_addButton, &QToolButton::clicked, this, &Macro::addItemSlot);
    connect(m_renameButton, &QToolButton::clicked, this, &Macro::alterButtonSlot);
    connect(m_renameEdit, &QLineEdit::editingFinished, this, &Macro::alterEditFinishedSlot);
    connect(m_renameEdit, &QLineEdit::textEdited, this, [this](const QString &text) {
        if (text.size() > kMaxNameLength) {
            m_renameEdit->setText(text.left(kMaxNameLength));
            m_renameEdit->end(false);
        }
    });
    connect(m_deleteButton, &QToolButton::clicked, this, &Macro::deleteItemSlot);
    connect(m_downloadButton, &QToolButton::clicked, this, &Macro::downloadItemDataSlot);
    connect(m_recordButton, &QToolButton::toggled, this, &Macro::recorderItemDataSlot);
    connect(m_nameBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &Macro::comboboxCurentTextChangedSlot);
    connect(m_bulkBox, &QCheckBox::toggled, this, &Macro::msecDelaysCheckBoxSlot);
    connect(m_bulkEdit, &QLineEdit::textEdited, this, &Macro::msecLineEditSlot);
    retranslate();
}

Macro::~Macro()
{
    m_drawTimer->stop();
}

// ---- Device ------------------------------------------------------------------

void Macro::setDevice(Device *device, const QString &folder, const QVector<KeyDesc> *statics)
{
    m_folder = folder;
    m_statics = statics;
    if (m_device || !device)
        return;
    m_device = device;
    const int slotCount = std::min<int>(device->kmCount(), kMaxSlots);
    for (int slot = 0; slot < slotCount && m_items.size() < kMaxItems; ++slot) {
        const km_t *head = device->macroHead(slot);
        if (!head || !head->used())
            continue;
        const QString name = headName(*head);
        qDebug().noquote() << "Reading Keyboard Device name is " << name;
        MacroItem *item = createItem(slot, name);
        item->loadButton()->setVisible(head->frameCount() > 0);
    }
    if (m_items.isEmpty()) {
        qDebug() << "Macro Keyborad item data = NULL";
        m_recordButton->setEnabled(false);
        m_downloadButton->setEnabled(false);
        m_addButton->setEnabled(freeSlot() >= 0);
        m_otherButton->setEnabled(true);
    } else {
        qDebug() << "read macro item KBDevice finished.";
        setItemSelect(m_items.first());
    }
    m_emptyHint->setVisible(m_items.isEmpty());
}

void Macro::closeDevice()
{
    if (m_recording)
        endRecording(false); // the keyboard is gone: nothing to send
    stopDrawing();
    for (MacroItem *item : qAsConst(m_items)) {
        qDebug().noquote() << "release id =" << item->id() << "name =" << item->name();
        item->hide();
        Dialogs::deleteSafely(item);
    }
    m_items.clear();
    {
        m_programmatic = true;
        m_nameBox->clear();
        m_programmatic = false;
    }
    qDebug() << "delete macro item all finished.";
    for (QToolButton *b : {m_addButton, m_renameButton, m_deleteButton, m_otherButton,
                           m_recordButton, m_downloadButton})
        b->setEnabled(false);
    m_bulkBox->setEnabled(false);
    m_bulkEdit->setEnabled(false);
    m_renameEdit->hide();
    m_device = nullptr;
    m_emptyHint->hide();
}

MacroItem *Macro::createItem(int id, const QString &name)
{
    auto *item = new MacroItem(id, name, m_list);
    item->timeline()->setLabelSource(m_statics);
    item->setLanguage(m_langType);
    connect(item, &MacroItem::clicked, this, &Macro::setItemSelect);
    connect(item, &MacroItem::loadRequested, this, &Macro::loadDataSlot);
    connect(item->timeline(), &MacroKeyLayout::framesChanged, this, [this, item] {
        if (item == selectedItem())
            applyButtonRules();
    });
    m_listLayout->insertWidget(m_listLayout->count() - 1, item);
    m_items.append(item);
    m_programmatic = true;
    m_nameBox->addItem(name, id);
    m_programmatic = false;
    m_emptyHint->hide();
    return item;
}

int Macro::freeSlot() const
{
    if (!m_device)
        return -1;
    const int slotCount = std::min<int>(m_device->kmCount(), kMaxSlots);
    for (int slot = 0; slot < slotCount; ++slot) {
        const km_t *head = m_device->macroHead(slot);
        if (head && !head->used())
            return slot;
    }
    return -1;
}

QStringList Macro::names() const
{
    QStringList list;
    for (const MacroItem *item : m_items)
        list.append(item->name());
    return list;
}

MacroItem *Macro::selectedItem() const
{
    for (MacroItem *item : m_items) {
        if (item->isSelected())
            return item;
    }
    return nullptr;
}

int Macro::positionOf(const MacroItem *item) const
{
    return m_items.indexOf(const_cast<MacroItem *>(item));
}

bool Macro::nameTaken(const QString &name, const MacroItem *except) const
{
    for (const MacroItem *item : m_items) {
        if (item != except && item->name() == name)
            return true;
    }
    return false;
}

void Macro::warn(const QString &text)
{
    Dialogs::warning(this, QStringLiteral("Warning"), text);
}

// ---- Add, rename, delete -----------------------------------------------------

void Macro::addItemSlot()
{
    if (!m_device || m_banned)
        return;
    qDebug() << "m_ptrDevice->m_nKMTotalNum =" << m_device->kmCount();
    const int slot = m_items.size() < kMaxItems ? freeSlot() : -1;
    if (slot < 0) {
        qDebug() << "INFO: macro item size is Max.";
        m_addButton->setEnabled(false);
        m_importAction->setEnabled(false);
        return;
    }
    km_t *head = m_device->macroHead(slot);
    km_t sent = *head;
    sent.setUsed(true);
    sent.setFrameCount(0);
    sent.setId(static_cast<uint8_t>(slot));
    const uint32_t status = m_device->setMacroHead(&sent);
    if (status != WK_SUCCESS) {
        qWarning("add macro: the keyboard refused slot %d (%x)", slot, status);
        return;
    }
    *head = sent;
    m_device->selectMacro(static_cast<unsigned char>(slot));
    // "Macro<id>", or the first "Macro<n>" no other stored macro carries.
    auto usedElsewhere = [this, slot](const QString &name) {
        const int slotCount = std::min<int>(m_device->kmCount(), kMaxSlots);
        for (int s = 0; s < slotCount; ++s) {
            const km_t *h = m_device->macroHead(s);
            if (s != slot && h && h->used() && headName(*h) == name)
                return true;
        }
        return nameTaken(name, nullptr);
    };
    QString name = QStringLiteral("Macro") + QString::number(head->id());
    for (int n = 0; usedElsewhere(name); ++n)
        name = QStringLiteral("Macro") + QString::number(n);
    m_device->setMacroName(static_cast<unsigned char>(slot), Device::macroName(name).constData());
    qDebug().noquote() << "Add Item id=" << head->id() << "name=" << name;
    MacroItem *item = createItem(slot, name);
    setItemSelect(item);
    Q_EMIT updateShortcutsComboboxAddItem(name);
    item->setUnsaved(true);
    QTimer::singleShot(0, this, [this] {
        m_scroll->verticalScrollBar()->setValue(m_scroll->verticalScrollBar()->maximum());
    });
}

void Macro::alterButtonSlot()
{
    if (!selectedItem() || m_nameBox->currentIndex() < 0)
        return;
    m_renameEdit->setText(m_nameBox->currentText().left(kMaxNameLength));
    static_cast<QStackedLayout *>(m_nameBox->parentWidget()->layout())
        ->setCurrentWidget(m_renameEdit);
    m_renameEdit->setFocus();
    m_renameEdit->selectAll();
}

void Macro::alterEditFinishedSlot()
{
    auto *stack = static_cast<QStackedLayout *>(m_nameBox->parentWidget()->layout());
    if (stack->currentWidget() != m_renameEdit)
        return; // editing already ended (Return, then the focus leaving)
    const QString name = m_renameEdit->text().left(kMaxNameLength);
    stack->setCurrentWidget(m_nameBox);
    MacroItem *item = selectedItem();
    if (!item || !m_device || name.isEmpty())
        return;
    if (nameTaken(name, nullptr)) {
        qDebug().noquote() << "change Macro name failed, " + name + " name repeated. return.";
        return;
    }
    const QString old = item->name();
    qDebug().noquote() << "name=" << old << " -> change to -> " << name;
    if (!m_folder.isEmpty() && !MacroFile::renameFile(m_folder, old, item->id(), name, item->id()))
        qWarning().noquote() << "could not rename the file of" << old << "in" << m_folder;
    item->setName(name);
    m_device->setMacroName(static_cast<unsigned char>(item->id()),
                           Device::macroName(name).constData());
    const int position = positionOf(item);
    m_programmatic = true;
    m_nameBox->setItemText(position, name);
    m_programmatic = false;
    Q_EMIT updateShortcutsComboboxSetItemText(position, name);
}

void Macro::deleteItemSlot()
{
    MacroItem *item = selectedItem();
    if (!item || !m_device || m_banned)
        return;
    const int position = positionOf(item);
    m_programmatic = true;
    m_nameBox->removeItem(position);
    m_nameBox->setCurrentIndex(-1);
    m_programmatic = false;
    Q_EMIT updateShortcutsComboboxRemoveItem(position);
    qDebug() << "DEBUG: remove item index the comboBox Item. is " << position;
    qDebug().noquote() << "Delete macro item = " << item->name();
    const QString name = item->name();
    const int id = item->id();
    m_device->deletMacro(static_cast<unsigned char>(id));
    m_items.removeOne(item);
    item->hide();
    Dialogs::deleteSafely(item);
    if (!m_folder.isEmpty()) {
        qDebug().noquote() << "DEBUG: delete directory file name "
                           << MacroFile::fileNameFor(name, id);
        MacroFile::removeFile(m_folder, name, id);
    }
    m_emptyHint->setVisible(m_items.isEmpty());
    applyButtonRules();
}

// ---- Selection and buttons ---------------------------------------------------

void Macro::setItemSelect(MacroItem *item)
{
    if (m_banned || !item || !m_items.contains(item))
        return;
    for (MacroItem *other : qAsConst(m_items)) {
        if (other != item)
            other->setSelected(false);
    }
    item->setSelected(true);
    m_programmatic = true;
    m_nameBox->setCurrentIndex(positionOf(item));
    m_programmatic = false;
    showBulkDelay(item);
    applyButtonRules();
}

void Macro::comboboxCurentTextChangedSlot(int index)
{
    if (m_programmatic || index < 0 || index >= m_items.size())
        return;
    qDebug().noquote() << "change comboBox name = " << m_nameBox->itemText(index);
    setItemSelect(m_items.at(index));
}

void Macro::applyButtonRules()
{
    if (m_banned)
        return;
    MacroItem *item = selectedItem();
    const bool device = !m_device.isNull();
    const bool room = device && m_items.size() < kMaxItems && freeSlot() >= 0;
    const bool events = item && !item->timeline()->dataKeys().isEmpty();
    m_addButton->setEnabled(room);
    m_importAction->setEnabled(room);
    m_renameButton->setEnabled(item);
    m_deleteButton->setEnabled(item);
    m_otherButton->setEnabled(device);
    m_recordButton->setEnabled(item);
    m_downloadButton->setEnabled(events);
    m_exportAction->setEnabled(events);
    m_nameBox->setEnabled(device);
    for (MacroItem *i : qAsConst(m_items))
        i->setEnabled(true);
}

void Macro::showBulkDelay(MacroItem *item)
{
    const bool empty = !item || item->timeline()->dataKeys().isEmpty();
    const QSignalBlocker blockBox(m_bulkBox);
    m_bulkBox->setEnabled(!empty);
    m_bulkBox->setChecked(!empty && item->bulkDelayOn());
    m_bulkEdit->setEnabled(m_bulkBox->isChecked());
    // Showing a macro's value never rewrites its delays.
    m_bulkEdit->setText(!empty && item->bulkDelayMs() ? QString::number(item->bulkDelayMs())
                                                      : QString());
    m_allDelays = empty ? 0 : item->bulkDelayMs();
}

void Macro::msecDelaysCheckBoxSlot(bool checked)
{
    qDebug() << "msec delays checkBox =" << checked;
    m_bulkEdit->setEnabled(checked);
    if (MacroItem *item = selectedItem())
        item->setBulkDelay(checked, item->bulkDelayMs());
}

void Macro::msecLineEditSlot(const QString &text)
{
    if (text.isEmpty()) {
        m_bulkEdit->setText(QStringLiteral("0"));
        m_bulkEdit->selectAll();
    }
    bool ok = false;
    const quint32 value = m_bulkEdit->text().toUInt(&ok);
    if (!ok || value > kMaxDelay) {
        m_bulkEdit->setText(QString::number(m_allDelays));
        return;
    }
    if (value == m_allDelays)
        return;
    m_allDelays = value;
    qDebug() << "msec line eidt number =" << value;
    MacroItem *item = selectedItem();
    if (!item || value < kMinBulkDelay)
        return;
    item->timeline()->setKeyDelayEidtTimeAll(int(value));
    item->setBulkDelay(true, value);
}

// ---- Loading from the keyboard -----------------------------------------------

uint32_t Macro::mframe2key(int id)
{
    if (!m_device)
        return WK_ERROR_OUT_OF_RANGE;
    const km_t *head = m_device->macroHead(id);
    if (!head || !head->used())
        return 0;
    const uint32_t status = m_device->readMacro(head->id());
    // A head claiming more frames than the buffer holds: the frames that
    // were read are still the macro's beginning.
    const bool truncated = status == WK_ERROR_OUT_OF_RANGE && m_device->macroFramesHeld() > 0;
    if (status != WK_SUCCESS && !truncated) {
        qWarning("get KM head=%d failed", id);
        return status;
    }
    qDebug() << "------------------ LINE=" << __LINE__
             << QStringLiteral("item=%1").arg(head->frameCount());
    MacroCodec::parserFrame(head->frameCount(), m_device->macroFrames(),
                            m_device->macroFramesHeld(), &m_vDataKey);
    m_truncatedLoad = truncated ? int(head->frameCount()) : 0;
    qDebug() << "datakeySize[" << m_vDataKey.size();
    return WK_SUCCESS;
}

void Macro::loadDataSlot(MacroItem *item)
{
    if (!item || !m_items.contains(item) || m_banned || !m_device)
        return;
    setItemSelect(item);
    m_vDataKey.clear();
    if (mframe2key(item->id()) != WK_SUCCESS) {
        qDebug() << "Get Keyboard device key data failed.";
        m_vDataKey.clear();
        return;
    }
    if (m_truncatedLoad > 0) {
        const QPointer<Macro> self(this);
        const QPointer<MacroItem> target(item);
        const bool zh = m_langType == 0;
        warn(zh ? QStringLiteral("键盘说宏 %1 有 %2 帧，但只能读取前 %3 帧。")
                      .arg(item->name())
                      .arg(m_truncatedLoad)
                      .arg(MacroCodec::kMaxFrames)
                : QStringLiteral("The keyboard says the macro %1 has %2 frames; only the first "
                                 "%3 can be read.")
                      .arg(item->name())
                      .arg(m_truncatedLoad)
                      .arg(MacroCodec::kMaxFrames));
        if (!self || Dialogs::isReleased(this) || !target || !m_device) {
            if (self)
                m_vDataKey.clear();
            return;
        }
    }
    qDebug() << "Load data item ID = " << item->id();
    m_loadTarget = item;
    item->timeline()->clear();
    setBanned(true);
    qDebug() << "start draw KB device key timer....";
    m_drawIndex = 0;
    m_drawTimer->start();
    item->loadButton()->hide();
}

void Macro::drawNextKey()
{
    MacroItem *target = m_loadTarget;
    if (!target || !m_items.contains(target)) {
        qDebug() << "Get macro item is NULL. return";
        stopDrawing();
        return;
    }
    if (m_drawIndex >= m_vDataKey.size()) {
        finishDrawing();
        return;
    }
    const DataKey &k = m_vDataKey.at(m_drawIndex++);
    target->timeline()->createKey(k.status, k.delay, k.code, k.type, k.stype, true);
    if (m_drawIndex >= m_vDataKey.size())
        finishDrawing();
}

void Macro::finishDrawing()
{
    qDebug() << " Draw KB finished, stop load data.";
    const QPointer<MacroItem> target = m_loadTarget.data();
    const bool imported = m_importing;
    stopDrawing();
    if (!target)
        return;
    target->timeline()->scrollToStart();
    showBulkDelay(target);
    if (!imported || !m_device)
        return;
    // An imported macro goes to the keyboard and into the macro folder.
    const QPointer<Macro> self(this);
    const bool zh = m_langType == 0;
    const uint32_t status = downloadMacroItem(target);
    if (status != WK_SUCCESS) {
        warn(zh ? QStringLiteral("宏 %1 没有写入键盘（错误 %2）。")
                      .arg(target->name())
                      .arg(status, 0, 16)
                : QStringLiteral("The macro %1 was not written to the keyboard (error %2).")
                      .arg(target->name())
                      .arg(status, 0, 16));
        return;
    }
    if (saveMacroItem(target) == -2 && self && !Dialogs::isReleased(this) && target)
        warn(zh ? QStringLiteral("无法写入宏文件 %1。")
                      .arg(MacroFile::pathIn(m_folder, target->name(), target->id()))
                : QStringLiteral("The macro file %1 could not be written.")
                      .arg(MacroFile::pathIn(m_folder, target->name(), target->id())));
}

void Macro::stopDrawing()
{
    m_importing = false;
    m_drawTimer->stop();
    m_loadTarget = nullptr;
    m_vDataKey.clear();
    m_drawIndex = 0;
    setBanned(false);
}

void Macro::setBanned(bool banned)
{
    if (m_banned == banned)
        return;
    m_banned = banned;
    for (MacroItem *item : qAsConst(m_items))
        item->setEnabled(!banned);
    m_nameBox->setEnabled(!banned);
    for (QToolButton *b : {m_addButton, m_renameButton, m_deleteButton, m_otherButton,
                           m_recordButton, m_downloadButton})
        b->setEnabled(false);
    // While recording, the record button is the way out.
    m_recordButton->setEnabled(banned && m_recording);
    m_bulkBox->setEnabled(false);
    m_bulkEdit->setEnabled(false);
    Q_EMIT emitBanWindowsButton(banned);
    if (!banned)
        applyButtonRules();
}

// ---- Writing to the keyboard -------------------------------------------------

uint32_t Macro::downloadMacroItem(MacroItem *item)
{
    const QVector<DataKey> events = item->timeline()->dataKeys();
    qDebug().noquote() << "----------USB DONWLOAD: ITEM =" << item->name() << "ID =" << item->id()
                       << "----------";
    qDebug() << "m_vDataKey.size=" << events.size();
    std::vector<mframe_t> frames(MacroCodec::kMaxFrames);
    std::memset(static_cast<void *>(frames.data()), 0, sizeof(mframe_t) * frames.size());
    m_device->selectMacro(static_cast<unsigned char>(item->id()));
    const int count = MacroCodec::key2mframe(events, frames.data(), MacroCodec::kMaxFrames);
    if (count < 0)
        return WK_ERROR_OUT_OF_RANGE;
    qDebug() << "downloadMacroItem=" << count;
    const uint32_t status =
        m_device->writeMacro(static_cast<unsigned char>(item->id()), count, frames.data());
    const QSignalBlocker block(m_bulkBox);
    m_bulkBox->setChecked(false);
    m_bulkBox->setEnabled(false);
    m_bulkEdit->clear();
    m_bulkEdit->setEnabled(false);
    return status;
}

void Macro::downloadItemDataSlot()
{
    MacroItem *item = selectedItem();
    const bool zh = m_langType == 0;
    if (!item || !m_device || m_banned) {
        for (QToolButton *b :
             {m_downloadButton, m_recordButton, m_renameButton, m_otherButton, m_deleteButton})
            b->setEnabled(false);
        return;
    }
    const int needed = item->timeline()->framesNeeded();
    if (needed > MacroCodec::kMaxFrames) {
        // Refused before anything is sent.
        Dialogs::warning(this, QStringLiteral("Warning"),
                         zh ? QStringLiteral("这个宏需要 %1 帧，键盘最多保存 %2 帧。"
                                             "请删除一些按键或延时。")
                                  .arg(needed)
                                  .arg(MacroCodec::kMaxFrames)
                            : QStringLiteral("This macro needs %1 frames; the keyboard holds at "
                                             "most %2. Remove some keys or delays.")
                                  .arg(needed)
                                  .arg(MacroCodec::kMaxFrames));
        return;
    }
    const QPointer<Macro> self(this);
    const QPointer<MacroItem> target(item);
    const uint32_t status = downloadMacroItem(item);
    if (status != WK_SUCCESS) {
        // The macro stays selected and keeps its unsaved mark.
        Dialogs::warning(this, QStringLiteral("Warning"),
                         zh ? QStringLiteral("宏 %1 没有写入键盘（错误 %2）。")
                                  .arg(item->name())
                                  .arg(status, 0, 16)
                            : QStringLiteral("The macro %1 was not written to the keyboard "
                                             "(error %2).")
                                  .arg(item->name())
                                  .arg(status, 0, 16));
        if (self && !Dialogs::isReleased(this) && target)
            showBulkDelay(target);
        return;
    }
    item->loadButton()->hide(); // what the keyboard holds is what the timeline shows
    if (saveMacroItem(item) == -2 && self && !Dialogs::isReleased(this))
        warn(zh ? QStringLiteral("宏 %1 已写入键盘，但无法保存到文件 %2。")
                      .arg(item->name(), MacroFile::pathIn(m_folder, item->name(), item->id()))
                : QStringLiteral("The macro %1 is on the keyboard, but its file %2 could not "
                                 "be written.")
                      .arg(item->name(), MacroFile::pathIn(m_folder, item->name(), item->id())));
    if (!self || Dialogs::isReleased(this) || !target)
        return;
    item->setSelected(false);
    m_programmatic = true;
    m_nameBox->setCurrentIndex(-1);
    m_programmatic = false;
    for (QToolButton *b :
         {m_downloadButton, m_recordButton, m_renameButton, m_otherButton, m_deleteButton})
        b->setEnabled(false);
}

// ---- Language ----------------------------------------------------------------

void Macro::SetLanguage(int langType)
{
    m_langType = langType;
    retranslate();
    for (MacroItem *item : qAsConst(m_items))
        item->setLanguage(langType);
}

void Macro::retranslate()
{
    const bool zh = m_langType == 0;
    m_importAction->setText(zh ? QStringLiteral("导入") : QStringLiteral("Import"));
    m_exportAction->setText(zh ? QStringLiteral("导出") : QStringLiteral("Export"));
    m_recordButton->setText(zh ? QStringLiteral("录制") : QStringLiteral("REC"));
    m_downloadButton->setText(zh ? QStringLiteral("下载") : QStringLiteral("DOWNLOAD"));
    m_bulkBox->setText(zh ? QStringLiteral("修改所有默认延时")
                          : QStringLiteral("Modify all default delays"));
    m_msecLabel->setText(zh ? QStringLiteral("毫秒") : QStringLiteral("msec"));
    m_addButton->setToolTip(zh ? QStringLiteral("添加") : QStringLiteral("Add"));
    m_renameButton->setToolTip(zh ? QStringLiteral("重命名") : QStringLiteral("Rename"));
    m_deleteButton->setToolTip(zh ? QStringLiteral("删除") : QStringLiteral("Delete"));
    m_otherButton->setToolTip(zh ? QStringLiteral("其它") : QStringLiteral("Other"));
    m_emptyHint->setText(zh ? QStringLiteral("键盘上还没有宏。点击“添加”新建一个。")
                            : QStringLiteral("No macros on this keyboard yet. Click Add to "
                                             "create one."));
}

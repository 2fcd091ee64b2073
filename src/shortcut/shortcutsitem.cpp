#include "shortcut/shortcutsitem.h"

#include "device/device.h"
#include "main/apppaths.h"
#include "shortcut/hostactions.h"
#include "widget/data.h"
#include "widget/keybtn.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDebug>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int kTriggerKeys = kf_t::kTriggerKeys;
constexpr int kMaxLayers = 8; // the layer mask has eight bits
constexpr int kBanCursorMs = 500;

const char kToggleOn[] =
    "QPushButton { background: #46e6b7; color: #16181d; border: none; border-radius: 11px;"
    " font-size: 8pt; font-weight: 700; }";
const char kToggleOff[] =
    "QPushButton { background: #2c313a; color: #c9ced8; border: 1px solid #3f4552;"
    " border-radius: 11px; font-size: 8pt; font-weight: 600; }"
    "QPushButton:hover { border-color: #46e6b7; }";

bool isEmptyButton(const KeyBtn *b)
{
    return b->getCode() == 0 || b->getName() == QLatin1String(" ");
}

void clearButton(KeyBtn *b)
{
    b->setIdentity(0, 0, 0);
    b->setImage(QString());
    b->setText(QStringLiteral(" "));
    b->setAlias(QStringLiteral(" "));
    b->setLegend(QString());
    b->setVectorID(0);
    b->setToolTip(QString());
}

void showDesc(KeyBtn *b, const KeyDesc &d)
{
    b->setIdentity(d.type, d.stype, d.code);
    b->setImage(d.image);
    b->setText(d.image.isEmpty() ? d.name : QString());
    b->setAlias(d.alias);
    b->setLegend(d.legend);
    b->setVectorID(d.vectorIndex);
    b->setAliasMode(true);
    b->setToolTip(d.name.trimmed().isEmpty() ? d.alias : d.name);
}

kc_t recordOf(const KeyBtn *b)
{
    kc_t k{};
    k.setType(static_cast<uint8_t>(b->getType()));
    k.setStype(static_cast<uint8_t>(b->getStype()));
    k.setCode(b->getCode());
    return k;
}
} // namespace

ShortcutsItem::ShortcutsItem(Device *device, int entryIndex, const QVector<KF> *catalogue,
                             const QVector<KeyDesc> *statics, QWidget *parent)
    : QFrame(parent), m_device(device), m_index(entryIndex), m_catalogue(catalogue),
      m_statics(statics)
{
    setObjectName(QStringLiteral("shortcutsItem"));
    setAttribute(Qt::WA_StyledBackground);
    m_banTimer = new QTimer(this);
    m_banTimer->setSingleShot(true);
    m_banTimer->setInterval(kBanCursorMs);
    connect(m_banTimer, &QTimer::timeout, this, [this] { setTriggerCursor(!m_pendingKey); });
    buildUi();
    updateFrame();
}

ShortcutsItem::~ShortcutsItem() = default;

QString ShortcutsItem::functionName(const KF &function, int langType)
{
    return langType == 0 && !function.nameZh.isEmpty() ? function.nameZh : function.name;
}

void ShortcutsItem::buildUi()
{
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(10, 6, 10, 6);
    outer->setSpacing(4);
    auto *row = new QHBoxLayout();
    row->setSpacing(8);
    outer->addLayout(row);

    m_checkBox = new QCheckBox(this);
    m_checkBox->setObjectName(QStringLiteral("checkBox"));
    row->addWidget(m_checkBox);
    connect(m_checkBox, &QCheckBox::toggled, this, &ShortcutsItem::checkBoxSlot);

    // Trigger keys.
    auto *keys = new QWidget(this);
    keys->setObjectName(QStringLiteral("triggerKeys"));
    keys->setFixedWidth(kTriggerColumnWidth);
    auto *keyRow = new QHBoxLayout(keys);
    keyRow->setContentsMargins(0, 0, 0, 0);
    keyRow->setSpacing(4);
    for (int i = 0; i < kTriggerKeys; ++i) {
        if (i > 0) {
            auto *separator = new QLabel(QStringLiteral("|"), keys);
            separator->setObjectName(QStringLiteral("label_%1").arg(i));
            separator->setFixedWidth(8);
            separator->setAlignment(Qt::AlignCenter);
            m_separators.append(separator);
            keyRow->addWidget(separator);
        }
        auto *button = new KeyBtn(keys);
        button->setObjectName(QStringLiteral("btn_%1").arg(i));
        button->setLook(KeyBtn::PaletteLook);
        button->setFixedSize(52, 38);
        button->setAliasMode(true);
        clearButton(button);
        connect(button, &KeyBtn::emitClickKeyBtnSignal, this, &ShortcutsItem::setBtnSlot);
        keyRow->addWidget(button);
        m_btnList.append(button);
    }
    auto makeTool = [keys](const QString &name, const QString &picture) {
        auto *b = new QToolButton(keys);
        b->setObjectName(name);
        b->setAutoRaise(true);
        b->setCursor(Qt::PointingHandCursor);
        b->setFixedSize(22, 22);
        b->setIconSize(QSize(16, 16));
        b->setIcon(QIcon(AppPaths::imagesDir() + QStringLiteral("shortcut/") + picture));
        return b;
    };
    m_addKey = makeTool(QStringLiteral("addKeyButton"), QStringLiteral("plus.svg"));
    m_deleteKey = makeTool(QStringLiteral("deleteKeyButton"), QStringLiteral("minus.svg"));
    m_globuleButton = makeTool(QStringLiteral("globuleButton"), QStringLiteral("globule.svg"));
    m_globuleButton->setCheckable(true);
    keyRow->addStretch(1);
    keyRow->addWidget(m_addKey);
    keyRow->addWidget(m_deleteKey);
    keyRow->addWidget(m_globuleButton);
    connect(m_addKey, &QToolButton::clicked, this, &ShortcutsItem::addBtnSlot);
    connect(m_deleteKey, &QToolButton::clicked, this, &ShortcutsItem::deleteBtnSlot);
    connect(m_globuleButton, &QToolButton::toggled, this, &ShortcutsItem::globuleButtonSlot);
    row->addWidget(keys);

    m_function = new QComboBox(this);
    m_function->setObjectName(QStringLiteral("functionBox"));
    m_function->setFixedWidth(kFunctionColumnWidth);
    row->addWidget(m_function);
    connect(m_function, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &ShortcutsItem::setFunctionTextSlot);

    m_parameter = new ShortcutsParameter(m_statics, this);
    row->addWidget(m_parameter, 1);
    connect(m_parameter, &ShortcutsParameter::changed, this, &ShortcutsItem::markEdited);
    connect(this, &ShortcutsItem::emitParameterBtnRelease, m_parameter,
            &ShortcutsParameter::parameterBtnReleaseSlot);

    // Key maps the function works in.
    m_globuleRow = new QWidget(this);
    m_globuleRow->setObjectName(QStringLiteral("globuleRow"));
    auto *toggles = new QHBoxLayout(m_globuleRow);
    toggles->setContentsMargins(28, 0, 0, 2);
    toggles->setSpacing(6);
    m_globuleCaption = new QLabel(m_globuleRow);
    toggles->addWidget(m_globuleCaption);
    const int maps = m_device ? std::max(0, int(m_device->kcmCount())) : 0;
    for (int i = 0; i < maps; ++i) {
        auto *toggle = new QPushButton(QString::number(i), m_globuleRow);
        toggle->setObjectName(QStringLiteral("layerToggle%1").arg(i));
        toggle->setCheckable(true);
        toggle->setFixedSize(22, 22);
        toggle->setCursor(Qt::PointingHandCursor);
        toggle->setStyleSheet(QLatin1String(kToggleOff));
        connect(toggle, &QPushButton::clicked, this, &ShortcutsItem::globuleChangeSlot);
        toggles->addWidget(toggle);
        m_toggles.append(toggle);
    }
    toggles->addStretch(1);
    m_globuleRow->hide();
    m_globuleButton->setVisible(maps > 0);
    outer->addWidget(m_globuleRow);
    setTriggerCursor(true);
}

kf_t *ShortcutsItem::entry() const
{
    return m_device ? m_device->kfRecord(m_index) : nullptr;
}

quint8 ShortcutsItem::entryId() const
{
    const kf_t *e = entry();
    return e ? e->id() : 0;
}

quint8 ShortcutsItem::entryHi() const
{
    const kf_t *e = entry();
    return e ? e->hi() : 0;
}

int ShortcutsItem::catalogueIndexOf(int hi) const
{
    if (!m_catalogue)
        return -1;
    for (int i = 0; i < m_catalogue->size(); ++i) {
        if (m_catalogue->at(i).hi == hi && m_catalogue->at(i).enable)
            return i;
    }
    return -1;
}

void ShortcutsItem::fill(const STCTS *stcts, bool newEntry)
{
    m_loaded = false;
    m_updating = true;
    showTriggerKeys();
    const kf_t *e = entry();
    const quint8 mask = e ? e->layerMask() : 0xFF;
    for (int i = 0; i < m_toggles.size(); ++i) {
        m_toggles.at(i)->setChecked(i < kMaxLayers && (mask >> i) & 1);
        m_toggles.at(i)->setStyleSheet(
            QLatin1String(m_toggles.at(i)->isChecked() ? kToggleOn : kToggleOff));
    }
    if (newEntry) {
        // A new entry starts with the first function the catalogue offers.
        int first = -1;
        for (int i = 0; m_catalogue && i < m_catalogue->size() && first < 0; ++i) {
            if (m_catalogue->at(i).enable)
                first = i;
        }
        showFunction(first >= 0 ? m_catalogue->at(first).hi : -1);
    } else {
        showFunction(e ? e->hi() : -1);
    }
    m_updating = false;
    rebuildParameter(stcts, !newEntry);
    m_loaded = true;
}

void ShortcutsItem::showTriggerKeys()
{
    const kf_t *e = entry();
    for (int i = 0; i < m_btnList.size(); ++i) {
        KeyBtn *b = m_btnList.at(i);
        if (!e) {
            clearButton(b);
            continue;
        }
        KeyDesc desc;
        Data::selectStaticBtn(&desc, e->keys[i], m_statics);
        if (desc.code == 0 && desc.type == 0 && desc.stype == 0)
            clearButton(b);
        else
            showDesc(b, desc);
    }
    layoutTriggerButtons();
}

void ShortcutsItem::showFunction(int hi)
{
    const QSignalBlocker block(m_function);
    m_function->clear();
    m_unknownHi = -1;
    const int index = catalogueIndexOf(hi);
    if (index < 0 && hi >= 0) {
        // A function this editor cannot show: kept as it is unless the user
        // chooses another one.
        m_unknownHi = hi;
        m_function->addItem(QStringLiteral("none"), -1);
        m_function->setItemData(0,
                                m_langType == 0
                                    ? QStringLiteral("键盘上的功能 %1 不在本键盘的功能表中，"
                                                     "除非选择其他功能，否则保持不变。")
                                          .arg(hi)
                                    : QStringLiteral("Function %1 on the keyboard is not in this "
                                                     "keyboard's list; it is kept unless you "
                                                     "choose another function.")
                                          .arg(hi),
                                Qt::ToolTipRole);
    }
    for (int i = 0; m_catalogue && i < m_catalogue->size(); ++i) {
        const KF &f = m_catalogue->at(i);
        if (!f.enable)
            continue;
        m_function->addItem(functionName(f, m_langType), i);
        const QString tips = m_langType == 0 && !f.tipsZh.isEmpty() ? f.tipsZh : f.tips;
        if (!tips.isEmpty())
            m_function->setItemData(m_function->count() - 1, tips, Qt::ToolTipRole);
    }
    m_function->setCurrentIndex(index >= 0 ? m_function->findData(index) : (hi >= 0 ? 0 : -1));
}

int ShortcutsItem::controlType() const
{
    bool ok = false;
    const int index = m_function->currentData().toInt(&ok);
    if (!ok || !m_catalogue || index < 0 || index >= m_catalogue->size())
        return E_SCT_NONE;
    const int type = m_catalogue->at(index).control_type;
    return type >= E_SCT_NONE && type <= E_SCT_VKB ? type : E_SCT_NONE;
}

void ShortcutsItem::rebuildParameter(const STCTS *stcts, bool useEntry)
{
    const int type = controlType();
    const kf_t *e = entry();
    KfRecord::KfFunction values;
    const int hi = function().hi;
    if (useEntry && e)
        values = KfRecord::decode(*e, m_catalogue ? *m_catalogue : QVector<KF>());
    else
        values = KfRecord::defaults(type, hi);
    if (!useEntry || !e) {
        values.param1 = KfRecord::defaults(type, hi).param1;
        values.param2 = KfRecord::defaults(type, hi).param2;
    }
    QString text = stcts ? stcts->str : QString();
    if (text.isEmpty()) {
        if (type == E_SCT_WEB)
            text = QStringLiteral("https://www.");
        else if (type == E_SCT_DOCAPP || type == E_SCT_FOLDER)
            text = QStringLiteral("/home/");
    }
    const int index = m_function->currentData().toInt();
    const KF *kf = m_catalogue && index >= 0 && index < m_catalogue->size()
                       ? &m_catalogue->at(index)
                       : nullptr;
    m_parameter->setLanguage(m_langType);
    m_parameter->build(type, kf, values, text, m_macros ? m_macros() : QVector<MacroChoice>());
}

KfRecord::KfFunction ShortcutsItem::function() const
{
    KfRecord::KfFunction f;
    bool ok = false;
    const int index = m_function->currentData().toInt(&ok);
    if (ok && m_catalogue && index >= 0 && index < m_catalogue->size()) {
        f.hi = m_catalogue->at(index).hi;
        f.controlType = controlType();
    } else {
        f.hi = m_unknownHi >= 0 ? m_unknownHi : 0;
        f.controlType = E_SCT_NONE;
    }
    const kf_t *e = entry();
    quint8 mask = e ? e->layerMask() : 0xFF;
    if (!m_toggles.isEmpty()) {
        mask = 0;
        for (int i = 0; i < m_toggles.size() && i < kMaxLayers; ++i)
            mask |= m_toggles.at(i)->isChecked() ? quint8(1u << i) : 0;
    }
    f.layerMask = mask;
    for (int i = 0; i < kTriggerKeys && i < m_btnList.size(); ++i)
        f.keys[i] = recordOf(m_btnList.at(i));
    m_parameter->exportTo(&f);
    return f;
}

QString ShortcutsItem::parameterText() const
{
    return m_parameter->text();
}

ShortcutsFile::Item ShortcutsItem::fileItem() const
{
    ShortcutsFile::Item item;
    const KfRecord::KfFunction f = function();
    item.id = entryId();
    item.hi = f.hi;
    item.hitype = f.controlType;
    for (int i = 0; i < kTriggerKeys && i < m_btnList.size(); ++i)
        item.btn[i] = m_btnList.at(i)->getAlias();
    switch (f.controlType) {
    case E_SCT_WEB:
    case E_SCT_DOCAPP:
    case E_SCT_FOLDER:
        item.text = parameterText();
        break;
    case E_SCT_LEDBRI:
        item.ledIndex = m_parameter->optionIndex();
        break;
    case E_SCT_REPKEY:
    case E_SCT_LOCKKEY: {
        const QStringList names = m_parameter->keyListNames();
        for (int i = 0; i < 9 && i < names.size(); ++i)
            item.keyList[i] = names.at(i);
        break;
    }
    case E_SCT_MACRO:
        item.macroName = m_parameter->macroName();
        item.macroCount = m_parameter->macroCount();
        break;
    default:
        break;
    }
    return item;
}

// ---- Trigger keys --------------------------------------------------------

void ShortcutsItem::layoutTriggerButtons()
{
    bool any = false;
    for (int i = 0; i < m_btnList.size(); ++i) {
        KeyBtn *b = m_btnList.at(i);
        const bool shown = !isEmptyButton(b);
        any = any || shown;
        b->setVisible(shown);
        if (i > 0)
            m_separators.at(i - 1)->setText(shown ? QStringLiteral("|") : QString());
    }
    if (!any && !m_btnList.isEmpty())
        m_btnList.first()->show();
    // Re-insert in list order.
    auto *row = static_cast<QHBoxLayout *>(m_btnList.first()->parentWidget()->layout());
    for (int i = 0; i < m_btnList.size(); ++i) {
        row->removeWidget(m_btnList.at(i));
        row->insertWidget(i * 2, m_btnList.at(i));
    }
}

void ShortcutsItem::setTriggerCursor(bool forbidden)
{
    m_forbidden = forbidden;
    for (KeyBtn *b : qAsConst(m_btnList))
        b->setCursor(forbidden ? Qt::ForbiddenCursor : Qt::PointingHandCursor);
}

bool ShortcutsItem::triggerCursorForbidden() const
{
    return m_forbidden;
}

void ShortcutsItem::dynClickKeySlot(KeyBtn *key)
{
    if (!isEnabled() || !key)
        return;
    m_pendingKey = key;
    if (!m_banTimer->isActive())
        setTriggerCursor(false);
}

void ShortcutsItem::releasePendingKey()
{
    m_pendingKey = nullptr;
    if (!m_banTimer->isActive())
        setTriggerCursor(true);
}

void ShortcutsItem::setBtnSlot(KeyBtn *button)
{
    if (m_updating) {
        qDebug() << "Interface updating bool is false, return.";
        return;
    }
    if (!button || !m_btnList.contains(button))
        return;
    for (KeyBtn *b : qAsConst(m_btnList))
        b->setMoveMarker(b != button);
    m_selectedBtn = button;
    KeyBtn *pending = m_pendingKey;
    if (!pending) {
        qDebug().noquote() << "No keys selected in the Dynamic layout, p_dynkeybtn is NULL, return."
                           << "Select Key = " << button->getAlias();
        return;
    }
    for (const KeyBtn *b : qAsConst(m_btnList)) {
        if (b->getType() == pending->getType() && b->getStype() == pending->getStype() &&
            b->getCode() == pending->getCode()) {
            qDebug().noquote()
                << "There is the same key in the Dynamic layout, return. set ban cursor."
                << pending->getName();
            setTriggerCursor(true);
            m_banTimer->start();
            return;
        }
    }
    button->setImage(pending->getImage());
    button->setLegend(pending->getLegend());
    button->setIdentity(pending->getType(), pending->getStype(), pending->getCode());
    button->setAlias(pending->getAlias());
    button->setText(pending->getImage().isEmpty() ? pending->getName() : QString());
    button->setVectorID(pending->getVectorIndex());
    button->setAliasMode(true);
    button->setToolTip(pending->getName().trimmed().isEmpty() ? pending->getAlias()
                                                              : pending->getName());
    qDebug().noquote() << "VectorID:" << button->getVectorIndex() << "text=" << button->getName()
                       << "alias=" << button->getAlias() << "unType=" << button->getType()
                       << "unSType=" << button->getStype() << "unCode=" << button->getCode()
                       << "Image=" << button->getImage();
    markEdited();
}

void ShortcutsItem::addBtnSlot()
{
    layoutTriggerButtons();
    for (int i = 0; i < m_btnList.size(); ++i) {
        KeyBtn *b = m_btnList.at(i);
        if (!isEmptyButton(b))
            continue;
        if (b->isHidden()) {
            b->show();
            if (i > 0)
                m_separators.at(i - 1)->setText(QStringLiteral("|"));
        }
        break;
    }
}

void ShortcutsItem::deleteBtnSlot()
{
    if (!m_selectedBtn || m_btnList.size() < 2 || isEmptyButton(m_btnList.at(1)))
        return;
    KeyBtn *b = m_selectedBtn;
    qDebug().noquote() << "Clear select deleteKey is = " << b->getAlias();
    m_btnList.removeOne(b);
    m_btnList.append(b);
    b->setMoveMarker(true);
    m_selectedBtn = nullptr;
    clearButton(b);
    layoutTriggerButtons();
    markEdited();
}

void ShortcutsItem::btnMouseTimerReleaseSlot(bool release)
{
    if (!release)
        return;
    for (KeyBtn *b : qAsConst(m_btnList))
        b->setMoveMarker(true);
    m_selectedBtn = nullptr;
    m_banTimer->stop();
    setTriggerCursor(!m_pendingKey);
    Q_EMIT emitParameterBtnRelease(true);
}

// ---- Function, key maps, check box -----------------------------------------

void ShortcutsItem::setFunctionTextSlot(int)
{
    if (m_updating || !m_loaded)
        return;
    rebuildParameter(nullptr, false);
    markEdited();
}

void ShortcutsItem::globuleChangeSlot()
{
    qDebug() << "globule change slot.";
    for (QPushButton *t : qAsConst(m_toggles))
        t->setStyleSheet(QLatin1String(t->isChecked() ? kToggleOn : kToggleOff));
    markEdited();
}

void ShortcutsItem::globuleButtonSlot(bool shown)
{
    m_globuleRow->setVisible(shown);
}

void ShortcutsItem::markEdited()
{
    if (m_loaded && !m_updating)
        setSelect(true);
}

bool ShortcutsItem::getSelect() const
{
    return m_checkBox->isChecked();
}

void ShortcutsItem::setSelect(bool select)
{
    m_checkBox->setChecked(select);
}

void ShortcutsItem::setError(bool error)
{
    m_error = error;
    updateFrame();
}

void ShortcutsItem::updateFrame()
{
    const QString border =
        m_error ? QStringLiteral("#e06c75")
                : (getSelect() ? QStringLiteral("#46e6b7") : QStringLiteral("#2c313a"));
    setStyleSheet(QStringLiteral("QFrame#shortcutsItem { background: #22252d; border: 1px solid %1;"
                                 " border-radius: 8px; }")
                      .arg(border));
}

void ShortcutsItem::checkBoxSlot(bool checked)
{
    m_error = false;
    updateFrame();
    if (checked)
        return;
    qDebug().noquote() << "checkBox slot ID = " << entryId() << "checkBox=" << checked;
    if (m_downloading) {
        qDebug().noquote() << "数据下载中，不恢复数据。";
        return;
    }
    undo();
}

void ShortcutsItem::undo()
{
    const kf_t *e = entry();
    if (!e)
        return;
    qDebug().noquote() << "   Data undo.......";
    m_loaded = false;
    m_updating = true;
    showTriggerKeys();
    for (int i = 0; i < m_btnList.size(); ++i)
        qDebug().noquote() << "       btn" + QString::number(i) + "=" + m_btnList.at(i)->getName();
    for (int i = 0; i < m_toggles.size(); ++i) {
        m_toggles.at(i)->setChecked(i < kMaxLayers && (e->layerMask() >> i) & 1);
        m_toggles.at(i)->setStyleSheet(
            QLatin1String(m_toggles.at(i)->isChecked() ? kToggleOn : kToggleOff));
    }
    qDebug().noquote() << "   Data undo.......Function Key undo.";
    showFunction(e->hi());
    qDebug().noquote() << "       Function hi=" << e->hi() << "hiType=" << controlType()
                       << "name=" << m_function->currentText();
    m_updating = false;
    qDebug().noquote() << "   Data undo.......Parameter setting undo.";
    bool found = false;
    const STCTS stcts = m_lookup ? m_lookup(e->id(), e->hi(), &found) : STCTS();
    qDebug().noquote() << "stcts->str=" << stcts.str << "hi=" << stcts.hi << "type=" << stcts.type
                       << "function type=" << controlType();
    rebuildParameter(found ? &stcts : nullptr, true);
    m_loaded = true;
}

void ShortcutsItem::executeCommandSlot()
{
    HostRecord record;
    record.id = entryId();
    record.hi = entryHi();
    record.type = static_cast<quint32>(controlType());
    record.str = parameterText();
    executeHostRecord(record);
}

// ---- Macro box relay -------------------------------------------------------

void ShortcutsItem::updateMacroComboboxAddItem(const MacroChoice &macro)
{
    qDebug().noquote() << "Macro CB -> Shortcuts CB; pKF id= " << entryId()
                       << ", add combobox item name =" << macro.name;
    m_parameter->addMacro(macro);
}

void ShortcutsItem::updateMacroComboboxRemoveItem(int index)
{
    qDebug().noquote() << "Macro CB -> Shortcuts CB; pKF id= " << entryId()
                       << ", remove combobox item index =" << index;
    m_parameter->removeMacro(index);
}

void ShortcutsItem::updateMacroComboboxSetItemText(int index, const QString &name)
{
    qDebug().noquote() << "Macro CB -> Shortcuts CB; pKF id= " << entryId()
                       << ", set combobox item= " << index << "name=" << name;
    m_parameter->renameMacro(index, name);
}

void ShortcutsItem::setLanguage(int langType)
{
    m_langType = langType;
    const bool zh = langType == 0;
    m_globuleCaption->setText(zh ? QStringLiteral("生效的键层：") : QStringLiteral("Key maps:"));
    m_addKey->setToolTip(zh ? QStringLiteral("添加触发键") : QStringLiteral("Add a trigger key"));
    m_deleteKey->setToolTip(zh ? QStringLiteral("删除选中的触发键")
                               : QStringLiteral("Remove the selected trigger key"));
    m_globuleButton->setToolTip(zh ? QStringLiteral("显示或隐藏生效的键层")
                                   : QStringLiteral("Show or hide the key maps it works in"));
    m_checkBox->setToolTip(zh ? QStringLiteral("选中以下载或删除")
                              : QStringLiteral("Checked rows are downloaded or deleted"));
    // Function names in the new language; the choice stays.
    const QSignalBlocker block(m_function);
    for (int i = 0; i < m_function->count(); ++i) {
        bool ok = false;
        const int index = m_function->itemData(i).toInt(&ok);
        if (ok && m_catalogue && index >= 0 && index < m_catalogue->size())
            m_function->setItemText(i, functionName(m_catalogue->at(index), langType));
    }
    m_parameter->setLanguage(langType);
}

#include "main/keylayout.h"

#include "device/device.h"
#include "widget/boardinfo.h"
#include "widget/data.h"

#include <QApplication>
#include <QDebug>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>

#include <algorithm>
#include <cstring>

namespace {
constexpr uint16_t kLockCode = 0xF0;

const char kGlobuleSelected[] =
    "QPushButton { background: #46e6b7; color: #16181d; border: none; border-radius: 13px;"
    " font-weight: 700; }";
const char kGlobuleNormal[] =
    "QPushButton { background: #2c313a; color: #c9ced8; border: 1px solid #3f4552;"
    " border-radius: 13px; font-weight: 600; }"
    "QPushButton:hover { border-color: #46e6b7; }";

} // namespace

KeyLayout::KeyLayout(Data *data, const QVector<BoardInfo *> *boards, QWidget *boardArea,
                     QWidget *palettePage, QObject *parent)
    : QObject(parent), m_data(data), m_boards(boards), m_boardArea(boardArea),
      m_palettePage(palettePage)
{
    auto *boardLayout = qobject_cast<QVBoxLayout *>(m_boardArea->layout());
    if (!boardLayout) {
        boardLayout = new QVBoxLayout(m_boardArea);
        boardLayout->setContentsMargins(0, 12, 0, 0);
        boardLayout->setSpacing(0);
    }
    m_boardFrame = new QFrame(m_boardArea);
    m_boardFrame->setObjectName(QStringLiteral("boardFrame"));
    m_boardFrame->hide();
    boardLayout->addWidget(m_boardFrame, 0, Qt::AlignHCenter);

    m_history = new UndoHistory(this);
    m_history->setObjectName(QStringLiteral("undoHistory"));
    connect(m_history, &UndoHistory::changed, this, &KeyLayout::updateHistoryButtons);

    auto *paletteLayout = new QVBoxLayout(m_palettePage);
    paletteLayout->setContentsMargins(0, 4, 0, 8);
    paletteLayout->setSpacing(4);
    buildToolbar(m_palettePage);
    paletteLayout->addWidget(m_toolbar, 0, Qt::AlignHCenter);
    showHint(Hint::PickBoardKey);
    m_paletteScroll = new QScrollArea(m_palettePage);
    m_paletteScroll->setObjectName(QStringLiteral("paletteScroll"));
    m_paletteScroll->setFrameShape(QFrame::NoFrame);
    m_paletteScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    // Named rules only: a rule without a selector would reach the keys'
    // tool tips too and leave them without a background.
    m_paletteScroll->viewport()->setObjectName(QStringLiteral("paletteViewport"));
    m_paletteScroll->setStyleSheet(
        QStringLiteral("#paletteScroll, #paletteViewport, #paletteContent"
                       " { background: transparent; }"));
    m_paletteScroll->verticalScrollBar()->setStyleSheet(QStringLiteral(
        "QScrollBar:vertical { background: #22252d; width: 8px; border-radius: 4px;"
        " margin: 0; }"
        "QScrollBar::handle:vertical { background: #46e6b7; border-radius: 4px;"
        " min-height: 30px; }"
        "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical { height: 0; }"
        "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical { background: none; }"));
    m_paletteScroll->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    m_paletteContent = new QWidget();
    m_paletteContent->setObjectName(QStringLiteral("paletteContent"));
    m_paletteScroll->setWidget(m_paletteContent);
    paletteLayout->addWidget(m_paletteScroll, 1, Qt::AlignHCenter);
}

KeyLayout::~KeyLayout()
{
    if (m_armed)
        qApp->removeEventFilter(this);
    deleteGlobuleKeyLayer();
    deleteDynamicKeybtn();
}

bool KeyLayout::isLockKey(const KeyBtn *key)
{
    return key->getType() == 0 && key->getStype() == 0 && key->getCode() == kLockCode;
}

QWidget *KeyLayout::boardFrame() const
{
    return m_boardFrame;
}

bool KeyLayout::loadStaticLayout()
{
    m_staticDescs.clear();
    QString path;
    if (!m_data->parseJsonFileForFix(&m_staticDescs, m_data->json(), &path))
        return false;
    qDeleteAll(m_vStaticKeyBtn);
    m_vStaticKeyBtn.clear();
    for (int i = 0; i < m_staticDescs.size(); ++i) {
        auto *key = new KeyBtn(m_paletteContent);
        key->applyDesc(m_staticDescs.at(i));
        key->setVectorID(i);
        key->setLook(KeyBtn::PaletteLook);
        m_vStaticKeyBtn.append(key);
    }
    drawStaticLayout(&m_vStaticKeyBtn);
    m_searchLoaded = false; // read at the first search
    return true;
}

void KeyLayout::drawStaticLayout(QVector<KeyBtn *> *keys)
{
    const double u = m_data->staticW();
    const double v = m_data->staticH();
    const int s = Data::keySpacing();
    const LayoutExtent units = layoutExtent(m_staticDescs);
    const QSize content(toPixels(units.right * u), toPixels(units.bottom * v));
    m_paletteContent->setMinimumSize(content);
    m_paletteContent->resize(content);
    m_paletteScroll->setFixedWidth(content.width() + 1 + 10);
    m_toolbar->setFixedWidth(m_paletteScroll->width());
    for (KeyBtn *key : *keys) {
        const QRectF r = key->mainRect();
        key->setGeometry(toPixels(u * r.x()), toPixels(v * r.y()), toPixels(u * r.width() - s + 1),
                         toPixels(v * r.height() - s + 1));
        connect(key, &KeyBtn::emitKeyCodeSignal, this, &KeyLayout::keyCodeSlot,
                Qt::UniqueConnection);
        connect(key, &KeyBtn::emitClickKeyBtnSignal, this, &KeyLayout::clickKeyBtnStaticSlot,
                Qt::UniqueConnection);
        connect(key, &KeyBtn::emitReleaseControl, this, &KeyLayout::unsetCursorKeySlot,
                Qt::UniqueConnection);
        key->show();
    }
}

void KeyLayout::labelStatic(const QString &table)
{
    if (table.isEmpty())
        return;
    m_staticTable = table;
    m_data->parseStaticXML(&m_staticDescs, table);
    for (int i = 0; i < m_vStaticKeyBtn.size() && i < m_staticDescs.size(); ++i) {
        const KeyDesc &d = m_staticDescs.at(i);
        KeyBtn *key = m_vStaticKeyBtn.at(i);
        key->setIdentity(d.type, d.stype, d.code);
        key->setText(d.name);
        key->setAlias(d.alias);
        key->setImage(d.image);
    }
    setStaticToolTips(m_vStaticKeyBtn, table);
    // The shown version comes first in the search.
    if (m_search && !m_search->text().isEmpty())
        searchSlot(m_search->text());
}

void KeyLayout::layoutVersionWinSlot()
{
    labelStatic(m_data->xmlWin());
    drawKeyCode();
}

void KeyLayout::layoutVersionMacSlot()
{
    labelStatic(m_data->xmlMac());
    drawKeyCode();
}

void KeyLayout::layoutVersionAutoSlot()
{
    layoutVersionWinSlot();
}

void KeyLayout::setDevice(Device *device)
{
    m_ptrDevice = device;
    // The history belongs to one keyboard; one that goes takes it along.
    if (device)
        m_history->setKeyboard(device->deviceIdBytes());
    else
        m_history->clear();
    if (!device)
        m_pressKey->setChecked(false);
    // The instructions are about the keyboard drawn above the palette.
    m_hint->setVisible(device != nullptr);
    updateHistoryButtons();
}

void KeyLayout::createDynamicKeybtn()
{
    if (!m_ptrDevice || !m_vDynamicKeyBtn.isEmpty())
        return;
    const QByteArray block = m_ptrDevice->productNameBlock();
    qDebug().noquote() << "^^^^^^^^^^^^^^^^读取到名字：" + Data::productNameString(block);
    BoardInfo *board = Data::findBoard(*m_boards, block);
    if (board) {
        QVector<KeyDesc> descs;
        QString path;
        if (!m_data->parseJsonFileForFix(&descs, board->file, &path))
            return;
        m_defaults = KeyDefaults::load(m_data, *board);
        for (int i = 0; i < descs.size(); ++i) {
            auto *key = new KeyBtn(m_boardFrame);
            key->applyDesc(descs.at(i));
            key->setLook(KeyBtn::BoardLook);
            key->setContextMenuPolicy(Qt::CustomContextMenu);
            connect(key, &QWidget::customContextMenuRequested, this, [this, key](const QPoint &at) {
                if (QMenu *menu = createKeyMenu(key))
                    menu->popup(key->mapToGlobal(at));
            });
            key->hide();
            m_vDynamicKeyBtn.append(key);
        }
        drawDynamicLayout(static_cast<int>(m_boards->indexOf(board)));
    }
    createGlobuleKeyLayer();
}

void KeyLayout::drawDynamicLayout(int boardIndex)
{
    qDebug() << "draw dynamic layout.........";
    if (!initLock()) {
        qDebug() << "Draw dynamic layout failed. m_initLock is false.";
        return;
    }
    if (!m_ptrDevice) {
        qDebug() << "Draw dynamic layout error, m_ptrDevice is NULL.";
        return;
    }
    if (!m_ptrDevice->keyCodes()) {
        qDebug() << "Draw dynamic layout error, m_ptrDevice->m_pKCs is NULL.";
        return;
    }
    if (m_vDynamicKeyBtn.isEmpty() || boardIndex < 0 || boardIndex >= m_boards->size())
        return;
    const BoardInfo *board = m_boards->at(boardIndex);
    const double u = board->w;
    const double v = board->h;
    double right = 0;
    double bottom = 0;
    for (KeyBtn *key : qAsConst(m_vDynamicKeyBtn)) {
        right = std::max(right, key->mainRect().right());
        bottom = std::max(bottom, key->mainRect().bottom());
    }
    m_boardFrame->setFixedSize(toPixels(right * u), toPixels(bottom * v));
    if (auto *layout = qobject_cast<QVBoxLayout *>(m_boardArea->layout()))
        layout->setContentsMargins(0, toPixels(board->y), 0, 0);
    for (int i = 0; i < m_vDynamicKeyBtn.size(); ++i) {
        KeyBtn *key = m_vDynamicKeyBtn.at(i);
        key->setGeometry(key->pixelGeometry(u, v, Data::keySpacing()));
        key->initPolygonSize(toPixels(u), toPixels(v));
        key->setVectorID(i);
    }
    m_boardFrame->show();
    drawKeyCode();
    initDynamicKeyBtnSignalsOrSlot();
}

void KeyLayout::initDynamicKeyBtnSignalsOrSlot()
{
    for (KeyBtn *key : qAsConst(m_vDynamicKeyBtn)) {
        connect(key, &KeyBtn::emitClickKeyBtnSignal, this, &KeyLayout::clickKeyBtnSlot,
                Qt::UniqueConnection);
        connect(key, &KeyBtn::emitReleaseControl, this, &KeyLayout::unsetCursorKeySlot,
                Qt::UniqueConnection);
    }
}

void KeyLayout::drawKeyCode()
{
    if (!m_ptrDevice) {
        if (!m_vDynamicKeyBtn.isEmpty())
            qDebug() << "Draw Key Code error, m_ptrDevice is NULL.";
        return;
    }
    if (!m_ptrDevice->keyCodes() || m_vDynamicKeyBtn.isEmpty() || m_vStaticKeyBtn.isEmpty())
        return;
    const int count = std::min<int>(m_vDynamicKeyBtn.size(), m_ptrDevice->kcCount());
    for (int i = 0; i < count; ++i)
        showKeyCode(i, m_vStaticKeyBtn);
}

void KeyLayout::showKeyCode(int i, const QVector<KeyBtn *> &palette)
{
    const kc_t record = m_ptrDevice->keyCode(i);
    KeyBtn *key = m_vDynamicKeyBtn.at(i);
    const bool changed =
        m_remapEnabled && m_defaults.state(i, record) == KeyDefaults::State::Changed;
    key->setChangedMark(changed);
    key->setMarkToolTip(changed ? (zh() ? QStringLiteral("已改动，默认：%1")
                                        : QStringLiteral("Changed; the default is %1"))
                                      .arg(paletteName(m_defaults.paletteIndex(i)))
                                : QString());
    const KeyBtn *match = nullptr;
    for (const KeyBtn *s : palette) {
        if (s->getType() == record.type() && s->getStype() == record.stype() &&
            s->getCode() == record.code()) {
            match = s;
            break;
        }
    }
    if (!match)
        return;
    const bool colours = m_ptrDevice->krCount() > 0 && m_ptrDevice->keyColours();
    key->setColor(colours && i < m_ptrDevice->krCount() ? QColor::fromRgb(m_ptrDevice->getKRRgb(i))
                                                        : QColor(245, 245, 245));
    key->setIdentity(match->getType(), match->getStype(), match->getCode());
    key->setImage(match->getImage());
    key->setText(match->getImage().isEmpty() ? match->getName() : QString());
    key->setAlias(match->getAlias());
    key->setToolTip(match->toolTip());
    key->setLocked(record.lock());
    key->show();
    key->update();
}

QString KeyLayout::paletteName(int index) const
{
    if (index < 0 || index >= m_vStaticKeyBtn.size())
        return QString();
    const KeyBtn *key = m_vStaticKeyBtn.at(index);
    // Pictured keys have no name on the cap; the tool tip names them all.
    QString name = key->toolTip().trimmed();
    if (name.isEmpty())
        name = key->getName().trimmed();
    if (name.isEmpty() && index < m_staticDescs.size())
        name = m_staticDescs.at(index).alias.trimmed();
    return name;
}

void KeyLayout::clickKeyBtnSlot(KeyBtn *key)
{
    if (!key || !m_remapEnabled)
        return;
    m_pkeyBtn = key;
    qDebug().noquote() << "Click KeyBtn text is " << key->getAlias();
    if (m_prevKeyBtn && m_prevKeyBtn->getVectorIndex() != key->getVectorIndex())
        m_prevKeyBtn->setMoveMarker(true);
    m_prevKeyBtn = key;
    key->setMoveMarker(false);
    showHint(Hint::PickPaletteKey);
}

void KeyLayout::clickKeyBtnStaticSlot(KeyBtn *key)
{
    if (!key) {
        qDebug() << "click key button static slot is NULL. return.";
        return;
    }
    if (!m_remapEnabled)
        return;
    if (!m_pkeyBtn) {
        // Marking the palette key would look like a pick that does nothing.
        showHint(Hint::SelectFirst);
        return;
    }
    m_pStaticKeyBtn = key;
    if (m_prevStaticKeyBtn && m_prevStaticKeyBtn != key)
        m_prevStaticKeyBtn->setMoveMarker(true);
    m_prevStaticKeyBtn = key;
    key->setMoveMarker(false);
}

void KeyLayout::keyCodeSlot(KeyBtn *staticKey)
{
    if (!initLock() || !staticKey || !m_remapEnabled)
        return;
    if (!m_ptrDevice) {
        qDebug() << "m_label != NULL or m_ptrDevice == NULL.";
        return;
    }
    if (!m_pkeyBtn) {
        qDebug() << "m_pkeyBtn == NULL. return";
        return;
    }
    qDebug().noquote() << "key code slot:"
                       << "  type=" << staticKey->getType() << "  stype=" << staticKey->getStype()
                       << "  code=" << QString::number(staticKey->getCode(), 16)
                       << "  strImage=" << staticKey->getImage()
                       << "  strName=" << staticKey->getName();
    const int n = m_pkeyBtn->getVectorIndex();
    if (n < 0 || n >= m_ptrDevice->kcCount() || !m_ptrDevice->keyCodes())
        return;
    const kc_t old = m_ptrDevice->keyCode(n);
    kc_t updated = old;
    const bool lockKey = isLockKey(staticKey);
    if (lockKey) {
        updated.attr = static_cast<uint8_t>(old.attr ^ 0x01);
    } else {
        updated.attr = static_cast<uint8_t>(((staticKey->getType() & 7) << 1) | (old.attr & 0x01) |
                                            ((staticKey->getStype() & 15) << 4));
        updated.setCode(staticKey->getCode());
    }
    updated.extra = old.extra;
    const KeyboardEdit edit = KeyboardEdit::remap(m_ptrDevice, n, updated);
    const QPointer<KeyBtn> target(m_pkeyBtn);
    uint32_t status = WK_SUCCESS;
    if (edit.isNoOp()) {
        // The same code again: written as before, nothing to undo.
        const auto first = static_cast<unsigned char>(n);
        status =
            m_ptrDevice->setKC(first, first, reinterpret_cast<const unsigned char *>(&updated));
    } else {
        // The writer shows what the keyboard holds afterwards.
        status = m_history->perform(edit, historyWriter());
    }
    if (status != WK_SUCCESS || !m_ptrDevice || !target)
        return;
    if (!lockKey && target == m_pkeyBtn) {
        // Codes the palette lacks keep the clicked key's look.
        target->setIdentity(updated.type(), updated.stype(), updated.code());
        if (target->getImage() != staticKey->getImage() ||
            target->getAlias() != staticKey->getAlias()) {
            target->setImage(staticKey->getImage());
            target->setText(staticKey->getImage().isEmpty() ? staticKey->getName() : QString());
            target->setAlias(staticKey->getAlias());
            target->setToolTip(staticKey->toolTip());
        }
    }
    target->setLocked(updated.lock());
    target->show();
    target->update();
}

void KeyLayout::unsetCursorKeySlot()
{
    Q_EMIT emitReleaseKeySelection();
    if (m_pkeyBtn)
        m_pkeyBtn->setMoveMarker(true);
    if (m_pStaticKeyBtn)
        m_pStaticKeyBtn->setMoveMarker(true);
    m_pkeyBtn = nullptr;
    m_pStaticKeyBtn = nullptr;
    m_boardFrame->unsetCursor();
    m_paletteContent->unsetCursor();
    showHint(Hint::PickBoardKey);
}

void KeyLayout::setRemapEnabled(bool enabled)
{
    const bool was = m_remapEnabled;
    m_remapEnabled = enabled;
    if (!enabled && m_pressKey)
        m_pressKey->setChecked(false);
    // The marks are about key codes: the key page's.
    if (was != enabled && m_ptrDevice)
        drawKeyCode();
}

void KeyLayout::showHint(Hint hint)
{
    m_hintShown = hint;
    const bool zh = m_langType == 0;
    QString text;
    switch (hint) {
    case Hint::PickBoardKey:
        text = zh ? QStringLiteral("先点击上方键盘中的按键，再点击下方它要发送的键。")
                  : QStringLiteral("Click a key on the keyboard above, then the key it should "
                                   "send below.");
        break;
    case Hint::PickPaletteKey:
        text = zh ? QStringLiteral("现在点击它要发送的键。右键或 Esc 取消选择。")
                  : QStringLiteral("Now click the key it should send. Right-click or Esc lets "
                                   "go of the key.");
        break;
    case Hint::SelectFirst:
        text = zh ? QStringLiteral("请先在键盘上选择一个按键。")
                  : QStringLiteral("Select a key on the keyboard first.");
        break;
    case Hint::Note:
        break;
    }
    if (hint == Hint::Note)
        return; // showNote() sets the text
    m_hint->setText(text);
    m_hint->setStyleSheet(hint == Hint::SelectFirst
                              ? QStringLiteral("color: #ffb454; font-weight: 600;")
                              : QStringLiteral("color: #9aa3b2;"));
}

void KeyLayout::showNote(const QString &text, bool warning)
{
    m_hintShown = Hint::Note;
    m_hint->setText(text);
    m_hint->setToolTip(text); // a long note may not fit
    m_hint->setStyleSheet(warning ? QStringLiteral("color: #ffb454; font-weight: 600;")
                                  : QStringLiteral("color: #46e6b7;"));
}

void KeyLayout::SetLanguage(int langType)
{
    m_langType = langType;
    applyTexts();
    // A note was in the other language: the instructions instead.
    showHint(m_hintShown == Hint::Note ? (m_pkeyBtn ? Hint::PickPaletteKey : Hint::PickBoardKey)
                                       : m_hintShown);
    if (m_ptrDevice)
        drawKeyCode(); // the marks' tool tips
    if (m_globuleLabel)
        m_globuleLabel->setText(langType == 0 ? QStringLiteral("按键层")
                                              : QStringLiteral("Key map"));
}

void KeyLayout::unsetCursorSlot()
{
    unsetCursorKeySlot();
}

void KeyLayout::deleteOperaterKeyBtn()
{
    for (KeyBtn *key : {m_prevStaticKeyBtn, m_prevKeyBtn, m_pStaticKeyBtn, m_pkeyBtn}) {
        if (key)
            key->setMoveMarker(true);
    }
    m_prevStaticKeyBtn = m_prevKeyBtn = m_pStaticKeyBtn = m_pkeyBtn = nullptr;
}

void KeyLayout::deleteDynamicKeybtn()
{
    if (m_vDynamicKeyBtn.isEmpty())
        return;
    qDebug() << "Delete dynamic keybtn operater keybtn.....";
    // The palette selection survives; only the board goes.
    m_pkeyBtn = nullptr;
    m_prevKeyBtn = nullptr;
    showHint(Hint::PickBoardKey);
    qDebug() << "Delete dynamic keybtn all.......";
    qDeleteAll(m_vDynamicKeyBtn);
    m_vDynamicKeyBtn.clear();
    m_defaults = KeyDefaults();
    m_boardFrame->hide();
    qDebug() << "Delete dynamic keybtn all finish.";
}

void KeyLayout::styleGlobuleKey(QPushButton *button, bool selected)
{
    button->setStyleSheet(QLatin1String(selected ? kGlobuleSelected : kGlobuleNormal));
    button->setProperty("selected", selected);
}

void KeyLayout::createGlobuleKeyLayer()
{
    if (!m_ptrDevice) {
        qDebug() << "Create globule key Layer failed, m_ptrDevice == NULL.";
        return;
    }
    if (m_hGlobuleKeyLayout) {
        qDebug() << "Create globule key Layer failed, m_hGlobuleKeyLayout != NULL.";
        return;
    }
    if (m_ptrDevice->curKCM() < 0) {
        qDebug() << "Create globule key Layer error, m_ptrDevice->m_curkcm = -1.";
        return;
    }
    if (m_ptrDevice->kcmCount() < 0) {
        qDebug() << "Create globule key Layer error, m_ptrDevice->m_nkcm = -1.";
        return;
    }
    qDebug() << "Create globule key Layer.........";
    m_globuleFrame = buildMapRow(m_boardArea, QStringLiteral("keyMapSelector"),
                                 m_ptrDevice->kcmCount(), &m_vGlobuleKey, &m_globuleLabel);
    if (!m_globuleFrame) {
        qDebug() << "Create globule key Layer error, m_vGlobuleKey size is 0.";
        return;
    }
    m_globuleLabel->setObjectName(QStringLiteral("keyMapLabel"));
    m_hGlobuleKeyLayout = qobject_cast<QHBoxLayout *>(m_globuleFrame->layout());
    addHistoryControls();
    SetLanguage(m_langType);
    m_globuleFrame->setFixedWidth(std::max(350, m_globuleFrame->sizeHint().width()));
    updateHistoryButtons();
    for (QPushButton *button : qAsConst(m_vGlobuleKey))
        connect(button, &QPushButton::pressed, this, &KeyLayout::globuleKeyPressedSlot);
    const int current = m_ptrDevice->curKCM();
    if (current < m_vGlobuleKey.size())
        styleGlobuleKey(m_vGlobuleKey.at(current), true);
    if (auto *layout = qobject_cast<QVBoxLayout *>(m_boardArea->layout()))
        layout->insertWidget(layout->indexOf(m_boardFrame) + 1, m_globuleFrame, 0,
                             Qt::AlignHCenter);
    m_globuleFrame->show();
}

QFrame *KeyLayout::buildMapRow(QWidget *parent, const QString &name, int count,
                               QVector<QPushButton *> *buttons, QLabel **caption)
{
    if (count <= 0)
        return nullptr;
    auto *row = new QFrame(parent);
    row->setObjectName(name);
    row->setFixedSize(350, 40);
    auto *layout = new QHBoxLayout(row);
    layout->setSpacing(6);
    layout->setContentsMargins(11, 11, 11, 11);
    layout->addStretch(1);
    *caption = new QLabel(row);
    (*caption)->setStyleSheet(QStringLiteral("color: #9aa3b2; padding-right: 4px;"));
    (*caption)->setFixedHeight(26); // as tall as the buttons, so the texts line up
    layout->addWidget(*caption);
    for (int i = 0; i < count; ++i) {
        auto *button = new QPushButton(QString::number(i), row);
        button->setFixedSize(26, 26);
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::PointingHandCursor);
        styleGlobuleKey(button, false);
        layout->addWidget(button);
        buttons->append(button);
    }
    layout->addStretch(1);
    return row;
}

void KeyLayout::deleteGlobuleKeyLayer()
{
    if (!m_hGlobuleKeyLayout)
        return;
    qDebug() << "Delete globule key Layer.........";
    for (QPushButton *button : qAsConst(m_vGlobuleKey))
        disconnect(button, nullptr, this, nullptr);
    m_vGlobuleKey.clear();
    m_undoButton = m_redoButton = m_resetMapButton = nullptr;
    delete m_globuleFrame; // deletes the buttons, the caption and the layout
    m_globuleFrame = nullptr;
    m_globuleLabel = nullptr;
    m_hGlobuleKeyLayout = nullptr;
}

void KeyLayout::setFrameGlobuleKeyShow(bool show)
{
    if (m_globuleFrame)
        m_globuleFrame->setVisible(show);
}

void KeyLayout::globuleKeyPressedSlot()
{
    if (!m_ptrDevice)
        return;
    qDebug("m_curkcm=%d", m_ptrDevice->curKCM());
    auto *pressed = qobject_cast<QPushButton *>(sender());
    const int map = m_vGlobuleKey.indexOf(pressed);
    if (map < 0)
        return;
    // A switch the keyboard made itself (its layer key) is not the user's edit.
    const KeyboardEdit edit = KeyboardEdit::keyMapSwitch(m_ptrDevice, map);
    const uint32_t status = m_ptrDevice->setCurKCMID(static_cast<unsigned char>(map));
    if (status != WK_SUCCESS) {
        qWarning("setCurKCMID %d failed, status %x", map, status);
        return;
    }
    m_ptrDevice->getCurKCM();
    qDebug("setCurKCMID=%d", map);
    if (!m_fromKeyboard)
        m_history->record(edit);
    for (int i = 0; i < m_vGlobuleKey.size(); ++i)
        styleGlobuleKey(m_vGlobuleKey.at(i), i == map);
    drawKeyCode();
    unsetCursorSlot();
    Q_EMIT keyMapChanged(map);
}

void KeyLayout::styleKeyMapRow()
{
    const int current = m_ptrDevice ? m_ptrDevice->curKCM() : -1;
    for (int i = 0; i < m_vGlobuleKey.size(); ++i)
        styleGlobuleKey(m_vGlobuleKey.at(i), i == current);
}

bool KeyLayout::pressKeyMapButton(int map)
{
    if (map < 0 || map >= m_vGlobuleKey.size()) {
        qDebug("key map %d has no selector button, ignored", map);
        return false;
    }
    m_fromKeyboard = true;
    Q_EMIT m_vGlobuleKey.at(map)->pressed();
    m_fromKeyboard = false;
    return true;
}

void KeyLayout::applyLockStates(const QByteArray &payload)
{
    // Records may start at any byte; each needs four bytes inside the payload.
    for (int offset = 0; offset + 4 <= payload.size(); ++offset) {
        kc_t record;
        std::memcpy(&record, payload.constData() + offset, sizeof(record));
        for (KeyBtn *key : qAsConst(m_vDynamicKeyBtn)) {
            if (key->getType() == record.type() && key->getStype() == record.stype() &&
                key->getCode() == record.code()) {
                key->setLocked(record.lock());
                key->update();
            }
        }
    }
}

void KeyLayout::setDynamicKeyTextShowType(KeyBtn::TextShow show)
{
    const uint8_t *modes = m_ptrDevice ? m_ptrDevice->modes() : nullptr;
    const int count = m_ptrDevice ? m_ptrDevice->lmCount() : 0;
    for (int i = 0; i < m_vDynamicKeyBtn.size(); ++i) {
        KeyBtn *key = m_vDynamicKeyBtn.at(i);
        key->setTextShow(show);
        if (show == KeyBtn::ShowMode)
            key->setMode(modes && i < count ? modes[i] : -1);
    }
}

void KeyLayout::KeyBtnToolTip(bool enabled)
{
    for (KeyBtn *key : qAsConst(m_vDynamicKeyBtn))
        key->setToolTipEnabled(enabled);
}

void KeyLayout::setDynamicKeyUnsetCursor()
{
    for (KeyBtn *key : qAsConst(m_vDynamicKeyBtn))
        key->unsetCursor();
}

#include "main/lightingcontroller.h"

#include "color/color.h"
#include "color/mode.h"
#include "color/palette.h"
#include "device/device.h"
#include "main/keylayout.h"
#include "widget/dialogs.h"
#include "widget/keybtn.h"

#include <QDebug>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace {
constexpr int kCursorSize = 28;

QPixmap swatch(const QColor &color)
{
    QPixmap pixmap(kCursorSize, kCursorSize);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x16, 0x18, 0x1d), 2));
    painter.setBrush(color);
    painter.drawEllipse(QRectF(3, 3, kCursorSize - 6, kCursorSize - 6));
    painter.setPen(QPen(QColor(0xe8, 0xea, 0xed), 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(1.5, 1.5, kCursorSize - 3, kCursorSize - 3));
    return pixmap;
}

QPixmap modeBadge(int mode)
{
    QPixmap pixmap(kCursorSize + 8, kCursorSize - 8);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(QColor(0x16, 0x18, 0x1d), 1.5));
    painter.setBrush(QColor(0x46, 0xe6, 0xb7));
    painter.drawRoundedRect(QRectF(1, 1, pixmap.width() - 2, pixmap.height() - 2), 5, 5);
    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setPen(QColor(0x16, 0x18, 0x1d));
    painter.drawText(pixmap.rect(), Qt::AlignCenter, QStringLiteral("M%1").arg(mode));
    return pixmap;
}
} // namespace

LightingController::LightingController(KeyLayout *keys, QWidget *boardArea, QWidget *dialogParent,
                                       QObject *parent)
    : QObject(parent), m_keys(keys), m_boardArea(boardArea), m_dialogParent(dialogParent)
{
    if (m_keys) {
        connect(m_keys, &KeyLayout::historyWritten, this, &LightingController::showDeviceState);
        // The key page's note is out of sight here: say it in a box, from the
        // event loop rather than inside the undo.
        connect(m_keys, &KeyLayout::historyRefused, this, [this](uint32_t status) {
            if (!m_shown)
                return;
            QTimer::singleShot(0, this, [this, status] {
                if (!m_shown || !m_device)
                    return;
                const bool zh = m_langType == 0;
                Dialogs::warning(m_dialogParent,
                                 zh ? QStringLiteral("撤销") : QStringLiteral("Undo"),
                                 (zh ? QStringLiteral("键盘没有接受（0x%1），一切保持原样。")
                                     : QStringLiteral("The keyboard refused it (0x%1); nothing "
                                                      "changed."))
                                     .arg(status, 0, 16),
                                 QMessageBox::Ok);
            });
        });
    }
}

LightingController::~LightingController()
{
    deleteGlobuleColorLayer();
    deleteGlobuleModeLayer();
}

void LightingController::setDevice(Device *device, Color *page)
{
    m_device = device;
    m_failureShown = false;
    setPage(page);
}

void LightingController::setPage(Color *page)
{
    if (m_page == page)
        return;
    if (m_page)
        disconnect(m_page, nullptr, this, nullptr);
    m_page = page;
    if (!page)
        return;
    connect(page->palette(), &Palette::emitCursorColor, this,
            &LightingController::setCursorColorSlot);
    connect(page->mode(), &Mode::emitCursorMode, this, &LightingController::setCursorModeSlot);
    connect(page->mode(), &Mode::emitModeApplied, this, &LightingController::recordEdit);
    connect(page, &Color::emitUnsetCursor, this, &LightingController::unsetCursorColorSlot);
}

void LightingController::setShown(bool shown)
{
    m_shown = shown && m_page;
    if (m_colourRow)
        m_colourRow->setVisible(m_shown);
    if (m_modeRow)
        m_modeRow->setVisible(m_shown);
    if (!m_keys)
        return;
    m_keys->setDynamicKeyTextShowType(m_shown ? KeyBtn::ShowMode : KeyBtn::ShowLegend);
    if (m_shown) {
        connectKeys();
    } else {
        if (m_page)
            m_page->releaseBrush();
        setKeysCursor(QCursor());
    }
}

void LightingController::connectKeys()
{
    for (KeyBtn *key : m_keys->dynamicKeys()) {
        connect(key, &KeyBtn::emitRequestColorSignal, this,
                &LightingController::receiveRequestColorSlot, Qt::UniqueConnection);
    }
}

int LightingController::keyPosition(int index) const
{
    const QVector<KeyBtn *> &keys = m_keys->dynamicKeys();
    for (int i = 0; i < keys.size(); ++i) {
        if (keys.at(i)->getVectorIndex() == index)
            return i;
    }
    return -1;
}

void LightingController::receiveRequestColorSlot(int index)
{
    if (!m_page || !m_shown || !m_device)
        return;
    if (m_keys->dynamicKeys().isEmpty()) {
        qDebug() << "m_vDynamicKeyBtn Vector Dynamic key button is size 0.";
        return;
    }
    const QPointer<LightingController> self(this);
    // Colour and mode of one click are one step of the history.
    QVector<KeyboardEdit> step;
    m_step = &step;
    const bool coloured = setKeyColor(index, m_page->palette()->getCurrentColor());
    if (!self)
        return; // a failure box ran an event loop
    if (Dialogs::isReleased(this) || !m_page) {
        m_step = nullptr;
        return;
    }
    const bool moded = setKeyMode(index, m_page->mode()->getSelectMode());
    if (!self)
        return;
    m_step = nullptr;
    if (Dialogs::isReleased(this))
        return;
    if (m_keys && m_device)
        m_keys->history()->record(step);
    if (!coloured && !moded) {
        qDebug() << "Please select a color or mode.";
        setKeysCursor(QCursor(Qt::ForbiddenCursor));
    }
}

bool LightingController::setKeyColor(int index, const QColor &color)
{
    if (!color.isValid())
        return false;
    const int i = keyPosition(index);
    if (i < 0 || !m_device)
        return true;
    if (i >= m_device->krCount()) {
        qDebug("key %d has no colour on this keyboard (%d colours)", i, m_device->krCount());
        return true;
    }
    const KeyboardEdit edit = KeyboardEdit::colour(m_device, i, color.rgb());
    const uint32_t status = m_device->setKRRgb(static_cast<unsigned char>(i), color.rgb());
    if (status != WK_SUCCESS) {
        reportFailure(QStringLiteral("setKR"), status);
        return true;
    }
    recordEdit(edit);
    KeyBtn *key = m_keys->dynamicKeys().value(i);
    if (key)
        key->setColor(color);
    return true;
}

bool LightingController::setKeyMode(int index, int mode)
{
    if (mode < 0)
        return false;
    const int i = keyPosition(index);
    if (i < 0 || !m_device)
        return true;
    if (i >= m_device->lmCount()) {
        qDebug("key %d has no mode on this keyboard (%d modes)", i, m_device->lmCount());
        return true;
    }
    KeyBtn *key = m_keys->dynamicKeys().value(i);
    qDebug().noquote() << "set " << (key ? key->getName() : QString()) << " mode=" << mode;
    const unsigned char byte = static_cast<unsigned char>(mode);
    const unsigned char at = static_cast<unsigned char>(i);
    const KeyboardEdit edit = KeyboardEdit::mode(m_device, i, byte);
    const uint32_t status = m_device->setLM(at, at, &byte);
    if (status != WK_SUCCESS) {
        reportFailure(QStringLiteral("setLM"), status);
        return true;
    }
    recordEdit(edit);
    if (key)
        key->setMode(mode);
    return true;
}

void LightingController::recordEdit(const KeyboardEdit &edit)
{
    if (m_step)
        m_step->append(edit);
    else if (m_keys)
        m_keys->history()->record(edit);
}

void LightingController::reportFailure(const QString &what, uint32_t status)
{
    qWarning().noquote() << what << "failed, status" << QString::number(status, 16);
    if (m_failureShown)
        return;
    m_failureShown = true;
    const bool zh = m_langType == 0;
    Dialogs::critical(m_dialogParent, tr("ErrorCode"),
                      (zh ? QStringLiteral("键盘没有接受灯光设置：<font color='red'>%1</font>"
                                           "<br>屏幕上显示的是键盘保存的内容。")
                          : QStringLiteral("The keyboard did not take the lighting change: "
                                           "<font color='red'>%1</font><br>The keys show what "
                                           "the keyboard holds."))
                          .arg(QStringLiteral("0x") + QString::number(status, 16)),
                      QMessageBox::Ok);
}

QFrame *LightingController::createRow(const QString &name, int count, int current,
                                      QVector<QPushButton *> *buttons, QLabel **caption,
                                      void (LightingController::*slot)())
{
    QFrame *row = KeyLayout::buildMapRow(m_boardArea, name, count, buttons, caption);
    if (!row)
        return nullptr;
    for (int i = 0; i < buttons->size(); ++i) {
        KeyLayout::styleGlobuleKey(buttons->at(i), i == current);
        connect(buttons->at(i), &QPushButton::pressed, this, slot);
    }
    if (auto *area = qobject_cast<QVBoxLayout *>(m_boardArea->layout())) {
        // Under the board: colour maps, then mode maps.
        int at = area->indexOf(m_keys->boardFrame());
        at = at < 0 ? area->count() : at + 1;
        if (m_colourRow && area->indexOf(m_colourRow) >= 0)
            at = area->indexOf(m_colourRow) + 1;
        area->insertWidget(at, row, 0, Qt::AlignHCenter);
    }
    row->setVisible(m_shown);
    applyRowTexts();
    return row;
}

void LightingController::createGlobuleColorLayer()
{
    if (!m_device || m_colourRow)
        return;
    if (m_device->curKRM() == -1) {
        qDebug() << "Create globule color layer error, m_ptrDevice->m_curkrm = -1.";
        return;
    }
    if (m_device->krmCount() == -1) {
        qDebug() << "Create globule color layer error, m_ptrDevice->m_nkrm = -1.";
        return;
    }
    if (m_device->krmCount() <= 0) {
        qDebug() << "Create globule color layer error, Do not support color function(krm <= 0).";
        return;
    }
    qDebug() << "Create globule color layer........";
    m_colourRow = createRow(QStringLiteral("colourMapSelector"), m_device->krmCount(),
                            m_device->curKRM(), &m_colourGlobules, &m_colourCaption,
                            &LightingController::globuleColorPressedSlot);
    addHistoryButtons(m_colourRow);
}

void LightingController::addHistoryButtons(QFrame *row)
{
    auto *layout = row ? qobject_cast<QHBoxLayout *>(row->layout()) : nullptr;
    if (!layout || m_undoButton || !m_keys)
        return;
    const int end = layout->count() - 1; // before the closing stretch
    m_undoButton = KeyLayout::createHistoryButton(row, m_keys->history(), false);
    m_redoButton = KeyLayout::createHistoryButton(row, m_keys->history(), true);
    connect(m_undoButton, &QPushButton::clicked, m_keys, &KeyLayout::undo);
    connect(m_redoButton, &QPushButton::clicked, m_keys, &KeyLayout::redo);
    layout->insertSpacing(end, 14);
    layout->insertWidget(end + 1, m_undoButton);
    layout->insertWidget(end + 2, m_redoButton);
    row->setFixedWidth(std::max(row->width(), row->sizeHint().width()));
    applyRowTexts();
}

void LightingController::showDeviceState()
{
    if (!m_device || !m_keys)
        return;
    for (int i = 0; i < m_colourGlobules.size(); ++i)
        KeyLayout::styleGlobuleKey(m_colourGlobules.at(i), i == m_device->curKRM());
    for (int i = 0; i < m_modeGlobules.size(); ++i)
        KeyLayout::styleGlobuleKey(m_modeGlobules.at(i), i == m_device->curLMM());
    const QVector<KeyBtn *> &keys = m_keys->dynamicKeys();
    if (m_device->keyColours()) {
        const int count = std::min<int>(keys.size(), m_device->krCount());
        for (int i = 0; i < count; ++i)
            keys.at(i)->setColor(QColor::fromRgb(m_device->getKRRgb(i)));
    }
    if (const uint8_t *modes = m_device->modes()) {
        const int count = std::min<int>(keys.size(), m_device->lmCount());
        for (int i = 0; i < count; ++i)
            keys.at(i)->setMode(modes[i]);
    }
}

void LightingController::deleteGlobuleColorLayer()
{
    if (!m_colourRow)
        return;
    qDebug() << "Delete globule color layer........";
    m_colourGlobules.clear();
    m_undoButton = m_redoButton = nullptr;
    delete m_colourRow;
    m_colourRow = nullptr;
    m_colourCaption = nullptr;
}

void LightingController::createGlobuleModeLayer()
{
    if (!m_device || m_modeRow)
        return;
    if (m_device->curLMM() == -1 || m_device->lmmCount() == -1) {
        qDebug("Create globule mode layer error, m_curlmm = %d, m_nlmm = %d.", m_device->curLMM(),
               m_device->lmmCount());
        return;
    }
    if (m_device->lmmCount() <= 0) {
        qDebug() << "Create globule mode layer error, m_vGlobule size is 0.";
        return;
    }
    qDebug() << "Create globule mode layer........";
    m_modeRow =
        createRow(QStringLiteral("modeMapSelector"), m_device->lmmCount(), m_device->curLMM(),
                  &m_modeGlobules, &m_modeCaption, &LightingController::globuleModePressedSlot);
    // Room where the colour row has undo and redo: the map buttons line up.
    auto *layout = m_modeRow ? qobject_cast<QHBoxLayout *>(m_modeRow->layout()) : nullptr;
    if (layout && m_undoButton && m_colourRow) {
        layout->insertSpacing(layout->count() - 1, 14 + 2 * (26 + layout->spacing()));
        m_modeRow->setFixedWidth(m_colourRow->width());
    }
}

void LightingController::deleteGlobuleModeLayer()
{
    if (!m_modeRow)
        return;
    qDebug() << "Delete globule mode layer........";
    m_modeGlobules.clear();
    delete m_modeRow;
    m_modeRow = nullptr;
    m_modeCaption = nullptr;
}

void LightingController::globuleColorPressedSlot()
{
    const int j = m_colourGlobules.indexOf(qobject_cast<QPushButton *>(sender()));
    if (j < 0 || !m_device)
        return;
    if (j == m_device->curKRM()) {
        qDebug() << "no changes color return.";
        return;
    }
    const KeyboardEdit edit = KeyboardEdit::colourMapSwitch(m_device, j);
    const bool fromKeyboard = m_fromKeyboard;
    const uint32_t status = m_device->setCurKRMID(static_cast<unsigned char>(j));
    if (status != WK_SUCCESS) {
        reportFailure(QStringLiteral("setCurKRMID"), status);
        return;
    }
    if (!fromKeyboard && m_keys)
        m_keys->history()->record(edit);
    for (int i = 0; i < m_colourGlobules.size(); ++i)
        KeyLayout::styleGlobuleKey(m_colourGlobules.at(i), i == j);
    m_device->getCurKRM();
    onKRMChange();
}

void LightingController::globuleModePressedSlot()
{
    const int j = m_modeGlobules.indexOf(qobject_cast<QPushButton *>(sender()));
    if (j < 0 || !m_device)
        return;
    if (j == m_device->curLMM()) {
        qDebug() << "no changes LM return.";
        return;
    }
    const KeyboardEdit edit = KeyboardEdit::modeMapSwitch(m_device, j);
    const bool fromKeyboard = m_fromKeyboard;
    const uint32_t status = m_device->setCurLMMID(static_cast<unsigned char>(j));
    if (status != WK_SUCCESS) {
        reportFailure(QStringLiteral("setCurLMMID"), status);
        return;
    }
    if (!fromKeyboard && m_keys)
        m_keys->history()->record(edit);
    for (int i = 0; i < m_modeGlobules.size(); ++i)
        KeyLayout::styleGlobuleKey(m_modeGlobules.at(i), i == j);
    m_device->getCurLMM();
    onLMMChange();
}

void LightingController::onKRMChange()
{
    if (!m_device)
        return;
    const QVector<KeyBtn *> &keys = m_keys->dynamicKeys();
    const int count = std::min<int>(keys.size(), m_device->krCount());
    for (int i = 0; i < count; ++i)
        keys.at(i)->setColor(QColor::fromRgb(m_device->getKRRgb(i)));
    unsetCursorColorSlot();
}

void LightingController::onLMMChange()
{
    if (!m_device)
        return;
    const QVector<KeyBtn *> &keys = m_keys->dynamicKeys();
    const uint8_t *modes = m_device->modes();
    const int count = modes ? std::min<int>(keys.size(), m_device->lmCount()) : 0;
    for (int i = 0; i < count; ++i) {
        qDebug() << "id=" << modes[i];
        keys.at(i)->setMode(modes[i]);
    }
    unsetCursorModeSlot();
}

bool LightingController::pressColourMapButton(int map)
{
    if (map < 0 || map >= m_colourGlobules.size())
        return false;
    m_fromKeyboard = true;
    Q_EMIT m_colourGlobules.at(map)->pressed();
    m_fromKeyboard = false;
    return true;
}

bool LightingController::pressModeMapButton(int map)
{
    if (map < 0 || map >= m_modeGlobules.size())
        return false;
    m_fromKeyboard = true;
    Q_EMIT m_modeGlobules.at(map)->pressed();
    m_fromKeyboard = false;
    return true;
}

void LightingController::setKeysCursor(const QCursor &cursor)
{
    const bool unset = cursor.shape() == Qt::ArrowCursor && cursor.pixmap().isNull();
    for (KeyBtn *key : m_keys->dynamicKeys()) {
        if (unset)
            key->unsetCursor();
        else
            key->setCursor(cursor);
    }
}

void LightingController::setCursorColorSlot(const QColor &color)
{
    if (!color.isValid())
        return;
    setKeysCursor(QCursor(swatch(color), kCursorSize / 2, kCursorSize / 2));
}

void LightingController::setCursorModeSlot(int mode)
{
    qDebug() << "mode is " << mode;
    if (mode < 0)
        return;
    const QPixmap badge = modeBadge(mode);
    setKeysCursor(QCursor(badge, badge.width() / 2, badge.height() / 2));
}

void LightingController::unsetCursorColorSlot()
{
    setKeysCursor(QCursor());
}

void LightingController::unsetCursorModeSlot()
{
    setKeysCursor(QCursor());
}

void LightingController::applyRowTexts()
{
    const bool zh = m_langType == 0;
    if (m_colourCaption)
        m_colourCaption->setText(zh ? QStringLiteral("颜色层") : QStringLiteral("Colour map"));
    if (m_modeCaption)
        m_modeCaption->setText(zh ? QStringLiteral("模式层") : QStringLiteral("Mode map"));
    if (m_undoButton)
        m_undoButton->setToolTip(zh ? QStringLiteral("撤销 (Ctrl+Z)")
                                    : QStringLiteral("Undo (Ctrl+Z)"));
    if (m_redoButton)
        m_redoButton->setToolTip(zh ? QStringLiteral("重做 (Ctrl+Shift+Z)")
                                    : QStringLiteral("Redo (Ctrl+Shift+Z)"));
}

void LightingController::SetLanguage(int langType)
{
    m_langType = langType;
    applyRowTexts();
}

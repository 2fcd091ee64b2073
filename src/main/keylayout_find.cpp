#include "main/keylayout.h"

#include "device/device.h"
#include "main/apppaths.h"
#include "widget/data.h"
#include "widget/dialogs.h"

#include <QAction>
#include <QApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QShortcut>
#include <QSvgRenderer>

#include <algorithm>

// The key page's finding and undoing: the search field and "Press a key" above
// the palette, the marks of keys that differ from the board's defaults with
// "Reset key" and "Reset map", and the undo history's buttons.

namespace {
const char kGlobuleIdle[] = "QPushButton:disabled { background: #22252d; border-color: #2c313a; }";
const char kTextButton[] =
    "QPushButton { background: #2c313a; color: #c9ced8; border: 1px solid #3f4552;"
    " border-radius: 6px; padding: 0 12px; font-weight: 600; }"
    "QPushButton:hover { border-color: #46e6b7; }"
    "QPushButton:checked { background: #46e6b7; color: #16181d; border-color: #46e6b7; }"
    "QPushButton:disabled { color: #5a606c; border-color: #2c313a; }";
const char kSearchField[] =
    "QLineEdit { background: #22252d; color: #e8eaed; border: 1px solid #3f4552;"
    " border-radius: 6px; padding: 0 6px; selection-background-color: #46e6b7;"
    " selection-color: #16181d; }"
    "QLineEdit:focus { border-color: #46e6b7; }";

// A line drawing of data/images/main in one colour.
QPixmap linePicture(const QString &file, int side, const QColor &ink)
{
    QPixmap pixmap(side, side);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(AppPaths::imagesDir() + QStringLiteral("main/") + file);
    if (!renderer.isValid())
        return pixmap;
    QPainter p(&pixmap);
    renderer.render(&p, QRectF(0, 0, side, side));
    p.setCompositionMode(QPainter::CompositionMode_SourceIn);
    p.fillRect(pixmap.rect(), ink);
    return pixmap;
}

QIcon lineIcon(const QString &file, int side)
{
    QIcon icon;
    icon.addPixmap(linePicture(file, side, QColor(0xc9, 0xce, 0xd8)), QIcon::Normal);
    icon.addPixmap(linePicture(file, side, QColor(0x5a, 0x60, 0x6c)), QIcon::Disabled);
    return icon;
}

QString statusText(uint32_t status)
{
    return QStringLiteral("0x") + QString::number(status, 16);
}
} // namespace

void KeyLayout::buildToolbar(QWidget *parent)
{
    m_toolbar = new QWidget(parent);
    m_toolbar->setObjectName(QStringLiteral("paletteToolbar"));
    auto *row = new QHBoxLayout(m_toolbar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(8);
    m_search = new QLineEdit(m_toolbar);
    m_search->setObjectName(QStringLiteral("paletteSearch"));
    m_search->setFixedSize(220, 28);
    m_search->setStyleSheet(QLatin1String(kSearchField));
    m_search->setClearButtonEnabled(true);
    m_search->addAction(lineIcon(QStringLiteral("search.svg"), 14), QLineEdit::LeadingPosition);
    m_search->installEventFilter(this);
    connect(m_search, &QLineEdit::textChanged, this, &KeyLayout::searchSlot);
    row->addWidget(m_search);
    m_pressKey = new QPushButton(m_toolbar);
    m_pressKey->setObjectName(QStringLiteral("pressKey"));
    m_pressKey->setCheckable(true);
    m_pressKey->setFixedHeight(28);
    m_pressKey->setFocusPolicy(Qt::NoFocus);
    m_pressKey->setCursor(Qt::PointingHandCursor);
    m_pressKey->setStyleSheet(QLatin1String(kTextButton));
    connect(m_pressKey, &QPushButton::toggled, this, &KeyLayout::setPressKeyArmed);
    row->addWidget(m_pressKey);
    m_hint = new QLabel(m_toolbar);
    m_hint->setObjectName(QStringLiteral("paletteHint"));
    m_hint->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    m_hint->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addSpacing(4);
    row->addWidget(m_hint, 1);
    // Ctrl+F while the key page shows.
    auto *find = new QShortcut(QKeySequence::Find, parent);
    find->setContext(Qt::WindowShortcut);
    connect(find, &QShortcut::activated, this, &KeyLayout::focusSearch);
    applyTexts();
}

void KeyLayout::applyTexts()
{
    m_search->setPlaceholderText(zh() ? QStringLiteral("搜索按键 (Ctrl+F)")
                                      : QStringLiteral("Search keys (Ctrl+F)"));
    m_pressKey->setText(
        m_armed ? (zh() ? QStringLiteral("请按一个键…") : QStringLiteral("Waiting for a key…"))
                : (zh() ? QStringLiteral("按下按键") : QStringLiteral("Press a key")));
    m_pressKey->setToolTip(zh() ? QStringLiteral("按下电脑键盘上的一个键，把它设给所选按键")
                                : QStringLiteral("Press a key on the computer's keyboard to "
                                                 "assign it to the selected key"));
    m_pressKey->setMinimumWidth(130);
    if (m_undoButton)
        m_undoButton->setToolTip(zh() ? QStringLiteral("撤销 (Ctrl+Z)")
                                      : QStringLiteral("Undo (Ctrl+Z)"));
    if (m_redoButton)
        m_redoButton->setToolTip(zh() ? QStringLiteral("重做 (Ctrl+Shift+Z)")
                                      : QStringLiteral("Redo (Ctrl+Shift+Z)"));
    if (m_resetMapButton) {
        m_resetMapButton->setText(zh() ? QStringLiteral("恢复默认") : QStringLiteral("Reset map"));
        m_resetMapButton->setToolTip(zh() ? QStringLiteral("把这个按键层的所有按键恢复为默认")
                                          : QStringLiteral("Give every key of this key map its "
                                                           "default back"));
    }
}

void KeyLayout::addHistoryControls()
{
    // Undo, redo and "Reset map" after the map buttons.
    const int end = m_hGlobuleKeyLayout->count() - 1; // before the closing stretch
    m_undoButton = createHistoryButton(m_globuleFrame, m_history, false);
    m_redoButton = createHistoryButton(m_globuleFrame, m_history, true);
    connect(m_undoButton, &QPushButton::clicked, this, &KeyLayout::undo);
    connect(m_redoButton, &QPushButton::clicked, this, &KeyLayout::redo);
    m_resetMapButton = new QPushButton(m_globuleFrame);
    m_resetMapButton->setObjectName(QStringLiteral("resetMap"));
    m_resetMapButton->setFixedHeight(26);
    m_resetMapButton->setFocusPolicy(Qt::NoFocus);
    m_resetMapButton->setCursor(Qt::PointingHandCursor);
    m_resetMapButton->setStyleSheet(QLatin1String(kTextButton));
    connect(m_resetMapButton, &QPushButton::clicked, this, &KeyLayout::resetMapSlot);
    m_hGlobuleKeyLayout->insertSpacing(end, 14);
    m_hGlobuleKeyLayout->insertWidget(end + 1, m_undoButton);
    m_hGlobuleKeyLayout->insertWidget(end + 2, m_redoButton);
    m_hGlobuleKeyLayout->insertSpacing(end + 3, 8);
    m_hGlobuleKeyLayout->insertWidget(end + 4, m_resetMapButton);
}

// --- Undo history ----------------------------------------------------------

QPushButton *KeyLayout::createHistoryButton(QWidget *parent, UndoHistory *history, bool redo)
{
    auto *button = new QPushButton(parent);
    button->setObjectName(redo ? QStringLiteral("redo") : QStringLiteral("undo"));
    button->setFixedSize(26, 26);
    button->setFocusPolicy(Qt::NoFocus);
    button->setCursor(Qt::PointingHandCursor);
    button->setIcon(lineIcon(redo ? QStringLiteral("redo.svg") : QStringLiteral("undo.svg"), 16));
    button->setIconSize(QSize(16, 16));
    styleGlobuleKey(button, false);
    button->setStyleSheet(button->styleSheet() + QLatin1String(kGlobuleIdle));
    const auto follow = [button, history, redo] {
        button->setEnabled(redo ? history->canRedo() : history->canUndo());
    };
    connect(history, &UndoHistory::changed, button, follow);
    follow();
    return button;
}

void KeyLayout::updateHistoryButtons()
{
    if (m_undoButton)
        m_undoButton->setEnabled(m_history->canUndo());
    if (m_redoButton)
        m_redoButton->setEnabled(m_history->canRedo());
}

UndoHistory::Writer KeyLayout::historyWriter()
{
    const QPointer<KeyLayout> self(this);
    return [self](const KeyboardEdit &edit, const KeyboardEdit::Value &value) -> uint32_t {
        if (!self || !self->m_ptrDevice)
            return WK_ERROR_OUT_OF_RANGE;
        const int keyMap = self->m_ptrDevice->curKCM();
        const uint32_t status = UndoHistory::writeToDevice(self->m_ptrDevice, edit, value);
        // Refused or not, the pages show what the keyboard holds.
        if (self && self->m_ptrDevice)
            self->showWritten(edit, keyMap != self->m_ptrDevice->curKCM());
        return status;
    };
}

void KeyLayout::showWritten(const KeyboardEdit &edit, bool keyMapSwitched)
{
    if (edit.kind == KeyboardEdit::KeyCode && !keyMapSwitched) {
        // One key changed (a step of "Reset map" writes its keys one by one).
        const int count = std::min<int>(m_vDynamicKeyBtn.size(), m_ptrDevice->kcCount());
        if (edit.index >= 0 && edit.index < count && m_ptrDevice->keyCodes() &&
            !m_vStaticKeyBtn.isEmpty())
            showKeyCode(edit.index, m_vStaticKeyBtn);
        return;
    }
    styleKeyMapRow();
    drawKeyCode();
    if (edit.kind != KeyboardEdit::KeyCode && edit.kind != KeyboardEdit::KeyMap)
        Q_EMIT historyWritten();
}

bool KeyLayout::undo()
{
    return stepHistory(false);
}

bool KeyLayout::redo()
{
    return stepHistory(true);
}

bool KeyLayout::stepHistory(bool redo)
{
    if (!m_ptrDevice || !(redo ? m_history->canRedo() : m_history->canUndo()))
        return false;
    const uint32_t status =
        redo ? m_history->redo(historyWriter()) : m_history->undo(historyWriter());
    if (status != WK_SUCCESS) {
        const QString text =
            redo ? (zh() ? QStringLiteral("键盘没有接受重做（%1），一切保持原样。")
                         : QStringLiteral("The keyboard refused the redo (%1); nothing changed."))
                 : (zh() ? QStringLiteral("键盘没有接受撤销（%1），一切保持原样。")
                         : QStringLiteral("The keyboard refused the undo (%1); nothing changed."));
        showNote(text.arg(statusText(status)), true);
        Q_EMIT historyRefused(status);
    }
    return status == WK_SUCCESS;
}

// --- Defaults --------------------------------------------------------------

QMenu *KeyLayout::createKeyMenu(KeyBtn *key)
{
    if (!key || !m_remapEnabled || !m_ptrDevice || !initLock())
        return nullptr;
    const int index = m_vDynamicKeyBtn.indexOf(key);
    if (index < 0)
        return nullptr;
    auto *menu = new QMenu(m_boardFrame);
    menu->setObjectName(QStringLiteral("keyMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->setStyleSheet(QStringLiteral(
        "QMenu { background: #22252d; color: #e8eaed; border: 1px solid #3f4552; padding: 4px; }"
        "QMenu::item { padding: 5px 18px; border-radius: 4px; }"
        "QMenu::item:selected { background: #2c313a; color: #46e6b7; }"
        "QMenu::item:disabled { color: #5a606c; }"));
    const int def = m_defaults.paletteIndex(index);
    QString text = zh() ? QStringLiteral("恢复默认按键") : QStringLiteral("Reset key");
    if (def >= 0)
        text += QStringLiteral(" (%1)").arg(paletteName(def));
    QAction *reset = menu->addAction(text);
    reset->setObjectName(QStringLiteral("resetKey"));
    reset->setEnabled(index < m_ptrDevice->kcCount() && m_ptrDevice->keyCodes() &&
                      m_defaults.state(index, m_ptrDevice->keyCode(index)) ==
                          KeyDefaults::State::Changed);
    // The menu holds no key: the board may be rebuilt while it is open.
    const QPointer<KeyLayout> self(this);
    connect(reset, &QAction::triggered, this, [self, index] {
        if (self)
            self->resetKey(index);
    });
    return menu;
}

bool KeyLayout::resetKey(int index)
{
    if (!m_ptrDevice || !m_ptrDevice->keyCodes() || index < 0 || index >= m_ptrDevice->kcCount())
        return false;
    kc_t reset{};
    const kc_t current = m_ptrDevice->keyCode(index);
    if (m_defaults.state(index, current) != KeyDefaults::State::Changed ||
        !m_defaults.resetRecord(index, current, &reset))
        return false;
    const uint32_t status =
        m_history->perform(KeyboardEdit::remap(m_ptrDevice, index, reset), historyWriter());
    if (status != WK_SUCCESS)
        showNote((zh() ? QStringLiteral("键盘没有接受恢复（%1）。")
                       : QStringLiteral("The keyboard refused the reset (%1)."))
                     .arg(statusText(status)),
                 true);
    return status == WK_SUCCESS;
}

void KeyLayout::resetMapSlot()
{
    if (!m_ptrDevice || !m_ptrDevice->keyCodes() || m_asking)
        return;
    const QVector<int> changed =
        m_defaults.changedKeys(m_ptrDevice->keyCodes(), m_ptrDevice->kcCount());
    if (changed.isEmpty()) {
        showNote(zh() ? QStringLiteral("这个按键层的按键都是默认的。")
                      : QStringLiteral("Every key of this key map has its default."));
        return;
    }
    const QPointer<Device> device = m_ptrDevice;
    const int map = device->curKCM();
    const QPointer<KeyLayout> self(this);
    m_asking = true;
    const QMessageBox::StandardButton answer = Dialogs::question(
        m_boardFrame->window(), zh() ? QStringLiteral("恢复默认") : QStringLiteral("Reset map"),
        (zh() ? QStringLiteral("把按键层 %1 中改动过的 %2 个按键恢复为默认？可以撤销。")
              : QStringLiteral("Give the %2 changed keys of key map %1 their defaults back? "
                               "Undo takes it back."))
            .arg(map)
            .arg(changed.size()),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    // The box ran an event loop: the keyboard, the board or this page may be gone.
    if (!self || Dialogs::isReleased(this))
        return;
    m_asking = false;
    if (answer != QMessageBox::Yes || !device || device != m_ptrDevice || device->curKCM() != map)
        return;
    resetMap();
}

bool KeyLayout::resetMap()
{
    if (!m_ptrDevice || !m_ptrDevice->keyCodes())
        return false;
    QVector<KeyboardEdit> step;
    const int count = m_ptrDevice->kcCount();
    for (int key : m_defaults.changedKeys(m_ptrDevice->keyCodes(), count)) {
        kc_t reset;
        if (m_defaults.resetRecord(key, m_ptrDevice->keyCode(key), &reset))
            step.append(KeyboardEdit::remap(m_ptrDevice, key, reset));
    }
    if (step.isEmpty())
        return false;
    // One step: one undo gives the whole map back.
    const uint32_t status = m_history->perform(step, historyWriter());
    if (status != WK_SUCCESS)
        showNote((zh() ? QStringLiteral("键盘没有接受恢复（%1），按键保持原样。")
                       : QStringLiteral("The keyboard refused the reset (%1); the keys are as "
                                        "they were."))
                     .arg(statusText(status)),
                 true);
    return status == WK_SUCCESS;
}

// --- Search ----------------------------------------------------------------

void KeyLayout::searchSlot(const QString &text)
{
    m_searchAssigned = false;
    const auto version = m_data && !m_staticTable.isEmpty() && m_staticTable == m_data->xmlMac()
                             ? KeySearch::MacOS
                             : KeySearch::Windows;
    if (!m_searchLoaded) {
        // Every key by both versions' texts, pictured ones too.
        m_searchLoaded = true;
        QVector<KeyDesc> windows;
        QVector<KeyDesc> mac;
        if (KeySearch::loadPalette(m_data, &windows, &mac))
            m_searchIndex = KeySearch(windows, mac);
    }
    m_matches = m_searchIndex.indices(text, version);
    const bool searching = !KeySearch::fold(text).isEmpty();
    QVector<bool> hit(m_vStaticKeyBtn.size(), false);
    for (int i : qAsConst(m_matches)) {
        if (i >= 0 && i < hit.size())
            hit[i] = true;
    }
    for (int i = 0; i < m_vStaticKeyBtn.size(); ++i)
        m_vStaticKeyBtn.at(i)->setFaded(searching && !hit.at(i));
    if (!searching) {
        showHint(m_pkeyBtn ? Hint::PickPaletteKey : Hint::PickBoardKey);
        return;
    }
    if (m_matches.isEmpty()) {
        showNote(zh() ? QStringLiteral("没有匹配的按键。") : QStringLiteral("No key matches."),
                 true);
        return;
    }
    const int first = m_matches.first();
    if (first < m_vStaticKeyBtn.size())
        m_paletteScroll->ensureWidgetVisible(m_vStaticKeyBtn.at(first), 0, 60);
    const QString name = paletteName(first);
    showNote(
        zh() ? QStringLiteral("%1 个匹配。回车把“%2”设给所选按键，Esc 清除。")
                   .arg(m_matches.size())
                   .arg(name)
             : QStringLiteral("%1 %2. Enter assigns “%3” to the selected key, Esc clears.")
                   .arg(m_matches.size())
                   .arg(m_matches.size() == 1 ? QStringLiteral("match") : QStringLiteral("matches"))
                   .arg(name));
}

bool KeyLayout::assignFirstMatch()
{
    if (m_matches.isEmpty())
        return false;
    const int first = m_matches.first();
    m_searchAssigned =
        assignPalette(first, (zh() ? QStringLiteral("已设为“%1”。Esc 清除搜索。")
                                   : QStringLiteral("“%1” assigned. Esc clears the search."))
                                 .arg(paletteName(first)));
    return m_searchAssigned;
}

void KeyLayout::clearSearch()
{
    m_search->clear();
}

void KeyLayout::focusSearch()
{
    if (!m_search->isVisible())
        return;
    m_search->setFocus(Qt::ShortcutFocusReason);
    m_search->selectAll();
}

bool KeyLayout::assignPalette(int index, const QString &done)
{
    if (index < 0 || index >= m_vStaticKeyBtn.size() || !m_remapEnabled)
        return false;
    KeyBtn *key = m_vStaticKeyBtn.at(index);
    m_paletteScroll->ensureWidgetVisible(key, 0, 60);
    if (!m_pkeyBtn || !m_ptrDevice) {
        showHint(Hint::SelectFirst);
        return false;
    }
    const int n = m_pkeyBtn->getVectorIndex();
    if (n < 0 || n >= m_ptrDevice->kcCount() || !m_ptrDevice->keyCodes())
        return false;
    clickKeyBtnStaticSlot(key);
    keyCodeSlot(key);
    if (!m_ptrDevice)
        return false;
    kc_t wanted{};
    wanted.setType(static_cast<uint8_t>(key->getType()));
    wanted.setStype(static_cast<uint8_t>(key->getStype()));
    wanted.setCode(key->getCode());
    // The lock key flips the lock bit of whatever the key sends.
    const bool written = isLockKey(key) || m_ptrDevice->keyCode(n).sameKey(wanted);
    if (!written)
        showNote(zh() ? QStringLiteral("键盘没有接受这个按键。")
                      : QStringLiteral("The keyboard did not take the key."),
                 true);
    else if (!done.isEmpty())
        showNote(done);
    return written;
}

// --- Press a key -----------------------------------------------------------

void KeyLayout::setPressKeyArmed(bool armed)
{
    if (armed && (!m_remapEnabled || !m_ptrDevice)) {
        m_pressKey->setChecked(false);
        return;
    }
    if (m_pressKey->isChecked() != armed)
        m_pressKey->setChecked(armed); // comes back here
    if (m_armed == armed)
        return;
    m_armed = armed;
    m_heldModifier = KeyPressMatch();
    // Every key of the application while armed; the window's shortcuts too.
    if (armed)
        qApp->installEventFilter(this);
    else
        qApp->removeEventFilter(this);
    applyTexts();
    if (armed)
        showNote(m_pkeyBtn ? (zh() ? QStringLiteral("按下电脑键盘上的一个键。")
                                   : QStringLiteral("Press a key on the computer's keyboard."))
                           : (zh() ? QStringLiteral("先选择上方键盘中的按键，再按下一个键。")
                                   : QStringLiteral("Select a key on the keyboard above, then "
                                                    "press a key.")));
    else if (m_hintShown == Hint::Note)
        showHint(m_pkeyBtn ? Hint::PickPaletteKey : Hint::PickBoardKey);
}

QString KeyLayout::pressedName(const KeyPress &press) const
{
    const QString text = QKeySequence(press.key).toString(QKeySequence::NativeText);
    return text.isEmpty() ? QStringLiteral("0x%1").arg(press.nativeScanCode, 0, 16) : text;
}

bool KeyLayout::pressKeyEvent(const KeyPress &press, bool release)
{
    if (!m_armed)
        return false;
    const KeyPressMatch m = KeyPressMatch::match(press, m_staticDescs);
    if (release) {
        // A modifier pressed and let go alone is the modifier itself.
        if (m_heldModifier.kind == KeyPressMatch::Modifier && m.usage == m_heldModifier.usage) {
            const int index = m_heldModifier.paletteIndex;
            m_heldModifier = KeyPressMatch();
            const QString name = paletteName(index);
            const QString done = (zh() ? QStringLiteral("已设为“%1”（修饰键）。")
                                       : QStringLiteral("“%1” assigned (a modifier)."))
                                     .arg(name);
            if (assignPalette(index, done)) {
                setPressKeyArmed(false);
                showNote(done);
            }
        }
        return true;
    }
    switch (m.kind) {
    case KeyPressMatch::Key: {
        const bool heldModifier = m_heldModifier.kind == KeyPressMatch::Modifier;
        m_heldModifier = KeyPressMatch();
        const QString name = paletteName(m.paletteIndex);
        const QString done =
            m.modifiersIgnored || heldModifier
                ? (zh() ? QStringLiteral(
                              "已设为“%1”。一个按键只发送一个键，同时按住的修饰键未计入。")
                        : QStringLiteral("“%1” assigned. A key sends one code: the modifier "
                                         "held with it is left out."))
                      .arg(name)
                : (zh() ? QStringLiteral("已设为“%1”。") : QStringLiteral("“%1” assigned."))
                      .arg(name);
        if (assignPalette(m.paletteIndex, done)) {
            setPressKeyArmed(false);
            showNote(done);
        }
        return true;
    }
    case KeyPressMatch::Modifier:
        m_heldModifier = m;
        showNote((zh()
                      ? QStringLiteral("“%1”是修饰键：松开即设为它；要设其他键，按住它再按那个键。")
                      : QStringLiteral("“%1” is a modifier: let go to assign it, or keep it "
                                       "held and press the key you mean."))
                     .arg(paletteName(m.paletteIndex)));
        return true;
    case KeyPressMatch::NotInPalette:
        m_heldModifier = KeyPressMatch();
        showNote((zh() ? QStringLiteral("“%1”不能设给键盘的按键：下方没有这个键。请按另一个键。")
                       : QStringLiteral("“%1” cannot be assigned: the keys below have no such "
                                        "key. Press another one."))
                     .arg(pressedName(press)),
                 true);
        return true;
    case KeyPressMatch::Unknown:
        m_heldModifier = KeyPressMatch();
        showNote(zh() ? QStringLiteral("无法识别这个键。请按另一个键。")
                      : QStringLiteral("Lumory does not know that key. Press another one."),
                 true);
        return true;
    }
    return true;
}

bool KeyLayout::eventFilter(QObject *watched, QEvent *event)
{
    const QEvent::Type type = event->type();
    if (watched == m_search && type == QEvent::ShortcutOverride && m_searchAssigned) {
        // Right after Enter assigned a key, undo and redo are the window's.
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->matches(QKeySequence::Undo) || key->matches(QKeySequence::Redo)) {
            event->ignore();
            return true;
        }
    }
    if (watched == m_search && type == QEvent::KeyPress && !m_armed) {
        auto *key = static_cast<QKeyEvent *>(event);
        if (key->key() == Qt::Key_Escape && !m_search->text().isEmpty()) {
            clearSearch();
            return true;
        }
        if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
            assignFirstMatch();
            return true;
        }
        return false;
    }
    if (!m_armed || (type != QEvent::KeyPress && type != QEvent::KeyRelease &&
                     type != QEvent::ShortcutOverride))
        return QObject::eventFilter(watched, event);
    // Keys for this window only (not for a box or menu of it).
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || !m_boardArea || widget->window() != m_boardArea->window())
        return QObject::eventFilter(watched, event);
    auto *key = static_cast<QKeyEvent *>(event);
    if (type == QEvent::ShortcutOverride) {
        event->accept(); // the key comes as a key press, not as a shortcut
        return true;
    }
    if (key->isAutoRepeat())
        return true;
    pressKeyEvent({key->nativeScanCode(), key->key(), key->modifiers()},
                  type == QEvent::KeyRelease);
    return true;
}

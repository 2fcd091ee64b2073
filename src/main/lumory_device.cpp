// The main window's side of the device session: pages built and cleared with
// the keyboard, tab visibility per board, notifications to the pages, and the
// settings page's requests forwarded to the keyboard.
#include "main/lumory.h"

#include "Update/overallvariate.h"

#include "color/color.h"
#include "device/device.h"
#include "macro/macro.h"
#include "main/apppaths.h"
#include "main/devicesession.h"
#include "main/firmwareflow.h"
#include "main/keylayout.h"
#include "main/lightingcontroller.h"
#include "setting/Language.h"
#include "setting/firmware.h"
#include "setting/profileflow.h"
#include "setting/schedule.h"
#include "setting/setting.h"
#include "shortcut/shortcuts.h"
#include "widget/buildingblock.h"
#include "widget/data.h"
#include "widget/dialogs.h"
#include "widget/menutree.h"
#include "widget/tablabel.h"

#include <QDebug>
#include <QLabel>
#include <QPointer>
#include <QStackedWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

namespace {
constexpr int kMsPerMinute = 60000;

// A 12- or 16-byte name record as shown: local 8-bit text without its first byte.
QString shownName(const QByteArray &record)
{
    return Data::productNameString(record.mid(1));
}
} // namespace

void Lumory::connectSession()
{
    connect(m_menuTree, &MenuTree::ActionTriggered, m_session, &DeviceSession::switchUsbDevice);
    connect(m_session->scanTimer(), &QTimer::timeout, m_session, &DeviceSession::scanDeviceSlot);
    connect(m_session->deviceListTimer(), &QTimer::timeout, m_session,
            &DeviceSession::MultiscanDeviceSlot);
    connect(m_session, &DeviceSession::loadingStarted, this, &Lumory::onLoadingStarted);
    connect(m_session, &DeviceSession::pagesBuilding, this, [this] { m_initLock = false; });
    connect(m_session, &DeviceSession::deviceReady, this, &Lumory::onDeviceReady);
    connect(m_session, &DeviceSession::loadFinished, this, &Lumory::onLoadFinished);
    connect(m_session, &DeviceSession::loadFailed, this, &Lumory::onLoadFailed);
    connect(m_session, &DeviceSession::firmwareUpdateRequested, this, [this] {
        m_initLock = true;
        setTabsEnabled(true);
        labelPageClickSlot(QStringLiteral("Setting"));
        if (Setting *page = settingPage())
            page->intoUpdate(m_session->vendorId(), m_session->productId());
    });
    connect(m_session, &DeviceSession::dfuDeviceFound, this, [this] {
        // A keyboard waits in its boot loader: the firmware can be written again.
        labelPageClickSlot(QStringLiteral("Setting"));
        Setting *page = settingPage();
        if (page && !(m_firmwareFlow && m_firmwareFlow->isRunning()))
            page->intoUpdate(0, 0);
    });
    connect(m_session, &DeviceSession::deviceClosing, this, &Lumory::onDeviceClosing);
    connect(m_session, &DeviceSession::keyMapNotify, m_keyLayout, &KeyLayout::pressKeyMapButton);
    connect(m_session, &DeviceSession::lockNotify, m_keyLayout, &KeyLayout::applyLockStates);
    connect(m_session, &DeviceSession::colourMapNotify, m_lighting,
            &LightingController::pressColourMapButton);
    connect(m_session, &DeviceSession::modeMapNotify, m_lighting,
            &LightingController::pressModeMapButton);
    connect(m_session, &DeviceSession::keyFunctionNotify, this, [this](int id, int hi) {
        if (m_shortcuts)
            m_shortcuts->onNotify(id, hi);
    });
    connect(m_session, &DeviceSession::macroNotify, this, [this](const QByteArray &frame) {
        if (m_macro)
            m_macro->getRawData(frame);
    });
}

QWidget *Lumory::pageContainer(const QString &name) const
{
    for (int i = 0; i < m_pageStack->count(); ++i) {
        if (m_pageStack->widget(i)->objectName() == name)
            return m_pageStack->widget(i);
    }
    return nullptr;
}

void Lumory::setTabsEnabled(bool enabled)
{
    for (TabLabel *label : qAsConst(m_tabLabels))
        label->setEnabled(enabled);
}

void Lumory::updateTabWidgetPage(BoardInfo *board)
{
    const bool shown[] = {
        board ? board->key : true,   board ? board->color : false,  board ? board->shortcuts : true,
        board ? board->macro : true, board ? board->setting : true,
    };
    for (int i = 0; i < m_tabLabels.size(); ++i)
        m_tabLabels.at(i)->setVisible(shown[i]);
    for (int i = 0; i < m_tabLabels.size(); ++i) {
        if (shown[i]) {
            showPage(m_tabLabels.at(i)->pageName());
            break;
        }
    }
}

void Lumory::createSettingPage(bool layoutEditor)
{
    QWidget *container = pageContainer(QStringLiteral("Setting"));
    if (!container)
        return;
    Dialogs::deleteSafely(m_setting);
    m_setting = new Setting(layoutEditor, container);
    if (!container->layout()) {
        auto *layout = new QVBoxLayout(container);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    container->layout()->addWidget(m_setting);
    connect(m_setting, &Setting::emitBluetoothName, this, &Lumory::BluetoothNameSlot);
    connect(m_setting, &Setting::emitSleepTime, this, &Lumory::SleepTimeSlot);
    connect(m_setting, &Setting::emitFactoryReset, this, &Lumory::FactoryResetSlot);
    connect(m_setting, &Setting::emitLayoutEditor, this, &Lumory::layoutEditorSlot);
    connectFirmwarePanel();
}

void Lumory::connectFirmwarePanel()
{
    if (!m_setting || !m_firmwareFlow)
        return;
    Firmware *panel = m_setting->firmwarePanel();
    connect(m_setting, &Setting::emitUpdateFU, m_firmwareFlow, &FirmwareFlow::updateDFUSlot);
    connect(m_setting, &Setting::emitModeDUF, this, &Lumory::modeDUFSlot);
    connect(m_setting, &Setting::emitNuModeDUF, this, &Lumory::unModeUFSlot);
    connect(m_setting, &Setting::emitStartScanDevice, m_session, [this] {
        if (!m_session->deviceListTimer()->isActive())
            m_session->deviceListTimer()->start();
        if (!m_session->scanTimer()->isActive())
            m_session->scanTimer()->start();
    });
    connect(m_firmwareFlow, &FirmwareFlow::progress, m_setting, &Setting::UpdateProgressSlot,
            Qt::UniqueConnection);
    if (m_profileFlow) {
        connect(m_setting, &Setting::emitBackup, m_profileFlow, &ProfileFlow::quickBackup,
                Qt::UniqueConnection);
        connect(panel, &Firmware::emitBackup, m_profileFlow, &ProfileFlow::quickBackup,
                Qt::UniqueConnection);
    }
    connect(m_firmwareFlow, &FirmwareFlow::emitWaitDfuOpen, panel, &Firmware::waitDfuOpenSlot,
            Qt::UniqueConnection);
    connect(m_firmwareFlow, &FirmwareFlow::refused, m_setting, &Setting::cancelSlot,
            Qt::UniqueConnection);
    connect(m_firmwareFlow, &FirmwareFlow::finished, m_setting, [this](bool ok) {
        m_showSettingAfterLoad = ok;
        if (ok)
            m_setting->updateFinished();
        else
            m_setting->updateErrorStop();
        // The keyboard comes back through the scan, or waits in its loader
        // (the scan offers the update again).
        m_setting->setFirmwareAvailable(m_session && m_session->isLoaded());
    });
    m_setting->setFirmwareAvailable(m_session && m_session->isLoaded());
}

void Lumory::modeDUFSlot()
{
    for (TabLabel *label : qAsConst(m_tabLabels))
        label->setSelected(false);
    setTabsEnabled(false);
}

void Lumory::unModeUFSlot()
{
    if (m_overallVariate)
        m_overallVariate->unModeFirmware();
    setTabsEnabled(!(m_firmwareFlow && m_firmwareFlow->isRunning()));
    labelPageClickSlot(QStringLiteral("Setting"));
}

void Lumory::layoutEditorSlot()
{
    Device *device = m_session->device();
    if (!device)
        return; // the keyboard went away: the page hides the button too
    BoardInfo *board = m_session->currentBoard();
    BuildingBlock editor(device ? device->kcCount() : 0, board ? board->KLER : 0,
                         board ? board->KLEC : 0, m_language ? m_language->getLangType() : 1, this);
    if (board && !board->file.isEmpty())
        editor.loadLayout(AppPaths::configDir() + board->file);
    Dialogs::exec(&editor);
}

void Lumory::setSettingInformation()
{
    Device *device = m_session->device();
    if (!m_setting || !device)
        return;
    qDebug() << "setSettingInformation---------------------------";
    m_setting->setPorductInformation(
        shownName(device->productNameBlock()), Setting::versionText(device->fwVersion()),
        Setting::versionText(device->hwVersion()),
        releaseDateText(QString::fromLocal8Bit(device->releaseDate())));
    m_setting->setInformationEnabled(true);
    m_setting->setBluetoothName(shownName(device->btNameRecord()));
    m_setting->setSleepTime(device->sleepTimeMs(), device->lastSleepTimeMs());
}

void Lumory::onLoadingStarted()
{
    setTabsEnabled(false);
    m_disconnectedText->setText(m_language && m_language->getLangType() == 0
                                    ? QStringLiteral("正在读取键盘……")
                                    : QStringLiteral("Reading the keyboard…"));
}

void Lumory::onDeviceReady(BoardInfo *board)
{
    Device *device = m_session->device();
    m_keyLayout->setDevice(device);
    updateTabWidgetPage(board);
    setUpLighting(board, device);
    // The settings page is built here (or earlier, when it was shown before
    // a keyboard came) and shows this keyboard from the start.
    createSettingPage(board && board->KLE);
    setSettingInformation();
    m_setting->setFirmwareAvailable(true);
    createShortcutsPage(board, device);
    setDisconnectedShown(false);
    m_disconnectedText->hide();
}

bool Lumory::hasLighting(const BoardInfo *board, Device *device)
{
    // Boards with a colour page in the catalogue, on keyboards that report key colours.
    return board && board->color && device && device->krCount() > 0;
}

void Lumory::setUpLighting(BoardInfo *board, Device *device)
{
    const bool lighting = hasLighting(board, device);
    if (m_tabLabels.size() > 1)
        m_tabLabels.at(1)->setVisible(lighting);
    if (!lighting || !pageContainer(QStringLiteral("Color")))
        return;
    // The rows answer the keyboard's map notifications whether or not the
    // page has been shown.
    m_lighting->setDevice(device, nullptr);
    m_lighting->createGlobuleColorLayer();
    m_lighting->createGlobuleModeLayer();
}

Color *Lumory::colorPage()
{
    if (m_color || !m_session || !m_session->isLoaded())
        return m_color;
    Device *device = m_session->device();
    QWidget *container = pageContainer(QStringLiteral("Color"));
    if (!hasLighting(m_session->currentBoard(), device) || !container)
        return nullptr;
    if (!container->layout()) {
        auto *layout = new QVBoxLayout(container);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    m_color = new Color(container);
    container->layout()->addWidget(m_color);
    m_color->setDevice(device);
    if (m_language)
        m_color->SetLanguage(m_language->getLangType());
    connect(m_language, &Language::LanguageChange, m_color, &Color::SetLanguage);
    m_lighting->setPage(m_color);
    return m_color;
}

Macro *Lumory::macroPage()
{
    if (!m_macro && m_session && m_session->isLoaded())
        createMacroPage(m_session->currentBoard(), m_session->device());
    return m_macro;
}

Setting *Lumory::settingPage()
{
    if (m_setting || !m_session || m_session->isShutDown())
        return m_setting;
    // A loaded keyboard's page is normally built with it (onDeviceReady).
    const bool loaded = m_session->isLoaded() && m_session->device();
    const BoardInfo *board = loaded ? m_session->currentBoard() : nullptr;
    createSettingPage(board && board->KLE);
    if (loaded) {
        setSettingInformation();
        m_setting->setFirmwareAvailable(true);
    }
    return m_setting;
}

void Lumory::createShortcutsPage(BoardInfo *board, Device *device)
{
    if (!board || !board->shortcuts || !device)
        return;
    QWidget *container = pageContainer(QStringLiteral("Shortcuts"));
    if (!container)
        return;
    if (!container->layout()) {
        auto *layout = new QVBoxLayout(container);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    Dialogs::deleteSafely(m_shortcuts);
    m_shortcuts = new Shortcuts(container);
    container->layout()->addWidget(m_shortcuts);
    if (m_language) {
        m_shortcuts->SetLanguage(m_language->getLangType());
        connect(m_language, &Language::LanguageChange, m_shortcuts, &Shortcuts::SetLanguage);
    }
    m_shortcuts->createKF(board->kf, m_session->deviceDir() + QStringLiteral("shortcuts.xml"),
                          device, &m_keyLayout->staticDescs());
}

void Lumory::createMacroPage(BoardInfo *board, Device *device)
{
    if (!board || !board->macro || !device)
        return;
    QWidget *container = pageContainer(QStringLiteral("Macro"));
    if (!container)
        return;
    if (!container->layout()) {
        auto *layout = new QVBoxLayout(container);
        layout->setContentsMargins(0, 0, 0, 0);
    }
    Dialogs::deleteSafely(m_macro);
    m_macro = new Macro(container);
    container->layout()->addWidget(m_macro);
    if (m_language) {
        m_macro->SetLanguage(m_language->getLangType());
        connect(m_language, &Language::LanguageChange, m_macro, &Macro::SetLanguage);
    }
    connect(m_macro, &Macro::updateShortcutsComboboxAddItem, this,
            &Lumory::updateShortcutsComboboxAddItemSlot);
    connect(m_macro, &Macro::updateShortcutsComboboxRemoveItem, this,
            &Lumory::updateShortcutsComboboxRemoveItemSlot);
    connect(m_macro, &Macro::updateShortcutsComboboxSetItemText, this,
            &Lumory::updateShortcutsComboboxSetItemText);
    connect(m_macro, &Macro::emitBanWindowsButton, this, &Lumory::banWindowsButtonSlot);
    // Without a data folder the macros live on the keyboard only.
    const QString dir = m_session->deviceDir();
    m_macro->setDevice(device, dir.isEmpty() ? QString() : dir + QStringLiteral("item/"),
                       &m_keyLayout->staticDescs());
}

void Lumory::banWindowsButtonSlot(bool ban)
{
    setTabsEnabled(!ban);
    m_menuButton->setEnabled(!ban);
    m_minButton->setEnabled(!ban);
    m_closeButton->setEnabled(!ban);
}

void Lumory::updateShortcutsComboboxAddItemSlot(const QString &name)
{
    if (m_shortcuts)
        m_shortcuts->updateMacroComboboxAddItem(name);
}

void Lumory::updateShortcutsComboboxRemoveItemSlot(int index)
{
    if (m_shortcuts)
        m_shortcuts->updateMacroComboboxRemoveItem(index);
}

void Lumory::updateShortcutsComboboxSetItemText(int index, const QString &name)
{
    if (m_shortcuts)
        m_shortcuts->updateMacroComboboxSetItemText(index, name);
}

void Lumory::releaseSelections()
{
    if (m_keyLayout)
        m_keyLayout->unsetCursorSlot();
    if (m_shortcuts) {
        m_shortcuts->shortcutsItemReleaseSelectDynamicLayoutKey();
        m_shortcuts->shortcutsItemBtnMouseTimerReleaseSlot(true);
        m_shortcuts->parameterBtnReleaseSlot(true);
    }
}

void Lumory::onLoadFinished()
{
    m_initLock = true;
    // After a firmware update the user sees the keyboard's new version.
    labelPageClickSlot(m_showSettingAfterLoad ? QStringLiteral("Setting")
                                              : QStringLiteral("staticLayout"));
    m_showSettingAfterLoad = false;
    setTabsEnabled(true);
}

void Lumory::onLoadFailed()
{
    m_disconnectedText->setText(
        m_language && m_language->getLangType() == 0
            ? QStringLiteral("键盘没有应答。请重新插入，或在 菜单 → USB 设备 中选择它。")
            : QStringLiteral("The keyboard did not answer. Plug it in again, or choose it "
                             "under Menu → USB Device."));
    setTabsEnabled(true);
}

void Lumory::onDeviceClosing()
{
    // A keyboard closed while its pages were about to be built (an unplug
    // during the version question): page switching must work again.
    m_initLock = true;
    if (m_lighting) {
        m_lighting->setShown(false);
        m_lighting->deleteGlobuleColorLayer();
        m_lighting->deleteGlobuleModeLayer();
        m_lighting->setDevice(nullptr, nullptr);
    }
    Dialogs::deleteSafely(m_color);
    m_color = nullptr;
    // The rows point at board keys: they go first.
    qDebug() << "Delete shortcuts KF.";
    if (m_shortcuts)
        m_shortcuts->closeDevice();
    Dialogs::deleteSafely(m_shortcuts);
    m_shortcuts = nullptr;
    m_keyLayout->deleteGlobuleKeyLayer();
    m_keyLayout->deleteDynamicKeybtn();
    m_keyLayout->setDevice(nullptr);
    if (m_setting)
        m_setting->clearInformation();
    qDebug() << "Delete macro item all.";
    if (m_macro)
        m_macro->closeDevice();
    Dialogs::deleteSafely(m_macro);
    m_macro = nullptr;
    m_menuButton->setEnabled(true);
    setDisconnectedShown(true);
    m_disconnectedText->show();
    updateDisconnectedText();
    // A firmware update closes the keyboard on purpose: the window stays blocked.
    const bool updating = m_firmwareFlow && m_firmwareFlow->isRunning();
    setTabsEnabled(!updating);
    if (m_setting && !updating)
        m_setting->setFirmwareAvailable(false);
}

void Lumory::BluetoothNameSlot(const QString &name)
{
    qDebug().noquote() << "BluetoothNameSlot " << name;
    if (Device *device = m_session->device())
        device->setBtName(name);
}

void Lumory::SleepTimeSlot(int minutes)
{
    if (Device *device = m_session->device())
        device->setSleepTime(static_cast<unsigned int>(minutes) * kMsPerMinute);
}

void Lumory::FactoryResetSlot()
{
    qDebug() << "FactoryResetSlot ";
    const QPointer<Device> device = m_session ? m_session->device() : nullptr;
    if (!device)
        return;
    const uint32_t status = device->setFactoryReset();
    const bool zh = m_language && m_language->getLangType() == 0;
    // The result box runs a nested event loop: the keyboard may go away and
    // the program may exit before it returns.
    if (status != 0) {
        Dialogs::critical(this, tr("ErrorCode"),
                          QStringLiteral("Factory Reset Error: <font color='red'>%1</font>   ")
                              .arg(static_cast<int>(status)),
                          QMessageBox::Abort);
        return;
    }
    Dialogs::information(this, tr("Information"),
                         zh ? QStringLiteral("  已恢复出厂设置。      ")
                            : QStringLiteral("  Factory settings restored.      "),
                         QMessageBox::Ok);
    if (m_quitTimer || !m_session || m_session->device() != device || !device)
        return;
    // The keyboard's maps, colours and settings changed under us: read them again.
    m_session->reloadDevice();
}

void Lumory::nKeySlot(int mode)
{
    qDebug() << "N-Key " << mode;
    if (Device *device = m_session->device())
        device->setNKey(static_cast<unsigned char>(mode));
}

void Lumory::updateSSSlot(int speedMs)
{
    qDebug() << "Scan Speed(MS) " << speedMs;
    Device *device = m_session->device();
    if (!device)
        return;
    if (device->setScanSpeed(static_cast<unsigned short>(speedMs)) == 0) {
        Dialogs::information(this, tr("About"),
                             QStringLiteral("Scan Speed \"%1\" Succeeded!").arg(speedMs));
    }
}

void Lumory::stateSlot(int type, int state)
{
    if (type != 1)
        return;
    if (state == 0) {
        Dialogs::information(this, tr("Information"), QStringLiteral("  Modification OK.      "),
                             QMessageBox::Ok);
    } else {
        Dialogs::critical(this, tr("ErrorCode"),
                          QStringLiteral("Modification Error: ") + QString::number(state) +
                              QStringLiteral("   "),
                          QMessageBox::Abort);
    }
}

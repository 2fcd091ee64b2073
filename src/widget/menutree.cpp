#include "widget/menutree.h"

#include "main/apppaths.h"
#include "setting/Language.h"
#include "widget/autostart.h"
#include "widget/dialogs.h"
#include "widget/infodialog.h"
#include "widget/menutreedata.h"

#include <QAction>
#include <QDebug>
#include <QMenu>

namespace {
const char kAccent[] = "#46e6b7";

QString menuStyle()
{
    return QStringLiteral("QMenu { background: #23262e; color: #e8eaed; border: 1px solid #3a3f4b;"
                          " padding: 4px; }"
                          "QMenu::item { padding: 6px 28px 6px 24px; border-radius: 3px; }"
                          "QMenu::item:selected { background: %1; color: #16181d; }"
                          "QMenu::item:disabled { color: #6b7280; }"
                          "QMenu::separator { height: 1px; background: #3a3f4b; margin: 4px 8px; }"
                          "QMenu::indicator { width: 14px; height: 14px; left: 6px; }")
        .arg(QLatin1String(kAccent));
}

QString menuTreePath()
{
    return AppPaths::configDir() + QStringLiteral("menutree.xml");
}
} // namespace

MenuTree::MenuTree(QWidget *dialogParent, QObject *parent)
    : QObject(parent), m_dialogParent(dialogParent)
{
    buildMenus();

    Language *language = Language::instance();
    if (langType() == 0)
        m_chinese->setChecked(true);
    else
        m_english->setChecked(true);
    if (language)
        connect(language, &Language::LanguageChange, this, &MenuTree::SetLanguage);
    SetLanguage(langType());

    MenuTreeData data;
    data.read(menuTreePath());
    m_webDownload = data.webDownload;
    m_webHelp = data.webHelp;
    m_powerBoot->setChecked(data.autoStart);
    setAutoStart(data.autoStart);
    m_layoutMac->setChecked(data.layoutMac);
    m_layoutWin->setChecked(data.layoutWin);
    m_layoutAuto->setChecked(data.layoutAuto);

    connect(m_powerBoot, &QAction::triggered, this, &MenuTree::powerBootActionSlot);
    connect(m_checkUpdate, &QAction::triggered, this, &MenuTree::checkForUpdateSlot);
    connect(m_backup, &QAction::triggered, this, &MenuTree::emitBackupKeyboard);
    connect(m_restore, &QAction::triggered, this, &MenuTree::emitRestoreKeyboard);
    connect(m_layoutMac, &QAction::triggered, this, &MenuTree::layoutVersionMac);
    connect(m_layoutWin, &QAction::triggered, this, &MenuTree::layoutVersionWin);
    connect(m_layoutAuto, &QAction::triggered, this, &MenuTree::layoutVersionAuto);
    connect(m_chinese, &QAction::triggered, this, &MenuTree::layoutLanguageChinese);
    connect(m_english, &QAction::triggered, this, &MenuTree::layoutLanguageEnglish);
    connect(m_about, &QAction::triggered, this, &MenuTree::aboutSlot);
    connect(m_help, &QAction::triggered, this, &MenuTree::helpSlot);
    connect(m_exit, &QAction::triggered, this, &MenuTree::emitMainExit);
    clearDeviceAction();
}

MenuTree::~MenuTree()
{
    delete m_mainMenu;
}

int MenuTree::langType() const
{
    Language *language = Language::instance();
    return language ? language->getLangType() : Language::English;
}

void MenuTree::buildMenus()
{
    m_mainMenu = new QMenu();
    m_mainMenu->setObjectName(QStringLiteral("mainMenu"));
    m_mainMenu->setStyleSheet(menuStyle());

    m_settingMenu = new QMenu(m_mainMenu);
    m_powerBoot = m_settingMenu->addAction(QString());
    m_powerBoot->setCheckable(true);

    m_checkUpdate = new QAction(m_mainMenu);
    m_backup = new QAction(m_mainMenu);
    m_backup->setObjectName(QStringLiteral("backupKeyboard"));
    m_restore = new QAction(m_mainMenu);
    m_restore->setObjectName(QStringLiteral("restoreKeyboard"));

    m_layoutMenu = new QMenu(m_mainMenu);
    m_layoutMac = m_layoutMenu->addAction(QString());
    m_layoutWin = m_layoutMenu->addAction(QString());
    m_layoutAuto = m_layoutMenu->addAction(QString());
    for (QAction *action : {m_layoutMac, m_layoutWin, m_layoutAuto})
        action->setCheckable(true);

    m_deviceMenu = new QMenu(m_mainMenu);
    m_deviceMenu->setObjectName(QStringLiteral("deviceMenu"));

    m_about = new QAction(m_mainMenu);

    m_languageMenu = new QMenu(m_mainMenu);
    m_chinese = m_languageMenu->addAction(QStringLiteral("中文"));
    m_english = m_languageMenu->addAction(QStringLiteral("English"));
    m_chinese->setCheckable(true);
    m_english->setCheckable(true);

    m_help = new QAction(m_mainMenu);
    m_exit = new QAction(m_mainMenu);

    m_mainMenu->addMenu(m_settingMenu);
    m_mainMenu->addAction(m_checkUpdate);
    m_mainMenu->addMenu(m_layoutMenu);
    m_mainMenu->addMenu(m_deviceMenu);
    m_mainMenu->addAction(m_backup);
    m_mainMenu->addAction(m_restore);
    m_mainMenu->addAction(m_about);
    m_mainMenu->addMenu(m_languageMenu);
    m_mainMenu->addAction(m_help);
    m_mainMenu->addSeparator();
    m_mainMenu->addAction(m_exit);
}

void MenuTree::SetLanguage(int type)
{
    const bool zh = type == 0;
    m_settingMenu->setTitle(QStringLiteral("Setting"));
    m_powerBoot->setText(zh ? QStringLiteral("开机启动") : QStringLiteral("Power Boot"));
    m_checkUpdate->setText(zh ? QStringLiteral("检查更新") : QStringLiteral("Check for update"));
    m_layoutMenu->setTitle(zh ? QStringLiteral("布局版本") : QStringLiteral("Layout version"));
    m_layoutMac->setText(QStringLiteral("MacOS"));
    m_layoutWin->setText(QStringLiteral("Windows System"));
    m_layoutAuto->setText(zh ? QStringLiteral("自动") : QStringLiteral("Automatic"));
    m_backup->setText(zh ? QStringLiteral("备份键盘…") : QStringLiteral("Back up keyboard…"));
    m_restore->setText(zh ? QStringLiteral("还原键盘…") : QStringLiteral("Restore keyboard…"));
    m_about->setText(zh ? QStringLiteral("关于 Lumory") : QStringLiteral("About Lumory"));
    m_help->setText(zh ? QStringLiteral("帮助") : QStringLiteral("Help"));
    m_exit->setText(zh ? QStringLiteral("退出") : QStringLiteral("Exit"));
    m_deviceMenu->setTitle(zh ? QStringLiteral("USB 设备") : QStringLiteral("USB Device"));
    m_languageMenu->setTitle(QStringLiteral("语言(Language)"));
    m_chinese->setChecked(zh);
    m_english->setChecked(!zh);
    for (auto it = m_usbData.cbegin(); it != m_usbData.cend(); ++it) {
        if (it->action)
            it->action->setText(deviceText(it.key(), it->product));
    }
}

QString MenuTree::deviceText(int number, const QString &product) const
{
    // "Device 2 · Lumory T88": the product string tells two keyboards apart.
    const QString text = (langType() == 0 ? QStringLiteral("设备") : QStringLiteral("Device ")) +
                         QString::number(number);
    return product.isEmpty() ? text : text + QStringLiteral(" · ") + product;
}

void MenuTree::initLayoutVersion()
{
    if (m_layoutMac->isChecked())
        Q_EMIT emitLayoutVersionMac();
    else if (m_layoutWin->isChecked())
        Q_EMIT emitLayoutVersionWin();
    else if (m_layoutAuto->isChecked())
        Q_EMIT emitLayoutVersionAuto();
}

int MenuTree::save()
{
    MenuTreeData data;
    data.autoStart = m_powerBoot->isChecked();
    data.webDownload = m_webDownload;
    data.webHelp = m_webHelp;
    data.layoutMac = m_layoutMac->isChecked();
    data.layoutWin = m_layoutWin->isChecked();
    data.layoutAuto = m_layoutAuto->isChecked();
    return data.write(menuTreePath());
}

void MenuTree::setAutoStart(bool on)
{
    AutoStart::apply(on);
}

bool MenuTree::isAutoStart() const
{
    const bool checked = m_powerBoot->isChecked();
    qDebug() << "is checked to the : " << checked;
    return checked;
}

void MenuTree::setActionEnabled(bool enabled)
{
    for (QAction *action : m_deviceMenu->actions())
        action->setEnabled(enabled);
}

void MenuTree::showMenuTreeSlot(const QPoint &pos)
{
    m_mainMenu->popup(pos);
}

void MenuTree::powerBootActionSlot(bool checked)
{
    qDebug() << "set power boot " << checked;
    setAutoStart(checked);
    save();
}

void MenuTree::layoutChosen(QAction *chosen, bool checked)
{
    if (!checked) {
        // The layout choice is a radio group: the checked entry stays checked.
        chosen->setChecked(true);
        return;
    }
    for (QAction *action : {m_layoutMac, m_layoutWin, m_layoutAuto}) {
        if (action != chosen)
            action->setChecked(false);
    }
    save();
    if (chosen == m_layoutMac)
        Q_EMIT emitLayoutVersionMac();
    else if (chosen == m_layoutWin)
        Q_EMIT emitLayoutVersionWin();
    else
        Q_EMIT emitLayoutVersionAuto();
}

void MenuTree::layoutVersionMac(bool checked)
{
    layoutChosen(m_layoutMac, checked);
}

void MenuTree::layoutVersionWin(bool checked)
{
    layoutChosen(m_layoutWin, checked);
}

void MenuTree::layoutVersionAuto(bool checked)
{
    layoutChosen(m_layoutAuto, checked);
}

void MenuTree::layoutLanguageChinese(bool checked)
{
    if (!checked) {
        m_chinese->setChecked(true);
        return;
    }
    m_english->setChecked(false);
    if (Language *language = Language::instance())
        language->setLanguage(Language::Chinese);
}

void MenuTree::layoutLanguageEnglish(bool checked)
{
    if (!checked) {
        m_english->setChecked(true);
        return;
    }
    m_chinese->setChecked(false);
    if (Language *language = Language::instance())
        language->setLanguage(Language::English);
}

void MenuTree::checkForUpdateSlot(bool)
{
    Q_EMIT emitCheckForUpdate();
}

void MenuTree::aboutSlot()
{
    InfoDialog dialog(InfoDialog::About, langType(), m_dialogParent);
    Dialogs::exec(&dialog);
}

void MenuTree::helpSlot()
{
    InfoDialog dialog(InfoDialog::Help, langType(), m_dialogParent);
    Dialogs::exec(&dialog);
}

int MenuTree::getDefault() const
{
    if (m_numbers.isEmpty())
        return 1;
    for (int number : m_numbers) {
        if (number < 0)
            return -number;
    }
    return qAbs(m_numbers.last()) + 1;
}

void MenuTree::addDeviceAction(UsbData data)
{
    const int number = getDefault();
    auto *action = new QAction(deviceText(number, data.product), m_deviceMenu);
    action->setCheckable(true);
    data.action = action;
    data.number = number;
    if (number - 1 < m_numbers.size())
        m_numbers[number - 1] = number;
    else
        m_numbers.append(number);

    if (UsbData old = m_usbData.value(number); old.action) {
        m_deviceMenu->removeAction(old.action);
        old.action->deleteLater();
    }
    m_usbData.insert(number, data);

    QAction *before = nullptr;
    auto next = m_usbData.upperBound(number);
    if (next != m_usbData.end())
        before = next->action;
    m_deviceMenu->insertAction(before, action);

    connect(action, &QAction::triggered, this, [this, number] {
        if (m_usbData.contains(number))
            Q_EMIT ActionTriggered(m_usbData.value(number));
    });
}

void MenuTree::removeDeviceAction(UsbData data)
{
    if (!data.action)
        data.action = m_usbData.value(data.number).action;
    if (data.action) {
        m_deviceMenu->removeAction(data.action);
        data.action->deleteLater();
    }
    m_usbData.remove(data.number);
    if (data.number >= 1 && data.number <= m_numbers.size())
        m_numbers[data.number - 1] = -qAbs(m_numbers[data.number - 1]);
}

void MenuTree::setOpenAction(const QString &path)
{
    QAction *open = nullptr;
    for (const UsbData &data : qAsConst(m_usbData)) {
        if (data.path == path)
            open = data.action;
    }
    if (!open)
        return;
    for (QAction *action : m_deviceMenu->actions())
        action->setChecked(action == open);
}

void MenuTree::clearDeviceAction()
{
    m_numbers.clear();
    m_usbData.clear();
    // Deletes the actions the menu owns (all device entries).
    m_deviceMenu->clear();
}

#pragma once

#include "device/usbdata.h"

#include <QList>
#include <QMap>
#include <QObject>
#include <QPoint>
#include <QString>

class QAction;
class QMenu;
class QWidget;

// The main window's drop-down menu: start at log-in, layout version,
// language, the list of connected keyboards, update check, About, Help and
// Exit. Its choices persist in <appdir>/config/menutree.xml.
class MenuTree : public QObject
{
    Q_OBJECT

public:
    // `dialogParent` parents the About and Help dialogs.
    explicit MenuTree(QWidget *dialogParent, QObject *parent = nullptr);
    ~MenuTree() override;

    QMenu *menu() const { return m_mainMenu; }

    // Emits the signal of the checked layout choice (MacOS, then Windows
    // System, then Automatic).
    void initLayoutVersion();
    // Writes menutree.xml: 0, or -2 when it cannot be written.
    int save();
    void setAutoStart(bool on);
    bool isAutoStart() const;
    // Enables or disables every entry of the "USB Device" sub-menu.
    void setActionEnabled(bool enabled);

    // Device list of the "USB Device" sub-menu.
    QMap<int, UsbData> getUsbData() const { return m_usbData; }
    int getDefault() const;
    void addDeviceAction(UsbData data);
    void removeDeviceAction(UsbData data);
    void setOpenAction(const QString &path);
    void clearDeviceAction();

    // For tests and the main window.
    QAction *powerBootAction() const { return m_powerBoot; }
    QAction *checkUpdateAction() const { return m_checkUpdate; }
    QAction *macAction() const { return m_layoutMac; }
    QAction *winAction() const { return m_layoutWin; }
    QAction *autoAction() const { return m_layoutAuto; }
    QAction *chineseAction() const { return m_chinese; }
    QAction *englishAction() const { return m_english; }
    QAction *aboutAction() const { return m_about; }
    QAction *helpAction() const { return m_help; }
    QAction *exitAction() const { return m_exit; }
    QMenu *deviceMenu() const { return m_deviceMenu; }

public Q_SLOTS:
    void showMenuTreeSlot(const QPoint &pos);
    void powerBootActionSlot(bool checked);
    void layoutVersionMac(bool checked);
    void layoutVersionWin(bool checked);
    void layoutVersionAuto(bool checked);
    void layoutLanguageChinese(bool checked);
    void layoutLanguageEnglish(bool checked);
    void checkForUpdateSlot(bool checked);
    void aboutSlot();
    void helpSlot();
    void SetLanguage(int type);

Q_SIGNALS:
    void emitLayoutVersionMac();
    void emitLayoutVersionWin();
    void emitLayoutVersionAuto();
    void emitMainExit();
    void emitCheckForUpdate();
    void emitBackupKeyboard();
    void emitRestoreKeyboard();
    void ActionTriggered(UsbData data);

private:
    void buildMenus();
    void layoutChosen(QAction *chosen, bool checked);
    QString deviceText(int number, const QString &product) const;
    int langType() const;

    QWidget *m_dialogParent = nullptr;
    QMenu *m_mainMenu = nullptr;
    QMenu *m_settingMenu = nullptr;
    QMenu *m_layoutMenu = nullptr;
    QMenu *m_deviceMenu = nullptr;
    QMenu *m_languageMenu = nullptr;
    QAction *m_powerBoot = nullptr;
    QAction *m_checkUpdate = nullptr;
    QAction *m_backup = nullptr;
    QAction *m_restore = nullptr;
    QAction *m_layoutMac = nullptr;
    QAction *m_layoutWin = nullptr;
    QAction *m_layoutAuto = nullptr;
    QAction *m_about = nullptr;
    QAction *m_chinese = nullptr;
    QAction *m_english = nullptr;
    QAction *m_help = nullptr;
    QAction *m_exit = nullptr;
    QString m_webDownload;
    QString m_webHelp;

    QMap<int, UsbData> m_usbData;
    // Slot i holds number i + 1: positive while in use, negated once freed.
    QList<int> m_numbers;
};

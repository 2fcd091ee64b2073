#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QMainWindow>
#include <QSystemTrayIcon>
#include <QVector>

#include <functional>

class Color;
class Data;
class Device;
class LightingController;
class DeviceSession;
class KeyLayout;
class Language;
class Setting;
class Shortcuts;
class Macro;
class FirmwareFlow;
class ProfileFlow;
struct BoardInfo;
class MenuTree;
class QAction;
class QLabel;
class QMenu;
class QStackedWidget;
class QTimer;
class QToolButton;
class TabLabel;
class overallVariate;

// The main window: a frameless window with a title bar, the page tabs and
// the pages, plus the tray icon. It wires the pages to the device session;
// the session, the pages and the firmware flow live in their own classes.
class Lumory : public QMainWindow
{
    Q_OBJECT

public:
    Lumory(QWidget *parent, const QString &startMode);
    ~Lumory() override;

    QString startMode() const { return m_startMode; }
    bool initLock() const { return m_initLock; }
    MenuTree *menuTree() const { return m_menuTree; }
    DeviceSession *deviceSession() const { return m_session; }
    QSystemTrayIcon *trayIcon() const { return m_trayIcon; }
    QList<TabLabel *> tabLabels() const { return m_tabLabels; }
    // Object name of the page shown, or empty.
    QString currentPageName() const;
    QAction *trayMinimizeAction() const { return m_minimizeAction; }
    QAction *trayRestoreAction() const { return m_restoreAction; }
    QAction *trayExitAction() const { return m_exitAction; }
    // The settings, lighting and macro pages are built when they are first
    // shown or asked for here: the settings page at any time, the lighting
    // and macro pages while a keyboard whose board has them is loaded (null
    // otherwise). The key-function page acts on the keyboard's notifications
    // and is built with the keyboard.
    Setting *settingPage();
    Color *colorPage();
    Macro *macroPage();
    KeyLayout *keyLayout() const { return m_keyLayout; }
    LightingController *lighting() const { return m_lighting; }
    Shortcuts *shortcutsPage() const { return m_shortcuts; }
    FirmwareFlow *firmwareFlow() const { return m_firmwareFlow; }
    ProfileFlow *profileFlow() const { return m_profileFlow; }
    Data *catalogue() const { return m_data; }
    const QVector<BoardInfo *> &boards() const { return m_boards; }
    // Puts `widget` into the title bar, left of the window buttons.
    void addTitleBarWidget(QWidget *widget);
    // Shows the tabs of a board (all but COLOR without one) and opens the first.
    void updateTabWidgetPage(BoardInfo *board);

    // The window's size on a screen with this available geometry: the
    // preferred 1180 x 800, or less where the screen is smaller.
    static QSize windowSizeFor(const QRect &available);

    // Whether the desktop has a system tray. Without one the window is never
    // hidden (it would be unreachable); it is minimised instead.
    static bool trayAvailable();
    // Tests force the answer: 1 available, 0 not, -1 ask the desktop.
    static void setTrayAvailableOverride(int available);

    // The shared state of the online update (its page hangs off it).
    overallVariate *updateState() const { return m_overallVariate; }
    // Runs once the update state has read its configuration, before the
    // update page is created and the automatic check starts (demo mode
    // points the state at its own update site here). Set before the window
    // is built.
    static void setUpdateStateSetup(std::function<void(overallVariate *)> setup);

public Q_SLOTS:
    void mainShow();
    void mainHide();
    void mainShowMinimized();
    void exitAppActionSlot();
    void quitSlot();
    void activatedSysTrayIconSlot(QSystemTrayIcon::ActivationReason reason);
    void labelPageClickSlot(const QString &pageName);
    void updateSlot(const QString &what);
    void SetLanguage(int langType);
    void layoutVersionMacSlot();
    void layoutVersionWinSlot();
    void layoutVersionAutoSlot();
    void showUpdatePageSlot();

    // Device settings (forwarded to the keyboard).
    void BluetoothNameSlot(const QString &name);
    void SleepTimeSlot(int minutes);
    void FactoryResetSlot();
    void nKeySlot(int mode);
    void updateSSSlot(int speedMs);
    void stateSlot(int type, int state);
    void layoutEditorSlot();

    // The macro page added, removed or renamed a macro: the key-function
    // page's macro boxes follow.
    void updateShortcutsComboboxAddItemSlot(const QString &name);
    void updateShortcutsComboboxRemoveItemSlot(int index);
    void updateShortcutsComboboxSetItemText(int index, const QString &name);
    // The macro page blocks the window while it draws or records.
    void banWindowsButtonSlot(bool ban);
    // The firmware update blocks the page tabs / gives them back and shows
    // the settings page.
    void modeDUFSlot();
    void unModeUFSlot();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;

private:
    void setupUi();
    void initMenuTree();
    void initButton();
    void initTrayIcon();
    // Shows the tray icon now, or as soon as a system tray appears (a panel
    // that starts after the program at log-in).
    void showTrayIconWhenAvailable();
    void createActionsMenu();
    void initTabWidget();
    void initSystemBoot();
    void initDiscon();
    void createShortcut();
    void deinitTools();
    void quitLumory();
    void centreOnScreen();
    void connectSession();
    void createSettingPage(bool layoutEditor);
    // The lighting tab, the colour-map and mode-map rows of a loaded
    // keyboard; the lighting page itself waits until it is needed.
    void setUpLighting(BoardInfo *board, Device *device);
    static bool hasLighting(const BoardInfo *board, Device *device);
    void createShortcutsPage(BoardInfo *board, Device *device);
    void createMacroPage(BoardInfo *board, Device *device);
    // The settings page's firmware panel drives the firmware flow.
    void connectFirmwarePanel();
    // Every selection of the pages goes (Escape, right click).
    void releaseSelections();
    void setSettingInformation();
    // Starts loading the keyboard that opened while the window was built.
    void loadOpenedKeyboard();
    void onLoadingStarted();
    void onDeviceReady(BoardInfo *board);
    void onLoadFinished();
    void onLoadFailed();
    void onDeviceClosing();
    void setTabsEnabled(bool enabled);
    QWidget *pageContainer(const QString &name) const;
    // Shows a page and its tab, whatever the page-switch lock says.
    void showPage(const QString &pageName);
    void updateDisconnectedText();
    // The picture shown while no keyboard is loaded; drawn while it shows.
    void setDisconnectedShown(bool shown);
    // An icon of the SVG `file` drawn once at `size`, without the copy QIcon
    // would keep in the pixmap cache.
    static QIcon drawnIcon(const QString &file, const QSize &size);
    // Configuration, update page, language and the automatic check.
    void initOnlineUpdate();

    QString m_startMode;
    bool m_initLock = false;
    // The next keyboard to load comes back from a firmware update.
    bool m_showSettingAfterLoad = false;
    bool m_quitting = false;
    bool m_shownBefore = false;
    int m_quitCountdown = 1;

    Language *m_language = nullptr;
    overallVariate *m_overallVariate = nullptr;
    MenuTree *m_menuTree = nullptr;
    DeviceSession *m_session = nullptr;
    Data *m_data = nullptr;
    QVector<BoardInfo *> m_boards;
    Setting *m_setting = nullptr;
    KeyLayout *m_keyLayout = nullptr;
    LightingController *m_lighting = nullptr;
    Color *m_color = nullptr;
    Shortcuts *m_shortcuts = nullptr;
    Macro *m_macro = nullptr;
    FirmwareFlow *m_firmwareFlow = nullptr;
    ProfileFlow *m_profileFlow = nullptr;
    QWidget *m_boardArea = nullptr;

    QSystemTrayIcon *m_trayIcon = nullptr;
    QMenu *m_trayMenu = nullptr;
    QAction *m_minimizeAction = nullptr;
    QAction *m_restoreAction = nullptr;
    QAction *m_exitAction = nullptr;
    QTimer *m_hideTimer = nullptr;
    QTimer *m_quitTimer = nullptr;
    QTimer *m_trayWatch = nullptr;

    // Widgets of the window.
    QWidget *m_titleBar = nullptr;
    QLabel *m_titleText = nullptr;
    QToolButton *m_menuButton = nullptr;
    QToolButton *m_minButton = nullptr;
    QToolButton *m_closeButton = nullptr;
    QWidget *m_tabBar = nullptr;
    QList<TabLabel *> m_tabLabels;
    QStackedWidget *m_pageStack = nullptr;
    QLabel *m_disconnected = nullptr;
    QLabel *m_disconnectedText = nullptr;

    QElapsedTimer m_stopwatch;
};

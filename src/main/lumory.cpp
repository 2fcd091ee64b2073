#include "main/lumory.h"

#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "Update/updateformats.h"
#include "color/color.h"
#include "device/usb.h"
#include "macro/macro.h"
#include "main/apppaths.h"
#include "main/devicesession.h"
#include "main/firmwareflow.h"
#include "main/keylayout.h"
#include "main/lightingcontroller.h"
#include "main/loghandler.h"
#include "setting/Language.h"
#include "setting/profileflow.h"
#include "setting/setting.h"
#include "shortcut/shortcuts.h"
#include "widget/atomicfile.h"
#include "widget/data.h"
#include "widget/dialogs.h"
#include "widget/menutree.h"
#include "widget/tablabel.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QGuiApplication>
#include <QMenu>
#include <QMetaMethod>
#include <QScreen>
#include <QStackedWidget>
#include <QTimer>
#include <QWindow>
#include <qpa/qplatformnativeinterface.h>

// The icons are compiled into this static library; register them explicitly.
static void initLumoryResources()
{
    Q_INIT_RESOURCE(lumory);
}

namespace {
int g_trayOverride = -1;
constexpr int kQuitTickMs = 500;
constexpr int kCloseDelayMs = 100;
// How often a desktop without a tray is asked whether one has appeared. Where
// the platform announces a tray that starts (X11: its MANAGER message), the
// answer is looked at then, and the question asked only rarely, for a tray
// the announcement does not cover.
constexpr int kTrayWatchMs = 2000;
constexpr int kTrayWatchAnnouncedMs = 30000;
std::function<void(overallVariate *)> g_updateStateSetup;
} // namespace

bool Lumory::trayAvailable()
{
    if (g_trayOverride >= 0)
        return g_trayOverride == 1;
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void Lumory::setTrayAvailableOverride(int available)
{
    g_trayOverride = available;
}

void Lumory::setUpdateStateSetup(std::function<void(overallVariate *)> setup)
{
    g_updateStateSetup = std::move(setup);
}

Lumory::Lumory(QWidget *parent, const QString &startMode)
    : QMainWindow(parent), m_startMode(startMode)
{
    // 1. Members.
    initLumoryResources();
    m_stopwatch.start();
    m_initLock = false;

    // 2. Widgets.
    setupUi();

    // 3. Logging, before anything else that logs.
    LogHandler::instance().installMessageHandler();
    qInfo().noquote() << "Lumory start, mode" << m_startMode;

    // 4. The window may be hidden to the tray without ending the program.
    QGuiApplication::setQuitOnLastWindowClosed(false);

    // 5. Language and the shared update state.
    // A write killed half-way leaves its temporary file beside the preferences.
    AtomicFile::removeStaleTemporaries(AppPaths::writableConfigDir(),
                                       {QStringLiteral("Language.xml"),
                                        QStringLiteral("menutree.xml"),
                                        QStringLiteral("AutoUpdate.xml")});
    m_language = new Language(this);
    m_overallVariate = new overallVariate(this);
    connect(m_overallVariate, &overallVariate::emitMainExit, this, &Lumory::exitAppActionSlot);
    connect(m_overallVariate, &overallVariate::emitUpdateSignal, this, &Lumory::updateSlot);
    initOnlineUpdate();
    qDebug() << "language and update state ready, language" << m_language->getLangType();

    // 6. Board catalogue.
    m_data = new Data();
    if (!m_data->parseConfigXML(&m_boards, QStringLiteral("config.xml")))
        qWarning() << "board catalogue config.xml could not be read; no keyboard is recognised";
    qDebug() << "board catalogue:" << m_boards.size() << "boards";

    // 7. Static layout (palette of assignable keys), labelled once the menu
    // reports the layout version.
    m_keyLayout = new KeyLayout(m_data, &m_boards, m_boardArea,
                                pageContainer(QStringLiteral("staticLayout")), this);
    m_keyLayout->setInitLockSource(&m_initLock);
    if (!m_keyLayout->loadStaticLayout())
        qWarning() << "static layout could not be read; the palette stays empty";
    qDebug() << "static layout:" << m_keyLayout->staticKeys().size() << "keys";
    m_lighting = new LightingController(m_keyLayout, m_boardArea, this, this);

    // 8. Main menu.
    QElapsedTimer step;
    step.start();
    initMenuTree();
    qDebug() << "initMenuTree   " << step.restart() << "ms";

    // 9. Window buttons, tray, tabs, start mode, disconnected picture, key-function page.
    initButton();
    initTrayIcon();
    qDebug() << "initTrayIcon   " << step.restart() << "ms";
    // The pages are built when a keyboard loads or when they are first shown.
    initTabWidget();
    qDebug() << "initTabWidget  " << step.restart() << "ms";
    initSystemBoot();
    initDiscon();
    createShortcut();

    // 10. Device timers.
    m_session = new DeviceSession(m_data, &m_boards, m_menuTree, m_overallVariate, this, this);
    connectSession();
    connect(m_language, &Language::LanguageChange, m_session, &DeviceSession::setLanguage);
    connect(m_language, &Language::LanguageChange, m_lighting, &LightingController::SetLanguage);
    connect(m_session, &DeviceSession::deviceState, this, &Lumory::stateSlot);
    m_firmwareFlow = new FirmwareFlow(m_session, this, this);
    connect(m_language, &Language::LanguageChange, m_firmwareFlow, &FirmwareFlow::setLanguage);
    m_firmwareFlow->setLanguage(m_language->getLangType());
    m_session->setFirmwareUpdateAvailable(true);
    connect(m_firmwareFlow, &FirmwareFlow::banWindowsButton, this, &Lumory::banWindowsButtonSlot);
    m_profileFlow = new ProfileFlow(m_session, this, this);
    connect(m_language, &Language::LanguageChange, m_profileFlow, &ProfileFlow::setLanguage);
    m_profileFlow->setLanguage(m_language->getLangType());
    connect(m_profileFlow, &ProfileFlow::busy, this, &Lumory::banWindowsButtonSlot);
    connect(m_menuTree, &MenuTree::emitBackupKeyboard, m_profileFlow, &ProfileFlow::backup);
    connect(m_menuTree, &MenuTree::emitRestoreKeyboard, m_profileFlow, &ProfileFlow::restore);
    connectFirmwarePanel();
    qDebug() << "device timers connected";

    // 11.
    m_initLock = true;

    // 12. Texts in the current language.
    connect(m_language, &Language::LanguageChange, this, &Lumory::SetLanguage);
    m_language->UpdateLangua();

    // 13. Start looking for keyboards.
    m_session->start();
    qInfo() << "Lumory constructed in" << m_stopwatch.elapsed() << "ms";
}

Lumory::~Lumory()
{
    // The keyboard's threads stop before the windows go.
    delete m_session;
    m_session = nullptr;
    if (m_overallVariate) {
        delete m_overallVariate->page();
        delete m_overallVariate;
        m_overallVariate = nullptr;
    }
    // Normally the quit routine has already torn everything down.
    delete m_menuTree;
    m_menuTree = nullptr;
    delete m_trayIcon;
    m_trayIcon = nullptr;
    delete m_data;
    m_data = nullptr;
}

void Lumory::initOnlineUpdate()
{
    QString problem;
    m_overallVariate->setConfig(UpdateFormats::readUpdateConfig(
        AppPaths::configDir() + QStringLiteral("OnlineUpdate.xml"), &problem));
    if (!problem.isEmpty())
        qWarning().noquote() << "online update:" << problem;
    if (g_updateStateSetup)
        g_updateStateSetup(m_overallVariate);
    m_overallVariate->setLangType(m_language->getLangType());
    m_overallVariate->initialization();
    auto *page = qobject_cast<onlineUpdate *>(m_overallVariate->page());
    connect(m_language, &Language::LanguageChange, m_overallVariate,
            [state = m_overallVariate](int langType) { state->setLangType(langType); });
    if (page)
        connect(m_language, &Language::LanguageChange, page, &onlineUpdate::SetLanguage);
    if (!m_overallVariate->config().isConfigured()) {
        qInfo() << "online update: no update server configured";
        return;
    }
    // The check runs in the background; the page shows itself when it finds something.
    if (m_overallVariate->getAutoUpdate())
        m_overallVariate->checkUpdate();
}

void Lumory::initMenuTree()
{
    m_menuTree = new MenuTree(this);
    connect(m_menuTree, &MenuTree::emitMainExit, this, &Lumory::exitAppActionSlot);
    connect(m_menuTree, &MenuTree::emitLayoutVersionMac, this, &Lumory::layoutVersionMacSlot);
    connect(m_menuTree, &MenuTree::emitLayoutVersionWin, this, &Lumory::layoutVersionWinSlot);
    connect(m_menuTree, &MenuTree::emitLayoutVersionAuto, this, &Lumory::layoutVersionAutoSlot);
    connect(m_menuTree, &MenuTree::emitCheckForUpdate, this, &Lumory::showUpdatePageSlot);
    m_menuTree->initLayoutVersion();
}

void Lumory::showTrayIconWhenAvailable()
{
    if (!m_trayIcon)
        return;
    if (trayAvailable()) {
        m_trayIcon->setVisible(true);
        if (m_trayWatch) {
            qInfo() << "system tray appeared; tray icon shown";
            m_trayWatch->deleteLater();
            m_trayWatch = nullptr;
        }
        return;
    }
    if (!m_trayWatch) {
        qInfo() << "no system tray yet; the icon is shown when one appears";
        m_trayWatch = new QTimer(this);
        m_trayWatch->setObjectName(QStringLiteral("trayWatch"));
        connect(m_trayWatch, &QTimer::timeout, this, &Lumory::showTrayIconWhenAvailable);
        // The platform's announcement starts a zero-time single shot (a
        // child of the watch, gone with it) that looks again.
        auto *announced = new QTimer(m_trayWatch);
        announced->setSingleShot(true);
        announced->setInterval(0);
        connect(announced, &QTimer::timeout, this, &Lumory::showTrayIconWhenAvailable);
        QObject *platform = QGuiApplication::platformNativeInterface();
        const QMetaObject *meta = platform ? platform->metaObject() : nullptr;
        const int signal = meta ? meta->indexOfSignal("systemTrayWindowChanged(QScreen*)") : -1;
        const QMetaMethod start =
            QTimer::staticMetaObject.method(QTimer::staticMetaObject.indexOfSlot("start()"));
        const bool announces =
            signal >= 0 && connect(platform, meta->method(signal), announced, start);
        m_trayWatch->start(announces ? kTrayWatchAnnouncedMs : kTrayWatchMs);
    }
}

void Lumory::initSystemBoot()
{
    m_hideTimer = new QTimer(this);
    m_hideTimer->setSingleShot(true);
    connect(m_hideTimer, &QTimer::timeout, this, [this] {
        hide();
        m_hideTimer->stop();
    });

    setWindowIcon(drawnIcon(QStringLiteral("://linuxfile/icons/Lumory-icon-tools-linux.svg"),
                            QSize(256, 256)));
    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint);
    setAttribute(Qt::WA_TranslucentBackground);

    if (m_menuTree->isAutoStart() && m_startMode == QLatin1String("/background")) {
        mainHide();
        return;
    }
    centreOnScreen();
    qDebug() << Q_FUNC_INFO << __LINE__;
}

void Lumory::centreOnScreen()
{
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return;
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
}

void Lumory::mainHide()
{
    if (!trayAvailable()) {
        // Without a tray a hidden window could never be reached again.
        QTimer::singleShot(1, this, &Lumory::mainShowMinimized);
        return;
    }
    m_hideTimer->start(1);
}

void Lumory::mainShow()
{
    qDebug() << "show slot";
    if (isHidden() && !isMinimized())
        centreOnScreen();
    raise();
    activateWindow();
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    showNormal();
}

void Lumory::mainShowMinimized()
{
    qDebug() << "window state" << windowState();
    if (!isMinimized())
        showMinimized();
}

void Lumory::activatedSysTrayIconSlot(QSystemTrayIcon::ActivationReason) {}

QString Lumory::currentPageName() const
{
    QWidget *page = m_pageStack ? m_pageStack->currentWidget() : nullptr;
    return page ? page->objectName() : QString();
}

void Lumory::labelPageClickSlot(const QString &pageName)
{
    if (!m_initLock) {
        qDebug().noquote() << "page switch refused while loading:" << pageName;
        return;
    }
    showPage(pageName);
}

void Lumory::showPage(const QString &pageName)
{
    // A page is built the first time it is shown; the lighting and macro
    // pages once the keyboard's pages may act.
    if (pageName == QLatin1String("Setting"))
        settingPage();
    else if (m_initLock && pageName == QLatin1String("Macro"))
        macroPage();
    else if (m_initLock && pageName == QLatin1String("Color"))
        colorPage();
    for (int i = 0; i < m_pageStack->count(); ++i) {
        if (m_pageStack->widget(i)->objectName() == pageName) {
            m_pageStack->setCurrentIndex(i);
            break;
        }
    }
    // The drawn keyboard belongs to the key, colour and key-function pages.
    const bool keyPage = pageName == QLatin1String("staticLayout");
    const bool shortcutsPage = pageName == QLatin1String("Shortcuts") && m_shortcuts;
    m_boardArea->setVisible(keyPage || pageName == QLatin1String("Color") || shortcutsPage);
    if (m_keyLayout) {
        // A selection belongs to the page it was made on, and only the key
        // page writes key codes (the colour page shows the same board).
        m_keyLayout->unsetCursorSlot();
        m_keyLayout->setRemapEnabled(keyPage);
    }
    // The board is built only once the keyboard's pages may act.
    const bool lightingPage = pageName == QLatin1String("Color") && m_color;
    if ((keyPage || lightingPage || shortcutsPage) && m_keyLayout && m_initLock) {
        m_keyLayout->createDynamicKeybtn();
        m_keyLayout->setDynamicKeyUnsetCursor();
        // The keys' tool tips name the function each one has.
        m_keyLayout->KeyBtnToolTip(!lightingPage);
    }
    if (shortcutsPage && m_keyLayout) {
        // A board key clicked here becomes a trigger key of a function.
        for (KeyBtn *key : m_keyLayout->dynamicKeys())
            connect(key, &KeyBtn::emitClickKeyBtnSignal, m_shortcuts, &Shortcuts::boardKeyClicked,
                    Qt::UniqueConnection);
    }
    if (m_keyLayout)
        m_keyLayout->setFrameGlobuleKeyShow(keyPage);
    if (m_lighting)
        m_lighting->setShown(lightingPage && m_initLock);
    for (TabLabel *label : qAsConst(m_tabLabels))
        label->setSelected(label->pageName() == pageName);
}

void Lumory::updateSlot(const QString &what)
{
    // A firmware package arrived from the update server: the settings page
    // runs it as if the user had chosen it there.
    qDebug().noquote() << "update:" << what;
    Setting *page = settingPage();
    if (!page)
        return;
    labelPageClickSlot(QStringLiteral("Setting"));
    page->updateSureSlot(what);
}

void Lumory::showUpdatePageSlot()
{
    qDebug() << "check for update";
    if (m_overallVariate)
        m_overallVariate->onlineUpdateShow();
}

void Lumory::layoutVersionMacSlot()
{
    qDebug() << "layout version: MacOS";
    m_keyLayout->layoutVersionMacSlot();
}

void Lumory::layoutVersionWinSlot()
{
    qDebug() << "layout version: Windows";
    m_keyLayout->layoutVersionWinSlot();
}

void Lumory::layoutVersionAutoSlot()
{
    qDebug() << "layout version: Automatic";
    m_keyLayout->layoutVersionAutoSlot();
}

void Lumory::exitAppActionSlot()
{
    if (!m_session)
        return; // already shut down
    if (m_firmwareFlow && m_firmwareFlow->isRunning()) {
        // Leaving now could leave the keyboard without firmware.
        Dialogs::information(this, tr("Information"),
                             m_language && m_language->getLangType() == 0
                                 ? QStringLiteral("正在更新固件，更新结束后才能退出。")
                                 : QStringLiteral("A firmware update is running; Lumory can "
                                                  "exit once it has finished."));
        return;
    }
    // 1. A running macro recording ends on the keyboard too.
    if (m_macro && m_macro->isRecording())
        m_macro->recorderItemDataSlot(false);
    // 2. Out of sight, no more device polling, no more tray or timer input.
    hide();
    m_session->scanTimer()->stop();
    m_session->deviceListTimer()->stop();
    if (m_trayIcon) {
        disconnect(m_trayIcon, &QSystemTrayIcon::activated, this,
                   &Lumory::activatedSysTrayIconSlot);
    }
    if (m_minimizeAction)
        disconnect(m_minimizeAction, &QAction::triggered, this, &Lumory::mainHide);
    if (m_restoreAction)
        disconnect(m_restoreAction, &QAction::triggered, this, &Lumory::mainShow);
    if (m_exitAction)
        disconnect(m_exitAction, &QAction::triggered, this, &Lumory::exitAppActionSlot);
    disconnect(m_session->scanTimer(), &QTimer::timeout, m_session, &DeviceSession::scanDeviceSlot);
    disconnect(m_session->deviceListTimer(), &QTimer::timeout, m_session,
               &DeviceSession::MultiscanDeviceSlot);
    // 3.
    deinitTools();
}

void Lumory::deinitTools()
{
    if (m_quitTimer)
        return; // already quitting
    m_session->scanTimer()->stop();
    // Closes the keyboard and keeps pending switches or retries from opening it again.
    m_session->shutdown();
    qDebug() << "delete close device finish.";
    m_quitTimer = new QTimer(this);
    connect(m_quitTimer, &QTimer::timeout, this, &Lumory::quitSlot);
    m_quitTimer->start(kQuitTickMs);
    m_quitting = true;
}

void Lumory::quitSlot()
{
    qDebug() << "quit countdown" << m_quitCountdown;
    if (m_quitCountdown == 0 && m_quitting) {
        m_quitting = false;
        quitLumory();
        m_quitTimer->stop();
        disconnect(m_quitTimer, &QTimer::timeout, this, &Lumory::quitSlot);
        connect(m_quitTimer, &QTimer::timeout, this, &QWidget::close);
        QGuiApplication::setQuitOnLastWindowClosed(true);
        m_quitTimer->start(kCloseDelayMs);
        return;
    }
    if (m_quitCountdown > 0)
        --m_quitCountdown;
}

void Lumory::quitLumory()
{
    delete m_hideTimer;
    m_hideTimer = nullptr;
    // The quit routine may run inside a box's event loop (Exit or SIGTERM
    // while a question is open): whatever a box may be waiting in is deleted
    // once the box has returned. The keyboard is closed by now; its session
    // goes before the menu it uses.
    Dialogs::deleteSafely(m_session);
    m_session = nullptr;
    Dialogs::deleteSafely(m_keyLayout);
    m_keyLayout = nullptr;
    Dialogs::deleteSafely(m_lighting);
    m_lighting = nullptr;
    Dialogs::deleteSafely(m_color);
    m_color = nullptr;
    Dialogs::deleteSafely(m_setting);
    m_setting = nullptr;
    Dialogs::deleteSafely(m_shortcuts);
    m_shortcuts = nullptr;
    Dialogs::deleteSafely(m_macro);
    m_macro = nullptr;
    qDebug() << "delete static dialog finish.";
    Dialogs::deleteSafely(m_menuTree);
    m_menuTree = nullptr;
    qDebug() << "delete menu tree finished.";
    qDebug() << "delete synmic keyBtn finish.";
    qDebug() << "delete static keyBtn finish.";
    if (m_disconnected)
        setDisconnectedShown(false);
    qInfo().noquote() << "Lumory quit."
                      << QDateTime::currentDateTime().toString(
                             QStringLiteral("yyyy-MM-dd hh:mm:ss"));
    delete m_trayWatch;
    m_trayWatch = nullptr;
    if (m_trayIcon) {
        m_trayIcon->hide();
        delete m_trayIcon;
        m_trayIcon = nullptr;
    }
    delete m_trayMenu;
    m_trayMenu = nullptr;
    m_minimizeAction = m_restoreAction = m_exitAction = nullptr;
    delete m_language;
    m_language = nullptr;
    // The page stops the downloader's thread; it goes while the state it
    // reports to is still whole.
    if (m_overallVariate)
        delete m_overallVariate->page();
    delete m_overallVariate;
    m_overallVariate = nullptr;
}

bool Lumory::event(QEvent *event)
{
    // The window is polished as the first thing of being shown.
    if (event->type() == QEvent::Polish && !m_shownBefore)
        loadOpenedKeyboard();
    return QMainWindow::event(event);
}

void Lumory::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shownBefore)
        return;
    loadOpenedKeyboard();
    m_shownBefore = true;
}

void Lumory::loadOpenedKeyboard()
{
    // The keyboard found at start-up has usually opened on its thread while
    // the window was being built: its loading starts now, while the window
    // is shown and drawn, not after the first frame.
    if (m_session && m_session->usb() && m_session->usb()->isOpen() && !m_session->device())
        QCoreApplication::sendPostedEvents(m_session, QEvent::MetaCall);
}

void Lumory::closeEvent(QCloseEvent *event)
{
    qDebug() << "colseEvent()";
    if (m_quitTimer) {
        qDebug() << "0000000000000000000-normal quit-0000000000000000000";
        m_quitTimer->stop();
        m_quitTimer->deleteLater();
        m_quitTimer = nullptr;
    } else {
        qDebug() << "0000000000000000000-unmormal quit-0000000000000000000";
        if (m_session) {
            m_session->shutdown();
            quitLumory();
        }
    }
    qDebug() << "0000000000000000000-closeEvent-0000000000000000000";
    if (isVisible())
        event->accept();
    else
        event->ignore();
    LogHandler::instance().release();
    QCoreApplication::quit();
}

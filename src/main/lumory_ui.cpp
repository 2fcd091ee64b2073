// The main window's widget tree, page tabs, window buttons and tray icon.
#include "main/lumory.h"

#include "main/apppaths.h"
#include "main/keylayout.h"
#include "setting/Language.h"
#include "widget/keybtn.h"
#include "widget/menutree.h"
#include "widget/noticebar.h"
#include "widget/tablabel.h"

#include <QAction>
#include <QApplication>
#include <QDebug>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QIcon>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QStackedWidget>
#include <QSvgRenderer>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWindow>

#include <algorithm>

namespace {
constexpr int kWindowWidth = 1180;
constexpr int kWindowHeight = 800;
// Below this the pages stop shrinking and the content area scrolls instead.
constexpr int kMinPageHeight = 200;

struct TabDef
{
    const char *english;
    const char *chinese;
    const char *key;
    const char *page;
};

const TabDef kTabs[] = {
    {"KEY", "键值", "key", "staticLayout"},
    {"COLOR", "颜色", "color", "Color"},
    {"SHORTCUTS", "快捷键", "shortcuts", "Shortcuts"},
    {"MACRO", "宏", "macro", "Macro"},
    {"SETTING", "设置", "setting", "Setting"},
};

constexpr QSize kDisconnectedSize(520, 220);

// The pixel ratio QIcon draws pictures for.
qreal iconPixelRatio()
{
    if (!QCoreApplication::testAttribute(Qt::AA_UseHighDpiPixmaps))
        return 1.0;
    return std::max<qreal>(1.0, qApp->devicePixelRatio());
}

// An SVG drawn at `size` (aspect kept) for a screen of this pixel ratio, as
// QIcon draws it, but without the copy QIcon keeps in the pixmap cache for
// the rest of the run.
QPixmap drawnPicture(const QString &file, const QSize &size, qreal ratio)
{
    QSvgRenderer renderer(file);
    QSize drawn = renderer.defaultSize();
    if (!renderer.isValid() || drawn.isNull())
        return QPixmap();
    drawn.scale(size * ratio, Qt::KeepAspectRatio);
    if (drawn.isEmpty())
        return QPixmap();
    QImage image(drawn, QImage::Format_ARGB32_Premultiplied);
    image.fill(0);
    QPainter painter(&image);
    renderer.render(&painter);
    painter.end();
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(ratio);
    return pixmap;
}

QToolButton *titleButton(const QString &name, const QString &icon, QWidget *parent)
{
    auto *button = new QToolButton(parent);
    button->setObjectName(name);
    button->setIcon(QIcon(icon));
    button->setIconSize(QSize(18, 18));
    button->setFixedSize(36, 32);
    button->setAutoRaise(true);
    button->setCursor(Qt::PointingHandCursor);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}
} // namespace

QSize Lumory::windowSizeFor(const QRect &available)
{
    const QSize preferred(kWindowWidth, kWindowHeight);
    if (available.width() <= 0 || available.height() <= 0)
        return preferred;
    return preferred.boundedTo(available.size());
}

void Lumory::setupUi()
{
    setObjectName(QStringLiteral("Lumory"));
    setWindowTitle(QStringLiteral("Lumory"));
    // A frameless window the user cannot resize: its preferred size, or less
    // on a small screen (the content area then scrolls).
    const QScreen *screen = QGuiApplication::primaryScreen();
    setFixedSize(windowSizeFor(screen ? screen->availableGeometry() : QRect()));

    auto *central = new QWidget(this);
    central->setObjectName(QStringLiteral("centralWidget"));
    auto *outer = new QVBoxLayout(central);
    outer->setContentsMargins(0, 0, 0, 0);

    auto *frame = new QWidget(central);
    frame->setObjectName(QStringLiteral("mainFrame"));
    frame->setAttribute(Qt::WA_StyledBackground);
    frame->setStyleSheet(
        QStringLiteral(
            "#mainFrame { background: #1b1d23; border: 1px solid #2c313a; border-radius: 10px; }"
            "QToolButton { border: none; border-radius: 6px; }"
            "QToolButton:hover { background: #2c313a; }"
            "QToolButton#closeButton:hover { background: #c0392b; }") +
        KeyBtn::toolTipStyleSheet());
    outer->addWidget(frame);

    auto *layout = new QVBoxLayout(frame);
    layout->setContentsMargins(1, 1, 1, 1);
    layout->setSpacing(0);

    m_titleBar = new QWidget(frame);
    m_titleBar->setObjectName(QStringLiteral("titleBar"));
    m_titleBar->setFixedHeight(52);
    m_titleBar->installEventFilter(this);
    auto *titleLayout = new QHBoxLayout(m_titleBar);
    titleLayout->setContentsMargins(18, 0, 10, 0);
    titleLayout->setSpacing(6);
    auto *logo = new QLabel(m_titleBar);
    logo->setPixmap(
        QIcon(QStringLiteral(":/linuxfile/icons/Lumory-icon-tools-linux.svg")).pixmap(28, 28));
    titleLayout->addWidget(logo);
    m_titleText = new QLabel(QStringLiteral("Lumory"), m_titleBar);
    m_titleText->setObjectName(QStringLiteral("titleText"));
    m_titleText->setStyleSheet(
        QStringLiteral("color: #e8eaed; font-size: 14pt; font-weight: 600; padding-left: 4px;"));
    titleLayout->addWidget(m_titleText);
    titleLayout->addStretch(1);
    m_menuButton = titleButton(QStringLiteral("menuButton"),
                               QStringLiteral(":/linuxfile/icons/menu.svg"), m_titleBar);
    m_minButton = titleButton(QStringLiteral("minButton"),
                              QStringLiteral(":/linuxfile/icons/minimize.svg"), m_titleBar);
    m_closeButton = titleButton(QStringLiteral("closeButton"),
                                QStringLiteral(":/linuxfile/icons/close.svg"), m_titleBar);
    titleLayout->addWidget(m_menuButton);
    titleLayout->addWidget(m_minButton);
    titleLayout->addWidget(m_closeButton);
    layout->addWidget(m_titleBar);

    m_tabBar = new QWidget(frame);
    m_tabBar->setObjectName(QStringLiteral("tabBar"));
    m_tabBar->setAttribute(Qt::WA_StyledBackground);
    m_tabBar->setStyleSheet(
        QStringLiteral("#tabBar { border-bottom: 1px solid #2c313a; background: transparent; }"));
    layout->addWidget(m_tabBar);
    // Data files that could not be read are named here, under the tabs.
    layout->addWidget(new NoticeBar(frame));

    // Everything below the tabs scrolls when the window is smaller than the
    // content (a small screen); at the preferred size it fits.
    auto *scroll = new QScrollArea(frame);
    scroll->setObjectName(QStringLiteral("contentScroll"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    scroll->viewport()->setObjectName(QStringLiteral("contentViewport"));
    scroll->setStyleSheet(QStringLiteral("#contentScroll, #contentViewport, #content"
                                         " { background: transparent; }"));
    const QString bar = QStringLiteral(
        "QScrollBar { background: #22252d; border-radius: 4px; width: 8px; height: 8px; }"
        "QScrollBar::handle { background: #46e6b7; border-radius: 4px; min-width: 30px;"
        " min-height: 30px; }"
        "QScrollBar::add-line, QScrollBar::sub-line { width: 0; height: 0; }"
        "QScrollBar::add-page, QScrollBar::sub-page { background: none; }");
    scroll->horizontalScrollBar()->setStyleSheet(bar);
    scroll->verticalScrollBar()->setStyleSheet(bar);
    auto *content = new QWidget();
    content->setObjectName(QStringLiteral("content"));
    auto *contentLayout = new QVBoxLayout(content);
    contentLayout->setContentsMargins(0, 0, 0, 0);
    contentLayout->setSpacing(0);
    scroll->setWidget(content);
    layout->addWidget(scroll, 1);

    // The drawn keyboard (key and colour pages) sits above the pages.
    m_boardArea = new QWidget(content);
    m_boardArea->setObjectName(QStringLiteral("boardArea"));
    auto *boardLayout = new QVBoxLayout(m_boardArea);
    boardLayout->setContentsMargins(0, 12, 0, 0);
    boardLayout->setSpacing(0);
    contentLayout->addWidget(m_boardArea);

    m_pageStack = new QStackedWidget(content);
    m_pageStack->setObjectName(QStringLiteral("pageStack"));
    m_pageStack->setMinimumHeight(kMinPageHeight);
    contentLayout->addWidget(m_pageStack, 1);
    for (const TabDef &tab : kTabs) {
        auto *page = new QWidget(m_pageStack);
        page->setObjectName(QString::fromLatin1(tab.page));
        // A hidden page must not make the visible one larger.
        page->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Ignored);
        m_pageStack->addWidget(page);
    }

    setCentralWidget(central);
}

void Lumory::addTitleBarWidget(QWidget *widget)
{
    auto *layout = static_cast<QHBoxLayout *>(m_titleBar->layout());
    widget->setParent(m_titleBar);
    layout->insertWidget(layout->indexOf(m_menuButton), widget);
}

void Lumory::initButton()
{
    connect(m_menuButton, &QToolButton::clicked, this, [this] {
        m_menuTree->showMenuTreeSlot(m_menuButton->mapToGlobal(QPoint(0, m_menuButton->height())));
    });
    connect(m_minButton, &QToolButton::clicked, this, &Lumory::mainShowMinimized);
    // The close button keeps the program running in the tray.
    connect(m_closeButton, &QToolButton::clicked, this, &Lumory::mainHide);
}

void Lumory::initTabWidget()
{
    auto *tabLayout = new QHBoxLayout(m_tabBar);
    tabLayout->setContentsMargins(40, 0, 40, 0);
    tabLayout->setSpacing(0);
    for (const TabDef &tab : kTabs) {
        auto *label =
            new TabLabel(QString::fromLatin1(tab.key), QString::fromLatin1(tab.page), m_tabBar);
        label->setTexts(QString::fromUtf8(tab.english), QString::fromUtf8(tab.chinese));
        label->applyLanguage(m_language->getLangType());
        connect(label, &TabLabel::emitClicked, this, &Lumory::labelPageClickSlot);
        tabLayout->addStretch(1);
        tabLayout->addWidget(label);
        m_tabLabels.append(label);
    }
    tabLayout->addStretch(1);
    m_tabLabels.first()->setSelected(true);
}

void Lumory::initDiscon()
{
    m_disconnected = new QLabel(m_boardArea);
    m_disconnected->setObjectName(QStringLiteral("disconnectedPicture"));
    m_disconnected->setAlignment(Qt::AlignCenter);
    setDisconnectedShown(true);

    m_disconnectedText = new QLabel(m_boardArea);
    m_disconnectedText->setObjectName(QStringLiteral("disconnectedText"));
    m_disconnectedText->setAlignment(Qt::AlignCenter);
    m_disconnectedText->setStyleSheet(QStringLiteral("color: #9aa3b2; font-size: 12pt;"));

    auto *boardLayout = static_cast<QVBoxLayout *>(m_boardArea->layout());
    boardLayout->addWidget(m_disconnected, 0, Qt::AlignHCenter);
    boardLayout->addWidget(m_disconnectedText, 0, Qt::AlignHCenter);
    boardLayout->addSpacing(12);
}

void Lumory::setDisconnectedShown(bool shown)
{
    // Half a megabyte of picture: kept only while it is on screen.
    if (shown && m_disconnected->pixmap(Qt::ReturnByValue).isNull()) {
        m_disconnected->setPixmap(
            drawnPicture(AppPaths::imagesDir() + QStringLiteral("main/disconnected.svg"),
                         kDisconnectedSize, iconPixelRatio()));
    }
    m_disconnected->setVisible(shown);
    if (!shown)
        m_disconnected->setPixmap(QPixmap());
}

QIcon Lumory::drawnIcon(const QString &file, const QSize &size)
{
    // Drawn here rather than by QIcon, which would keep a second copy in the
    // pixmap cache for the rest of the run.
    return QIcon(drawnPicture(file, size, iconPixelRatio()));
}

void Lumory::createShortcut()
{
    // The key-function page is created hidden with the device's pages.
    // Undo and redo of the key and lighting pages. A focused text field (a
    // macro or function name, the palette search while being typed in) takes
    // these keys for its own undo: it accepts them as shortcut overrides
    // before the window sees them.
    const auto history = [this](bool redo) {
        const QString page = currentPageName();
        if (!m_keyLayout ||
            (page != QLatin1String("staticLayout") && page != QLatin1String("Color")))
            return;
        if (redo)
            m_keyLayout->redo();
        else
            m_keyLayout->undo();
    };
    auto *undo = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z), this);
    undo->setObjectName(QStringLiteral("undoShortcut"));
    connect(undo, &QShortcut::activated, this, [history] { history(false); });
    auto *redo = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), this);
    redo->setObjectName(QStringLiteral("redoShortcut"));
    connect(redo, &QShortcut::activated, this, [history] { history(true); });
}

void Lumory::initTrayIcon()
{
    m_trayIcon = new QSystemTrayIcon(this);
    m_trayIcon->setIcon(QIcon(QStringLiteral("://linuxfile/icons/Lumory-icon-tray-linux.svg")));
    m_trayIcon->setToolTip(tr("Lumory"));
    connect(m_trayIcon, &QSystemTrayIcon::activated, this, &Lumory::activatedSysTrayIconSlot);
    createActionsMenu();
    m_trayIcon->setContextMenu(m_trayMenu);
    showTrayIconWhenAvailable();
}

void Lumory::createActionsMenu()
{
    m_trayMenu = new QMenu();
    m_trayMenu->setObjectName(QStringLiteral("trayMenu"));
    m_trayMenu->setStyleSheet(m_menuTree->menu()->styleSheet());
    m_minimizeAction = m_trayMenu->addAction(tr("Minimize"));
    m_restoreAction = m_trayMenu->addAction(tr("Restore"));
    m_trayMenu->addSeparator();
    m_exitAction = m_trayMenu->addAction(tr("Exit"));
    connect(m_minimizeAction, &QAction::triggered, this, &Lumory::mainHide);
    connect(m_restoreAction, &QAction::triggered, this, &Lumory::mainShow);
    connect(m_exitAction, &QAction::triggered, this, &Lumory::exitAppActionSlot);
}

void Lumory::SetLanguage(int langType)
{
    const bool zh = langType == 0;
    for (TabLabel *label : qAsConst(m_tabLabels))
        label->applyLanguage(langType);
    updateDisconnectedText();
    if (m_keyLayout)
        m_keyLayout->SetLanguage(langType);
    if (auto *notices = findChild<NoticeBar *>())
        notices->setLanguage(langType);
    if (m_minimizeAction) {
        m_minimizeAction->setText(zh ? QStringLiteral("最小化") : QStringLiteral("Minimize"));
        m_restoreAction->setText(zh ? QStringLiteral("还原") : QStringLiteral("Restore"));
        m_exitAction->setText(zh ? QStringLiteral("退出") : QStringLiteral("Exit"));
    }
    m_menuButton->setToolTip(zh ? QStringLiteral("菜单") : QStringLiteral("Menu"));
    m_minButton->setToolTip(zh ? QStringLiteral("最小化") : QStringLiteral("Minimize"));
    m_closeButton->setToolTip(zh ? QStringLiteral("关闭") : QStringLiteral("Close"));
}

void Lumory::updateDisconnectedText()
{
    if (m_disconnectedText) {
        const bool zh = m_language && m_language->getLangType() == 0;
        // Without a catalogue no keyboard is recognised: say why instead.
        QString text = m_boards.isEmpty() ? NoticeBar::catalogueText(zh ? 0 : 1) : QString();
        if (text.isEmpty())
            text =
                zh ? QStringLiteral("请连接键盘") : QStringLiteral("Connect a keyboard to begin");
        m_disconnectedText->setText(text);
    }
}

void Lumory::keyPressEvent(QKeyEvent *event)
{
    // Escape lets go of every selection (colour, key, mode, key function).
    if (event->key() == Qt::Key_Escape) {
        releaseSelections();
        return;
    }
    QMainWindow::keyPressEvent(event);
}

void Lumory::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::RightButton)
        releaseSelections();
    QMainWindow::mousePressEvent(event);
}

bool Lumory::eventFilter(QObject *watched, QEvent *event)
{
    // Dragging the title bar moves the frameless window.
    if (watched == m_titleBar && event->type() == QEvent::MouseButtonPress) {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() == Qt::LeftButton && windowHandle()) {
            windowHandle()->startSystemMove();
            return true;
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

#include "Update/onlineupdate.h"

#include "Update/autoupdatefile.h"
#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "main/apppaths.h"
#include "widget/dialogs.h"

#include <QApplication>
#include <QCheckBox>
#include <QDebug>
#include <QDir>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QVBoxLayout>

namespace {

constexpr int kTipIntervalMs = 300;
constexpr int kPageWidth = 560;
// Status and buttons alone; each row shown adds its height.
constexpr int kMinPageHeight = 220;

const char kPageStyle[] =
    "QWidget#onlineUpdate { background: #1b1d23; border: 1px solid #2c313a; }"
    "QFrame[card=\"true\"] { background: #22252d; border: 1px solid #2c313a; border-radius: 10px; }"
    "QLabel { color: #c9ced8; font-size: 10pt; }"
    "QLabel#updateTitle { color: #e8eaed; font-size: 14pt; font-weight: 600; }"
    "QLabel#updateStatus { color: #46e6b7; font-size: 12pt; font-weight: 600; }"
    "QLabel[role=\"name\"] { color: #e8eaed; font-size: 11pt; font-weight: 600; }"
    "QLabel[role=\"info\"] { color: #9aa3b2; font-size: 10pt; }"
    "QPushButton { background: #2c313a; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 7px 16px; font-size: 10pt; }"
    "QPushButton:hover { border-color: #46e6b7; }"
    "QPushButton:disabled { color: #5c6370; border-color: #2c313a; }"
    "QPushButton[accent=\"true\"] { background: #46e6b7; color: #1b1d23; border: none;"
    "  font-weight: 600; }"
    "QPushButton[accent=\"true\"]:hover { background: #6aeec8; }"
    "QPushButton[accent=\"true\"]:disabled { background: #2c313a; color: #5c6370; }"
    "QCheckBox { color: #c9ced8; font-size: 10pt; spacing: 8px; }"
    "QCheckBox::indicator { width: 16px; height: 16px; border: 1px solid #4b5160;"
    "  border-radius: 4px; background: #1b1d23; }"
    "QCheckBox::indicator:checked { background: #46e6b7; border-color: #46e6b7; }"
    "QProgressBar { background: #1b1d23; border: 1px solid #3a3f4b; border-radius: 5px;"
    "  color: #e8eaed; font-size: 9pt; text-align: center; max-height: 14px; }"
    "QProgressBar::chunk { background: #46e6b7; border-radius: 4px; }";

bool zh(int langType)
{
    return langType == 0;
}

} // namespace

// Defined here rather than in the state's own file: the state needs no
// widget, the page does.
void overallVariate::initialization()
{
    if (m_page)
        return;
    auto *page = new onlineUpdate(this);
    m_page = page;
    // The owner deletes the page before the state; should it not, the page
    // (and with it the downloader's thread) still goes with the state.
    connect(this, &QObject::destroyed, page, [page] { delete page; });
    const auto queued = Qt::QueuedConnection;
    connect(this, &overallVariate::DeviceOfflineSignal, page, &onlineUpdate::DeviceOfflineSlot,
            queued);
    connect(this, &overallVariate::LumoryUpdateSignal, page, &onlineUpdate::LumoryWidgetShow,
            queued);
    connect(this, &overallVariate::FirmwareUpdateSignal, page, &onlineUpdate::FirmeareWidgetShow,
            queued);
    connect(this, &overallVariate::setLumoryUpdateInfoSignal, page,
            &onlineUpdate::setLumoryUpdateInfoSlot, queued);
    connect(this, &overallVariate::setFirmwareUpdateInfoSignal, page,
            &onlineUpdate::setFirmwareUpdateInfoSlot, queued);
    connect(this, &overallVariate::downloadProgressSignal, page, &onlineUpdate::setDownloadProgress,
            queued);
    connect(this, &overallVariate::downloadNumberSignal, page, &onlineUpdate::setDownloadNumber,
            queued);
    connect(this, &overallVariate::showPageSignal, page, &onlineUpdate::showPage, queued);
    connect(this, &overallVariate::closePageSignal, page, &QWidget::hide, queued);
}

onlineUpdate::onlineUpdate(overallVariate *state, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint),
      m_state(state)
{
    setObjectName(QStringLiteral("onlineUpdate"));
    setWindowModality(Qt::ApplicationModal);
    setAttribute(Qt::WA_StyledBackground);
    m_langType = state ? state->langType() : 1;
    setupUi();

    m_tipTimer = new QTimer(this);
    m_tipTimer->setObjectName(QStringLiteral("updateTipTimer"));
    m_tipTimer->setInterval(kTipIntervalMs);
    connect(m_tipTimer, &QTimer::timeout, this, &onlineUpdate::UpdateTipSlot);

    // The automatic check preference; unreadable means on.
    bool autoOn = true;
    AutoUpdateFile::read(AutoUpdateFile::defaultPath(), &autoOn);
    m_autoCheck->setChecked(autoOn);
    if (state)
        state->setAutoUpdate(autoOn);
    connect(m_autoCheck, &QCheckBox::stateChanged, this,
            &onlineUpdate::on_checkBox_AutoCheckUpdate_stateChanged);
    connect(m_checkButton, &QPushButton::clicked, this,
            &onlineUpdate::on_pushButton_checkUpdate_clicked);
    connect(m_lumoryButton, &QPushButton::clicked, this,
            &onlineUpdate::on_pushButton_LumoryUpdate_clicked);
    connect(m_firmwareButton, &QPushButton::clicked, this,
            &onlineUpdate::on_pushButton_FirmwareUpdate_clicked);

    SetLanguage(m_langType);
    applyConfigured();

    if (!state)
        return;
    const auto queued = Qt::QueuedConnection;
    connect(state, &overallVariate::threadBusySignal, this, &onlineUpdate::threadBusySignalSolt,
            queued);
    connect(state, &overallVariate::checkUpdateSignal, this, &onlineUpdate::checkUpdateSlot,
            queued);
    connect(state, &overallVariate::checkUpdateSignalFirmware, this,
            &onlineUpdate::checkFirmwareUpdateSlot, queued);
    connect(state, &overallVariate::ErrorInfoSignal, this, &onlineUpdate::ErrorInfoSlot, queued);

    // The downloader lives on the worker thread and is reached only through
    // queued signals of the state.
    m_downloader = new DownloadFile(state, AppPaths::downloadDir());
    m_downloader->moveToThread(&m_thread);
    connect(&m_thread, &QThread::finished, m_downloader.data(), &QObject::deleteLater);
    DownloadFile *downloader = m_downloader.data();
    connect(state, &overallVariate::checkUpdateDownloadSignal, downloader,
            &DownloadFile::checkUpdateSlot, queued);
    connect(state, &overallVariate::checkFirmwareUpdateSignal, downloader,
            &DownloadFile::checkFirmwareUpdateSlot, queued);
    connect(state, &overallVariate::dowmloadLumoryUpdateFileSignal, downloader,
            &DownloadFile::dowmloadLumoryUpdateFileSlot, queued);
    connect(state, &overallVariate::dowmloadFirmwareUpdateFileSignal, downloader,
            &DownloadFile::dowmloadFirmwareUpdateFileSlot, queued);
    connect(state, &overallVariate::unModeFirmwareSignal, downloader,
            &DownloadFile::unModeFirmwareSlot, queued);
    m_thread.setObjectName(QStringLiteral("onlineUpdate"));
    m_thread.start(QThread::InheritPriority);
}

onlineUpdate::~onlineUpdate()
{
    // A time query or transfer in progress sees the interruption and ends;
    // the downloader is deleted on its own thread once the loop has quit.
    m_thread.requestInterruption();
    m_thread.quit();
    m_thread.wait();
    delete m_downloader.data();
}

void onlineUpdate::setupUi()
{
    setStyleSheet(QLatin1String(kPageStyle));
    setFixedSize(kPageWidth, kMinPageHeight);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(12);

    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("updateTitle"));
    layout->addWidget(m_title);

    m_status = new QLabel(QStringLiteral(" "), this);
    m_status->setObjectName(QStringLiteral("updateStatus"));
    m_status->setMinimumHeight(28);
    layout->addWidget(m_status);

    // One row per thing that can be upgraded: name, description, button, bar.
    auto makeRow = [this](const QString &name, QLabel **title, QLabel **info, QPushButton **button,
                          QProgressBar **bar) {
        auto *row = new QFrame(this);
        row->setObjectName(name);
        row->setProperty("card", true);
        auto *grid = new QGridLayout(row);
        grid->setContentsMargins(16, 12, 16, 12);
        grid->setHorizontalSpacing(16);
        grid->setVerticalSpacing(6);
        *title = new QLabel(row);
        (*title)->setProperty("role", QStringLiteral("name"));
        *info = new QLabel(row);
        (*info)->setObjectName(name + QStringLiteral("Info"));
        (*info)->setProperty("role", QStringLiteral("info"));
        (*info)->setWordWrap(true);
        (*info)->setTextFormat(Qt::PlainText);
        (*info)->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        *button = new QPushButton(row);
        (*button)->setObjectName(name + QStringLiteral("Button"));
        (*button)->setProperty("accent", true);
        (*button)->setCursor(Qt::PointingHandCursor);
        *bar = new QProgressBar(row);
        (*bar)->setObjectName(name + QStringLiteral("Bar"));
        (*bar)->setFormat(QStringLiteral("%v / %m"));
        (*bar)->hide();
        grid->addWidget(*title, 0, 0);
        grid->addWidget(*info, 1, 0);
        grid->addWidget(*button, 0, 1, 2, 1, Qt::AlignVCenter);
        grid->addWidget(*bar, 2, 0, 1, 2);
        grid->setColumnStretch(0, 1);
        row->hide();
        return row;
    };
    // Rows hidden take no room: with the program row hidden the firmware
    // row stands where the program row would.
    m_lumoryRow = makeRow(QStringLiteral("lumoryRow"), &m_lumoryName, &m_lumoryInfo,
                          &m_lumoryButton, &m_lumoryBar);
    m_firmwareRow = makeRow(QStringLiteral("firmwareRow"), &m_firmwareName, &m_firmwareInfo,
                            &m_firmwareButton, &m_firmwareBar);
    layout->addWidget(m_lumoryRow);
    layout->addWidget(m_firmwareRow);
    layout->addStretch(1);

    auto *bottom = new QHBoxLayout();
    bottom->setSpacing(12);
    m_autoCheck = new QCheckBox(this);
    m_autoCheck->setObjectName(QStringLiteral("autoCheckUpdate"));
    m_autoCheck->setCursor(Qt::PointingHandCursor);
    bottom->addWidget(m_autoCheck);
    bottom->addStretch(1);
    m_checkButton = new QPushButton(this);
    m_checkButton->setObjectName(QStringLiteral("checkUpdate"));
    m_checkButton->setCursor(Qt::PointingHandCursor);
    bottom->addWidget(m_checkButton);
    layout->addLayout(bottom);
}

QString onlineUpdate::waitingText(int langType, int dots)
{
    const QString dotText(qBound(1, dots, 3), QChar(0x00B7));
    return (zh(langType) ? QStringLiteral("正在检查新版本，请稍后")
                         : QStringLiteral("Check new version,Please wait")) +
           dotText;
}

QString onlineUpdate::foundText(int langType)
{
    return zh(langType) ? QStringLiteral("发现新版本！") : QStringLiteral("Discover new version!");
}

QString onlineUpdate::latestText(int langType)
{
    return zh(langType) ? QStringLiteral("当前已是最新版本！")
                        : QStringLiteral("Current is latest version!");
}

QString onlineUpdate::failedText(int langType)
{
    return zh(langType) ? QStringLiteral("升级失败，请稍后重试！")
                        : QStringLiteral("Update failed, Please later retry!");
}

QString onlineUpdate::notConfiguredText(int langType)
{
    return zh(langType) ? QStringLiteral("未配置更新服务器。")
                        : QStringLiteral("No update server is configured.");
}

void onlineUpdate::SetLanguage(int langType)
{
    m_langType = langType;
    const bool z = zh(langType);
    setWindowTitle(z ? QStringLiteral("在线升级") : QStringLiteral("Online Upgrade"));
    m_title->setText(windowTitle());
    m_autoCheck->setText(z ? QStringLiteral("自动检查更新") : QStringLiteral("Auto Check Update"));
    m_checkButton->setText(z ? QStringLiteral("检查更新") : QStringLiteral("Check Update"));
    const QString upgrade = z ? QStringLiteral("立即升级") : QStringLiteral("Upgrade");
    m_lumoryButton->setText(upgrade);
    m_firmwareButton->setText(upgrade);
    m_lumoryName->setText(QStringLiteral("Lumory"));
    m_firmwareName->setText(z ? QStringLiteral("键盘固件") : QStringLiteral("Keyboard firmware"));
    setStatus(m_statusKind);
}

void onlineUpdate::setStatus(Status status)
{
    m_statusKind = status;
    switch (status) {
    case Status::Blank:
        m_status->setText(QStringLiteral(" "));
        break;
    case Status::Waiting:
        m_status->setText(waitingText(m_langType, m_tipDots));
        break;
    case Status::Found:
        m_status->setText(foundText(m_langType));
        break;
    case Status::Latest:
        m_status->setText(latestText(m_langType));
        break;
    case Status::Failed:
        m_status->setText(failedText(m_langType));
        break;
    case Status::NotConfigured:
        m_status->setText(notConfiguredText(m_langType));
        break;
    }
}

bool onlineUpdate::configured() const
{
    return m_state && m_state->config().isConfigured();
}

void onlineUpdate::applyConfigured()
{
    if (configured()) {
        if (m_statusKind == Status::NotConfigured)
            setStatus(Status::Blank);
        if (!m_state->getBuay() && !m_tipTimer->isActive())
            m_checkButton->setEnabled(true);
        return;
    }
    m_checkButton->setEnabled(false);
    setStatus(Status::NotConfigured);
}

void onlineUpdate::setCheckButtonEnabled(bool enabled)
{
    m_checkButton->setEnabled(enabled && configured());
}

void onlineUpdate::showEvent(QShowEvent *event)
{
    applyConfigured();
    QWidget::showEvent(event);
}

bool onlineUpdate::event(QEvent *event)
{
    const bool handled = QWidget::event(event);
    if (event->type() == QEvent::LayoutRequest)
        fitHeight();
    return handled;
}

void onlineUpdate::fitHeight()
{
    QLayout *box = layout();
    box->activate();
    const int height = box->hasHeightForWidth() ? box->totalHeightForWidth(kPageWidth)
                                                : box->totalSizeHint().height();
    setFixedHeight(qMax(kMinPageHeight, height));
}

void onlineUpdate::centre()
{
    // Over the main window when it is in sight, else in the middle of the screen.
    QRect area;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (window != this && window->isVisible() && qobject_cast<QMainWindow *>(window))
            area = window->frameGeometry();
    }
    if (area.isEmpty()) {
        const QScreen *screen = QGuiApplication::primaryScreen();
        if (!screen)
            return;
        area = screen->availableGeometry();
    }
    QRect frame = frameGeometry();
    frame.moveCenter(area.center());
    move(frame.topLeft());
}

void onlineUpdate::showPage()
{
    if (isHidden()) {
        fitHeight();
        centre();
    }
    setWindowState((windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    show();
    raise();
    activateWindow();
}

void onlineUpdate::checkUpdateSlot()
{
    if (!configured()) {
        applyConfigured();
        return;
    }
    if (m_state->getBuay())
        return;
    // Bars of an earlier download have nothing to say about this check.
    m_lumoryBar->hide();
    m_firmwareBar->hide();
    UpdateTipTimerStart();
    m_state->checkUpdateDownload();
}

void onlineUpdate::checkFirmwareUpdateSlot()
{
    if (!configured() || m_state->getBuay())
        return;
    m_firmwareBar->hide();
    UpdateTipTimerStart();
    m_state->checkFirmwareUpdate();
}

void onlineUpdate::LumoryWidgetShow(bool found)
{
    const bool online = m_state && m_state->getOnlinState();
    if (!online) {
        UpdateTipTimerStop();
        setCheckButtonEnabled(true);
    }
    if (found) {
        setStatus(Status::Found);
        m_lumoryRow->show();
        showPage();
        if (online)
            return; // the firmware result follows and settles the page
    } else {
        if (!online)
            setStatus(Status::Latest);
        m_lumoryRow->hide();
    }
    m_lumoryButton->setEnabled(found);
}

void onlineUpdate::FirmeareWidgetShow(bool found)
{
    UpdateTipTimerStop();
    setCheckButtonEnabled(true);
    m_lumoryButton->setEnabled(true);
    if (found) {
        setStatus(Status::Found);
        m_firmwareRow->show();
        showPage();
    } else {
        setStatus(m_lumoryRow->isHidden() ? Status::Latest : Status::Found);
        m_firmwareRow->hide();
    }
    m_firmwareButton->setEnabled(found);
}

void onlineUpdate::setLumoryUpdateInfoSlot(const QString &text)
{
    m_lumoryInfo->setText(text);
}

void onlineUpdate::setFirmwareUpdateInfoSlot(const QString &text)
{
    m_firmwareInfo->setText(text);
}

QProgressBar *onlineUpdate::activeBar() const
{
    switch (m_active) {
    case Download::Lumory:
        return m_lumoryBar;
    case Download::Firmware:
        return m_firmwareBar;
    case Download::None:
        break;
    }
    return nullptr;
}

// The file count is announced once the file list of the new version is
// known (the downloader's modes 2 and 5); the index reports before it belong
// to the version and URL files and move no bar. Both arrive through the
// same queue, in the order the downloader sent them, so the page follows
// the downloader's mode without reading it across the threads.
void onlineUpdate::setDownloadNumber(int fileCount)
{
    m_active = m_requested;
    QProgressBar *bar = activeBar();
    if (!bar)
        return;
    qDebug() << (m_active == Download::Lumory ? "setMaxValuelumory=" : "setMaxValueff=")
             << fileCount;
    bar->setRange(0, qMax(fileCount, 1));
    bar->setValue(0);
    bar->show();
}

void onlineUpdate::setDownloadProgress(int fileIndex)
{
    QProgressBar *bar = activeBar();
    if (!bar)
        return;
    qDebug() << (m_active == Download::Lumory ? "setValuelumory=" : "setValueff=") << fileIndex;
    bar->setValue(qBound(bar->minimum(), fileIndex, bar->maximum()));
}

void onlineUpdate::threadBusySignalSolt(bool busy)
{
    qDebug() << "threadBusySignalSolt=" << busy;
    m_lumoryButton->setEnabled(!busy);
    m_firmwareButton->setEnabled(!busy);
    setCheckButtonEnabled(!busy);
    if (busy)
        return;
    // The job is over: whatever it reported has arrived before this.
    m_active = Download::None;
    if (m_tipTimer->isActive()) {
        // A check that ended without a result for the page (the keyboard
        // came or went meanwhile) must not leave the page waiting.
        UpdateTipTimerStop();
        const bool anyRow = !m_lumoryRow->isHidden() || !m_firmwareRow->isHidden();
        setStatus(anyRow ? Status::Found : Status::Latest);
    }
}

void onlineUpdate::ErrorInfoSlot(const QString &message)
{
    UpdateTipTimerStop();
    setStatus(Status::Failed);
    qDebug().noquote() << "下载出错了" << message;
    setCheckButtonEnabled(true);
    m_lumoryBar->hide();
    m_firmwareBar->hide();
    m_active = Download::None;
}

void onlineUpdate::DeviceOfflineSlot()
{
    m_firmwareRow->hide();
    if (m_lumoryRow->isHidden())
        setStatus(Status::Blank);
}

void onlineUpdate::UpdateTipTimerStart()
{
    m_tipDots = 1;
    setStatus(Status::Waiting);
    m_tipTimer->start();
}

void onlineUpdate::UpdateTipTimerStop()
{
    m_tipTimer->stop();
}

void onlineUpdate::UpdateTipSlot()
{
    m_tipDots = m_tipCount + 1;
    setStatus(Status::Waiting);
    m_tipCount = (m_tipCount + 1) % 3;
}

void onlineUpdate::on_pushButton_checkUpdate_clicked()
{
    m_checkButton->setEnabled(false);
    checkUpdateSlot();
    // Nothing was started (no server, or a job still runs): the busy state
    // or the result enables the button again; without a server it stays off.
    if (!configured())
        applyConfigured();
}

void onlineUpdate::on_pushButton_LumoryUpdate_clicked()
{
    if (!m_state)
        return;
    // An installed copy is replaced by the system's package tools, not by a
    // user who cannot write its folder; the firmware download still works.
    if (!AppPaths::isAppDirWritable()) {
        const bool chinese = zh(m_langType);
        const QString folder = QDir::toNativeSeparators(AppPaths::appDir());
        Dialogs::warning(
            this, chinese ? QStringLiteral("在线升级") : QStringLiteral("Online Upgrade"),
            chinese
                ? QStringLiteral(
                      "程序文件夹 %1 不可写，无法在此更新 Lumory。请用安装它的方式更新。")
                      .arg(folder)
                : QStringLiteral("The program folder %1 is not writable, so Lumory cannot update "
                                 "itself here. Update it the way it was installed.")
                      .arg(folder));
        return;
    }
    m_lumoryBar->setValue(0);
    m_lumoryBar->show();
    m_lumoryButton->setEnabled(false);
    m_requested = Download::Lumory;
    m_state->dowmloadLumoryUpdateFile();
}

void onlineUpdate::on_pushButton_FirmwareUpdate_clicked()
{
    if (!m_state)
        return;
    m_firmwareBar->setValue(0);
    m_firmwareBar->show();
    m_firmwareButton->setEnabled(false);
    m_requested = Download::Firmware;
    m_state->dowmloadFirmwareUpdateFile();
}

void onlineUpdate::on_checkBox_AutoCheckUpdate_stateChanged(int state)
{
    QString error;
    if (!AutoUpdateFile::write(AutoUpdateFile::defaultPath(), state, &error))
        qWarning().noquote() << "AutoUpdate.xml could not be written:" << error;
    if (m_state)
        m_state->setAutoUpdate(state != 0);
}

void onlineUpdate::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Escape) {
        hide();
        return;
    }
    QWidget::keyPressEvent(event);
}

#include "setting/profileflow.h"

#include "device/device.h"
#include "main/devicesession.h"
#include "widget/data.h"
#include "widget/dialogs.h"

#include <QDate>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// How long a run is given to stop by itself at the next exchange when the
// keyboard closes; after that its exchanges are released.
constexpr int kStopWaitMs = 3000;
// Parts listed by name in a result; the rest are counted.
constexpr int kListedParts = 12;

const char kProgressStyle[] =
    "ProfileProgress { background: #1b1d23; border: 1px solid #3a3f4b; }"
    "QLabel { color: #c9ced8; background: transparent; font-size: 10pt; }"
    "QLabel#profileTitle { color: #e8eaed; font-size: 12pt; font-weight: 600; }"
    "QProgressBar { background: #22252d; border: 1px solid #3a3f4b; border-radius: 5px;"
    "  color: #e8eaed; font-size: 9pt; text-align: center; min-height: 16px; }"
    "QProgressBar::chunk { background: #46e6b7; border-radius: 4px; }"
    "QPushButton { background: #2c313a; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 6px 16px; min-width: 64px; font-size: 10pt; }"
    "QPushButton:hover, QPushButton:focus { border-color: #46e6b7; color: #ffffff; }"
    "QPushButton:disabled { color: #5c6370; border-color: #2c313a; }";

QString fileName(const QString &path)
{
    return QFileInfo(path).fileName();
}

// The board's name as the settings page shows it (the product name block
// without its first byte), for the default file name.
QString boardName(const Device *device)
{
    const QString shown = Data::productNameString(device->productNameBlock().mid(1)).trimmed();
    return shown.isEmpty() ? Data::productNameString(device->productNameBlock()) : shown;
}

} // namespace

// ---------------------------------------------------------------------------
// ProfileProgress
// ---------------------------------------------------------------------------

ProfileProgress::ProfileProgress(QWidget *parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("profileProgress"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QLatin1String(kProgressStyle));
    setWindowModality(Qt::ApplicationModal);
    setMinimumWidth(420);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 18);
    layout->setSpacing(12);
    m_title = new QLabel(this);
    m_title->setObjectName(QStringLiteral("profileTitle"));
    layout->addWidget(m_title);
    m_stage = new QLabel(this);
    m_stage->setWordWrap(true);
    layout->addWidget(m_stage);
    m_bar = new QProgressBar(this);
    m_bar->setRange(0, 0); // busy until the first report says how much there is
    layout->addWidget(m_bar);
    auto *row = new QHBoxLayout();
    row->addStretch(1);
    m_cancel = new QPushButton(this);
    m_cancel->setObjectName(QStringLiteral("profileCancel"));
    row->addWidget(m_cancel);
    layout->addLayout(row);
    connect(m_cancel, &QPushButton::clicked, this, &ProfileProgress::cancelRequested);
}

void ProfileProgress::setTitle(const QString &title)
{
    setWindowTitle(title);
    m_title->setText(title);
}

void ProfileProgress::setStage(const QString &stage)
{
    m_stage->setText(stage);
}

void ProfileProgress::setRange(int done, int total)
{
    if (total <= 0)
        return;
    m_bar->setRange(0, total);
    m_bar->setValue(qBound(0, done, total));
}

void ProfileProgress::setStopping(const QString &text)
{
    m_cancel->setEnabled(false);
    m_cancel->setText(text);
}

void ProfileProgress::setCancelText(const QString &text)
{
    m_cancel->setText(text);
}

void ProfileProgress::reject()
{
    // The box closes when the run has stopped, not before.
    if (m_cancel->isEnabled())
        Q_EMIT cancelRequested();
}

// ---------------------------------------------------------------------------
// ProfileFlow
// ---------------------------------------------------------------------------

ProfileFlow::ProfileFlow(DeviceSession *session, QWidget *dialogParent, QObject *parent)
    : QObject(parent), m_session(session), m_dialogParent(dialogParent)
{
    // Before the session deletes the Device, a run on it stops.
    if (session)
        connect(session, &DeviceSession::deviceClosing, this, &ProfileFlow::keyboardClosing);
}

ProfileFlow::~ProfileFlow()
{
    if (m_task) {
        m_task->cancel();
        if (!m_task->wait(kStopWaitMs) && m_taskDevice)
            m_taskDevice->abortExchanges();
        m_task->wait();
        delete m_task;
        m_task = nullptr;
    }
    delete m_progress.data();
}

QString ProfileFlow::backupText(int langType)
{
    return langType == 0 ? QStringLiteral("备份键盘…") : QStringLiteral("Back up keyboard…");
}

QString ProfileFlow::restoreText(int langType)
{
    return langType == 0 ? QStringLiteral("还原键盘…") : QStringLiteral("Restore keyboard…");
}

QString ProfileFlow::text(const char *zh, const char *en) const
{
    return QString::fromUtf8(m_langType == 0 ? zh : en);
}

QString ProfileFlow::documentsDir() const
{
    if (!m_documentsDir.isEmpty())
        return m_documentsDir;
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return documents.isEmpty() ? QDir::homePath() : documents;
}

int ProfileFlow::message(QMessageBox::Icon icon, const QString &title,
                         const QStringList &paragraphs, const QStringList &buttons)
{
    // Rich text, every part escaped: file names and key legends come from
    // outside and must show as they are.
    QString body;
    for (const QString &paragraph : paragraphs) {
        if (!body.isEmpty())
            body += QStringLiteral("<br><br>");
        body += paragraph.toHtmlEscaped().replace(QLatin1Char('\n'), QStringLiteral("<br>"));
    }
    Dialogs::MessageRequest request;
    request.icon = icon;
    request.title = title;
    request.text = QStringLiteral("<p>") + body + QStringLiteral("</p>");
    if (buttons.isEmpty()) {
        request.buttons = QMessageBox::Ok;
    } else {
        request.customButtons = buttons;
        request.defaultCustomButton = buttons.size() - 1;
    }
    return Dialogs::message(m_dialogParent, request);
}

Device *ProfileFlow::loadedKeyboard(bool tell)
{
    Device *device = m_session && m_session->isLoaded() && !m_session->isShutDown()
                         ? m_session->device()
                         : nullptr;
    if (!device && tell) {
        const QPointer<ProfileFlow> self(this);
        m_active = true;
        message(QMessageBox::Information, text("备份与还原", "Back-up and restore"),
                {text("没有连接键盘。", "No keyboard is connected.")});
        if (self && !Dialogs::isReleased(this))
            done(false);
    }
    return device;
}

bool ProfileFlow::stillCurrent(const QPointer<Device> &device) const
{
    return !Dialogs::isReleased(this) && device && m_session && !m_session->isShutDown() &&
           m_session->isLoaded() && m_session->device() == device.data();
}

void ProfileFlow::done(bool ok)
{
    m_active = false;
    Q_EMIT finished(ok);
}

// ---- running a task ---------------------------------------------------------

void ProfileFlow::startTask(Stage stage, ProfileTask *task, Device *device)
{
    m_stage = stage;
    m_task = task;
    m_taskDevice = device;
    // Queued from the worker; the task is the context, so a result that
    // arrives after the task was stopped and deleted is dropped with it.
    connect(task, &ProfileTask::finished, task, [this, task] { taskFinished(task); });

    if (!m_progress) {
        m_progress = new ProfileProgress(m_dialogParent);
        connect(m_progress, &ProfileProgress::cancelRequested, this, &ProfileFlow::cancel);
    }
    const QString titles[] = {
        text("正在备份键盘", "Backing up the keyboard"),
        text("正在检查配置文件", "Checking the profile"),
        text("正在还原键盘", "Restoring the keyboard"),
    };
    m_progress->setTitle(titles[int(stage)]);
    m_progress->setStage(text("正在读取键盘……", "Reading the keyboard…"));
    m_progress->setRange(0, 0);
    m_progress->bar()->setRange(0, 0);
    m_progress->cancelButton()->setEnabled(true);
    m_progress->setCancelText(text("取消", "Cancel"));
    const QPointer<ProfileProgress> box = m_progress;
    connect(task, &ProfileTask::progress, box, [box](int done, int total, const QString &stage) {
        if (!box)
            return;
        box->setRange(done, total);
        if (!stage.isEmpty())
            box->setStage(stage);
    });
    Q_EMIT busy(true);
    m_progress->show();
    task->start();
}

void ProfileFlow::cancel()
{
    if (!m_task)
        return;
    qInfo() << "profile: cancel requested";
    m_task->cancel();
    if (m_progress)
        m_progress->setStopping(text("正在停止……", "Stopping…"));
}

ProfileResult ProfileFlow::endTask()
{
    ProfileResult result;
    if (!m_task)
        return result;
    m_task->wait();
    result = m_task->result();
    delete m_task;
    m_task = nullptr;
    m_taskDevice.clear();
    if (m_progress)
        m_progress->hide();
    Q_EMIT busy(false);
    return result;
}

void ProfileFlow::taskFinished(ProfileTask *task)
{
    if (task != m_task)
        return;
    const Stage stage = m_stage;
    const RestorePlan plan = task->restorePlan();
    const QPointer<Device> device = m_taskDevice;
    const ProfileResult result = endTask();
    switch (stage) {
    case Stage::Backup:
        backupFinished(result);
        break;
    case Stage::Plan:
        planFinished(result, plan, device);
        break;
    case Stage::Restore:
        restoreFinished(result, device);
        break;
    }
}

void ProfileFlow::keyboardClosing()
{
    if (!m_task)
        return;
    qInfo() << "profile: the keyboard closes while a run lasts; stopping it";
    m_task->cancel();
    if (!m_task->wait(kStopWaitMs) && m_taskDevice)
        m_taskDevice->abortExchanges();
    const Stage stage = m_stage;
    const ProfileResult result = endTask();
    tellCutOff(stage, result);
}

void ProfileFlow::tellCutOff(Stage stage, const ProfileResult &result)
{
    // Not from inside the session's closing: once control is back in the loop.
    QTimer::singleShot(0, this, [this, stage, result] {
        if (Dialogs::isReleased(this))
            return;
        if (!m_session || m_session->isShutDown()) {
            qInfo().noquote() << "profile: stopped by exit;" << result.remaining.size()
                              << "parts not restored";
            done(false);
            return;
        }
        // It had finished just before: the usual result, nothing read again.
        if (result.ok() && stage == Stage::Backup) {
            backupFinished(result);
            return;
        }
        if (result.ok() && stage == Stage::Restore) {
            restoreFinished(result, nullptr);
            return;
        }
        const QString gone = text("键盘已断开。", "The keyboard went away.");
        QStringList paragraphs;
        QString title;
        switch (stage) {
        case Stage::Backup:
            title = text("备份键盘", "Back up keyboard");
            paragraphs << gone + text("没有写入备份文件。", " No back-up file was written.");
            break;
        case Stage::Plan:
            title = text("还原键盘", "Restore keyboard");
            paragraphs << gone + text("没有向键盘写入任何内容。",
                                      " Nothing was written to the keyboard.");
            break;
        case Stage::Restore:
            title = text("还原键盘", "Restore keyboard");
            paragraphs << gone << partsText(result)
                       << text("重新连接键盘后再次还原同一文件即可完成。",
                               "Plug it in again and restore the same file to complete it.");
            break;
        }
        const QPointer<ProfileFlow> self(this);
        message(QMessageBox::Warning, title, paragraphs);
        if (self && !Dialogs::isReleased(this))
            done(false);
    });
}

// ---- back-up ----------------------------------------------------------------

Device *ProfileFlow::begin()
{
    if (m_active)
        return nullptr;
    Device *device = loadedKeyboard(true);
    m_active = device != nullptr;
    return device;
}

QString ProfileFlow::askFile(const Dialogs::FileRequest &request, const QPointer<Device> &keyboard)
{
    const QPointer<ProfileFlow> self(this);
    const QString path = Dialogs::file(m_dialogParent, request);
    if (!self)
        return QString();
    if (path.isEmpty() || !stillCurrent(keyboard)) {
        if (!Dialogs::isReleased(this))
            done(false);
        return QString();
    }
    return path;
}

void ProfileFlow::backup()
{
    Device *device = begin();
    if (!device)
        return;
    const QPointer<Device> keyboard(device);
    Dialogs::FileRequest request;
    request.mode = Dialogs::FileMode::Save;
    request.caption = text("备份键盘", "Back up keyboard");
    request.directory =
        ProfileEngine::defaultBackupPath(documentsDir(), boardName(device), QDate::currentDate());
    request.filter = text("Lumory 配置文件 (*.lumory)", "Lumory profile (*.lumory)");
    QString path = askFile(request, keyboard);
    if (path.isEmpty())
        return;
    if (!path.endsWith(QLatin1String(ProfileFile::kSuffix), Qt::CaseInsensitive))
        path += QLatin1String(ProfileFile::kSuffix);
    startBackup(keyboard, path);
}

void ProfileFlow::quickBackup()
{
    Device *device = begin();
    if (!device)
        return;
    const QString dir = documentsDir();
    QDir().mkpath(dir);
    startBackup(device,
                ProfileEngine::defaultBackupPath(dir, boardName(device), QDate::currentDate()));
}

void ProfileFlow::startBackup(Device *device, const QString &path)
{
    qInfo().noquote() << "profile: backing up the keyboard to" << path;
    m_path = path;
    m_context = ProfileContext::forDevice(device, m_langType);
    startTask(Stage::Backup, ProfileTask::backup(device, m_context, path, this), device);
}

void ProfileFlow::backupFinished(const ProfileResult &result)
{
    const QPointer<ProfileFlow> self(this);
    const QString title = text("备份键盘", "Back up keyboard");
    switch (result.status) {
    case ProfileResult::Status::Done:
        qInfo().noquote() << "profile: backed up to" << m_path;
        message(QMessageBox::Information, title,
                {text("键盘已备份到：", "The keyboard was backed up to:") + QLatin1Char('\n') +
                 QDir::toNativeSeparators(m_path)});
        break;
    case ProfileResult::Status::Cancelled:
        message(QMessageBox::Information, title,
                {text("已取消备份，没有写入文件。",
                      "The back-up was cancelled; no file was written.")});
        break;
    case ProfileResult::Status::Refused:
    case ProfileResult::Status::Failed:
        qWarning().noquote() << "profile: back-up failed:" << result.message;
        message(QMessageBox::Warning, title,
                {text("无法备份键盘。", "The keyboard could not be backed up."), result.message});
        break;
    }
    if (self && !Dialogs::isReleased(this))
        done(result.ok());
}

// ---- restore ----------------------------------------------------------------

void ProfileFlow::restore()
{
    Device *device = begin();
    if (!device)
        return;
    const QPointer<Device> keyboard(device);
    Dialogs::FileRequest request;
    request.mode = Dialogs::FileMode::Open;
    request.caption = text("还原键盘", "Restore keyboard");
    request.directory = documentsDir();
    request.filter = text("Lumory 配置文件 (*.lumory);;所有文件 (*)",
                          "Lumory profile (*.lumory);;All files (*)");
    const QString path = askFile(request, keyboard);
    if (path.isEmpty())
        return;
    qInfo().noquote() << "profile: checking" << path;
    m_path = path;
    m_context = ProfileContext::forDevice(keyboard, m_langType);
    startTask(Stage::Plan, ProfileTask::plan(keyboard, m_context, path, this), keyboard);
}

void ProfileFlow::planFinished(const ProfileResult &result, const RestorePlan &plan,
                               const QPointer<Device> &device)
{
    const QPointer<ProfileFlow> self(this);
    const QString title = text("还原键盘", "Restore keyboard");
    const auto finish = [this, &self](bool ok) {
        if (self && !Dialogs::isReleased(this))
            done(ok);
    };
    switch (result.status) {
    case ProfileResult::Status::Done:
        break;
    case ProfileResult::Status::Cancelled:
        finish(false); // nothing was written; the user knows why
        return;
    case ProfileResult::Status::Refused:
        qWarning().noquote() << "profile: refused" << m_path << ":" << result.message;
        message(QMessageBox::Warning, title,
                {text("无法还原“%1”：", "“%1” cannot be restored:").arg(fileName(m_path)) +
                     QLatin1Char('\n') + result.message,
                 text("没有向键盘写入任何内容。", "Nothing was sent to the keyboard.")});
        finish(false);
        return;
    case ProfileResult::Status::Failed:
        qWarning().noquote() << "profile: reading the keyboard failed:" << result.message;
        message(QMessageBox::Warning, title,
                {text("无法读取键盘。", "The keyboard could not be read.") + QLatin1Char(' ') +
                     result.message,
                 text("没有向键盘写入任何内容。", "Nothing was written to the keyboard.")});
        finish(false);
        return;
    }

    const QPointer<Device> keyboard = device;
    if (plan.isEmpty()) {
        qInfo() << "profile: the keyboard already matches the profile";
        message(QMessageBox::Information, title, plan.summary(m_langType));
        finish(true);
        return;
    }

    QStringList lines;
    for (const QString &line : plan.summary(m_langType))
        lines << QStringLiteral("• ") + line;
    const int answer = message(
        QMessageBox::Question, title,
        {text("把“%1”还原到键盘？将改变以下内容：",
              "Restore “%1” to the keyboard? These parts change:")
             .arg(fileName(m_path)),
         lines.join(QLatin1Char('\n')),
         text("只写入不同的部分，写入后逐一读回核对。",
              "Only what differs is written, and everything written is read back to check it.")},
        {text("还原", "Restore"), text("取消", "Cancel")});
    if (!self || Dialogs::isReleased(this))
        return;
    if (answer != 0) {
        finish(false);
        return;
    }
    if (!stillCurrent(keyboard) || keyboard->deviceIdBytes() != plan.deviceId) {
        // Unplugged, switched or closed while the question was open.
        qInfo() << "profile: the keyboard went away before the restore; nothing written";
        if (m_session && !m_session->isShutDown()) {
            message(QMessageBox::Information, title,
                    {text("键盘已断开，没有写入任何内容。",
                          "The keyboard went away; nothing was written.")});
        }
        finish(false);
        return;
    }
    qInfo().noquote() << "profile: restoring" << m_path;
    startTask(Stage::Restore, ProfileTask::restore(keyboard, m_context, plan, this), keyboard);
}

QString ProfileFlow::partsText(const ProfileResult &result) const
{
    QStringList listed = result.remaining.mid(0, kListedParts);
    if (result.remaining.size() > kListedParts)
        listed << text("其余 %1 项", "%1 more").arg(result.remaining.size() - kListedParts);
    QString out =
        text("已还原并核对：%1 项。", "Restored and checked: %1 parts.").arg(result.written.size());
    if (!listed.isEmpty())
        out +=
            QLatin1Char('\n') + text("未还原：", "Not restored: ") + listed.join(text("、", ", "));
    return out;
}

void ProfileFlow::restoreFinished(const ProfileResult &result, const QPointer<Device> &device)
{
    const QPointer<ProfileFlow> self(this);
    const QString title = text("还原键盘", "Restore keyboard");
    // The keyboard stores something else now: every page is built again from it.
    if (stillCurrent(device))
        m_session->reloadDevice();

    switch (result.status) {
    case ProfileResult::Status::Done:
        qInfo().noquote() << "profile: restored" << result.written.size() << "parts from" << m_path;
        message(
            QMessageBox::Information, title,
            {text("已从“%1”还原键盘。", "The keyboard was restored from “%1”.")
                 .arg(fileName(m_path)),
             text("写入的 %1 项均已读回核对。", "All %1 parts written were read back and checked.")
                 .arg(result.written.size())});
        break;
    case ProfileResult::Status::Cancelled:
        qInfo() << "profile: restore cancelled," << result.remaining.size() << "parts left";
        message(
            QMessageBox::Information, title,
            {text("已取消还原。", "The restore was cancelled."), partsText(result),
             text("再次还原同一文件即可完成。", "Restore the same file again to complete it.")});
        break;
    case ProfileResult::Status::Refused:
    case ProfileResult::Status::Failed:
        qWarning().noquote() << "profile: restore failed:" << result.message;
        message(
            QMessageBox::Warning, title,
            {result.message, partsText(result),
             text("再次还原同一文件即可完成。", "Restore the same file again to complete it.")});
        break;
    }
    if (self && !Dialogs::isReleased(this))
        done(result.ok());
}

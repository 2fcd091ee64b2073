#include "setting/firmware.h"

#include "setting/firmwareplan.h"
#include "setting/schedule.h"
#include "widget/dialogs.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QVBoxLayout>

Firmware::Firmware(QWidget *parent) : QWidget(parent), m_tempFile(FirmwareTemp::defaultPath())
{
    setObjectName(QStringLiteral("firmwarePanel"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(24);
    auto *left = new QVBoxLayout();
    left->setSpacing(10);
    m_title = new QLabel(this);
    m_title->setProperty("role", QStringLiteral("title"));
    left->addWidget(m_title);
    m_hint = new QLabel(this);
    m_hint->setWordWrap(true);
    left->addWidget(m_hint);
    auto *row = new QHBoxLayout();
    m_path = new QLineEdit(this);
    m_path->setObjectName(QStringLiteral("firmwarePath"));
    row->addWidget(m_path, 1);
    m_choose = new QPushButton(QStringLiteral("…"), this);
    m_choose->setObjectName(QStringLiteral("firmwareChoose"));
    m_choose->setFixedWidth(44);
    row->addWidget(m_choose);
    left->addLayout(row);
    m_start = new QPushButton(this);
    m_start->setObjectName(QStringLiteral("firmwareStart"));
    m_backup = new QPushButton(this);
    m_backup->setObjectName(QStringLiteral("firmwareBackup"));
    auto *buttons = new QHBoxLayout();
    buttons->setSpacing(10);
    buttons->addWidget(m_start);
    buttons->addWidget(m_backup);
    buttons->addStretch(1);
    left->addLayout(buttons);
    left->addStretch(1);
    layout->addLayout(left, 1);
    m_schedule = new Schedule(this);
    m_schedule->setFixedSize(150, 150);
    layout->addWidget(m_schedule, 0, Qt::AlignVCenter);

    connect(m_choose, &QPushButton::clicked, this, &Firmware::openFileSlot);
    connect(m_start, &QPushButton::clicked, this, &Firmware::startUpdateSlot);
    connect(m_backup, &QPushButton::clicked, this, &Firmware::emitBackup);
    connect(m_path, &QLineEdit::textChanged, this, &Firmware::editingTextChangedSlot);
    setLanguage(m_langType);
    setButton(false);
}

void Firmware::setButton(bool enabled)
{
    m_choose->setEnabled(enabled);
    m_path->setEnabled(enabled);
    m_start->setEnabled(enabled && !m_path->text().isEmpty());
    m_backup->setEnabled(enabled);
}

void Firmware::setFirmwareUpdateValue(int percent)
{
    m_schedule->setRateOfProgress(percent);
}

void Firmware::markPath(bool ok)
{
    m_path->setStyleSheet(ok ? QStringLiteral("QLineEdit { color: rgb(175, 175, 175); }")
                             : QStringLiteral("QLineEdit { color: #FF0000; }"));
}

void Firmware::editingTextChangedSlot(const QString &text)
{
    markPath(!text.isEmpty());
    m_start->setEnabled(!text.isEmpty() && m_path->isEnabled());
}

void Firmware::readFilePathXml()
{
    FirmwareTemp::Paths paths;
    FirmwareTemp::read(m_tempFile, &paths);
    m_dirPath = paths.dirPath;
    m_path->setText(paths.filePath);
}

void Firmware::saveFilePathXml()
{
    QString error;
    if (!FirmwareTemp::write(m_tempFile, {m_path->text(), m_dirPath}, &error))
        qWarning().noquote() << "could not remember the firmware folder:" << error;
}

void Firmware::openFileSlot()
{
    Dialogs::FileRequest request;
    request.mode = Dialogs::FileMode::Open;
    request.caption = m_langType == 0 ? QStringLiteral("打开文件") : QStringLiteral("Open File");
    request.directory = m_dirPath.isEmpty() ? QDir::homePath() : m_dirPath;
    request.filter = QStringLiteral("Binary System File(*.bin)");
    const QPointer<Firmware> self(this);
    const QString file = Dialogs::file(this, request);
    if (!self || Dialogs::isReleased(this) || file.isEmpty())
        return;
    // The package is the folder holding the chosen image.
    const QFileInfo info(file);
    const QString dir = info.isDir() ? info.absoluteFilePath() : info.absolutePath();
    qDebug().noquote() << "directory=" << dir;
    m_dirPath = dir;
    m_path->setText(dir);
    saveFilePathXml();
}

void Firmware::startUpdateSlot()
{
    const QString path = m_path->text();
    if (path.isEmpty()) {
        qDebug().noquote() << "The path is " + path + "failed!";
        markPath(false);
        return;
    }
    if (!QFileInfo::exists(path)) {
        qDebug() << "file format error.";
        markPath(false);
        return;
    }
    setButton(false);
    Q_EMIT emitUpdateSure(path);
}

void Firmware::waitDfuOpenSlot(bool waiting)
{
    qDebug() << "Wait duf open slot. stop(false)/start(true) = " << waiting;
    m_schedule->setWaitStatus(waiting);
}

void Firmware::setLanguage(int langType)
{
    m_langType = langType;
    const bool zh = langType == 0;
    m_title->setText(zh ? QStringLiteral("固件更新") : QStringLiteral("Firmware update"));
    m_hint->setText(
        zh ? QStringLiteral("选择固件包中的任一 .bin 文件；将按顺序写入包内的全部映像。")
           : QStringLiteral("Choose any .bin file of a firmware package; every "
                            "image of the package is written in turn."));
    m_start->setText(zh ? QStringLiteral("开始更新") : QStringLiteral("Start update"));
    m_backup->setText(zh ? QStringLiteral("备份键盘…") : QStringLiteral("Back up keyboard…"));
    m_backup->setToolTip(zh ? QStringLiteral("更新前把键盘的全部设置保存到文档文件夹")
                            : QStringLiteral("Save everything the keyboard stores to your "
                                             "documents folder before updating"));
    m_choose->setToolTip(zh ? QStringLiteral("选择固件包") : QStringLiteral("Choose a package"));
    m_path->setPlaceholderText(zh ? QStringLiteral("固件包文件夹")
                                  : QStringLiteral("Firmware package folder"));
    m_schedule->setReadyText(zh ? QStringLiteral("更新") : QStringLiteral("UPDATE"));
    m_schedule->setWaitText(zh ? QStringLiteral("等待") : QStringLiteral("WAIT"));
}

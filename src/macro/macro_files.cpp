// The macro page's files (save, export, import) and recording on the keyboard.
#include "macro/macro.h"

#include "device/device.h"
#include "device/protocol.h"
#include "macro/macrocodec.h"
#include "macro/macrofile.h"
#include "macro/macroitem.h"
#include "macro/macrokeylayout.h"
#include "widget/dialogs.h"
#include "widget/staticdialog.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QToolButton>

// ---- Files -------------------------------------------------------------------

int Macro::saveItem(MacroItem *item, const QString &path, int id)
{
    QString error;
    if (!item || path.isEmpty() ||
        MacroFile::save(path, id, item->timeline()->dataKeys(), &error) !=
            MacroFile::SaveStatus::Saved) {
        qWarning().noquote() << "Save item error." << path << error;
        return -2;
    }
    return 0;
}

int Macro::saveMacroItem(MacroItem *item)
{
    if (!item)
        return -2;
    if (m_folder.isEmpty()) {
        // A keyboard the catalogue does not know has no data folder.
        if (!m_toldNoFolder) {
            m_toldNoFolder = true;
            Dialogs::information(
                this, QStringLiteral("Information"),
                m_langType == 0 ? QStringLiteral("这个键盘没有数据文件夹，它的宏只保存在键盘上。")
                                : QStringLiteral("This keyboard has no data folder: its "
                                                 "macros are kept only on the keyboard."));
        }
        return -1;
    }
    if (!MacroFile::ensureFolder(m_folder))
        return -2;
    const QString path = MacroFile::pathIn(m_folder, item->name(), item->id());
    if (saveItem(item, path, item->id()) != 0)
        return -2;
    qDebug().noquote() << "Save macro item: " << path;
    qDebug().noquote() << "Save item save finished. id=" << item->id() << item->name();
    item->setUnsaved(false);
    return 0;
}

int Macro::readItemXml(const QString &path)
{
    m_vDataKey.clear();
    return MacroFile::read(path, &m_vDataKey);
}

void Macro::exportActionSlot()
{
    MacroItem *item = selectedItem();
    if (!item || m_banned)
        return;
    const bool zh = m_langType == 0;
    Dialogs::FileRequest request;
    request.mode = Dialogs::FileMode::Save;
    request.caption = zh ? QStringLiteral("选择保存数据的目录")
                         : QStringLiteral("Choose to save the data directory");
    request.directory =
        QDir::homePath() + QLatin1Char('/') + MacroFile::fileNameFor(item->name(), item->id());
    request.filter = zh ? QStringLiteral("XML 文件(*.xml)") : QStringLiteral("XML File(*.xml)");
    const QPointer<Macro> self(this);
    QString path = Dialogs::file(this, request);
    if (!self || Dialogs::isReleased(this) || path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".xml");
    exportItemSlot(path);
}

void Macro::exportItemSlot(const QString &path)
{
    if (path.isEmpty())
        return;
    qDebug().noquote() << "export config: " << path;
    MacroItem *item = selectedItem();
    if (!item) {
        qDebug() << "get select item error is NULL, export file failed. return.";
        return;
    }
    if (saveItem(item, path, -1) != 0)
        warn(m_langType == 0 ? QStringLiteral("无法写入 %1。").arg(path)
                             : QStringLiteral("%1 could not be written.").arg(path));
}

void Macro::importActionSlot()
{
    if (m_banned || !m_device)
        return;
    const bool zh = m_langType == 0;
    Dialogs::FileRequest request;
    request.mode = Dialogs::FileMode::Open;
    request.caption =
        zh ? QStringLiteral("选择要导入的数据文件") : QStringLiteral("Select import data file");
    request.directory = QDir::homePath();
    request.filter = zh ? QStringLiteral("XML 文件(*.xml)") : QStringLiteral("XML File(*.xml)");
    const QPointer<Macro> self(this);
    const QString path = Dialogs::file(this, request);
    if (!self || Dialogs::isReleased(this) || path.isEmpty())
        return;
    importItemSlot(path);
}

void Macro::importItemSlot(const QString &path)
{
    if (path.isEmpty() || !m_device || m_banned)
        return;
    qDebug().noquote() << "import config: " << path;
    const bool zh = m_langType == 0;
    // The file is read and checked before a slot is taken.
    QVector<DataKey> events;
    MacroFile::ReadReport report;
    const int result = MacroFile::read(path, &events, &report);
    if (result == MacroFile::kCannotOpen) {
        qDebug() << "file format error.";
        warn(zh ? QStringLiteral("无法打开 %1。").arg(path)
                : QStringLiteral("%1 could not be opened.").arg(path));
        return;
    }
    if (result != MacroFile::kRead || events.isEmpty()) {
        const QString where = report.location();
        warn(zh ? QStringLiteral("%1 不是可导入的宏文件%2。")
                      .arg(path, where.isEmpty()
                                     ? QString()
                                     : QStringLiteral("（") + where + QStringLiteral("）"))
                : QStringLiteral("%1 is not a macro file that can be imported%2.")
                      .arg(path, where.isEmpty()
                                     ? QString()
                                     : QStringLiteral(" (") + where + QStringLiteral(")")));
        return;
    }
    const int frames = MacroCodec::framesNeeded(events);
    if (frames > MacroCodec::kMaxFrames) {
        warn(zh ? QStringLiteral("%1 需要 %2 帧，键盘最多保存 %3 帧。")
                      .arg(path)
                      .arg(frames)
                      .arg(MacroCodec::kMaxFrames)
                : QStringLiteral("%1 needs %2 frames; the keyboard holds at most %3.")
                      .arg(path)
                      .arg(frames)
                      .arg(MacroCodec::kMaxFrames));
        return;
    }
    if (!m_addButton->isEnabled()) {
        qDebug() << "import Item Slot failed. item add button false. return";
        return;
    }
    const int before = m_items.size();
    addItemSlot();
    if (m_items.size() == before)
        return;
    MacroItem *item = m_items.last();
    m_vDataKey = events;
    qDebug() << "read item data size is " << m_vDataKey.size();
    m_loadTarget = item;
    m_importing = true;
    setBanned(true);
    qDebug() << "start draw XML key timer....";
    m_drawIndex = 0;
    m_drawTimer->start();
}

// ---- Recording -----------------------------------------------------------------

void Macro::recorderItemDataSlot(bool on)
{
    if (!on) {
        endRecording(true);
        return;
    }
    if (m_recording)
        return;
    MacroItem *item = selectedItem();
    auto uncheck = [this] {
        const QSignalBlocker block(m_recordButton);
        m_recordButton->setChecked(false);
    };
    if (!item || !m_device || m_banned) {
        qDebug() << "DEBUG: Not select macro item. return.";
        uncheck();
        return;
    }
    if (!item->timeline()->dataKeys().isEmpty() || item->loadButton()->isVisibleTo(item)) {
        Dialogs::MessageRequest question;
        question.icon = QMessageBox::Warning;
        question.title = QStringLiteral("About recording message boxes");
        question.text = QStringLiteral("Yes: '") + item->name() +
                        QStringLiteral("' recordings of data;\nNo: canceling recording;");
        question.buttons = QMessageBox::Yes | QMessageBox::No;
        const QPointer<Macro> self(this);
        const QPointer<MacroItem> target(item);
        const int answer = Dialogs::message(this, question);
        if (!self || Dialogs::isReleased(this))
            return;
        if (answer != QMessageBox::Yes || !target || !m_device || target != selectedItem()) {
            qDebug() << "INFO: Cancel recording....";
            uncheck();
            return;
        }
        qDebug().noquote() << "INFO: 删除所有数据 item=" << item->name();
        qDebug() << "delete macro item, is " << item->timeline()->dataKeys().size();
        item->timeline()->clear();
        item->loadButton()->hide();
    }
    m_recording = true;
    setBanned(true);
    qDebug() << "INFO: start recorder;";
    m_live.reset();
    m_device->setRecordMacro(1);
    item->setUnsaved(true);
}

void Macro::endRecording(bool tellKeyboard)
{
    if (!m_recording)
        return;
    m_recording = false;
    setBanned(false);
    {
        const QSignalBlocker block(m_recordButton);
        m_recordButton->setChecked(false);
    }
    qDebug() << "INFO: stop recorder;";
    if (tellKeyboard && m_device)
        m_device->setRecordMacro(0);
    // Releases whose press was not recorded, and keys still held, go.
    if (MacroItem *item = selectedItem()) {
        item->timeline()->checkoutKeyDuad();
        showBulkDelay(item);
    }
    applyButtonRules();
}

void Macro::getRawData(const QByteArray &frame)
{
    if (!m_recording) {
        qDebug() << "recorded frame while not recording, dropped";
        return;
    }
    if (frame.size() < int(sizeof(mframe_t))) {
        qDebug() << "recorded frame of" << frame.size() << "bytes, dropped";
        return;
    }
    const QVector<DataKey> events =
        m_live.feed(reinterpret_cast<const uint8_t *>(frame.constData()), frame.size());
    MacroItem *item = selectedItem();
    for (const DataKey &k : events) {
        qDebug() << "createKey=" << k.status << k.delay << k.type << k.stype << k.code;
        if (!item) {
            qDebug() << "ERROR: Create key failed. Not select item.";
            continue;
        }
        item->timeline()->createKey(k.status, k.delay, k.code, k.type, k.stype, true);
    }
}

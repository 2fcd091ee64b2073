// The profile engine: the context of a run, reading a whole keyboard, the
// back-up, and the worker-thread task. Plan and restore are in
// profilerestore.cpp.

#include "device/profileengine.h"
#include "device/profileengine_p.h"

#include "device/device.h"
#include "device/usb.h"
#include "main/apppaths.h"
#include "widget/data.h"

#include <QDate>
#include <QDebug>
#include <QDir>
#include <QFileInfo>
#include <QMetaObject>

#include <algorithm>
#include <cstring>

using namespace ProfileDetail;

namespace {

// How long a board is given to answer the Bluetooth name: one without
// Bluetooth never answers, and waiting the full 2 s for that is not needed.
constexpr int kBluetoothProbeMs = 500;

int chunksOf(int entries, int chunk)
{
    return entries > 0 ? (entries + chunk - 1) / chunk : 0;
}

} // namespace

// ---------------------------------------------------------------------------
// Context
// ---------------------------------------------------------------------------

ProfileContext ProfileContext::forDevice(const Device *device, int langType)
{
    ProfileContext context;
    context.langType = langType;
    context.dataDir = AppPaths::dataDir();
    Data data;
    QVector<BoardInfo *> boards;
    data.parseConfigXML(&boards, QStringLiteral("config.xml"));
    context.family = ProfileFile::familyOf(data.vid(), data.pid());
    const BoardInfo *board = device ? Data::findBoard(boards, device->productNameBlock()) : nullptr;
    context.names = ProfileNames::fromConfig(board ? board->kf : QString());
    if (board)
        context.layout = profileLayoutFromFile(board->file);
    return context;
}

// ---------------------------------------------------------------------------
// Engine: common parts
// ---------------------------------------------------------------------------

ProfileEngine::ProfileEngine(Device *device, const ProfileContext &context)
    : m_device(device), m_context(context)
{
}

QString ProfileEngine::text(const char *zh, const char *en) const
{
    return m_context.langType == 0 ? QString::fromUtf8(zh) : QString::fromUtf8(en);
}

void ProfileEngine::step(int exchanges, const QString &stage)
{
    m_done = std::min(m_total, m_done + exchanges);
    if (m_progress)
        m_progress(m_done, m_total, stage);
}

ProfileResult ProfileEngine::failure(uint32_t status, const QString &during) const
{
    ProfileResult r;
    if (status == kCancelled) {
        r.status = ProfileResult::Status::Cancelled;
        r.message = text("已取消。", "Cancelled.");
        return r;
    }
    r.status = ProfileResult::Status::Failed;
    const bool gone = !m_device || !m_device->usb() || !m_device->usb()->isLinkUp();
    if (gone || status == WK_ERROR_TIMEOUT || status == WK_ERROR_WRITE)
        r.message = (m_context.langType == 0 ? QStringLiteral("%1时键盘没有响应（已拔出？）。")
                                             : QStringLiteral("The keyboard stopped answering "
                                                              "(unplugged?) while %1."))
                        .arg(during);
    else if (status == WK_ERROR_VERIFY)
        r.message = (m_context.langType == 0 ? QStringLiteral("%1时，读回的内容与写入的不同。")
                                             : QStringLiteral("The keyboard did not keep what "
                                                              "was written while %1."))
                        .arg(during);
    else
        r.message = (m_context.langType == 0 ? QStringLiteral("%1时键盘报告错误 0x%2。")
                                             : QStringLiteral("The keyboard reported error 0x%2 "
                                                              "while %1."))
                        .arg(during)
                        .arg(status, 0, 16);
    return r;
}

QString ProfileEngine::hostFilePath(const QByteArray &deviceId) const
{
    if (m_context.dataDir.isEmpty() || deviceId.size() != 12)
        return QString();
    return m_context.dataDir + QLatin1Char('/') + DeviceFiles::deviceDirName(deviceId) +
           QStringLiteral("/shortcuts.xml");
}

QString ProfileEngine::defaultBackupPath(const QString &documentsDir, const QString &board,
                                         const QDate &date)
{
    // A board name is the keyboard's own text: keep only what is safe in a file name.
    QString name;
    for (const QChar c : board.trimmed()) {
        if (c.isLetterOrNumber() || c == QLatin1Char(' ') || c == QLatin1Char('-') ||
            c == QLatin1Char('_'))
            name += c;
    }
    if (name.trimmed().isEmpty())
        name = QStringLiteral("Keyboard");
    const QString stem =
        QDir(documentsDir).filePath(name.trimmed() + QLatin1Char(' ') + date.toString(Qt::ISODate));
    QString path = stem + QLatin1String(ProfileFile::kSuffix);
    for (int n = 2; QFileInfo::exists(path); ++n)
        path = stem + QStringLiteral(" %1").arg(n) + QLatin1String(ProfileFile::kSuffix);
    return path;
}

// ---------------------------------------------------------------------------
// Reading the keyboard
// ---------------------------------------------------------------------------

uint32_t ProfileEngine::ensureInfo()
{
    Device *d = m_device;
    if (d->kcmCount() >= 0)
        return WK_SUCCESS; // loaded: the counts are known
    // Not loaded yet (tests, tools): the information queries, in load order.
    const std::function<uint32_t()> steps[] = {
        [d] { return d->getDeviceInfo(); },    [d] { return d->getDeviceId(); },
        [d] { return d->getDeviceVersion(); }, [d] { return d->getKCInfo(); },
        [d] { return d->getCurKCMID(); },      [d] { return d->getKRInfo(); },
        [d] { return d->getCurKRMID(); },      [d] { return d->getKMInfo(); },
        [d] { return d->getKFInfo(); },        [d] { return d->getLAInfo(); },
        [d] { return d->getLMInfo(); },        [d] { return d->getCurLMMID(); },
    };
    for (const auto &s : steps) {
        const uint32_t e = s();
        if (e != WK_SUCCESS)
            return e;
    }
    return WK_SUCCESS;
}

uint32_t ProfileEngine::readMap(Group group, int map, int entries, QByteArray *out)
{
    const int size = group == Group::Modes ? 1 : 4;
    const int chunk = group == Group::Modes ? wk::kModeChunk : wk::kKeyChunk;
    *out = QByteArray(entries * size, '\0');
    auto *to = reinterpret_cast<unsigned char *>(out->data());
    for (int first = 0; first < entries; first += chunk) {
        if (cancelled())
            return kCancelled;
        const auto m = static_cast<unsigned char>(map);
        const auto f = static_cast<unsigned char>(first);
        const auto l = static_cast<unsigned char>(std::min(first + chunk, entries) - 1);
        uint32_t e = WK_SUCCESS;
        switch (group) {
        case Group::Keys:
            e = m_device->getKCOfMap(m, f, l, to + size * first);
            break;
        case Group::Colours:
            e = m_device->getKROfMap(m, f, l, to + size * first);
            break;
        case Group::Modes:
            e = m_device->getLMOfMap(m, f, l, to + size * first);
            break;
        }
        if (e != WK_SUCCESS)
            return e;
        step(1, group == Group::Keys      ? text("读取按键映射", "Reading key maps")
                : group == Group::Colours ? text("读取颜色", "Reading colours")
                                          : text("读取灯效", "Reading lighting modes"));
    }
    return WK_SUCCESS;
}

// The maps of a group the keyboard can be asked for: all of its maps, or its
// one active map when it has no switchable ones; none without entries.
static QVector<int> mapIndexes(int count, int current, int entries)
{
    QVector<int> maps;
    if (entries <= 0)
        return maps;
    for (int m = 0; m < count; ++m)
        maps.append(m);
    if (count <= 0 && current >= 0)
        maps.append(current);
    return maps;
}

uint32_t ProfileEngine::readState(KeyboardProfile *out,
                                  const std::function<bool(int, const km_t &)> &wantFrames)
{
    Device *d = m_device;
    *out = KeyboardProfile();
    uint32_t e = ensureInfo();
    if (e != WK_SUCCESS)
        return e;
    if (cancelled())
        return kCancelled;

    out->board = Data::productNameString(d->productNameBlock());
    out->productBlock = d->productNameBlock();
    out->family = m_context.family;
    out->firmware = d->fwVersion();
    out->hardware = d->hwVersion();
    out->deviceId = d->deviceIdBytes();
    out->keyCount = d->kcCount();
    if (m_context.layout.size() == out->keyCount)
        out->layout = m_context.layout;
    out->colourEntries = d->krCount();
    out->modeEntries = d->lmCount();

    // Active maps as the keyboard has them now (a layer key may have changed them).
    if (d->kcmCount() > 0 && (e = d->getCurKCMID()) != WK_SUCCESS)
        return e;
    if (d->krCount() > 0 && (e = d->getCurKRMID()) != WK_SUCCESS)
        return e;
    if (d->lmCount() > 0 && (e = d->getCurLMMID()) != WK_SUCCESS)
        return e;
    out->activeKeyMap = d->curKCM();
    out->activeColourMap = d->krCount() > 0 ? d->curKRM() : -1;
    out->activeModeMap = d->lmCount() > 0 ? d->curLMM() : -1;

    const QVector<int> keyMaps = mapIndexes(d->kcmCount(), -1, d->kcCount());
    const QVector<int> colourMaps = mapIndexes(d->krmCount(), d->curKRM(), d->krCount());
    const QVector<int> modeMaps = mapIndexes(d->lmmCount(), d->curLMM(), d->lmCount());
    m_done = 0;
    m_total = 3 + keyMaps.size() * chunksOf(d->kcCount(), wk::kKeyChunk) +
              colourMaps.size() * chunksOf(d->krCount(), wk::kKeyChunk) +
              modeMaps.size() * chunksOf(d->lmCount(), wk::kModeChunk) + d->laCount() +
              d->kfCount() + d->kmCount() + 5;

    // Macro heads first: they say how many frames are still to come.
    out->macros.resize(d->kmCount());
    for (int i = 0; i < d->kmCount(); ++i) {
        if (cancelled())
            return kCancelled;
        // Into the model too: a frame transfer takes its frame count from there.
        km_t *head = d->macroHead(i);
        if (!head)
            return WK_ERROR_NO_MEMORY;
        if ((e = d->getMacroHead(uint8_t(i), head)) != WK_SUCCESS)
            return e;
        out->macros[i].head = *head;
        step(1, text("读取宏", "Reading macros"));
    }
    QVector<int> frameSlots;
    for (int i = 0; i < out->macros.size(); ++i) {
        const km_t &head = out->macros.at(i).head;
        if (head.frameCount() > 0 && wantFrames && wantFrames(i, head)) {
            frameSlots.append(i);
            m_total += 1 + chunksOf(std::min<int>(head.frameCount(), wk::kMacroFrameCapacity),
                                    wk::kMacroFramesPerRound);
        }
    }

    for (int m : keyMaps) {
        ProfileMap map{m, {}};
        if ((e = readMap(Group::Keys, m, d->kcCount(), &map.data)) != WK_SUCCESS)
            return e;
        out->keyMaps.append(map);
    }
    for (int m : colourMaps) {
        ProfileMap map{m, {}};
        if ((e = readMap(Group::Colours, m, d->krCount(), &map.data)) != WK_SUCCESS)
            return e;
        out->colourMaps.append(map);
    }
    for (int m : modeMaps) {
        ProfileMap map{m, {}};
        if ((e = readMap(Group::Modes, m, d->lmCount(), &map.data)) != WK_SUCCESS)
            return e;
        out->modeMaps.append(map);
    }

    out->lighting.resize(d->laCount());
    for (int i = 0; i < d->laCount(); ++i) {
        if (cancelled())
            return kCancelled;
        if ((e = d->getLAItem(uint8_t(i), &out->lighting[i])) != WK_SUCCESS)
            return e;
        step(1, text("读取灯效参数", "Reading lighting records"));
    }
    out->functions.resize(d->kfCount());
    for (int i = 0; i < d->kfCount(); ++i) {
        if (cancelled())
            return kCancelled;
        if ((e = d->getKFItem(uint8_t(i), &out->functions[i])) != WK_SUCCESS)
            return e;
        step(1, text("读取快捷功能", "Reading key functions"));
    }

    for (int slot : frameSlots) {
        if (cancelled())
            return kCancelled;
        ProfileMacro &m = out->macros[slot];
        if ((e = d->readMacro(uint8_t(slot))) != WK_SUCCESS)
            return e;
        const int n = std::min<int>(m.head.frameCount(), d->macroFramesHeld());
        m.frames = QVector<mframe_t>(d->macroFrames(), d->macroFrames() + n);
        step(1 + chunksOf(n, wk::kMacroFramesPerRound), text("读取宏", "Reading macros"));
    }

    const QString settings = text("读取设置", "Reading settings");
    if ((e = d->getScanSpeed()) != WK_SUCCESS || (e = d->getNKey()) != WK_SUCCESS ||
        (e = d->getUserInfo()) != WK_SUCCESS)
        return e;
    out->scanSpeed = d->scanSpeed();
    out->nKey = d->nKeyMode();
    out->userInfo = d->userInfo();
    step(3, settings);
    // Only dual-mode boards answer the Bluetooth group.
    e = d->getBtNameWithin(kBluetoothProbeMs);
    if (e == WK_SUCCESS) {
        if ((e = d->getSleepTime()) != WK_SUCCESS)
            return e;
        out->bluetooth = true;
        out->btName = d->btNameRecord();
        out->sleepTimeMs = d->sleepTimeMs();
    } else if (!d->usb() || !d->usb()->isLinkUp()) {
        return e;
    }
    step(2, settings);

    // Host data of the functions in use: what shortcuts.xml keeps for them.
    QVector<ShortcutsFile::Item> items;
    const QString hostFile = hostFilePath(out->deviceId);
    if (!hostFile.isEmpty())
        ShortcutsFile::load(hostFile, &items);
    for (int i = 0; i < out->functions.size(); ++i) {
        const kf_t &entry = out->functions.at(i);
        if (!entry.inUse())
            continue;
        for (const ShortcutsFile::Item &item : qAsConst(items)) {
            if (item.id == entry.id() && item.hi == entry.hi()) {
                out->functionHost.insert(i, item);
                break;
            }
        }
    }
    return WK_SUCCESS;
}

ProfileResult ProfileEngine::readKeyboard(KeyboardProfile *profile)
{
    const uint32_t e = readState(profile, [](int, const km_t &) { return true; });
    if (e != WK_SUCCESS) {
        *profile = KeyboardProfile();
        return failure(e, text("读取键盘", "reading the keyboard"));
    }
    return ProfileResult();
}

ProfileResult ProfileEngine::backup(const QString &path)
{
    KeyboardProfile profile;
    ProfileResult r = readKeyboard(&profile);
    if (!r.ok())
        return r;
    QString detail;
    const ProfileProblem problem = ProfileFile::write(path, profile, m_context.names, &detail);
    if (problem != ProfileProblem::None) {
        r.status = ProfileResult::Status::Failed;
        r.problem = problem;
        r.message = ProfileFile::describe(problem, detail, m_context.langType);
    }
    return r;
}

// ---------------------------------------------------------------------------
// Task
// ---------------------------------------------------------------------------

ProfileTask::ProfileTask(Device *device, const ProfileContext &context, QObject *parent)
    : QObject(parent), m_device(device), m_context(context)
{
    static const int registered = qRegisterMetaType<ProfileResult>("ProfileResult");
    Q_UNUSED(registered)
}

ProfileTask::~ProfileTask()
{
    if (m_thread) {
        cancel();
        m_thread->wait();
        delete m_thread;
    }
}

ProfileTask *ProfileTask::backup(Device *device, const ProfileContext &context, const QString &path,
                                 QObject *parent)
{
    auto *task = new ProfileTask(device, context, parent);
    task->m_kind = Kind::Backup;
    task->m_path = path;
    return task;
}

ProfileTask *ProfileTask::plan(Device *device, const ProfileContext &context, const QString &path,
                               QObject *parent)
{
    auto *task = new ProfileTask(device, context, parent);
    task->m_kind = Kind::Plan;
    task->m_path = path;
    return task;
}

ProfileTask *ProfileTask::restore(Device *device, const ProfileContext &context,
                                  const RestorePlan &plan, QObject *parent)
{
    auto *task = new ProfileTask(device, context, parent);
    task->m_kind = Kind::Restore;
    task->m_plan = plan;
    return task;
}

void ProfileTask::start()
{
    if (m_thread)
        return;
    m_thread = QThread::create([this] { run(); });
    m_thread->setObjectName(QStringLiteral("profile"));
    m_thread->start();
}

bool ProfileTask::isRunning() const
{
    return m_thread && m_thread->isRunning();
}

bool ProfileTask::wait(int timeoutMs)
{
    if (!m_thread)
        return true;
    return timeoutMs < 0 ? m_thread->wait() : m_thread->wait(static_cast<unsigned long>(timeoutMs));
}

void ProfileTask::run()
{
    ProfileEngine engine(m_device, m_context);
    engine.setCancelFlag(&m_cancel);
    engine.setProgress(
        [this](int done, int total, const QString &stage) { emit progress(done, total, stage); });
    ProfileResult result;
    if (!m_device) {
        result.status = ProfileResult::Status::Refused;
        result.message = m_context.langType == 0 ? QStringLiteral("没有连接键盘。")
                                                 : QStringLiteral("No keyboard is connected.");
    } else {
        switch (m_kind) {
        case Kind::Backup:
            result = engine.backup(m_path);
            break;
        case Kind::Plan: {
            RestorePlan plan;
            result = engine.plan(m_path, &plan);
            m_plan = plan;
            break;
        }
        case Kind::Restore:
            result = engine.restore(m_plan);
            break;
        }
    }
    m_result = result;
    emit finished(result);
}

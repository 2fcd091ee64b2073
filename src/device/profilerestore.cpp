// Restoring a profile, the run: writing what the plan says part by part and
// reading every part back.

#include "device/profileengine.h"
#include "device/profileengine_p.h"

#include "device/device.h"
#include "device/usb.h"

#include <QDebug>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <cstring>

using namespace ProfileDetail;

// ---------------------------------------------------------------------------
// Restore
// ---------------------------------------------------------------------------

QString ProfileEngine::unitName(const RestorePlan::Unit &u) const
{
    const bool zh = m_context.langType == 0;
    using K = RestorePlan::UnitKind;
    switch (u.kind) {
    case K::KeyMap:
        return (zh ? QStringLiteral("按键映射 %1") : QStringLiteral("key map %1")).arg(u.index);
    case K::ColourMap:
        return (zh ? QStringLiteral("颜色映射 %1") : QStringLiteral("colour map %1")).arg(u.index);
    case K::ModeMap:
        return (zh ? QStringLiteral("灯效映射 %1") : QStringLiteral("mode map %1")).arg(u.index);
    case K::Lighting:
        return (zh ? QStringLiteral("灯效参数 %1") : QStringLiteral("lighting record %1"))
            .arg(u.index);
    case K::Function:
        return (zh ? QStringLiteral("快捷功能 %1") : QStringLiteral("key function %1"))
            .arg(u.index);
    case K::HostData:
        return zh ? QStringLiteral("快捷功能的主机数据") : QStringLiteral("key-function host data");
    case K::Macro:
        return (zh ? QStringLiteral("宏 %1") : QStringLiteral("macro %1")).arg(u.index);
    case K::BluetoothName:
        return zh ? QStringLiteral("蓝牙名称") : QStringLiteral("Bluetooth name");
    case K::SleepTime:
        return zh ? QStringLiteral("休眠时间") : QStringLiteral("sleep time");
    case K::ScanSpeed:
        return zh ? QStringLiteral("扫描速度") : QStringLiteral("scan speed");
    case K::NKey:
        return zh ? QStringLiteral("全键无冲") : QStringLiteral("N-key rollover");
    case K::UserInfo:
        return zh ? QStringLiteral("用户信息") : QStringLiteral("user information");
    case K::ActiveKeyMap:
        return zh ? QStringLiteral("当前按键映射") : QStringLiteral("active key map");
    case K::ActiveColourMap:
        return zh ? QStringLiteral("当前颜色映射") : QStringLiteral("active colour map");
    case K::ActiveModeMap:
        return zh ? QStringLiteral("当前灯效映射") : QStringLiteral("active mode map");
    }
    return QString();
}

uint32_t ProfileEngine::writeChunks(const RestorePlan::Unit &u, bool *partly)
{
    using K = RestorePlan::UnitKind;
    const int size = u.kind == K::ModeMap ? 1 : 4;
    const int chunk = u.kind == K::ModeMap ? kModeWriteChunk : wk::kKeyChunk;
    const int entries = u.data.size() / size;
    const auto map = static_cast<unsigned char>(u.index);
    const auto *want = reinterpret_cast<const unsigned char *>(u.data.constData());
    const QString stage = unitName(u);
    auto range = [&](int first, unsigned char *f, unsigned char *l) {
        *f = static_cast<unsigned char>(first);
        *l = static_cast<unsigned char>(std::min(first + chunk, entries) - 1);
    };
    // Written whole and read back as one piece of work: nothing else reaches
    // the keyboard in between.
    return m_device->holdExchanges([&]() -> uint32_t {
        for (int first : u.chunks) {
            if (cancelled())
                return kCancelled;
            unsigned char f = 0, l = 0;
            range(first, &f, &l);
            const unsigned char *from = want + size * first;
            const uint32_t e = u.kind == K::KeyMap      ? m_device->setKCOfMap(map, f, l, from)
                               : u.kind == K::ColourMap ? m_device->setKROfMap(map, f, l, from)
                                                        : m_device->setLMOfMap(map, f, l, from);
            if (e != WK_SUCCESS)
                return e;
            *partly = true;
            step(1, stage);
        }
        unsigned char back[wk::kMaxPayload];
        for (int first : u.chunks) {
            unsigned char f = 0, l = 0;
            range(first, &f, &l);
            const uint32_t e = u.kind == K::KeyMap      ? m_device->getKCOfMap(map, f, l, back)
                               : u.kind == K::ColourMap ? m_device->getKROfMap(map, f, l, back)
                                                        : m_device->getLMOfMap(map, f, l, back);
            if (e != WK_SUCCESS)
                return e;
            if (std::memcmp(back, want + size * first, size_t(size * (l - f + 1))) != 0)
                return WK_ERROR_VERIFY;
            step(1, stage);
        }
        return WK_SUCCESS;
    });
}

uint32_t ProfileEngine::runUnit(const RestorePlan::Unit &u, bool *partly)
{
    using K = RestorePlan::UnitKind;
    Device *d = m_device;
    const QString stage = unitName(u);
    uint32_t e = WK_SUCCESS;
    auto check = [&](bool same) { return same ? WK_SUCCESS : WK_ERROR_VERIFY; };
    switch (u.kind) {
    case K::KeyMap:
    case K::ColourMap:
    case K::ModeMap:
        return writeChunks(u, partly);
    case K::HostData:
        return WK_SUCCESS; // written by restore() with the entries it covers
    case K::Lighting: {
        la_t want = recordOf<la_t>(u.data);
        la_t back{};
        if ((e = d->setLAItem(&want)) != WK_SUCCESS)
            return e;
        *partly = true;
        if ((e = d->getLAItem(uint8_t(u.index), &back)) != WK_SUCCESS)
            return e;
        step(u.weight, stage);
        return check(bytesOf(back) == u.data);
    }
    case K::Function: {
        kf_t want = recordOf<kf_t>(u.data);
        kf_t back{};
        if ((e = d->setKFItem(&want)) != WK_SUCCESS)
            return e;
        *partly = true;
        if ((e = d->getKFItem(uint8_t(u.index), &back)) != WK_SUCCESS)
            return e;
        step(u.weight, stage);
        return check(bytesOf(back) == u.data);
    }
    case K::Macro: {
        const auto slot = uint8_t(u.index);
        km_t head = recordOf<km_t>(u.data);
        if (u.freeFirst) {
            // Free first: cut short, the slot is empty rather than a macro
            // with another macro's frames.
            km_t empty{};
            empty.setId(slot);
            if ((e = d->setMacroHead(&empty)) != WK_SUCCESS)
                return e;
            *partly = true;
        }
        if (u.writeFrames) {
            if ((e = d->writeMacro(slot, u.frames.size(), u.frames.constData())) != WK_SUCCESS)
                return e;
            *partly = true;
        }
        if ((e = d->setMacroHead(&head)) != WK_SUCCESS)
            return e;
        *partly = true;
        km_t back{};
        if ((e = d->getMacroHead(slot, &back)) != WK_SUCCESS)
            return e;
        if (bytesOf(back) != u.data)
            return WK_ERROR_VERIFY;
        if (u.writeFrames && !u.frames.isEmpty()) {
            if ((e = d->readMacro(slot)) != WK_SUCCESS)
                return e;
            if (d->macroFramesHeld() != u.frames.size() ||
                !sameFrames(d->macroFrames(), u.frames.constData(), u.frames.size()))
                return WK_ERROR_VERIFY;
        }
        step(u.weight, stage);
        return WK_SUCCESS;
    }
    case K::BluetoothName:
        if ((e = d->setBtNameRecord(u.data)) != WK_SUCCESS)
            return e;
        *partly = true;
        if ((e = d->getBtNameWithin(wk::kGetWaitMs)) != WK_SUCCESS)
            return e;
        step(u.weight, stage);
        return check(d->btNameRecord() == u.data);
    case K::SleepTime:
        if ((e = d->setSleepTimeQuiet(u.value)) != WK_SUCCESS)
            return e;
        *partly = true;
        if ((e = d->getSleepTime()) != WK_SUCCESS)
            return e;
        step(u.weight, stage);
        return check(d->sleepTimeMs() == u.value);
    case K::ScanSpeed:
        if ((e = d->setScanSpeed(uint16_t(u.value))) != WK_SUCCESS)
            return e;
        *partly = true;
        if ((e = d->getScanSpeed()) != WK_SUCCESS)
            return e;
        step(u.weight, stage);
        return check(d->scanSpeed() == u.value);
    case K::NKey:
        if ((e = d->setNKey(uint8_t(u.value))) != WK_SUCCESS)
            return e;
        *partly = true;
        if ((e = d->getNKey()) != WK_SUCCESS)
            return e;
        step(u.weight, stage);
        return check(d->nKeyMode() == u.value);
    case K::UserInfo:
        if ((e = d->setUserInfoRecord(u.data)) != WK_SUCCESS)
            return e;
        *partly = true;
        if ((e = d->getUserInfo()) != WK_SUCCESS)
            return e;
        step(u.weight, stage);
        return check(d->userInfo() == u.data);
    case K::ActiveKeyMap:
        if ((e = d->setCurKCMID(uint8_t(u.value))) != WK_SUCCESS ||
            (e = d->getCurKCMID()) != WK_SUCCESS)
            return e;
        // The model's key codes follow the active map.
        if ((e = d->getCurKCM()) != WK_SUCCESS)
            return e;
        step(u.weight, stage);
        return check(d->curKCM() == int(u.value));
    case K::ActiveColourMap:
        if ((e = d->setCurKRMID(uint8_t(u.value))) != WK_SUCCESS ||
            (e = d->getCurKRMID()) != WK_SUCCESS || (e = d->getCurKRM()) != WK_SUCCESS)
            return e;
        step(u.weight, stage);
        return check(d->curKRM() == int(u.value));
    case K::ActiveModeMap:
        if ((e = d->setCurLMMID(uint8_t(u.value))) != WK_SUCCESS ||
            (e = d->getCurLMMID()) != WK_SUCCESS || (e = d->getCurLMM()) != WK_SUCCESS)
            return e;
        step(u.weight, stage);
        return check(d->curLMM() == int(u.value));
    }
    return WK_SUCCESS;
}

bool ProfileEngine::writeHost(const RestorePlan &plan, const QVector<int> &slotsDone,
                              QString *error)
{
    if (plan.hostFile.isEmpty())
        return true;
    const QVector<ShortcutsFile::Item> items = composeHost(plan, slotsDone);
    if (sameItems(items, plan.hostBefore))
        return true;
    // Only the keyboard's own folder is written, and only its shortcuts.xml:
    // a link that leads elsewhere is not followed.
    const QFileInfo file(plan.hostFile);
    const QString folder = file.absolutePath();
    if (!QDir().mkpath(folder)) {
        *error = folder;
        return false;
    }
    if (file.isSymLink()) {
        const QString targetDir =
            QFileInfo(QFileInfo(file.symLinkTarget()).absolutePath()).canonicalFilePath();
        if (targetDir != QDir(folder).canonicalPath()) {
            *error = plan.hostFile + QStringLiteral(" leads out of the keyboard's folder");
            return false;
        }
    }
    return ShortcutsFile::save(plan.hostFile, items, error) == ShortcutsFile::SaveStatus::Saved;
}

ProfileResult ProfileEngine::restore(const RestorePlan &plan)
{
    ProfileResult result;
    if (plan.isEmpty())
        return result;
    if (!m_device || (!plan.deviceId.isEmpty() && m_device->deviceIdBytes() != plan.deviceId)) {
        result.status = ProfileResult::Status::Refused;
        result.message = text("此计划属于另一个键盘。", "The plan was made for another keyboard.");
        return result;
    }
    m_done = 0;
    m_total = 0;
    for (const RestorePlan::Unit &u : plan.units)
        m_total += u.weight;
    QVector<int> slotsDone = plan.hostSettled;
    bool hostWritten = false;
    auto host = [&](ProfileResult *r) {
        if (hostWritten || !plan.hostData)
            return;
        hostWritten = true;
        QString error;
        RestorePlan::Unit hostUnit;
        hostUnit.kind = RestorePlan::UnitKind::HostData;
        if (writeHost(plan, slotsDone, &error)) {
            r->written << unitName(hostUnit);
            return;
        }
        r->remaining << unitName(hostUnit);
        if (r->status == ProfileResult::Status::Done) {
            r->status = ProfileResult::Status::Failed;
            r->message = (m_context.langType == 0 ? QStringLiteral("无法写入 %1。")
                                                  : QStringLiteral("%1 could not be written."))
                             .arg(error);
        }
    };

    for (size_t i = 0; i < plan.units.size(); ++i) {
        const RestorePlan::Unit &u = plan.units[i];
        if (u.kind == RestorePlan::UnitKind::HostData) {
            host(&result);
            if (!result.ok())
                return result;
            continue;
        }
        bool partly = false;
        const uint32_t e = cancelled() ? kCancelled : runUnit(u, &partly);
        if (e == WK_SUCCESS) {
            result.written << unitName(u);
            if (u.kind == RestorePlan::UnitKind::Function)
                slotsDone << u.index;
            continue;
        }
        // An entry that may have been written takes its host data along: on
        // an entry the write did not reach, it matches nothing and does no harm.
        if (partly && u.kind == RestorePlan::UnitKind::Function)
            slotsDone << u.index;
        const QString name = unitName(u);
        const ProfileResult failed =
            failure(e, m_context.langType == 0 ? QStringLiteral("写入%1").arg(name)
                                               : QStringLiteral("writing %1").arg(name));
        result.status = failed.status;
        result.message = failed.message;
        result.remaining << (partly ? name + (m_context.langType == 0
                                                  ? QStringLiteral("（部分写入）")
                                                  : QStringLiteral(" (partly written)"))
                                    : name);
        for (size_t j = i + 1; j < plan.units.size(); ++j) {
            if (plan.units[j].kind != RestorePlan::UnitKind::HostData)
                result.remaining << unitName(plan.units[j]);
        }
        // The host data of the entries that were restored belongs with them.
        host(&result);
        qWarning().noquote() << "Profile restore stopped:" << result.message
                             << "remaining:" << result.remaining.join(QStringLiteral(", "));
        return result;
    }
    host(&result);
    return result;
}

// Restoring a profile, the plan: matching the profile's keys to the board's
// and working out what differs and what the board lacks.

#include "device/profileengine.h"
#include "device/profileengine_p.h"

#include "device/device.h"
#include "main/apppaths.h"
#include "widget/data.h"

#include <algorithm>
#include <cstring>

using namespace ProfileDetail;

namespace {

// Pairs each key of the board with the profile's key that is the same key:
// same legend at the same position, else the same legend elsewhere (a key
// that moved, such as Enter on ISO and ANSI boards), else what sits at the
// same position when neither is taken. `source[t]` = profile key or -1.
QVector<int> matchKeys(const QVector<ProfileLayoutKey> &from, const QVector<ProfileLayoutKey> &to)
{
    QVector<int> source(to.size(), -1);
    QVector<bool> taken(from.size(), false);
    auto pass =
        [&](const std::function<bool(const ProfileLayoutKey &, const ProfileLayoutKey &)> &same) {
            for (int t = 0; t < to.size(); ++t) {
                if (source[t] >= 0)
                    continue;
                for (int s = 0; s < from.size(); ++s) {
                    if (!taken[s] && same(from.at(s), to.at(t))) {
                        source[t] = s;
                        taken[s] = true;
                        break;
                    }
                }
            }
        };
    const auto legend = [](const ProfileLayoutKey &k) { return k.legend.trimmed(); };
    pass([&](const ProfileLayoutKey &a, const ProfileLayoutKey &b) {
        return !legend(a).isEmpty() && legend(a) == legend(b) && a.position == b.position;
    });
    pass([&](const ProfileLayoutKey &a, const ProfileLayoutKey &b) {
        return !legend(a).isEmpty() && legend(a) == legend(b);
    });
    pass([](const ProfileLayoutKey &a, const ProfileLayoutKey &b) {
        return !a.position.isEmpty() && a.position == b.position;
    });
    return source;
}

QString keyLabel(const QVector<ProfileLayoutKey> &layout, int key)
{
    if (key >= layout.size())
        return QStringLiteral("#%1").arg(key);
    const ProfileLayoutKey &k = layout.at(key);
    return QStringLiteral("%1 (%2)").arg(k.legend, k.position);
}

// "lighting records 32-35" style ranges of a sorted list.
QStringList ranges(const QVector<int> &numbers, const QString &one, const QString &many)
{
    QStringList out;
    for (int i = 0; i < numbers.size();) {
        int j = i;
        while (j + 1 < numbers.size() && numbers.at(j + 1) == numbers.at(j) + 1)
            ++j;
        out << (i == j ? one.arg(numbers.at(i)) : many.arg(numbers.at(i)).arg(numbers.at(j)));
        i = j + 1;
    }
    return out;
}

const ProfileMap *findMap(const QVector<ProfileMap> &maps, int index)
{
    for (const ProfileMap &m : maps) {
        if (m.index == index)
            return &m;
    }
    return nullptr;
}

// The function catalogue of a board of the catalogue, by product name block.
QVector<KF> functionsOf(const QByteArray &productBlock)
{
    Data data;
    QVector<BoardInfo *> boards;
    QVector<KF> list;
    if (!data.parseConfigXML(&boards, QStringLiteral("config.xml")))
        return list;
    if (const BoardInfo *board = Data::findBoard(boards, productBlock))
        parseKFXML(AppPaths::configDir() + board->kf, &list);
    return list;
}

} // namespace

// ---------------------------------------------------------------------------
// Plan
// ---------------------------------------------------------------------------

ProfileResult ProfileEngine::plan(const QString &path, RestorePlan *plan)
{
    *plan = RestorePlan();
    KeyboardProfile profile;
    QString detail;
    const ProfileProblem problem = ProfileFile::read(path, &profile, &detail, m_context.family);
    if (problem != ProfileProblem::None) {
        ProfileResult r;
        r.status = ProfileResult::Status::Refused;
        r.problem = problem;
        r.message = ProfileFile::describe(problem, detail, m_context.langType);
        return r;
    }
    return this->plan(profile, plan);
}

ProfileResult ProfileEngine::plan(const KeyboardProfile &file, RestorePlan *plan)
{
    *plan = RestorePlan();
    ProfileResult result;
    if (!m_context.family.isEmpty() &&
        file.family.compare(m_context.family, Qt::CaseInsensitive) != 0) {
        result.status = ProfileResult::Status::Refused;
        result.problem = ProfileProblem::OtherFamily;
        result.message = ProfileFile::describe(
            ProfileProblem::OtherFamily,
            QStringLiteral("%1, this keyboard: %2").arg(file.family, m_context.family),
            m_context.langType);
        return result;
    }

    // The keyboard as it is; a macro's frames are read only when they may
    // be the profile's (same number of frames).
    KeyboardProfile now;
    const uint32_t e = readState(&now, [&file](int slot, const km_t &head) {
        return slot < file.macros.size() &&
               file.macros.at(slot).head.frameCount() == head.frameCount();
    });
    if (e != WK_SUCCESS)
        return failure(e, text("读取键盘", "reading the keyboard"));

    const bool zh = m_context.langType == 0;
    plan->deviceId = now.deviceId;
    plan->fromBoard = file.board;
    plan->toBoard = now.board;
    const bool sameBoard = file.productBlock == now.productBlock && file.keyCount == now.keyCount;
    QVector<int> source(now.keyCount, -1); // board key -> profile key
    if (sameBoard) {
        for (int k = 0; k < now.keyCount; ++k)
            source[k] = k;
    } else {
        if (file.layout.size() != file.keyCount || now.layout.size() != now.keyCount) {
            result.status = ProfileResult::Status::Refused;
            result.message = (zh ? QStringLiteral("无法把 %1 的按键对应到 %2：缺少键盘布局。")
                                 : QStringLiteral("The keys of %1 cannot be matched to %2: a board "
                                                  "layout is missing."))
                                 .arg(file.board, now.board);
            return result;
        }
        plan->carried = true;
        source = matchKeys(file.layout, now.layout);
        QVector<bool> used(file.keyCount, false);
        for (int t = 0; t < now.keyCount; ++t) {
            if (source[t] >= 0)
                used[source[t]] = true;
            else
                plan->uncoveredKeys << keyLabel(now.layout, t);
        }
        for (int s = 0; s < file.keyCount; ++s) {
            if (!used[s])
                plan->droppedKeys << keyLabel(file.layout, s);
        }
    }
    auto entrySource = [&](int t, int sourceEntries) {
        const int s = t < source.size() ? source.at(t) : (sameBoard ? t : -1);
        return s < sourceEntries ? s : -1;
    };

    // Maps: each map of the profile onto the board's map with the same number.
    struct MapGroup
    {
        const QVector<ProfileMap> &from;
        const QVector<ProfileMap> &to;
        int fromEntries;
        int toEntries;
        int size;
        int chunk;
        RestorePlan::UnitKind kind;
        int *maps;
        int *entries;
        QString dropped;
    };
    const MapGroup groups[] = {
        {file.keyMaps, now.keyMaps, file.keyCount, now.keyCount, 4, wk::kKeyChunk,
         RestorePlan::UnitKind::KeyMap, &plan->keyMaps, &plan->keys,
         zh ? QStringLiteral("按键映射 %1") : QStringLiteral("key map %1")},
        {file.colourMaps, now.colourMaps, file.colourEntries, now.colourEntries, 4, wk::kKeyChunk,
         RestorePlan::UnitKind::ColourMap, &plan->colourMaps, &plan->colours,
         zh ? QStringLiteral("颜色映射 %1") : QStringLiteral("colour map %1")},
        {file.modeMaps, now.modeMaps, file.modeEntries, now.modeEntries, 1, kModeWriteChunk,
         RestorePlan::UnitKind::ModeMap, &plan->modeMaps, &plan->modes,
         zh ? QStringLiteral("灯效映射 %1") : QStringLiteral("mode map %1")},
    };
    for (const MapGroup &g : groups) {
        for (const ProfileMap &fm : g.from) {
            const ProfileMap *current = findMap(g.to, fm.index);
            if (!current) {
                plan->dropped << g.dropped.arg(fm.index);
                continue;
            }
            QByteArray want = current->data;
            for (int t = 0; t < g.toEntries; ++t) {
                const int s = entrySource(t, g.fromEntries);
                if (s >= 0 && (s + 1) * g.size <= fm.data.size())
                    std::memcpy(want.data() + t * g.size, fm.data.constData() + s * g.size,
                                size_t(g.size));
            }
            RestorePlan::Unit unit;
            unit.kind = g.kind;
            unit.index = fm.index;
            unit.data = want;
            int changed = 0;
            for (int first = 0; first < g.toEntries; first += g.chunk) {
                const int n = std::min(g.chunk, g.toEntries - first);
                bool differs = false;
                for (int t = first; t < first + n; ++t) {
                    if (std::memcmp(want.constData() + t * g.size,
                                    current->data.constData() + t * g.size, size_t(g.size))) {
                        differs = true;
                        ++changed;
                    }
                }
                if (differs)
                    unit.chunks.append(first);
            }
            if (unit.chunks.isEmpty())
                continue;
            unit.weight = 2 * unit.chunks.size();
            *g.maps += 1;
            *g.entries += changed;
            plan->units.push_back(unit);
        }
    }

    // Lighting records.
    QVector<int> droppedRecords;
    for (int i = 0; i < file.lighting.size(); ++i) {
        if (i >= now.lighting.size() || i >= kMaxAddressable) {
            droppedRecords << i;
            continue;
        }
        la_t want = file.lighting.at(i);
        want.setModeNumber(uint8_t(i)); // a record is addressed by its own number
        if (bytesOf(want) == bytesOf(now.lighting.at(i)))
            continue;
        RestorePlan::Unit unit;
        unit.kind = RestorePlan::UnitKind::Lighting;
        unit.index = i;
        unit.data = bytesOf(want);
        unit.weight = 2;
        plan->units.push_back(unit);
        ++plan->lightingRecords;
    }
    plan->dropped << ranges(
        droppedRecords, zh ? QStringLiteral("灯效参数 %1") : QStringLiteral("lighting record %1"),
        zh ? QStringLiteral("灯效参数 %1–%2") : QStringLiteral("lighting records %1–%2"));

    // Key functions and their host data.
    const QVector<KF> fromFunctions =
        plan->carried ? functionsOf(file.productBlock) : QVector<KF>();
    const QVector<KF> &toFunctions = m_context.names.functions();
    plan->hostFile = hostFilePath(now.deviceId);
    if (!plan->hostFile.isEmpty())
        ShortcutsFile::load(plan->hostFile, &plan->hostBefore);
    QVector<int> droppedSlots;
    for (int i = 0; i < file.functions.size(); ++i) {
        const kf_t &entry = file.functions.at(i);
        if (i >= now.functions.size() || i >= kMaxAddressable) {
            if (entry.inUse())
                droppedSlots << i;
            continue;
        }
        if (plan->carried && entry.inUse() && !toFunctions.isEmpty()) {
            // The same function number may be another function on this board.
            const KF *target = m_context.names.function(entry.hi());
            const auto host = file.functionHost.constFind(i);
            const int type = !fromFunctions.isEmpty() ? kfControlType(fromFunctions, entry.hi())
                             : host != file.functionHost.constEnd() ? host->hitype
                                                                    : -1;
            if (!target || !target->enable || (type >= 0 && target->control_type != type)) {
                droppedSlots << i;
                continue;
            }
        }
        kf_t want = entry;
        want.head[0] = uint8_t((want.head[0] & ~0x3F) | i); // an entry is addressed by its id
        plan->hostCovered << i;
        if (want.inUse() && file.functionHost.contains(i)) {
            ShortcutsFile::Item item = file.functionHost.value(i);
            item.id = uint(i);
            item.hi = want.hi();
            plan->hostAfter.insert(i, item);
        }
        if (bytesOf(want) == bytesOf(now.functions.at(i))) {
            plan->hostSettled << i;
            continue;
        }
        RestorePlan::Unit unit;
        unit.kind = RestorePlan::UnitKind::Function;
        unit.index = i;
        unit.data = bytesOf(want);
        unit.weight = 2;
        plan->units.push_back(unit);
        ++plan->functions;
    }
    plan->dropped << ranges(
        droppedSlots, zh ? QStringLiteral("快捷功能 %1") : QStringLiteral("key function %1"),
        zh ? QStringLiteral("快捷功能 %1–%2") : QStringLiteral("key functions %1–%2"));
    plan->hostData = !plan->hostFile.isEmpty() &&
                     !sameItems(composeHost(*plan, plan->hostCovered), plan->hostBefore);
    if (plan->hostData) {
        RestorePlan::Unit unit;
        unit.kind = RestorePlan::UnitKind::HostData;
        unit.weight = 0;
        plan->units.push_back(unit);
    }

    // Macros.
    QVector<int> droppedMacros;
    for (int i = 0; i < file.macros.size(); ++i) {
        const ProfileMacro &m = file.macros.at(i);
        if (i >= now.macros.size() || i >= kMaxAddressable) {
            if (m.head.used() || !m.frames.isEmpty())
                droppedMacros << i;
            continue;
        }
        km_t head = m.head;
        head.setId(uint8_t(i)); // a head is addressed by its id
        head.setFrameCount(uint16_t(m.frames.size()));
        const ProfileMacro &cur = now.macros.at(i);
        const bool framesSame =
            cur.head.frameCount() == head.frameCount() && cur.frames.size() == m.frames.size() &&
            sameFrames(cur.frames.constData(), m.frames.constData(), m.frames.size());
        if (framesSame && bytesOf(head) == bytesOf(cur.head))
            continue;
        RestorePlan::Unit unit;
        unit.kind = RestorePlan::UnitKind::Macro;
        unit.index = i;
        unit.data = bytesOf(head);
        unit.frames = m.frames;
        unit.writeFrames = !framesSame;
        unit.freeFirst = unit.writeFrames && cur.head.used();
        const int rounds =
            (m.frames.size() + wk::kMacroFramesPerRound - 1) / wk::kMacroFramesPerRound;
        unit.weight = 2 + (unit.writeFrames ? 2 + 2 * rounds + 2 : 0) + (unit.freeFirst ? 1 : 0);
        plan->units.push_back(unit);
        ++plan->macros;
    }
    plan->dropped << ranges(droppedMacros,
                            zh ? QStringLiteral("宏 %1") : QStringLiteral("macro %1"),
                            zh ? QStringLiteral("宏 %1–%2") : QStringLiteral("macros %1–%2"));

    // Settings.
    auto setting = [&](RestorePlan::UnitKind kind, bool differs, const QByteArray &data,
                       uint32_t value, const QString &name) {
        if (!differs)
            return;
        RestorePlan::Unit unit;
        unit.kind = kind;
        unit.data = data;
        unit.value = value;
        unit.weight = 2;
        plan->units.push_back(unit);
        plan->settings << name;
    };
    if (file.bluetooth && now.bluetooth) {
        setting(RestorePlan::UnitKind::BluetoothName, file.btName != now.btName, file.btName, 0,
                zh ? QStringLiteral("蓝牙名称") : QStringLiteral("Bluetooth name"));
        setting(RestorePlan::UnitKind::SleepTime, file.sleepTimeMs != now.sleepTimeMs, {},
                file.sleepTimeMs, zh ? QStringLiteral("休眠时间") : QStringLiteral("sleep time"));
    } else if (file.bluetooth) {
        plan->dropped << (zh ? QStringLiteral("蓝牙名称和休眠时间")
                             : QStringLiteral("Bluetooth name and sleep time"));
    }
    setting(RestorePlan::UnitKind::ScanSpeed, file.scanSpeed != now.scanSpeed, {}, file.scanSpeed,
            zh ? QStringLiteral("扫描速度") : QStringLiteral("scan speed"));
    setting(RestorePlan::UnitKind::NKey, file.nKey != now.nKey, {}, file.nKey,
            zh ? QStringLiteral("全键无冲") : QStringLiteral("N-key rollover"));
    setting(RestorePlan::UnitKind::UserInfo, file.userInfo != now.userInfo, file.userInfo, 0,
            zh ? QStringLiteral("用户信息") : QStringLiteral("user information"));

    // The active maps, last: the keyboard uses what the profile used.
    auto active = [&](RestorePlan::UnitKind kind, int want, int current,
                      const QVector<ProfileMap> &maps, bool switchable) {
        if (!switchable || want < 0 || want == current || !findMap(maps, want))
            return;
        RestorePlan::Unit unit;
        unit.kind = kind;
        unit.value = uint32_t(want);
        unit.weight = 2;
        plan->units.push_back(unit);
        plan->activeMaps = true;
    };
    Device *d = m_device;
    active(RestorePlan::UnitKind::ActiveKeyMap, file.activeKeyMap, now.activeKeyMap, now.keyMaps,
           d->kcmCount() > 0);
    active(RestorePlan::UnitKind::ActiveColourMap, file.activeColourMap, now.activeColourMap,
           now.colourMaps, d->krmCount() > 0);
    active(RestorePlan::UnitKind::ActiveModeMap, file.activeModeMap, now.activeModeMap,
           now.modeMaps, d->lmmCount() > 0);
    return result;
}

// The name block starts with a byte that is not part of the name the user
// knows (the settings page shows the block from its second byte).
static QString shownBoardName(const QString &block)
{
    return block.size() > 1 ? block.mid(1).trimmed() : block;
}

QStringList RestorePlan::summary(int langType) const
{
    const bool zh = langType == 0;
    QStringList lines;
    if (carried)
        lines << (zh ? QStringLiteral("把 %1 的配置用于 %2。")
                     : QStringLiteral("Carrying %1 to %2."))
                     .arg(shownBoardName(fromBoard), shownBoardName(toBoard));
    if (isEmpty()) {
        lines << (zh ? QStringLiteral("键盘已与配置文件一致，无需写入。")
                     : QStringLiteral("The keyboard already matches the profile; nothing to "
                                      "write."));
    } else {
        auto count = [&](int maps, int entries, const char *zhText, const char *enText) {
            if (maps > 0)
                lines << QString::fromUtf8(zh ? zhText : enText).arg(maps).arg(entries);
        };
        count(keyMaps, keys, "按键映射：%1 个映射中 %2 个按键", "Key maps: %2 keys in %1 maps");
        count(colourMaps, colours, "颜色映射：%1 个映射中 %2 个颜色",
              "Colour maps: %2 colours in %1 maps");
        count(modeMaps, modes, "灯效映射：%1 个映射中 %2 个按键", "Mode maps: %2 keys in %1 maps");
        if (lightingRecords > 0)
            lines << (zh ? QStringLiteral("灯效参数：%1 个")
                         : QStringLiteral("Lighting records: %1"))
                         .arg(lightingRecords);
        if (functions > 0 || hostData)
            lines << (zh ? QStringLiteral("快捷功能：%1 个") : QStringLiteral("Key functions: %1"))
                         .arg(functions);
        if (macros > 0)
            lines << (zh ? QStringLiteral("宏：%1 个") : QStringLiteral("Macros: %1")).arg(macros);
        if (!settings.isEmpty())
            lines << (zh ? QStringLiteral("设置：") : QStringLiteral("Settings: ")) +
                         settings.join(QStringLiteral(", "));
        if (activeMaps)
            lines << (zh ? QStringLiteral("当前映射") : QStringLiteral("The active maps"));
    }
    if (!droppedKeys.isEmpty())
        lines << (zh ? QStringLiteral("此键盘没有的按键（%1 个，不写入）：")
                     : QStringLiteral("Keys this keyboard lacks (%1, not written): "))
                         .arg(droppedKeys.size()) +
                     droppedKeys.join(QStringLiteral(", "));
    if (!uncoveredKeys.isEmpty())
        lines << (zh ? QStringLiteral("配置文件中没有的按键（保持不变）：")
                     : QStringLiteral("Keys the profile has nothing for (kept as they are): ")) +
                     uncoveredKeys.join(QStringLiteral(", "));
    if (!dropped.isEmpty())
        lines << (zh ? QStringLiteral("此键盘没有的部分（不写入）：")
                     : QStringLiteral("Parts this keyboard lacks (not written): ")) +
                     dropped.join(QStringLiteral(", "));
    return lines;
}

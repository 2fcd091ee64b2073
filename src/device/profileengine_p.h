#pragma once

// Helpers shared by the plan and the run of a profile restore; not part of
// the public interface.

#include "device/profileengine.h"

#include <QByteArray>
#include <QVector>

#include <algorithm>
#include <cstring>

namespace ProfileDetail {

// Status of a run stopped by Cancel (internal: never sent, never from Device).
constexpr uint32_t kCancelled = 0xEE0000C0;
// Records, entries and slots are addressed by six bits.
constexpr int kMaxAddressable = 64;
// Mode entries per write.
constexpr int kModeWriteChunk = wk::kMaxModeEntriesPerFrame;

template <typename T> inline QByteArray bytesOf(const T &record)
{
    return QByteArray(reinterpret_cast<const char *>(&record), int(sizeof record));
}

template <typename T> inline T recordOf(const QByteArray &bytes)
{
    T record{};
    std::memcpy(static_cast<void *>(&record), bytes.constData(),
                std::min<size_t>(sizeof record, size_t(bytes.size())));
    return record;
}

inline bool sameFrames(const mframe_t *a, const mframe_t *b, int n)
{
    return n == 0 || std::memcmp(a, b, sizeof(mframe_t) * size_t(n)) == 0;
}

inline bool sameItem(const ShortcutsFile::Item &a, const ShortcutsFile::Item &b)
{
    if (a.id != b.id || a.hi != b.hi || a.hitype != b.hitype || a.text != b.text ||
        a.ledIndex != b.ledIndex || a.macroName != b.macroName || a.macroCount != b.macroCount)
        return false;
    return std::equal(std::begin(a.btn), std::end(a.btn), std::begin(b.btn)) &&
           std::equal(std::begin(a.keyList), std::end(a.keyList), std::begin(b.keyList));
}

inline void sortById(QVector<ShortcutsFile::Item> *items)
{
    std::stable_sort(
        items->begin(), items->end(),
        [](const ShortcutsFile::Item &a, const ShortcutsFile::Item &b) { return a.id < b.id; });
}

// shortcuts.xml after restoring the entries in `done`: their old items
// replaced by the profile's host data (none for an entry not in use).
inline QVector<ShortcutsFile::Item> composeHost(const RestorePlan &plan, const QVector<int> &done)
{
    QVector<ShortcutsFile::Item> items;
    for (const ShortcutsFile::Item &item : plan.hostBefore) {
        if (!done.contains(int(item.id)))
            items.append(item);
    }
    for (int slot : done) {
        const auto it = plan.hostAfter.constFind(slot);
        if (it != plan.hostAfter.constEnd())
            items.append(*it);
    }
    sortById(&items);
    return items;
}

inline bool sameItems(QVector<ShortcutsFile::Item> a, QVector<ShortcutsFile::Item> b)
{
    sortById(&a);
    sortById(&b);
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), sameItem);
}

} // namespace ProfileDetail

#include "shortcut/kfrecord.h"

namespace KfRecord {
namespace {
constexpr int kMaxEntries = 64; // the id is 6 bits

// type, stype and code of `from` into `to`; lock bit and byte 3 kept.
void copyIdentity(const kc_t &from, kc_t *to)
{
    to->setType(from.type());
    to->setStype(from.stype());
    to->setCode(from.code());
}
} // namespace

EncodeResult encode(const KfFunction &f, kf_t *entry)
{
    if (f.controlType == E_SCT_SWAP && f.param1 == f.param2)
        return EncodeResult::SwapEqual;

    entry->setHi(static_cast<uint8_t>(f.hi & 0x3F));
    entry->setKeyCount(0);
    entry->setHostFlag(true);
    entry->setLayerMask(f.layerMask);
    int counted = 0;
    for (int i = 0; i < kf_t::kTriggerKeys; ++i) {
        copyIdentity(f.keys[i], &entry->keys[i]);
        if (f.keys[i].type() != 0)
            ++counted;
    }
    entry->setKeyCount(static_cast<uint8_t>(counted));

    switch (f.controlType) {
    case E_SCT_WEB:
    case E_SCT_DOCAPP:
    case E_SCT_FOLDER:
        entry->setInUse(true);
        break;
    case E_SCT_LEDBRI:
        if (f.param1 != -1) {
            entry->setInUse(true);
            entry->setParam1(static_cast<uint32_t>(f.param1));
        }
        break;
    case E_SCT_REPKEY:
    case E_SCT_LOCKKEY:
        if (f.hasKeyList) {
            entry->setInUse(true);
            if (f.controlType == E_SCT_REPKEY)
                entry->setHostFlag(false);
            for (int i = 0; i < kf_t::kListKeys; ++i) {
                kc_t k = entry->listKey(i);
                copyIdentity(f.list[i], &k);
                entry->setListKey(i, k);
            }
        }
        break;
    case E_SCT_MACRO:
        if (f.param1 >= 0) {
            entry->setInUse(true);
            entry->setParam1(static_cast<uint32_t>(f.param1 & 0x3F));
            entry->setParam2(static_cast<uint32_t>(f.param2));
        }
        break;
    case E_SCT_SWAP:
        entry->setParam1(static_cast<uint32_t>(f.param1 & 0xFF));
        entry->setParam2(static_cast<uint32_t>(f.param2 & 0xFF));
        entry->setInUse(true);
        break;
    case E_SCT_VKB:
        entry->setHi(7);
        entry->setInUse(true);
        break;
    default:
        break;
    }
    return EncodeResult::Encoded;
}

KfFunction decode(const kf_t &entry, const QVector<KF> &catalogue)
{
    KfFunction f;
    f.hi = entry.hi();
    f.controlType = kfControlType(catalogue, f.hi);
    f.layerMask = entry.layerMask();
    for (int i = 0; i < kf_t::kTriggerKeys; ++i)
        f.keys[i] = entry.keys[i];
    switch (f.controlType) {
    case E_SCT_LEDBRI:
    case E_SCT_MACRO:
    case E_SCT_SWAP:
        f.param1 = static_cast<int>(entry.param1());
        f.param2 = static_cast<int>(entry.param2());
        break;
    case E_SCT_REPKEY:
    case E_SCT_LOCKKEY:
        for (int i = 0; i < kf_t::kListKeys; ++i)
            f.list[i] = entry.listKey(i);
        break;
    default:
        break;
    }
    return f;
}

KfFunction defaults(int controlType, int hi)
{
    KfFunction f;
    f.controlType = controlType;
    f.hi = hi;
    switch (controlType) {
    case E_SCT_LEDBRI:
        f.param1 = 0;
        break;
    case E_SCT_MACRO:
        f.param1 = -1;
        f.param2 = 1;
        break;
    case E_SCT_SWAP:
        f.param1 = 1;
        f.param2 = 2;
        break;
    default:
        break;
    }
    return f;
}

int claimFree(kf_t *table, int count)
{
    if (!table)
        return -1;
    for (int i = 0; i < count && i < kMaxEntries; ++i) {
        kf_t &e = table[i];
        if (e.inUse() || e.id() != i)
            continue;
        for (kc_t &k : e.keys) {
            k.attr &= 0x01;
            k.setCode(0);
        }
        e.setInUse(true);
        e.setLayerMask(0xFF);
        return i;
    }
    return -1;
}

void release(kf_t *entry)
{
    entry->setInUse(false);
}

} // namespace KfRecord

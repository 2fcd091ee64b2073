#pragma once

#include "device/wirerecords.h"
#include "shortcut/kfcatalogue.h"

#include <QVector>

// Encoding of key functions into the keyboard's 56-byte entries and back.
// Every function here touches only the bits it owns: the entry's id, bits
// 13-15 of bytes 0-1, bits 12-15 of bytes 2-3, the lock bit and byte 3 of
// every key survive.
namespace KfRecord {

// A key function as the editor holds it.
struct KfFunction
{
    int controlType = E_SCT_NONE; // unknown values (-1, ...) encode as E_SCT_NONE
    int hi = 0;                   // function number, 0-63
    quint8 layerMask = 0xFF;      // bit i: works in key map i
    kc_t keys[kf_t::kTriggerKeys]{};
    // E_SCT_LEDBRI: option index (-1: none chosen). E_SCT_MACRO: macro
    // number (-1: the chosen macro was not found), E_SCT_SWAP: first number.
    int param1 = -1;
    // E_SCT_MACRO: play count. E_SCT_SWAP: second number.
    int param2 = 0;
    bool hasKeyList = true; // E_SCT_REPKEY / E_SCT_LOCKKEY: write `list`
    kc_t list[kf_t::kListKeys]{};
};

enum class EncodeResult
{
    Encoded,
    SwapEqual, // the two swap numbers are equal: the entry was left as it was
};

// Encodes `f` into `entry` for download.
EncodeResult encode(const KfFunction &f, kf_t *entry);

// The function held by `entry`, its type taken from `catalogue`.
KfFunction decode(const kf_t &entry, const QVector<KF> &catalogue);

// Parameters of a newly chosen function of `controlType`.
KfFunction defaults(int controlType, int hi);

// Claims the first free entry of `table` (`count` entries) for a new
// function: clears its trigger keys, sets the in-use bit and the layer mask
// to all key maps. An entry whose id is not its index, or whose index is 64
// or more, is never claimed: writing it would overwrite another entry.
// Returns the index, or -1 when there is none.
int claimFree(kf_t *table, int count);

// Marks `entry` free; everything else keeps its contents.
void release(kf_t *entry);

} // namespace KfRecord

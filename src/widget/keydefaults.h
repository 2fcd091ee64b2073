#pragma once

#include "device/wirerecords.h"
#include "widget/keydesc.h"

#include <QVector>

class Data;
struct BoardInfo;

// The default key map of a board, from our layout data: key i of a board's
// layout file carries as its legend the Windows alias of the palette key the
// keyboard's default map puts on key i. With it the key page marks the keys
// whose code in the shown map differs from the default, says what the
// default is, and writes it back ("Reset key", "Reset map").
//
// The layout data describes one default map per board; every key map of the
// keyboard is compared with it. A key whose legend names no palette key (a
// layout edited by hand, or a keyboard with more keys than its layout) has no
// known default: its state is Unknown and nothing is written back for it.
class KeyDefaults
{
public:
    enum class State
    {
        Default, // the key's code is the default one
        Changed, // it differs from the default
        Unknown  // the layout data does not say
    };

    KeyDefaults() = default;
    // `boardKeys`: the board's layout in key order; `windowsPalette`: the
    // palette labelled with the Windows table (aliases are compared).
    KeyDefaults(const QVector<KeyDesc> &boardKeys, const QVector<KeyDesc> &windowsPalette);
    // Reads the board's layout file and the palette with the Windows table
    // of the catalogue `data` has read (config.xml is read first when it has
    // not been). Files that cannot be read leave the defaults unknown.
    static KeyDefaults load(Data *data, const BoardInfo &board);

    // Keys of the layout.
    int size() const { return m_defaults.size(); }
    bool isKnown(int key) const { return paletteIndex(key) >= 0; }
    // Number of keys with a known default.
    int knownCount() const;
    // Position of the key's default in the palette (the same in both layout
    // versions: the tool tip names it in the version shown), or -1.
    int paletteIndex(int key) const;
    // The default record of a key: its identity, lock bit and byte 3 clear.
    // Meaningful only when isKnown(key).
    kc_t defaultRecord(int key) const;

    // Whether a key's record differs from the default: type, stype and code
    // compared, as the palette shows keys (the lock bit is not a code).
    State state(int key, const kc_t &current) const;
    // States of `count` records (a key map in key order).
    QVector<State> states(const kc_t *codes, int count) const;
    // The keys whose state is Changed.
    QVector<int> changedKeys(const kc_t *codes, int count) const;

    // What "Reset key" writes over `current`: the default identity, with the
    // lock bit and byte 3 kept as a remap from the palette keeps them. False
    // (and `out` untouched) when the default is unknown.
    bool resetRecord(int key, const kc_t &current, kc_t *out) const;

private:
    struct Default
    {
        int paletteIndex = -1;
        kc_t record{};
    };
    QVector<Default> m_defaults;
};

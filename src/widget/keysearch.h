#pragma once

#include "widget/keydesc.h"

#include <QString>
#include <QStringList>
#include <QVector>

#include <array>
#include <cstdint>

class Data;

// The palette's search: which palette keys a typed text names, best first.
//
// Every palette key is known by the texts of both layout versions (Windows
// and macOS legends) whichever of them is shown: its name, its alias and its
// legend in the static layout. A key matches the text when one of them
//   1. equals it (Exact),
//   2. starts with it (Prefix),
//   3. has a word that starts with it (WordPrefix; words are split at spaces,
//      punctuation and lower-to-upper case changes: "PgUp" has "Pg" and "Up"),
//   4. contains it (Substring),
// or when the text names one of our synonyms of the key (Synonym: "vol" for
// the volume keys, "super" for the GUI keys, 静音 for mute, ...).
//
// Comparison ignores case, character width (full-width letters, half-width
// katakana) and white space. Hits are ordered by how they matched: the four
// kinds on the shown version's texts, then synonyms, then the four kinds on
// texts that only the other version has. Within one kind an alias or legend
// match goes before a name match (the consumer-page "Mute" before the rarely
// used keyboard-page key also named "Mute"), then palette order, which puts
// the common keys first. Each key is listed once, at its best match.
//
// The index is built once per palette; find() is cheap enough for every
// keystroke.
class KeySearch
{
public:
    enum Version
    {
        Windows = 0,
        MacOS = 1
    };
    static constexpr int kVersions = 2;

    enum Match
    {
        Exact,
        Prefix,
        WordPrefix,
        Substring,
        Synonym
    };

    struct Hit
    {
        int index = -1;            // position in the palette
        Match match = Exact;       // how the key matched
        bool otherVersion = false; // only through the layout version not shown
    };

    KeySearch() = default;
    // `windows` and `mac`: the palette labelled with each table, in palette
    // order (the same keys in the same order; a shorter one labels fewer).
    KeySearch(const QVector<KeyDesc> &windows, const QVector<KeyDesc> &mac);

    // Number of palette keys indexed.
    int size() const { return m_keys.size(); }

    // The palette keys `text` names, best first. Empty for a text without
    // anything to compare (only blanks): no search, the page shows all.
    QVector<Hit> find(const QString &text, Version shown = Windows) const;
    // Only the palette positions, best first.
    QVector<int> indices(const QString &text, Version shown = Windows) const;

    // The form texts are compared in: compatibility-normalised, case-folded,
    // without white space.
    static QString fold(const QString &text);
    // The words of a text, each folded (see WordPrefix above).
    static QStringList words(const QString &text);

    // Reads the static layout and labels it with both tables of the
    // catalogue `data` has read (it reads config.xml first when it has not).
    // Unlike the drawn palette, keys drawn with a picture keep their name:
    // it is what the user types. False when the catalogue or the static
    // layout cannot be read; a table that cannot be read leaves that version
    // unlabelled.
    static bool loadPalette(Data *data, QVector<KeyDesc> *windows, QVector<KeyDesc> *mac);

private:
    struct Text
    {
        QString folded;
        QStringList words;
        bool alias = false; // alias or legend (else the name)
    };
    struct Key
    {
        std::array<QVector<Text>, kVersions> texts;
        uint16_t type = 0;
        uint16_t stype = 0;
        uint16_t code = 0;
    };
    struct SynonymGroup
    {
        QStringList terms;    // folded
        QVector<int> indices; // palette positions, in the group's order
    };
    void addTexts(Key *key, int version, const KeyDesc &desc);

    QVector<Key> m_keys;
    QVector<SynonymGroup> m_synonyms;
};

#include "widget/keydefaults.h"

#include "widget/boardinfo.h"
#include "widget/data.h"

#include <QDebug>
#include <QHash>

KeyDefaults::KeyDefaults(const QVector<KeyDesc> &boardKeys, const QVector<KeyDesc> &windowsPalette)
{
    // The first palette key of each alias (aliases are unique in the tables).
    QHash<QString, int> byAlias;
    for (int i = windowsPalette.size() - 1; i >= 0; --i) {
        const QString alias = windowsPalette.at(i).alias.trimmed();
        if (!alias.isEmpty())
            byAlias.insert(alias, i);
    }
    m_defaults.resize(boardKeys.size());
    int unknown = 0;
    for (int k = 0; k < boardKeys.size(); ++k) {
        const int p = byAlias.value(boardKeys.at(k).legend.trimmed(), -1);
        if (p < 0) {
            ++unknown;
            continue;
        }
        const KeyDesc &key = windowsPalette.at(p);
        Default &d = m_defaults[k];
        d.paletteIndex = p;
        d.record.setType(static_cast<uint8_t>(key.type));
        d.record.setStype(static_cast<uint8_t>(key.stype));
        d.record.setCode(key.code);
    }
    if (unknown > 0 && !windowsPalette.isEmpty())
        qDebug("key defaults: %d of %d layout keys name no palette key", unknown,
               int(boardKeys.size()));
}

KeyDefaults KeyDefaults::load(Data *data, const BoardInfo &board)
{
    if (!data)
        return KeyDefaults();
    if (data->json().isEmpty()) {
        QVector<BoardInfo *> boards;
        data->parseConfigXML(&boards, QStringLiteral("config.xml"));
    }
    QVector<KeyDesc> layout;
    QString path;
    if (board.file.isEmpty() || !data->parseJsonFileForFix(&layout, board.file, &path))
        return KeyDefaults();
    QVector<KeyDesc> palette;
    path.clear();
    if (data->json().isEmpty() || data->xmlWin().isEmpty() ||
        !data->parseJsonFileForFix(&palette, data->json(), &path) ||
        !data->parseStaticXML(&palette, data->xmlWin()))
        palette.clear(); // every default unknown
    return KeyDefaults(layout, palette);
}

int KeyDefaults::knownCount() const
{
    int n = 0;
    for (const Default &d : m_defaults)
        n += d.paletteIndex >= 0 ? 1 : 0;
    return n;
}

int KeyDefaults::paletteIndex(int key) const
{
    return key >= 0 && key < m_defaults.size() ? m_defaults.at(key).paletteIndex : -1;
}

kc_t KeyDefaults::defaultRecord(int key) const
{
    return isKnown(key) ? m_defaults.at(key).record : kc_t{};
}

KeyDefaults::State KeyDefaults::state(int key, const kc_t &current) const
{
    if (!isKnown(key))
        return State::Unknown;
    return m_defaults.at(key).record.sameKey(current) ? State::Default : State::Changed;
}

QVector<KeyDefaults::State> KeyDefaults::states(const kc_t *codes, int count) const
{
    QVector<State> out;
    if (!codes || count <= 0)
        return out;
    out.reserve(count);
    for (int k = 0; k < count; ++k)
        out.append(state(k, codes[k]));
    return out;
}

QVector<int> KeyDefaults::changedKeys(const kc_t *codes, int count) const
{
    QVector<int> out;
    if (!codes)
        return out;
    for (int k = 0; k < count; ++k) {
        if (state(k, codes[k]) == State::Changed)
            out.append(k);
    }
    return out;
}

bool KeyDefaults::resetRecord(int key, const kc_t &current, kc_t *out) const
{
    if (!out || !isKnown(key))
        return false;
    const kc_t &d = m_defaults.at(key).record;
    kc_t r = current;
    r.setType(d.type());
    r.setStype(d.stype());
    r.setCode(d.code());
    *out = r;
    return true;
}

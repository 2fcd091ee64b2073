#include "widget/keysearch.h"

#include "main/apppaths.h"
#include "widget/boardinfo.h"
#include "widget/data.h"
#include "widget/keyusage.h"

#include <QFile>
#include <QXmlStreamReader>

#include <algorithm>
#include <tuple>
#include <vector>

namespace {

constexpr auto kb = keyboardUsage;
constexpr auto media = consumerUsage;
constexpr auto sys = systemUsage;

struct SynonymEntry
{
    const char *terms; // UTF-8, separated by '|'
    std::vector<KeyUsage> keys;
};

// Words people type for keys whose texts do not say them, in English and
// Chinese. Each group lists its keys most wanted first.
const std::vector<SynonymEntry> &synonymTable()
{
    static const std::vector<SynonymEntry> table = {
        {"vol|volume|sound|loudness|音量|声音",
         {media(0xE9), media(0xEA), media(0xE2), kb(0x80), kb(0x81), kb(0x7F)}},
        {"mute|silence|静音", {media(0xE2), kb(0x7F)}},
        {"play|media|music|track|song|播放|暂停|媒体|音乐",
         {media(0xCD), media(0xB6), media(0xB5), media(0xB7), media(0xB4), media(0xB3),
          media(0x183)}},
        {"prev|previous|上一曲|上一首", {media(0xB6)}},
        {"next|下一曲|下一首", {media(0xB5)}},
        {"停止", {media(0xB7), kb(0x78)}},
        {"esc|escape|退出", {kb(0x29)}},
        {"del|delete|fwddel|forwarddelete|删除", {kb(0x4C)}},
        {"bksp|backspace|bs|退格", {kb(0x2A)}},
        {"ins|insert|插入", {kb(0x49)}},
        {"pgup|pageup|上翻页|上一页", {kb(0x4B)}},
        {"pgdn|pgdown|pagedown|下翻页|下一页", {kb(0x4E)}},
        {"win|windows|super|gui|meta|cmd|command|logo|徽标|窗口", {kb(0xE3), kb(0xE7)}},
        {"ctrl|control|ctl|控制", {kb(0xE0), kb(0xE4)}},
        {"alt|option|opt|altgr", {kb(0xE2), kb(0xE6)}},
        {"enter|return|ret|回车", {kb(0x28), kb(0x58)}},
        {"caps|capslock|大写|大写锁定", {kb(0x39)}},
        {"prt|print|prtsc|prtscr|printscreen|screenshot|截图|截屏", {kb(0x46)}},
        {"space|spacebar|空格", {kb(0x2C)}},
        {"制表", {kb(0x2B)}},
        {"arrow|cursor|方向", {kb(0x52), kb(0x51), kb(0x50), kb(0x4F)}},
        {"num|numlock|数字锁", {kb(0x53)}},
        {"brightness|bright|screen|亮度", {media(0x6F), media(0x70)}},
        {"power|shutdown|电源|关机", {sys(0x81), kb(0x66)}},
        {"sleep|suspend|睡眠|休眠", {sys(0x82)}},
        {"wake|唤醒", {sys(0x83)}},
        {"计算器", {media(0x192)}},
        {"email|邮件", {media(0x18A)}},
        {"搜索", {media(0x221)}},
        {"browser|web|internet|浏览器",
         {media(0x223), media(0x224), media(0x225), media(0x227), media(0x22A), media(0x221)}},
        {"lockscreen|锁屏", {media(0x19E)}},
        {"mouse|click|button|鼠标",
         {{3, 0, 0x01}, {3, 0, 0x02}, {3, 0, 0x04}, {3, 0, 0x08}, {3, 0, 0x10}}},
        {"wheel|scroll|滚轮", {{3, 1, 1}, {3, 1, 2}, {3, 1, 3}, {3, 1, 4}}},
        {"layer|fn|层",
         {{4, 0, 0}, {4, 0, 1}, {4, 0, 2}, {4, 0, 3}, {4, 1, 0}, {4, 1, 1}, {4, 1, 2}, {4, 1, 3}}},
        {"light|backlight|rgb|lighting|灯|灯光|背光",
         {{5, 0, 1}, {5, 0, 2}, {5, 0, 3}, {5, 0, 4}, {5, 0, 5}, {5, 0, 6}, {5, 0, 7}}},
        {"bluetooth|wireless|蓝牙", {{5, 1, 1}, {5, 1, 2}, {5, 1, 3}}},
        {"有线", {{5, 1, 0}}},
        {"锁", {{0, 0, KeyDesc::kLockCode}}},
        {"nothing|disable|empty|blank|无|禁用", {{0, 0, 0}}},
    };
    return table;
}

bool isBlank(const QString &text)
{
    return text.trimmed().isEmpty();
}

// The sort key of a hit: how it matched (shown version, synonyms, other
// version), then the field or the position in a synonym group, then the
// palette position.
struct Rank
{
    int bucket = 0;
    int sub = 0;
    bool operator<(const Rank &o) const
    {
        return std::tie(bucket, sub) < std::tie(o.bucket, o.sub);
    }
};
constexpr int kSynonymBucket = KeySearch::Synonym;
constexpr int kOtherVersionBucket = KeySearch::Synonym + 1;

// Names in the order of the table's coded key elements (the order that
// labels the static layout), also those of keys drawn with a picture.
QStringList tableNames(const QString &fileName)
{
    QStringList names;
    QFile file(AppPaths::configDir() + fileName);
    if (fileName.isEmpty() || !file.open(QIODevice::ReadOnly))
        return names;
    QXmlStreamReader xml(&file);
    while (!xml.atEnd()) {
        xml.readNext();
        if (!xml.isStartElement() || xml.name() != QLatin1String("key") ||
            xml.attributes().value(QLatin1String("code")).isEmpty())
            continue;
        names.append(xml.attributes().value(QLatin1String("name")).toString());
    }
    return names;
}

} // namespace

QString KeySearch::fold(const QString &text)
{
    const QString folded = text.normalized(QString::NormalizationForm_KC).toCaseFolded();
    QString out;
    out.reserve(folded.size());
    for (const QChar c : folded) {
        if (!c.isSpace())
            out.append(c);
    }
    return out;
}

QStringList KeySearch::words(const QString &text)
{
    const QString s = text.normalized(QString::NormalizationForm_KC);
    QStringList out;
    QString word;
    auto flush = [&] {
        if (!word.isEmpty())
            out.append(word.toCaseFolded());
        word.clear();
    };
    for (int i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (!c.isLetterOrNumber()) {
            flush();
            continue;
        }
        // A new word starts at an upper-case letter after a lower-case one
        // ("PgUp") or at the last capital of a run before lower case ("LShift").
        if (c.isUpper() && i > 0) {
            const QChar before = s.at(i - 1);
            const bool nextLower = i + 1 < s.size() && s.at(i + 1).isLower();
            if (before.isLower() || (before.isUpper() && nextLower))
                flush();
        }
        word.append(c);
    }
    flush();
    return out;
}

void KeySearch::addTexts(Key *key, int version, const KeyDesc &desc)
{
    auto add = [&](const QString &text, bool alias) {
        if (isBlank(text))
            return;
        Text t;
        t.folded = fold(text);
        t.words = words(text);
        t.alias = alias;
        key->texts[version].append(t);
    };
    add(desc.alias, true);
    add(desc.legend, true);
    add(desc.name, false);
}

KeySearch::KeySearch(const QVector<KeyDesc> &windows, const QVector<KeyDesc> &mac)
{
    const QVector<KeyDesc> *versions[kVersions] = {&windows, &mac};
    m_keys.resize(std::max(windows.size(), mac.size()));
    for (int v = 0; v < kVersions; ++v) {
        for (int i = 0; i < versions[v]->size(); ++i)
            addTexts(&m_keys[i], v, versions[v]->at(i));
    }
    // Identities come from the first version that has the key; both tables
    // give every key the same one.
    for (int i = 0; i < m_keys.size(); ++i) {
        const KeyDesc &d = i < windows.size() ? windows.at(i) : mac.at(i);
        m_keys[i].type = d.type;
        m_keys[i].stype = d.stype;
        m_keys[i].code = d.code;
    }
    for (const SynonymEntry &entry : synonymTable()) {
        SynonymGroup group;
        for (const QString &term : QString::fromUtf8(entry.terms).split(QLatin1Char('|')))
            group.terms.append(fold(term));
        for (const KeyUsage &id : entry.keys) {
            for (int i = 0; i < m_keys.size(); ++i) {
                const Key &k = m_keys.at(i);
                if (k.type == id.type && k.stype == id.stype && k.code == id.code) {
                    group.indices.append(i);
                    break;
                }
            }
        }
        if (!group.indices.isEmpty())
            m_synonyms.append(group);
    }
}

QVector<KeySearch::Hit> KeySearch::find(const QString &text, Version shown) const
{
    QVector<Hit> hits;
    const QString t = fold(text);
    if (t.isEmpty())
        return hits;

    QVector<Rank> best(m_keys.size());
    QVector<Hit> found(m_keys.size());
    auto offer = [&](int index, Match match, bool other, int bucket, int sub) {
        const Rank rank{bucket, sub};
        if (found[index].index < 0 || rank < best[index]) {
            best[index] = rank;
            found[index] = Hit{index, match, other};
        }
    };

    for (int i = 0; i < m_keys.size(); ++i) {
        for (int v = 0; v < kVersions; ++v) {
            const bool other = v != shown;
            for (const Text &x : m_keys.at(i).texts[v]) {
                Match match;
                if (x.folded == t)
                    match = Exact;
                else if (x.folded.startsWith(t))
                    match = Prefix;
                else if (std::any_of(x.words.cbegin(), x.words.cend(),
                                     [&](const QString &w) { return w.startsWith(t); }))
                    match = WordPrefix;
                else if (x.folded.contains(t))
                    match = Substring;
                else
                    continue;
                offer(i, match, other, other ? kOtherVersionBucket + match : match,
                      x.alias ? 0 : 1);
            }
        }
    }

    // A short Latin text names a synonym only whole ("e" is no "esc"); one
    // CJK character is already a word.
    const bool prefixOk = t.size() >= 2 || t.at(0).unicode() > 0x7F;
    for (const SynonymGroup &group : m_synonyms) {
        const bool named =
            std::any_of(group.terms.cbegin(), group.terms.cend(), [&](const QString &term) {
                return term == t || (prefixOk && term.startsWith(t));
            });
        if (!named)
            continue;
        for (int k = 0; k < group.indices.size(); ++k)
            offer(group.indices.at(k), Synonym, false, kSynonymBucket, k);
    }

    for (const Hit &h : found) {
        if (h.index >= 0)
            hits.append(h);
    }
    std::stable_sort(hits.begin(), hits.end(),
                     [&](const Hit &a, const Hit &b) { return best[a.index] < best[b.index]; });
    return hits;
}

QVector<int> KeySearch::indices(const QString &text, Version shown) const
{
    QVector<int> out;
    for (const Hit &h : find(text, shown))
        out.append(h.index);
    return out;
}

bool KeySearch::loadPalette(Data *data, QVector<KeyDesc> *windows, QVector<KeyDesc> *mac)
{
    if (!data || !windows || !mac)
        return false;
    if (data->json().isEmpty()) {
        QVector<BoardInfo *> boards;
        if (!data->parseConfigXML(&boards, QStringLiteral("config.xml")))
            return false;
    }
    QVector<KeyDesc> keys;
    QString path;
    if (data->json().isEmpty() || !data->parseJsonFileForFix(&keys, data->json(), &path))
        return false;
    const std::pair<QVector<KeyDesc> *, QString> versions[] = {{windows, data->xmlWin()},
                                                               {mac, data->xmlMac()}};
    for (const auto &[out, table] : versions) {
        *out = keys;
        if (table.isEmpty() || !data->parseStaticXML(out, table))
            continue;
        const QStringList names = tableNames(table);
        for (int i = 0; i < out->size() && i < names.size(); ++i)
            (*out)[i].name = names.at(i);
    }
    return true;
}

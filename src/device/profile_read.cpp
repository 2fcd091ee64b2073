// Reading a profile document. Everything is checked before the profile is
// handed out: a document that is cut short, damaged, of another format or a
// newer version, or holds a value a keyboard cannot take is refused whole,
// with the place of the first problem.

#include "device/profile.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QSet>

#include <cmath>
#include <cstring>
#include <functional>

namespace {

class Reader
{
public:
    ProfileProblem problem = ProfileProblem::None;
    QString detail;

    bool ok() const { return problem == ProfileProblem::None; }

    bool fail(ProfileProblem p, const QString &path, const QString &what)
    {
        if (ok()) {
            problem = p;
            detail = what.isEmpty() ? path : path + QStringLiteral(": ") + what;
        }
        return false;
    }

    // A member that must be there.
    bool member(const QJsonObject &o, const QString &path, const char *name, QJsonValue *out)
    {
        const QJsonValue v = o.value(QLatin1String(name));
        if (v.isUndefined())
            return fail(ProfileProblem::Missing, join(path, name), QStringLiteral("missing"));
        *out = v;
        return true;
    }

    bool object(const QJsonValue &v, const QString &path, QJsonObject *out)
    {
        if (!v.isObject())
            return fail(ProfileProblem::OutOfRange, path, QStringLiteral("not an object"));
        *out = v.toObject();
        return true;
    }

    bool objectMember(const QJsonObject &o, const QString &path, const char *name, QJsonObject *out)
    {
        QJsonValue v;
        return member(o, path, name, &v) && object(v, join(path, name), out);
    }

    bool integer(const QJsonValue &v, const QString &path, qint64 lo, qint64 hi, qint64 *out)
    {
        const double d = v.toDouble(std::nan(""));
        if (!v.isDouble() || !std::isfinite(d) || std::floor(d) != d)
            return fail(ProfileProblem::OutOfRange, path, QStringLiteral("not a whole number"));
        if (d < double(lo) || d > double(hi))
            return fail(
                ProfileProblem::OutOfRange, path,
                QStringLiteral("%1 is not within %2..%3").arg(d, 0, 'f', 0).arg(lo).arg(hi));
        *out = qint64(d);
        return true;
    }

    bool integerMember(const QJsonObject &o, const QString &path, const char *name, qint64 lo,
                       qint64 hi, qint64 *out)
    {
        QJsonValue v;
        return member(o, path, name, &v) && integer(v, join(path, name), lo, hi, out);
    }

    bool hex(const QJsonValue &v, const QString &path, int bytes, QByteArray *out)
    {
        static const QRegularExpression hexDigits(QStringLiteral("^[0-9a-fA-F]*$"));
        const QString s = v.toString();
        if (!v.isString() || s.size() != 2 * bytes || !hexDigits.match(s).hasMatch())
            return fail(ProfileProblem::OutOfRange, path,
                        QStringLiteral("not %1 hexadecimal digits").arg(2 * bytes));
        *out = QByteArray::fromHex(s.toLatin1());
        return true;
    }

    bool hexMember(const QJsonObject &o, const QString &path, const char *name, int bytes,
                   QByteArray *out)
    {
        QJsonValue v;
        return member(o, path, name, &v) && hex(v, join(path, name), bytes, out);
    }

    template <typename T>
    bool recordMember(const QJsonObject &o, const QString &path, const char *name, T *record)
    {
        QByteArray raw;
        if (!hexMember(o, path, name, int(sizeof(T)), &raw))
            return false;
        std::memcpy(static_cast<void *>(record), raw.constData(), sizeof(T));
        return true;
    }

    bool text(const QJsonValue &v, const QString &path, QString *out)
    {
        if (!v.isString())
            return fail(ProfileProblem::OutOfRange, path, QStringLiteral("not a text"));
        *out = v.toString();
        return true;
    }

    bool flag(const QJsonValue &v, const QString &path, bool *out)
    {
        if (!v.isBool())
            return fail(ProfileProblem::OutOfRange, path, QStringLiteral("not true or false"));
        *out = v.toBool();
        return true;
    }

    // An array of exactly `count` objects, each naming its own index in
    // `indexName` (0..count-1, each once); `each` gets (index, object, path).
    bool entries(const QJsonObject &o, const QString &path, const char *name, int count,
                 const char *indexName,
                 const std::function<bool(int, const QJsonObject &, const QString &)> &each)
    {
        QJsonValue v;
        if (!member(o, path, name, &v))
            return false;
        const QString arrayPath = join(path, name);
        if (!v.isArray())
            return fail(ProfileProblem::OutOfRange, arrayPath, QStringLiteral("not a list"));
        const QJsonArray a = v.toArray();
        if (a.size() != count)
            return fail(ProfileProblem::Missing, arrayPath,
                        QStringLiteral("%1 entries where %2 belong").arg(a.size()).arg(count));
        QVector<bool> seen(count, false);
        for (int i = 0; i < a.size(); ++i) {
            const QString entryPath = QStringLiteral("%1[%2]").arg(arrayPath).arg(i);
            QJsonObject entry;
            qint64 index = 0;
            if (!object(a.at(i), entryPath, &entry) ||
                !integerMember(entry, entryPath, indexName, 0, count - 1, &index))
                return false;
            if (seen[int(index)])
                return fail(ProfileProblem::OutOfRange, join(entryPath, indexName),
                            QStringLiteral("%1 is listed twice").arg(index));
            seen[int(index)] = true;
            if (!each(int(index), entry, entryPath))
                return false;
        }
        return true;
    }

    static QString join(const QString &path, const char *name)
    {
        return path.isEmpty() ? QString::fromLatin1(name)
                              : path + QLatin1Char('.') + QLatin1String(name);
    }
};

// A group of maps: {"active": n, "maps": [{"map": m, <list>: [...]}]}.
bool readMaps(Reader &r, const QJsonObject &doc, const char *group, const char *listName,
              int mapCount, int entries, int entrySize, int *active, QVector<ProfileMap> *maps,
              const std::function<bool(const QJsonObject &, const QString &, char *)> &entry)
{
    QJsonObject o;
    if (!r.objectMember(doc, QString(), group, &o))
        return false;
    const QString path = QString::fromLatin1(group);
    qint64 a = -1;
    if (!r.integerMember(o, path, "active", -1, 127, &a))
        return false;
    *active = int(a);
    QJsonValue v;
    if (!r.member(o, path, "maps", &v))
        return false;
    const QString mapsPath = path + QStringLiteral(".maps");
    if (!v.isArray())
        return r.fail(ProfileProblem::OutOfRange, mapsPath, QStringLiteral("not a list"));
    const QJsonArray list = v.toArray();
    if (list.size() != mapCount)
        return r.fail(ProfileProblem::Missing, mapsPath,
                      QStringLiteral("%1 maps where %2 belong").arg(list.size()).arg(mapCount));
    QSet<int> seen;
    for (int i = 0; i < list.size(); ++i) {
        const QString mapPath = QStringLiteral("%1[%2]").arg(mapsPath).arg(i);
        QJsonObject m;
        qint64 index = 0;
        if (!r.object(list.at(i), mapPath, &m) ||
            !r.integerMember(m, mapPath, "map", 0, 126, &index))
            return false;
        if (seen.contains(int(index)))
            return r.fail(ProfileProblem::OutOfRange, mapPath + QStringLiteral(".map"),
                          QStringLiteral("map %1 is listed twice").arg(index));
        seen.insert(int(index));
        ProfileMap map;
        map.index = int(index);
        map.data = QByteArray(entries * entrySize, '\0');
        if (!r.entries(m, mapPath, listName, entries, "key",
                       [&](int key, const QJsonObject &e, const QString &p) {
                           return entry(e, p, map.data.data() + key * entrySize);
                       }))
            return false;
        maps->append(map);
    }
    return true;
}

bool readHost(Reader &r, const QJsonObject &o, const QString &path, ShortcutsFile::Item *item)
{
    qint64 n = 0;
    if (!r.integerMember(o, path, "hitype", -1, 63, &n))
        return false;
    item->hitype = int(n);
    const QJsonValue text = o.value(QLatin1String("text"));
    if (!text.isUndefined() && !r.text(text, Reader::join(path, "text"), &item->text))
        return false;
    auto strings = [&](const char *name, QString *out, int max) {
        const QJsonValue v = o.value(QLatin1String(name));
        if (v.isUndefined())
            return true;
        const QString p = Reader::join(path, name);
        if (!v.isArray() || v.toArray().size() > max)
            return r.fail(ProfileProblem::OutOfRange, p,
                          QStringLiteral("not a list of at most %1 texts").arg(max));
        const QJsonArray a = v.toArray();
        for (int i = 0; i < a.size(); ++i) {
            if (!r.text(a.at(i), QStringLiteral("%1[%2]").arg(p).arg(i), &out[i]))
                return false;
        }
        return true;
    };
    if (!strings("buttons", item->btn, 4) || !strings("keyList", item->keyList, 9))
        return false;
    const QJsonValue led = o.value(QLatin1String("ledIndex"));
    if (!led.isUndefined()) {
        if (!r.integer(led, Reader::join(path, "ledIndex"), -1, 255, &n))
            return false;
        item->ledIndex = int(n);
    }
    const QJsonValue macroName = o.value(QLatin1String("macroName"));
    if (!macroName.isUndefined() &&
        !r.text(macroName, Reader::join(path, "macroName"), &item->macroName))
        return false;
    const QJsonValue count = o.value(QLatin1String("macroCount"));
    if (!count.isUndefined()) {
        if (!r.integer(count, Reader::join(path, "macroCount"), 0, 65535, &n))
            return false;
        item->macroCount = int(n);
    }
    return true;
}

bool readBody(Reader &r, const QJsonObject &doc, KeyboardProfile *p)
{
    QJsonObject kb;
    if (!r.objectMember(doc, QString(), "keyboard", &kb))
        return false;
    const QString k = QStringLiteral("keyboard");
    QJsonValue v;
    qint64 keys = 0, keyMaps = 0, colourMaps = 0, modeMaps = 0, lighting = 0, functions = 0,
           macros = 0;
    if (!r.member(kb, k, "board", &v) || !r.text(v, k + QStringLiteral(".board"), &p->board) ||
        !r.hexMember(kb, k, "productName", 16, &p->productBlock) ||
        !r.hexMember(kb, k, "deviceId", 12, &p->deviceId) || !r.member(kb, k, "family", &v) ||
        !r.text(v, k + QStringLiteral(".family"), &p->family) ||
        !r.integerMember(kb, k, "keys", 1, 255, &keys) ||
        !r.integerMember(kb, k, "keyMaps", 0, 127, &keyMaps) ||
        !r.integerMember(kb, k, "colourMaps", 0, 127, &colourMaps) ||
        !r.integerMember(kb, k, "modeMaps", 0, 127, &modeMaps) ||
        !r.integerMember(kb, k, "lightingRecords", 0, 255, &lighting) ||
        !r.integerMember(kb, k, "keyFunctions", 0, 255, &functions) ||
        !r.integerMember(kb, k, "macroSlots", 0, 255, &macros) ||
        !r.member(kb, k, "bluetooth", &v) ||
        !r.flag(v, k + QStringLiteral(".bluetooth"), &p->bluetooth))
        return false;
    static const QRegularExpression familyForm(QStringLiteral("^[0-9a-fA-F]{4}:[0-9a-fA-F]{4}$"));
    if (!familyForm.match(p->family).hasMatch())
        return r.fail(ProfileProblem::OutOfRange, k + QStringLiteral(".family"),
                      QStringLiteral("not vvvv:pppp"));
    auto version = [](const QJsonValue &value) {
        const QStringList parts = value.toString().split(QLatin1Char('.'));
        int n = 0;
        for (const QString &part : parts)
            n = n * (part.size() > 1 ? 100 : 10) + part.toInt();
        return uint16_t(qBound(0, n, 0xFFFF));
    };
    p->firmware = version(kb.value(QLatin1String("firmware")));
    p->hardware = version(kb.value(QLatin1String("hardware")));
    p->keyCount = int(keys);

    const QJsonValue layout = doc.value(QLatin1String("layout"));
    if (!layout.isUndefined()) {
        p->layout.resize(p->keyCount);
        if (!r.entries(doc, QString(), "layout", p->keyCount, "key",
                       [&](int key, const QJsonObject &e, const QString &path) {
                           QJsonValue t;
                           return r.member(e, path, "position", &t) &&
                                  r.text(t, path + QStringLiteral(".position"),
                                         &p->layout[key].position) &&
                                  r.member(e, path, "legend", &t) &&
                                  r.text(t, path + QStringLiteral(".legend"),
                                         &p->layout[key].legend);
                       }))
            return false;
    }

    if (!readMaps(r, doc, "keyMaps", "keys", int(keyMaps), p->keyCount, 4, &p->activeKeyMap,
                  &p->keyMaps, [&](const QJsonObject &e, const QString &path, char *to) {
                      QByteArray raw;
                      if (!r.hexMember(e, path, "kc", 4, &raw))
                          return false;
                      std::memcpy(to, raw.constData(), 4);
                      return true;
                  }))
        return false;

    qint64 entries = 0;
    QJsonObject group;
    if (!r.objectMember(doc, QString(), "colourMaps", &group) ||
        !r.integerMember(group, QStringLiteral("colourMaps"), "entries", 0, 255, &entries))
        return false;
    p->colourEntries = int(entries);
    static const QRegularExpression rgbForm(QStringLiteral("^#[0-9a-fA-F]{6}$"));
    if (!readMaps(r, doc, "colourMaps", "colours", int(colourMaps), p->colourEntries, 4,
                  &p->activeColourMap, &p->colourMaps,
                  [&](const QJsonObject &e, const QString &path, char *to) {
                      QJsonValue t;
                      QString rgb;
                      if (!r.member(e, path, "rgb", &t) ||
                          !r.text(t, path + QStringLiteral(".rgb"), &rgb))
                          return false;
                      if (!rgbForm.match(rgb).hasMatch())
                          return r.fail(ProfileProblem::OutOfRange, path + QStringLiteral(".rgb"),
                                        QStringLiteral("not #rrggbb"));
                      const uint rgbValue = rgb.midRef(1).toUInt(nullptr, 16);
                      qint64 pad = 0;
                      const QJsonValue padValue = e.value(QLatin1String("pad"));
                      if (!padValue.isUndefined() &&
                          !r.integer(padValue, path + QStringLiteral(".pad"), 0, 255, &pad))
                          return false;
                      to[0] = char(rgbValue & 0xFF);
                      to[1] = char((rgbValue >> 8) & 0xFF);
                      to[2] = char((rgbValue >> 16) & 0xFF);
                      to[3] = char(pad);
                      return true;
                  }))
        return false;

    if (!r.objectMember(doc, QString(), "modeMaps", &group) ||
        !r.integerMember(group, QStringLiteral("modeMaps"), "entries", 0, 255, &entries))
        return false;
    p->modeEntries = int(entries);
    if (!readMaps(r, doc, "modeMaps", "modes", int(modeMaps), p->modeEntries, 1, &p->activeModeMap,
                  &p->modeMaps, [&](const QJsonObject &e, const QString &path, char *to) {
                      qint64 mode = 0;
                      if (!r.integerMember(e, path, "mode", 0, 255, &mode))
                          return false;
                      *to = char(mode);
                      return true;
                  }))
        return false;

    p->lighting.resize(int(lighting));
    if (!r.entries(doc, QString(), "lighting", int(lighting), "record",
                   [&](int i, const QJsonObject &e, const QString &path) {
                       return r.recordMember(e, path, "raw", &p->lighting[i]);
                   }))
        return false;

    p->functions.resize(int(functions));
    if (!r.entries(doc, QString(), "keyFunctions", int(functions), "slot",
                   [&](int i, const QJsonObject &e, const QString &path) {
                       if (!r.recordMember(e, path, "raw", &p->functions[i]))
                           return false;
                       const QJsonValue host = e.value(QLatin1String("host"));
                       if (host.isUndefined() || !p->functions[i].inUse())
                           return true;
                       QJsonObject h;
                       ShortcutsFile::Item item;
                       item.id = p->functions[i].id();
                       item.hi = p->functions[i].hi();
                       if (!r.object(host, path + QStringLiteral(".host"), &h) ||
                           !readHost(r, h, path + QStringLiteral(".host"), &item))
                           return false;
                       p->functionHost.insert(i, item);
                       return true;
                   }))
        return false;

    p->macros.resize(int(macros));
    if (!r.entries(doc, QString(), "macros", int(macros), "slot",
                   [&](int i, const QJsonObject &e, const QString &path) {
                       ProfileMacro &m = p->macros[i];
                       QJsonValue frames;
                       if (!r.recordMember(e, path, "head", &m.head) ||
                           !r.member(e, path, "frames", &frames))
                           return false;
                       const QString framesPath = path + QStringLiteral(".frames");
                       if (!frames.isArray() || frames.toArray().size() > wk::kMacroFrameCapacity)
                           return r.fail(ProfileProblem::OutOfRange, framesPath,
                                         QStringLiteral("not a list of at most %1 frames")
                                             .arg(wk::kMacroFrameCapacity));
                       const QJsonArray list = frames.toArray();
                       if (list.size() != m.head.frameCount())
                           return r.fail(ProfileProblem::OutOfRange, framesPath,
                                         QStringLiteral("%1 frames, the head says %2")
                                             .arg(list.size())
                                             .arg(m.head.frameCount()));
                       for (int f = 0; f < list.size(); ++f) {
                           const QString fp = QStringLiteral("%1[%2]").arg(framesPath).arg(f);
                           QJsonObject fo;
                           qint64 ms = 0;
                           QByteArray report;
                           if (!r.object(list.at(f), fp, &fo) ||
                               !r.integerMember(fo, fp, "ms", 0, 65535, &ms) ||
                               !r.hexMember(fo, fp, "report", 8, &report))
                               return false;
                           mframe_t frame{};
                           frame.setTs(uint16_t(ms));
                           std::memcpy(&frame.modifiers, report.constData(), 8);
                           m.frames.append(frame);
                       }
                       return true;
                   }))
        return false;

    QJsonObject s;
    qint64 n = 0;
    const QString sp = QStringLiteral("settings");
    if (!r.objectMember(doc, QString(), "settings", &s) ||
        !r.integerMember(s, sp, "scanSpeedMs", 0, 0xFFFF, &n))
        return false;
    p->scanSpeed = uint16_t(n);
    if (!r.integerMember(s, sp, "nKey", 0, 255, &n))
        return false;
    p->nKey = uint8_t(n);
    if (!r.hexMember(s, sp, "userInfo", 48, &p->userInfo))
        return false;
    if (p->bluetooth) {
        if (!r.hexMember(s, sp, "bluetoothName", 12, &p->btName) ||
            !r.integerMember(s, sp, "sleepTimeMs", 0, 0xFFFFFFFFLL, &n))
            return false;
        p->sleepTimeMs = uint32_t(n);
    }
    return true;
}

// Whether a parse error lies at the end of the text: the document was cut.
bool endsEarly(const QByteArray &text, const QJsonParseError &error)
{
    switch (error.error) {
    case QJsonParseError::UnterminatedObject:
    case QJsonParseError::UnterminatedArray:
    case QJsonParseError::UnterminatedString:
        return true;
    default:
        break;
    }
    return error.offset >= text.trimmed().size() - 1 ||
           text.indexOf(QByteArray(1, '\0')) >= 0; // zero-filled tail of a lost write
}

void lineColumn(const QByteArray &text, int offset, int *line, int *column)
{
    offset = qBound(0, offset, int(text.size()));
    const int lineStart = offset > 0 ? text.lastIndexOf('\n', offset - 1) + 1 : 0;
    *line = int(text.left(lineStart).count('\n')) + 1;
    *column = offset - lineStart + 1;
}

} // namespace

namespace ProfileFile {

ProfileProblem fromJson(const QByteArray &text, KeyboardProfile *profile, QString *detail)
{
    *profile = KeyboardProfile();
    auto refuse = [&](ProfileProblem p, const QString &what) {
        if (detail)
            *detail = what;
        *profile = KeyboardProfile();
        return p;
    };
    if (text.trimmed().isEmpty())
        return refuse(ProfileProblem::Empty, QString());

    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(text, &error);
    if (error.error != QJsonParseError::NoError) {
        int line = 0;
        int column = 0;
        lineColumn(text, error.offset, &line, &column);
        const QString where =
            QStringLiteral("line %1, column %2: %3").arg(line).arg(column).arg(error.errorString());
        return refuse(endsEarly(text, error) ? ProfileProblem::Truncated : ProfileProblem::Damaged,
                      where);
    }
    const QJsonObject root = doc.object();
    const QJsonValue format = root.value(QLatin1String("format"));
    if (!doc.isObject() || format.toString() != QLatin1String(kFormat))
        return refuse(ProfileProblem::NotAProfile,
                      format.isString() ? QStringLiteral("format \"%1\"").arg(format.toString())
                                        : QStringLiteral("no format"));

    const QJsonValue version = root.value(QLatin1String("version"));
    const double v = version.toDouble(std::nan(""));
    if (!version.isDouble() || !std::isfinite(v) || v < 1)
        return refuse(ProfileProblem::OutOfRange, QStringLiteral("version: not 1 or above"));
    if (std::floor(v) > kVersion)
        return refuse(ProfileProblem::NewerVersion,
                      QStringLiteral("version %1; this program reads version %2")
                          .arg(std::floor(v))
                          .arg(kVersion));

    Reader reader;
    if (!readBody(reader, root, profile))
        return refuse(reader.problem, reader.detail);
    profile->original = root;
    if (detail)
        detail->clear();
    return ProfileProblem::None;
}

} // namespace ProfileFile

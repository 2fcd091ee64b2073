// The profile document: names beside raw values, the formatted JSON text,
// and reading with every check made before anything reaches a keyboard.

#include "device/profile.h"

#include "main/apppaths.h"
#include "widget/atomicfile.h"
#include "widget/data.h"
#include "widget/keydesc.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

quint64 keyId(uint16_t type, uint16_t stype, uint16_t code)
{
    return (quint64(type) << 32) | (quint64(stype) << 16) | code;
}

template <typename T> QString hexOf(const T &record)
{
    return QString::fromLatin1(
        QByteArray(reinterpret_cast<const char *>(&record), int(sizeof record)).toHex());
}

QString hexOf(const QByteArray &bytes)
{
    return QString::fromLatin1(bytes.toHex());
}

// ---------------------------------------------------------------------------
// Writing: members in a fixed order, and every entry that fits on one line
// (a key, a colour, a frame) on one line, so that a diff shows what changed.
// ---------------------------------------------------------------------------

// One order serves every object: each kind of object uses a part of it.
const char *const kMemberOrder[] = {
    "format",
    "version",
    "created",
    "program",
    "keyboard",
    "board",
    "productName",
    "family",
    "firmware",
    "hardware",
    "deviceId",
    "entries",
    "active",
    "maps",
    "map",
    "record",
    "slot",
    "key",
    "position",
    "legend",
    "name",
    "keys",
    "layout",
    "keyMaps",
    "colourMaps",
    "colours",
    "modeMaps",
    "modes",
    "lightingRecords",
    "lighting",
    "keyFunctions",
    "macroSlots",
    "macros",
    "bluetooth",
    "settings",
    "kc",
    "rgb",
    "pad",
    "mode",
    "raw",
    "effect",
    "cycle",
    "periods",
    "colourRandom",
    "randomOnPress",
    "direction",
    "highest",
    "lowest",
    "step",
    "levelDelay",
    "highestDelay",
    "periodDelay",
    "head",
    "used",
    "inUse",
    "hi",
    "function",
    "layers",
    "triggers",
    "host",
    "hitype",
    "text",
    "buttons",
    "ledIndex",
    "keyList",
    "macroName",
    "macroCount",
    "frames",
    "ms",
    "report",
    "held",
    "bluetoothName",
    "bluetoothText",
    "sleepTimeMs",
    "scanSpeedMs",
    "nKey",
    "userInfo",
};

int rankOf(const QString &member)
{
    const int n = int(sizeof kMemberOrder / sizeof kMemberOrder[0]);
    for (int i = 0; i < n; ++i) {
        if (member == QLatin1String(kMemberOrder[i]))
            return i;
    }
    return n;
}

QStringList orderedKeys(const QJsonObject &object)
{
    QStringList keys = object.keys();
    std::stable_sort(keys.begin(), keys.end(), [](const QString &a, const QString &b) {
        const int ra = rankOf(a);
        const int rb = rankOf(b);
        return ra != rb ? ra < rb : a < b;
    });
    return keys;
}

QByteArray scalarText(const QJsonValue &value)
{
    QJsonArray wrapper;
    wrapper.append(value);
    const QByteArray text = QJsonDocument(wrapper).toJson(QJsonDocument::Compact);
    return text.mid(1, text.size() - 2);
}

bool isScalar(const QJsonValue &v)
{
    return !v.isArray() && !v.isObject();
}

bool isFlat(const QJsonValue &v)
{
    if (isScalar(v))
        return true;
    if (v.isArray()) {
        const QJsonArray a = v.toArray();
        return std::all_of(a.begin(), a.end(), [](const QJsonValue &e) { return isScalar(e); });
    }
    const QJsonObject o = v.toObject();
    return std::all_of(o.begin(), o.end(), [](const QJsonValue &e) {
        return isScalar(e) || (e.isArray() && isFlat(e));
    });
}

QByteArray oneLine(const QJsonValue &v)
{
    if (isScalar(v))
        return scalarText(v);
    QByteArray out;
    if (v.isArray()) {
        out += '[';
        const QJsonArray a = v.toArray();
        for (int i = 0; i < a.size(); ++i)
            out += (i ? ", " : "") + oneLine(a.at(i));
        return out + ']';
    }
    const QJsonObject o = v.toObject();
    out += '{';
    bool first = true;
    for (const QString &key : orderedKeys(o)) {
        out += (first ? "" : ", ") + scalarText(key) + ": " + oneLine(o.value(key));
        first = false;
    }
    return out + '}';
}

void print(QByteArray &out, const QJsonValue &v, int indent)
{
    constexpr int kLineLimit = 120;
    if (isFlat(v)) {
        const QByteArray line = oneLine(v);
        if (isScalar(v) || v.isArray() || indent + line.size() <= kLineLimit) {
            out += line;
            return;
        }
    }
    const QByteArray inner(indent + 4, ' ');
    if (v.isArray()) {
        const QJsonArray a = v.toArray();
        if (a.isEmpty()) {
            out += "[]";
            return;
        }
        out += "[\n";
        for (int i = 0; i < a.size(); ++i) {
            out += inner;
            print(out, a.at(i), indent + 4);
            out += i + 1 < a.size() ? ",\n" : "\n";
        }
        out += QByteArray(indent, ' ') + ']';
        return;
    }
    const QJsonObject o = v.toObject();
    if (o.isEmpty()) {
        out += "{}";
        return;
    }
    out += "{\n";
    const QStringList keys = orderedKeys(o);
    for (int i = 0; i < keys.size(); ++i) {
        out += inner + scalarText(keys.at(i)) + ": ";
        print(out, o.value(keys.at(i)), indent + 4);
        out += i + 1 < keys.size() ? ",\n" : "\n";
    }
    out += QByteArray(indent, ' ') + '}';
}

// `fresh` with every member of `original` it does not have: unknown members
// survive a re-save, also inside entries (arrays merged element by element
// when they are as long as before).
QJsonValue withUnknown(const QJsonValue &fresh, const QJsonValue &original)
{
    if (fresh.isObject() && original.isObject()) {
        QJsonObject out = fresh.toObject();
        const QJsonObject old = original.toObject();
        for (auto it = old.begin(); it != old.end(); ++it)
            out.insert(it.key(),
                       out.contains(it.key()) ? withUnknown(out.value(it.key()), *it) : *it);
        return out;
    }
    if (fresh.isArray() && original.isArray()) {
        QJsonArray out = fresh.toArray();
        const QJsonArray old = original.toArray();
        if (out.size() != old.size())
            return out;
        for (int i = 0; i < out.size(); ++i)
            out[i] = withUnknown(out.at(i), old.at(i));
        return out;
    }
    return fresh;
}

QString position(const KeyboardProfile &p, int key)
{
    return key < p.layout.size() ? p.layout.at(key).position : QString();
}

QString colourText(const uint8_t *bgr0)
{
    return QStringLiteral("#%1%2%3")
        .arg(bgr0[2], 2, 16, QLatin1Char('0'))
        .arg(bgr0[1], 2, 16, QLatin1Char('0'))
        .arg(bgr0[0], 2, 16, QLatin1Char('0'));
}

QString reportKeys(const mframe_t &f, const ProfileNames &names)
{
    QStringList held;
    for (int b = 0; b < 8; ++b) {
        if (f.modifiers & (1 << b))
            held << names.usageName(uint8_t(0xE0 + b));
    }
    for (uint8_t k : f.keys) {
        if (k)
            held << names.usageName(k);
    }
    return held.join(QLatin1Char('+'));
}

QJsonObject lightingObject(int index, const la_t &r)
{
    return QJsonObject{
        {QStringLiteral("record"), index},
        {QStringLiteral("raw"), hexOf(r)},
        {QStringLiteral("effect"), r.effect()},
        {QStringLiteral("cycle"), r.cycleFlag()},
        {QStringLiteral("periods"), r.totalPeriodTimes()},
        {QStringLiteral("colourRandom"), r.colourRandom()},
        {QStringLiteral("randomOnPress"), r.randomColourOnPress()},
        {QStringLiteral("direction"),
         r.brightnessDirection() ? QStringLiteral("H2L") : QStringLiteral("L2H")},
        {QStringLiteral("highest"), r.highestLevel()},
        {QStringLiteral("lowest"), r.lowestLevel()},
        {QStringLiteral("step"), r.levelStep()},
        {QStringLiteral("levelDelay"), r.levelDelay()},
        {QStringLiteral("highestDelay"), r.highestDelay()},
        {QStringLiteral("periodDelay"), r.periodDelay()},
    };
}

QJsonObject hostObject(const ShortcutsFile::Item &item)
{
    QJsonObject host{{QStringLiteral("hitype"), item.hitype}};
    if (!item.text.isEmpty())
        host.insert(QStringLiteral("text"), item.text);
    QJsonArray buttons;
    for (const QString &b : item.btn)
        buttons.append(b);
    host.insert(QStringLiteral("buttons"), buttons);
    if (item.ledIndex != -1)
        host.insert(QStringLiteral("ledIndex"), item.ledIndex);
    if (std::any_of(std::begin(item.keyList), std::end(item.keyList),
                    [](const QString &s) { return !s.isEmpty(); })) {
        QJsonArray list;
        for (const QString &k : item.keyList)
            list.append(k);
        host.insert(QStringLiteral("keyList"), list);
    }
    if (item.hitype == E_SCT_MACRO) {
        host.insert(QStringLiteral("macroName"), item.macroName);
        host.insert(QStringLiteral("macroCount"), item.macroCount);
    }
    return host;
}

QJsonObject functionObject(int slot, const kf_t &e, const KeyboardProfile &p,
                           const ProfileNames &names)
{
    QJsonObject o{{QStringLiteral("slot"), slot},
                  {QStringLiteral("raw"), hexOf(e)},
                  {QStringLiteral("inUse"), e.inUse()}};
    if (!e.inUse())
        return o;
    o.insert(QStringLiteral("hi"), e.hi());
    if (const KF *f = names.function(e.hi()))
        o.insert(QStringLiteral("function"), f->name);
    o.insert(QStringLiteral("layers"), QString::asprintf("%02x", e.layerMask()));
    QJsonArray triggers;
    for (const kc_t &k : e.keys) {
        if (k.type() != 0)
            triggers.append(names.keyName(k));
    }
    o.insert(QStringLiteral("triggers"), triggers);
    const auto host = p.functionHost.constFind(slot);
    if (host != p.functionHost.constEnd())
        o.insert(QStringLiteral("host"), hostObject(*host));
    return o;
}

QJsonObject mapsObject(const QVector<ProfileMap> &maps, int active, const char *listName,
                       const std::function<QJsonObject(int key, const QByteArray &data)> &entry,
                       int entries, int entrySize)
{
    QJsonArray list;
    for (const ProfileMap &m : maps) {
        QJsonArray values;
        for (int k = 0; k < entries && (k + 1) * entrySize <= m.data.size(); ++k)
            values.append(entry(k, m.data.mid(k * entrySize, entrySize)));
        list.append(
            QJsonObject{{QStringLiteral("map"), m.index}, {QString::fromLatin1(listName), values}});
    }
    return QJsonObject{{QStringLiteral("active"), active}, {QStringLiteral("maps"), list}};
}

} // namespace

// ---------------------------------------------------------------------------
// Names
// ---------------------------------------------------------------------------

ProfileNames ProfileNames::fromConfig(const QString &kfFile)
{
    ProfileNames names;
    Data data;
    QVector<KeyDesc> keys;
    if (data.parseStaticKeyBtn(&keys)) {
        for (const KeyDesc &k : qAsConst(keys)) {
            QString name = k.name.trimmed();
            if (name.isEmpty())
                name = k.alias.trimmed();
            if (name.isEmpty())
                name = k.legend.trimmed();
            names.addKey(k.type, k.stype, k.code, name);
        }
    }
    if (!kfFile.isEmpty()) {
        QVector<KF> functions;
        parseKFXML(AppPaths::configDir() + kfFile, &functions);
        names.setFunctions(functions);
    }
    return names;
}

void ProfileNames::addKey(uint16_t type, uint16_t stype, uint16_t code, const QString &name)
{
    const quint64 id = keyId(type, stype, code);
    if (!m_keys.contains(id) && !name.isEmpty())
        m_keys.insert(id, name);
}

QString ProfileNames::keyName(const kc_t &entry) const
{
    return m_keys.value(keyId(entry.type(), entry.stype(), entry.code()));
}

QString ProfileNames::usageName(uint8_t usage) const
{
    const QString name = m_keys.value(keyId(1, 0, usage));
    return name.isEmpty() ? QString::asprintf("0x%02x", usage) : name;
}

const KF *ProfileNames::function(int hi) const
{
    for (const KF &f : m_functions) {
        if (f.hi == hi)
            return &f;
    }
    return nullptr;
}

// ---------------------------------------------------------------------------
// Layout positions
// ---------------------------------------------------------------------------

QVector<ProfileLayoutKey> profileLayoutFromFile(const QString &layoutFile)
{
    QVector<ProfileLayoutKey> out;
    if (layoutFile.isEmpty())
        return out;
    Data data;
    QVector<KeyDesc> keys;
    QString path;
    if (!data.parseJsonFileForFix(&keys, layoutFile, &path))
        return out;
    // Row by row as the file lists them, column by column within a row: the
    // matrix names the layout checker shows (A0, B0, ..., A1, ...).
    int row = -1;
    int col = 0;
    double lastY = std::nan("");
    for (KeyDesc k : qAsConst(keys)) {
        if (!(k.y == lastY)) {
            ++row;
            col = 0;
            lastY = k.y;
        }
        k.setRowCol(row, col++);
        out.append(ProfileLayoutKey{k.name, k.legend});
    }
    return out;
}

QVector<ProfileLayoutKey> profileLayoutOf(const QByteArray &productBlock)
{
    Data data;
    QVector<BoardInfo *> boards;
    if (!data.parseConfigXML(&boards, QStringLiteral("config.xml")))
        return {};
    const BoardInfo *board = Data::findBoard(boards, productBlock);
    return board ? profileLayoutFromFile(board->file) : QVector<ProfileLayoutKey>();
}

// ---------------------------------------------------------------------------
// The document
// ---------------------------------------------------------------------------

namespace ProfileFile {

QString familyOf(uint16_t vendorId, uint16_t productId)
{
    return QString::asprintf("%04x:%04x", vendorId, productId);
}

QByteArray toJson(const KeyboardProfile &p, const ProfileNames &names)
{
    QJsonObject keyboard{
        {QStringLiteral("board"), p.board},
        {QStringLiteral("productName"), hexOf(p.productBlock)},
        {QStringLiteral("family"), p.family},
        {QStringLiteral("firmware"), Data::versionString(p.firmware)},
        {QStringLiteral("hardware"), Data::versionString(p.hardware)},
        {QStringLiteral("deviceId"), hexOf(p.deviceId)},
        {QStringLiteral("keys"), p.keyCount},
        {QStringLiteral("keyMaps"), p.keyMaps.size()},
        {QStringLiteral("colourMaps"), p.colourMaps.size()},
        {QStringLiteral("modeMaps"), p.modeMaps.size()},
        {QStringLiteral("lightingRecords"), p.lighting.size()},
        {QStringLiteral("keyFunctions"), p.functions.size()},
        {QStringLiteral("macroSlots"), p.macros.size()},
        {QStringLiteral("bluetooth"), p.bluetooth},
    };

    QJsonObject doc{
        {QStringLiteral("format"), QString::fromLatin1(kFormat)},
        {QStringLiteral("version"), kVersion},
        {QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODate)},
        {QStringLiteral("program"), QStringLiteral("Lumory")},
        {QStringLiteral("keyboard"), keyboard},
    };
    if (!p.layout.isEmpty()) {
        QJsonArray layout;
        for (int k = 0; k < p.layout.size(); ++k)
            layout.append(QJsonObject{{QStringLiteral("key"), k},
                                      {QStringLiteral("position"), p.layout.at(k).position},
                                      {QStringLiteral("legend"), p.layout.at(k).legend}});
        doc.insert(QStringLiteral("layout"), layout);
    }

    doc.insert(QStringLiteral("keyMaps"),
               mapsObject(
                   p.keyMaps, p.activeKeyMap, "keys",
                   [&](int k, const QByteArray &raw) {
                       kc_t kc;
                       std::memcpy(&kc, raw.constData(), sizeof kc);
                       return QJsonObject{{QStringLiteral("key"), k},
                                          {QStringLiteral("position"), position(p, k)},
                                          {QStringLiteral("name"), names.keyName(kc)},
                                          {QStringLiteral("kc"), hexOf(raw)}};
                   },
                   p.keyCount, 4));
    QJsonObject colours = mapsObject(
        p.colourMaps, p.activeColourMap, "colours",
        [&](int k, const QByteArray &raw) {
            const auto *e = reinterpret_cast<const uint8_t *>(raw.constData());
            QJsonObject o{{QStringLiteral("key"), k},
                          {QStringLiteral("position"), position(p, k)},
                          {QStringLiteral("rgb"), colourText(e)}};
            if (e[3] != 0)
                o.insert(QStringLiteral("pad"), e[3]);
            return o;
        },
        p.colourEntries, 4);
    colours.insert(QStringLiteral("entries"), p.colourEntries);
    doc.insert(QStringLiteral("colourMaps"), colours);
    QJsonObject modes = mapsObject(
        p.modeMaps, p.activeModeMap, "modes",
        [&](int k, const QByteArray &raw) {
            return QJsonObject{{QStringLiteral("key"), k},
                               {QStringLiteral("position"), position(p, k)},
                               {QStringLiteral("mode"), uint8_t(raw.at(0))}};
        },
        p.modeEntries, 1);
    modes.insert(QStringLiteral("entries"), p.modeEntries);
    doc.insert(QStringLiteral("modeMaps"), modes);

    QJsonArray lighting;
    for (int i = 0; i < p.lighting.size(); ++i)
        lighting.append(lightingObject(i, p.lighting.at(i)));
    doc.insert(QStringLiteral("lighting"), lighting);

    QJsonArray functions;
    for (int i = 0; i < p.functions.size(); ++i)
        functions.append(functionObject(i, p.functions.at(i), p, names));
    doc.insert(QStringLiteral("keyFunctions"), functions);

    QJsonArray macros;
    for (int i = 0; i < p.macros.size(); ++i) {
        const ProfileMacro &m = p.macros.at(i);
        QJsonArray frames;
        for (const mframe_t &f : m.frames)
            frames.append(QJsonObject{
                {QStringLiteral("ms"), f.ts()},
                {QStringLiteral("report"),
                 QString::fromLatin1(
                     QByteArray(reinterpret_cast<const char *>(&f.modifiers), 8).toHex())},
                {QStringLiteral("held"), reportKeys(f, names)}});
        const QByteArray name(m.head.name, qstrnlen(m.head.name, km_t::kNameSize));
        macros.append(QJsonObject{{QStringLiteral("slot"), i},
                                  {QStringLiteral("head"), hexOf(m.head)},
                                  {QStringLiteral("name"), QString::fromLocal8Bit(name)},
                                  {QStringLiteral("used"), m.head.used()},
                                  {QStringLiteral("frames"), frames}});
    }
    doc.insert(QStringLiteral("macros"), macros);

    QJsonObject settings{{QStringLiteral("scanSpeedMs"), p.scanSpeed},
                         {QStringLiteral("nKey"), p.nKey},
                         {QStringLiteral("userInfo"), hexOf(p.userInfo)}};
    if (p.bluetooth) {
        settings.insert(QStringLiteral("bluetoothName"), hexOf(p.btName));
        settings.insert(
            QStringLiteral("bluetoothText"),
            QString::fromUtf8(p.btName.left(p.btName.indexOf('\0') < 0 ? p.btName.size()
                                                                       : p.btName.indexOf('\0'))));
        settings.insert(QStringLiteral("sleepTimeMs"), qint64(p.sleepTimeMs));
    }
    doc.insert(QStringLiteral("settings"), settings);

    QByteArray out;
    print(out, withUnknown(doc, p.original), 0);
    return out + '\n';
}

ProfileProblem write(const QString &path, const KeyboardProfile &profile, const ProfileNames &names,
                     QString *detail)
{
    QString error;
    if (!AtomicFile::write(path, toJson(profile, names), &error)) {
        if (detail)
            *detail = error;
        return ProfileProblem::WriteFailed;
    }
    return ProfileProblem::None;
}

ProfileProblem read(const QString &path, KeyboardProfile *profile, QString *detail,
                    const QString &family)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *profile = KeyboardProfile();
        if (detail)
            *detail = path + QStringLiteral(": ") + file.errorString();
        return ProfileProblem::Unreadable;
    }
    // A profile of a full keyboard is a few hundred kilobytes; anything far
    // larger is not one and is not read into memory whole.
    constexpr qint64 kMaxSize = 64 * 1024 * 1024;
    if (file.size() > kMaxSize) {
        *profile = KeyboardProfile();
        if (detail)
            *detail = QStringLiteral("%1 bytes").arg(file.size());
        return ProfileProblem::NotAProfile;
    }
    const ProfileProblem problem = fromJson(file.readAll(), profile, detail);
    if (problem != ProfileProblem::None || family.isEmpty() ||
        profile->family.compare(family, Qt::CaseInsensitive) == 0)
        return problem;
    if (detail)
        *detail = QStringLiteral("%1, this keyboard: %2").arg(profile->family, family);
    *profile = KeyboardProfile();
    return ProfileProblem::OtherFamily;
}

QString describe(ProfileProblem problem, const QString &detail, int langType)
{
    const bool zh = langType == 0;
    QString text;
    switch (problem) {
    case ProfileProblem::None:
        return QString();
    case ProfileProblem::Unreadable:
        text = zh ? QStringLiteral("无法打开配置文件。")
                  : QStringLiteral("The profile cannot be opened.");
        break;
    case ProfileProblem::Empty:
        text = zh ? QStringLiteral("配置文件是空的。") : QStringLiteral("The profile is empty.");
        break;
    case ProfileProblem::Truncated:
        text = zh ? QStringLiteral("配置文件不完整：它在中途结束。")
                  : QStringLiteral("The profile is cut short: it ends in the middle.");
        break;
    case ProfileProblem::Damaged:
        text = zh ? QStringLiteral("配置文件已损坏。") : QStringLiteral("The profile is damaged.");
        break;
    case ProfileProblem::NotAProfile:
        text = zh ? QStringLiteral("这不是 Lumory 键盘配置文件。")
                  : QStringLiteral("This is not a Lumory keyboard profile.");
        break;
    case ProfileProblem::NewerVersion:
        text = zh ? QStringLiteral("此配置文件由较新版本的 Lumory 写入，本版本无法读取。")
                  : QStringLiteral("This profile was written by a newer Lumory and cannot be "
                                   "read by this version.");
        break;
    case ProfileProblem::OtherFamily:
        text = zh ? QStringLiteral("此配置文件属于另一系列的键盘。")
                  : QStringLiteral("This profile belongs to a keyboard of another family.");
        break;
    case ProfileProblem::Missing:
        text = zh ? QStringLiteral("配置文件缺少必要的内容。")
                  : QStringLiteral("The profile lacks a part it needs.");
        break;
    case ProfileProblem::OutOfRange:
        text = zh ? QStringLiteral("配置文件中有超出范围的值。")
                  : QStringLiteral("The profile holds a value out of range.");
        break;
    case ProfileProblem::WriteFailed:
        text = zh ? QStringLiteral("无法写入配置文件。")
                  : QStringLiteral("The profile could not be written.");
        break;
    }
    return detail.isEmpty() ? text : text + QStringLiteral(" (") + detail + QLatin1Char(')');
}

} // namespace ProfileFile

// Keyboard profiles against the simulated keyboard, compared by the keyboard's
// own stored state (not the program's model): back-up, factory reset and
// restore; a restore of a matching keyboard writes nothing; a K108 profile
// carried to a T88; files that must be refused before anything is sent; an
// unplug at several points of a restore; Cancel.

#include "device/profileengine.h"
#include "main/apppaths.h"
#include "simsnapshot.h"
#include "testsupport.h"
#include "tst_device_fixture.h"
#include "widget/data.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <memory>

using namespace linktest;

namespace {

// Sub-commands that change what a keyboard stores (selecting a macro slot
// to read it does not).
bool isWrite(const QByteArray &f)
{
    static const QSet<int> writes = {0x1021, 0x1031, 0x1051, 0x1060, 0x2002, 0x2011,
                                     0x3002, 0x3011, 0x4020, 0x5002, 0x5040, 0x6002,
                                     0x6004, 0x6022, 0xB011, 0xB021};
    return writes.contains(byteAt(f, 0) << 8 | byteAt(f, 1));
}

int writesIn(const QList<QByteArray> &frames)
{
    return int(std::count_if(frames.begin(), frames.end(), isWrite));
}

QByteArray frames(int count, int seed)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        mframe_t f{};
        f.setTs(uint16_t(10 + i * seed));
        f.modifiers = uint8_t(i % 3 == 0 ? 0x02 : 0);
        f.keys[0] = uint8_t(4 + (i + seed) % 26);
        out.append(reinterpret_cast<const char *>(&f), sizeof f);
    }
    return out;
}

kf_t function(int slot, int hi, uint16_t trigger)
{
    kf_t e{};
    e.head[0] = uint8_t(slot);
    e.setInUse(true);
    e.setHi(uint8_t(hi));
    e.setLayerMask(0x05);
    e.keys[0].setType(1);
    e.keys[0].setCode(0xE0);
    e.keys[1].setType(1);
    e.keys[1].setCode(trigger);
    e.setKeyCount(2);
    e.setParam1(1);
    return e;
}

// A keyboard with something changed in every part it stores.
void customise(sim::SimKeyboard *kb, Device *d)
{
    QByteArray map = kb->keyCodes(1);
    map[5 * 4] = char(0x03); // Z with the lock bit
    map[5 * 4 + 1] = char(0x1D);
    kb->setKeyCodes(1, map);
    const int lastMap = kb->keyMapCount() - 1; // the C68 has fewer maps than the K108
    map = kb->keyCodes(lastMap);
    map[0] = char(map.at(0) | 0x01);
    map[40 * 4 + 1] = char(0x2C);
    kb->setKeyCodes(lastMap, map);
    if (kb->hasLighting()) {
        QByteArray colours = kb->keyColours(1);
        colours.replace(3 * 4, 8, QByteArray::fromHex("0102030004050600"));
        kb->setKeyColours(1, colours);
        QByteArray modes = kb->modes(0);
        modes[10] = char(7);
        modes[60] = char(31);
        kb->setModes(0, modes);
        QByteArray record = kb->lightingRecord(4);
        record[8] = char(0x12);
        kb->setLightingRecord(4, record);
        kb->pressColourMapKey(1);
        kb->pressModeMapKey(1);
    }
    const kf_t web = function(2, 1, 0x1A);
    kb->setKeyFunction(2, QByteArray(reinterpret_cast<const char *>(&web), sizeof web));
    const kf_t brightness = function(5, 10, 0x1B);
    kb->setKeyFunction(5,
                       QByteArray(reinterpret_cast<const char *>(&brightness), sizeof brightness));
    kb->setMacro(0, "Copy", frames(3, 7));
    kb->setMacro(3, "Long", frames(12, 3));
    if (kb->hasBluetooth()) {
        kb->setBluetoothName("XMy board");
        kb->setSleepTime(300000);
    }
    kb->pressLayerKey(2);
    QCOMPARE(d->setScanSpeed(4), WK_SUCCESS);
    QCOMPARE(d->setNKey(0), WK_SUCCESS);
    QCOMPARE(d->setUserInfo(QStringLiteral("owner")), WK_SUCCESS);
}

QString hostFile(const QByteArray &deviceId)
{
    return AppPaths::dataDir() + QLatin1Char('/') + DeviceFiles::deviceDirName(deviceId) +
           QStringLiteral("/shortcuts.xml");
}

void writeHost(const QByteArray &deviceId)
{
    ShortcutsFile::Item web;
    web.id = 2;
    web.hi = 1;
    web.hitype = E_SCT_WEB;
    web.text = QStringLiteral("https://example.org/lumory");
    web.btn[0] = QStringLiteral("Ctrl");
    web.btn[1] = QStringLiteral("W");
    QDir().mkpath(QFileInfo(hostFile(deviceId)).absolutePath());
    QCOMPARE(ShortcutsFile::save(hostFile(deviceId), {web}), ShortcutsFile::SaveStatus::Saved);
}

// The restore's name of a stored part of the simulated keyboard.
QString partName(const QString &part)
{
    static const QList<QPair<QString, QString>> names = {{"keyMap", "key map "},
                                                         {"colourMap", "colour map "},
                                                         {"modeMap", "mode map "},
                                                         {"lighting", "lighting record "},
                                                         {"function", "key function "},
                                                         {"macroHead", "macro "},
                                                         {"macroFrames", "macro "},
                                                         {"btName", "Bluetooth name"},
                                                         {"sleepTime", "sleep time"},
                                                         {"scanSpeed", "scan speed"},
                                                         {"nKey", "N-key rollover"},
                                                         {"userInfo", "user information"},
                                                         {"activeKeyMap", "active key map"},
                                                         {"activeColourMap", "active colour map"},
                                                         {"activeModeMap", "active mode map"}};
    for (const auto &n : names) {
        if (part == n.first)
            return n.second;
        if (part.startsWith(n.first) && part.at(n.first.size()).isDigit())
            return n.second + part.mid(n.first.size());
    }
    return part;
}

// One keyboard on a simulated bus, with the program's data in a scratch folder.
struct Rig
{
    explicit Rig(sim::Personality personality = sim::Personality::DualMode)
        : personality(personality)
    {
        bus.setReportLatencyUs(0);
        keyboard = bus.plug(personality);
        link = std::make_unique<Link>(&bus);
        device()->getDeviceInfo();
        context = ProfileContext::forDevice(device());
    }
    Device *device() const { return link->device; }
    // Plugs the keyboard in again (after it left the bus) on a fresh link.
    void replug()
    {
        const int index = keyboard->index();
        link.reset();
        keyboard = bus.plug(personality, index);
        link = std::make_unique<Link>(&bus);
        device()->getDeviceInfo();
    }
    ProfileResult backup(const QString &path)
    {
        return ProfileEngine(device(), context).backup(path);
    }
    ProfileResult restore(const QString &path, RestorePlan *plan = nullptr)
    {
        RestorePlan local;
        RestorePlan *p = plan ? plan : &local;
        ProfileEngine engine(device(), context);
        const ProfileResult planned = engine.plan(path, p);
        return planned.ok() ? engine.restore(*p) : planned;
    }

    TestSupport::ScratchAppDir app;
    sim::Personality personality;
    sim::SimBus bus;
    sim::SimKeyboard *keyboard = nullptr;
    std::unique_ptr<Link> link;
    ProfileContext context;
};

// The document of a backed-up K108, to be spoiled by the refusal cases.
QByteArray spoil(QByteArray text, const QByteArray &from, const QByteArray &to)
{
    const int at = text.indexOf(from);
    return at < 0 ? QByteArray() : text.replace(at, from.size(), to);
}

} // namespace

class TestProfile : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void backupResetRestore_data()
    {
        QTest::addColumn<int>("personality");
        QTest::newRow("K108") << int(sim::Personality::DualMode);
        QTest::newRow("T88") << int(sim::Personality::UsbOnly);
        QTest::newRow("C68") << int(sim::Personality::NoLighting);
    }
    void backupResetRestore()
    {
        QFETCH(int, personality);
        Rig rig{sim::Personality(personality)};
        customise(rig.keyboard, rig.device());
        const QByteArray id = rig.keyboard->deviceId();
        writeHost(id);
        const sim::StateSnapshot before = sim::snapshot(rig.keyboard);
        const QString path = rig.app.path() + QStringLiteral("/k.lumory");
        QVERIFY(rig.backup(path).ok());

        // Lost: the keyboard's settings and the host's shortcuts file.
        QCOMPARE(rig.device()->setFactoryReset(), WK_SUCCESS);
        QVERIFY(QFile::remove(hostFile(id)));
        QVERIFY(!sim::differences(before, sim::snapshot(rig.keyboard)).isEmpty());

        RestorePlan plan;
        const ProfileResult restored = rig.restore(path, &plan);
        QVERIFY2(restored.ok(), qPrintable(restored.message));
        QVERIFY(restored.remaining.isEmpty());
        QCOMPARE(plan.macros, 2);
        QVERIFY(plan.keyMaps >= 1 && plan.keys >= 1);
        QCOMPARE(sim::differences(before, sim::snapshot(rig.keyboard)), QStringList());
        QVector<ShortcutsFile::Item> items;
        QCOMPARE(ShortcutsFile::load(hostFile(id), &items), ShortcutsFile::LoadStatus::Ok);
        QCOMPARE(items.size(), 1);
        QCOMPARE(items.at(0).text, QStringLiteral("https://example.org/lumory"));

        // The same file again: read, found equal, nothing written.
        rig.keyboard->clearReceivedFrames();
        RestorePlan again;
        QVERIFY(rig.restore(path, &again).ok());
        QVERIFY(again.isEmpty());
        QVERIFY(!rig.keyboard->receivedFrames().isEmpty());
        QCOMPARE(writesIn(rig.keyboard->receivedFrames()), 0);
    }

    void carriedToAnotherBoard()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("k108.lumory"));
        sim::StateSnapshot k108;
        {
            Rig rig;
            customise(rig.keyboard, rig.device());
            k108 = sim::snapshot(rig.keyboard);
            QVERIFY(rig.backup(path).ok());
        }
        Rig rig{sim::Personality::UsbOnly};
        const sim::StateSnapshot t88 = sim::snapshot(rig.keyboard);
        RestorePlan plan;
        const ProfileResult restored = rig.restore(path, &plan);
        QVERIFY2(restored.ok(), qPrintable(restored.message));
        QVERIFY(plan.carried);

        // The numeric pad, the media keys and the ANSI backslash have no place on the T88.
        QCOMPARE(plan.droppedKeys.size(), 108 - 86);
        for (const char *key : {"Mute (Q0)", "Kp7 (R2)", "KpEnter (Q4)", "\\ (N2)"})
            QVERIFY2(plan.droppedKeys.contains(QLatin1String(key)), key);
        QCOMPARE(plan.uncoveredKeys, (QStringList{"ISO# (M3)", "ISO\\ (B4)"}));
        for (const char *part :
             {"colour map 2", "mode map 3", "Bluetooth name and sleep time", "key function 5"})
            QVERIFY2(plan.dropped.contains(QLatin1String(part)), part);

        // Each T88 key has the K108 key's entries: the same key by its legend.
        const QVector<ProfileLayoutKey> from = profileLayoutOf(sim::kDualModeProductName);
        const QVector<ProfileLayoutKey> to = rig.context.layout;
        auto k108Key = [&](const QString &legend) {
            for (int i = 0; i < from.size(); ++i) {
                if (from.at(i).legend == legend)
                    return i;
            }
            return -1;
        };
        for (int t = 0; t < to.size(); ++t) {
            const int s = k108Key(to.at(t).legend);
            for (int m = 0; m < 4; ++m) {
                const QByteArray want =
                    s >= 0 ? k108.value(QStringLiteral("keyMap%1").arg(m)).mid(s * 4, 4)
                           : t88.value(QStringLiteral("keyMap%1").arg(m)).mid(t * 4, 4);
                QCOMPARE(rig.keyboard->keyCodes(m).mid(t * 4, 4), want);
            }
            const QByteArray colour = s >= 0 ? k108.value("colourMap1").mid(s * 4, 4)
                                             : t88.value("colourMap1").mid(t * 4, 4);
            QCOMPARE(rig.keyboard->keyColours(1).mid(t * 4, 4), colour);
            const char mode = s >= 0 ? k108.value("modeMap0").at(s) : t88.value("modeMap0").at(t);
            QCOMPARE(rig.keyboard->modes(0).at(t), mode);
        }
        // The rest of the keyboard is the K108's, apart from what was dropped.
        const sim::StateSnapshot now = sim::snapshot(rig.keyboard);
        for (const QString &part : {QStringLiteral("lighting4"), QStringLiteral("function2"),
                                    QStringLiteral("macroHead3"), QStringLiteral("macroFrames3"),
                                    QStringLiteral("activeKeyMap"), QStringLiteral("userInfo")})
            QCOMPARE(now.value(part), k108.value(part));
        QCOMPARE(now.value("function5"), t88.value("function5"));
    }

    void refusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<int>("problem");
        QTest::addColumn<QString>("named");
        const auto p = [](ProfileProblem x) { return int(x); };
        QTest::newRow("truncated")
            << QByteArray("\"macros\"") << QByteArray() << p(ProfileProblem::Truncated) << "line";
        QTest::newRow("damaged") << QByteArray("\"lighting\": [") << QByteArray("\"lighting\": [}")
                                 << p(ProfileProblem::Damaged) << "line";
        QTest::newRow("empty") << QByteArray() << QByteArray() << p(ProfileProblem::Empty) << "";
        QTest::newRow("not a profile") << QByteArray("lumory-profile") << QByteArray("lumory-macro")
                                       << p(ProfileProblem::NotAProfile) << "lumory-macro";
        QTest::newRow("newer") << QByteArray("\"version\": 1") << QByteArray("\"version\": 2.1")
                               << p(ProfileProblem::NewerVersion) << "version 2";
        QTest::newRow("foreign") << QByteArray("1209:0001") << QByteArray("046d:c33c")
                                 << p(ProfileProblem::OtherFamily) << "046d:c33c";
        QTest::newRow("bad key code")
            << QByteArray("\"kc\": \"0229") << QByteArray("\"kc\": \"zz29")
            << p(ProfileProblem::OutOfRange) << "keyMaps.maps[0].keys[0].kc";
        QTest::newRow("mode out of range")
            << QByteArray("\"mode\": 0") << QByteArray("\"mode\": 300")
            << p(ProfileProblem::OutOfRange) << "300";
        QTest::newRow("key missing")
            << QByteArray("{\"key\": 107, \"position\": \"M5\", \"name\"")
            << QByteArray("{\"kez\": 107, \"position\": \"M5\", \"name\"")
            << p(ProfileProblem::Missing) << "keyMaps.maps[0].keys[107].key";
        QTest::newRow("frames cut")
            << QByteArray("\"head\": \"4303") << QByteArray("\"head\": \"4383")
            << p(ProfileProblem::OutOfRange) << "the head says";
    }
    void refusedBeforeAnythingIsSent()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(int, problem);
        QFETCH(QString, named);
        Rig rig;
        rig.keyboard->setMacro(3, "Long", frames(6, 3));
        const QString path = rig.app.path() + QStringLiteral("/k.lumory");
        QVERIFY(rig.backup(path).ok());
        QByteArray text = TestSupport::readFile(path);
        if (from.isEmpty())
            text.clear();
        else if (to.isEmpty())
            text = text.left(text.indexOf(from)); // cut off there
        else
            text = spoil(text, from, to);
        QVERIFY(from.isEmpty() || !text.isEmpty());
        QVERIFY(TestSupport::writeFile(path, text));

        rig.keyboard->clearReceivedFrames();
        RestorePlan plan;
        const ProfileResult r = ProfileEngine(rig.device(), rig.context).plan(path, &plan);
        QCOMPARE(int(r.status), int(ProfileResult::Status::Refused));
        QCOMPARE(int(r.problem), problem);
        QVERIFY2(r.message.contains(named), qPrintable(r.message));
        QCOMPARE(rig.keyboard->receivedFrames().size(), 0);
        QVERIFY(plan.isEmpty());
    }

    void unknownMembersKeptAndIgnored()
    {
        Rig rig;
        const QString path = rig.app.path() + QStringLiteral("/k.lumory");
        QVERIFY(rig.backup(path).ok());
        QByteArray text = TestSupport::readFile(path);
        text = spoil(text, "\"format\"", "\"note\": \"mine\", \"format\"");
        text = spoil(text, "\"record\": 4,", "\"record\": 4, \"tag\": [1, 2],");
        QVERIFY(TestSupport::writeFile(path, text));

        KeyboardProfile profile;
        QString detail;
        QCOMPARE(ProfileFile::read(path, &profile, &detail), ProfileProblem::None);
        QCOMPARE(ProfileFile::write(path, profile, rig.context.names), ProfileProblem::None);
        const QJsonObject doc = QJsonDocument::fromJson(TestSupport::readFile(path)).object();
        QCOMPARE(doc.value("note").toString(), QStringLiteral("mine"));
        QCOMPARE(doc.value("lighting").toArray().at(4).toObject().value("tag").toArray().size(), 2);
        // Keys are listed with their names beside the raw value, one per line.
        QVERIFY(TestSupport::readFile(path).contains(
            "{\"key\": 0, \"position\": \"A0\", \"name\": \"Esc\", \"kc\": \"02290000\"}"));

        RestorePlan plan;
        QVERIFY(rig.restore(path, &plan).ok());
        QVERIFY(plan.isEmpty());
    }

    void interruptedRestore_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("sub");
        QTest::addColumn<int>("skip"); // frames of that kind to let through first
        const int unplug = int(sim::FaultKind::Disconnect);
        QTest::newRow("unplug: first key-map write") << unplug << 0x20 << 0x11 << 0;
        QTest::newRow("unplug: key map read back") << unplug << 0x20 << 0x10 << 2;
        QTest::newRow("unplug: after a key function") << unplug << 0x40 << 0x10 << 0;
        QTest::newRow("unplug: macro 3 freed") << unplug << 0x50 << 0x02 << 1;
        QTest::newRow("unplug: inside macro 3's frames") << unplug << 0x50 << 0x40 << 3;
        QTest::newRow("unplug: macro 3's own head") << unplug << 0x50 << 0x02 << 2;
        QTest::newRow("unplug: settings") << unplug << 0xB0 << 0x11 << 0;
        // Colour writes are not answered with a status: only reading back
        // shows that the keyboard did not take them.
        QTest::newRow("colour write refused")
            << int(sim::FaultKind::ErrorStatus) << 0x30 << 0x11 << 0;
    }
    void interruptedRestore()
    {
        QFETCH(int, kind);
        QFETCH(int, command);
        QFETCH(int, sub);
        QFETCH(int, skip);
        Rig rig;
        customise(rig.keyboard, rig.device());
        const QByteArray id = rig.keyboard->deviceId();
        writeHost(id);
        const sim::StateSnapshot wanted = sim::snapshot(rig.keyboard);
        const QString path = rig.app.path() + QStringLiteral("/k.lumory");
        QVERIFY(rig.backup(path).ok());

        // Factory state, the host file lost, and another macro of as many
        // frames in slot 3 (it has to be overwritten frame by frame).
        auto reset = [&](RestorePlan *plan) {
            QCOMPARE(rig.device()->setFactoryReset(), WK_SUCCESS);
            QFile::remove(hostFile(id));
            QVERIFY(rig.keyboard->setMacro(3, "Other", frames(12, 5)));
            QVERIFY(ProfileEngine(rig.device(), rig.context).plan(path, plan).ok());
            rig.keyboard->clearReceivedFrames();
        };
        // A first restore shows where the frame of that kind goes...
        RestorePlan plan;
        reset(&plan);
        QVERIFY(ProfileEngine(rig.device(), rig.context).restore(plan).ok());
        const QList<QByteArray> sent = rig.keyboard->receivedFrames();
        int at = -1;
        for (int i = 0, seen = 0; i < sent.size() && at < 0; ++i) {
            if (byteAt(sent.at(i), 0) == command && byteAt(sent.at(i), 1) == sub && seen++ == skip)
                at = i;
        }
        QVERIFY(at >= 0);

        // ...and the same restore again goes wrong there.
        reset(&plan);
        const sim::StateSnapshot before = sim::snapshot(rig.keyboard);
        sim::Fault f = fault(sim::FaultKind(kind), command, sub, sim::kSimStatusBadState);
        f.atFrame = at;
        rig.keyboard->injectFault(f);
        const ProfileResult cut = ProfileEngine(rig.device(), rig.context).restore(plan);
        QCOMPARE(int(cut.status), int(ProfileResult::Status::Failed));
        QVERIFY(!cut.message.isEmpty());

        // What was written is whole, or the result names it as remaining;
        // a macro slot is never a macro with another's frames, and a
        // restored function has its host data.
        const sim::StateSnapshot between = sim::snapshot(rig.keyboard);
        for (const QString &part : sim::differences(wanted, between)) {
            const QString name = partName(part);
            const bool named = std::any_of(cut.remaining.begin(), cut.remaining.end(),
                                           [&](const QString &r) { return r.startsWith(name); });
            QVERIFY2(named, qPrintable(part + " is neither restored nor named: " +
                                       cut.remaining.join(", ")));
        }
        for (int slot = 0; slot < 16; ++slot) {
            const QString head = QStringLiteral("macroHead%1").arg(slot);
            const QString frames = QStringLiteral("macroFrames%1").arg(slot);
            auto is = [&](const sim::StateSnapshot &state) {
                return between.value(head) == state.value(head) &&
                       between.value(frames) == state.value(frames);
            };
            const bool empty = !(uint8_t(between.value(head).at(0)) & 0x40);
            QVERIFY2(is(wanted) || is(before) || empty, qPrintable(head));
        }
        QVector<ShortcutsFile::Item> items;
        ShortcutsFile::load(hostFile(id), &items);
        QCOMPARE(items.size(), between.value("function2") == wanted.value("function2") ? 1 : 0);

        if (kind == int(sim::FaultKind::Disconnect)) {
            QCOMPARE(rig.keyboard->receivedFrames().size(), at + 1);
            rig.replug();
        }
        const ProfileResult done = rig.restore(path);
        QVERIFY2(done.ok(), qPrintable(done.message));
        QCOMPARE(sim::differences(wanted, sim::snapshot(rig.keyboard)), QStringList());
    }

    void defaultBackupName()
    {
        QTemporaryDir docs;
        const QDate day(2024, 3, 15);
        const QString first = ProfileEngine::defaultBackupPath(docs.path(), "Lumory K108", day);
        QCOMPARE(first, docs.filePath("Lumory K108 2024-03-15.lumory"));
        QVERIFY(TestSupport::writeFile(first, "{}"));
        QCOMPARE(ProfileEngine::defaultBackupPath(docs.path(), "Lumory K108", day),
                 docs.filePath("Lumory K108 2024-03-15 2.lumory"));
        // The name comes from the keyboard: nothing in it leads out of the folder.
        QCOMPARE(ProfileEngine::defaultBackupPath(docs.path(), "../../x/..", day),
                 docs.filePath("x 2024-03-15.lumory"));
    }

    void cancel()
    {
        Rig rig;
        customise(rig.keyboard, rig.device());
        const sim::StateSnapshot wanted = sim::snapshot(rig.keyboard);
        const QString path = rig.app.path() + QStringLiteral("/k.lumory");
        QVERIFY(rig.backup(path).ok());
        QCOMPARE(rig.device()->setFactoryReset(), WK_SUCCESS);

        std::unique_ptr<ProfileTask> planTask(ProfileTask::plan(rig.device(), rig.context, path));
        planTask->start();
        QVERIFY(planTask->wait(30000));
        QVERIFY(planTask->result().ok());
        const RestorePlan plan = planTask->restorePlan();

        // Cancel once a third of the work is done; the run stops at the next exchange.
        std::unique_ptr<ProfileTask> task(ProfileTask::restore(rig.device(), rig.context, plan));
        ProfileTask *t = task.get();
        QList<int> done;
        connect(
            t, &ProfileTask::progress, t,
            [&done, t](int d, int total, const QString &) {
                done << d;
                if (3 * d >= total)
                    t->cancel();
            },
            Qt::DirectConnection);
        rig.keyboard->clearReceivedFrames();
        task->start();
        QVERIFY(task->wait(30000));
        QCOMPARE(int(task->result().status), int(ProfileResult::Status::Cancelled));
        QVERIFY(!task->result().remaining.isEmpty());
        QVERIFY(std::is_sorted(done.begin(), done.end()));
        const int sentAfterCancel = rig.keyboard->receivedFrames().size();
        QVERIFY(sentAfterCancel < 40);

        QVERIFY(rig.restore(path).ok());
        QCOMPARE(sim::differences(wanted, sim::snapshot(rig.keyboard)), QStringList());
    }
};

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"

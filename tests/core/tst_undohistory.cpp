// Taking changes back: which keys differ from a board's default map and what
// resetting them writes, and undo/redo of remaps, colours, modes, lighting
// records and map switches against the simulated keyboard's state, with
// writes the keyboard refuses.
#include "testsupport.h"
#include "tst_device_fixture.h"

#include "main/apppaths.h"
#include "main/undohistory.h"
#include "widget/data.h"
#include "widget/keydefaults.h"
#include "widget/keysearch.h"

#include <QSignalSpy>
#include <QtTest>

#include <map>

using namespace linktest;

namespace {

kc_t keyboardKey(uint16_t usage)
{
    kc_t r{};
    r.setType(1);
    r.setCode(usage);
    return r;
}

// "" when equal, else the parts that differ.
QString differences(const QStringList &actual, const QStringList &expected)
{
    QStringList out;
    for (int i = 0; i < std::max(actual.size(), expected.size()); ++i) {
        if (actual.value(i) != expected.value(i))
            out << actual.value(i).left(60) + QStringLiteral(" expected ") +
                       expected.value(i).left(60);
    }
    return out.join(QLatin1Char('\n'));
}

// A dual-mode keyboard loaded as the device session loads it.
struct Loaded : SimLink
{
    Loaded()
    {
        for (auto step :
             {&Device::getKCInfo, &Device::getCurKCMID, &Device::getCurKCM, &Device::getKRInfo,
              &Device::getCurKRMID, &Device::getCurKRM, &Device::getLMInfo, &Device::getCurLMMID,
              &Device::getCurLMM, &Device::getLAInfo, &Device::getAllLA})
            ok = ok && (device()->*step)() == WK_SUCCESS;
    }
    // All the pages can change on the keyboard, one line per part, and the
    // active maps as the model shows them.
    QStringList state() const
    {
        sim::SimKeyboard *kb = keyboard;
        const Device *d = device();
        QStringList s{QStringLiteral("maps %1 %2 %3")
                          .arg(kb->currentKeyMap())
                          .arg(kb->currentColourMap())
                          .arg(kb->currentModeMap())};
        for (int m = 0; m < 4; ++m)
            s << QStringLiteral("map%1 ").arg(m) + kb->keyCodes(m).toHex() + ' ' +
                     kb->keyColours(m).toHex() + ' ' + kb->modes(m).toHex();
        for (int i = 0; i < 32; ++i)
            s << QStringLiteral("record%1 ").arg(i) + kb->lightingRecord(i).toHex();
        s << QStringLiteral("model %1 %2 %3 ").arg(d->curKCM()).arg(d->curKRM()).arg(d->curLMM()) +
                 QByteArray(reinterpret_cast<const char *>(d->keyCodes()), d->kcCount() * 4)
                     .toHex() +
                 ' ' +
                 QByteArray(reinterpret_cast<const char *>(d->keyColours()), d->krCount() * 4)
                     .toHex() +
                 ' ' + QByteArray(reinterpret_cast<const char *>(d->modes()), d->lmCount()).toHex();
        return s;
    }
    UndoHistory::Writer writer()
    {
        return [this](const KeyboardEdit &e, const KeyboardEdit::Value &v) {
            ++writes;
            return UndoHistory::writeToDevice(device(), e, v);
        };
    }
    bool ok = true;
    int writes = 0;
};

const BoardInfo *boardOf(Data &data, sim::SimKeyboard *kb)
{
    QVector<BoardInfo *> boards;
    data.parseConfigXML(&boards, QStringLiteral("config.xml"));
    return Data::findBoard(boards, kb->productName());
}

} // namespace

class TestUndoHistory : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { AppPaths::setAppDir(TestSupport::sourceDataDir()); }
    void cleanupTestCase() { AppPaths::setAppDir(QString()); }

    void defaultsOfTheShippedBoards_data()
    {
        QTest::addColumn<int>("personality");
        QTest::addColumn<int>("functionKeys"); // keys changed in map 1 (F13-F24 on F1-F12)
        QTest::newRow("K108") << int(sim::Personality::DualMode) << 12;
        QTest::newRow("T88") << int(sim::Personality::UsbOnly) << 12;
        QTest::newRow("C68") << int(sim::Personality::NoLighting) << 0;
    }
    void defaultsOfTheShippedBoards()
    {
        QFETCH(int, personality);
        QFETCH(int, functionKeys);
        sim::SimBus bus;
        sim::SimKeyboard *kb = bus.plug(sim::Personality(personality));
        Data data;
        const BoardInfo *board = boardOf(data, kb);
        QVERIFY(board);
        const KeyDefaults defaults = KeyDefaults::load(&data, *board);
        QCOMPARE(defaults.size(), kb->keyCount());
        QCOMPARE(defaults.knownCount(), kb->keyCount());
        QVector<KeyDesc> layout;
        QString path;
        QVERIFY(data.parseJsonFileForFix(&layout, board->file, &path));
        auto changed = [&](int map) {
            const QByteArray codes = kb->keyCodes(map);
            QStringList legends;
            for (int k : defaults.changedKeys(reinterpret_cast<const kc_t *>(codes.constData()),
                                              kb->keyCount()))
                legends << layout.at(k).legend;
            return legends;
        };
        // The factory maps: the printed one, F13-F24 on the F row, Caps and
        // left Ctrl swapped.
        QCOMPARE(changed(0), QStringList());
        QCOMPARE(changed(1).size(), functionKeys);
        if (functionKeys)
            QCOMPARE(changed(1).first(), QStringLiteral("F1"));
        QCOMPARE(changed(2), (QStringList{"Caps", "LCtrl"}));

        // The tool tip names the default in the version shown: same palette position.
        QVector<KeyDesc> windows, mac;
        QVERIFY(KeySearch::loadPalette(&data, &windows, &mac));
        const int lwin = int(std::find_if(layout.cbegin(), layout.cend(),
                                          [](const KeyDesc &k) { return k.legend == "LWin"; }) -
                             layout.cbegin());
        QCOMPARE(mac.value(defaults.paletteIndex(lwin)).alias, QStringLiteral("LCmd"));
    }

    void unknownDefaultsAndTheLockBit()
    {
        KeyDesc esc, odd, blank;
        esc.legend = QStringLiteral("Esc");
        odd.legend = QStringLiteral("Hyper");
        blank.legend = QStringLiteral(" ");
        KeyDesc pal;
        pal.type = 1;
        pal.code = 0x29;
        pal.alias = QStringLiteral("Esc");
        const KeyDefaults defaults({esc, odd, blank}, {pal});
        const kc_t escape = keyboardKey(0x29);
        kc_t other = keyboardKey(0x04);
        other.setLock(true);
        other.extra = 0x5A;
        using S = KeyDefaults::State;
        const kc_t codes[4] = {other, escape, escape, escape};
        // Keys the layout cannot name, and keys beyond it, are never guessed.
        QCOMPARE(defaults.states(codes, 4),
                 (QVector<S>{S::Changed, S::Unknown, S::Unknown, S::Unknown}));
        kc_t out = other;
        QVERIFY(!defaults.resetRecord(1, escape, &out) && !defaults.resetRecord(3, escape, &out));
        // Reset writes the default code and keeps lock and byte 3, as a remap does.
        QVERIFY(defaults.resetRecord(0, other, &out));
        QVERIFY(out.sameKey(escape) && out.lock() && out.extra == 0x5A);
        // A locked key with its default code is not changed.
        QCOMPARE(defaults.state(0, out), S::Default);
        // Without a palette nothing is known.
        QCOMPARE(KeyDefaults({esc}, {}).knownCount(), 0);
    }

    // A series of edits of every kind, undone to the start and redone to the
    // end: after each step the keyboard holds what it held at that point.
    void undoAndRedoASeriesOfEdits()
    {
        Loaded s;
        QVERIFY(s.ok);
        Device *d = s.device();
        Data data;
        const KeyDefaults defaults = KeyDefaults::load(&data, *boardOf(data, s.keyboard));
        QCOMPARE(defaults.knownCount(), 108);
        UndoHistory history;
        QSignalSpy changes(&history, &UndoHistory::changed);
        QList<QStringList> states{s.state()};
        QVector<int> stepSizes;
        auto perform = [&](const QVector<KeyboardEdit> &step) {
            QCOMPARE(history.perform(step, s.writer()), WK_SUCCESS);
            states << s.state();
            stepSizes << int(step.size());
            QVERIFY(states.last() != states.at(states.size() - 2));
        };
        la_t record = *d->laRecord(3);
        record.setEffect(uint8_t(record.effect() ^ 5));
        record.setHighestLevel(17);

        perform({KeyboardEdit::remap(d, 0, keyboardKey(0x68))}); // Esc -> F13
        perform({KeyboardEdit::colour(d, 5, 0x123456)});
        // One click of the lighting page: colour and mode together.
        perform({KeyboardEdit::colour(d, 6, 0xABCDEF), KeyboardEdit::mode(d, 6, 9)});
        perform({KeyboardEdit::modeRecord(d, record)});
        perform({KeyboardEdit::keyMapSwitch(d, 2)});
        // "Reset map" on map 2: Caps and left Ctrl back in place, one step.
        QVector<KeyboardEdit> reset;
        for (int k : defaults.changedKeys(d->keyCodes(), d->kcCount())) {
            kc_t r{};
            QVERIFY(defaults.resetRecord(k, d->keyCode(k), &r));
            reset << KeyboardEdit::remap(d, k, r);
        }
        QCOMPARE(reset.size(), 2);
        perform(reset);
        QVERIFY(defaults.changedKeys(d->keyCodes(), d->kcCount()).isEmpty());
        kc_t locked = d->keyCode(1);
        locked.setLock(true);
        perform({KeyboardEdit::remap(d, 1, locked)}); // the lock key
        perform({KeyboardEdit::colourMapSwitch(d, 3)});
        perform({KeyboardEdit::modeMapSwitch(d, 1)});
        perform({KeyboardEdit::colour(d, 5, 0x00FF00), KeyboardEdit::mode(d, 5, 31)});
        const int steps = int(stepSizes.size());
        QCOMPARE(history.undoCount(), steps);
        QCOMPARE(changes.count(), steps);

        for (int i = steps; i > 0; --i) {
            QCOMPARE(history.undo(s.writer()), WK_SUCCESS);
            QCOMPARE(differences(s.state(), states.at(i - 1)), QString());
        }
        QVERIFY(!history.canUndo());
        QCOMPARE(history.undo(s.writer()), WK_ERROR_OUT_OF_RANGE);
        for (int i = 1; i <= steps; ++i) {
            s.writes = 0;
            QCOMPARE(history.redo(s.writer()), WK_SUCCESS);
            QCOMPARE(s.writes, stepSizes.at(i - 1)); // each edit written once
            QCOMPARE(differences(s.state(), states.at(i)), QString());
        }
        QCOMPARE(history.redo(s.writer()), WK_ERROR_OUT_OF_RANGE);
    }

    // The keyboard showed another map meanwhile (its own layer key): undo
    // makes the edit's map active again and writes there.
    void undoWritesIntoTheEditsMap()
    {
        Loaded s;
        QVERIFY(s.ok);
        Device *d = s.device();
        const QStringList start = s.state();
        UndoHistory history;
        QCOMPARE(history.perform(KeyboardEdit::remap(d, 3, keyboardKey(0x29)), s.writer()),
                 WK_SUCCESS);
        QCOMPARE(history.perform(KeyboardEdit::colour(d, 3, 0x010203), s.writer()), WK_SUCCESS);
        // What the page does on the keyboard's notifications.
        QVERIFY(s.keyboard->pressLayerKey(1) && s.keyboard->pressColourMapKey(2));
        QVERIFY(!d->setCurKCMID(1) && !d->getCurKCM() && !d->setCurKRMID(2) && !d->getCurKRM());
        QCOMPARE(history.undo(s.writer()), WK_SUCCESS);
        QCOMPARE(history.undo(s.writer()), WK_SUCCESS);
        QCOMPARE(differences(s.state(), start), QString());
    }

    void refusedWritesLeaveTheHistory_data()
    {
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("sub");
        QTest::addColumn<int>("atFrame"); // of the undo's frames
        const int status = int(sim::FaultKind::ErrorStatus);
        const int write = int(sim::FaultKind::WriteFailure);
        QTest::newRow("remap") << 0 << status << 0x20 << 0x11 << -1;
        // Colour writes are not confirmed by every keyboard: only a failed write fails.
        QTest::newRow("colour") << 1 << write << 0x30 << 0x11 << -1;
        QTest::newRow("mode of a paint click") << 1 << write << 0x60 << 0x04 << -1;
        QTest::newRow("lighting record") << 2 << status << 0x60 << 0x22 << -1;
        QTest::newRow("key map switch") << 3 << status << 0x20 << 0x02 << -1;
        // The second key of "Reset map": the first is written back.
        QTest::newRow("second key of a step") << 4 << status << 0x20 << 0x11 << 1;
    }
    void refusedWritesLeaveTheHistory()
    {
        QFETCH(int, step);
        QFETCH(int, fault);
        QFETCH(int, command);
        QFETCH(int, sub);
        QFETCH(int, atFrame);
        Loaded s;
        QVERIFY(s.ok);
        Device *d = s.device();
        la_t record = *d->laRecord(4);
        record.setLevelStep(33);
        const QVector<QVector<KeyboardEdit>> steps = {
            {KeyboardEdit::remap(d, 2, keyboardKey(0x3A))},
            {KeyboardEdit::colour(d, 7, 0x445566), KeyboardEdit::mode(d, 7, 12)},
            {KeyboardEdit::modeRecord(d, record)},
            {KeyboardEdit::keyMapSwitch(d, 3)},
            {KeyboardEdit::remap(d, 10, keyboardKey(0x04)),
             KeyboardEdit::remap(d, 11, keyboardKey(0x05))},
        };
        const QStringList before = s.state();
        auto inject = [&] {
            sim::Fault f =
                linktest::fault(sim::FaultKind(fault), command, sub, sim::kSimStatusBadParameter);
            f.atFrame = atFrame;
            s.keyboard->clearReceivedFrames();
            s.keyboard->injectFault(f);
        };
        UndoHistory history;
        // Refused as a new edit: nothing recorded, nothing left changed.
        inject();
        QVERIFY(history.perform(steps.at(step), s.writer()) != WK_SUCCESS);
        s.keyboard->clearFaults();
        QVERIFY(!history.canUndo());
        QCOMPARE(differences(s.state(), before), QString());

        QCOMPARE(history.perform(steps.at(step), s.writer()), WK_SUCCESS);
        const QStringList after = s.state();
        for (bool undo : {true, false}) {
            inject();
            QVERIFY((undo ? history.undo(s.writer()) : history.redo(s.writer())) != WK_SUCCESS);
            s.keyboard->clearFaults();
            QCOMPARE(history.undoCount(), undo ? 1 : 0);
            QCOMPARE(history.redoCount(), undo ? 0 : 1);
            QCOMPARE(differences(s.state(), undo ? after : before), QString());
            // Once the keyboard takes it, the same undo goes through.
            QCOMPARE(undo ? history.undo(s.writer()) : history.redo(s.writer()), WK_SUCCESS);
            QCOMPARE(differences(s.state(), undo ? before : after), QString());
        }
    }

    // The rules of the history itself, over a keyboard of plain numbers.
    void historyRules()
    {
        std::map<int, int> keys; // key -> mode
        bool refuse = false;
        UndoHistory history;
        int calls = 0;
        const UndoHistory::Writer writer = [&](const KeyboardEdit &e,
                                               const KeyboardEdit::Value &v) {
            ++calls;
            if (refuse)
                return WK_ERROR_TIMEOUT;
            history.record(e); // a page writing through its usual path
            keys[e.index] = v.mode;
            return WK_SUCCESS;
        };
        auto edit = [&](int key, int mode) {
            KeyboardEdit e;
            e.kind = KeyboardEdit::KeyMode;
            e.valid = true;
            e.index = key;
            e.before.mode = uint8_t(keys[key]);
            e.after.mode = uint8_t(mode);
            return e;
        };
        history.setCapacity(3);
        for (int m = 1; m <= 5; ++m) {
            QCOMPARE(history.perform(edit(0, m), writer), WK_SUCCESS);
            QCOMPARE(history.undoCount(), std::min(m, 3)); // the oldest go
        }
        for (int i = 0; i < 3; ++i)
            QCOMPARE(history.undo(writer), WK_SUCCESS);
        QVERIFY(!history.canUndo());
        QCOMPARE(keys[0], 2);
        // Nothing written changes nothing and is not a step.
        calls = 0;
        QCOMPARE(history.perform(edit(0, 2), writer), WK_ERROR_OUT_OF_RANGE);
        history.record(edit(0, 2));
        QCOMPARE(calls, 0);
        QCOMPARE(history.redoCount(), 3);
        // A new edit drops what could be redone.
        QCOMPARE(history.redo(writer), WK_SUCCESS);
        QCOMPARE(history.perform(edit(1, 7), writer), WK_SUCCESS);
        QCOMPARE(history.undoCount(), 2);
        QCOMPARE(history.redoCount(), 0);
        // Refused: unchanged.
        refuse = true;
        QVERIFY(history.undo(writer) != WK_SUCCESS);
        QCOMPARE(history.undoCount(), 2);
        refuse = false;
        // The keyboard goes away during an undo: the history stays empty.
        const UndoHistory::Writer unplugging = [&](const KeyboardEdit &,
                                                   const KeyboardEdit::Value &) {
            history.clear();
            return WK_SUCCESS;
        };
        QCOMPARE(history.undo(unplugging), WK_SUCCESS);
        QVERIFY(!history.canUndo() && !history.canRedo());
        // Per keyboard: another one starts empty, the same one keeps its steps.
        history.setKeyboard("A");
        QCOMPARE(history.perform(edit(2, 1), writer), WK_SUCCESS);
        history.setKeyboard("A");
        QCOMPARE(history.undoCount(), 1);
        history.setKeyboard("B");
        QVERIFY(!history.canUndo());
        QCOMPARE(history.undo(UndoHistory::Writer()), WK_ERROR_OUT_OF_RANGE);
    }
};

QTEST_GUILESS_MAIN(TestUndoHistory)
#include "tst_undohistory.moc"

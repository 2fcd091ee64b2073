// Finding and undoing on the key page of the simulated keyboard: the palette
// search, changed-key marks with "Reset key" and "Reset map", and undo/redo of
// remaps, lighting and map switches (checked against the keyboard's state).
#include "color/color.h"
#include "color/mode.h"
#include "color/parameter.h"
#include "device/device.h"
#include "main/devicesession.h"
#include "main/keylayout.h"
#include "main/lightingcontroller.h"
#include "sessionfixture.h"
#include "setting/Language.h"
#include "simsnapshot.h"
#include "widget/menutree.h"

#include <QAction>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QtEndian>
#include <QtTest>

using sim::Personality;

namespace {
uint16_t recordCode(sim::SimKeyboard *kb, int map, int key)
{
    return qFromLittleEndian<uint16_t>(kb->keyCodes(map).constData() + key * 4 + 1);
}

void click(QWidget *w)
{
    QTest::mouseClick(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
}

// The first board key whose default is known and that has it now.
int defaultKey(KeyLayout *layout, Device *device, int from = 0)
{
    for (int i = from; i < device->kcCount(); ++i) {
        if (layout->defaults().state(i, device->keyCode(i)) == KeyDefaults::State::Default)
            return i;
    }
    return -1;
}
} // namespace

class TestKeyFinding : public QObject
{
    Q_OBJECT

    struct Loaded
    {
        TestSupport::SessionFixture f;
        sim::SimKeyboard *kb = nullptr;
        KeyLayout *layout = nullptr;
        Device *device() const { return f.window->deviceSession()->device(); }
        KeyBtn *palette(uint16_t type, uint16_t stype, uint16_t code) const
        {
            for (KeyBtn *k : layout->staticKeys()) {
                if (k->getType() == type && k->getStype() == stype && k->getCode() == code)
                    return k;
            }
            return nullptr;
        }
    };

    static bool load(Loaded &l)
    {
        l.kb = l.f.bus.plug(Personality::DualMode);
        l.layout = l.f.start()->keyLayout();
        return l.f.waitLoaded() && !l.layout->dynamicKeys().isEmpty();
    }
    // The window's shortcuts need it shown and active.
    static bool activate(Loaded &l)
    {
        l.f.window->show();
        l.f.window->activateWindow();
        return QTest::qWaitForWindowActive(l.f.window.get());
    }

private Q_SLOTS:
    void searchFiltersAndEnterAssignsOneKey_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("language");
        QTest::addColumn<bool>("mac");
        QTest::newRow("English, Windows") << "mute" << 1 << false;
        QTest::newRow("English, macOS") << "MUTE" << 1 << true;
        QTest::newRow("Chinese synonym") << QStringLiteral("静音") << 0 << false;
    }
    void searchFiltersAndEnterAssignsOneKey()
    {
        QFETCH(QString, text);
        QFETCH(int, language);
        QFETCH(bool, mac);
        Loaded l;
        QVERIFY(load(l));
        Language::instance()->setLanguage(language);
        if (mac)
            l.f.window->menuTree()->macAction()->trigger();
        QLineEdit *search = l.layout->searchField();
        QVERIFY(!search->placeholderText().isEmpty());
        const int map = l.kb->currentKeyMap();
        const int target = defaultKey(l.layout, l.device());
        QVERIFY(target >= 0);

        // Nothing selected: Enter writes nothing and says why.
        search->insert(text); // keyClicks() types ASCII only
        const QVector<int> matches = l.layout->searchMatches();
        QVERIFY(!matches.isEmpty());
        KeyBtn *mute = l.palette(2, 0, 0xE2);
        QCOMPARE(l.layout->staticKeys().at(matches.first()), mute);
        int faded = 0;
        for (int i = 0; i < l.layout->staticKeys().size(); ++i) {
            QCOMPARE(l.layout->staticKeys().at(i)->isFaded(), !matches.contains(i));
            faded += l.layout->staticKeys().at(i)->isFaded();
        }
        QVERIFY(faded > 200);
        l.kb->clearReceivedFrames();
        QTest::keyClick(search, Qt::Key_Return);
        QVERIFY(TestSupport::framesOf(l.kb, 0x20, 0x11).isEmpty());

        // A board key selected: Enter writes exactly one record, the first match.
        const uint16_t before = recordCode(l.kb, map, target);
        click(l.layout->dynamicKeys().at(target));
        QVERIFY(activate(l));
        search->setFocus();
        QTest::keyClick(search, Qt::Key_Return);
        QCOMPARE(TestSupport::framesOf(l.kb, 0x20, 0x11).size(), 1);
        QCOMPARE(recordCode(l.kb, map, target), uint16_t(0xE2));
        QCOMPARE(l.layout->dynamicKeys().at(target)->getCode(), uint16_t(0xE2));
        // Ctrl+Z right after Enter takes the assignment back, not the typing.
        QTest::keyClick(search, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(recordCode(l.kb, map, target), before);
        QCOMPARE(search->text(), text);
        QTest::keyClick(search, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QCOMPARE(recordCode(l.kb, map, target), uint16_t(0xE2));

        // Escape clears the search and brings every key back; the selection stays.
        QTest::keyClick(search, Qt::Key_Escape);
        QVERIFY(search->text().isEmpty() && l.layout->searchMatches().isEmpty());
        for (KeyBtn *k : l.layout->staticKeys())
            QVERIFY(!k->isFaded());
        QVERIFY(l.layout->selectedKey());
        // Ctrl+F focuses the field again.
        QVERIFY(activate(l));
        l.f.window->setFocus();
        QTest::keyClick(l.f.window.get(), Qt::Key_F, Qt::ControlModifier);
        QVERIFY(search->hasFocus());
    }

    void marksFollowRemapsAndResets()
    {
        Loaded l;
        QVERIFY(load(l));
        const int map = l.kb->currentKeyMap();
        const int a = defaultKey(l.layout, l.device());
        const int b = defaultKey(l.layout, l.device(), a + 1);
        QVERIFY(a >= 0 && b >= 0);
        const uint16_t codeA = recordCode(l.kb, map, a);
        KeyBtn *keyA = l.layout->dynamicKeys().at(a);
        QVERIFY(!keyA->hasChangedMark());
        for (int key : {a, b}) {
            click(l.layout->dynamicKeys().at(key));
            click(l.palette(1, 0, 0x1D)); // Z
        }
        QVERIFY(keyA->hasChangedMark() && l.layout->dynamicKeys().at(b)->hasChangedMark());
        const int def = l.layout->defaults().paletteIndex(a);
        QVERIFY(keyA->markToolTip().contains(l.layout->staticKeys().at(def)->toolTip()));

        // "Reset key" in the key's menu: one write, the default back, no mark.
        QMenu *menu = l.layout->createKeyMenu(keyA);
        QVERIFY(menu);
        QAction *reset = menu->findChild<QAction *>(QStringLiteral("resetKey"));
        QVERIFY(reset && reset->isEnabled());
        l.kb->clearReceivedFrames();
        reset->trigger();
        delete menu;
        QCOMPARE(TestSupport::framesOf(l.kb, 0x20, 0x11).size(), 1);
        QCOMPARE(recordCode(l.kb, map, a), codeA);
        QVERIFY(!keyA->hasChangedMark());
        menu = l.layout->createKeyMenu(keyA); // nothing to reset now
        QVERIFY(!menu->findChild<QAction *>(QStringLiteral("resetKey"))->isEnabled());
        delete menu;

        // "Reset map" asks first; No changes nothing, Yes resets every changed key.
        const sim::StateSnapshot changed = sim::snapshot(l.kb);
        l.f.dialogs.answers << QMessageBox::No << QMessageBox::Yes;
        click(l.layout->resetMapButton());
        QCOMPARE(l.f.dialogs.messages.size(), 1);
        QVERIFY(sim::differences(changed, sim::snapshot(l.kb)).isEmpty());
        click(l.layout->resetMapButton());
        QCOMPARE(l.f.dialogs.messages.size(), 2);
        QVERIFY(l.layout->defaults()
                    .changedKeys(l.device()->keyCodes(), l.device()->kcCount())
                    .isEmpty());
        for (KeyBtn *k : l.layout->dynamicKeys())
            QVERIFY(!k->hasChangedMark());
        // One undo gives the whole map back.
        QVERIFY(l.layout->undo());
        QVERIFY(sim::differences(changed, sim::snapshot(l.kb)).isEmpty());
        QVERIFY(l.layout->dynamicKeys().at(b)->hasChangedMark());
    }

    void undoRedoFollowTheKeyboard()
    {
        Loaded l;
        QVERIFY(load(l));
        LightingController *lighting = l.f.window->lighting();
        UndoHistory *history = l.layout->history();
        QVERIFY(!history->canUndo() && !l.layout->undoButton()->isEnabled());
        const int key = defaultKey(l.layout, l.device());
        QVERIFY(activate(l));
        QVector<sim::StateSnapshot> states{sim::snapshot(l.kb)};
        // A remap, a colour, a mode, a key-map switch, a colour-map switch.
        click(l.layout->dynamicKeys().at(key));
        click(l.palette(1, 0, 0x05)); // B
        states << sim::snapshot(l.kb);
        QVERIFY(lighting->setKeyColor(key, QColor(10, 200, 30)));
        states << sim::snapshot(l.kb);
        QVERIFY(lighting->setKeyMode(key, 7));
        states << sim::snapshot(l.kb);
        click(l.layout->globuleKeys().at(2));
        states << sim::snapshot(l.kb);
        l.f.window->labelPageClickSlot(QStringLiteral("Color"));
        click(lighting->colourGlobules().at(1));
        states << sim::snapshot(l.kb);
        {
            // The parameter dialog's Apply (a double press opens it): the whole mode record.
            Mode *mode = l.f.window->colorPage()->mode();
            auto *m3 = mode->findChild<QPushButton *>(QStringLiteral("modeButton_3"));
            Q_EMIT m3->pressed();
            Q_EMIT m3->pressed();
            QPointer<Parameter> dialog = mode->parameter();
            QVERIFY(dialog);
            QCheckBox *cycle = dialog->findChild<QCheckBox *>();
            cycle->setChecked(!cycle->isChecked());
            dialog->downloadData();
            states << sim::snapshot(l.kb);
            QTRY_VERIFY(!dialog);
            l.f.window->activateWindow(); // the dialog had taken it
            QVERIFY(QTest::qWaitForWindowActive(l.f.window.get()));
        }
        for (int i = 1; i < states.size(); ++i)
            QVERIFY2(!sim::differences(states.at(i - 1), states.at(i)).isEmpty(),
                     qPrintable(QString::number(i)));
        QCOMPARE(history->undoCount(), states.size() - 1);
        QVERIFY(lighting->undoButton()->isEnabled() && !lighting->redoButton()->isEnabled());

        // Undo back to the start, redo to the end: the keyboard at each step,
        // and the page shows what it holds.
        for (int i = states.size() - 2; i >= 0; --i) {
            if (i == 2) // the window's shortcut works as well as the buttons
                QTest::keyClick(l.f.window.get(), Qt::Key_Z, Qt::ControlModifier);
            else
                click(lighting->undoButton());
            QCOMPARE(sim::differences(states.at(i), sim::snapshot(l.kb)), QStringList());
        }
        QVERIFY(!history->canUndo());
        QCOMPARE(l.layout->dynamicKeys().at(key)->getCode(),
                 recordCode(l.kb, l.kb->currentKeyMap(), key));
        QVERIFY(
            lighting->colourGlobules().at(l.kb->currentColourMap())->property("selected").toBool());
        l.f.window->labelPageClickSlot(QStringLiteral("staticLayout"));
        for (int i = 1; i < states.size(); ++i) {
            if (i == 3)
                QTest::keyClick(l.f.window.get(), Qt::Key_Z,
                                Qt::ControlModifier | Qt::ShiftModifier);
            else
                click(l.layout->redoButton());
            QCOMPARE(sim::differences(states.at(i), sim::snapshot(l.kb)), QStringList());
        }
        QVERIFY(l.layout->globuleKeys().at(2)->property("selected").toBool());

        // Ctrl+Z in the search field is the field's own undo.
        QTest::keyClicks(l.layout->searchField(), QStringLiteral("vol"));
        QTest::keyClick(l.layout->searchField(), Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(history->undoCount(), states.size() - 1);

        // A refused undo writes nothing back and keeps the history.
        l.kb->injectFault({sim::FaultKind::ErrorStatus, -1, -1, 0, 2, -1, -1});
        QVERIFY(!l.layout->undo());
        QCOMPARE(history->undoCount(), states.size() - 1);
        QCOMPARE(sim::differences(states.last(), sim::snapshot(l.kb)), QStringList());
        QVERIFY(l.layout->hintLabel()->text().contains(QStringLiteral("refused")));
        // On the lighting page, where that note is out of sight, a box says it.
        QCOMPARE(l.f.dialogs.messages.size(), 0);
        l.f.window->labelPageClickSlot(QStringLiteral("Color"));
        click(lighting->undoButton());
        QTRY_COMPARE(l.f.dialogs.messages.size(), 1);
        QCOMPARE(history->undoCount(), states.size() - 1);
        l.f.window->labelPageClickSlot(QStringLiteral("staticLayout"));
        l.kb->clearFaults();

        // A refused remap records nothing.
        l.kb->injectFault({sim::FaultKind::ErrorStatus, -1, 1, 0, 2, 0x20, 0x11});
        click(l.layout->dynamicKeys().at(key));
        click(l.palette(1, 0, 0x06)); // C
        QCOMPARE(history->undoCount(), states.size() - 1);

        // The history goes with the keyboard.
        l.f.bus.unplug(l.kb);
        QVERIFY(l.f.waitClosed());
        QVERIFY(!history->canUndo() && !history->canRedo());
        l.kb = l.f.bus.plug(Personality::DualMode);
        QVERIFY(l.f.waitLoaded());
        QVERIFY(!history->canUndo() && !l.layout->undoButton()->isEnabled());
    }
};

QTEST_MAIN(TestKeyFinding)
#include "tst_keyfinding.moc"

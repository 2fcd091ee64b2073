// Remapping keys on the drawn board against the simulated keyboard: what is
// written on the wire, the lock key, rejected writes, the key-map selector,
// keyboard notifications and the layout version.
#include "device/device.h"
#include "main/devicesession.h"
#include "main/keylayout.h"
#include "sessionfixture.h"
#include "widget/data.h"
#include "widget/keybtn.h"
#include "widget/menutree.h"
#include "widget/staticdialog.h"

#include <QAction>
#include <QPushButton>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using sim::Personality;
using TestSupport::SessionFixture;

namespace {

KeyBtn *paletteKey(KeyLayout *layout, uint16_t type, uint16_t stype, uint16_t code)
{
    for (KeyBtn *key : layout->staticKeys()) {
        if (key->getType() == type && key->getStype() == stype && key->getCode() == code)
            return key;
    }
    return nullptr;
}

// A keyboard usage's palette key.
KeyBtn *usageKey(KeyLayout *layout, uint16_t usage)
{
    return paletteKey(layout, 1, 0, usage);
}

QByteArray record(sim::SimKeyboard *kb, int map, int key)
{
    return kb->keyCodes(map).mid(key * 4, 4);
}

void click(KeyBtn *key)
{
    QTest::mouseClick(key, Qt::LeftButton, Qt::NoModifier, key->rect().center());
}
} // namespace

class TestKeyRemap : public QObject
{
    Q_OBJECT

private:
    struct Loaded
    {
        SessionFixture f;
        sim::SimKeyboard *kb = nullptr;
        KeyLayout *layout = nullptr;
        Device *device = nullptr;
    };

    static bool load(Loaded &l, Personality personality = Personality::DualMode)
    {
        l.kb = l.f.bus.plug(personality);
        Lumory *w = l.f.start();
        if (!l.f.waitLoaded())
            return false;
        l.layout = w->keyLayout();
        l.device = w->deviceSession()->device();
        return !l.layout->dynamicKeys().isEmpty();
    }

private Q_SLOTS:
    void boardShowsTheKeyboardsFunctions()
    {
        Loaded l;
        QVERIFY(load(l));
        const QVector<KeyBtn *> &keys = l.layout->dynamicKeys();
        QCOMPARE(keys.size(), l.kb->keyCount());
        int shown = 0;
        for (int i = 0; i < keys.size(); ++i) {
            const QByteArray rec = record(l.kb, l.kb->currentKeyMap(), i);
            QCOMPARE(keys.at(i)->getVectorIndex(), i);
            QCOMPARE(keys.at(i)->getCode(), uint16_t(uint8_t(rec[1]) | uint8_t(rec[2]) << 8));
            shown += keys.at(i)->isVisibleTo(l.layout->boardFrame()) ? 1 : 0;
        }
        QCOMPARE(shown, keys.size()); // every default code is in the palette
        // Selector: one button per key map, the current one selected.
        QCOMPARE(l.layout->globuleKeys().size(), l.kb->keyMapCount());
        QVERIFY(l.layout->globuleKeys().at(l.kb->currentKeyMap())->property("selected").toBool());
    }

    void paletteClickWritesOneRecordKeepingTheLock()
    {
        Loaded l;
        QVERIFY(load(l));
        KeyBtn *target = l.layout->dynamicKeys().at(5);
        const int map = l.kb->currentKeyMap();
        // Lock the key on the keyboard first (the host learns it by notification).
        QVERIFY(l.kb->setKeyLocked(5, true));
        QTRY_VERIFY(target->isLocked());
        QCOMPARE(uint8_t(l.device->keyCode(5).attr) & 1, 0); // model unchanged by 0x21
        // The model catches up when the key map is read again.
        l.device->getCurKCM();

        click(target);
        QVERIFY(target->isSelect());
        KeyBtn *b = usageKey(l.layout, 0x05); // B
        QVERIFY(b);
        l.kb->clearReceivedFrames();
        click(b);
        const QList<QByteArray> writes = TestSupport::framesOf(l.kb, 0x20, 0x11);
        QCOMPARE(writes.size(), 1);
        const QByteArray w = writes.first();
        QCOMPARE(int(uint8_t(w[2]) | uint8_t(w[3]) << 8), 8); // 4 + one record
        QCOMPARE(int(uint8_t(w[8])), map);
        QCOMPARE(int(uint8_t(w[9])), 5);
        QCOMPARE(int(uint8_t(w[10])), 5);
        QCOMPARE(int(uint8_t(w[12])), (1 << 1) | 1); // type 1, stype 0, lock kept
        QCOMPARE(int(uint8_t(w[13])), 0x05);
        QCOMPARE(int(uint8_t(w[14])), 0x00);
        QCOMPARE(record(l.kb, map, 5), w.mid(12, 4));
        QCOMPARE(target->getCode(), uint16_t(0x05));
        QVERIFY(target->isLocked());
        QCOMPARE(target->getName(), b->getName());
        QVERIFY(target->isSelect()); // stays selected for the next try
    }

    void remapSurvivesReplugging()
    {
        Loaded l;
        QVERIFY(load(l));
        click(l.layout->dynamicKeys().at(30));
        click(usageKey(l.layout, 0x46)); // Print Screen
        l.f.bus.unplug(l.kb);
        QVERIFY(l.f.waitClosed());
        QVERIFY(l.layout->dynamicKeys().isEmpty());
        l.kb = l.f.bus.plug(Personality::DualMode, 0);
        QVERIFY(l.f.waitLoaded());
        QTRY_VERIFY(!l.layout->dynamicKeys().isEmpty());
        QCOMPARE(l.layout->dynamicKeys().at(30)->getCode(), uint16_t(0x46));
    }

    void lockKeyTogglesOnlyTheLockBit()
    {
        Loaded l;
        QVERIFY(load(l));
        KeyBtn *lock = paletteKey(l.layout, 0, 0, 0xF0);
        QVERIFY(lock);
        KeyBtn *target = l.layout->dynamicKeys().at(20);
        const int map = l.kb->currentKeyMap();
        const QByteArray before = record(l.kb, map, 20);
        const QString name = target->getName();
        const QString image = target->getImage();
        click(target);
        click(lock);
        QByteArray after = record(l.kb, map, 20);
        QCOMPARE(uint8_t(after[0]), uint8_t(before[0] ^ 1));
        QCOMPARE(after.mid(1), before.mid(1));
        QVERIFY(target->isLocked());
        QCOMPARE(target->getName(), name);
        QCOMPARE(target->getImage(), image);
        click(lock);
        QCOMPARE(record(l.kb, map, 20), before);
        QVERIFY(!target->isLocked());
    }

    void highSubtypeContributesItsLowBits()
    {
        Loaded l;
        QVERIFY(load(l));
        KeyBtn fake;
        fake.setIdentity(2, 17, 0x00E9);
        click(l.layout->dynamicKeys().at(3));
        l.layout->keyCodeSlot(&fake);
        const QByteArray rec = record(l.kb, l.kb->currentKeyMap(), 3);
        QCOMPARE(int(uint8_t(rec[0]) & 0xFE), (2 << 1) | (1 << 4));
        QCOMPARE(int(uint8_t(rec[1])), 0xE9);
    }

    void rejectedWriteChangesNothing()
    {
        Loaded l;
        QVERIFY(load(l));
        KeyBtn *target = l.layout->dynamicKeys().at(10);
        const QString name = target->getName();
        const uint16_t code = target->getCode();
        const kc_t model = l.device->keyCode(10);
        sim::Fault refuse;
        refuse.kind = sim::FaultKind::ErrorStatus;
        refuse.status = 2;
        refuse.command = 0x20;
        refuse.subCommand = 0x11;
        l.kb->injectFault(refuse);
        const int messages = l.f.dialogs.messages.size();
        click(target);
        click(usageKey(l.layout, 0x1D)); // Z
        QCOMPARE(target->getCode(), code);
        QCOMPARE(target->getName(), name);
        QCOMPARE(l.device->keyCode(10).code(), model.code());
        QCOMPARE(l.f.dialogs.messages.size(), messages); // nothing shown
    }

    void selectorSwitchesMapsAndFollowsTheKeyboard()
    {
        Loaded l;
        QVERIFY(load(l, Personality::NoLighting)); // three key maps
        QCOMPARE(l.layout->globuleKeys().size(), 3);
        QStringList labels;
        for (QPushButton *b : l.layout->globuleKeys())
            labels << b->text();
        QCOMPARE(labels, (QStringList{"0", "1", "2"}));

        // Remap in map 1, then switch back and forth: each map keeps its own.
        QTest::mouseClick(l.layout->globuleKeys().at(1), Qt::LeftButton);
        QTRY_COMPARE(l.kb->currentKeyMap(), 1);
        QCOMPARE(int(l.device->curKCM()), 1);
        KeyBtn *target = l.layout->dynamicKeys().at(1);
        click(target);
        click(usageKey(l.layout, 0x3A)); // F1
        QCOMPARE(target->getCode(), uint16_t(0x3A));
        QCOMPARE(uint8_t(record(l.kb, 1, 1)[1]), uint8_t(0x3A));
        QVERIFY(uint8_t(record(l.kb, 0, 1)[1]) != 0x3A);
        QTest::mouseClick(l.layout->globuleKeys().at(0), Qt::LeftButton);
        QCOMPARE(l.kb->currentKeyMap(), 0);
        QCOMPARE(target->getCode(), uint16_t(uint8_t(record(l.kb, 0, 1)[1])));
        QVERIFY(!l.layout->selectedKey()); // a map change releases the selection
        QTest::mouseClick(l.layout->globuleKeys().at(1), Qt::LeftButton);
        QCOMPARE(target->getCode(), uint16_t(0x3A));

        // The keyboard's layer key: notification 0x20 presses button 2.
        QVERIFY(l.kb->pressLayerKey(2));
        QTRY_VERIFY(l.layout->globuleKeys().at(2)->property("selected").toBool());
        QCOMPARE(int(l.device->curKCM()), 2);
        QCOMPARE(l.layout->dynamicKeys().at(0)->getCode(),
                 uint16_t(uint8_t(record(l.kb, 2, 0)[1]) | uint8_t(record(l.kb, 2, 0)[2]) << 8));
        // A map without a button presses nothing.
        QVERIFY(!l.layout->pressKeyMapButton(3));
        QVERIFY(!l.layout->pressKeyMapButton(-1));
    }

    void layoutVersionRelabelsWithoutChangingCodes()
    {
        Loaded l;
        QVERIFY(load(l));
        Lumory *w = l.f.window.get();
        QVector<uint16_t> codes;
        for (KeyBtn *key : l.layout->dynamicKeys())
            codes << key->getCode();
        // Left GUI (0xE3): named differently on macOS.
        int gui = -1;
        for (int i = 0; i < l.layout->dynamicKeys().size(); ++i) {
            if (l.layout->dynamicKeys().at(i)->getCode() == 0xE3)
                gui = i;
        }
        QVERIFY(gui >= 0);
        KeyBtn *key = l.layout->dynamicKeys().at(gui);
        const QString winLabel = key->getName() + key->getImage() + key->getAlias();
        w->menuTree()->macAction()->trigger();
        QCOMPARE(l.layout->staticTable(), l.f.window->catalogue()->xmlMac());
        const QString macLabel = key->getName() + key->getImage() + key->getAlias();
        QVERIFY2(winLabel != macLabel, qPrintable(winLabel));
        QVector<uint16_t> after;
        for (KeyBtn *k : l.layout->dynamicKeys())
            after << k->getCode();
        QCOMPARE(after, codes);
        w->menuTree()->autoAction()->trigger();
        QCOMPARE(l.layout->staticTable(), l.f.window->catalogue()->xmlWin());
    }

    void isoEnterIsAPolygonKey()
    {
        Loaded l;
        QVERIFY(load(l, Personality::UsbOnly)); // T88, ISO
        KeyBtn *enter = nullptr;
        for (KeyBtn *key : l.layout->dynamicKeys()) {
            if (key->isPolygonShape())
                enter = key;
        }
        QVERIFY(enter);
        QVERIFY(!enter->isPolygon()); // the second kind
        QCOMPARE(enter->secondRect().x(), -0.25);
        const double u = l.f.window->deviceSession()->currentBoard()->w;
        const double v = l.f.window->deviceSession()->currentBoard()->h;
        const QRectF r = enter->mainRect();
        // 0.25 units wider than w*U - s, starting 0.25 units left of x*U.
        QCOMPARE(enter->geometry().x(), int(r.x() * u - 0.25 * u));
        QCOMPARE(enter->geometry().y(), int(r.y() * v));
        QCOMPARE(enter->width(), int(r.width() * u - 2 + 0.25 * u));
        QCOMPARE(enter->height(), int(r.height() * v - 2));
        // Hit testing follows the two rectangles, not the bounding box.
        const QRegion hit = enter->hitRegion();
        QVERIFY(hit.contains(QPoint(3, int(v / 2))));                    // top-left tongue
        QVERIFY(!hit.contains(QPoint(3, int(v * 1.5))));                 // below the tongue
        QVERIFY(hit.contains(QPoint(enter->width() - 5, int(v * 1.5)))); // lower part
    }

    void staticDialogPicksByDoubleClick()
    {
        TestSupport::ScratchAppDir dir;
        StaticDialog dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Static Key Layout"));
        QVERIFY(dialog.keys().size() > 100);
        KeyBtn *a = nullptr;
        for (KeyBtn *key : dialog.keys()) {
            if (key->getType() == 1 && key->getStype() == 0 && key->getCode() == 0x04)
                a = key;
        }
        QVERIFY(a);
        QCOMPARE(a->getName(), QStringLiteral("A"));
        qRegisterMetaType<KeyBtn *>();
        QSignalSpy picked(&dialog, &StaticDialog::emitKeyBtnDoubleClicked);
        QTest::mouseDClick(a, Qt::LeftButton, Qt::NoModifier, a->rect().center());
        QCOMPARE(picked.count(), 1);
        QCOMPARE(picked.at(0).at(0).value<KeyBtn *>(), a);
        a->setMoveMarker(false); // a selected key is not offered
        QTest::mouseDClick(a, Qt::LeftButton, Qt::NoModifier, a->rect().center());
        QCOMPARE(picked.count(), 1);

        QSignalSpy hidden(&dialog, &StaticDialog::emitHide);
        dialog.show();
        dialog.closeButton()->click();
        QCOMPARE(hidden.count(), 1);
        QVERIFY(!dialog.isVisible());
    }

    void releasingTheSelection()
    {
        Loaded l;
        QVERIFY(load(l));
        KeyBtn *a = l.layout->dynamicKeys().at(1);
        KeyBtn *b = l.layout->dynamicKeys().at(2);
        click(a);
        click(a); // clicking twice keeps it selected
        QVERIFY(a->isSelect());
        click(b);
        QVERIFY(!a->isSelect() && b->isSelect());
        QTest::mouseClick(b, Qt::RightButton, Qt::NoModifier, b->rect().center());
        QVERIFY(!b->isSelect());
        QVERIFY(!l.layout->selectedKey());
        click(a);
        QTest::keyClick(l.f.window.get(), Qt::Key_Escape);
        QVERIFY(!a->isSelect());
        // Without a selected board key a palette click writes nothing.
        l.kb->clearReceivedFrames();
        click(usageKey(l.layout, 0x04));
        QVERIFY(TestSupport::framesOf(l.kb, 0x20, 0x11).isEmpty());
    }
};

QTEST_MAIN(TestKeyRemap)
#include "tst_keyremap.moc"

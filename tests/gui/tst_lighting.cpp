// The lighting page against the simulated keyboard: painting keys with a
// colour or a mode, the colour-map and mode-map rows, the keyboard's own map
// changes, refused writes, and keyboards without maps or without lighting.
#include "color/color.h"
#include "color/mode.h"
#include "color/palette.h"
#include "device/device.h"
#include "main/devicesession.h"
#include "main/keylayout.h"
#include "main/lightingcontroller.h"
#include "sessionfixture.h"
#include "widget/tablabel.h"

#include <QPushButton>
#include <QtTest>

using sim::Personality;
using TestSupport::framesOf;
using TestSupport::SessionFixture;

namespace {
QByteArray bgr(const QColor &c)
{
    QByteArray b(3, '\0');
    b[0] = char(c.blue());
    b[1] = char(c.green());
    b[2] = char(c.red());
    return b;
}

struct Lit
{
    SessionFixture f;
    sim::SimKeyboard *kb = nullptr;
    Lumory *w = nullptr;

    explicit Lit(Personality personality = Personality::DualMode,
                 std::function<void(sim::SimKeyboard *)> prepare = {})
    {
        kb = f.bus.plug(personality);
        if (prepare)
            prepare(kb);
        w = f.start();
    }
    bool open()
    {
        if (!f.waitLoaded())
            return false;
        w->labelPageClickSlot(QStringLiteral("Color"));
        kb->clearReceivedFrames();
        return w->colorPage() && w->lighting()->isShown();
    }
    KeyBtn *key(int i) const { return w->keyLayout()->dynamicKeys().at(i); }
    void click(int i) const { QTest::mouseClick(key(i), Qt::LeftButton); }
    void pick(const QString &button) const
    {
        auto *b = w->colorPage()->findChild<QAbstractButton *>(button);
        QVERIFY2(b, qPrintable(button));
        QTest::mouseClick(b, Qt::LeftButton);
        QTest::qWait(250); // past the double-press window
    }
    int frames(uint8_t command, uint8_t sub) const { return framesOf(kb, command, sub).size(); }
};
} // namespace

class TestLighting : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void paintingWithColourModeOrNeither()
    {
        Lit l;
        QVERIFY(l.open());
        // Nothing chosen: nothing sent, the forbidden cursor on every key.
        l.click(5);
        QCOMPARE(l.kb->receivedFrames().size(), 0);
        QCOMPARE(l.key(40)->cursor().shape(), Qt::ForbiddenCursor);

        l.pick(QStringLiteral("customColor_3"));
        const QColor colour = l.w->colorPage()->palette()->getCurrentColor();
        QVERIFY(colour.isValid());
        l.click(5);
        const QList<QByteArray> kr = framesOf(l.kb, 0x30, 0x11);
        QCOMPARE(kr.size(), 1);
        QCOMPARE(kr.first().mid(8, 8),
                 QByteArray("\x00\x05\x05\x00", 4) + bgr(colour) + QByteArray(1, '\0'));
        QCOMPARE(l.key(5)->getColor().rgb(), colour.rgb());
        QCOMPARE(l.kb->keyColours(0).mid(20, 3), bgr(colour));

        // A mode lets go of the colour: the next click sets only the mode.
        l.pick(QStringLiteral("modeButton_9"));
        QVERIFY(!l.w->colorPage()->palette()->getCurrentColor().isValid());
        l.click(7);
        QCOMPARE(l.frames(0x30, 0x11), 1);
        const QList<QByteArray> lm = framesOf(l.kb, 0x60, 0x04);
        QCOMPARE(lm.size(), 1);
        QCOMPARE(lm.first().mid(8, 5), QByteArray("\x00\x07\x07\x00\x09", 5));
        QCOMPARE(l.key(7)->getMode(), 9);

        // Another page: clicks paint nothing.
        l.w->labelPageClickSlot(QStringLiteral("staticLayout"));
        Q_EMIT l.key(8)->emitRequestColorSignal(l.key(8)->getVectorIndex());
        QCOMPARE(l.frames(0x60, 0x04), 1);
    }

    void refusedWritesLeaveTheScreenAsTheKeyboardIs()
    {
        Lit l;
        QVERIFY(l.open());
        sim::Fault broken;
        broken.kind = sim::FaultKind::WriteFailure;
        broken.count = -1;
        broken.command = 0x30;
        l.kb->injectFault(broken);
        l.pick(QStringLiteral("customColor_1"));
        const QRgb before = l.key(2)->getColor().rgb();
        l.click(2);
        l.click(3);
        QCOMPARE(l.key(2)->getColor().rgb(), before);
        // Said once, not per key.
        QCOMPARE(l.f.dialogs.messages.size(), 1);
        QCOMPARE(l.f.dialogs.messages.first().title, QStringLiteral("ErrorCode"));
        // A refused map switch leaves the row as it was.
        QVERIFY(!l.w->lighting()->pressColourMapButton(9));
        l.w->lighting()->pressColourMapButton(1);
        QCOMPARE(l.w->lighting()->colourGlobules().at(0)->property("selected").toBool(), true);
    }

    void mapRowsAndTheKeyboardsOwnChanges()
    {
        Lit l;
        QVERIFY(l.open());
        LightingController *c = l.w->lighting();
        QCOMPARE(c->colourGlobules().size(), l.kb->colourMapCount());
        QCOMPARE(c->modeGlobules().size(), l.kb->modeMapCount());
        // The active map's button sends nothing.
        Q_EMIT c->colourGlobules().at(0)->pressed();
        Q_EMIT c->modeGlobules().at(0)->pressed();
        QCOMPARE(l.kb->receivedFrames().size(), 0);

        // Another map: set it, then read it in its chunks; the keys show it.
        Q_EMIT c->colourGlobules().at(2)->pressed();
        QCOMPARE(framesOf(l.kb, 0x30, 0x02).size(), 1);
        QCOMPARE(l.frames(0x30, 0x10), (108 + 12) / 13);
        QCOMPARE(l.key(10)->getColor().rgb() & 0xFFFFFF,
                 QColor::fromRgb(l.w->deviceSession()->device()->getKRRgb(10)).rgb() & 0xFFFFFF);
        QVERIFY(c->colourGlobules().at(2)->property("selected").toBool());

        // The keyboard's own map keys press the matching buttons.
        l.kb->clearReceivedFrames();
        QVERIFY(l.kb->pressColourMapKey(1));
        QTRY_COMPARE(int(l.w->deviceSession()->device()->curKRM()), 1);
        QVERIFY(l.kb->pressModeMapKey(3));
        QTRY_COMPARE(int(l.w->deviceSession()->device()->curLMM()), 3);
        QCOMPARE(l.key(3)->getMode(), int(uint8_t(l.kb->modes(3).at(3))));
        QCOMPARE(l.frames(0x60, 0x03), (108 + 51) / 52);
    }

    void keyboardsWithoutMapsOrLighting()
    {
        // No switchable colour maps: no row, and its active map still paints.
        {
            Lit l(Personality::DualMode, [](sim::SimKeyboard *kb) { kb->setColourMapShape(0, 1); });
            QVERIFY(l.open());
            QVERIFY(l.w->lighting()->colourGlobules().isEmpty());
            l.pick(QStringLiteral("customColor_0"));
            l.click(0);
            const QList<QByteArray> kr = framesOf(l.kb, 0x30, 0x11);
            QCOMPARE(kr.size(), 1);
            QCOMPARE(int(kr.first().at(8)), 1);
        }
        // An active map the keyboard does not have: no button pressed, and
        // nothing is written to that map.
        {
            Lit l(Personality::DualMode,
                  [](sim::SimKeyboard *kb) { kb->setColourMapShape(-1, 7); });
            QVERIFY(l.open());
            for (QPushButton *b : l.w->lighting()->colourGlobules())
                QVERIFY(!b->property("selected").toBool());
            l.pick(QStringLiteral("customColor_0"));
            l.click(0);
            QCOMPARE(l.frames(0x30, 0x11), 0);
        }
        // No lighting at all: no COLOR tab and no page.
        Lit l(Personality::NoLighting);
        QVERIFY(l.f.waitLoaded());
        QVERIFY(!l.w->colorPage());
        QVERIFY(!l.w->tabLabels().at(1)->isVisible());
    }
};

QTEST_MAIN(TestLighting)
#include "tst_lighting.moc"

// The macro page against the simulated keyboard: adding, renaming, deleting,
// downloading and loading macros, the keyboard's slot limits, and an unplug
// while a macro is being drawn.
#include "device/device.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "macro/macrokeylayout.h"
#include "sessionfixture.h"
#include "shortcut/shortcuts.h"
#include "widget/tablabel.h"

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QToolButton>
#include <QtTest>

using sim::Personality;
using TestSupport::framesOf;
using TestSupport::SessionFixture;

namespace {
QByteArray frame(uint16_t ts, uint8_t modifiers, uint8_t key)
{
    QByteArray f(10, '\0');
    f[0] = char(ts & 0xFF);
    f[1] = char(ts >> 8);
    f[2] = char(modifiers);
    f[4] = char(key);
    return f;
}

// `n` frames pressing and releasing A in turn, 10 ms apart.
QByteArray typing(int n)
{
    QByteArray frames;
    for (int i = 0; i < n; ++i)
        frames += frame(10, 0, i % 2 ? 0 : 0x04);
    return frames;
}

QByteArray head(int id, bool used, int frames, const QByteArray &name)
{
    QByteArray h(24, '\0');
    const uint32_t w = uint32_t(id & 0x3F) | (used ? 0x40u : 0u) | (uint32_t(frames & 0x3FF) << 7);
    for (int i = 0; i < 4; ++i)
        h[i] = char((w >> (8 * i)) & 0xFF);
    h.replace(8, qMin(16, name.size()), name.left(16));
    return h;
}

struct Page
{
    SessionFixture f;
    sim::SimKeyboard *kb = nullptr;
    Lumory *w = nullptr;

    explicit Page(std::function<void(sim::SimKeyboard *)> prepare = {})
    {
        kb = f.bus.plug(Personality::DualMode);
        if (prepare)
            prepare(kb);
        w = f.start();
    }
    bool open()
    {
        if (!f.waitLoaded() || !w->macroPage())
            return false;
        w->labelPageClickSlot(QStringLiteral("Macro"));
        kb->clearReceivedFrames();
        return true;
    }
    Macro *page() const { return w->macroPage(); }
    MacroItem *item(int i) const { return page()->items().at(i); }
    QList<QByteArray> frames(uint8_t sub) const { return framesOf(kb, 0x50, sub); }
    QStringList shortcutMacros() const
    {
        QStringList names;
        for (const MacroChoice &m : w->shortcutsPage()->macroChoices())
            names << m.name;
        return names;
    }
};

QString nameOf(const QByteArray &request)
{
    return QString::fromLatin1(request.mid(16, 16)).remove(QChar(0));
}
} // namespace

class TestMacroPage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void addRenameAndDeleteBySlot()
    {
        Page p([](sim::SimKeyboard *kb) {
            kb->setMacro(0, "Macro2", frame(0, 0, 0x04));
            kb->setMacro(1, "Copy", QByteArray());
        });
        QVERIFY(p.open());
        QCOMPARE(p.page()->names(), (QStringList{"Macro2", "Copy"}));
        QVERIFY(p.item(0)->loadButton()->isVisibleTo(p.item(0)));
        QVERIFY(!p.item(1)->loadButton()->isVisibleTo(p.item(1)));

        // Slot 2 is free; "Macro2" is taken, so the new macro is "Macro0".
        p.page()->addItemSlot();
        QCOMPARE(p.page()->names().last(), QStringLiteral("Macro0"));
        const QList<QByteArray> heads = p.frames(0x02);
        QCOMPARE(heads.size(), 2);                          // used set, then the name
        QCOMPARE(uint8_t(heads.first()[8]), uint8_t(0x42)); // id 2, used
        QCOMPARE(p.frames(0x03).value(0).at(8), char(2));
        QCOMPARE(nameOf(heads.last()), QStringLiteral("Macro0"));
        QVERIFY(p.item(2)->isSelected() && p.item(2)->isUnsaved());
        QCOMPARE(p.shortcutMacros(), (QStringList{"Macro2", "Copy", "Macro0"}));

        // Rename: letters and digits, 12 at most, never a name in use.
        p.page()->alterButtonSlot();
        QLineEdit *field = p.page()->renameField();
        field->clear();
        QTest::keyClicks(field, QStringLiteral("Copy"));
        p.page()->alterEditFinishedSlot();
        QCOMPARE(p.item(2)->name(), QStringLiteral("Macro0"));
        p.page()->alterButtonSlot();
        field->clear();
        QTest::keyClicks(field, QStringLiteral("Long name_123456789"));
        QCOMPARE(field->text(), QStringLiteral("Longname1234"));
        p.page()->alterEditFinishedSlot();
        QCOMPARE(p.item(2)->name(), QStringLiteral("Longname1234"));
        QCOMPARE(nameOf(p.frames(0x02).last()), QStringLiteral("Longname1234"));
        QCOMPARE(p.page()->nameBox()->itemText(2), QStringLiteral("Longname1234"));
        QCOMPARE(p.shortcutMacros().last(), QStringLiteral("Longname1234"));

        // Delete the first macro: its slot is cleared, the others keep theirs.
        p.page()->setItemSelect(p.item(0));
        p.kb->clearReceivedFrames();
        p.page()->deleteItemSlot();
        QCOMPARE(p.page()->names(), (QStringList{"Copy", "Longname1234"}));
        const QByteArray cleared = p.frames(0x02).value(0);
        QCOMPARE(cleared.mid(8, 24), head(0, false, 0, QByteArray()));
        QCOMPARE(p.item(1)->id(), 2);
        QCOMPARE(p.shortcutMacros(), (QStringList{"Copy", "Longname1234"}));
    }

    void downloadWritesFramesAndReportsARefusal()
    {
        Page p([](sim::SimKeyboard *kb) { kb->setMacro(3, "Hi", QByteArray()); });
        QVERIFY(p.open());
        MacroKeyLayout *timeline = p.item(0)->timeline();
        for (int i = 0; i < 6; ++i)
            timeline->createKey(i % 2 ? 0 : 1, 20, uint16_t(0x04 + i / 2), 1, 0);
        p.page()->setItemSelect(p.item(0));
        QVERIFY(p.page()->downloadButton()->isEnabled());
        p.page()->downloadItemDataSlot();
        // Six frames: one chunk of five, one of one, and the commit of 6.
        const QList<QByteArray> writes = p.frames(0x40);
        QCOMPARE(writes.size(), 3);
        QCOMPARE(uint8_t(writes.at(0)[2]), uint8_t(50));
        QCOMPARE(uint8_t(writes.at(1)[2]), uint8_t(10));
        QCOMPARE(uint8_t(writes.at(2)[4]), uint8_t(6));
        QCOMPARE(p.kb->macroFrames(3).size(), 60);
        QVERIFY(!p.item(0)->isSelected());

        // The keyboard refuses the commit: one warning, still selected, unsaved.
        p.page()->setItemSelect(p.item(0));
        p.item(0)->setUnsaved(true);
        p.kb->injectFault({sim::FaultKind::ErrorStatus, -1, -1, 0, 0x33, 0x50, 0x40});
        const int before = p.f.dialogs.messages.size();
        p.page()->downloadItemDataSlot();
        QCOMPARE(p.f.dialogs.messages.size(), before + 1);
        QVERIFY(p.item(0)->isSelected() && p.item(0)->isUnsaved());
    }

    void aMacroOverFiveHundredTwelveFramesIsRefusedBeforeSending()
    {
        Page p([](sim::SimKeyboard *kb) { kb->setMacro(0, "Long", QByteArray()); });
        QVERIFY(p.open());
        MacroKeyLayout *timeline = p.item(0)->timeline();
        for (int i = 0; i < 513; ++i)
            timeline->createKey(i % 2 ? 0 : 1, 10, 0x04, 1, 0);
        QCOMPARE(timeline->framesNeeded(), 513);
        p.page()->setItemSelect(p.item(0));
        p.page()->downloadItemDataSlot();
        QCOMPARE(p.f.dialogs.messages.size(), 1);
        QVERIFY(p.frames(0x40).isEmpty() && p.frames(0x03).isEmpty());
    }

    void loadDrawsTheStoredMacro_data()
    {
        QTest::addColumn<QByteArray>("head");
        QTest::addColumn<int>("events");
        // Three frames: A down, A up, A down.
        QTest::newRow("3 frames") << head(0, true, 3, "Three") << 3;
        // A head claiming 600 frames: only the 512 held are decoded.
        QTest::newRow("600 claimed") << head(0, true, 600, "Many") << 512;
    }
    void loadDrawsTheStoredMacro()
    {
        QFETCH(QByteArray, head);
        QFETCH(int, events);
        Page p([&](sim::SimKeyboard *kb) {
            kb->setMacro(0, "x", typing(512));
            kb->setMacroHead(0, head);
        });
        QVERIFY(p.open());
        QSignalSpy ban(p.page(), &Macro::emitBanWindowsButton);
        p.page()->drawTimer()->setInterval(0);
        p.item(0)->loadButton()->click();
        QVERIFY(p.page()->isDrawing());
        QVERIFY(!p.w->tabLabels().first()->isEnabled());
        QTRY_VERIFY_WITH_TIMEOUT(!p.page()->isDrawing(), 20000);
        QCOMPARE(p.item(0)->timeline()->dataKeys().size(), events);
        QCOMPARE(ban.size(), 2);
        QVERIFY(p.w->tabLabels().first()->isEnabled());
        QVERIFY(!p.item(0)->loadButton()->isVisibleTo(p.item(0)));
    }

    void slotLimits_data()
    {
        QTest::addColumn<int>("slotCount");
        QTest::addColumn<int>("used");
        QTest::addColumn<int>("shown");
        QTest::addColumn<bool>("canAdd");
        QTest::newRow("no slots") << 0 << 0 << 0 << false;
        QTest::newRow("4 slots, full") << 4 << 4 << 4 << false;
        QTest::newRow("70 slots, 15 used") << 70 << 15 << 15 << true;
        QTest::newRow("70 slots, 20 used") << 70 << 20 << 16 << false;
    }
    void slotLimits()
    {
        QFETCH(int, slotCount);
        QFETCH(int, used);
        QFETCH(int, shown);
        QFETCH(bool, canAdd);
        Page p([&](sim::SimKeyboard *kb) {
            kb->setMacroSlotCount(slotCount);
            for (int i = 0; i < used; ++i)
                kb->setMacro(i, QByteArray("M") + QByteArray::number(i), QByteArray());
        });
        QVERIFY(p.open());
        QCOMPARE(p.page()->items().size(), shown);
        QCOMPARE(p.page()->addButton()->isEnabled(), canAdd);
        p.page()->addItemSlot();
        QCOMPARE(p.page()->items().size(), canAdd ? shown + 1 : shown);
        QCOMPARE(p.page()->addButton()->isEnabled(), false);
    }

    void unplugWhileDrawingLiftsTheBan()
    {
        Page p([](sim::SimKeyboard *kb) { kb->setMacro(0, "Long", typing(300)); });
        QVERIFY(p.open());
        p.item(0)->loadButton()->click();
        QVERIFY(p.page()->isDrawing());
        QTest::qWait(120);
        p.f.bus.unplug(p.kb);
        QVERIFY(p.f.waitClosed());
        QVERIFY(!p.w->macroPage());
        QVERIFY(p.w->tabLabels().first()->isEnabled());
        QTest::qWait(150); // no tick may reach the gone macro
    }
};

QTEST_MAIN(TestMacroPage)
#include "tst_macropage.moc"

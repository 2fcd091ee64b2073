// The key page on the simulated keyboard: remap writes, the lock key, key maps,
// layout versions, selections and pages, tool tips, the mark, small screens.
#include "device/device.h"
#include "main/devicesession.h"
#include "main/keylayout.h"
#include "sessionfixture.h"
#include "setting/Language.h"
#include "widget/data.h"
#include "widget/infodialog.h"
#include "widget/menutree.h"
#include "widget/staticdialog.h"

#include <QAction>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QToolTip>
#include <QtEndian>
#include <QtTest>

#include <algorithm>
#include <cmath>

using sim::Personality;

namespace {
KeyBtn *findKey(const QVector<KeyBtn *> &keys, uint16_t type, uint16_t stype, uint16_t code)
{
    const auto it = std::find_if(keys.begin(), keys.end(), [&](KeyBtn *k) {
        return k->getType() == type && k->getStype() == stype && k->getCode() == code;
    });
    return it == keys.end() ? nullptr : *it;
}

QByteArray record(sim::SimKeyboard *kb, int map, int key)
{
    return kb->keyCodes(map).mid(key * 4, 4);
}

uint16_t recordCode(sim::SimKeyboard *kb, int map, int key)
{
    return qFromLittleEndian<uint16_t>(record(kb, map, key).constData() + 1);
}

void click(KeyBtn *key, Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseClick(key, button, Qt::NoModifier, key->rect().center());
}

// Pixels of `image` (changed from `before`, when given) whose contrast ratio to
// `against` (1 none to 21 black on white, as readability guidelines use) reaches `ratio`.
int pixelsStandingOut(const QImage &image, const QColor &against, double ratio,
                      const QImage &before = QImage())
{
    const auto lum = [](const QColor &c) {
        return 0.2126 * std::pow(c.redF(), 2.2) + 0.7152 * std::pow(c.greenF(), 2.2) +
               0.0722 * std::pow(c.blueF(), 2.2);
    };
    int count = 0;
    for (int i = 0; i < image.width() * image.height(); ++i) {
        const QPoint p(i % image.width(), i / image.width());
        const double a = lum(image.pixelColor(p)), b = lum(against);
        count += (before.isNull() || before.pixel(p) != image.pixel(p)) &&
                 (std::max(a, b) + 0.05) / (std::min(a, b) + 0.05) >= ratio;
    }
    return count;
}
} // namespace

class TestKeyRemap : public QObject
{
    Q_OBJECT

    struct Loaded
    {
        TestSupport::SessionFixture f;
        sim::SimKeyboard *kb = nullptr;
        KeyLayout *layout = nullptr;
        KeyBtn *palette(uint16_t usage, uint16_t type = 1) const
        {
            return findKey(layout->staticKeys(), type, 0, usage);
        }
    };

    static bool load(Loaded &l, Personality personality = Personality::DualMode)
    {
        l.kb = l.f.bus.plug(personality);
        l.layout = l.f.start()->keyLayout();
        return l.f.waitLoaded() && !l.layout->dynamicKeys().isEmpty();
    }

private Q_SLOTS:
    void remapWritesOneRecordAndTheLockKeyOnlyTheLockBit()
    {
        Loaded l;
        QVERIFY(load(l));
        KeyBtn *target = l.layout->dynamicKeys().at(5);
        const int map = l.kb->currentKeyMap();
        // Locked on the keyboard: shown by notification 0x21, modelled on a re-read.
        QVERIFY(l.kb->setKeyLocked(5, true));
        QTRY_VERIFY(target->isLocked());
        Device *device = l.f.window->deviceSession()->device();
        device->getCurKCM();
        click(target);
        l.kb->clearReceivedFrames();
        click(l.palette(0x05)); // B
        const QList<QByteArray> writes = TestSupport::framesOf(l.kb, 0x20, 0x11);
        QCOMPARE(writes.size(), 1);
        const QByteArray w = writes.first();
        QCOMPARE(int(uint8_t(w[2]) | uint8_t(w[3]) << 8), 8);         // 4 + one record
        QCOMPARE(w.mid(8, 3), QByteArray(1, char(map)) + "\x05\x05"); // map, keys 5..5
        QCOMPARE(w.mid(12, 3), QByteArray::fromHex("030500"));        // type 1, lock kept, B
        QCOMPARE(record(l.kb, map, 5), w.mid(12, 4));
        QCOMPARE(target->getName(), l.palette(0x05)->getName());
        QVERIFY(target->isLocked() && target->isSelect()); // stays selected for the next try
        KeyBtn fake; // a subtype of 16 or more gives only its low four bits
        fake.setIdentity(2, 17, 0x00E9);
        l.layout->keyCodeSlot(&fake);
        QCOMPARE(record(l.kb, map, 5).left(2), QByteArray::fromHex("15e9"));
        // A refused write changes nothing and shows nothing.
        const int messages = l.f.dialogs.messages.size();
        l.kb->injectFault({sim::FaultKind::ErrorStatus, -1, 1, 0, 2, 0x20, 0x11});
        click(l.palette(0x1D)); // Z
        QVERIFY(target->getCode() == 0xE9 && device->keyCode(5).code() == 0xE9);
        QCOMPARE(l.f.dialogs.messages.size(), messages);

        // The lock key flips bit 0 and keeps the code, picture and name.
        KeyBtn *lock = l.palette(0xF0, 0);
        target = l.layout->dynamicKeys().at(20);
        const QByteArray before = record(l.kb, map, 20);
        const QString look = target->getName() + target->getImage();
        click(target);
        click(lock);
        QCOMPARE(record(l.kb, map, 20), char(before[0] ^ 1) + before.mid(1));
        QVERIFY(target->isLocked() && target->getName() + target->getImage() == look);
        click(lock);
        QVERIFY(record(l.kb, map, 20) == before && !target->isLocked());
    }

    void selectorMapsAndLayoutVersion()
    {
        Loaded l;
        QVERIFY(load(l, Personality::NoLighting)); // three key maps
        const QVector<KeyBtn *> &keys = l.layout->dynamicKeys();
        QCOMPARE(keys.size(), l.kb->keyCount());
        for (int i = 0; i < keys.size(); ++i) {
            QCOMPARE(keys.at(i)->getCode(), recordCode(l.kb, l.kb->currentKeyMap(), i));
            QVERIFY(keys.at(i)->isVisibleTo(l.layout->boardFrame()));
        }
        const QVector<QPushButton *> &maps = l.layout->globuleKeys();
        QVERIFY(maps.size() == 3 && maps.at(2)->text() == QLatin1String("2"));
        QVERIFY(maps.at(l.kb->currentKeyMap())->property("selected").toBool());

        // Remap in map 1, then switch back and forth: each map keeps its own.
        QTest::mouseClick(maps.at(1), Qt::LeftButton);
        QTRY_COMPARE(l.kb->currentKeyMap(), 1);
        click(keys.at(1));
        click(l.palette(0x3A)); // F1
        QVERIFY(recordCode(l.kb, 1, 1) == 0x3A && recordCode(l.kb, 0, 1) != 0x3A);
        QTest::mouseClick(maps.at(0), Qt::LeftButton);
        QCOMPARE(keys.at(1)->getCode(), recordCode(l.kb, 0, 1));
        QVERIFY(!l.layout->selectedKey()); // a map change releases the selection
        // The keyboard's layer key: notification 0x20 presses button 1.
        QVERIFY(l.kb->pressLayerKey(1));
        QTRY_VERIFY(maps.at(1)->property("selected").toBool());
        QCOMPARE(keys.at(1)->getCode(), uint16_t(0x3A));
        QVERIFY(!l.layout->pressKeyMapButton(3));

        // The row is labelled, and the help names it the same way.
        for (int lang : {1, 0}) {
            Language::instance()->setLanguage(lang);
            const QString caption = l.layout->keyMapLabel()->text();
            QCOMPARE(caption, lang ? QStringLiteral("Key map") : QStringLiteral("按键层"));
            QVERIFY(InfoDialog(InfoDialog::Help, lang).bodyHtml().contains(caption));
        }

        // Another layout version relabels the board, codes stay.
        KeyBtn *gui = findKey(keys, 1, 0, 0xE3); // named differently on macOS
        const QString winLabel = gui->getName() + gui->getImage() + gui->getAlias();
        l.f.window->menuTree()->macAction()->trigger();
        QCOMPARE(l.layout->staticTable(), l.f.window->catalogue()->xmlMac());
        QVERIFY(gui->getName() + gui->getImage() + gui->getAlias() != winLabel);
        for (int i = 0; i < keys.size(); ++i)
            QCOMPARE(keys.at(i)->getCode(), recordCode(l.kb, 1, i));
        l.f.window->menuTree()->autoAction()->trigger();
        QCOMPARE(l.layout->staticTable(), l.f.window->catalogue()->xmlWin());
    }

    void isoEnterIsAPolygonKeyAndSmallScreensScroll()
    {
        QCOMPARE(Lumory::windowSizeFor(QRect(0, 0, 1600, 1000)), QSize(1180, 800));
        Loaded l;
        QVERIFY(load(l, Personality::UsbOnly)); // T88, ISO, wider than the test screen
        KeyBtn *enter = nullptr;
        for (KeyBtn *key : l.layout->dynamicKeys())
            enter = key->isPolygonShape() ? key : enter;
        QVERIFY(enter && !enter->isPolygon()); // the second kind
        const BoardInfo *board = l.f.window->deviceSession()->currentBoard();
        const double u = board->w, v = board->h;
        const QRectF r = enter->mainRect();
        // 0.25 units wider than w*U - s, starting 0.25 units left of x*U.
        QCOMPARE(enter->geometry(),
                 QRect(int(r.x() * u - 0.25 * u), int(r.y() * v), int(r.width() * u - 2 + 0.25 * u),
                       int(r.height() * v - 2)));
        // Hit testing follows the two rectangles, not the bounding box.
        const QRegion hit = enter->hitRegion();
        QVERIFY(hit.contains(QPoint(3, int(v / 2))));                    // top-left tongue
        QVERIFY(!hit.contains(QPoint(3, int(v * 1.5))));                 // below the tongue
        QVERIFY(hit.contains(QPoint(enter->width() - 5, int(v * 1.5)))); // lower part

        // The window fits the (small) test screen and the board scrolls into view.
        Lumory *w = l.f.window.get();
        w->show();
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(screen.width() < 985 && screen.height() < 800, "the test screen is too large");
        QVERIFY(w->width() <= screen.width() && w->height() <= screen.height());
        auto *scroll = w->findChild<QScrollArea *>(QStringLiteral("contentScroll"));
        QVERIFY(scroll);
        QTRY_VERIFY(scroll->horizontalScrollBar()->maximum() > 0);
        scroll->horizontalScrollBar()->setValue(scroll->horizontalScrollBar()->maximum());
        QWidget *frame = l.layout->boardFrame();
        QVERIFY(frame->mapTo(scroll->viewport(), QPoint(frame->width(), 0)).x() <=
                scroll->viewport()->width());
    }

    void staticDialogPicksByDoubleClick()
    {
        TestSupport::ScratchAppDir dir;
        StaticDialog dialog;
        KeyBtn *a = findKey(dialog.keys(), 1, 0, 0x04);
        QCOMPARE(findKey(dialog.keys(), 2, 0, 0xE9)->toolTip(), QStringLiteral("Volume Up"));
        qRegisterMetaType<KeyBtn *>();
        QSignalSpy picked(&dialog, &StaticDialog::emitKeyBtnDoubleClicked);
        QTest::mouseDClick(a, Qt::LeftButton, Qt::NoModifier, a->rect().center());
        QCOMPARE(picked.takeFirst().at(0).value<KeyBtn *>(), a);
        a->setMoveMarker(false); // a selected key is not offered
        QTest::mouseDClick(a, Qt::LeftButton, Qt::NoModifier, a->rect().center());
        QVERIFY(picked.isEmpty());
    }

    void keyPageToolTipsSelectionsAndPages()
    {
        Loaded l;
        QVERIFY(load(l));
        // Tool tips name palette keys and the function of board keys, readably.
        KeyBtn *volumeUp = l.palette(0xE9, 2);
        KeyBtn *target = l.layout->dynamicKeys().at(3);
        click(target);
        click(volumeUp);
        for (KeyBtn *key : {volumeUp, target}) { // the board key: the function it has now
            QToolTip::hideText();
            QTRY_VERIFY(!QToolTip::isVisible());
            QHelpEvent help(QEvent::ToolTip, QPoint(5, 5), key->mapToGlobal(QPoint(5, 5)));
            QApplication::sendEvent(key, &help);
            QTRY_VERIFY(QToolTip::isVisible());
            QCOMPARE(QToolTip::text(), QStringLiteral("Volume Up"));
            QWidget *tip = nullptr;
            for (QWidget *top : QApplication::topLevelWidgets())
                tip = top->inherits("QLabel") && top->isVisible() ? top : tip;
            // An opaque box with text that stands out from it.
            const QImage image = tip->grab().toImage();
            const QColor box = image.pixelColor(3, image.height() / 2);
            QVERIFY(box.alpha() == 255 && pixelsStandingOut(image, box, 4.5) > 0);
        }

        KeyBtn *a = l.layout->dynamicKeys().at(1);
        KeyBtn *w = findKey(l.layout->dynamicKeys(), 1, 0, 0x1A);
        KeyBtn *x = l.palette(0x1B);
        click(a);
        click(a); // clicking twice keeps it selected
        click(w);
        QVERIFY(!a->isSelect() && w->isSelect());
        click(w, Qt::RightButton);
        QVERIFY(!w->isSelect() && !l.layout->selectedKey());
        click(a);
        QTest::keyClick(l.f.window.get(), Qt::Key_Escape);
        QVERIFY(!a->isSelect());

        // Nothing selected: a palette click neither writes nor looks picked, and says why.
        l.kb->clearReceivedFrames();
        click(x);
        QVERIFY(!x->isSelect());
        QCOMPARE(l.layout->hintLabel()->text(),
                 QStringLiteral("Select a key on the keyboard first."));
        Language::instance()->setLanguage(0);
        QCOMPARE(l.layout->hintLabel()->text(), QStringLiteral("请先在键盘上选择一个按键。"));

        // A page change lets go of the selection.
        click(w);
        l.f.window->labelPageClickSlot(QStringLiteral("Setting"));
        l.f.window->labelPageClickSlot(QStringLiteral("staticLayout"));
        QVERIFY(!w->isSelect());
        click(x);
        // The colour page shows the board, but neither board nor palette remaps there.
        l.f.window->labelPageClickSlot(QStringLiteral("Color"));
        click(w);
        QVERIFY(!w->isSelect());
        l.layout->keyCodeSlot(x);
        QVERIFY(TestSupport::framesOf(l.kb, 0x20, 0x11).isEmpty());
        QCOMPARE(w->getCode(), uint16_t(0x1A));
    }

    void selectionMarkReadsOnEveryCap()
    {
        for (const QColor &cap : {QColor(Qt::red), QColor(Qt::white), QColor(Qt::black)}) {
            KeyBtn key;
            key.setGeometry(0, 0, 60, 60);
            key.setColor(cap);
            const QImage plain = key.grab().toImage();
            key.setMoveMarker(false);
            // A ring around the cap that stands out from it.
            QVERIFY2(pixelsStandingOut(key.grab().toImage(), cap, 3, plain) >= 4 * 50,
                     qPrintable(cap.name()));
        }
    }
};

QTEST_MAIN(TestKeyRemap)
#include "tst_keyremap.moc"

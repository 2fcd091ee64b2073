// Every box the program opens runs a nested event loop. While it is open the
// keyboard can be unplugged, or Exit / SIGTERM can run the whole exit
// sequence; when the box then returns, nothing may touch what is gone.
// Each row opens one box and interrupts it from inside (as its event loop
// would run it); a crash fails the test.
#include "color/color.h"
#include "device/device.h"
#include "macro/macro.h"
#include "macro/macroitem.h"
#include "macro/macrokeylayout.h"
#include "main/devicesession.h"
#include "main/keylayout.h"
#include "main/lightingcontroller.h"
#include "main/loghandler.h"
#include "main/termination.h"
#include "sessionfixture.h"
#include "setting/firmware.h"
#include "setting/setting.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "widget/menutree.h"
#include "widget/tablabel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QToolButton>
#include <QtTest>

#include <csignal>
#include <functional>

using sim::Personality;
using TestSupport::SessionFixture;

namespace {
enum Interruption
{
    Unplug,
    Exit,
    Sigterm
};

using Open = std::function<void(Lumory *)>;
using Prepare = std::function<void(sim::SimKeyboard *)>;
struct Box
{
    int boxesBefore = 0; // answered normally before the interrupted one
    Open open;           // none: the version question of a T88 while it loads
    Prepare prepare;
};

// QCoreApplication::quit() makes every later QEventLoop::exec() return at
// once until the next exec(); start the next case with a clean slate.
void resetQuitState()
{
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

void refuse(sim::SimKeyboard *kb, sim::FaultKind kind, int command, int sub)
{
    sim::Fault f;
    f.kind = kind;
    f.count = -1; // a macro's every frame write, the commit included
    f.status = sim::kSimStatusBadState;
    f.command = command;
    f.subCommand = sub;
    kb->injectFault(f);
}

// Key function 0 in use with function `hi` of the full-size catalogue.
Prepare storeFunction(int hi, bool refused = false)
{
    return [=](sim::SimKeyboard *kb) {
        kf_t e{};
        e.setInUse(true);
        e.setHi(uint8_t(hi));
        e.keys[0].setType(1);
        e.keys[0].setCode(0x04);
        e.setListKey(0, e.keys[0]);
        kb->setKeyFunction(0, QByteArray(reinterpret_cast<const char *>(&e), sizeof e));
        if (refused)
            refuse(kb, sim::FaultKind::WriteFailure, 0x40, 0x20);
    };
}

ShortcutsItem *firstFunction(Lumory *w)
{
    if (!QTest::qWaitFor([w] { return w->shortcutsPage() && w->shortcutsPage()->isLoaded(); }))
        return nullptr;
    w->labelPageClickSlot(QStringLiteral("Shortcuts"));
    return w->shortcutsPage()->items().value(0);
}

void startFirmware(Lumory *w, const QString &dir)
{
    w->labelPageClickSlot(QStringLiteral("Setting"));
    Firmware *panel = w->settingPage()->firmwarePanel();
    panel->pathField()->setText(dir);
    panel->startButton()->click();
}

// A macro with events is selected on the macro page, then `action` runs.
Open macro(std::function<void(Macro *)> action)
{
    return [action](Lumory *w) {
        w->labelPageClickSlot(QStringLiteral("Macro"));
        Macro *page = w->macroPage();
        page->items().first()->timeline()->createKey(1, 20, 0x04, 1, 0);
        page->items().first()->timeline()->createKey(0, 20, 0x04, 1, 0);
        action(page);
    };
}
Prepare macroSlot(bool refused)
{
    return [refused](sim::SimKeyboard *kb) {
        kb->setMacro(0, "Box", QByteArray());
        if (refused)
            refuse(kb, sim::FaultKind::ErrorStatus, 0x50, 0x40);
    };
}

QAbstractButton *swatch(Lumory *w)
{
    w->labelPageClickSlot(QStringLiteral("Color"));
    return w->colorPage()->findChild<QAbstractButton *>(QStringLiteral("customColor_2"));
}
} // namespace
Q_DECLARE_METATYPE(Box)

class TestModalBoxes : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { resetQuitState(); }

    void interruptedBox_data()
    {
        QTest::addColumn<Box>("box");
        QTest::addColumn<int>("interruption");
        const auto add = [](const char *name, Open open, Prepare prepare = {}, int before = 0) {
            const Box box{before, open, prepare};
            QTest::addRow("%s, unplug", name) << box << int(Unplug);
            QTest::addRow("%s, exit", name) << box << int(Exit);
            if (before) // the exit sequence run by the signal handler
                QTest::addRow("%s, SIGTERM", name) << box << int(Sigterm);
        };
        add("version question", {});
        add(
            "factory reset result",
            [](Lumory *w) { w->settingPage()->factoryResetButton()->click(); }, {}, 1);
        add("settings result",
            [](Lumory *w) { Q_EMIT w->settingPage()->emitBluetoothName("Lumory BT"); });
        add("about", [](Lumory *w) { w->menuTree()->aboutSlot(); });
        add("layout editor", [](Lumory *w) { w->layoutEditorSlot(); });
        add("colour dialog", [](Lumory *w) {
            swatch(w)->click();
            swatch(w)->click(); // a double press edits the colour
        });
        add(
            "lighting write refused",
            [](Lumory *w) {
                swatch(w)->click();
                QTest::qWait(250);
                KeyBtn *key = w->keyLayout()->dynamicKeys().at(4);
                Q_EMIT key->emitRequestColorSignal(key->getVectorIndex());
            },
            [](sim::SimKeyboard *kb) { refuse(kb, sim::FaultKind::WriteFailure, 0x30, 0x11); });
        add(
            "key function write refused",
            [](Lumory *w) {
                firstFunction(w)->setSelect(true);
                w->shortcutsPage()->itemDownloadButtonSlot();
            },
            storeFunction(1, true));
        add(
            "key list chooser",
            [](Lumory *w) {
                ShortcutsParameter *p = firstFunction(w)->parameter();
                p->doubleClickSlot(p->keyListButtons().first());
            },
            storeFunction(5));
        add(
            "document chooser",
            [](Lumory *w) { firstFunction(w)->parameter()->chooserButton()->click(); },
            storeFunction(2));
        add("macro record question", macro([](Macro *page) { page->recordButton()->click(); }),
            macroSlot(false));
        add("macro export chooser", macro(&Macro::exportActionSlot), macroSlot(false));
        add("macro import chooser", macro(&Macro::importActionSlot), macroSlot(false));
        add("macro download refused", macro(&Macro::downloadItemDataSlot), macroSlot(true));
        add("reset map question", [](Lumory *w) {
            KeyLayout *keys = w->keyLayout();
            keys->clickKeyBtnSlot(keys->dynamicKeys().at(1)); // a changed key to reset
            for (KeyBtn *z : keys->staticKeys())
                if (z->getType() == 1 && z->getCode() == 0x1D)
                    keys->keyCodeSlot(z);
            keys->resetMapButton()->click();
        });
        static sim::SimKeyboard *keyboard = nullptr;
        add(
            "lighting undo refused",
            [](Lumory *w) {
                swatch(w); // the lighting page
                QVERIFY(w->lighting()->setKeyMode(4, 7));
                refuse(keyboard, sim::FaultKind::WriteFailure, 0x60, 0x04);
                w->lighting()->undoButton()->click();
            },
            [](sim::SimKeyboard *kb) { keyboard = kb; });
        add("firmware package refused", [](Lumory *w) {
            static QTemporaryDir empty;
            startFirmware(w, empty.path());
        });
        add(
            "firmware module error",
            [](Lumory *w) {
                static QTemporaryDir package;
                TestSupport::writeFile(package.filePath(QStringLiteral("hx_bt_app_V1.bin")),
                                       sim::makeFirmwareImage(109, 1000, 7, 1));
                startFirmware(w, package.path());
            },
            [](sim::SimKeyboard *kb) {
                sim::BtFault refused; // a module error
                refused.op = 0x83;
                kb->injectBtFault(refused);
            });
    }

    void interruptedBox()
    {
        QFETCH(Box, box);
        QFETCH(int, interruption);
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(box.open ? Personality::DualMode : Personality::UsbOnly);
        f.dialogs.defaultAnswer = QMessageBox::Yes;
        f.dialogs.answers << 0 << QMessageBox::Yes; // the custom "Ok" of a question, then Yes
        f.dialogs.interruptAfter = box.boxesBefore;
        if (box.prepare)
            box.prepare(kb);
        Lumory *w = f.start();
        installTerminationHandler(w);
        QSignalSpy update(w->deviceSession(), &DeviceSession::firmwareUpdateRequested);
        const auto exited = [] { return !LogHandler::instance().isInstalled(); };
        if (interruption == Unplug)
            f.dialogs.interruptNext([&] { f.bus.unplug(kb); },
                                    [&] { return !w->deviceSession()->usb(); });
        else if (interruption == Exit)
            f.dialogs.interruptNext([&] { w->exitAppActionSlot(); }, exited);
        else
            f.dialogs.interruptNext([] { ::raise(SIGTERM); }, exited);
        if (box.open) {
            QVERIFY(f.waitLoaded());
            box.open(w);
        }
        QTRY_VERIFY_WITH_TIMEOUT(f.dialogs.opened > box.boxesBefore, 10000);
        QVERIFY2(f.dialogs.interruptDone, "the interruption did not finish inside the box");
        QTest::qWait(50); // what the method does after its box returned

        if (interruption == Unplug) {
            // Nothing was built or updated for the keyboard that went away,
            // and the program still works: a keyboard plugged in loads.
            QCOMPARE(update.count(), 0);
            QVERIFY(!w->deviceSession()->isLoaded());
            QVERIFY(w->initLock());
            QVERIFY(f.waitClosed());
            f.dialogs.answers.clear();
            f.dialogs.defaultAnswer = QMessageBox::No;
            f.bus.plug(Personality::DualMode);
            QVERIFY(f.waitLoaded());
        } else {
            QVERIFY(exited());
            QVERIFY(!w->deviceSession());
            QCOMPARE(f.bus.openHandleCount(), 0);
            // What waited in the box is gone once control is back in the loop.
            QTest::qWait(10);
            f.window.reset();
        }
    }

    void realBoxesCloseWithWhatTheyBelongTo()
    {
        // No test handler: real dialogs. Releasing the page a box belongs to
        // closes the box (a keyboard gone while its page asks something).
        for (int kind = 0; kind < 2; ++kind) {
            QPointer<QWidget> page = new QWidget;
            bool stuck = false;
            QTimer::singleShot(100, page, [&] { Dialogs::deleteSafely(page); });
            QTimer safety;
            safety.setSingleShot(true);
            connect(&safety, &QTimer::timeout, [&] {
                stuck = true;
                if (QWidget *modal = QApplication::activeModalWidget())
                    modal->close();
            });
            safety.start(5000);
            if (kind == 0)
                QVERIFY(!Dialogs::color(page, Qt::red, QStringLiteral("Select Color")).isValid());
            else
                Dialogs::question(page, QStringLiteral("Warning"), QStringLiteral("Sure?"));
            QVERIFY(!stuck);
            QTRY_VERIFY(page.isNull());
        }
    }

    void versionQuestionAnsweredYesOffersTheFirmwareUpdate()
    {
        SessionFixture f;
        f.bus.plug(Personality::UsbOnly);
        f.dialogs.answers << QMessageBox::Yes;
        Lumory *w = f.start();
        QSignalSpy update(w->deviceSession(), &DeviceSession::firmwareUpdateRequested);
        // "Yes" stops the loading there and opens the firmware panel.
        QTRY_COMPARE_WITH_TIMEOUT(update.count(), 1, 15000);
        QCOMPARE(f.dialogs.messages.size(), 1);
        QCOMPARE(w->currentPageName(), QStringLiteral("Setting"));
        QVERIFY(w->settingPage()->firmwarePanel()->pathField()->isEnabled());
        QVERIFY(w->tabLabels().first()->isEnabled());
    }
};

QTEST_MAIN(TestModalBoxes)
#include "tst_modalboxes.moc"

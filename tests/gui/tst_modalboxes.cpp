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
#include <QAction>
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
enum class Interruption
{
    Unplug,
    Exit,
    Sigterm
};

// QCoreApplication::quit() makes every later QEventLoop::exec() return at
// once until the next exec(); start the next case with a clean slate.
void resetQuitState()
{
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

// Key function 0 in use with function `hi` of the full-size catalogue.
void storeFunction(sim::SimKeyboard *kb, int hi)
{
    kf_t e{};
    e.setInUse(true);
    e.setHi(uint8_t(hi));
    e.keys[0].setType(1);
    e.keys[0].setCode(0x04);
    e.setListKey(0, e.keys[0]);
    kb->setKeyFunction(0, QByteArray(reinterpret_cast<const char *>(&e), sizeof e));
}

ShortcutsItem *firstFunction(Lumory *w)
{
    if (!QTest::qWaitFor([w] { return w->shortcutsPage() && w->shortcutsPage()->isLoaded(); }))
        return nullptr;
    w->labelPageClickSlot(QStringLiteral("Shortcuts"));
    return w->shortcutsPage()->items().value(0);
}
} // namespace

class TestModalBoxes : public QObject
{
    Q_OBJECT

private:
    struct Box
    {
        Personality personality;
        int boxesBefore; // answered normally before the interrupted one
        std::function<void(Lumory *)> open;
        std::function<void(sim::SimKeyboard *)> prepare = {};
    };

    static Box box(const QString &name)
    {
        if (name == QLatin1String("version question")) // T88: firmware older than the catalogue
            return {Personality::UsbOnly, 0, [](Lumory *) {}};
        if (name == QLatin1String("factory reset result")) {
            return {Personality::DualMode, 1,
                    [](Lumory *w) { w->settingPage()->factoryResetButton()->click(); }};
        }
        if (name == QLatin1String("settings result")) {
            return {Personality::DualMode, 0,
                    [](Lumory *w) { Q_EMIT w->settingPage()->emitBluetoothName("Lumory BT"); }};
        }
        if (name == QLatin1String("colour dialog")) {
            return {Personality::DualMode, 0, [](Lumory *w) {
                        w->labelPageClickSlot(QStringLiteral("Color"));
                        auto *swatch = w->colorPage()->findChild<QAbstractButton *>(
                            QStringLiteral("customColor_2"));
                        swatch->click();
                        swatch->click(); // a double press edits the colour
                    }};
        }
        if (name == QLatin1String("lighting write refused")) {
            return {Personality::DualMode, 0, [](Lumory *w) {
                        w->labelPageClickSlot(QStringLiteral("Color"));
                        w->colorPage()
                            ->findChild<QAbstractButton *>(QStringLiteral("customColor_2"))
                            ->click();
                        QTest::qWait(250);
                        KeyBtn *key = w->keyLayout()->dynamicKeys().at(4);
                        Q_EMIT key->emitRequestColorSignal(key->getVectorIndex());
                    }};
        }
        if (name == QLatin1String("key function write refused")) {
            return {Personality::DualMode, 0,
                    [](Lumory *w) {
                        ShortcutsItem *row = firstFunction(w);
                        row->setSelect(true);
                        w->shortcutsPage()->itemDownloadButtonSlot();
                    },
                    [](sim::SimKeyboard *kb) {
                        storeFunction(kb, 1);
                        sim::Fault refused;
                        refused.kind = sim::FaultKind::WriteFailure;
                        refused.command = 0x40;
                        refused.subCommand = 0x20;
                        kb->injectFault(refused);
                    }};
        }
        if (name == QLatin1String("key list chooser")) {
            return {Personality::DualMode, 0,
                    [](Lumory *w) {
                        ShortcutsParameter *p = firstFunction(w)->parameter();
                        p->doubleClickSlot(p->keyListButtons().first());
                    },
                    [](sim::SimKeyboard *kb) { storeFunction(kb, 5); }};
        }
        if (name == QLatin1String("document chooser")) {
            return {Personality::DualMode, 0,
                    [](Lumory *w) { firstFunction(w)->parameter()->chooserButton()->click(); },
                    [](sim::SimKeyboard *kb) { storeFunction(kb, 2); }};
        }
        if (name.startsWith(QLatin1String("macro "))) {
            // A macro with events is selected on the macro page.
            return {Personality::DualMode, 0,
                    [name](Lumory *w) {
                        w->labelPageClickSlot(QStringLiteral("Macro"));
                        Macro *page = w->macroPage();
                        page->items().first()->timeline()->createKey(1, 20, 0x04, 1, 0);
                        page->items().first()->timeline()->createKey(0, 20, 0x04, 1, 0);
                        if (name.endsWith(QLatin1String("question")))
                            page->recordButton()->click();
                        else if (name.endsWith(QLatin1String("export chooser")))
                            page->exportActionSlot();
                        else if (name.endsWith(QLatin1String("import chooser")))
                            page->importActionSlot();
                        else
                            page->downloadItemDataSlot();
                    },
                    [name](sim::SimKeyboard *kb) {
                        kb->setMacro(0, "Box", QByteArray());
                        sim::Fault refused; // every frame write, the commit included
                        refused.kind = sim::FaultKind::ErrorStatus;
                        refused.count = -1;
                        refused.status = sim::kSimStatusBadState;
                        refused.command = 0x50;
                        refused.subCommand = 0x40;
                        if (name.endsWith(QLatin1String("refused")))
                            kb->injectFault(refused);
                    }};
        }
        if (name == QLatin1String("firmware package refused")) {
            return {Personality::DualMode, 0, [](Lumory *w) {
                        static QTemporaryDir empty;
                        w->labelPageClickSlot(QStringLiteral("Setting"));
                        Firmware *panel = w->settingPage()->firmwarePanel();
                        panel->pathField()->setText(empty.path());
                        panel->startButton()->click();
                    }};
        }
        if (name == QLatin1String("firmware module error")) {
            return {Personality::DualMode, 0,
                    [](Lumory *w) {
                        static QTemporaryDir package;
                        TestSupport::writeFile(package.filePath(QStringLiteral("hx_bt_app_V1.bin")),
                                               sim::makeFirmwareImage(109, 1000, 7, 1));
                        w->labelPageClickSlot(QStringLiteral("Setting"));
                        Firmware *panel = w->settingPage()->firmwarePanel();
                        panel->pathField()->setText(package.path());
                        panel->startButton()->click();
                    },
                    [](sim::SimKeyboard *kb) {
                        sim::BtFault fault;
                        fault.kind = sim::BtFaultKind::ErrorCode;
                        fault.op = 0x83;
                        kb->injectBtFault(fault);
                    }};
        }
        if (name == QLatin1String("about"))
            return {Personality::DualMode, 0, [](Lumory *w) { w->menuTree()->aboutSlot(); }};
        return {Personality::DualMode, 0, [](Lumory *w) { w->layoutEditorSlot(); }};
    }

private Q_SLOTS:
    void cleanup() { resetQuitState(); }

    void interruptedBox_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<int>("interruption");
        const char *boxes[] = {"version question",
                               "factory reset result",
                               "settings result",
                               "about",
                               "layout editor",
                               "colour dialog",
                               "lighting write refused",
                               "key function write refused",
                               "key list chooser",
                               "document chooser",
                               "macro record question",
                               "macro export chooser",
                               "macro import chooser",
                               "macro download refused",
                               "firmware package refused",
                               "firmware module error"};
        for (const char *name : boxes) {
            QTest::addRow("%s, unplug", name)
                << QString::fromLatin1(name) << int(Interruption::Unplug);
            QTest::addRow("%s, exit", name) << QString::fromLatin1(name) << int(Interruption::Exit);
        }
        QTest::addRow("version question, SIGTERM")
            << QStringLiteral("version question") << int(Interruption::Sigterm);
        QTest::addRow("factory reset result, SIGTERM")
            << QStringLiteral("factory reset result") << int(Interruption::Sigterm);
    }

    void interruptedBox()
    {
        QFETCH(QString, box);
        QFETCH(int, interruption);
        const Box b = TestModalBoxes::box(box);
        const bool versionQuestion = box == QLatin1String("version question");

        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(b.personality);
        f.dialogs.defaultAnswer = QMessageBox::Yes;
        f.dialogs.answers << 0 << QMessageBox::Yes; // the custom "Ok" of a question, then Yes
        f.dialogs.interruptAfter = b.boxesBefore;
        if (b.prepare)
            b.prepare(kb);
        if (box == QLatin1String("lighting write refused")) {
            sim::Fault refused;
            refused.kind = sim::FaultKind::WriteFailure;
            refused.command = 0x30;
            refused.subCommand = 0x11;
            kb->injectFault(refused);
        }
        Lumory *w = f.start();
        installTerminationHandler(w);
        QSignalSpy update(w->deviceSession(), &DeviceSession::firmwareUpdateRequested);

        switch (Interruption(interruption)) {
        case Interruption::Unplug:
            f.dialogs.interruptNext([&] { f.bus.unplug(kb); },
                                    [&] { return !w->deviceSession()->usb(); });
            break;
        case Interruption::Exit:
            f.dialogs.interruptNext([&] { w->exitAppActionSlot(); },
                                    [] { return !LogHandler::instance().isInstalled(); });
            break;
        case Interruption::Sigterm:
            f.dialogs.interruptNext([] { ::raise(SIGTERM); },
                                    [] { return !LogHandler::instance().isInstalled(); });
            break;
        }
        if (!versionQuestion) {
            QVERIFY(f.waitLoaded());
            b.open(w);
        }
        QTRY_VERIFY_WITH_TIMEOUT(f.dialogs.opened > b.boxesBefore, 10000);
        QVERIFY2(f.dialogs.interruptDone, "the interruption did not finish inside the box");
        QTest::qWait(50); // what the method does after its box returned

        if (interruption == int(Interruption::Unplug)) {
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
            QVERIFY(!LogHandler::instance().isInstalled());
            QVERIFY(!w->deviceSession());
            QVERIFY(f.bus.openHandleCount() == 0);
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

// Backing up and restoring a keyboard through the program's own flow, against
// the simulated keyboard's stored state: the round trip after a factory
// reset, a profile of another board, refused files, Cancel, and an unplug or
// Exit inside every box of the flow and inside its progress.
#include "device/device.h"
#include "device/protocol.h"
#include "device/wirerecords.h"
#include "main/devicesession.h"
#include "main/loghandler.h"
#include "sessionfixture.h"
#include "setting/firmware.h"
#include "setting/profileflow.h"
#include "setting/setting.h"
#include "simsnapshot.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>

#include <functional>

using sim::Personality;
using TestSupport::SessionFixture;

namespace {

QByteArray frames(int count)
{
    QByteArray out;
    for (int i = 0; i < count; ++i) {
        mframe_t f{};
        f.setTs(uint16_t(20 + i));
        f.keys[0] = uint8_t(4 + i % 26);
        out.append(reinterpret_cast<const char *>(&f), sizeof f);
    }
    return out;
}

// Something the factory reset takes away in each kind of part.
void customise(sim::SimKeyboard *kb)
{
    QByteArray map = kb->keyCodes(1);
    map[5 * 4] = char(0x03); // Z, locked
    map[5 * 4 + 1] = char(0x1D);
    kb->setKeyCodes(1, map);
    if (kb->hasLighting()) {
        QByteArray colours = kb->keyColours(0);
        colours.replace(3 * 4, 4, QByteArray::fromHex("01020300"));
        kb->setKeyColours(0, colours);
    }
    kb->setMacro(2, "Copy", frames(40));
    if (kb->hasBluetooth())
        kb->setBluetoothName("XMy board");
}

// QCoreApplication::quit() makes every later QEventLoop::exec() return at
// once until the next exec(); start the next case with a clean slate.
void resetQuitState()
{
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

bool exited()
{
    return !LogHandler::instance().isInstalled();
}

// The main window on a simulated bus with the flow wired as the window wires it.
struct Rig
{
    explicit Rig(Personality personality = Personality::DualMode)
    {
        kb = f.bus.plug(personality);
        customise(kb);
        w = f.start();
        flow = new ProfileFlow(w->deviceSession(), w, w);
        flow->setDocumentsDir(f.home.path() + QStringLiteral("/Documents"));
        QObject::connect(flow, &ProfileFlow::busy, w, &Lumory::banWindowsButtonSlot);
        QObject::connect(flow, &ProfileFlow::finished, flow, [this](bool ok) {
            ++runs;
            lastOk = ok;
        });
    }
    // Starts a flow and waits until it has ended.
    bool run(const std::function<void()> &start)
    {
        const int before = runs;
        start();
        return QTest::qWaitFor([&] { return runs > before; }, 30000);
    }
    bool backup(const QString &file)
    {
        f.dialogs.fileAnswers << file;
        return run([this] { flow->backup(); }) && lastOk;
    }
    bool restore(const QString &file, int answer = 0)
    {
        f.dialogs.fileAnswers << file;
        f.dialogs.answers << answer << QMessageBox::Ok;
        return run([this] { flow->restore(); }) && f.waitLoaded();
    }
    bool factoryReset()
    {
        Device *device = w->deviceSession()->device();
        return device && device->setFactoryReset() == WK_SUCCESS;
    }
    QString lastText() const { return f.dialogs.messages.last().text; }
    // Runs `action` from the event loop once the progress box titled
    // `title` has moved.
    void onProgress(const QString &title, std::function<void()> action)
    {
        f.bus.setReportLatencyUs(1500); // long enough to be caught in the middle
        QTimer *poll = new QTimer(flow);
        QObject::connect(poll, &QTimer::timeout, flow, [this, poll, title, action] {
            ProfileProgress *box = flow->progressBox();
            if (box && box->isVisible() && box->titleLabel()->text() == title &&
                box->bar()->value() > 2) {
                poll->deleteLater();
                action();
            }
        });
        poll->start(1);
    }

    SessionFixture f;
    sim::SimKeyboard *kb = nullptr;
    Lumory *w = nullptr;
    ProfileFlow *flow = nullptr;
    int runs = 0;
    bool lastOk = false;
};

enum Interruption
{
    Unplug,
    Exit,
    Cancel, // the progress box's button
};
enum Flow
{
    Backup,
    Restore,
};
} // namespace

class TestProfileFlow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { resetQuitState(); }

    void backupResetRestore_data()
    {
        QTest::addColumn<bool>("safetyNet");
        QTest::newRow("menu, save dialog") << false;
        QTest::newRow("firmware panel button") << true;
    }
    void backupResetRestore()
    {
        QFETCH(bool, safetyNet);
        Rig rig;
        QVERIFY(rig.f.waitLoaded());
        const sim::StateSnapshot before = sim::snapshot(rig.kb);
        QString path;
        if (safetyNet) {
            // One click: the default file in the documents folder, the result named.
            Firmware *panel = rig.w->settingPage()->firmwarePanel();
            // This rig's flow alone: the window's own would write the same file at once.
            QObject::disconnect(panel, &Firmware::emitBackup, nullptr, nullptr);
            QObject::connect(panel, &Firmware::emitBackup, rig.flow, &ProfileFlow::quickBackup);
            QVERIFY(rig.run([panel] { panel->backupButton()->click(); }));
            QVERIFY(rig.lastOk);
            QCOMPARE(rig.f.dialogs.files.size(), 0);
            const QFileInfoList made = QDir(rig.flow->documentsDir()).entryInfoList(QDir::Files);
            QCOMPARE(made.size(), 1);
            path = made.first().absoluteFilePath();
            const QString name = rig.w->settingPage()->productText() + QLatin1Char(' ') +
                                 QDate::currentDate().toString(Qt::ISODate) + ".lumory";
            QCOMPARE(made.first().fileName(), name);
        } else {
            path = rig.f.home.path() + QStringLiteral("/mine");
            QVERIFY(rig.backup(path));
            path += QStringLiteral(".lumory"); // the suffix is added
            QCOMPARE(rig.f.dialogs.files.last().mode, Dialogs::FileMode::Save);
        }
        QVERIFY2(rig.lastText().contains(QFileInfo(path).fileName()), qPrintable(rig.lastText()));

        QVERIFY(rig.factoryReset());
        QVERIFY(!sim::differences(before, sim::snapshot(rig.kb)).isEmpty());
        QSignalSpy rebuilt(rig.w->deviceSession(), &DeviceSession::loadFinished);
        QVERIFY(rig.restore(path));
        QVERIFY(rig.lastOk);
        QCOMPARE(sim::differences(before, sim::snapshot(rig.kb)), QStringList());
        // The pages were built again from the keyboard.
        QCOMPARE(rebuilt.count(), 1);
        QCOMPARE(rig.w->settingPage()->bluetoothNameEdit()->text(), QStringLiteral("My board"));

        // Again: nothing to ask, nothing written.
        const int asked = rig.f.dialogs.messages.size();
        rig.f.dialogs.answers.clear();
        rig.f.dialogs.fileAnswers << path;
        QVERIFY(rig.run([&] { rig.flow->restore(); }));
        QCOMPARE(rig.f.dialogs.messages.size(), asked + 1);
        QCOMPARE(rig.f.dialogs.messages.last().icon, QMessageBox::Information);
        QVERIFY(rig.f.dialogs.messages.last().customButtons.isEmpty());
    }

    void otherBoardListsWhatIsDroppedBeforeWriting()
    {
        Rig rig;
        QVERIFY(rig.f.waitLoaded());
        const QString path = rig.f.home.path() + QStringLiteral("/k108.lumory");
        QVERIFY(rig.backup(path));
        rig.f.bus.unplug(rig.kb);
        QVERIFY(rig.f.waitClosed());
        rig.kb = rig.f.bus.plug(Personality::UsbOnly);
        QVERIFY(rig.f.waitLoaded());
        const sim::StateSnapshot t88 = sim::snapshot(rig.kb);
        sim::StateSnapshot asked;
        rig.f.dialogs.interruptAfter = 1; // the file dialog
        rig.f.dialogs.interruptNext([&] { asked = sim::snapshot(rig.kb); }, [] { return true; });
        QVERIFY(rig.restore(path, 1));
        QVERIFY(!rig.lastOk);
        const Dialogs::MessageRequest question = rig.f.dialogs.messages.last();
        QCOMPARE(question.icon, QMessageBox::Question);
        for (const char *key : {"Mute (Q0)", "Kp7 (R2)", "colour map 2"})
            QVERIFY2(question.text.contains(QLatin1String(key)), key);
        QCOMPARE(sim::differences(t88, asked), QStringList());
        QCOMPARE(sim::differences(t88, sim::snapshot(rig.kb)), QStringList());
    }

    void refusedWithNothingSent_data()
    {
        QTest::addColumn<QByteArray>("from");
        QTest::addColumn<QByteArray>("to");
        QTest::addColumn<QString>("named");
        QTest::newRow("truncated") << QByteArray("\"macros\"") << QByteArray() << "line";
        QTest::newRow("foreign") << QByteArray("1209:0001") << QByteArray("046d:c33c")
                                 << "046d:c33c";
        QTest::newRow("newer") << QByteArray("\"version\": 1") << QByteArray("\"version\": 2")
                               << "version 2";
        QTest::newRow("not JSON") << QByteArray("{") << QByteArray("<macro>") << "";
    }
    void refusedWithNothingSent()
    {
        QFETCH(QByteArray, from);
        QFETCH(QByteArray, to);
        QFETCH(QString, named);
        Rig rig;
        QVERIFY(rig.f.waitLoaded());
        const QString path = rig.f.home.path() + QStringLiteral("/k.lumory");
        QVERIFY(rig.backup(path));
        QByteArray text = TestSupport::readFile(path);
        const int at = text.indexOf(from);
        QVERIFY(at >= 0);
        text = to.isEmpty() ? text.left(at) : text.replace(at, from.size(), to);
        QVERIFY(TestSupport::writeFile(path, text));

        rig.kb->clearReceivedFrames();
        rig.f.dialogs.fileAnswers << path;
        QVERIFY(rig.run([&] { rig.flow->restore(); }));
        QVERIFY(!rig.lastOk);
        QCOMPARE(rig.f.dialogs.messages.last().icon, QMessageBox::Warning);
        QVERIFY2(rig.lastText().contains(named) && rig.lastText().contains("k.lumory"),
                 qPrintable(rig.lastText()));
        QCOMPARE(rig.kb->receivedFrames().size(), 0);
    }

    void interrupted_data()
    {
        QTest::addColumn<int>("flow");
        QTest::addColumn<int>("boxesBefore"); // -1: in the progress, -2: the check's
        QTest::addColumn<int>("interruption");
        const auto add = [](const char *name, Flow flow, int before) {
            QTest::addRow("%s, unplug", name) << int(flow) << before << int(Unplug);
            QTest::addRow("%s, exit", name) << int(flow) << before << int(Exit);
        };
        add("save dialog", Backup, 0);
        add("back-up progress", Backup, -1);
        QTest::newRow("back-up progress, cancel") << int(Backup) << -1 << int(Cancel);
        add("back-up result", Backup, 1);
        add("open dialog", Restore, 0);
        add("check progress", Restore, -2); // the whole keyboard is read before the question
        add("summary question", Restore, 1);
        add("restore progress", Restore, -1);
        QTest::newRow("restore progress, cancel") << int(Restore) << -1 << int(Cancel);
        add("restore result", Restore, 2);
    }
    void interrupted()
    {
        QFETCH(int, flow);
        QFETCH(int, boxesBefore);
        QFETCH(int, interruption);
        Rig rig;
        QVERIFY(rig.f.waitLoaded());
        const sim::StateSnapshot wanted = sim::snapshot(rig.kb);
        const QString path = rig.f.home.path() + QStringLiteral("/k.lumory");
        if (flow == Restore) {
            QVERIFY(rig.backup(path));
            QVERIFY(rig.factoryReset());
        }
        const sim::StateSnapshot reset = sim::snapshot(rig.kb);
        int boxesAtAction = -1;
        const std::function<void()> action = [&] {
            boxesAtAction = rig.f.dialogs.opened;
            if (interruption == Unplug)
                rig.f.bus.unplug(rig.kb);
            else if (interruption == Exit)
                rig.w->exitAppActionSlot();
            else
                rig.flow->progressBox()->cancelButton()->click();
        };
        const std::function<bool()> over = [&] {
            return interruption == Unplug ? !rig.w->deviceSession()->usb()
                                          : interruption == Cancel || exited();
        };
        if (boxesBefore >= 0) {
            rig.f.dialogs.interruptAfter = boxesBefore;
            rig.f.dialogs.interruptNext(action, over);
        } else {
            rig.onProgress(flow == Backup      ? "Backing up the keyboard"
                           : boxesBefore == -2 ? "Checking the profile"
                                               : "Restoring the keyboard",
                           action);
        }
        // The run has stopped before the session deletes the device.
        bool runningAtClose = false;
        QObject::connect(rig.w->deviceSession(), &DeviceSession::deviceClosed, rig.flow,
                         [&] { runningAtClose = runningAtClose || rig.flow->isRunning(); });
        rig.f.dialogs.fileAnswers << path;
        rig.f.dialogs.answers << 0; // "Restore"
        QVERIFY(rig.run([&] { flow == Backup ? rig.flow->backup() : rig.flow->restore(); }));
        QTRY_VERIFY(over());
        QVERIFY(!runningAtClose);

        if (flow == Backup) // a file only once the back-up finished
            QCOMPARE(QFile::exists(path), boxesBefore == 1);
        if (interruption == Exit) {
            QCOMPARE(rig.f.dialogs.opened, boxesAtAction); // nothing asks or tells any more
            QTRY_VERIFY(!rig.w->deviceSession());
            QCOMPARE(rig.f.bus.openHandleCount(), 0);
            QTest::qWait(10);
            rig.f.window.reset();
            return;
        }
        if (flow == Backup)
            return;
        rig.f.bus.setReportLatencyUs(0);
        if (interruption == Unplug)
            rig.kb = rig.f.bus.plug(Personality::DualMode, 0);
        rig.f.dialogs.answers.clear();
        if (boxesBefore != -1) { // nothing was written, or all of it
            QCOMPARE(sim::differences(boxesBefore == 2 ? wanted : reset, sim::snapshot(rig.kb)),
                     QStringList());
            return;
        }
        // Cut off in the middle: the user is told what is left, and a restore
        // of the same file completes it.
        QVERIFY2(rig.lastText().contains("Not restored"), qPrintable(rig.lastText()));
        QVERIFY(rig.f.waitLoaded());
        QVERIFY(rig.restore(path));
        QVERIFY(rig.lastOk);
        QCOMPARE(sim::differences(wanted, sim::snapshot(rig.kb)), QStringList());
    }
};

QTEST_MAIN(TestProfileFlow)
#include "tst_profileflow.moc"

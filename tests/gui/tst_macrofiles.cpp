// The macro page's files and recording against the simulated keyboard: the
// file that follows each macro (download, rename, delete, unplug), export,
// import and what import refuses, names that are not file names, and a
// recording from REC to the cleaned timeline.
#include "macro/macro.h"
#include "macro/macrofile.h"
#include "macro/macroitem.h"
#include "macro/macrokeylayout.h"
#include "sessionfixture.h"
#include "widget/tablabel.h"

#include <QDirIterator>
#include <QLineEdit>
#include <QToolButton>
#include <QtTest>

using sim::Personality;
using TestSupport::framesOf;
using TestSupport::SessionFixture;
using Typing = std::function<void(sim::SimKeyboard *)>;
Q_DECLARE_METATYPE(Typing)

namespace {
// One recorded frame: delay, modifiers, reserved, first key.
QByteArray frame(uint16_t ts, uint8_t modifiers, uint8_t key)
{
    const char f[10] = {char(ts & 0xFF), char(ts >> 8), char(modifiers), 0, char(key)};
    return QByteArray(f, 10);
}

// "status code delay" per event, code in hexadecimal.
QStringList flat(const QVector<DataKey> &events)
{
    QStringList out;
    for (const DataKey &e : events)
        out << QStringLiteral("%1 %2 %3").arg(e.status).arg(e.code, 0, 16).arg(e.delay);
    return out;
}

QStringList fileEvents(const QString &path)
{
    QVector<DataKey> events;
    return MacroFile::read(path, &events) == MacroFile::kRead ? flat(events)
                                                              : QStringList{"unreadable"};
}

// The id a saved file carries.
bool hasId(const QString &path, const char *id)
{
    return TestSupport::readFile(path).contains(QByteArray("<ITEM id=\"") + id + '"');
}

QStringList filesUnder(const QString &dir)
{
    QStringList files;
    QDirIterator it(dir, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << it.next();
    files.sort();
    return files;
}

struct Page
{
    SessionFixture f;
    sim::SimKeyboard *kb = nullptr;
    Lumory *w = nullptr;

    // Macros by slot, each holding `frames`.
    explicit Page(std::initializer_list<std::pair<int, const char *>> macros,
                  const QByteArray &frames = {})
    {
        kb = f.bus.plug(Personality::DualMode);
        for (const auto &[slot, name] : macros)
            kb->setMacro(slot, name, frames);
        w = f.start();
    }
    bool open()
    {
        if (!f.waitLoaded() || !w->macroPage())
            return false;
        w->labelPageClickSlot(QStringLiteral("Macro"));
        page()->drawTimer()->setInterval(0);
        kb->clearReceivedFrames();
        return true;
    }
    Macro *page() const { return w->macroPage(); }
    MacroItem *item(int i) const { return page()->items().at(i); }
    QStringList events(int i) const { return flat(item(i)->timeline()->dataKeys()); }
    QString file(const QString &name) const { return page()->folder() + name; }
    // A down / up pair of each key, `ms` apart.
    void fill(int i, const QVector<uint16_t> &codes, uint16_t ms)
    {
        for (uint16_t code : codes) {
            item(i)->timeline()->createKey(1, ms, code, 1, 0);
            item(i)->timeline()->createKey(0, ms, code, 1, 0);
        }
    }
    void download(int i)
    {
        page()->setItemSelect(item(i));
        page()->downloadItemDataSlot();
    }
    // The payloads (byte 8) of the recording switches sent.
    QByteArray recordSwitches() const
    {
        QByteArray on;
        for (const QByteArray &f : framesOf(kb, 0x50, 0x10))
            on += f.at(8);
        return on;
    }
};

const auto twoMacros = {std::make_pair(1, "Keep"), std::make_pair(3, "Hi")};
} // namespace

class TestMacroFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theFileFollowsTheMacro()
    {
        Page p({{1, "Keep"}, {2, "../x"}, {3, "Hi"}}); // no file name in "../x": saved by its slot
        QVERIFY(p.open());
        // A file stands where the macro folder goes: the failed save is shown
        // and the macro stays unsaved.
        const QString blocker = p.page()->folder().chopped(1);
        QVERIFY(TestSupport::writeFile(blocker, "not a folder"));
        QStringList files = filesUnder(p.f.appDir.path());
        p.fill(2, {0x2C, 0x04}, 40);
        p.item(2)->setUnsaved(true);
        p.download(2);
        QCOMPARE(filesUnder(p.f.appDir.path()), files);
        QCOMPARE(TestSupport::readFile(blocker), QByteArray("not a folder"));
        QVERIFY(p.item(2)->isUnsaved());
        QCOMPARE(p.f.dialogs.messages.size(), 1);
        QVERIFY(QFile::remove(blocker) && files.removeOne(blocker));

        p.download(2);
        QCOMPARE(fileEvents(p.file("Hi.xml")), p.events(2));
        QVERIFY(hasId(p.file("Hi.xml"), "3"));
        QVERIFY(!p.item(2)->isUnsaved());
        p.page()->setItemSelect(p.item(2));
        p.page()->alterButtonSlot();
        p.page()->renameField()->setText(QStringLiteral("Intro"));
        p.page()->alterEditFinishedSlot();
        QVERIFY(!QFile::exists(p.file("Hi.xml")));
        QCOMPARE(fileEvents(p.file("Intro.xml")), p.events(2));

        p.fill(0, {0x05}, 30);
        p.download(0);
        p.fill(1, {0x06}, 30);
        p.download(1);
        QCOMPARE(fileEvents(p.file("Macro2.xml")), p.events(1));
        // The keyboard's name stays.
        QVERIFY(p.kb->macroHead(2).mid(8).startsWith(QByteArray("../x\0", 5)));
        p.page()->setItemSelect(p.item(2));
        p.page()->deleteItemSlot();
        files << p.file("Keep.xml") << p.file("Macro2.xml");
        files.sort();
        QCOMPARE(filesUnder(p.f.appDir.path()), files);

        const QString keep = p.file("Keep.xml");
        const QStringList kept = p.events(0);
        p.f.bus.unplug(p.kb);
        QVERIFY(p.f.waitClosed());
        QCOMPARE(fileEvents(keep), kept);
    }

    void exportThenImport_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::newRow("no suffix") << QString("out") << QString("out.xml");
        QTest::newRow("other suffix") << QString("out.mac") << QString("out.mac");
    }
    void exportThenImport()
    {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        Page p(twoMacros);
        QVERIFY(p.open());
        p.fill(1, {0x2C}, 50);
        const QString home = p.f.home.path() + "/";
        p.f.dialogs.fileAnswers << home + typed << home + written;
        p.page()->setItemSelect(p.item(1));
        p.page()->exportActionSlot();
        QCOMPARE(p.f.dialogs.files.at(0).directory, home + "Hi.xml");
        QVERIFY(p.f.dialogs.files.at(0).mode == Dialogs::FileMode::Save);
        QVERIFY(hasId(home + written, "-1"));
        QCOMPARE(filesUnder(home), QStringList{home + written});

        // Imported: the first free slot and its default name, whatever the file's id.
        p.page()->importActionSlot();
        QTRY_VERIFY(!p.page()->isDrawing());
        QCOMPARE(p.page()->names(), (QStringList{"Keep", "Hi", "Macro0"}));
        QCOMPARE(p.item(2)->id(), 0);
        QCOMPARE(p.events(2), p.events(1));
        QCOMPARE(p.kb->macroFrames(0).size(), 10 * p.item(2)->timeline()->framesNeeded());
        QCOMPARE(fileEvents(p.file("Macro0.xml")), p.events(1));
        QVERIFY(!p.item(2)->isUnsaved() && p.f.dialogs.messages.isEmpty());
    }

    void importRefuses_data()
    {
        QTest::addColumn<QByteArray>("content");
        QByteArray keys; // 513 frames of A
        for (int i = 0; i < 513; ++i)
            keys += QByteArray("<KEY") + QByteArray::number(i) + " status=\"" +
                    QByteArray::number(1 - i % 2) + "\" code=\"4\" type=\"1\" delay=\"10\"/>";
        QTest::newRow("no usable events")
            << QByteArray("<MACRO><ITEM><KEY0 status=\"7\" code=\"4\" type=\"1\"/>"
                          "<KEY1 status=\"1\" code=\"10000\" type=\"1\"/></ITEM></MACRO>");
        QTest::newRow("513 frames") << "<MACRO><ITEM>" + keys + "</ITEM></MACRO>";
    }
    void importRefuses()
    {
        QFETCH(QByteArray, content);
        Page p(twoMacros);
        QVERIFY(p.open());
        const QString path = p.f.home.path() + "/in.xml";
        QVERIFY(TestSupport::writeFile(path, content));
        p.f.dialogs.fileAnswers << path;
        p.page()->importActionSlot();
        QCOMPARE(p.f.dialogs.messages.size(), 1);
        QCOMPARE(p.page()->items().size(), 2);
        QVERIFY(p.kb->receivedFrames().isEmpty());
        QVERIFY(!QDir(p.page()->folder()).exists());
    }

    void recording_data()
    {
        QTest::addColumn<QString>("before"); // drawn events, or frames stored on the keyboard
        QTest::addColumn<int>("answer");     // to the question asked when there is something
        QTest::addColumn<Typing>("typing");  // none: no recording
        QTest::addColumn<QStringList>("live");
        QTest::addColumn<QStringList>("kept");
        const Typing oneReport = [](sim::SimKeyboard *kb) {
            kb->simulateReport(100, 0x02, QByteArray(1, 0x04));
            kb->simulateReport(50, 0, QByteArray());
        };
        const QStringList one{"1 e1 100", "1 4 0", "0 e1 50", "0 4 0"};
        QTest::newRow("one report") << QString() << 0 << oneReport << one << one;
        QTest::newRow("held at the stop") << QString() << 0 << Typing([](sim::SimKeyboard *kb) {
            kb->simulateKey(0xE1, true, 100);
            kb->simulateKey(0x04, true, 100);
            kb->simulateKey(0x04, false, 100);
        }) << QStringList{"1 e1 100", "1 4 100", "0 4 100"}
                                          << QStringList{"1 4 200", "0 4 100"}; // A keeps its time
        QTest::newRow("drawn and stored, Yes")
            << "drawn stored" << int(QMessageBox::Yes) << oneReport << one << one;
        for (const char *before : {"drawn", "stored"})
            QTest::addRow("%s, No", before)
                << before << int(QMessageBox::No) << Typing() << QStringList() << QStringList();
    }
    void recording()
    {
        QFETCH(QString, before);
        QFETCH(int, answer);
        QFETCH(Typing, typing);
        QFETCH(QStringList, live);
        QFETCH(QStringList, kept);
        const bool stored = before.contains("stored");
        Page p({{0, "Rec"}}, stored ? frame(10, 0, 0x04) : QByteArray());
        QVERIFY(p.open());
        if (before.contains("drawn"))
            p.fill(0, {0x04}, 20);
        const QStringList drawn = p.events(0);
        p.f.dialogs.answers << answer;
        p.page()->recordButton()->click();
        QCOMPARE(p.f.dialogs.messages.size(), int(!before.isEmpty()));
        if (!before.isEmpty())
            QCOMPARE(p.f.dialogs.messages.at(0).title, "About recording message boxes");
        const bool on = bool(typing);
        QCOMPARE(p.page()->recordButton()->isChecked(), on);
        QCOMPARE(p.page()->isRecording(), on);
        QCOMPARE(p.recordSwitches(), on ? QByteArray(1, 1) : QByteArray());
        QCOMPARE(p.item(0)->loadButton()->isVisibleTo(p.item(0)), stored && !on);
        QCOMPARE(p.w->tabLabels().first()->isEnabled(), !on);
        if (!on) {
            QCOMPARE(p.events(0), drawn);
            return;
        }
        typing(p.kb);
        QTRY_COMPARE(p.events(0), live);
        p.page()->recordButton()->click();
        QCOMPARE(p.recordSwitches(), QByteArray("\x01\x00", 2));
        QVERIFY(!p.kb->isRecordingMacro() && !p.page()->isRecording());
        QCOMPARE(p.events(0), kept);
        QVERIFY(p.w->tabLabels().first()->isEnabled());
    }

    void framesOutsideARecordingAndAnUnplug()
    {
        Page p({{0, "Rec"}});
        QVERIFY(p.open());
        p.item(0)->setSelected(false); // REC without a macro stays off
        p.page()->recordButton()->setChecked(true);
        QVERIFY(!p.page()->recordButton()->isChecked() && !p.page()->isRecording());
        QVERIFY(p.kb->receivedFrames().isEmpty());
        p.item(0)->setSelected(true);
        p.kb->sendNotification(0x50, frame(100, 0x02, 0x04));
        QTest::qWait(100);
        QVERIFY(p.events(0).isEmpty());
        p.page()->recordButton()->click();
        p.kb->sendNotification(0x50, frame(100, 0, 0x05).left(9));
        p.kb->sendNotification(0x50, frame(70, 0, 0x04));
        QTRY_COMPARE(p.events(0), QStringList{"1 4 70"});

        // Unplugged while recording: the ban goes, and the recording ends
        // without a word to the keyboard that went (only the log can tell).
        p.f.bus.unplug(p.kb);
        QVERIFY(p.f.waitClosed());
        QVERIFY(!p.w->macroPage() && p.w->tabLabels().first()->isEnabled());
        QVERIFY(p.f.logHasInOrder({"setRecordMacro 1", "INFO: stop recorder;"}));
        QVERIFY(!p.f.logMessages().contains(QStringLiteral("setRecordMacro 0")));
    }
};

QTEST_MAIN(TestMacroFiles)
#include "tst_macrofiles.moc"

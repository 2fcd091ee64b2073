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
#include <QXmlStreamReader>
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

QByteArray head(int id, const QByteArray &name)
{
    QByteArray h(24, '\0');
    h[0] = char((id & 0x3F) | 0x40); // used, no frames
    h.replace(8, qMin(16, name.size()), name.left(16));
    return h;
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

QString itemId(const QString &path)
{
    QFile file(path);
    file.open(QIODevice::ReadOnly);
    QXmlStreamReader xml(&file);
    while (xml.readNextStartElement() && xml.name() != QLatin1String("ITEM")) {
    }
    return xml.attributes().value(QStringLiteral("id")).toString();
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

    explicit Page(const Typing &prepare)
    {
        kb = f.bus.plug(Personality::DualMode);
        prepare(kb);
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

const Typing oneMacro = [](sim::SimKeyboard *kb) { kb->setMacro(0, "Rec", QByteArray()); };
const Typing twoMacros = [](sim::SimKeyboard *kb) {
    kb->setMacro(1, "Keep", QByteArray());
    kb->setMacro(3, "Hi", QByteArray());
};
} // namespace

class TestMacroFiles : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void theFileFollowsTheMacro()
    {
        Page p(twoMacros);
        QVERIFY(p.open());
        p.fill(1, {0x2C, 0x04}, 40);
        p.item(1)->setUnsaved(true);
        p.download(1);
        QCOMPARE(fileEvents(p.file("Hi.xml")), p.events(1));
        QCOMPARE(itemId(p.file("Hi.xml")), QStringLiteral("3"));
        QVERIFY(!p.item(1)->isUnsaved());

        p.page()->setItemSelect(p.item(1));
        p.page()->alterButtonSlot();
        p.page()->renameField()->setText(QStringLiteral("Intro"));
        p.page()->alterEditFinishedSlot();
        QVERIFY(!QFile::exists(p.file("Hi.xml")));
        QCOMPARE(fileEvents(p.file("Intro.xml")), p.events(1));

        p.fill(0, {0x05}, 30);
        p.download(0);
        p.page()->setItemSelect(p.item(1));
        p.page()->deleteItemSlot();
        QCOMPARE(filesUnder(p.page()->folder()), QStringList{p.file("Keep.xml")});

        const QString keep = p.file("Keep.xml");
        const QStringList kept = p.events(0);
        p.f.bus.unplug(p.kb);
        QVERIFY(p.f.waitClosed());
        QCOMPARE(fileEvents(keep), kept);
    }

    void savesStayInTheFolder_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("blocked"); // a file stands where the macro folder goes
        QTest::newRow("parent") << QByteArray("../x") << false;
        QTest::newRow("sub-folder") << QByteArray("a/b") << false;
        QTest::newRow("absolute") << QByteArray("/x") << false;
        QTest::newRow("folder is a file") << QByteArray("Hi") << true;
    }
    void savesStayInTheFolder()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, blocked);
        Page p([&](sim::SimKeyboard *kb) { kb->setMacroHead(2, head(2, name)); });
        QVERIFY(p.open());
        QCOMPARE(p.item(0)->name(), QString::fromLatin1(name));
        if (blocked)
            QVERIFY(TestSupport::writeFile(p.page()->folder().chopped(1), "not a folder"));
        QStringList files = filesUnder(p.f.appDir.path());
        p.fill(0, {0x04}, 20);
        p.item(0)->setUnsaved(true);
        p.download(0);
        const QString saved = p.file(blocked ? "Hi.xml" : "Macro2.xml");
        if (!blocked)
            files << saved;
        files.sort();
        QCOMPARE(filesUnder(p.f.appDir.path()), files);
        QCOMPARE(fileEvents(saved), blocked ? QStringList{"unreadable"} : p.events(0));
        QCOMPARE(p.item(0)->isUnsaved(), blocked);
        QCOMPARE(p.f.dialogs.messages.size(), int(blocked));       // a failed save is shown
        QCOMPARE(p.kb->macroHead(2).mid(8), head(2, name).mid(8)); // the keyboard's name stays
    }

    void exportWritesIdMinusOne_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::newRow("no suffix") << QString("out") << QString("out.xml");
        QTest::newRow(".xml") << QString("out.xml") << QString("out.xml");
        QTest::newRow("other suffix") << QString("out.mac") << QString("out.mac");
    }
    void exportWritesIdMinusOne()
    {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        Page p(twoMacros);
        QVERIFY(p.open());
        p.fill(1, {0x2C}, 50);
        const QString home = p.f.home.path() + "/";
        p.f.dialogs.fileAnswers << home + typed;
        p.page()->setItemSelect(p.item(1));
        p.page()->exportActionSlot();
        QCOMPARE(p.f.dialogs.files.size(), 1);
        QCOMPARE(p.f.dialogs.files.at(0).directory, home + "Hi.xml");
        QVERIFY(p.f.dialogs.files.at(0).mode == Dialogs::FileMode::Save);
        QCOMPARE(fileEvents(home + written), p.events(1));
        QCOMPARE(itemId(home + written), QStringLiteral("-1"));
        QCOMPARE(p.item(1)->id(), 3);
        QCOMPARE(filesUnder(home), QStringList{home + written});
    }

    void import_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("taken");
        QByteArray keys; // 513 frames of A
        for (int i = 0; i < 513; ++i)
            keys += QByteArray("<KEY") + QByteArray::number(i) + " status=\"" +
                    QByteArray::number(1 - i % 2) + "\" code=\"4\" type=\"1\" delay=\"10\"/>";
        QTest::newRow("two keys, id 7")
            << QByteArray("<MACRO><ITEM id=\"7\"><KEY0 status=\"1\" code=\"4\" type=\"1\" "
                          "delay=\"40\"/><KEY1 code=\"4\" type=\"1\" delay=\"60\"/><KEY2 "
                          "status=\"1\" code=\"2c\" type=\"1\"/><KEY3 code=\"2c\" type=\"1\" "
                          "delay=\"30\"/></ITEM></MACRO>")
            << true;
        QTest::newRow("unparsable") << QByteArray("<MACRO><ITEM id=\"0\"><KEY0") << false;
        QTest::newRow("empty") << QByteArray() << false;
        QTest::newRow("no usable events")
            << QByteArray("<MACRO><ITEM><KEY0 status=\"7\" code=\"4\" type=\"1\"/>"
                          "<KEY1 status=\"1\" code=\"10000\" type=\"1\"/></ITEM></MACRO>")
            << false;
        QTest::newRow("513 frames") << "<MACRO><ITEM>" + keys + "</ITEM></MACRO>" << false;
    }
    void import()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, taken);
        Page p(twoMacros);
        QVERIFY(p.open());
        const QString path = p.f.home.path() + "/in.xml";
        QVERIFY(TestSupport::writeFile(path, content));
        p.f.dialogs.fileAnswers << path;
        p.page()->importActionSlot();
        QTRY_VERIFY(!p.page()->isDrawing());
        QCOMPARE(p.f.dialogs.messages.size(), taken ? 0 : 1);
        if (!taken) {
            QCOMPARE(p.page()->items().size(), 2);
            QVERIFY(p.kb->receivedFrames().isEmpty());
            QVERIFY(!QDir(p.page()->folder()).exists());
            return;
        }
        // The first free slot and its default name, whatever the file's id.
        QCOMPARE(p.page()->names(), (QStringList{"Keep", "Hi", "Macro0"}));
        QCOMPARE(p.item(2)->id(), 0);
        QCOMPARE(p.events(2), fileEvents(path));
        QCOMPARE(p.kb->macroFrames(0).size(), 10 * p.item(2)->timeline()->framesNeeded());
        QCOMPARE(fileEvents(p.file("Macro0.xml")), fileEvents(path));
        QVERIFY(!p.item(2)->isUnsaved());
    }

    void theQuestionBeforeRecording_data()
    {
        QTest::addColumn<bool>("stored"); // frames wait on the keyboard, none drawn
        QTest::addColumn<int>("answer");
        QTest::newRow("events, No") << false << int(QMessageBox::No);
        QTest::newRow("stored, No") << true << int(QMessageBox::No);
        QTest::newRow("events, Yes") << false << int(QMessageBox::Yes);
    }
    void theQuestionBeforeRecording()
    {
        QFETCH(bool, stored);
        QFETCH(int, answer);
        Page p([&](sim::SimKeyboard *kb) {
            kb->setMacro(0, "Rec", stored ? frame(10, 0, 0x04) : QByteArray());
        });
        QVERIFY(p.open());
        if (!stored)
            p.fill(0, {0x04}, 20);
        const QStringList before = p.events(0);
        p.f.dialogs.answers << answer;
        p.page()->recordButton()->click();
        QCOMPARE(p.f.dialogs.messages.size(), 1);
        QCOMPARE(p.f.dialogs.messages.at(0).title, QStringLiteral("About recording message boxes"));
        const bool yes = answer == QMessageBox::Yes;
        QCOMPARE(p.page()->recordButton()->isChecked(), yes);
        QCOMPARE(p.page()->isRecording(), yes);
        QCOMPARE(p.recordSwitches(), yes ? QByteArray(1, 1) : QByteArray());
        QCOMPARE(p.events(0), yes ? QStringList() : before);
        QCOMPARE(p.item(0)->loadButton()->isVisibleTo(p.item(0)), stored && !yes);
    }

    void recording_data()
    {
        QTest::addColumn<Typing>("typing");
        QTest::addColumn<QStringList>("live");
        QTest::addColumn<QStringList>("kept");
        const QStringList four{"1 e1 100", "1 4 100", "0 4 100", "0 e1 100"};
        QTest::newRow("four reports") << Typing([](sim::SimKeyboard *kb) {
            kb->simulateKey(0xE1, true, 100);
            kb->simulateKey(0x04, true, 100);
            kb->simulateKey(0x04, false, 100);
            kb->simulateKey(0xE1, false, 100);
        }) << four << four;
        const QStringList one{"1 e1 100", "1 4 0", "0 e1 50", "0 4 0"};
        QTest::newRow("one report") << Typing([](sim::SimKeyboard *kb) {
            kb->simulateReport(100, 0x02, QByteArray(1, 0x04));
            kb->simulateReport(50, 0, QByteArray());
        }) << one << one;
        QTest::newRow("held at the stop") << Typing([](sim::SimKeyboard *kb) {
            kb->simulateKey(0xE1, true, 100);
            kb->simulateKey(0x04, true, 100);
            kb->simulateKey(0x04, false, 100);
        }) << QStringList(four.mid(0, 3)) << QStringList{"1 4 200", "0 4 100"}; // A keeps its time
    }
    void recording()
    {
        QFETCH(Typing, typing);
        QFETCH(QStringList, live);
        QFETCH(QStringList, kept);
        Page p(oneMacro);
        QVERIFY(p.open());
        p.page()->recordButton()->click();
        QVERIFY(p.f.dialogs.messages.isEmpty()); // nothing to lose: no question
        QVERIFY(p.page()->isRecording() && p.kb->isRecordingMacro());
        QVERIFY(!p.w->tabLabels().first()->isEnabled());
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
        Page p(oneMacro);
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

// The key-function page against the simulated keyboard: loading the table
// and the shortcuts file, adding, downloading and deleting functions with
// the keyboard refusing some writes, undo, the macro box, notifications and
// the Virtual Keyboard.
#include "device/device.h"
#include "device/wirerecords.h"
#include "main/devicesession.h"
#include "main/keylayout.h"
#include "sessionfixture.h"
#include "shortcut/hostactions.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "shortcut/shortcutskb.h"
#include "widget/data.h"
#include "widget/keybtn.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QToolButton>
#include <QtTest>

using sim::Personality;
using TestSupport::framesOf;
using TestSupport::SessionFixture;

namespace {
class Recorder : public HostActions
{
public:
    QStringList calls;
    bool openUrl(const QString &url) override { return calls << "url " + url, true; }
    bool startProgram(const QString &program, const QStringList &args) override
    {
        return calls << "run " + QStringList(QStringList{program} + args).join('|'), true;
    }
    bool openFolder(const QString &folder) override { return calls << "folder " + folder, true; }
};

// An entry in use: function `hi`, trigger keys with the given HID usages.
QByteArray entry(int id, int hi, std::initializer_list<uint16_t> usages, uint32_t p1 = 0,
                 uint32_t p2 = 0)
{
    kf_t e{};
    e.head[0] = uint8_t(id & 0x3F);
    e.setInUse(true);
    e.setHi(uint8_t(hi));
    e.setLayerMask(0xFF);
    int i = 0;
    for (uint16_t u : usages) {
        e.keys[i].setType(1);
        e.keys[i++].setCode(u);
    }
    e.setKeyCount(uint8_t(i));
    e.setParam1(p1);
    e.setParam2(p2);
    return QByteArray(reinterpret_cast<const char *>(&e), int(sizeof e));
}

kf_t decoded(const QByteArray &bytes)
{
    kf_t e{};
    std::memcpy(&e, bytes.constData() + (bytes.size() == 64 ? 8 : 0), sizeof e);
    return e;
}

struct Page
{
    SessionFixture f;
    Recorder host;
    sim::SimKeyboard *kb = nullptr;
    Lumory *w = nullptr;

    explicit Page(std::function<void(sim::SimKeyboard *)> prepare = {},
                  const QByteArray &file = QByteArray())
    {
        HostActions::setInstance(&host);
        kb = f.bus.plug(Personality::DualMode);
        if (prepare)
            prepare(kb);
        if (!file.isNull()) {
            const QString dir = f.appDir.path() + '/' + DeviceFiles::deviceDirName(kb->deviceId());
            QDir().mkpath(dir);
            TestSupport::writeFile(dir + "/shortcuts.xml", file);
        }
        w = f.start();
    }
    ~Page() { HostActions::setInstance(nullptr); }
    bool open()
    {
        if (!f.waitLoaded() || !w->shortcutsPage())
            return false;
        if (!QTest::qWaitFor([this] { return page()->isLoaded(); }, 10000))
            return false;
        w->labelPageClickSlot(QStringLiteral("Shortcuts"));
        kb->clearReceivedFrames();
        return true;
    }
    Shortcuts *page() const { return w->shortcutsPage(); }
    ShortcutsItem *row(int i) const { return page()->items().at(i); }
    QString filePath() const
    {
        return f.appDir.path() + '/' + DeviceFiles::deviceDirName(kb->deviceId()) +
               "/shortcuts.xml";
    }
    QVector<ShortcutsFile::Item> file() const
    {
        QVector<ShortcutsFile::Item> items;
        ShortcutsFile::load(filePath(), &items);
        return items;
    }
    // Board key `board` becomes trigger key `slot` of row `r`.
    void assign(int r, int slot, int board) const
    {
        QTest::mouseClick(w->keyLayout()->dynamicKeys().at(board), Qt::LeftButton);
        QTest::mouseClick(row(r)->triggerButtons().at(slot), Qt::LeftButton);
    }
    void choose(int r, const QString &function) const
    {
        QComboBox *box = row(r)->functionBox();
        box->setCurrentIndex(box->findText(function));
    }
    QList<QByteArray> writes() const { return framesOf(kb, 0x40, 0x20); }
};
} // namespace

class TestShortcuts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadShowsEveryFunctionInUseWithItsHostData()
    {
        // Entries 0 and 20 in use, entry 7 with a function number the
        // catalogue does not know; the file lists item1 before item0.
        Page p(
            [](sim::SimKeyboard *kb) {
                kb->setKeyFunction(0, entry(0, 1, {0xE0, 0x1A}));
                kb->setKeyFunction(7, entry(7, 40, {0x04}));
                kb->setKeyFunction(20, entry(20, 3, {0xE2, 0x08}));
            },
            "<?xml version='1.0'?><shortcuts>"
            "<item1 id=\"20\" hi=\"3\" hitype=\"3\"><FileFolder dir=\"/srv/music\"/></item1>"
            "<item0 id=\"0\" hi=\"1\" hitype=\"1\"><Website web=\"https://a.example\"/></item0>"
            "</shortcuts>");
        QVERIFY(p.open());
        QCOMPARE(p.page()->items().size(), 3);
        QCOMPARE(p.row(0)->parameterText(), QStringLiteral("https://a.example"));
        QCOMPARE(p.row(0)->triggerButtons().at(1)->getAlias(), QStringLiteral("W"));
        QCOMPARE(p.row(1)->functionBox()->currentText(), QStringLiteral("none"));
        QCOMPARE(p.row(2)->parameterText(), QStringLiteral("/srv/music"));
        QVERIFY(p.page()->addButton()->isEnabled());

        // Loading saved the file: every row, the unknown one with its number.
        const QVector<ShortcutsFile::Item> saved = p.file();
        QCOMPARE(saved.size(), 3);
        QCOMPARE(saved.at(2).text, QStringLiteral("/srv/music"));
        QCOMPARE(saved.at(1).hi, 40);

        // The unknown function survives an edit of its trigger keys.
        p.assign(1, 0, 30);
        QVERIFY(p.row(1)->getSelect());
        p.page()->itemDownloadButtonSlot();
        QCOMPARE(p.writes().size(), 1);
        const kf_t written = decoded(p.writes().first());
        QCOMPARE(int(written.hi()), 40);
        QVERIFY(written.inUse());
        QCOMPARE(int(written.keyCount()), 1);
        QVERIFY(!p.row(1)->getSelect());
    }

    void loadFinishesWithNoFunctionsAndKeepsAnUnreadableFile_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("saved");
        QTest::newRow("none") << QByteArray() << 0;
        QTest::newRow("unreadable") << QByteArray("this is not xml <<<") << -2;
    }
    void loadFinishesWithNoFunctionsAndKeepsAnUnreadableFile()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, saved);
        Page p({}, file);
        QVERIFY(p.open());
        QVERIFY(p.page()->items().isEmpty());
        QCOMPARE(p.page()->save(), saved);
        if (saved != 0)
            QCOMPARE(TestSupport::readFile(p.filePath()), file);
    }

    void addDownloadAndPressAWebSiteFunction()
    {
        Page p;
        QVERIFY(p.open());
        p.page()->itemAddButtonSlot();
        QCOMPARE(p.page()->items().size(), 1);
        ShortcutsItem *row = p.row(0);
        // Without a board key the trigger buttons refuse.
        QVERIFY(row->triggerCursorForbidden());
        p.assign(0, 0, 60);
        QVERIFY(!row->triggerCursorForbidden());
        row->addBtnSlot();
        p.assign(0, 1, 60); // the same key again: refused, forbidden for a moment
        QVERIFY(row->triggerCursorForbidden());
        QCOMPARE(row->triggerButtons().at(1)->getCode(), uint16_t(0));
        p.assign(0, 1, 61);
        p.choose(0, QStringLiteral("Open website"));
        row->parameter()->textField()->setText(QStringLiteral("https://www.example.org"));
        row->layerToggles().at(1)->click(); // key map 1 off
        QVERIFY(row->getSelect());

        p.page()->itemDownloadButtonSlot();
        QCOMPARE(p.writes().size(), 1);
        const kf_t e = decoded(p.writes().first());
        QVERIFY(e.inUse());
        QCOMPARE(int(e.id()), 0);
        QCOMPARE(int(e.hi()), 1);
        QCOMPARE(int(e.layerMask()), 0x0D); // four key maps, map 1 off
        QCOMPARE(int(e.keyCount()), 2);
        QVERIFY(!row->getSelect());
        QCOMPARE(p.file().value(0).text, QStringLiteral("https://www.example.org"));

        // The keyboard reports the combination: the browser is asked once.
        QVERIFY(p.kb->pressKeyFunction(0));
        QTRY_COMPARE(p.host.calls, QStringList{"url https://www.example.org"});
        QCOMPARE(p.page()->virtualKeyboard()->getButtonNum(), 1);
        p.page()->virtualKeyboard()->buttons().first()->click();
        QCOMPARE(p.host.calls.size(), 2);
    }

    void refusedWritesKeepTheirRowsChecked()
    {
        Page p([](sim::SimKeyboard *kb) {
            for (int i = 0; i < 3; ++i)
                kb->setKeyFunction(i, entry(i, 9, {uint16_t(0x04 + i)}, 1, 2)); // swap 1 <-> 2
        });
        QVERIFY(p.open());
        for (int i = 0; i < 3; ++i)
            p.row(i)->setSelect(true);
        // Row 0: equal swap numbers; row 1: refused by the keyboard; row 2 written.
        p.row(0)->parameter()->swapField(1)->setText(QStringLiteral("1"));
        p.kb->injectFault({sim::FaultKind::ErrorStatus, -1, 1, 0, 0x22, 0x40, 0x20});
        p.page()->itemDownloadButtonSlot();
        QCOMPARE(p.writes().size(), 2);
        QCOMPARE(int(decoded(p.kb->keyFunction(2)).param2()), 2);
        QVERIFY(p.row(0)->getSelect() && p.row(0)->hasError());
        QVERIFY(p.row(1)->getSelect() && p.row(1)->hasError());
        QVERIFY(!p.row(2)->getSelect());
        QCOMPARE(p.f.dialogs.messages.size(), 1); // one box for both

        // Delete: the refused row stays, the other goes.
        p.kb->injectFault({sim::FaultKind::ErrorStatus, -1, 1, 0, 0x22, 0x40, 0x20});
        p.row(2)->setSelect(true);
        p.row(0)->setSelect(false);
        p.row(1)->setSelect(true);
        p.page()->itemDeleteButtonSlot();
        QTRY_COMPARE(p.page()->items().size(), 2);
        QVERIFY(decoded(p.kb->keyFunction(1)).inUse());
        QVERIFY(!decoded(p.kb->keyFunction(2)).inUse());
    }

    void addStopsAtThirtyTwoRowsAndNeverClaimsAMisnumberedEntry()
    {
        Page p([](sim::SimKeyboard *kb) {
            kb->setKeyFunctionCount(70);
            for (int i = 0; i < 31; ++i)
                kb->setKeyFunction(i, entry(i, 1, {0x04}));
            QByteArray odd = entry(0, 1, {0x05});
            odd[0] = char(40); // entry 31 says it is entry 40, and is free
            kb->setKeyFunction(31, odd);
        });
        QVERIFY(p.open());
        QCOMPARE(p.page()->items().size(), 31);
        p.page()->itemAddButtonSlot();
        QCOMPARE(p.row(31)->entryIndex(), 32);
        QVERIFY(!p.page()->addButton()->isEnabled());
        p.page()->itemAddButtonSlot();
        QCOMPARE(p.page()->items().size(), 32);
    }

    void uncheckingRestoresFunctionAndParameter()
    {
        Page p([](sim::SimKeyboard *kb) { kb->setKeyFunction(2, entry(2, 1, {0x04})); },
               "<shortcuts><item0 id=\"2\" hi=\"1\" hitype=\"1\">"
               "<Website web=\"https://kept.example\"/></item0></shortcuts>");
        QVERIFY(p.open());
        ShortcutsItem *row = p.row(0);
        p.choose(0, QStringLiteral("Open folder"));
        row->parameter()->textField()->setText(QStringLiteral("/tmp"));
        p.assign(0, 0, 70);
        QVERIFY(row->getSelect());
        row->setSelect(false);
        QCOMPARE(row->functionBox()->currentText(), QStringLiteral("Open website"));
        QCOMPARE(row->parameterText(), QStringLiteral("https://kept.example"));
        QCOMPARE(row->triggerButtons().first()->getCode(), uint16_t(0x04));
        QVERIFY(!row->getSelect());
        QVERIFY(p.writes().isEmpty());
    }

    void macroFunctionsFollowTheStoredMacros()
    {
        Page p([](sim::SimKeyboard *kb) {
            kb->setMacro(0, "Hi", QByteArray(10, '\0'));
            kb->setMacro(3, "Copy", QByteArray(10, '\0'));
            kb->setKeyFunction(0, entry(0, 8, {0x10}, 3, 2)); // plays macro 3 twice
        });
        QVERIFY(p.open());
        QComboBox *box = p.row(0)->parameter()->macroBox();
        QCOMPARE(box->currentText(), QStringLiteral("Copy"));
        QCOMPARE(p.row(0)->parameter()->macroCount(), 2);

        // The macro page renames and removes macros; the chosen one goes.
        p.page()->updateMacroComboboxSetItemText(0, QStringLiteral("Hello"));
        QCOMPARE(box->itemText(0), QStringLiteral("Hello"));
        p.page()->updateMacroComboboxRemoveItem(1);
        QCOMPARE(box->currentIndex(), -1);

        // A macro that is no longer stored is refused, not written.
        box->setCurrentIndex(0);
        p.w->deviceSession()->device()->macroHead(0)->setUsed(false);
        p.page()->itemDownloadButtonSlot();
        QVERIFY(p.writes().isEmpty());
        QVERIFY(p.row(0)->getSelect());
    }

    void unplugDuringCreationStopsIt()
    {
        Page p([](sim::SimKeyboard *kb) {
            for (int i = 0; i < 20; ++i)
                kb->setKeyFunction(i, entry(i, 1, {0x04}));
        });
        QVERIFY(p.f.waitLoaded());
        QTRY_VERIFY(p.page() && !p.page()->items().isEmpty());
        QPointer<Shortcuts> page = p.page();
        p.f.bus.unplug(p.kb);
        QVERIFY(p.f.waitClosed());
        QTRY_VERIFY(!page);
        QTest::qWait(300); // no tick may touch the gone rows
    }
};

QTEST_MAIN(TestShortcuts)
#include "tst_shortcuts.moc"

// The per-keyboard shortcuts file and the function catalogue.
#include "shortcut/shortcutsfile.h"
#include "testsupport.h"
#include "widget/fileproblems.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using namespace ShortcutsFile;

namespace {
Item item(quint32 id, int hi, int type, const QString &text = QString())
{
    Item it;
    it.id = id;
    it.hi = hi;
    it.hitype = type;
    it.text = text;
    return it;
}

// Everything the file holds of an item, for comparison.
QString flat(const Item &i)
{
    QStringList parts = QStringList(i.btn, i.btn + 4) + QStringList(i.keyList, i.keyList + 9);
    parts << QString::number(i.id) << QString::number(i.hi) << QString::number(i.hitype) << i.text
          << QString::number(i.ledIndex) << i.macroName << QString::number(i.macroCount);
    return parts.join('|');
}
} // namespace

class TestShortcutsFile : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;
    QString path(const char *name) const { return m_dir.filePath(QLatin1String(name)); }

private Q_SLOTS:
    void cleanup() { FileProblems::instance().clear(); }

    void roundTrip()
    {
        QVector<Item> items;
        items << item(3, 1, E_SCT_WEB, "https://a.org/?a=1&b=\"<2>\"")
              << item(5, 3, E_SCT_FOLDER, "/home/ü") << item(6, 4, E_SCT_LEDBRI)
              << item(7, 4, E_SCT_LEDBRI) << item(8, 5, E_SCT_REPKEY) << item(10, 8, E_SCT_MACRO);
        items[0].btn[3] = "Ctrl";
        items[2].ledIndex = 2;
        items[4].keyList[1] = " "; // an empty slot is not written
        items[4].keyList[8] = "F12";
        items[5].macroName = "copy all";
        items[5].macroCount = 42;
        const QString file = path("roundtrip.xml");
        QVERIFY(save(file, items) == SaveStatus::Saved);
        const QByteArray text = TestSupport::readFile(file);
        QVERIFY(text.startsWith("<?xml version = '1.0' encoding = 'UTF-8'?>\n<shortcuts>\n    <"));
        QVERIFY(!text.contains("index=\"-1\"")); // no option chosen
        items[4].keyList[1].clear();
        QVector<Item> back;
        QVERIFY(load(file, &back) == LoadStatus::Ok && back.size() == items.size());
        for (int i = 0; i < items.size(); ++i)
            QCOMPARE(flat(back[i]), flat(items[i]));
    }

    void itemsAreMatchedByIdAndHi()
    {
        QVector<kf_t> table(6);
        for (int i = 0; i < table.size(); ++i) {
            std::memset(&table[i], 0, sizeof(kf_t));
            table[i].head[0] = uint8_t(i);
            table[i].setHi(uint8_t(i == 4 ? 40 : 1 + i % 3));
            table[i].setInUse(i != 2);
        }
        QVector<KF> kfs(4);
        for (int t = 0; t < kfs.size(); ++t)
            kfs[t].hi = kfs[t].control_type = t;
        QVector<STCTS> stcts = createShortcutsLocalData(table.data(), table.size(), kfs);
        QCOMPARE(stcts.size(), 5);
        QVERIFY(stcts[1].id == 1 && stcts[1].hi == 2 && stcts[1].type == E_SCT_DOCAPP);
        QVERIFY(stcts[3].id == 4 && stcts[3].type == E_SCT_NONE); // unknown function

        // Starts with item1, lacks item2, has a stranger, items out of order
        // and one of another function: each URL still finds its entry.
        const QString file = path("matched.xml");
        QVERIFY(TestSupport::writeFile(
            file, "<shortcuts><item1 id='3' hi='1'><Website web='one'/></item1>"
                  "<note id='0' hi='1'><Website web='stranger'/></note>"
                  "<item0 id='1' hi='2'><Website web='x'/><DocApp dir='/bin/app'/></item0>"
                  "<item4 id='0' hi='1'><Website web='zero'/></item4>"
                  "<item3 id='1' hi='3'><FileFolder dir='/wrong/hi'/></item3></shortcuts>"));
        QVERIFY(fillStrings(file, &stcts) == LoadStatus::Ok);
        QVERIFY(stcts[0].str == "zero" && stcts[2].str == "one");
        QCOMPARE(stcts[1].str, QString("/bin/app")); // the last text element counts
        QVERIFY(stcts[3].str.isEmpty() && stcts[4].str.isEmpty());
        QVERIFY(fillStrings(path("none.xml"), &stcts) == LoadStatus::Missing);
    }

    void unreadableFileIsKept()
    {
        QVector<Item> items;
        const QByteArray notXml = "<shortcuts><item0 id='1' hi='1'><Website web='kept'/></item0><i";
        for (const QByteArray &content : {notXml, QByteArray("<macros><item0 id='1' hi='1'/>")}) {
            FileProblems::instance().clear();
            const QString file = path("broken.xml");
            QVERIFY(TestSupport::writeFile(file, content));
            QVERIFY(load(file, &items) == LoadStatus::UnreadableKept && isUnreadable(file));
            QVERIFY(FileProblems::find(file));
            QVERIFY(save(file, {item(1, 1, E_SCT_WEB, "new")}) == SaveStatus::KeptUnreadable);
            QCOMPARE(TestSupport::readFile(file), content);
        }
        QVERIFY(items.isEmpty() && TestSupport::writeFile(path("broken.xml"), notXml));
        load(path("broken.xml"), &items); // what came before the error is read
        QVERIFY(items.size() == 1 && items[0].text == "kept");

        QVERIFY(TestSupport::writeFile(path("empty.xml"), QByteArray()));
        QVERIFY(load(path("empty.xml"), &items) == LoadStatus::Missing);
        QVERIFY(save(path("empty.xml"), {}) == SaveStatus::Saved);
        QVERIFY(load(path("empty.xml"), &items) == LoadStatus::Ok && items.isEmpty());
        QVERIFY(save(path("no/dir/s.xml"), {}) == SaveStatus::WriteFailed);
        QVERIFY(!QFile::exists(path("no/dir/s.xml")));
    }

    void catalogue()
    {
        const QString file = path("kf.xml");
        QVERIFY(TestSupport::writeFile(
            file, "<C><hi0><item name='early'/></hi0><key_func><func name='A' hi='0' "
                  "enable='1' control_type='4' tips='t'/><x/><func hi='1' enable='0'/></key_func>"
                  "<hi0><item name='low' value='1'/><x/><item name='high' value='3'/></hi0>"
                  "<hi1x><item/></hi1x><hi7><item/></hi7></C>"));
        QVector<KF> kfs;
        QVERIFY(parseKFXML(file, &kfs) == 0 && kfs.size() == 2);
        QVERIFY(kfs[0].name == "A" && kfs[0].enable && kfs[0].control_type == 4);
        QVERIFY(kfs[0].tips == "t" && kfs[1].hi == 1 && !kfs[1].enable);
        QVERIFY(kfs[0].options.size() == 2 && kfs[1].options.isEmpty());
        QVERIFY(kfs[0].options[1].name == "high" && kfs[0].options[1].value == 3);

        QVERIFY(TestSupport::writeFile(file, "<C><key_func><func name='A'/><func"));
        QVERIFY(parseKFXML(file, &kfs) == -1 && kfs.size() == 1 && FileProblems::find(file));
        QCOMPARE(parseKFXML(path("missing.xml"), &kfs), -1);

        // The shipped catalogues: function n carries hi = n, every type is
        // offered, one function is disabled, and function 7 (the number a
        // virtual keyboard is stored with) is the virtual keyboard.
        FileProblems::instance().clear();
        const QString config = TestSupport::sourceDataDir() + "/config/";
        const QString boards = QString::fromUtf8(TestSupport::readFile(config + "config.xml"));
        auto it = QRegularExpression("kf=\"([^\"]+)\"").globalMatch(boards);
        QVERIFY(it.hasNext());
        while (it.hasNext()) {
            const QString name = it.next().captured(1);
            QVERIFY2(parseKFXML(config + name, &kfs) == 0 && kfs.size() > 7, qPrintable(name));
            QSet<int> types;
            bool disabled = false;
            for (int n = 0; n < kfs.size(); ++n) {
                QCOMPARE(kfs[n].hi, n);
                types.insert(kfs[n].control_type);
                disabled |= !kfs[n].enable;
                QVERIFY(kfs[n].control_type != E_SCT_LEDBRI || !kfs[n].options.isEmpty());
            }
            QVERIFY(types.size() == 10 && disabled && kfs[7].control_type == E_SCT_VKB);
        }
        QVERIFY(FileProblems::instance().problems().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestShortcutsFile)
#include "tst_shortcutsfile.moc"

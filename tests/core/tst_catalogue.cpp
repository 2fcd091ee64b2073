// The board catalogue and the per-keyboard data directory.
#include "testsupport.h"
#include "widget/data.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {
void writeConfig(const TestSupport::ScratchAppDir &dir, const QByteArray &xml)
{
    QDir().mkpath(dir.path() + QStringLiteral("/config"));
    QFile f(dir.configFile(QStringLiteral("test.xml")));
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(xml);
}
} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shippedCatalogueNamesTheSimulatedBoards()
    {
        TestSupport::ScratchAppDir dir;
        Data data;
        QVector<BoardInfo *> boards;
        QVERIFY(data.parseConfigXML(&boards, QStringLiteral("config.xml")));
        QCOMPARE(data.vid(), uint16_t(0x1209));
        QCOMPARE(data.pid(), uint16_t(0x0001));
        QCOMPARE(data.iface(), 1);
        QCOMPARE(boards.size(), 3);
        QCOMPARE(boards.at(0)->name, QStringLiteral("LLumory K108"));
        QVERIFY(boards.at(0)->KLE);
        QVERIFY(!boards.at(2)->color);
        QVERIFY(!data.json().isEmpty());
    }

    void attributesAndEdgeCases()
    {
        TestSupport::ScratchAppDir dir(false);
        writeConfig(dir, R"(<anything>
            <ignored><board name="not a board"/></ignored>
            <tools_info>
                <usb vid="0416" pid="A316" iface="2"/>
                <static json="s.json" xmlWin="w.xml" xmlMac="m.xml" x="1" y="2" w="3" h="4"/>
            </tools_info>
            <board_type>
                <board name="Alpha" file="a.json" kf="a_kf.xml" fw="1.23" key="1" color="0"
                       shortcuts="7" macro="1" setting="1" x="10" y="20" w="50" h="52"
                       KLE="1" KLEW="23" KLEH="7" KLER="6" KLEC="22"/>
                <board name="Beta"/>
                <board name="Alpha" file="second.json" fw="9"/>
            </board_type>
        </anything>)");
        Data data;
        QVector<BoardInfo *> boards;
        QVERIFY(data.parseConfigXML(&boards, QStringLiteral("test.xml")));
        QCOMPARE(data.vid(), uint16_t(0x0416)); // hexadecimal without prefix
        QCOMPARE(data.pid(), uint16_t(0xA316));
        QCOMPARE(data.iface(), 2);
        QCOMPARE(data.xmlMac(), QStringLiteral("m.xml"));
        QCOMPARE(data.staticH(), 4);
        QCOMPARE(boards.size(), 3);
        const BoardInfo *a = boards.at(0);
        QCOMPARE(a->fw, 1.23);
        QVERIFY(a->key && !a->color && a->shortcuts && a->macro && a->setting);
        QCOMPARE(a->w, 50.0);
        QCOMPARE(a->KLEC, 22);
        // Missing attributes: empty, 0, false.
        const BoardInfo *b = boards.at(1);
        QCOMPARE(b->fw, 0.0);
        QVERIFY(b->file.isEmpty() && !b->key && !b->KLE);

        // The first board of a name wins; the name is compared up to the first NUL.
        QCOMPARE(Data::findBoard(boards, QByteArray("Alpha\0\0\0junk", 13)), boards.at(0));
        QCOMPARE(Data::findBoard(boards, QByteArray("Beta")), boards.at(1));
        QCOMPARE(Data::findBoard(boards, QByteArray("lpha")), nullptr);
        QCOMPARE(Data::findBoard(boards, QByteArray(16, '\0')), nullptr);
    }

    void missingOrBrokenCatalogue()
    {
        TestSupport::ScratchAppDir dir(false);
        Data data;
        QVector<BoardInfo *> boards;
        QVERIFY(!data.parseConfigXML(&boards, QStringLiteral("missing.xml")));
        writeConfig(dir, "<catalogue><tools_info><usb vid=");
        QVERIFY(!data.parseConfigXML(&boards, QStringLiteral("test.xml")));
        QVERIFY(boards.isEmpty());
        QCOMPARE(data.vid(), uint16_t(0));
        QCOMPARE(data.pid(), uint16_t(0));
    }

    void deviceDirectory()
    {
        TestSupport::ScratchAppDir dir(false);
        QByteArray id;
        for (int i = 1; i <= 12; ++i)
            id.append(char(i));
        QCOMPARE(DeviceFiles::deviceDirName(id), QStringLiteral("0102030405060708090a0b0c"));
        const QString path = DeviceFiles::createCurDeviceFile(dir.path(), id);
        QCOMPARE(path, dir.path() + QStringLiteral("/0102030405060708090a0b0c/"));
        QVERIFY(QFile::exists(path + QStringLiteral("shortcuts.xml")));
        // An existing shortcuts file is left alone.
        QFile f(path + QStringLiteral("shortcuts.xml"));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write("<shortcuts/>");
        f.close();
        QCOMPARE(DeviceFiles::createCurDeviceFile(dir.path(), id), path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("<shortcuts/>"));
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"

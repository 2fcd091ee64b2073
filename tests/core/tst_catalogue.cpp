// The board catalogue, what it does with values it cannot use, and the
// per-keyboard data directory.
#include "main/apppaths.h"
#include "testsupport.h"
#include "widget/data.h"
#include "widget/fileproblems.h"

#include <QDir>
#include <QSignalSpy>
#include <QtTest>

namespace {
bool parse(const QByteArray &xml, Data *data, QVector<BoardInfo *> *boards)
{
    QDir().mkpath(AppPaths::configDir());
    return TestSupport::writeFile(AppPaths::configDir() + QStringLiteral("test.xml"), xml) &&
           data->parseConfigXML(boards, QStringLiteral("test.xml"));
}
} // namespace

class TestCatalogue : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { FileProblems::instance().clear(); }

    void attributesAndEdgeCases()
    {
        TestSupport::ScratchAppDir dir(false);
        Data data;
        QVector<BoardInfo *> boards;
        QVERIFY(parse(R"(<anything><ignored><board name="not a board"/></ignored>
            <tools_info><usb vid="0416" pid="A316" iface="2"/>
                <static json="s.json" xmlWin="w.xml" xmlMac="m.xml" x="1" y="2" w="3" h="4"/>
            </tools_info><board_type>
                <board name="Alpha" file="a.json" kf="a_kf.xml" fw="1.23" key="1" color="0"
                       shortcuts="7" macro="1" setting="1" x="10" y="20" w="50" h="52"
                       KLE="1" KLEW="23" KLEH="7" KLER="6" KLEC="22"/>
                <board name="Beta"/><board name="Alpha" file="second.json" fw="9"/>
            </board_type></anything>)",
                      &data, &boards));
        QVERIFY(data.vid() == 0x0416 && data.pid() == 0xA316); // hexadecimal without prefix
        QVERIFY(data.iface() == 2 && data.xmlMac() == "m.xml" && data.staticH() == 4);
        QCOMPARE(boards.size(), 3);
        const BoardInfo *a = boards.at(0);
        QVERIFY(a->fw == 1.23 && a->w == 50.0 && a->KLEC == 22);
        QVERIFY(a->key && !a->color && a->shortcuts && a->macro && a->setting);
        // Missing attributes: empty, 0, false.
        QVERIFY(boards.at(1)->fw == 0.0 && boards.at(1)->file.isEmpty() && !boards.at(1)->KLE);
        QVERIFY(FileProblems::instance().problems().isEmpty());

        // The first board of a name wins; the name is compared up to the first NUL.
        QCOMPARE(Data::findBoard(boards, QByteArray("Alpha\0\0\0junk", 13)), boards.at(0));
        QCOMPARE(Data::findBoard(boards, QByteArray("Beta")), boards.at(1));
        QCOMPARE(Data::findBoard(boards, QByteArray("lpha")), nullptr);
        QCOMPARE(Data::findBoard(boards, QByteArray(16, '\0')), nullptr);
    }

    void unusableValuesAndFilesAreSaidOnce()
    {
        // Pixel geometry beyond ±1000 (which no later int arithmetic could
        // hold) and a firmware version that is not one are taken as missing;
        // the values beside them stay, and the file is named once, at the first.
        TestSupport::ScratchAppDir dir(false);
        Data data;
        QVector<BoardInfo *> boards;
        QSignalSpy reported(&FileProblems::instance(), &FileProblems::reported);
        QVERIFY(parse(R"(<c><tools_info><static json="s.json" w="1001" h="40"/></tools_info>
            <board_type>
                <board name="Huge" x="-1000" y="1000" w="2000000000" h="-2147483648" fw="inf"/>
                <board name="Next" w="99999999999" h="46" fw="1e400"/>
            </board_type></c>)",
                      &data, &boards));
        QVERIFY(data.staticW() == 0 && data.staticH() == 40 && boards.size() == 2);
        const BoardInfo *huge = boards.at(0);
        QVERIFY(huge->x == -1000 && huge->y == 1000 && huge->w == 0 && huge->h == 0);
        QVERIFY(huge->fw == 0 && boards.at(1)->w == 0 && boards.at(1)->h == 46);
        QCOMPARE(boards.at(1)->fw, 0.0);
        QCOMPARE(reported.count(), 1);
        QCOMPARE(reported.at(0).at(1).toInt(), 1);
        QVERIFY(reported.at(0).at(3).toString().contains(QStringLiteral("w=\"1001\"")));

        // A missing or malformed catalogue: nothing read, the file named (with
        // the line of the error) once however often it is read, and kept.
        FileProblems::instance().clear();
        FileProblems::Problem problem;
        QVERIFY(!data.parseConfigXML(&boards, QStringLiteral("missing.xml")));
        QVERIFY(FileProblems::find(AppPaths::configDir() + "missing.xml", &problem));
        QCOMPARE(problem.location(), AppPaths::configDir() + QStringLiteral("missing.xml"));
        const QByteArray broken = "<catalogue>\n<tools_info><usb vid=\"1\"><board_type/>";
        for (int i = 0; i < 2; ++i) {
            boards.clear();
            QVERIFY(!parse(broken, &data, &boards) && boards.isEmpty());
        }
        QCOMPARE(reported.count(), 3);
        QVERIFY(FileProblems::find(dir.configFile(QStringLiteral("test.xml")), &problem));
        QVERIFY(problem.line == 2 && problem.column > 0 && !problem.what.isEmpty());
        QCOMPARE(TestSupport::readFile(dir.configFile(QStringLiteral("test.xml"))), broken);
    }

    void deviceDirectory()
    {
        TestSupport::ScratchAppDir dir(false);
        const QByteArray id = QByteArray::fromHex("0102030405060708090a0b0c");
        const QString path = DeviceFiles::createCurDeviceFile(dir.path(), id);
        QCOMPARE(path, dir.path() + QStringLiteral("/0102030405060708090a0b0c/"));
        QVERIFY(QFile::exists(path + QStringLiteral("shortcuts.xml")));
        // An existing shortcuts file is left alone.
        QVERIFY(TestSupport::writeFile(path + QStringLiteral("shortcuts.xml"), "<shortcuts/>"));
        QCOMPARE(DeviceFiles::createCurDeviceFile(dir.path(), id), path);
        QCOMPARE(TestSupport::readFile(path + QStringLiteral("shortcuts.xml")), "<shortcuts/>");
    }
};

QTEST_GUILESS_MAIN(TestCatalogue)
#include "tst_catalogue.moc"

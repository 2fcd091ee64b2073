// The palette's custom colour file: its exact bytes, reading whatever is in
// it without harm, and writing it without losing the old one.
#include "color/customcolors.h"
#include "testsupport.h"
#include "widget/fileproblems.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QtTest>

using TestSupport::readFile;
using TestSupport::writeFile;

namespace {
const QVector<QRgb> kWhite(CustomColors::kCount, 0xffffffff);

// Reads `content` as the file over a start of all white.
QVector<QRgb> readBack(const QString &path, const QByteArray &content, bool *opened = nullptr)
{
    writeFile(path, content);
    QVector<QRgb> colors = kWhite;
    const bool ok = CustomColors::analyJson(path, &colors);
    if (opened)
        *opened = ok;
    return colors;
}
} // namespace

class TestCustomColors : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { FileProblems::instance().clear(); }

    void fileBytesAndRoundTrip()
    {
        // Alpha is not stored; names are lower-case #rrggbb.
        QCOMPARE(CustomColors::formatJson({0xffff0000, 0x8012a4bc, 0xff000000}),
                 QByteArray("[\n  {\n    \"customColor_0\": \"#ff0000\"\n  },\n"
                            "  {\n    \"customColor_1\": \"#12a4bc\"\n  },\n"
                            "  {\n    \"customColor_2\": \"#000000\"\n  }\n]"));

        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/new/customcolor/color_btn_32.json");
        QVector<QRgb> colors;
        for (int i = 0; i < CustomColors::kCount; ++i)
            colors << (0xff000000u | uint(i * 0x061b2f));
        QVERIFY(CustomColors::writeJson(path, colors)); // folders made
        QCOMPARE(readFile(path), CustomColors::formatJson(colors));
        QVector<QRgb> back;
        QVERIFY(CustomColors::analyJson(path, &back));
        QCOMPARE(back, colors);

        // The shipped palette is in the same format, 38 different colours.
        const QString shipped =
            TestSupport::sourceDataDir() + QStringLiteral("/config/customcolor/color_btn_32.json");
        back.clear();
        QVERIFY(CustomColors::analyJson(shipped, &back));
        QCOMPARE(CustomColors::formatJson(back), readFile(shipped));
        QCOMPARE(QSet<QRgb>(back.begin(), back.end()).size(), CustomColors::kCount);
        QVERIFY(FileProblems::instance().problems().isEmpty());
    }

    void oddContentReadWithoutHarm()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/c.json");

        // More than 38 elements: the first 38 count.
        QVector<QRgb> many;
        for (int i = 0; i < CustomColors::kCount + 5; ++i)
            many << (0xff000000u | uint(i + 1));
        QCOMPARE(readBack(path, CustomColors::formatJson(many)), many.mid(0, CustomColors::kCount));

        // Element i gives button i: non-objects are skipped without shifting
        // the others; an unusable name or another button's key leave white.
        QVector<QRgb> expected = kWhite;
        expected[1] = 0xff00ff00;
        expected[3] = 0xff112233;
        expected[6] = 0xffaabbcc;
        QCOMPARE(readBack(path,
                          "[ 7, {\"customColor_1\": \"#00FF00\"}, \"#123456\","
                          " {\"customColor_3\": \"#123\"}, {\"customColor_4\": \"red\"},"
                          " {\"customColor_5\": \"#12345g\"}, {\"customColor_6\": \"#ffaabbcc\"},"
                          " {\"customColor_0\": \"#010101\"}, {\"customColor_8\": 5},"
                          " {\"customColor_9\": \"# 12345\"}, null]"),
                 expected);
        QVERIFY(FileProblems::instance().problems().isEmpty());
    }

    void unreadableFilesLeaveTheColours()
    {
        QTemporaryDir dir;
        const QString path = dir.path() + QStringLiteral("/c.json");
        bool opened = false;
        QTest::ignoreMessage(QtWarningMsg, "analy \"byteArray\" error.");
        QCOMPARE(readBack(path, "[\n  {\n    \"customColor_0\": \"#000000\"\n  },\n", &opened),
                 kWhite);
        QVERIFY(opened);
        FileProblems::Problem problem;
        QVERIFY(FileProblems::find(path, &problem));
        QCOMPARE(problem.line, 5);

        QTest::ignoreMessage(QtWarningMsg, "analy \"byteArray\" error.");
        QCOMPARE(readBack(path, "{\"customColor_0\": \"#000000\"}"), kWhite); // not an array

        QTest::ignoreMessage(QtWarningMsg, "Couldn't open colorbtn32.json file!");
        QVector<QRgb> colors;
        QVERIFY(!CustomColors::analyJson(dir.path() + QStringLiteral("/missing.json"), &colors));
        QCOMPARE(colors, kWhite);
    }

    void failedWriteKeepsTheOldFile()
    {
        QTemporaryDir dir;
        const QVector<QRgb> black(CustomColors::kCount, 0xff000000);

        // Nothing can be created beside the target (even for root).
        const QString link = dir.path() + QStringLiteral("/color_btn_32.json");
        QVERIFY(QFile::link(QStringLiteral("/proc/version"), link));
        const QByteArray version = readFile(QStringLiteral("/proc/version"));
        QTest::ignoreMessage(QtWarningMsg, "Couldn't open colorbtn32.json file！");
        QVERIFY(!CustomColors::writeJson(link, black));
        QCOMPARE(readFile(QStringLiteral("/proc/version")), version);

        // A folder that cannot be made.
        QVERIFY(writeFile(dir.path() + QStringLiteral("/file"), "x"));
        QTest::ignoreMessage(QtWarningMsg, "Couldn't open colorbtn32.json file！");
        QVERIFY(!CustomColors::writeJson(dir.path() + QStringLiteral("/file/c.json"), black));

        // A file that is not JSON is kept aside, not overwritten.
        const QString path = dir.path() + QStringLiteral("/c.json");
        QVERIFY(writeFile(path, "my notes"));
        QVERIFY(CustomColors::writeJson(path, black));
        QCOMPARE(readFile(path + QStringLiteral(".broken")), QByteArray("my notes"));
        QCOMPARE(readFile(path), CustomColors::formatJson(black));
    }
};

QTEST_GUILESS_MAIN(TestCustomColors)
#include "tst_customcolors.moc"

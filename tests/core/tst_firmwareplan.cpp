// Firmware packages: which images a directory yields, the check before
// anything is sent, the one progress figure, and the remembered choice.
#include "main/apppaths.h"
#include "setting/firmwareplan.h"
#include "testsupport.h"
#include "widget/fileproblems.h"

#include <QDateTime>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using namespace FirmwarePlan;

Q_DECLARE_METATYPE(FirmwarePlan::Refusal)

namespace {
// Creates `entries` in `dir`. Each is "name", "name@age" (the
// file was modified `age` seconds ago), "name#size" (that many bytes) or
// "dir:name", "fifo:name", "link:name" (a dangling link), "mem:name" (a
// regular file whose reading fails).
bool populate(const QString &dir, const QStringList &entries)
{
    const QDateTime now = QDateTime::currentDateTime();
    for (const QString &entry : entries) {
        if (entry.startsWith("dir:")) {
            if (!QDir(dir).mkdir(entry.mid(4)))
                return false;
            continue;
        }
        const QString path =
            dir + '/' + entry.section(':', -1).section('@', 0, 0).section('#', 0, 0);
        if (entry.startsWith("fifo:")) {
            if (::mkfifo(QFile::encodeName(path).constData(), 0600) != 0)
                return false;
            continue;
        }
        if (entry.startsWith("link:") || entry.startsWith("mem:")) {
            // A process's own memory reads as an error at offset 0.
            const QString target = entry.startsWith("mem:") ? "/proc/self/mem" : dir + "/missing";
            if (!QFile::link(target, path))
                return false;
            continue;
        }
        const int size = entry.contains('#') ? entry.section('#', 1).toInt() : 100;
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || !file.resize(size))
            return false;
        file.close();
        if (entry.contains('@')) {
            const int age = entry.section('@', 1).section('#', 0, 0).toInt();
            if (!file.open(QIODevice::ReadOnly) ||
                !file.setFileTime(now.addSecs(-age), QFileDevice::FileModificationTime))
                return false;
        }
    }
    return true;
}

// A plan as "key=file name" entries.
QStringList names(const QMap<int, QString> &plan)
{
    QStringList list;
    for (auto it = plan.constBegin(); it != plan.constEnd(); ++it)
        list << QString("%1=%2").arg(it.key()).arg(QFileInfo(it.value()).fileName());
    return list;
}
} // namespace

class TestFirmwarePlan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { FileProblems::instance().clear(); }

    void planOfDirectory_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QStringList>("plan");
        QTest::newRow("three kinds, suffix in any case")
            << QStringList{"hx_usb_app_V1.06.bin", "hx_bt_sd_1_x.Bin", "hx_bt_app_.BIN"}
            << QStringList{"1=hx_bt_app_.BIN", "2=hx_bt_sd_1_x.Bin", "3=hx_usb_app_V1.06.bin"};
        QTest::newRow("base name ends at the first dot")
            << QStringList{"hx_usb_app_1.txt.bin", "hx.bt_app_1.bin", "hx_bt_app.1_2.bin"}
            << QStringList{"3=hx_usb_app_1.txt.bin"};
        QTest::newRow("three parts, other kinds and suffixes")
            << QStringList{"hx_usb_app.bin", "hx_bt_boot_1.bin", "hx_usb_app_1.hex",
                           "hx_usb_app_1.bin.txt", "hx_usb_app_1"}
            << QStringList{};
        QTest::newRow("names are case-sensitive")
            << QStringList{"HX_usb_app_1.bin", "Hx_bt_app_1.bin", "hx_USB_app_1.bin",
                           "hx_bt_SD_1.bin"}
            << QStringList{};
        QTest::newRow("only regular files")
            << QStringList{"dir:hx_usb_app_1.bin", "fifo:hx_bt_app_1.bin", "link:hx_bt_sd_1.bin"}
            << QStringList{};
        // Alphabetical and modification order differ, so only the time decides.
        QTest::newRow("newest of a kind wins")
            << QStringList{"hx_usb_app_1.bin@100", "hx_usb_app_2.bin@300", "hx_usb_app_3.bin@200",
                           "hx_bt_app_b.bin@50", "hx_bt_app_a.bin@10"}
            << QStringList{"1=hx_bt_app_a.bin", "3=hx_usb_app_1.bin"};
    }

    void planOfDirectory()
    {
        QFETCH(QStringList, entries);
        QFETCH(QStringList, plan);
        QTemporaryDir dir;
        QVERIFY(populate(dir.path(), entries));
        QCOMPARE(names(scan(dir.path())), plan);
    }

    void checkBeforeSending_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("target"); // the directory, relative to the scratch one
        QTest::addColumn<Refusal>("refusal");
        QTest::addColumn<QString>("named"); // the file the reason names
        const QString max = QString::number(kMaxImageSize);
        const QString over = QString::number(kMaxImageSize + 1);
        const QStringList good{"hx_bt_app_1.bin#1", "hx_bt_sd_1.bin#4097",
                               "hx_usb_app_1.bin#" + max};
        QTest::newRow("sizes at the limits") << good << "" << Refusal::None << "";
        QTest::newRow("empty directory") << QStringList{"a.txt"} << "" << Refusal::NoImage << "";
        QTest::newRow("not a directory")
            << good << "hx_usb_app_1.bin" << Refusal::NotADirectory << "hx_usb_app_1.bin";
        QTest::newRow("missing directory") << good << "gone" << Refusal::NotADirectory << "gone";
        QTest::newRow("empty USB image") << QStringList{"hx_bt_app_1.bin", "hx_usb_app_1.bin#0"}
                                         << "" << Refusal::Empty << "hx_usb_app_1.bin";
        QTest::newRow("empty application image")
            << QStringList{"hx_bt_app_1.bin#0", "hx_usb_app_1.bin"} << "" << Refusal::Empty
            << "hx_bt_app_1.bin";
        QTest::newRow("soft device of 4096 bytes")
            << QStringList{"hx_bt_app_1.bin", "hx_bt_sd_1.bin#4096", "hx_usb_app_1.bin"} << ""
            << Refusal::SoftDeviceTooSmall << "hx_bt_sd_1.bin";
        QTest::newRow("last image too large")
            << QStringList{"hx_bt_app_1.bin", "hx_usb_app_1.bin#" + over} << "" << Refusal::TooLarge
            << "hx_usb_app_1.bin";
        QTest::newRow("unreadable image") << QStringList{"hx_bt_app_1.bin", "hx_usb_app_1.bin"}
                                          << "" << Refusal::Unreadable << "hx_usb_app_1.bin";

        QTest::newRow("image that fails to read")
            << QStringList{"hx_bt_app_1.bin", "mem:hx_bt_sd_1.bin", "hx_usb_app_1.bin"} << ""
            << Refusal::Unreadable << "hx_bt_sd_1.bin";
    }

    void checkBeforeSending()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, target);
        QFETCH(Refusal, refusal);
        QFETCH(QString, named);
        QTemporaryDir scratch;
        QVERIFY(populate(scratch.path(), entries));
        const QString dir = scratch.filePath(target);
        if (QByteArray(QTest::currentDataTag()) == "unreadable image") {
            if (::geteuid() == 0)
                QSKIP("root reads any file");
            QVERIFY(QFile::setPermissions(scratch.filePath(named), QFileDevice::WriteOwner));
        }

        QVector<Image> images;
        images.resize(1); // whatever the caller held is replaced
        Problem problem;
        QCOMPARE(prepare(dir, &images, &problem), refusal == Refusal::None);
        QCOMPARE(problem.refusal, refusal);
        if (refusal == Refusal::None) {
            // Every image read whole, in writing order.
            QCOMPARE(images.size(), entries.size());
            for (int i = 0; i < images.size(); ++i) {
                QCOMPARE(images[i].key, i + 1);
                QCOMPARE(images[i].data, TestSupport::readFile(images[i].path));
            }
            return;
        }
        // Nothing of the plan is handed out, not even the images that passed.
        QVERIFY(images.isEmpty());
        const QString name = named.isEmpty() ? QDir(scratch.path()).dirName() : named;
        for (int language : {0, 1}) {
            const QString text = problem.message(language);
            QVERIFY2(text.contains(name), qPrintable(text));
        }
        QVERIFY(problem.message(0) != problem.message(1));
    }

    // A file that goes away between listing and reading stops the plan.
    void imageVanishesAfterListing()
    {
        QTemporaryDir dir;
        QVERIFY(populate(dir.path(), {"hx_bt_app_1.bin", "hx_usb_app_1.bin"}));
        const QMap<int, QString> plan = scan(dir.path());
        QVERIFY(QFile::remove(plan.value(UsbApp)));
        QVector<Image> images;
        Problem problem;
        QVERIFY(!load(plan, &images, &problem) && images.isEmpty());
        QVERIFY(problem.refusal == Refusal::Unreadable && problem.path == plan.value(UsbApp));
        QVERIFY(!load({}, &images, &problem) && problem.refusal == Refusal::NoImage);
    }

    // Each step is "key:sent/size", the figure after it is checked.
    void progressNeverFallsBack_data()
    {
        QTest::addColumn<QStringList>("sizes");
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QList<int>>("figures");
        const QStringList dual{"1:5000", "2:8096", "3:7000"}; // total 20096
        // The soft device counts from 4096, as its module reports it.
        QTest::newRow("three images in key order")
            << dual << QStringList{"1:48/5000",  "1:5000/5000", "2:4144/8096", "2:8096/8096",
                                   "3:104/7000", "3:6999/7000", "3:7000/7000"}
            << QList<int>{0, 24, 45, 65, 65, 99, 100};
        QTest::newRow("late and repeated reports")
            << dual << QStringList{"2:5096/8096", "1:5000/5000", "2:4144/8096",
                                   "3:0/7000",    "2:5096/8096", "1:0/5000"}
            << QList<int>{50, 50, 50, 65, 65, 65};
        QTest::newRow("Bluetooth images left out")
            << dual << QStringList{"3:3500/7000", "3:7000/7000"} << QList<int>{82, 100};
        QTest::newRow("unknown image, count beyond the size")
            << QStringList{"3:1000"} << QStringList{"4:500/1000", "3:500/1000", "3:2000/1000"}
            << QList<int>{0, 50, 100};
        const QString max = QString::number(kMaxImageSize);
        QTest::newRow("largest images")
            << QStringList{"1:" + max, "2:" + max, "3:" + max}
            << QStringList{"3:" + QString::number(kMaxImageSize - 1) + "/" + max} << QList<int>{99};
    }

    void progressNeverFallsBack()
    {
        QFETCH(QStringList, sizes);
        QFETCH(QStringList, steps);
        QFETCH(QList<int>, figures);
        QMap<int, quint32> plan;
        for (const QString &s : sizes)
            plan.insert(s.section(':', 0, 0).toInt(), s.section(':', 1).toUInt());
        FirmwareProgress progress;
        progress.setPlan(plan);
        QSignalSpy spy(&progress, &FirmwareProgress::emitProgress);
        QList<int> seen;
        for (const QString &step : steps) {
            const int key = step.section(':', 0, 0).toInt();
            const QString counts = step.section(':', 1);
            seen << progress.report(key, counts.section('/', 0, 0).toUInt(),
                                    counts.section('/', 1).toUInt());
        }
        QCOMPARE(seen, figures);
        // Only rises are announced.
        QList<int> announced;
        for (const QList<QVariant> &args : spy)
            announced << args.at(0).toInt();
        for (int i = 1; i < announced.size(); ++i)
            QVERIFY(announced[i] > announced[i - 1]);
        QVERIFY(announced.isEmpty() || announced.last() == progress.percent());
        QCOMPARE(progress.finishImage(plan.lastKey()), 100);
    }

    void tempFileRoundTrip_data()
    {
        QTest::addColumn<QString>("filePath");
        QTest::addColumn<QString>("dirPath");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("plain") << "pkg/K108"
                               << "pkg"
                               << QByteArray("<?xml version = '1.0' encoding = 'UTF-8'?>\n"
                                             "<TEMP>\n"
                                             "    <PATH filePath=\"pkg/K108\"/>\n"
                                             "    <DIR dirPath=\"pkg\"/>\n"
                                             "</TEMP>\n");
        QTest::newRow("markup and non-ASCII") << QString::fromUtf8("固件/\"new\" & <old>/'x'")
                                              << QString::fromUtf8("Übersicht\t1") << QByteArray();
        QTest::newRow("nothing chosen") << ""
                                        << "" << QByteArray();
    }

    void tempFileRoundTrip()
    {
        QFETCH(QString, filePath);
        QFETCH(QString, dirPath);
        QFETCH(QByteArray, bytes);
        QTemporaryDir app;
        AppPaths::setAppDir(app.path());
        const QString file = FirmwareTemp::defaultPath(); // config/temp/ does not exist yet
        AppPaths::setAppDir(QString());
        QVERIFY(QFileInfo(file).absoluteFilePath().startsWith(app.path() + "/config/temp/"));

        QVERIFY(FirmwareTemp::write(file, {filePath, dirPath}));
        if (!bytes.isEmpty())
            QCOMPARE(TestSupport::readFile(file), bytes);
        FirmwareTemp::Paths back{"stale", "stale"};
        QVERIFY(FirmwareTemp::read(file, &back));
        QCOMPARE(back.filePath, filePath);
        QCOMPARE(back.dirPath, dirPath);
        QVERIFY(FileProblems::instance().problems().isEmpty());
    }

    void brokenTempFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("broken");
        QTest::newRow("cut off") << QByteArray("<TEMP><PATH filePath='a'/><DIR dirPa") << true;
        QTest::newRow("another document")
            << QByteArray("<COMMAND><PATH filePath='a'/></COMMAND>") << true;
        QTest::newRow("text after the document")
            << QByteArray("<TEMP><PATH filePath='a'/></TEMP>junk") << true;
        QTest::newRow("empty file") << QByteArray(" \n") << false;
    }

    void brokenTempFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(bool, broken);
        QTemporaryDir dir;
        const QString file = dir.filePath("temp.xml");
        FirmwareTemp::Paths paths{"stale", "stale"};
        QVERIFY(FirmwareTemp::read(file, &paths)); // missing: nothing remembered
        QVERIFY(paths.filePath.isEmpty() && paths.dirPath.isEmpty());

        QVERIFY(TestSupport::writeFile(file, content));
        paths = {"stale", "stale"};
        QCOMPARE(FirmwareTemp::read(file, &paths), !broken);
        QVERIFY(paths.filePath.isEmpty() && paths.dirPath.isEmpty());
        QCOMPARE(FileProblems::find(file), broken);
        QCOMPARE(TestSupport::readFile(file), content);

        // The next choice is saved; what the user had stays beside it.
        QVERIFY(FirmwareTemp::write(file, {"new", "dir"}));
        QVERIFY(FirmwareTemp::read(file, &paths) && paths.filePath == "new");
        if (broken)
            QCOMPARE(TestSupport::readFile(file + ".broken"), content);
    }

    // The packages shipped for the simulated keyboards pass the check, and
    // each image carries the marker of its kind and of the version its name
    // gives.
    void samplePackages()
    {
        const QString root = TestSupport::sourceDataDir() + "/firmware";
        const QStringList boards = QDir(root).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
        QCOMPARE(boards, QStringList({"C68", "K108", "T88"}));
        for (const QString &board : boards) {
            QVector<Image> images;
            Problem problem;
            QVERIFY2(prepare(root + '/' + board, &images, &problem),
                     qPrintable(problem.message(1)));
            QCOMPARE(images.size(), board == "K108" ? 3 : 1);
            QCOMPARE(images.last().key, int(UsbApp));
            for (const Image &image : qAsConst(images)) {
                const QByteArray mark = image.data.mid(0x100, 13);
                const QString version = QFileInfo(image.path).completeBaseName().section("_V", 1);
                QVERIFY2(mark.startsWith("LUMORYFW01"), qPrintable(image.path));
                const int number = uchar(mark[10]) | uchar(mark[11]) << 8;
                QCOMPARE(QString("%1.%2").arg(number / 100).arg(number % 100, 2, 10, QChar('0')),
                         version);
                QCOMPARE(int(mark[12]), image.key);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestFirmwarePlan)
#include "tst_firmwareplan.moc"

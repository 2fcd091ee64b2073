// Firmware packages: which images a directory yields, the check before
// anything is sent, the one progress figure, and the remembered choice.
#include "setting/firmwareplan.h"
#include "simbus.h"
#include "testsupport.h"
#include "widget/fileproblems.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

using namespace FirmwarePlan;
using TestSupport::readFile;

Q_DECLARE_METATYPE(FirmwarePlan::Refusal)
using Sizes = QMap<int, quint32>;

namespace {
// Creates `entries` in `dir`: "name" (100 bytes), "name#size", "name@age" (modified
// `age` seconds ago), "dir:name", "fifo:name" or "name>target" (a symbolic link).
bool populate(const QString &dir, const QStringList &entries)
{
    for (const QString &entry : entries) {
        const int cut = entry.indexOf(QRegularExpression("[#@>]"));
        const QString name = entry.left(cut).section(':', -1), arg = entry.mid(cut + 1);
        const QString path = dir + '/' + name;
        QFile file(path);
        bool made = false;
        if (entry.startsWith("dir:"))
            made = QDir(dir).mkdir(name);
        else if (entry.startsWith("fifo:"))
            made = ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
        else if (entry.contains('>'))
            made = QFile::link(arg, path);
        else
            made = file.open(QIODevice::ReadWrite) &&
                   file.resize(entry.contains('#') ? arg.toInt() : 100) &&
                   (!entry.contains('@') ||
                    file.setFileTime(QDateTime::currentDateTime().addSecs(-arg.toInt()),
                                     QFileDevice::FileModificationTime));
        if (!made)
            return false;
    }
    return true;
}
} // namespace

class TestFirmwarePlan : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { FileProblems::instance().clear(); }

    // The last suffix in any case; the base name up to the first dot, of four parts or
    // more, the first three deciding the kind case-sensitively.
    void fileNames()
    {
        QCOMPARE(QList<int>({keyOfFileName("hx_bt_app_.BIN"), keyOfFileName("hx_bt_sd_1_x.Bin"),
                             keyOfFileName("hx_usb_app_1.txt.bin")}),
                 QList<int>({BtApp, BtSoftDevice, UsbApp}));
        for (const char *name :
             {"hx_usb_app_1.hex", "hx_usb_app_1.bin.txt", "hx_usb_app.bin", "hx.bt_app_1.bin",
              "HX_usb_app_1.bin", "hx_USB_app_1.bin", "hx_bt_SD_1.bin", "hx_bt_boot_1.bin"})
            QVERIFY2(keyOfFileName(name) == 0, name);
    }

    // Only regular files; of one kind the newest wins, whatever the names' order.
    void planOfDirectory()
    {
        QTemporaryDir dir;
        QVERIFY(populate(dir.path(),
                         {"hx_usb_app_1.bin@100", "hx_usb_app_2.bin@300", "hx_usb_app_3.bin@200",
                          "hx_bt_app_b.bin@50", "hx_bt_app_a.bin@10", "dir:hx_bt_sd_1.bin",
                          "fifo:hx_bt_sd_2.bin", "hx_bt_sd_3.bin>missing"}));
        const QMap<int, QString> plan = scan(dir.path());
        QCOMPARE(plan.keys(), QList<int>({BtApp, UsbApp}));
        QCOMPARE(QFileInfo(plan.value(BtApp)).fileName(), QString("hx_bt_app_a.bin"));
        QCOMPARE(QFileInfo(plan.value(UsbApp)).fileName(), QString("hx_usb_app_1.bin"));
    }

    void checkBeforeSending_data()
    {
        QTest::addColumn<QStringList>("entries");
        QTest::addColumn<QString>("target"); // the directory, relative to the scratch one
        QTest::addColumn<Refusal>("refusal");
        QTest::addColumn<QString>("named"); // the file the reason names
        const QString max = QString::number(kMaxImageSize);
        const QStringList good{"hx_bt_app_1.bin#1", "hx_bt_sd_1.bin#4097",
                               "hx_usb_app_1.bin#" + max};
        QTest::newRow("sizes at the limits") << good << "" << Refusal::None << "";
        QTest::newRow("no image") << QStringList{"a.txt"} << "" << Refusal::NoImage << "";
        QTest::newRow("not a directory")
            << good << "hx_usb_app_1.bin" << Refusal::NotADirectory << "hx_usb_app_1.bin";
        QTest::newRow("empty image") << QStringList{"hx_bt_app_1.bin#0", "hx_usb_app_1.bin"} << ""
                                     << Refusal::Empty << "hx_bt_app_1.bin";
        QTest::newRow("soft device of 4096 bytes")
            << QStringList{"hx_bt_app_1.bin", "hx_bt_sd_1.bin#4096", "hx_usb_app_1.bin"} << ""
            << Refusal::SoftDeviceTooSmall << "hx_bt_sd_1.bin";
        QTest::newRow("last image too large")
            << QStringList{"hx_bt_app_1.bin",
                           "hx_usb_app_1.bin#" + QString::number(kMaxImageSize + 1)}
            << "" << Refusal::TooLarge << "hx_usb_app_1.bin";
        // A write-only file even root cannot open; a process's memory reads as an error.
        QTest::newRow("image that cannot be opened")
            << QStringList{"hx_bt_app_1.bin", "hx_usb_app_1.bin>/proc/sys/vm/drop_caches"} << ""
            << Refusal::Unreadable << "hx_usb_app_1.bin";
        QTest::newRow("image that fails to read")
            << QStringList{"hx_bt_app_1.bin", "hx_bt_sd_1.bin>/proc/self/mem", "hx_usb_app_1.bin"}
            << "" << Refusal::Unreadable << "hx_bt_sd_1.bin";
    }
    void checkBeforeSending()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, target);
        QFETCH(Refusal, refusal);
        QFETCH(QString, named);
        QTemporaryDir scratch;
        QVERIFY(populate(scratch.path(), entries));
        QVector<Image> images(1); // whatever the caller held is replaced
        Problem problem;
        QCOMPARE(prepare(scratch.filePath(target), &images, &problem), refusal == Refusal::None);
        QCOMPARE(problem.refusal, refusal);
        if (refusal == Refusal::None) {
            // Every image read whole, in writing order.
            QCOMPARE(images.size(), entries.size());
            for (int i = 0; i < images.size(); ++i)
                QVERIFY(images[i].key == i + 1 && images[i].data == readFile(images[i].path));
            return;
        }
        // Nothing of the plan is handed out, not even the images that passed.
        QVERIFY(images.isEmpty());
        const QString name = named.isEmpty() ? QDir(scratch.path()).dirName() : named;
        QVERIFY2(problem.message(0).contains(name), qPrintable(problem.message(0)));
        QVERIFY2(problem.message(1).contains(name), qPrintable(problem.message(1)));
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

    // Each step is key, bytes sent, image size; the figure after it is checked.
    void progressNeverFallsBack_data()
    {
        QTest::addColumn<Sizes>("sizes");
        QTest::addColumn<QList<quint32>>("steps");
        QTest::addColumn<QList<int>>("figures");
        const Sizes dual{{1, 5000}, {2, 8096}, {3, 7000}}; // total 20096
        // The soft device counts from 4096, as its module reports it.
        QTest::newRow("three images in key order")
            << dual << QList<quint32>{1,    48, 5000, 1,    5000, 5000, 2,    4144, 8096, 2,   8096,
                                      8096, 3,  104,  7000, 3,    6999, 7000, 3,    7000, 7000}
            << QList<int>{0, 24, 45, 65, 65, 99, 100};
        QTest::newRow("late and repeated reports")
            << dual << QList<quint32>{2, 5096, 8096, 1, 5000, 5000, 2, 4144, 8096,
                                      3, 0,    7000, 2, 5096, 8096, 1, 0,    5000}
            << QList<int>{50, 50, 50, 65, 65, 65};
        QTest::newRow("unknown image, count beyond the size")
            << Sizes{{3, 1000}} << QList<quint32>{4, 500, 1000, 3, 500, 1000, 3, 2000, 1000}
            << QList<int>{0, 50, 100};
        const quint32 max = kMaxImageSize;
        QTest::newRow("largest images") << Sizes{{1, max}, {2, max}, {3, max}}
                                        << QList<quint32>{3, max - 1, max} << QList<int>{99};
    }
    void progressNeverFallsBack()
    {
        QFETCH(Sizes, sizes);
        QFETCH(QList<quint32>, steps);
        FirmwareProgress progress;
        progress.setPlan(sizes);
        QSignalSpy spy(&progress, &FirmwareProgress::emitProgress);
        QList<int> seen;
        for (int i = 0; i + 2 < steps.size(); i += 3)
            seen << progress.report(int(steps[i]), steps[i + 1], steps[i + 2]);
        QTEST(seen, "figures");
        // Only rises are announced.
        for (int i = 1; i < spy.size(); ++i)
            QVERIFY(spy[i].at(0).toInt() > spy[i - 1].at(0).toInt());
        QVERIFY(spy.isEmpty() || spy.last().at(0).toInt() == progress.percent());
        QCOMPARE(progress.finishImage(sizes.lastKey()), 100);
    }

    // What the file holds is read (a broken file reported and left as it is);
    // the next choice is saved, what the user had kept beside it.
    void tempFile_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("filePath"); // as read; "!": the file is broken
        QTest::newRow("ours") << QByteArray("<?xml version = '1.0' encoding = 'UTF-8'?>\n<TEMP>\n"
                                            "    <PATH filePath=\"pkg/K108\"/>\n"
                                            "    <DIR dirPath=\"pkg\"/>\n</TEMP>\n")
                              << "pkg/K108";
        QTest::newRow("empty file") << QByteArray(" \n") << "";
        QTest::newRow("cut off") << QByteArray("<TEMP><PATH filePath='a'/><DIR dirPa") << "!";
        QTest::newRow("another document")
            << QByteArray("<COMMAND><PATH filePath='a'/></COMMAND>") << "!";
        QTest::newRow("text after the document")
            << QByteArray("<TEMP><PATH filePath='a'/></TEMP>junk") << "!";
    }
    void tempFile()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, filePath);
        const bool broken = filePath == "!";
        QTemporaryDir dir;
        const QString file = dir.filePath("temp.xml");
        FirmwareTemp::Paths paths{"stale", "stale"};
        QVERIFY(FirmwareTemp::read(file, &paths)); // missing: nothing remembered
        QVERIFY(paths.filePath.isEmpty() && paths.dirPath.isEmpty());
        QVERIFY(TestSupport::writeFile(file, content));
        paths = {"stale", "stale"};
        QCOMPARE(FirmwareTemp::read(file, &paths), !broken);
        QCOMPARE(paths.filePath, broken ? QString() : filePath);
        QCOMPARE(FileProblems::find(file), broken);
        QCOMPARE(readFile(file), content);
        if (!filePath.isEmpty() && !broken) // written as it was read
            QCOMPARE(FirmwareTemp::format(paths), content);
        const FirmwareTemp::Paths odd{QString::fromUtf8("固件/\"new\" & <old>/'x'"),
                                      QString::fromUtf8("Übersicht\t1")};
        QVERIFY(FirmwareTemp::write(file, odd) && FirmwareTemp::read(file, &paths));
        QVERIFY(paths.filePath == odd.filePath && paths.dirPath == odd.dirPath);
        QCOMPARE(readFile(file + ".broken"), broken ? content : QByteArray());
    }

    // The packages shipped for the simulated keyboards pass the check, and each
    // image carries the marker of its kind and of the version its name gives.
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
            QCOMPARE(images.last().key, int(UsbApp));
            for (const Image &image : qAsConst(images)) {
                QString version = QFileInfo(image.path).completeBaseName().section("_V", 1);
                QCOMPARE(sim::firmwareImageVersion(image.data), version.remove('.').toInt());
                QCOMPARE(int(image.data.at(sim::kFirmwareMarkerOffset + 12)), image.key);
            }
        }
    }
};

QTEST_GUILESS_MAIN(TestFirmwarePlan)
#include "tst_firmwareplan.moc"

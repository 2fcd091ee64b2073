// The downloader on its worker thread against a local update server and seven
// daytime servers: the signed request, the daytime rotation, transfer faults,
// the check results, refused paths, the firmware hand-over, the installer
// start and a prompt stop.
#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "daytimeserver.h"
#include "updateserver.h"

#include <QCryptographicHash>
#include <QDataStream>
#include <QtTest>

#include <zlib.h>

using Fault = sim::UpdateServer::Fault;
Q_DECLARE_METATYPE(Fault)

namespace {

const char kKey[] = "k3y0f40characterslowercaseanddigits12345";
const QString kProduct = QStringLiteral("LLumory K108");
const QString kVersionFile = QStringLiteral("/UpgradeLumory/Linux/VersionFile/LumoryVersion.ini");
const QString kUrlFile = QStringLiteral("/UpgradeLumory/Linux/URLFile/LumoryFileURL.xml");
const QString kNewFiles = QStringLiteral("/UpgradeLumory/Linux/Lumory/Lumory/");
const QString kFwVersionFile = "/UpgradeFirmware/" + kProduct + "/VersionFile/FirmwareVersion.ini";
const QString kFwUrlFile = "/UpgradeFirmware/" + kProduct + "/URLFile/FirmwareFileURL.xml";
const QDateTime kTime(QDate(2026, 3, 14), QTime(15, 9, 26), Qt::UTC);

// The query the program signs `encodedPath` with at kTime.
QByteArray signedQuery(const QByteArray &encodedPath)
{
    const QByteArray t = QByteArray::number(kTime.toSecsSinceEpoch() + 60, 16);
    const QByteArray sign =
        QCryptographicHash::hash(kKey + encodedPath + t, QCryptographicHash::Md5);
    return "sign=" + sign.toHex() + "&t=" + t;
}

QByteArray versionIni(const QString &version)
{
    return ("[LumoryVersion]\nVersion=" + version + "\nEnglishUpdateInfo=Faster, smaller, better\n")
        .toUtf8();
}

QByteArray firmwareIni(const QString &usb)
{
    return ("[FirmwareVersion]\nhx_usb_app_Version=" + usb + "\nEnglishUpdateInfo=New lighting\n")
        .toUtf8();
}

QString urlXml(const QStringList &files, const QStringList &deletions = {})
{
    auto list = [](const QStringList &paths) {
        QString xml;
        for (const QString &path : paths)
            xml += "<FileURL url=\"" + path + "\"/>";
        return xml;
    };
    return "<?xml version='1.0' encoding='UTF-8'?><LUMORY><tools_FileURL_1.0.0>" + list(files) +
           "</tools_FileURL_1.0.0><tools_DeleteFile_1.0.0>" + list(deletions) +
           "</tools_DeleteFile_1.0.0></LUMORY>";
}

// A zip archive holding one stored entry.
QByteArray storedZip(const QByteArray &name, const QByteArray &data)
{
    QByteArray zip;
    QDataStream out(&zip, QIODevice::WriteOnly);
    out.setByteOrder(QDataStream::LittleEndian);
    const quint32 crc =
        quint32(crc32(0, reinterpret_cast<const Bytef *>(data.data()), data.size()));
    const quint32 size = quint32(data.size());
    out << quint32(0x04034b50) << quint16(20) << quint16(0) << quint16(0) << quint32(0) << crc
        << size << size << quint16(name.size()) << quint16(0);
    out.writeRawData(name.data(), name.size());
    out.writeRawData(data.data(), data.size());
    const quint32 central = quint32(zip.size());
    out << quint32(0x02014b50) << quint16(20) << quint16(20) << quint16(0) << quint16(0)
        << quint32(0) << crc << size << size << quint16(name.size()) << quint32(0) << quint32(0)
        << quint32(0) << quint32(0);
    out.writeRawData(name.data(), name.size());
    out << quint32(0x06054b50) << quint32(0) << quint16(1) << quint16(1)
        << quint32(zip.size() - central) << central << quint16(0);
    return zip;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

// A downloader on its own thread, wired to the state as the update page
// wires it, with the servers it talks to and a record of what it reports.
struct Site
{
    QTemporaryDir top{QDir::tempPath() + "/dl test XXXXXX"};
    QString root = top.path() + "/server";
    QString prog = top.path() + "/program dir";
    sim::UpdateServer server;
    sim::DaytimeServer daytime[7];
    overallVariate state;
    QThread thread;
    DownloadFile *loader = nullptr;
    QStringList events;
    int ends = 0;

    explicit Site(const QString &running = "1.0.0", int timeoutMs = 2000)
    {
        writeFile(top.path() + "/canary.txt", "canary");
        QDir().mkpath(prog);
        writeFile(top.path() + "/about.xml",
                  "<C><about><firmware firmware=\"Lumory " + running.toUtf8() + "\"/></about></C>");
        state.setAboutFile(top.path() + "/about.xml");
        state.setLangType(1);
        state.setAutoUpdate(false);
        server.setRoot(root);
        server.setSigningKey(kKey);
        server.listen();
        UpdateConfig config{server.baseUrl(), kKey, {}, timeoutMs, timeoutMs, 2000};
        for (auto &d : daytime) {
            d.setTime(kTime);
            d.listen();
            config.timeServers << d.address();
        }
        state.setConfig(config);
        using S = overallVariate;
        on(&S::LumoryUpdateSignal, "lumory");
        on(&S::FirmwareUpdateSignal, "firmware");
        on(&S::setLumoryUpdateInfoSignal, "info");
        on(&S::setFirmwareUpdateInfoSignal, "fwinfo");
        on(&S::downloadNumberSignal, "number");
        on(&S::downloadProgressSignal, "progress");
        on(&S::ErrorInfoSignal, "error");
        on(&S::emitUpdateSignal, "update");
        on(&S::closePageSignal, "close");
        on(&S::emitMainExit, "exit");
        QObject::connect(&state, &S::threadBusySignal, &server,
                         [this](bool busy) { ends += !busy; });

        loader = new DownloadFile(&state, prog);
        loader->setExecutableName("Lumory");
        loader->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, loader, &QObject::deleteLater);
        using R = std::pair<void (S::*)(), void (DownloadFile::*)()>;
        for (const R &r :
             {R{&S::checkUpdateDownloadSignal, &DownloadFile::checkUpdateSlot},
              R{&S::checkFirmwareUpdateSignal, &DownloadFile::checkFirmwareUpdateSlot},
              R{&S::dowmloadLumoryUpdateFileSignal, &DownloadFile::dowmloadLumoryUpdateFileSlot},
              R{&S::dowmloadFirmwareUpdateFileSignal,
                &DownloadFile::dowmloadFirmwareUpdateFileSlot},
              R{&S::unModeFirmwareSignal, &DownloadFile::unModeFirmwareSlot}})
            QObject::connect(&state, r.first, loader, r.second);
        thread.start();
    }
    ~Site()
    {
        thread.requestInterruption();
        thread.quit();
        thread.wait();
    }
    // Records a report as "name:argument"; it arrives queued on this thread.
    template <typename... A> void on(void (overallVariate::*signal)(A...), const QString &name)
    {
        QObject::connect(&state, signal, &server, [this, name](A... args) {
            events << QStringList{name, QVariant(args).toString()...}.join(':');
        });
    }
    void put(const QString &path, const QByteArray &content)
    {
        QVERIFY(writeFile(root + path, content));
    }
    // Runs one request until its job has ended; the reports but progress.
    QStringList run(void (overallVariate::*request)())
    {
        const int before = ends;
        events.clear();
        (state.*request)();
        if (!QTest::qWaitFor([&] { return ends > before; }, 30000))
            return {"<job did not end>"};
        QTest::qWait(20); // anything reported after the end
        return QStringList(events).filter(QRegularExpression("^(?!progress:)"));
    }
    void keyboard(const QString &product, const QString &usb)
    {
        state.setKBInfo(product, usb, 0, QString(), QString(), QString());
        state.setOnlinState(true);
    }
};

} // namespace

class TestDownloadFile : public QObject
{
    Q_OBJECT

private slots:
    void checks_data()
    {
        QTest::addColumn<QStringList>("versions"); // server, running, [server fw, keyboard fw]
        QTest::addColumn<QStringList>("expected");
        const QStringList found{"lumory:true", "info:Faster, smaller, better"};
        const QStringList none{"lumory:false"}, fwFound{"firmware:true", "fwinfo:New lighting"};
        auto row = [](const char *name, const QString &versions, const QStringList &expected) {
            QTest::newRow(name) << versions.split(' ') << expected;
        };
        row("1.10 is newer than 1.9", "1.10 1.9", found);
        row("V1.0.6 is 1.0.6", "V1.0.6 1.0.6", none);
        row("older on the server", "1.0.0 1.0.1", none);
        row("firmware 1.0.10 over 1.0.9", "1.0.0 1.0.0 1.0.10 1.0.9", none + fwFound);
        row("firmware current", "1.0.0 1.0.0 1.0.5 1.0.5", none + QStringList{"firmware:false"});
        row("no firmware on the server", "1.0.0 1.0.0 - 1.0.5",
            none + QStringList{"firmware:false"});
        row("both newer", "1.1 1.0.0 1.0.6 1.0.5", found + fwFound);
    }
    void checks()
    {
        QFETCH(QStringList, versions);
        QFETCH(QStringList, expected);
        Site site(versions.at(1));
        site.put(kVersionFile, versionIni(versions.at(0)));
        if (versions.size() > 2) {
            if (versions.at(2) != "-")
                site.put(kFwVersionFile, firmwareIni(versions.at(2)));
            site.keyboard(kProduct, versions.at(3));
        }
        QCOMPARE(site.run(&overallVariate::checkUpdateDownload), expected);
        QVERIFY(!QDir(site.prog + "/UpgradeLumory/Linux/VersionFile").exists());
        // Each request signed as the server checks it, the blank in the product encoded.
        QStringList requests;
        for (const char *path : {"/UpgradeLumory/Linux/VersionFile/LumoryVersion.ini",
                                 "/UpgradeFirmware/LLumory%20K108/VersionFile/FirmwareVersion.ini"})
            requests << "GET " + QByteArray(path) + "?" + signedQuery(path) + " HTTP/1.1";
        QCOMPARE(site.server.requestLines(), requests.mid(0, versions.size() > 2 ? 2 : 1));
        QVERIFY(!QFileInfo::exists(site.prog + kFwVersionFile));
    }

    void transferFaults_data()
    {
        QTest::addColumn<bool>("firmware"); // the firmware check, else the program check
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("expected"); // first report
        auto row = [](const char *name, bool firmware, Fault::Kind kind, int number,
                      const QString &target, int requests, const QString &expected) {
            Fault f{kind, number, number, target, 10, 1, 4000};
            QTest::newRow(name) << firmware << f << requests << expected;
        };
        const QString relative = "FirmwareVersion.ini?" +
                                 signedQuery(kFwVersionFile.toUtf8().toPercentEncoding("/")) +
                                 "&hop=1";
        row("firmware 404: none", true, Fault::Status, 404, {}, 1, "firmware:false");
        row("firmware 500", true, Fault::Status, 500, {}, 1, "error:");
        row("program 404", false, Fault::Status, 404, {}, 1, "error:");
        row("4 redirections", true, Fault::Redirect, 4, {}, 5, "firmware:true");
        row("5th redirection", true, Fault::Redirect, 5, {}, 5, "error:");
        row("relative redirection", true, Fault::Redirect, 1, relative, 2, "firmware:true");
        row("redirection to a local file", true, Fault::Redirect, 1, "file:", 1, "error:");
        row("body cut short", true, Fault::CutBody, 0, {}, 1, "error:");
        row("body stalls", false, Fault::SlowBody, 0, {}, 1, "error:");
    }
    void transferFaults()
    {
        QFETCH(bool, firmware);
        QFETCH(Fault, fault);
        QFETCH(int, requests);
        QFETCH(QString, expected);
        Site site;
        site.put(kFwVersionFile, firmwareIni("1.0.6") + QByteArray(200, '\n'));
        site.put(kVersionFile, versionIni("1.0.0") + QByteArray(200, '\n'));
        if (fault.redirectTarget == "file:") { // readable, and it would say "newer"
            QVERIFY(writeFile(site.top.path() + "/local.ini", firmwareIni("9.9")));
            fault.redirectTarget = QUrl::fromLocalFile(site.top.path() + "/local.ini").toString();
        }
        site.server.setFault(firmware ? kFwVersionFile : kVersionFile, fault);
        site.state.setKBInfo(kProduct, "1.0.5", 0, QString(), QString(), QString());
        const QStringList events = site.run(firmware ? &overallVariate::checkFirmwareUpdate
                                                     : &overallVariate::checkUpdateDownload);
        QVERIFY2(!events.isEmpty() && events.first().startsWith(expected),
                 qPrintable(events.join(" | ")));
        QCOMPARE(site.server.requestLines().size(), requests);
        QVERIFY(!QFileInfo::exists(site.prog + (firmware ? kFwVersionFile : kVersionFile)));
    }

    void timeServerRotation_data()
    {
        QTest::addColumn<int>("answering"); // -1: none
        QTest::addColumn<int>("next");
        QTest::newRow("3rd answers, 4th next") << 2 << 3;
        QTest::newRow("7th answers, 1st next") << 6 << 0;
        QTest::newRow("all down") << -1 << -1;
    }
    void timeServerRotation()
    {
        QFETCH(int, answering);
        QFETCH(int, next);
        Site site("1.0.0", 300);
        site.put(kVersionFile, versionIni("1.0.0"));
        // Only server `k` answers (7: all); the others are down in different ways.
        auto only = [&](int k) {
            using D = sim::DaytimeServer;
            for (int i = 0; i < 7; ++i)
                site.daytime[i].setMode(i == k || k == 7 ? D::Correct
                                        : i % 3 == 0     ? D::Silent
                                        : i % 3 == 1     ? D::Garbage
                                                         : D::Refused);
        };
        if (answering < 0) {
            only(-1);
            QCOMPARE(site.run(&overallVariate::checkUpdateDownload),
                     QStringList{"error:获取时间错误!"});
            QVERIFY(site.server.requestLines().isEmpty());
            QVERIFY(!QFileInfo::exists(site.prog + kVersionFile));
            return;
        }
        // The server after `answering` first, so that the search for it wraps.
        for (int k : {(answering + 1) % 7, answering}) {
            only(k);
            QCOMPARE(site.run(&overallVariate::checkUpdateDownload), QStringList{"lumory:false"});
        }
        only(7);
        int before[7];
        for (int i = 0; i < 7; ++i)
            before[i] = site.daytime[i].connections();
        QCOMPARE(site.run(&overallVariate::checkUpdateDownload), QStringList{"lumory:false"});
        for (int i = 0; i < 7; ++i)
            QCOMPARE(site.daytime[i].connections() - before[i], i == next ? 1 : 0);
    }

    // A new program: paths are checked before anything is deleted or written
    // (a canary outside the program directory stays as it is), then the
    // installer is started with its seven arguments and the program quits.
    void programDownload_data()
    {
        QTest::addColumn<QStringList>("files");
        QTest::addColumn<QString>("deletion"); // besides old.txt
        QTest::addColumn<QString>("product");  // a firmware download for this keyboard instead
        QTest::addColumn<QString>("expected"); // last report
        const QString upgrade = "/UpgradeLumory/Linux/Lumory/Upgrade/",
                      ok = kNewFiles + "readme.txt";
        const QString out = "/UpgradeLumory/../../canary.txt", none;
        const QStringList started{upgrade + "Upgrade", ok, kNewFiles + "data/a b.txt"};
        QTest::newRow("installer delivered, started") << started << none << none << "exit";
        QTest::newRow("no installer") << QStringList{ok} << none << none << "error:";
        QTest::newRow("no files listed") << QStringList{} << none << none << "error:";
        QTest::newRow("file list leaves") << QStringList{ok, out} << none << none << "error:";
        QTest::newRow("delete list leaves") << QStringList{ok} << out << none << "error:";
        QTest::newRow("through a link")
            << QStringList{ok} << "/UpgradeLumory/out/canary.txt" << none << "error:";
        QTest::newRow("archive entry leaves")
            << QStringList{ok, upgrade + "pack.lumoryzip"} << none << none << "error:";
        QTest::newRow("product leaves") << QStringList{} << none << "../.."
                                        << "error:";
    }
    void programDownload()
    {
        QFETCH(QStringList, files);
        QFETCH(QString, deletion);
        QFETCH(QString, product);
        QFETCH(QString, expected);
        Site site;
        QVERIFY(writeFile(site.prog + "/UpgradeLumory/old.txt", "obsolete"));
        QVERIFY(QFile::link(site.top.path(), site.prog + "/UpgradeLumory/out"));
        site.put(
            kUrlFile,
            urlXml(files, QStringList{"/UpgradeLumory/old.txt", deletion}.filter("/")).toUtf8());
        site.put(kNewFiles + "readme.txt", "new");
        site.put(kNewFiles + "data/a b.txt", "data");
        site.put("/UpgradeLumory/Linux/Lumory/Upgrade/pack.lumoryzip",
                 storedZip("../../canary.txt", "overwritten"));
        // A stand-in installer that writes down its arguments.
        site.put("/UpgradeLumory/Linux/Lumory/Upgrade/Upgrade",
                 "#!/bin/sh\nd=\"$(dirname \"$0\")\"\nprintf '%s\\n' \"$@\" > \"$d/args.tmp\"\n"
                 "mv \"$d/args.tmp\" \"$d/args.txt\"\n");
        site.keyboard(product, "1.0.0");
        const QStringList events =
            site.run(product.isEmpty() ? &overallVariate::dowmloadLumoryUpdateFile
                                       : &overallVariate::dowmloadFirmwareUpdateFile);
        QVERIFY2(!events.isEmpty() && events.last().startsWith(expected),
                 qPrintable(events.join(" | ")));
        QCOMPARE(readFile(site.top.path() + "/canary.txt"), QByteArray("canary"));
        QCOMPARE(events.contains("exit"), expected == "exit");
        if (!product.isEmpty())
            QVERIFY(site.server.requestLines().isEmpty());
        if (expected != "exit")
            return;
        QVERIFY(!QFileInfo::exists(site.prog + "/UpgradeLumory/old.txt"));
        QVERIFY(!QFileInfo::exists(site.prog + "/UpgradeLumory/Linux/Lumory/Upgrade"));
        const QString args = site.prog + "/Upgrade/args.txt";
        QTRY_VERIFY(QFileInfo::exists(args));
        QCOMPARE(QString::fromUtf8(readFile(args)).split('\n', Qt::SkipEmptyParts),
                 QStringList({"upgrade", "2", site.prog + "/", "Lumory", site.prog + kNewFiles,
                              site.prog + "/", "1"}));
        QCOMPARE(readFile(site.prog + kNewFiles + "data/a b.txt"), QByteArray("data"));
    }

    void firmwareDownload()
    {
        Site site;
        site.keyboard(kProduct, "1.0.5");
        const QString package = site.prog + "/UpgradeFirmware/" + kProduct + "/Firmware";
        QVERIFY(writeFile(package + "/hx_usb_app_V1.00.bin", "stale image"));
        site.put(kFwUrlFile,
                 "<?xml version='1.0'?><F><Firmware_FileURL><FileURL "
                 "hx_usb_app=\"/Firmware/hx_usb_app_V1.06.bin\"/></Firmware_FileURL></F>");
        site.put("/UpgradeFirmware/" + kProduct + "/Firmware/hx_usb_app_V1.06.bin", "new image");
        QCOMPARE(site.run(&overallVariate::dowmloadFirmwareUpdateFile),
                 QStringList({"number:1", "close", "update:" + package}));
        QCOMPARE(site.events.filter("progress:"), QStringList({"progress:1", "progress:1"}));
        QCOMPARE(site.loader->downloadMode(), 5);
        QCOMPARE(QDir(package).entryList(QDir::Files), QStringList{"hx_usb_app_V1.06.bin"});
        QCOMPARE(readFile(package + "/hx_usb_app_V1.06.bin"), QByteArray("new image"));
        site.state.unModeFirmware();
        QTRY_VERIFY(!QDir(site.prog + "/UpgradeFirmware").exists());
    }

    void oneJobAtATime()
    {
        Site site;
        site.put(kVersionFile, versionIni("1.0.0"));
        site.state.checkUpdateDownload();
        site.state.dowmloadLumoryUpdateFile();
        QCOMPARE(site.run(&overallVariate::checkUpdateDownload), QStringList{"lumory:false"});
        QTest::qWait(200);
        QCOMPARE(site.server.requestLines().size(), 1);
        QCOMPARE(site.ends, 1);
        // No update server: the job ends at once, asking nobody.
        UpdateConfig config = site.state.config();
        config.baseUrl.clear();
        site.state.setConfig(config);
        const int asked = site.daytime[0].connections() + site.daytime[1].connections();
        QCOMPARE(site.run(&overallVariate::checkUpdateDownload), QStringList());
        QCOMPARE(site.server.requestLines().size(), 1);
        QCOMPARE(site.daytime[0].connections() + site.daytime[1].connections(), asked);
    }

    void stopDuringTimeQuery()
    {
        Site site("1.0.0", 60000);
        for (auto &d : site.daytime)
            d.setMode(sim::DaytimeServer::Silent);
        site.state.checkUpdateDownload();
        QTRY_VERIFY(std::any_of(std::begin(site.daytime), std::end(site.daytime),
                                [](const sim::DaytimeServer &d) { return d.connections() > 0; }));
        site.thread.requestInterruption();
        site.thread.quit();
        QVERIFY(site.thread.wait(20000)); // a bound, not a speed figure
        QVERIFY(!QFileInfo::exists(site.prog + kVersionFile));
        QVERIFY(site.server.requestLines().isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestDownloadFile)
#include "tst_downloadfile.moc"

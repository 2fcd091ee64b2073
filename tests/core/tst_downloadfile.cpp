// The downloader on its worker thread against a local update server and seven
// daytime servers: the signed requests, the check results and transfer faults,
// the daytime rotation, refused paths and the installer start.
#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "daytimeserver.h"
#include "testsupport.h"
#include "updateserver.h"

#include <QCryptographicHash>
#include <QtTest>

using Fault = sim::UpdateServer::Fault;
Q_DECLARE_METATYPE(Fault)
using TestSupport::readFile;

namespace {

const char kKey[] = "k3y0f40characterslowercaseanddigits12345";
const QString kProduct = QStringLiteral("LLumory K108ü");
const QString kVersionFile = QStringLiteral("/UpgradeLumory/Linux/VersionFile/LumoryVersion.ini");
const QString kNewFiles = QStringLiteral("/UpgradeLumory/Linux/Lumory/Lumory/");
const QString kUpgrade = QStringLiteral("/UpgradeLumory/Linux/Lumory/Upgrade/");
const QString kFwVersionFile = "/UpgradeFirmware/" + kProduct + "/VersionFile/FirmwareVersion.ini";
const QDateTime kTime(QDate(2026, 3, 14), QTime(15, 9, 26), Qt::UTC);

// The query the program signs `encodedPath` with at kTime.
QByteArray signedQuery(const QByteArray &encodedPath)
{
    const QByteArray t = QByteArray::number(kTime.toSecsSinceEpoch() + 60, 16);
    return "sign=" +
           QCryptographicHash::hash(kKey + encodedPath + t, QCryptographicHash::Md5).toHex() +
           "&t=" + t;
}

QByteArray versionIni(const QString &version)
{
    return ("[LumoryVersion]\nVersion=" + version + "\nEnglishUpdateInfo=Faster, smaller\n")
        .toUtf8();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    return QDir().mkpath(QFileInfo(path).absolutePath()) && TestSupport::writeFile(path, content);
}

// A downloader on its own thread with the servers it talks to and a record
// of what it reports through the state.
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

    explicit Site(int timeoutMs = 2000)
    {
        writeFile(top.path() + "/canary.txt", "canary");
        QDir().mkpath(prog);
        writeFile(top.path() + "/about.xml",
                  "<C><about><firmware firmware=\"Lumory 1.9\"/></about></C>");
        state.setAboutFile(top.path() + "/about.xml");
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
        on(&S::ErrorInfoSignal, "error");
        on(&S::emitMainExit, "exit");
        QObject::connect(&state, &S::threadBusySignal, &server,
                         [this](bool busy) { ends += !busy; });

        loader = new DownloadFile(&state, prog);
        loader->setExecutableName("Lumory");
        loader->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, loader, &QObject::deleteLater);
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
    // Runs one request on the downloader's thread until its job has ended.
    QStringList run(void (DownloadFile::*request)())
    {
        const int before = ends;
        events.clear();
        QMetaObject::invokeMethod(loader, request);
        if (!QTest::qWaitFor([&] { return ends > before; }, 30000))
            return {"<job did not end>"};
        QTest::qWait(20); // anything reported after the end
        return events;
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
    // The program check (running 1.9), chained to the firmware check of a
    // keyboard online; a fault on the last version file asked for.
    void checks_data()
    {
        QTest::addColumn<QStringList>("versions"); // server; [server firmware, keyboard]
        QTest::addColumn<Fault>("fault");
        QTest::addColumn<int>("requests");
        QTest::addColumn<QString>("expected"); // the reports; "error:" ends a prefix
        const QString found = "lumory:true|info:Faster, smaller", none = "lumory:false|";
        const QString fwFound = none + "firmware:true|fwinfo:New lighting";
        const auto row = [](const char *name, const char *versions, Fault::Kind kind, int number,
                            int requests, const QString &expected, const QString &target = {}) {
            QTest::newRow(name) << QString(versions).split(' ')
                                << Fault{kind, number, number, target, 10, 1, 4000} << requests
                                << expected;
        };
        const QString relative = "FirmwareVersion.ini?" +
                                 signedQuery(kFwVersionFile.toUtf8().toPercentEncoding("/")) +
                                 "&hop=1";
        row("1.10 is newer than 1.9", "1.10", Fault::None, 0, 1, found);
        row("firmware 1.0.10 over 1.0.9", "V1.9 1.0.10 1.0.9", Fault::None, 0, 2, fwFound);
        row("firmware current", "1.10 1.0.5 1.0.5", Fault::None, 0, 2, found + "|firmware:false");
        row("no firmware on the server", "1.9 1.0.6 1.0.5", Fault::Status, 404, 2,
            none + "firmware:false");
        row("firmware 500", "1.9 1.0.6 1.0.5", Fault::Status, 500, 2, none + "error:");
        row("program 404", "1.10", Fault::Status, 404, 1, "error:");
        row("4 redirections", "1.9 1.0.6 1.0.5", Fault::Redirect, 4, 6, fwFound);
        row("5th redirection", "1.9 1.0.6 1.0.5", Fault::Redirect, 5, 6, none + "error:");
        row("relative redirection", "1.9 1.0.6 1.0.5", Fault::Redirect, 1, 3, fwFound, relative);
        row("redirection to a local file", "1.9 1.0.6 1.0.5", Fault::Redirect, 1, 2,
            none + "error:", "file:");
        row("body cut short", "1.9 1.0.6 1.0.5", Fault::CutBody, 0, 2, none + "error:");
        row("body stalls", "1.10", Fault::SlowBody, 0, 1, "error:");
    }
    void checks()
    {
        QFETCH(QStringList, versions);
        QFETCH(Fault, fault);
        QFETCH(QString, expected);
        Site site;
        const bool online = versions.size() > 1;
        site.put(kVersionFile, versionIni(versions.at(0)) + QByteArray(200, '\n'));
        if (online) {
            site.put(kFwVersionFile,
                     "[FirmwareVersion]\nhx_usb_app_Version=" + versions.at(1).toUtf8() +
                         "\nEnglishUpdateInfo=New lighting\n" + QByteArray(200, '\n'));
            site.keyboard(kProduct, versions.at(2));
        }
        if (fault.redirectTarget == "file:") { // readable, and it would say "newer"
            QVERIFY(writeFile(site.top.path() + "/local.ini",
                              "[FirmwareVersion]\nhx_usb_app_Version=9"));
            fault.redirectTarget = QUrl::fromLocalFile(site.top.path() + "/local.ini").toString();
        }
        site.server.setFault(online ? kFwVersionFile : kVersionFile, fault);
        const QString events = site.run(&DownloadFile::checkUpdateSlot).join('|');
        QVERIFY2(expected.endsWith("error:") ? events.startsWith(expected) : events == expected,
                 qPrintable(events));
        QTEST(site.server.requestLines().size(), "requests");
        // Each request signed as the server checks it, the product's blank and ü encoded.
        QStringList requests;
        for (const char *path :
             {"/UpgradeLumory/Linux/VersionFile/LumoryVersion.ini",
              "/UpgradeFirmware/LLumory%20K108%C3%BC/VersionFile/FirmwareVersion.ini"})
            requests << "GET " + QByteArray(path) + "?" + signedQuery(path) + " HTTP/1.1";
        QCOMPARE(site.server.requestLines().mid(0, online ? 2 : 1),
                 requests.mid(0, online ? 2 : 1));
        QVERIFY(!QFileInfo::exists(site.prog + kVersionFile));
        QVERIFY(!QFileInfo::exists(site.prog + kFwVersionFile));
    }

    // Only the k-th daytime server answers (7: all, -1: none); the others are
    // down in different ways.
    void timeServerRotation()
    {
        Site site(300);
        site.put(kVersionFile, versionIni("1.0.0"));
        auto only = [&](int k) {
            using D = sim::DaytimeServer;
            for (int i = 0; i < 7; ++i)
                site.daytime[i].setMode(i == k || k == 7 ? D::Correct
                                        : i % 3 == 0     ? D::Silent
                                        : i % 3 == 1     ? D::Garbage
                                                         : D::Refused);
        };
        // The 4th answers, then the search from the 5th wraps to the 3rd.
        for (int k : {3, 2}) {
            only(k);
            QCOMPARE(site.run(&DownloadFile::checkUpdateSlot), QStringList{"lumory:false"});
        }
        only(7);
        int before[7];
        for (int i = 0; i < 7; ++i)
            before[i] = site.daytime[i].connections();
        QCOMPARE(site.run(&DownloadFile::checkUpdateSlot), QStringList{"lumory:false"});
        for (int i = 0; i < 7; ++i)
            QCOMPARE(site.daytime[i].connections() - before[i], i == 3 ? 1 : 0);
        only(-1);
        QCOMPARE(site.run(&DownloadFile::checkUpdateSlot), QStringList{"error:获取时间错误!"});
        QCOMPARE(site.server.requestLines().size(), 3);
        QVERIFY(!QFileInfo::exists(site.prog + kVersionFile));
    }

    // A new program: paths are checked before anything is deleted or written
    // (old.txt stays, a canary outside the program directory stays as it
    // is), then the installer is started with its seven arguments and the
    // program quits.
    void programDownload_data()
    {
        QTest::addColumn<QStringList>("entries"); // "-": to delete, besides old.txt
        QTest::addColumn<QString>("product");     // a firmware download for this keyboard instead
        QTest::addColumn<int>("stage"); // 0 refused at once, 1 failed after downloading, 2 started
        const QString ok = kNewFiles + "readme.txt", none;
        const QStringList started{kUpgrade + "Upgrade", ok, kNewFiles + "data/a b.txt"};
        QTest::newRow("installer delivered, started") << started << none << 2;
        QTest::newRow("no installer") << QStringList{ok} << none << 1;
        QTest::newRow("installer not unpacked")
            << QStringList{started.first(), ok, kUpgrade + "pack.lumoryzip"} << none << 1;
        QTest::newRow("no files listed") << QStringList{} << none << 0;
        QTest::newRow("file list leaves")
            << QStringList{ok, "/UpgradeLumory/../../canary.txt"} << none << 0;
        QTest::newRow("through a link")
            << QStringList{ok, "-/UpgradeLumory/out/canary.txt"} << none << 0;
        QTest::newRow("product leaves") << QStringList{} << "../.." << 0;
    }
    void programDownload()
    {
        QFETCH(QStringList, entries);
        QFETCH(QString, product);
        QFETCH(int, stage);
        Site site;
        const QString old = site.prog + "/UpgradeLumory/old.txt";
        QVERIFY(writeFile(old, "obsolete"));
        QVERIFY(QFile::link(site.top.path(), site.prog + "/UpgradeLumory/out"));
        QString lists[2]; // files, deletions
        for (const QString &entry : QStringList{"-/UpgradeLumory/old.txt"} + entries)
            lists[entry.startsWith('-')] +=
                "<FileURL url=\"" + entry.mid(entry.startsWith('-')) + "\"/>";
        site.put("/UpgradeLumory/Linux/URLFile/LumoryFileURL.xml",
                 ("<L><tools_FileURL_1.9>" + lists[0] +
                  "</tools_FileURL_1.9><tools_DeleteFile_1.9>" + lists[1] +
                  "</tools_DeleteFile_1.9></L>")
                     .toUtf8());
        site.put(kNewFiles + "readme.txt", "new");
        site.put(kNewFiles + "data/a b.txt", "data");
        site.put(kUpgrade + "pack.lumoryzip", "not a zip archive");
        // A stand-in installer that writes down its arguments.
        site.put(kUpgrade + "Upgrade",
                 "#!/bin/sh\nd=\"$(dirname \"$0\")\"\nprintf '%s\\n' \"$@\" > \"$d/args.tmp\"\n"
                 "mv \"$d/args.tmp\" \"$d/args.txt\"\n");
        site.keyboard(product, "1.0.0");
        const QStringList events =
            site.run(product.isEmpty() ? &DownloadFile::dowmloadLumoryUpdateFileSlot
                                       : &DownloadFile::dowmloadFirmwareUpdateFileSlot);
        QVERIFY2(!events.isEmpty() && events.last().startsWith(stage == 2 ? "exit" : "error:"),
                 qPrintable(events.join(" | ")));
        QCOMPARE(events.contains("exit"), stage == 2);
        QCOMPARE(readFile(site.top.path() + "/canary.txt"), QByteArray("canary"));
        QCOMPARE(QFileInfo::exists(old), stage == 0);
        QCOMPARE(site.server.requestLines().isEmpty(), !product.isEmpty());
        if (stage != 2)
            return;
        QVERIFY(!QFileInfo::exists(site.prog + kUpgrade));
        const QString args = site.prog + "/Upgrade/args.txt";
        QTRY_VERIFY(QFileInfo::exists(args));
        QCOMPARE(QString::fromUtf8(readFile(args)).split('\n', Qt::SkipEmptyParts),
                 QStringList({"upgrade", "2", site.prog + "/", "Lumory", site.prog + kNewFiles,
                              site.prog + "/", "1"}));
        QCOMPARE(readFile(site.prog + kNewFiles + "data/a b.txt"), QByteArray("data"));
    }

    void oneJobAtATime()
    {
        Site site;
        site.put(kVersionFile, versionIni("1.0.0"));
        QMetaObject::invokeMethod(site.loader, &DownloadFile::checkUpdateSlot);
        QMetaObject::invokeMethod(site.loader, &DownloadFile::dowmloadLumoryUpdateFileSlot);
        QCOMPARE(site.run(&DownloadFile::checkUpdateSlot), QStringList{"lumory:false"});
        QTest::qWait(200);
        QCOMPARE(site.server.requestLines().size(), 1);
        QCOMPARE(site.ends, 1);
        // No update server: the job ends at once, asking nobody.
        UpdateConfig config = site.state.config();
        config.baseUrl.clear();
        site.state.setConfig(config);
        const int asked = site.daytime[0].connections() + site.daytime[1].connections();
        QCOMPARE(site.run(&DownloadFile::checkUpdateSlot), QStringList());
        QCOMPARE(site.server.requestLines().size(), 1);
        QCOMPARE(site.daytime[0].connections() + site.daytime[1].connections(), asked);
    }
};

QTEST_GUILESS_MAIN(TestDownloadFile)
#include "tst_downloadfile.moc"

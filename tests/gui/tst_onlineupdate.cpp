// The update page: its results (and the keyboard going), waiting texts, errors, the
// automatic-check file, no server, Exit during a time query, and a firmware update found
// and downloaded from the demo's update site.
#include "Update/autoupdatefile.h"
#include "Update/onlineupdate.h"
#include "Update/overallvariate.h"
#include "daytimeserver.h"
#include "demoupdate.h"
#include "main/apppaths.h"
#include "simbus.h"
#include "testsupport.h"

#include <QSignalSpy>
#include <QtTest>
#include <QtWidgets>

using TestSupport::ScratchAppDir;

namespace {
// A state with its page, as the main window builds them; automatic checks
// off unless asked for (-1: as AutoUpdate.xml says).
struct Page
{
    explicit Page(const UpdateConfig &config, int autoCheck = 0)
    {
        state.setConfig(config);
        state.initialization();
        page = qobject_cast<onlineUpdate *>(state.page());
        if (autoCheck >= 0)
            state.setAutoUpdate(autoCheck == 1);
    }
    ~Page() { delete page; } // before the state, as the main window does
    overallVariate state;
    onlineUpdate *page = nullptr;
};

// Nothing listens there; no test lets the downloader reach it.
UpdateConfig serverConfig(const QString &timeServer = QStringLiteral("127.0.0.1:9"))
{
    UpdateConfig config;
    config.baseUrl = QStringLiteral("http://127.0.0.1:9");
    config.signingKey = QString::fromLatin1(UpdateFormats::kDefaultSigningKey);
    config.timeServers = QVector<QString>(7, timeServer).toList();
    return config;
}
} // namespace

class TestOnlineUpdate : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // firmware: -1 no firmware result yet (the keyboard's check still runs), 0 none, 1 found.
    void resultMatrix_data()
    {
        QTest::addColumn<bool>("online");
        QTest::addColumn<bool>("program");
        QTest::addColumn<int>("firmware");
        QTest::newRow("offline, program found") << false << true << -1;
        QTest::newRow("offline, nothing") << false << false << -1;
        QTest::newRow("online, program found, firmware pending") << true << true << -1;
        QTest::newRow("online, both found") << true << true << 1;
        QTest::newRow("online, program only") << true << true << 0;
        QTest::newRow("online, firmware only") << true << false << 1;
        QTest::newRow("online, nothing") << true << false << 0;
    }

    void resultMatrix()
    {
        QFETCH(bool, online);
        QFETCH(bool, program);
        QFETCH(int, firmware);
        ScratchAppDir dir(false);
        Page p(serverConfig());
        onlineUpdate *page = p.page;
        p.state.setOnlinState(online);
        // What the downloader reports for a program check (chained to the
        // firmware check with a keyboard online), in its order.
        page->UpdateTipTimerStart();
        p.state.setBuay(true);
        p.state.LumoryUpdate(program);
        if (firmware >= 0)
            p.state.FirmwareUpdate(firmware == 1);
        QTest::qWait(10);

        // With a keyboard online the page waits for its firmware result.
        const bool pending = online && firmware < 0;
        const bool found = program || firmware == 1;
        QCOMPARE(page->tipTimer()->isActive(), pending);
        if (!pending)
            QCOMPARE(page->statusLabel()->text(),
                     found ? onlineUpdate::foundText(1) : onlineUpdate::latestText(1));
        QCOMPARE(!page->lumoryRow()->isHidden(), program);
        QCOMPARE(!page->firmwareRow()->isHidden(), firmware == 1);
        QCOMPARE(page->checkButton()->isEnabled(), !pending);
        QCOMPARE(page->isVisible(), found);
        if (program) // not before the firmware result
            QCOMPARE(page->lumoryButton()->isEnabled(), !pending);
        QCOMPARE(page->firmwareButton()->isEnabled(), firmware == 1);
        const int firmwareY = page->firmwareRow()->y();

        // The keyboard goes: its row with it, and the status when nothing is left.
        const QString before = page->statusLabel()->text();
        p.state.setOnlinState(false);
        QTest::qWait(10);
        QVERIFY(page->firmwareRow()->isHidden());
        QCOMPARE(page->statusLabel()->text(), program ? before : QStringLiteral(" "));
        if (firmware == 1 && !program) {
            // The firmware row stood where the program row would.
            page->lumoryRow()->show();
            page->firmwareRow()->show();
            QTest::qWait(10); // laid out again
            QCOMPARE(page->lumoryRow()->y(), firmwareY);
            QVERIFY(page->firmwareRow()->y() > firmwareY);
        }
    }

    void waitingDots()
    {
        ScratchAppDir dir(false);
        Page p(serverConfig());
        onlineUpdate *page = p.page;
        const QString one = QStringLiteral("Check new version,Please wait\u00b7");
        const QString two = one + QChar(0xb7), three = two + QChar(0xb7);
        page->UpdateTipTimerStart();
        QCOMPARE(page->statusLabel()->text(), one);
        // The counter starts at 1: the first tick shows two dots, then three, one.
        QVERIFY(QSignalSpy(page->tipTimer(), &QTimer::timeout).wait(2000));
        QCOMPARE(page->statusLabel()->text(), two);
        page->UpdateTipTimerStop();
        auto tick = [page] {
            page->UpdateTipSlot();
            return page->statusLabel()->text();
        };
        QCOMPARE(QStringList({tick(), tick(), tick()}), QStringList({three, one, two}));
        // A new check starts with one dot; the counter goes on where it was.
        page->UpdateTipTimerStart();
        QCOMPARE(page->statusLabel()->text(), one);
        page->SetLanguage(0);
        QCOMPARE(tick(), QStringLiteral("正在检查新版本，请稍后\u00b7\u00b7\u00b7"));
    }

    void errorDuringDownload()
    {
        ScratchAppDir dir(false);
        Page p(serverConfig());
        onlineUpdate *page = p.page;
        // The bars count files once the list is known; the firmware bar stays.
        p.state.setBuay(true);
        page->on_pushButton_LumoryUpdate_clicked();
        p.state.downloadProgress(1); // the URL file
        p.state.downloadNumber(4);
        p.state.downloadProgress(1);
        p.state.downloadProgress(2);
        QTest::qWait(10);
        QCOMPARE(page->lumoryBar()->maximum(), 4);
        QCOMPARE(page->lumoryBar()->value(), 2);
        QVERIFY(page->firmwareBar()->isHidden() && !page->checkButton()->isEnabled());
        page->UpdateTipTimerStart();
        p.state.downloadError(QStringLiteral("Connection refused"));
        QTest::qWait(10);
        QCOMPARE(page->statusLabel()->text(), onlineUpdate::failedText(1));
        QVERIFY(!page->tipTimer()->isActive() && page->checkButton()->isEnabled());
        QVERIFY(page->lumoryBar()->isHidden() && page->firmwareBar()->isHidden());
    }

    // The check box follows AutoUpdate.xml: a file that cannot be used means
    // on, and what the user had there is kept aside when a choice is written.
    void autoCheckBox_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("not XML") << QByteArray("Auto=0");
        QTest::newRow("no Auto") << QByteArray("<COMMAND><Update><AutoUpdate/></Update></COMMAND>");
    }
    void autoCheckBox()
    {
        QFETCH(QByteArray, content);
        ScratchAppDir dir(false);
        const QString path = AutoUpdateFile::defaultPath();
        QVERIFY(QDir(dir.path()).mkpath(QStringLiteral("config")) &&
                TestSupport::writeFile(path, content));
        {
            Page p(serverConfig(), -1);
            QVERIFY(p.page->autoCheckBox()->isChecked() && p.state.getAutoUpdate());
            p.page->autoCheckBox()->setChecked(false);
            QVERIFY(!p.state.getAutoUpdate());
        }
        QCOMPARE(TestSupport::readFile(path),
                 QByteArray("<?xml version='1.0' encoding='UTF-8'?>\n<COMMAND>\n    <Update>\n"
                            "        <AutoUpdate Auto=\"0\"/>\n    </Update>\n</COMMAND>\n"));
        QCOMPARE(TestSupport::readFile(path + ".broken"), content.startsWith('<') ? "" : content);
        Page p(serverConfig(), -1);
        QVERIFY(!p.page->autoCheckBox()->isChecked() && !p.state.getAutoUpdate());
        p.page->autoCheckBox()->setChecked(true);
        bool on = false;
        QVERIFY(AutoUpdateFile::read(path, &on) && on && p.state.getAutoUpdate());
    }

    void unconfigured()
    {
        ScratchAppDir dir(false);
        Page p(UpdateConfig{}, 1);
        QSignalSpy requests(&p.state, &overallVariate::checkUpdateDownloadSignal);
        QSignalSpy firmwareRequests(&p.state, &overallVariate::checkFirmwareUpdateSignal);
        p.state.checkUpdate(); // as at start-up, and a keyboard loaded, and a click
        p.state.setOnlinState(true);
        p.page->on_pushButton_checkUpdate_clicked();
        QTest::qWait(100);
        QCOMPARE(requests.count() + firmwareRequests.count(), 0);
        QCOMPARE(p.page->statusLabel()->text(), QStringLiteral("No update server is configured."));
        QVERIFY(!p.page->checkButton()->isEnabled() && !p.page->isVisible());
        p.page->SetLanguage(0);
        QCOMPARE(p.page->statusLabel()->text(), QStringLiteral("未配置更新服务器。"));
    }

    void exitDuringTimeQuery()
    {
        ScratchAppDir dir(false);
        sim::DaytimeServer silent;
        silent.setMode(sim::DaytimeServer::Silent);
        QVERIFY(silent.listen(0));
        UpdateConfig config = serverConfig(silent.address());
        config.connectTimeoutMs = config.readTimeoutMs = 600000;
        auto *p = new Page(config);
        QSignalSpy accepted(&silent, &sim::DaytimeServer::connectionAccepted);
        p->state.checkUpdate();
        QVERIFY(accepted.wait(10000));
        // The downloader waits for the time; the page (and its thread) goes,
        // and the file begun for the version is removed.
        const QString file = AppPaths::downloadDir() +
                             QStringLiteral("/UpgradeLumory/Linux/VersionFile/LumoryVersion.ini");
        QVERIFY(p->page->tipTimer()->isActive() && p->page->workerThread()->isRunning());
        QVERIFY(QFileInfo::exists(file));
        delete p;
        QVERIFY(!QFileInfo::exists(file));
    }

    void firmwareFromDemoSite()
    {
        ScratchAppDir dir(false);
        QVERIFY(TestSupport::copyTree(TestSupport::sourceDataDir() + QStringLiteral("/firmware"),
                                      dir.path() + QStringLiteral("/firmware")));
        sim::DemoUpdateSite site;
        UpdateConfig config = serverConfig();
        QVERIFY(site.start(dir.path(), QStringLiteral("1.0.0"), config.signingKey));
        config.baseUrl = site.baseUrl();
        config.timeServers = site.timeServers();
        Page p(config);
        QStringList packages; // emitted on the downloader's thread
        connect(&p.state, &overallVariate::emitUpdateSignal, this,
                [&packages](const QString &dir) { packages << dir; });
        p.state.setKBInfo(QString::fromLatin1(sim::kDualModeProductName), QStringLiteral("1.0.5"),
                          0, QString(), QString(), QString());
        p.state.setOnlinState(true);
        p.page->checkFirmwareUpdateSlot();
        QTRY_COMPARE_WITH_TIMEOUT(p.page->statusLabel()->text(), onlineUpdate::foundText(1), 20000);
        QTRY_VERIFY(!p.state.getBuay());
        QVERIFY(!p.page->firmwareRow()->isHidden() && p.page->isVisible());
        QVERIFY(p.page->firmwareInfo()->text().contains(QStringLiteral("1.0.6")));
        // An image of an earlier download never joins the new package.
        const QString downloads = AppPaths::downloadDir() + QStringLiteral("/UpgradeFirmware");
        const QString image = QStringLiteral("/%1/Firmware/hx_usb_app_V1.0%2.bin")
                                  .arg(QString::fromLatin1(sim::kDualModeProductName));
        QVERIFY(QDir().mkpath(QFileInfo(downloads + image.arg(0)).path()) &&
                TestSupport::writeFile(downloads + image.arg(0), "stale"));
        QTest::mouseClick(p.page->firmwareButton(), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(packages.size(), 1, 20000);
        QCOMPARE(QDir(packages.first()).entryList(QDir::Files),
                 QStringList{"hx_usb_app_V1.06.bin"});
        QCOMPARE(TestSupport::readFile(downloads + image.arg(6)),
                 TestSupport::readFile(dir.path() + "/firmware/K108/hx_usb_app_V1.06.bin"));
        QTRY_VERIFY(!p.page->isVisible()); // the page closed, the bar full
        QVERIFY(p.page->firmwareBar()->value() == 1 && p.page->firmwareBar()->maximum() == 1);
        p.state.unModeFirmware(); // the package is done with
        QTRY_VERIFY(!QFileInfo::exists(downloads));
    }
};

QTEST_MAIN(TestOnlineUpdate)
#include "tst_onlineupdate.moc"

// Online update figures against the local update server and seven local
// daytime servers, the downloader on its own thread as the update page runs
// it. One line per figure: "name value unit".
//
//   update_check_ms           a program check followed by the firmware check
//                             of the loaded keyboard (two signed downloads,
//                             two time queries), mean of 10
//   download_mib_per_s        a firmware download whose image is 5 MiB, from
//                             the request until the package is handed on
//   exit_during_time_query_ms the worker thread stopped (as when the program
//                             exits) while a daytime server stays silent;
//                             target below 1000

#include "Update/downloadfile.h"
#include "Update/overallvariate.h"
#include "benchsupport.h"
#include "daytimeserver.h"
#include "updateserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

const char kKey[] = "0123456789abcdefghijklmnopqrstuvwxyz0123";
const QString kProduct = QStringLiteral("LLumory K108");

using bench::figure;

bool writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

// Runs this thread's events until `done` holds or `timeoutMs` passed.
bool waitFor(const std::function<bool()> &done, int timeoutMs)
{
    QEventLoop loop;
    QTimer poll;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (done() || clock.elapsed() > timeoutMs)
            loop.quit();
    });
    poll.start(1);
    if (!done())
        loop.exec();
    return done();
}

// The servers, a program directory and a downloader on its worker thread.
struct Bench
{
    QTemporaryDir dir;
    sim::UpdateServer server;
    sim::DaytimeServer daytime[7];
    overallVariate state;
    QThread thread;
    int ends = 0;
    int errors = 0;
    QString handedOver;

    Bench()
    {
        const QString root = dir.path() + "/server";
        const QString fw = "/UpgradeFirmware/" + kProduct;
        writeFile(root + "/UpgradeLumory/Linux/VersionFile/LumoryVersion.ini",
                  "[LumoryVersion]\nVersion=1.1.0\nEnglishUpdateInfo=Faster\n");
        writeFile(root + fw + "/VersionFile/FirmwareVersion.ini",
                  "[FirmwareVersion]\nhx_usb_app_Version=1.0.6\nEnglishUpdateInfo=New\n");
        writeFile(root + fw + "/URLFile/FirmwareFileURL.xml",
                  "<F><Firmware_FileURL><FileURL hx_usb_app=\"/Firmware/hx_usb_app_V1.06.bin\"/>"
                  "</Firmware_FileURL></F>");
        writeFile(root + fw + "/Firmware/hx_usb_app_V1.06.bin", QByteArray(5 << 20, '\x5a'));
        writeFile(dir.path() + "/about.xml",
                  "<C><about><firmware firmware=\"Lumory 1.0.0\"/></about></C>");
        QDir().mkpath(dir.path() + "/program");
        server.setRoot(root);
        server.setSigningKey(QString::fromLatin1(kKey));
        server.listen();
        UpdateConfig config;
        config.baseUrl = server.baseUrl();
        config.signingKey = QString::fromLatin1(kKey);
        for (auto &d : daytime) {
            d.listen();
            config.timeServers << d.address();
        }
        state.setConfig(config);
        state.setAboutFile(dir.path() + "/about.xml");
        state.setAutoUpdate(false);
        state.setKBInfo(kProduct, QStringLiteral("1.0.5"), 0, QString(), QString(), QString());
        state.setOnlinState(true);
        QObject::connect(&state, &overallVariate::threadBusySignal, &server,
                         [this](bool busy) { ends += !busy; });
        QObject::connect(&state, &overallVariate::emitUpdateSignal, &server,
                         [this](const QString &path) { handedOver = path; });
        QObject::connect(&state, &overallVariate::ErrorInfoSignal, &server,
                         [this](const QString &) { ++errors; });

        auto *loader = new DownloadFile(&state, dir.path() + "/program");
        loader->moveToThread(&thread);
        QObject::connect(&thread, &QThread::finished, loader, &QObject::deleteLater);
        QObject::connect(&state, &overallVariate::checkUpdateDownloadSignal, loader,
                         &DownloadFile::checkUpdateSlot);
        QObject::connect(&state, &overallVariate::dowmloadFirmwareUpdateFileSignal, loader,
                         &DownloadFile::dowmloadFirmwareUpdateFileSlot);
        thread.start();
    }
    ~Bench() { stop(); }
    void stop()
    {
        thread.requestInterruption();
        thread.quit();
        thread.wait();
    }
    // Runs one job; its time in ms, or -1 when it did not end.
    double job(void (overallVariate::*request)())
    {
        const int before = ends;
        QElapsedTimer clock;
        clock.start();
        (state.*request)();
        const int errorsBefore = errors;
        if (!waitFor([&] { return ends > before; }, 60000) || errors > errorsBefore)
            return -1;
        return clock.nsecsElapsed() / 1e6;
    }
};

} // namespace

int updateBenchmarks()
{
    int failed = 0;
    {
        Bench bench;
        constexpr int kRounds = 10;
        double total = 0;
        for (int i = 0; i < kRounds && total >= 0; ++i) {
            const double ms = bench.job(&overallVariate::checkUpdateDownload);
            total = ms < 0 ? -1 : total + ms;
        }
        if (total < 0) {
            std::fprintf(stderr, "update_check_ms: the check did not end\n");
            ++failed;
        } else {
            figure("update_check_ms", total / kRounds, "ms");
        }

        const double ms = bench.job(&overallVariate::dowmloadFirmwareUpdateFile);
        if (ms < 0 || QFileInfo(bench.handedOver + "/hx_usb_app_V1.06.bin").size() != (5 << 20)) {
            std::fprintf(stderr, "download_mib_per_s: the download did not complete\n");
            ++failed;
        } else {
            figure("download_mib_per_s", 5.0 / (ms / 1000.0), "MiB/s");
        }
    }
    {
        Bench bench;
        for (auto &d : bench.daytime)
            d.setMode(sim::DaytimeServer::Silent);
        bench.state.checkUpdateDownload();
        const bool asked = waitFor(
            [&] {
                int sum = 0;
                for (auto &d : bench.daytime)
                    sum += d.connections();
                return sum > 0;
            },
            10000);
        QElapsedTimer clock;
        clock.start();
        bench.stop();
        const double ms = clock.nsecsElapsed() / 1e6;
        if (!asked) {
            std::fprintf(stderr, "exit_during_time_query_ms: no time query was made\n");
            ++failed;
        } else {
            figure("exit_during_time_query_ms", ms, "ms");
            if (ms >= 1000)
                ++failed;
        }
    }
    return failed;
}

// The stand-ins for the update server and the daytime servers, as a client sees them.
#include "daytimeserver.h"
#include "demoupdate.h"
#include "updateserver.h"

#include <QCryptographicHash>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>

using sim::DaytimeServer;
using F = sim::UpdateServer::Fault;
Q_DECLARE_METATYPE(F)
Q_DECLARE_METATYPE(DaytimeServer::Mode)

static const QString kKey = QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz0123");

static QString signedTarget(const QString &encodedPath, const QString &key = kKey)
{
    const QString t = QString::number(QDateTime::currentSecsSinceEpoch() + 60, 16);
    const auto hash =
        QCryptographicHash::hash((key + encodedPath + t).toLatin1(), QCryptographicHash::Md5);
    return encodedPath + "?sign=" + hash.toHex() + "&t=" + t;
}

struct Answer
{
    int status = 0, hops = 0;
    QByteArray body, location;
    bool partial = false, failed = false; // a progress step short of the end; a reply error
};

// GETs base + target with the toolkit's client, following http redirects by hand.
static Answer fetch(const QString &base, const QString &target)
{
    QNetworkAccessManager manager;
    Answer a;
    for (QUrl url(base + target);; url = QUrl(QString::fromLatin1(a.location)), ++a.hops) {
        QNetworkReply *reply = manager.get(QNetworkRequest(url));
        QObject::connect(reply, &QNetworkReply::downloadProgress,
                         [&a](qint64 got, qint64 total) { a.partial |= got > 0 && got < total; });
        QSignalSpy(reply, &QNetworkReply::finished).wait(10000);
        a.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        a.location = reply->rawHeader("Location");
        a.failed = reply->error() != QNetworkReply::NoError;
        a.body = reply->readAll();
        if (a.status != 302 || !a.location.startsWith("http://"))
            return a;
    }
}

class TestUpdateServers : public QObject
{
    Q_OBJECT
private slots:
    void requests_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<F>("fault");
        QTest::addColumn<int>("status");
        // One number serves every kind: status, redirects, bytes before the cut or per chunk.
        auto f = [](F::Kind k, int n, int ms = 0, QString to = {}) {
            return F{k, n, n, to, n, n, ms};
        };
        const QString good = signedTarget("/a%20b/x.bin");
        QTest::newRow("signed") << good << F{} << 200;
        QTest::newRow("wrong key") << signedTarget("/a%20b/x.bin", "k") << F{} << 403;
        QTest::newRow("other path") << "/a%20b/y.bin" + good.mid(12) << F{} << 403;
        QTest::newRow("empty segment") << signedTarget("/a%20b//x.bin") << F{} << 400;
        QTest::newRow("backslash") << signedTarget("/a%20b%5Cx.bin") << F{} << 400;
        QTest::newRow("missing") << signedTarget("/a%20b/z.bin") << F{} << 404;
        QTest::newRow("status 500") << good << f(F::Status, 500) << 500;
        QTest::newRow("4 redirects") << good << f(F::Redirect, 4) << 200;
        QTest::newRow("to ftp") << good << f(F::Redirect, 1, 0, "ftp://h/x") << 302;
        QTest::newRow("cut body") << good << f(F::CutBody, 300) << 200;
        QTest::newRow("slow body") << good << f(F::SlowBody, 100, 15) << 200;
    }
    void requests()
    {
        QFETCH(QString, target);
        QFETCH(F, fault);
        QTemporaryDir root;
        QFile file(root.path() + "/a b/x.bin");
        QVERIFY(QDir(root.path()).mkpath("a b") && file.open(QIODevice::WriteOnly) &&
                file.write(QByteArray(1000, 'x')) == 1000 && file.flush());
        sim::UpdateServer server;
        server.setRoot(root.path());
        server.setSigningKey(kKey);
        server.setFault("/a b/x.bin", fault);
        QVERIFY(server.listen(0));
        const Answer a = fetch(server.baseUrl(), target);
        QTEST(a.status, "status");
        QCOMPARE(a.hops, a.status == 200 && fault.kind == F::Redirect ? fault.redirects : 0);
        QCOMPARE(server.requestLines().size(), a.hops + 1);
        QCOMPARE(server.requestLines().value(0), "GET " + target + " HTTP/1.1");
        if (a.status == 200)
            QCOMPARE(a.body, QByteArray(fault.kind == F::CutBody ? 300 : 1000, 'x'));
        QCOMPARE(a.failed, a.status >= 400 || fault.kind == F::CutBody);
        QCOMPARE(a.location, fault.redirectTarget.toLatin1()); // only the ftp hop stops at one
        QVERIFY(a.partial || fault.kind != F::SlowBody);
    }

    void daytime_data()
    {
        QTest::addColumn<DaytimeServer::Mode>("mode");
        QTest::addColumn<QByteArray>("expected");
        const QByteArray line = "60369 24-02-29 23:59:58 00 0 0 0.0 UTC(NIST) * \r\n";
        QTest::newRow("correct") << DaytimeServer::Correct << line;
        QTest::newRow("garbage") << DaytimeServer::Garbage << QByteArray("NOT-A-TIME\r\n");
        QTest::newRow("silent") << DaytimeServer::Silent << QByteArray();
        QTest::newRow("refused") << DaytimeServer::Refused << QByteArray();
    }
    void daytime()
    {
        QFETCH(DaytimeServer::Mode, mode);
        DaytimeServer server;
        server.setTime(QDateTime(QDate(2024, 2, 29), QTime(23, 59, 58), Qt::UTC));
        QVERIFY(server.listen(0));
        server.setMode(mode);
        QTcpSocket socket; // the server shares this thread: wait only in the event loop
        QSignalSpy closed(&socket, &QTcpSocket::disconnected);
        QSignalSpy connects(&socket, &QTcpSocket::connected);
        socket.connectToHost(QHostAddress::LocalHost, server.address().section(':', 1).toUShort());
        QTRY_VERIFY(!connects.isEmpty() || socket.error() != QAbstractSocket::UnknownSocketError);
        const bool connected = !connects.isEmpty();
        QCOMPARE(connected, socket.error() != QAbstractSocket::ConnectionRefusedError);
        const bool silent = mode == DaytimeServer::Silent;
        QCOMPARE(connected && (!closed.isEmpty() || closed.wait(silent ? 300 : 3000)),
                 connected && !silent);
        QCOMPARE(server.connections(), int(connected));
        QTEST(socket.readAll(), "expected");
    }

    void demoSite()
    {
        sim::DemoUpdateSite site;
        QVERIFY(site.start(LUMORY_SOURCE_DATA_DIR, "1.0.0", kKey));
        const QStringList servers = site.timeServers();
        QCOMPARE(QSet<QString>(servers.begin(), servers.end()).size(), 7);
        const QString path = "/UpgradeFirmware/LLumory%20K108/VersionFile/FirmwareVersion.ini";
        const Answer a = fetch(site.baseUrl(), signedTarget(path));
        QVERIFY2(a.body.contains("\nhx_usb_app_Version=1.0.6\n"), a.body.constData());
    }
};

QTEST_GUILESS_MAIN(TestUpdateServers)
#include "tst_updateservers.moc"

// The stand-in for the update server, as a client sees it: what it accepts. The faults
// it plays (statuses, redirections, cut and stalled bodies) and the daytime servers'
// modes are seen through the downloader's own test.
#include "testsupport.h"
#include "updateserver.h"

#include <QCryptographicHash>
#include <QNetworkReply>
#include <QSignalSpy>
#include <QtTest>

static const QString kKey = QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz0123");

static QString signedTarget(const QString &encodedPath, const QString &key = kKey)
{
    const QString t = QString::number(QDateTime::currentSecsSinceEpoch() + 60, 16);
    const auto hash =
        QCryptographicHash::hash((key + encodedPath + t).toLatin1(), QCryptographicHash::Md5);
    return encodedPath + "?sign=" + hash.toHex() + "&t=" + t;
}

class TestUpdateServers : public QObject
{
    Q_OBJECT
private slots:
    void requests_data()
    {
        QTest::addColumn<QString>("target");
        QTest::addColumn<int>("status");
        const QString good = signedTarget("/a%20b/x.bin");
        QTest::newRow("signed") << good << 200;
        QTest::newRow("wrong key") << signedTarget("/a%20b/x.bin", "k") << 403;
        QTest::newRow("other path") << "/a%20b/y.bin" + good.mid(12) << 403;
        QTest::newRow("empty segment") << signedTarget("/a%20b//x.bin") << 400;
        QTest::newRow("backslash") << signedTarget("/a%20b%5Cx.bin") << 400;
        QTest::newRow("missing") << signedTarget("/a%20b/z.bin") << 404;
    }
    void requests()
    {
        QFETCH(QString, target);
        QFETCH(int, status);
        QTemporaryDir root;
        QVERIFY(QDir(root.path()).mkpath("a b") &&
                TestSupport::writeFile(root.path() + "/a b/x.bin", QByteArray(1000, 'x')));
        sim::UpdateServer server;
        server.setRoot(root.path());
        server.setSigningKey(kKey);
        QVERIFY(server.listen(0));
        QNetworkAccessManager manager;
        QNetworkReply *reply = manager.get(QNetworkRequest(QUrl(server.baseUrl() + target)));
        QVERIFY(QSignalSpy(reply, &QNetworkReply::finished).wait(10000));
        QCOMPARE(reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt(), status);
        QCOMPARE(server.requestLines(), QStringList{"GET " + target + " HTTP/1.1"});
        if (status == 200)
            QCOMPARE(reply->readAll(), QByteArray(1000, 'x'));
    }
};

QTEST_GUILESS_MAIN(TestUpdateServers)
#include "tst_updateservers.moc"

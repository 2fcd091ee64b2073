// Online update: file formats, safe paths, copying and unpacking.
#include "Update/updatefiles.h"
#include "Update/updateformats.h"
#include "testsupport.h"

#include <QDataStream>
#include <QTemporaryDir>
#include <QtTest>

#include <zlib.h>

using namespace UpdateFormats;
using namespace UpdateFiles;
using TestSupport::readFile;

struct ZipItem
{
    QByteArray name, data;
    quint32 mode = 0100644;
    bool deflate = false, badCrc = false;
};
Q_DECLARE_METATYPE(QVector<ZipItem>)

namespace {
// A zip archive as `zip` writes it on Unix (stored or raw-deflated entries).
QByteArray makeZip(const QVector<ZipItem> &items)
{
    QByteArray out, central;
    QDataStream o(&out, QIODevice::WriteOnly), c(&central, QIODevice::WriteOnly);
    o.setByteOrder(QDataStream::LittleEndian);
    c.setByteOrder(QDataStream::LittleEndian);
    for (const ZipItem &it : items) {
        // qCompress: 4 bytes of length, then zlib: a 2-byte header, raw deflate, Adler-32.
        const QByteArray body = it.deflate ? qCompress(it.data, 9).mid(6).chopped(4) : it.data;
        const auto *bytes = reinterpret_cast<const Bytef *>(it.data.constData());
        const quint32 crc = quint32(crc32(0, bytes, uInt(it.data.size())) ^ it.badCrc);
        const quint16 method = it.deflate ? 8 : 0, n = quint16(it.name.size());
        const quint32 offset = quint32(out.size());
        o << quint32(0x04034b50) << quint16(20) << quint16(0) << method << quint32(0) << crc
          << quint32(body.size()) << quint32(it.data.size()) << n << quint16(0);
        o.writeRawData(it.name.constData(), n);
        o.writeRawData(body.constData(), body.size());
        c << quint32(0x02014b50) << quint16(0x031e) << quint16(20) << quint16(0) << method
          << quint32(0) << crc << quint32(body.size()) << quint32(it.data.size()) << n << quint32(0)
          << quint32(0) << (it.mode << 16) << offset;
        c.writeRawData(it.name.constData(), n);
    }
    const quint32 start = quint32(out.size());
    o.writeRawData(central.constData(), central.size());
    o << quint32(0x06054b50) << quint32(0) << quint16(items.size()) << quint16(items.size())
      << quint32(central.size()) << start << quint16(0);
    return out;
}

void put(const QString &path, const QByteArray &data)
{
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()) && TestSupport::writeFile(path, data));
}

QStringList listing(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
}
} // namespace

class TestUpdateFiles : public QObject
{
    Q_OBJECT
    QTemporaryDir m_tmp;

private slots:
    // A NIST answer starts with a blank line; anything after a NUL is no part of it.
    void daytime()
    {
        const QDateTime t(QDate(2026, 12, 7), QTime(4, 0, 0), Qt::UTC);
        QCOMPARE(parseDaytime("\n61015 26-12-07 04:00:00 50 0 0 0.0 UTC(NIST) * \n"), t);
        QCOMPARE(parseDaytime(QByteArray("61015 26-12-07 04:00:00\0 99-99-99", 32)), t);
        QVERIFY(!parseDaytime("61015 26-12-07").isValid());
        QVERIFY(!parseDaytime("1 26-13-07 04:00:00").isValid());
    }

    void versions_data()
    {
        QTest::addColumn<int>("unused");
        for (const char *row : {"1.10 > 1.9", "1.9 < 1.10", "V1.0.6 = 1.0.6", "1.0 = 1.0.0",
                                "1.07 = 1.7", "1.0b > 1.0a"})
            QTest::newRow(row) << 0;
    }
    void versions()
    {
        const QStringList row = QString(QTest::currentDataTag()).split(' ');
        QCOMPARE(compareVersions(row.at(0), row.at(2)), QString("<=>").indexOf(row.at(1)) - 1);
    }

    void versionFiles()
    {
        const QString lumory = m_tmp.filePath("LumoryVersion.ini");
        put(lumory, "[LumoryVersion]\nVersion=1.2.0\nChineseUpdateInfo=修复, 改进\n"
                    "EnglishUpdateInfo=Fixes, faster start,and more\n");
        QCOMPARE(ReadSettings(lumory, 1), QStringList({"1.2.0", "Fixes, faster start,and more"}));
        QCOMPARE(ReadSettings(lumory, 0), QStringList({"1.2.0", "修复, 改进"}));
        QVERIFY(ReadSettings(m_tmp.filePath("missing.ini"), 0).isEmpty());
        const QString fw = m_tmp.filePath("FirmwareVersion.ini");
        put(fw, "[FirmwareVersion]\nhx_usb_app_Version=1.07\nhx_bt_app_Version=1.08\n"
                "EnglishUpdateInfo=USB, BT\n");
        QCOMPARE(ReadFirmwareSettings(fw, 1, 0), QStringList({"1.07", "USB, BT"}));
        QVERIFY(ReadFirmwareSettings(fw, 1, 1).isEmpty()); // no soft-device version
    }

    void urlFiles()
    {
        const QString xml = m_tmp.filePath("LumoryFileURL.xml");
        put(xml, "<r><tools_FileURL_1.0.0><FileURL url='/UpgradeLumory/a'/><FileURL "
                 "url='/UpgradeLumory/b c'/></tools_FileURL_1.0.0><tools_FileURL_0.9><FileURL "
                 "url='/UpgradeLumory/old'/></tools_FileURL_0.9><tools_DeleteFile_1.0.0><FileURL "
                 "url='/UpgradeLumory/gone'/></tools_DeleteFile_1.0.0><tools_info><Chinese "
                 "synopsis='中'/><English synopsis='en, more'/></tools_info></r>");
        UrlInfo info;
        QVERIFY(parseLumoryUrlXml(xml, "1.0.0", 1, &info));
        QCOMPARE(info.fileList, QStringList({"/UpgradeLumory/a", "/UpgradeLumory/b c"}));
        QCOMPARE(info.deleteList, QStringList({"/UpgradeLumory/gone"}));
        QCOMPARE(info.description, QString("en, more"));
        QVERIFY(parseLumoryUrlXml(xml, "0.9", 0, &info));
        QCOMPARE(info.fileList + info.deleteList, QStringList({"/UpgradeLumory/old"}));

        const QString fw = m_tmp.filePath("FirmwareFileURL.xml");
        put(fw, "<r><Firmware_FileURL><FileURL hx_usb_app='/u.bin' hx_bt_app='b.bin' "
                "hx_bt_sd='/s.bin'/></Firmware_FileURL></r>");
        QStringList files;
        QVERIFY(parseFirmwareUrlXml(fw, "K108", 1, &files));
        QCOMPARE(files, QStringList({"/UpgradeFirmware/K108/u.bin", "/UpgradeFirmware/K108/b.bin",
                                     "/UpgradeFirmware/K108/s.bin"}));
        QVERIFY(!parseFirmwareUrlXml(fw, "K1/x", 0, &files));
        put(fw, "<r><Firmware_FileURL><FileURL hx_usb_app='/../../x'/></Firmware_FileURL></r>");
        QVERIFY(!parseFirmwareUrlXml(fw, "K108", 0, &files));
    }

    // Server paths: refused by isSafeEntry, or safe but leading out of the program directory
    // through a link (evil: directory link, f: file link, dangling), or usable.
    void paths_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<int>("kind"); // 0 unsafe, 1 outside, 2 usable
        const auto rows = [](int kind, std::initializer_list<const char *> entries) {
            for (const char *e : entries)
                QTest::newRow(QByteArray(e).toPercentEncoding("/.")) << QString(e) << kind;
        };
        rows(0, {"/UpgradeLumory/../../etc/passwd", "/UpgradeLumory/./x", "/UpgradeLumory//x",
                 "/UpgradeLumory/..\\x", "/UpgradeLumory/a\nb", "/UpgradeLumory/a\x7f",
                 "UpgradeLumory/x", "/etc/passwd", "/UpgradeLumoryX/a", "/UpgradeFirmware/K108"});
        rows(1, {"/UpgradeLumory/evil/a.bin", "/UpgradeLumory/Linux/f", "/UpgradeLumory/dangling"});
        rows(2, {"/UpgradeLumory/new/dir/a b.bin", "/UpgradeLumory/inner/a.bin",
                 "/UpgradeFirmware/K108/hx_usb_app_V1.07.bin"});
    }
    void paths()
    {
        QFETCH(QString, entry);
        QFETCH(int, kind);
        const QString prog = m_tmp.filePath("prog dir"), out = m_tmp.filePath("outside");
        put(prog + "/UpgradeLumory/Linux/x", "x");
        put(out + "/f", "x");
        QFile::link(out, prog + "/UpgradeLumory/evil");
        QFile::link(prog + "/UpgradeLumory/Linux", prog + "/UpgradeLumory/inner");
        QFile::link(out + "/none", prog + "/UpgradeLumory/dangling");
        QFile::link(out + "/f", prog + "/UpgradeLumory/Linux/f");
        QCOMPARE(isSafeEntry(entry), kind > 0);
        QCOMPARE(localPath(prog, entry), kind == 2 ? prog + entry : QString());
    }

    void copyingAndDeleting()
    {
        const QString from = m_tmp.filePath("from"), to = m_tmp.filePath("to");
        put(from + "/pkg.lumoryzip", makeZip({{"bin/", {}, 040755},
                                              {"bin/tool", QByteArray(70000, 't'), 0100755, true},
                                              {"readme.txt", "read me"}}));
        put(from + "/sub/x.txt", "x");
        put(from + "/same.txt", "new");
        put(to + "/same.txt", "old");
        put(m_tmp.filePath("secret"), "secret");
        QFile::link(m_tmp.filePath("secret"), from + "/link");
        QString error;
        QVERIFY2(copyDirectoryFiles(from, to, false, &error), qPrintable(error));
        QCOMPARE(readFile(to + "/bin/tool"), QByteArray(70000, 't'));
        QVERIFY(QFileInfo(to + "/bin/tool").isExecutable());
        QCOMPARE(readFile(to + "/readme.txt") + readFile(to + "/sub/x.txt"), "read mex");
        QCOMPARE(readFile(to + "/same.txt"), QByteArray("old"));
        QVERIFY(copyDirectoryFiles(from, to, true, &error));
        QCOMPARE(readFile(to + "/same.txt"), QByteArray("new"));
        // no archive, no link, no temporary left
        QCOMPARE(listing(to), QStringList({"bin", "readme.txt", "same.txt", "sub"}));

        put(to + "/.hidden", "h");
        put(m_tmp.filePath("keep/canary"), "canary");
        QFile::link(m_tmp.filePath("keep"), to + "/link"); // removed, never followed
        int removed = 0;
        QVERIFY(deleteDirectory(to, &removed));
        QCOMPARE(removed, 4); // .hidden, link, readme.txt, same.txt
        QVERIFY(!QFileInfo::exists(to));
        QCOMPARE(readFile(m_tmp.filePath("keep/canary")), QByteArray("canary"));
        QVERIFY(deleteDirectory(to)); // gone already
    }

    void archivesRefused_data()
    {
        QTest::addColumn<QVector<ZipItem>>("items");
        const QByteArray canary = m_tmp.filePath("canary").toUtf8();
        const ZipItem ok{"ok.txt", "fine"};
        QTest::newRow("..") << QVector<ZipItem>{ok, {"../canary", "evil"}};
        QTest::newRow("absolute") << QVector<ZipItem>{ok, {canary, "evil"}};
        QTest::newRow("backslash") << QVector<ZipItem>{ok, {"..\\canary", "evil"}};
        QTest::newRow("symlink") << QVector<ZipItem>{{"up", "..", 0120777}, {"up/canary", "evil"}};
        QTest::newRow("over limit") << QVector<ZipItem>{ok, {"big", QByteArray(5000, 'b')}};
        QTest::newRow("bad CRC") << QVector<ZipItem>{ok, {"b", "data", 0100644, true, true}};
    }
    void archivesRefused()
    {
        QFETCH(QVector<ZipItem>, items);
        put(m_tmp.filePath("canary"), "canary");
        const QString target = m_tmp.filePath("target"), archive = m_tmp.filePath("a.zip");
        QDir(target).removeRecursively();
        QDir().mkpath(target);
        put(archive, makeZip(items));
        QString error;
        QVERIFY(!uzip(archive, target, true, &error, 4096) && !error.isEmpty());
        QCOMPARE(readFile(m_tmp.filePath("canary")), QByteArray("canary"));
        QCOMPARE(listing(target), QStringList());
    }

    void config()
    {
        // No file, and the shipped one: no server, the built-in key and time servers.
        QString problem = "unset";
        for (const QString &path : {m_tmp.filePath("none.xml"),
                                    TestSupport::sourceDataDir() + "/config/OnlineUpdate.xml"}) {
            const UpdateConfig c = readUpdateConfig(path, &problem);
            QVERIFY2(!c.isConfigured() && problem.isEmpty(), qPrintable(problem));
            QCOMPARE(c.signingKey, QString(kDefaultSigningKey));
            QCOMPARE(c.timeServers, defaultTimeServers());
        }
        const QString path = m_tmp.filePath("bad.xml");
        put(path, "<ONLINEUPDATE><Server base='ftp://x' signingKey='short'/><TimeServer "
                  "address='127.0.0.1:13'/><TimeServer address='nohost'/><Timeouts connectMs='-5' "
                  "readMs='2000'/></ONLINEUPDATE>");
        UpdateConfig c = readUpdateConfig(path, &problem);
        for (const char *named : {"bad.xml", "ftp://x", "signingKey", "nohost", "connectMs"})
            QVERIFY2(problem.contains(named), qPrintable(problem));
        QVERIFY(!c.isConfigured());
        QCOMPARE(c.signingKey, QString(kDefaultSigningKey));
        QCOMPARE(c.timeServers, QStringList({"127.0.0.1:13", defaultTimeServers().at(1)}));
        QCOMPARE(c.connectTimeoutMs, 30000);
        QCOMPARE(c.readTimeoutMs, 2000);
        put(path, "<ONLINEUPDATE><Server base='https://127.0.0.1:8443/'/></ONLINEUPDATE>");
        QCOMPARE(readUpdateConfig(path, &problem).baseUrl, QString("https://127.0.0.1:8443"));
        put(path, "<ONLINEUPDATE><Server");
        QVERIFY(!readUpdateConfig(path, &problem).isConfigured() && problem.contains("bad.xml"));
    }
};

QTEST_GUILESS_MAIN(TestUpdateFiles)
#include "tst_updatefiles.moc"

// Host actions of key functions: which web addresses open, how command lines
// split, how folders open, and which record a notification runs.
#include "shortcut/hostactions.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

namespace {
// Records every call instead of touching the desktop.
class Recorder : public HostActions
{
public:
    QStringList calls;
    bool openUrl(const QString &url) override { return record("url " + url); }
    bool startProgram(const QString &program, const QStringList &arguments) override
    {
        return record("run " + QStringList(QStringList{program} + arguments).join('|'));
    }
    bool openFolder(const QString &folder) override { return record("folder " + folder); }

private:
    bool record(const QString &call) { return calls << call, true; }
};

bool makeFile(const QString &path, QFile::Permissions permissions)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.setPermissions(permissions);
}

void row(const char *name, const QString &text, const QString &call = QString())
{
    QTest::newRow(name) << text << call;
}
} // namespace

class TestHostActions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void webAddresses_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("call");
        row("http", "http://example.com/a b", "url http://example.com/a%20b");
        row("https", " https://www.example.org ", "url https://www.example.org");
        row("ftp", "ftp://ftp.example.net/x", "url ftp://ftp.example.net/x");
        row("mailto", "mailto:me@example.com", "url mailto:me@example.com");
        row("file", "file:///etc/passwd");
        row("file host", "file://localhost/etc/passwd");
        row("js host", "javascript://example.com/%0Aalert(1)");
        row("path", "/usr/bin/xterm");
        row("desktop", "evil.desktop");
        row("javascript", "javascript:alert(1)");
        row("empty", "");
        row("no host", "http://");
    }
    void webAddresses()
    {
        QFETCH(QString, text);
        QFETCH(QString, call);
        if (call.isEmpty())
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("^Refused to open web address"));
        Recorder host;
        const HostOutcome outcome = executeHostRecord({1, kHostWeb, 0, text}, &host);
        QCOMPARE(outcome, call.isEmpty() ? HostOutcome::Refused : HostOutcome::Started);
        QCOMPARE(host.calls, call.isEmpty() ? QStringList() : QStringList{call});
    }

    void commandLines()
    {
        QTemporaryDir dir;
        const QString blanks = dir.filePath("my tool");
        const QString semicolon = dir.filePath("a;b");
        QVERIFY(makeFile(blanks, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(makeFile(semicolon, QFile::ReadOwner | QFile::WriteOwner));
        const auto run = [](const QString &text) {
            Recorder host;
            executeHostRecord({1, kHostDocApp, 0, text}, &host);
            return host.calls.join('\n');
        };
        QCOMPARE(run(blanks), "run " + blanks);
        QCOMPARE(run(" " + semicolon + " "), "run " + semicolon);
        QCOMPARE(run("\"" + blanks + "\" --x \"two words\""), "run " + blanks + "|--x|two words");
        QCOMPARE(run("gedit a;rm b"), QString("run gedit|a;rm|b"));
        QCOMPARE(run("echo $(rm -rf ~) `id` | sh"), QString("run echo|$(rm|-rf|~)|`id`|||sh"));
        QCOMPARE(run("-rf /"), QString());
        QCOMPARE(run("\"-e\" x"), QString());
        QCOMPARE(run("   "), QString());
    }

    void folders()
    {
        QTemporaryDir withNautilus;
        QTemporaryDir without;
        const QString fake = withNautilus.filePath("nautilus");
        QVERIFY(makeFile(fake, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        QVERIFY(makeFile(without.filePath("nautilus"), QFile::ReadOwner | QFile::WriteOwner));
        const QString folder = "/home/user/My Music; rm -rf ~";

        Recorder host;
        QVERIFY(launchFolder(host, folder, {withNautilus.path()}));
        QCOMPARE(host.calls, QStringList{"run " + fake + "|" + folder});

        host.calls.clear();
        QVERIFY(launchFolder(host, "/home/user/a #b", {without.path()}));
        QCOMPARE(host.calls, QStringList{"url file:///home/user/a%20%23b"});

        host.calls.clear();
        QVERIFY(!launchFolder(host, "--help", {withNautilus.path()}));
        QVERIFY(!launchFolder(host, "", {withNautilus.path()}));
        QCOMPARE(host.calls, QStringList());

        QCOMPARE(executeHostRecord({1, kHostFolder, 0, folder}, &host), HostOutcome::Started);
        QCOMPARE(executeHostRecord({1, kHostFolder, 0, "-q"}, &host), HostOutcome::Refused);
        QCOMPARE(host.calls, QStringList{"folder " + folder});
    }

    void notifications()
    {
        const QVector<HostRecord> records = {
            {3, kHostWeb, 5, "https://other.example"},
            {2, kHostWeb, 6, "https://first.example"},
            {2, kHostDocApp, 6, "second"},
            {4, 9, 7, ""},
            {5, 4, 1, "https://led.example"},
        };
        Recorder host;
        QTest::ignoreMessage(QtDebugMsg, "id=2-2 hi=6-6");
        QCOMPARE(runNotifiedFunction(records, 2, 6, &host), HostOutcome::Started);
        QCOMPARE(host.calls, QStringList{"url https://first.example"});
        QCOMPARE(runNotifiedFunction(records, 9, 6, &host), HostOutcome::NoMatch);
        QCOMPARE(runNotifiedFunction(records, 2, 5, &host), HostOutcome::NoMatch);
        QCOMPARE(runNotifiedFunction(records, 4, 7, &host), HostOutcome::NoAction);
        QCOMPARE(runNotifiedFunction(records, 5, 1, &host), HostOutcome::NoAction);
        QCOMPARE(host.calls.size(), 1);
    }

    void installedInstance()
    {
        const HostRecord web{1, kHostWeb, 1, "https://example.com"};
        HostActions::setInstance(nullptr);
        QCOMPARE(executeHostRecord(web), HostOutcome::Failed);
        Recorder host;
        HostActions::setInstance(&host);
        QCOMPARE(runNotifiedFunction({web}, 1, 1), HostOutcome::Started);
        HostActions::setInstance(nullptr);
        QCOMPARE(host.calls, QStringList{"url https://example.com"});
    }
};

QTEST_GUILESS_MAIN(TestHostActions)
#include "tst_hostactions.moc"

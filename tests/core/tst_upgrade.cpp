// The installer "Upgrade", run as the program runs it: new files put in place,
// the program started again, bad arguments and escaping paths refused.
#include "testsupport.h"

#include <QtTest>

using TestSupport::readFile;
using TestSupport::readLines;

namespace {

// A program directory (a blank in its path) with an old program, a script noting
// its start in D/marker.txt, and data; the new files; a canary beside D.
struct Install
{
    QTemporaryDir tmp{QDir::tempPath() + QStringLiteral("/lumory upgrade XXXXXX")};
    QString root = tmp.path(), dir = root + "/Program Dir", marker = dir + "/marker.txt", errors;
    QString newDir = dir + "/UpgradeLumory/Linux/Lumory/Lumory", outside = root + "/outside";
    QStringList args{"upgrade", "3", dir + "/", "Lumory", newDir + "/", dir + "/", "1"};

    Install()
    {
        put(dir + "/Lumory", "echo \"old $*\" >> marker.txt", true);
        put(newDir + "/Lumory", "echo new >> marker.txt", true);
        put(dir + "/config/a.ini", "old a");
        put(dir + "/config/keep.ini", "keep");
        put(newDir + "/config/a.ini", "new a");
        put(newDir + "/images/sub/c.png", "new c");
        put(outside + "/canary.txt", "canary");
        // Links leading out of the new files: neither is followed.
        QFile::link(outside + "/canary.txt", newDir + "/config/escape.ini");
        QFile::link(outside, newDir + "/linked");
    }
    // A data file, or a shell script with `data` as its body.
    static void put(const QString &path, const QString &data, bool script = false)
    {
        QDir().mkpath(QFileInfo(path).path());
        TestSupport::writeFile(path, (script ? "#!/bin/sh\n" + data + "\n" : data).toUtf8());
        if (script)
            QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
    }
    int run()
    {
        QProcess upgrade;
        upgrade.start(QStringLiteral(LUMORY_BUILD_DIR "/Upgrade/Upgrade"), args);
        const bool ended = upgrade.waitForFinished(60000) && upgrade.exitStatus() == 0;
        errors = QString::fromUtf8(upgrade.readAllStandardError());
        return ended ? upgrade.exitCode() : -1;
    }
    bool outsideUntouched() const
    {
        const QDir::Filters all = QDir::AllEntries | QDir::NoDotAndDotDot;
        return QDir(root).entryList(all, QDir::Name) == QStringList({"Program Dir", "outside"}) &&
               QDir(outside).entryList(all) == QStringList{"canary.txt"} &&
               readFile(outside + "/canary.txt") == "canary";
    }
};

} // namespace

class TestUpgrade : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The running program, if any: a binary, or a script noting the data it sees at exit.
    void newFilesReplaceOldOnesAndProgramRestarts_data()
    {
        QTest::addColumn<QString>("running");
        QTest::newRow("not running") << "";
        QTest::newRow("binary running") << "binary";
        QTest::newRow("script running") << "script";
    }
    void newFilesReplaceOldOnesAndProgramRestarts()
    {
        QFETCH(QString, running);
        Install install;
        install.args[1] = "4"; // one file more than there are: logged, not fatal
        const QString exe = install.dir + "/Lumory";
        if (running == "binary")
            QVERIFY(QFile::remove(exe) &&
                    QFile::copy(QStandardPaths::findExecutable("sleep"), exe));
        else if (running == "script")
            install.put(exe, "sleep 1; echo \"saw $(cat config/a.ini)\" >> marker.txt", true);
        QProcess program;
        program.setWorkingDirectory(install.dir);
        if (!running.isEmpty()) {
            program.start(exe, {running == "binary" ? "1" : ""});
            QVERIFY(program.waitForStarted());
        }
        QCOMPARE(install.run(), 0);
        QVERIFY(program.state() == QProcess::NotRunning || program.waitForFinished(0));
        QTRY_COMPARE(readLines(install.marker).join(','),
                     running == "script" ? "saw old a,new" : "new");
        QCOMPARE(readFile(install.dir + "/Lumory"), readFile(install.newDir + "/Lumory"));
        QVERIFY(QFileInfo(install.dir + "/Lumory").isExecutable());
        QCOMPARE(readFile(install.dir + "/config/a.ini"), "new a");
        QCOMPARE(readFile(install.dir + "/images/sub/c.png"), "new c");
        const QDir::Filters all = QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot;
        QCOMPARE(QDir(install.dir + "/config").entryList(all), QStringList({"a.ini", "keep.ini"}));
        QVERIFY(!QFileInfo::exists(install.dir + "/linked")); // no link, no temporary left
        QVERIFY(install.outsideUntouched());
        QVERIFY(readFile(install.dir + "/Upgrade/upgrade.log").contains("new files, expected 4"));
    }

    void refusedWithoutWritingAndProgramBack_data()
    {
        QTest::addColumn<int>("index");     // argument replaced; 7: a linked directory in D
        QTest::addColumn<QString>("value"); // "" drops it, "ROOT" the directory above D
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("restarted");
        // clang-format off
        QTest::newRow("six arguments") << 6 << "" << "Expected 7 arguments, got 6" << true;
        QTest::newRow("not upgrade") << 0 << "install" << "is not \"upgrade\"" << false;
        QTest::newRow("count") << 1 << "-1" << "Invalid file count: -1" << true;
        QTest::newRow("program dir") << 2 << "/nonexistent/" << "not found" << false;
        QTest::newRow("program name") << 3 << "../Lumory" << "Invalid program file name" << false;
        QTest::newRow("no new files") << 4 << "/nonexistent/" << "not found" << true;
        QTest::newRow("new files hold D") << 4 << "ROOT" << "contains the program directory" << true;
        QTest::newRow("restart elsewhere") << 5 << "/" << "not the program directory" << true;
        QTest::newRow("language") << 6 << "x" << "Invalid language number" << true;
        QTest::newRow("link out of D, Chinese") << 7 << "" << "拒绝写入程序目录之外" << true;
        // clang-format on
    }
    void refusedWithoutWritingAndProgramBack()
    {
        QFETCH(int, index);
        QFETCH(QString, value);
        QFETCH(QString, message);
        QFETCH(bool, restarted);
        Install install;
        if (index == 7) { // in Chinese; every new file lies below the link
            install.args[6] = "0";
            QDir(install.newDir).removeRecursively();
            install.put(install.newDir + "/images/sub/c.png", "new c");
            QFile::link(install.outside, install.dir + "/images");
        } else if (value.isEmpty()) {
            install.args.removeAt(index);
        } else {
            install.args[index] = value == "ROOT" ? install.root : value;
        }
        QCOMPARE(install.run(), 1);
        QVERIFY2(install.errors.contains(message), qPrintable(install.errors));
        QCOMPARE(readFile(install.dir + "/config/a.ini"), "old a");
        QVERIFY(install.outsideUntouched());
        if (restarted)
            QTRY_VERIFY(readFile(install.marker).startsWith("old"));
    }
};

QTEST_GUILESS_MAIN(TestUpgrade)
#include "tst_upgrade.moc"

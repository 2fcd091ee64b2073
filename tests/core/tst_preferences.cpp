// Preference files: Language.xml, menutree.xml (read, written, kept when
// broken, temporaries of interrupted writes), and the start-at-log-in line
// in ~/.profile.
#include "setting/Language.h"
#include "testsupport.h"
#include "widget/atomicfile.h"
#include "widget/autostart.h"
#include "widget/fileproblems.h"
#include "widget/menutreedata.h"

#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QSignalSpy>
#include <QTemporaryFile>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using TestSupport::readFile;
using TestSupport::writeFile;

namespace {
const QByteArray kLine = "/usr/local/Lumory/Lumory /background &";

// The line a reported problem names for `path`, or -1.
int reportedLine(const QString &path)
{
    FileProblems::Problem problem;
    return FileProblems::find(path, &problem) ? problem.line : -1;
}
} // namespace

class TestPreferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { FileProblems::instance().clear(); }

    void languageFileWrittenReadAndBrokenOneKept()
    {
        TestSupport::ScratchAppDir dir(false);
        const QString path = dir.configFile(QStringLiteral("Language.xml"));
        QCOMPARE(Language().getLangType(), 1); // missing: created empty, English
        QVERIFY(QFileInfo::exists(path));
        const auto yes = [] { return QCoreApplication::translate("QPlatformTheme", "&Yes"); };
        {
            Language language;
            QSignalSpy spy(&language, &Language::LanguageChange);
            language.setLanguage(0);
            QVERIFY(spy.count() == 1 && spy.at(0).at(0).toInt() == 0);
            // Qt's own button texts follow, where Qt's translations are installed.
            const bool installed =
                QFile::exists(QLibraryInfo::location(QLibraryInfo::TranslationsPath) +
                              QStringLiteral("/qtbase_zh_CN.qm"));
            QVERIFY2((yes() != QLatin1String("&Yes")) == installed, qPrintable(yes()));
            language.setLanguage(1);
            QCOMPARE(yes(), QStringLiteral("&Yes"));
            language.setLanguage(0);
        }
        QCOMPARE(yes(), QStringLiteral("&Yes")); // gone with the object
        QCOMPARE(readFile(path), "<?xml version = \"1.0\" encoding = \"UTF-8\"?>\n<COMMAND>\n"
                                 "    <Language Language=\"0\"/>\n</COMMAND>\n");
        QCOMPARE(Language().getLangType(), 0);
        QVERIFY(FileProblems::instance().problems().isEmpty());

        // A broken file: the default, the file named with its line and left as
        // it is; the next change keeps it beside the new one.
        const QByteArray broken = "<COMMAND>\n<Language Lang";
        for (const QString &kept : {path + ".broken", path + ".broken.2"}) {
            FileProblems::instance().clear();
            QVERIFY(writeFile(path, broken));
            Language language;
            QCOMPARE(language.getLangType(), 1);
            QCOMPARE(reportedLine(path), 2);
            QCOMPARE(readFile(path), broken);
            language.setLanguage(0);
            QCOMPARE(readFile(kept), broken);
            QCOMPARE(Language().getLangType(), 0);
        }
    }

    void menuTreeFileWrittenReadAndBrokenOneKept()
    {
        TestSupport::ScratchAppDir dir(false);
        const QString path = dir.path() + QStringLiteral("/menutree.xml");
        MenuTreeData data;
        data.autoStart = true;
        data.webDownload = QStringLiteral("https://example.invalid/dl");
        data.webHelp = QStringLiteral("https://example.invalid/help");
        data.layoutWin = true;
        QCOMPARE(data.write(path), 0);
        QCOMPARE(readFile(path),
                 "<?xml version = '1.0' encoding = 'UTF-8'?>\n<COMMAND>\n"
                 "    <setting auto_start=\"1\"/>\n"
                 "    <layout_version MacOS=\"0\" Windows=\"1\" Automatic=\"0\"/>\n"
                 "    <webDownload web=\"https://example.invalid/dl\"/>\n"
                 "    <webHelp web=\"https://example.invalid/help\"/>\n</COMMAND>\n");
        MenuTreeData back;
        QVERIFY(back.read(path) && back.autoStart && back.layoutWin);
        QVERIFY(!back.layoutMac && !back.layoutAuto);
        QVERIFY(back.webDownload == data.webDownload && back.webHelp == data.webHelp);

        // Unknown elements are skipped; numbers other than 0 mean true.
        QVERIFY(writeFile(path, "<COMMAND><other x='1'/><layout_version MacOS='7' Windows='0'/>"
                                "<setting auto_start='0'/></COMMAND>"));
        QVERIFY(back.read(path) && back.layoutMac && !back.autoStart);

        // Missing: the defaults, nothing to say. Broken: the defaults, the file
        // named and kept until the next save moves it aside.
        QTest::ignoreMessage(QtWarningMsg, "Parse menutree XML error, DomDocument is NULL.");
        QVERIFY(!back.read(dir.path() + QStringLiteral("/missing.xml")));
        QVERIFY(FileProblems::instance().problems().isEmpty());
        const QByteArray broken = "<COMMAND>\n<setting auto_start='1'>\n</COMMAND>";
        QVERIFY(writeFile(path, broken));
        QTest::ignoreMessage(QtWarningMsg, "Parse menutree XML error, DomDocument is NULL.");
        QVERIFY(!back.read(path));
        QVERIFY(!back.autoStart && !back.layoutMac && back.webHelp.isEmpty());
        QCOMPARE(reportedLine(path), 3);
        QCOMPARE(readFile(path), broken);
        QCOMPARE(data.write(path), 0);
        QCOMPARE(readFile(path + QStringLiteral(".broken")), broken);
        QVERIFY(back.read(path) && back.autoStart);

        // A file that cannot be written reports -2 and changes nothing.
        QTest::ignoreMessage(QtWarningMsg, "menu tree save；return -2");
        QCOMPARE(data.write(dir.path() + QStringLiteral("/no/such/dir/menutree.xml")), -2);
    }

    void staleTemporariesOfInterruptedWritesGo()
    {
        TestSupport::ScratchAppDir dir(false);
        const QString config = dir.path() + QStringLiteral("/config/");
        QDir().mkpath(config);
        // A temporary named as a save of menutree.xml names it, or a given file.
        QStringList names;
        auto make = [&](const QString &name, int ageSeconds) {
            QTemporaryFile temporary(config + QStringLiteral("menutree.xml"));
            temporary.setAutoRemove(false);
            QFile file(name.isEmpty() && temporary.open() ? temporary.fileName() : config + name);
            QVERIFY(file.open(QIODevice::WriteOnly) &&
                    file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                                     QFileDevice::FileModificationTime));
            names << QFileInfo(file).fileName();
        };
        make(QString(), 120);                             // goes
        make(QStringLiteral("Language.xml.QwErTy"), 120); // goes
        make(QString(), 5);                               // may still be written
        for (const char *other :
             {"menutree.xml", "menutree.xml.broken", "menutree.xml.Ab1dEf", "other.xml.AbCdEf",
              "Language.xml.AbCdEfG", "Language.xml.OpenEd"})
            make(QLatin1String(other), 120);
        QFile open(config + names.last());
        QVERIFY(open.open(QIODevice::ReadOnly)); // an old one still open

        QCOMPARE(AtomicFile::removeStaleTemporaries(
                     config, {QStringLiteral("menutree.xml"), QStringLiteral("Language.xml")}),
                 2);
        QStringList left = QDir(config).entryList(QDir::Files);
        names = names.mid(2);
        left.sort();
        names.sort();
        QCOMPARE(left, names);
    }

    void profileLineKeepsOtherLinesPermissionsAndLinks()
    {
        // Earlier program lines go, lines that only mention the program stay.
        const QByteArray other = "a=1\necho Lumory /background & done\nLumory  /background &";
        QCOMPARE(AutoStart::rewrite(kLine + "\n" + other, false), other + "\n");
        QCOMPARE(AutoStart::rewrite(other + "\n" + kLine + "\n", true),
                 other + "\n" + kLine + "\n");

        // Through a link, keeping the permissions; twice on gives one line; a
        // profile with nothing to change is not rewritten.
        TestSupport::ScopedHome home;
        const QString real = home.path() + QStringLiteral("/dotfiles-profile");
        QVERIFY(writeFile(real, "x=1") && QFile::link(real, home.profile()));
        QFile::setPermissions(real, QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(AutoStart::apply(true) && AutoStart::apply(true));
        QVERIFY(QFileInfo(home.profile()).isSymLink());
        const QByteArray on = "x=1\n" + kLine + "\n";
        QCOMPARE(readFile(real), on);
        struct stat before, after;
        QVERIFY(::stat(QFile::encodeName(real).constData(), &before) == 0);
        QVERIFY((before.st_mode & 0777) == 0600 && AutoStart::apply(true));
        QVERIFY(::stat(QFile::encodeName(real).constData(), &after) == 0);
        QCOMPARE(after.st_ino, before.st_ino);

        // A profile that cannot be rewritten is left as it is (for root too,
        // when nothing can be created beside it); none is made for nothing.
        if (::geteuid() != 0) {
            QFile::setPermissions(real, QFile::ReadOwner);
            QVERIFY(!AutoStart::apply(false));
            QCOMPARE(readFile(real), on);
        }
        const QString proc = home.path() + QStringLiteral("/.profile2");
        QVERIFY(QFile::link(QStringLiteral("/proc/version"), proc));
        const QByteArray version = readFile(QStringLiteral("/proc/version"));
        QVERIFY(!AutoStart::apply(true, proc));
        QCOMPARE(readFile(QStringLiteral("/proc/version")), version);
        QVERIFY(QFile::remove(home.profile()) && AutoStart::apply(false));
        QVERIFY(!QFile::exists(home.profile()));
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"

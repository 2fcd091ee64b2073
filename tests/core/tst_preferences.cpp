// Preference files: Language.xml, menutree.xml, and the start-at-log-in line
// in ~/.profile.
#include "setting/Language.h"
#include "testsupport.h"
#include "widget/autostart.h"
#include "widget/menutreedata.h"

#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kLine = "/usr/local/Lumory/Lumory /background &";
} // namespace

class TestPreferences : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void languageFileMissingIsCreatedEmpty()
    {
        TestSupport::ScratchAppDir dir(false);
        Language language;
        QCOMPARE(language.getLangType(), 1);
        QVERIFY(QFileInfo::exists(dir.configFile(QStringLiteral("Language.xml"))));
    }

    void languageFileChoosesChinese()
    {
        TestSupport::ScratchAppDir dir;
        QVERIFY(TestSupport::writeFile(dir.configFile(QStringLiteral("Language.xml")),
                                       "<?xml version = \"1.0\" encoding = \"UTF-8\"?>\n<COMMAND>\n"
                                       "    <Language Language=\"0\"/>\n</COMMAND>\n"));
        Language language;
        QCOMPARE(language.getLangType(), 0);
    }

    void languageBrokenFileKeepsDefault()
    {
        TestSupport::ScratchAppDir dir;
        QVERIFY(TestSupport::writeFile(dir.configFile(QStringLiteral("Language.xml")),
                                       "<COMMAND><Language Lang"));
        Language language;
        QCOMPARE(language.getLangType(), 1);
    }

    void setLanguageWritesAndTells()
    {
        TestSupport::ScratchAppDir dir;
        Language language;
        QSignalSpy spy(&language, &Language::LanguageChange);
        language.setLanguage(0);
        QCOMPARE(spy.count(), 1);
        QCOMPARE(spy.at(0).at(0).toInt(), 0);
        const QByteArray written =
            TestSupport::readFile(dir.configFile(QStringLiteral("Language.xml")));
        QVERIFY(written.startsWith("<?xml version = \"1.0\" encoding = \"UTF-8\"?>"));
        QVERIFY(written.contains("<COMMAND>"));
        QVERIFY(written.contains("<Language Language=\"0\"/>"));
        Language again;
        QCOMPARE(again.getLangType(), 0);
        language.UpdateLangua();
        QCOMPARE(spy.count(), 2);
    }

    void menuTreeFileRoundTripAndFormat()
    {
        TestSupport::ScratchAppDir dir(false);
        const QString path = dir.path() + QStringLiteral("/menutree.xml");
        MenuTreeData data;
        data.autoStart = true;
        data.webDownload = QStringLiteral("https://example.invalid/dl");
        data.webHelp = QStringLiteral("https://example.invalid/help");
        data.layoutWin = true;
        QCOMPARE(data.write(path), 0);

        const QByteArray text = TestSupport::readFile(path);
        QVERIFY(text.startsWith("<?xml version = '1.0' encoding = 'UTF-8'?>"));
        const int setting = text.indexOf("<setting auto_start=\"1\"/>");
        const int layout =
            text.indexOf("<layout_version MacOS=\"0\" Windows=\"1\" Automatic=\"0\"/>");
        const int download = text.indexOf("<webDownload web=\"https://example.invalid/dl\"/>");
        const int help = text.indexOf("<webHelp web=\"https://example.invalid/help\"/>");
        QVERIFY(setting > 0 && setting < layout && layout < download && download < help);

        MenuTreeData back;
        QVERIFY(back.read(path));
        QVERIFY(back.autoStart);
        QVERIFY(!back.layoutMac && back.layoutWin && !back.layoutAuto);
        QCOMPARE(back.webDownload, data.webDownload);
        QCOMPARE(back.webHelp, data.webHelp);
    }

    void menuTreeFileMissingOrBroken()
    {
        TestSupport::ScratchAppDir dir(false);
        MenuTreeData data;
        data.autoStart = true;
        QTest::ignoreMessage(QtWarningMsg, "Parse menutree XML error, DomDocument is NULL.");
        QVERIFY(!data.read(dir.path() + QStringLiteral("/missing.xml")));
        QVERIFY(!data.autoStart && !data.layoutMac && data.webHelp.isEmpty());

        // Unknown elements are skipped; numbers other than 0 mean true.
        const QString path = dir.path() + QStringLiteral("/menutree.xml");
        QVERIFY(TestSupport::writeFile(
            path, "<COMMAND><other x='1'/><layout_version MacOS='7' Windows='0'/>"
                  "<setting auto_start='0'/></COMMAND>"));
        QVERIFY(data.read(path));
        QVERIFY(data.layoutMac);
        QVERIFY(!data.autoStart);

        // A file that cannot be written reports -2 and changes nothing.
        QTest::ignoreMessage(QtWarningMsg, "menu tree save；return -2");
        QCOMPARE(data.write(dir.path() + QStringLiteral("/no/such/dir/menutree.xml")), -2);
    }

    void profileRewriteKeepsOtherLines()
    {
        const QByteArray before = "# ~/.profile\nexport PATH=$HOME/bin:$PATH\n" + kLine +
                                  "\numask 022\nfoo Lumory /background &\n";
        const QByteArray on = AutoStart::rewrite(before, true);
        QCOMPARE(on, QByteArray("# ~/.profile\nexport PATH=$HOME/bin:$PATH\numask 022\n") + kLine +
                         "\n");
        QCOMPARE(AutoStart::rewrite(on, true), on);
        QCOMPARE(AutoStart::rewrite(on, false),
                 QByteArray("# ~/.profile\nexport PATH=$HOME/bin:$PATH\numask 022\n"));
        // Lines that only mention the program are kept.
        const QByteArray similar = "echo Lumory /background & done\nLumory  /background &\n";
        QCOMPARE(AutoStart::rewrite(similar, false), similar);
    }

    void profileEnableTwiceThenDisable()
    {
        TestSupport::ScopedHome home;
        QVERIFY(TestSupport::writeFile(home.profile(), "a=1\nb=2\n"));
        QFile::setPermissions(home.profile(), QFile::ReadOwner | QFile::WriteOwner);
        QVERIFY(AutoStart::apply(true));
        QVERIFY(AutoStart::apply(true));
        QCOMPARE(TestSupport::readFile(home.profile()), QByteArray("a=1\nb=2\n") + kLine + "\n");
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(home.profile()).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QVERIFY(AutoStart::apply(false));
        QCOMPARE(TestSupport::readFile(home.profile()), QByteArray("a=1\nb=2\n"));
    }

    void profileUntouchedWhenNothingChanges()
    {
        TestSupport::ScopedHome home;
        QVERIFY(TestSupport::writeFile(home.profile(), "no newline at end"));
        const QDateTime old = QDateTime::currentDateTime().addSecs(-3600);
        QFile f(home.profile());
        QVERIFY(f.open(QIODevice::ReadWrite));
        QVERIFY(f.setFileTime(old, QFileDevice::FileModificationTime));
        f.close();
        const ino_t inode = [&] {
            struct stat st;
            ::stat(QFile::encodeName(home.profile()).constData(), &st);
            return st.st_ino;
        }();

        QVERIFY(AutoStart::apply(false));
        QCOMPARE(TestSupport::readFile(home.profile()), QByteArray("no newline at end"));
        QCOMPARE(QFileInfo(home.profile()).lastModified(), old);
        struct stat st;
        ::stat(QFile::encodeName(home.profile()).constData(), &st);
        QCOMPARE(st.st_ino, inode);

        // No profile and nothing to remove: none is created.
        QVERIFY(QFile::remove(home.profile()));
        QVERIFY(AutoStart::apply(false));
        QVERIFY(!QFile::exists(home.profile()));
        QVERIFY(AutoStart::apply(true));
        QCOMPARE(TestSupport::readFile(home.profile()), kLine + "\n");
    }

    void profileSymlinkIsFollowed()
    {
        TestSupport::ScopedHome home;
        const QString real = home.path() + QStringLiteral("/dotfiles-profile");
        QVERIFY(TestSupport::writeFile(real, "x=1\n"));
        QVERIFY(QFile::link(real, home.profile()));
        QVERIFY(AutoStart::apply(true));
        QVERIFY(QFileInfo(home.profile()).isSymLink());
        QCOMPARE(TestSupport::readFile(real), QByteArray("x=1\n") + kLine + "\n");
    }

    void profileThatCannotBeWrittenIsKept()
    {
        TestSupport::ScopedHome home;
        if (::geteuid() != 0) {
            QVERIFY(TestSupport::writeFile(home.profile(), "keep=me\n"));
            QFile::setPermissions(home.profile(), QFile::ReadOwner);
            QVERIFY(!AutoStart::apply(true));
            QCOMPARE(TestSupport::readFile(home.profile()), QByteArray("keep=me\n"));
        }
        // A profile that lives where nothing can be created beside it (also
        // holds for root): the original content stays.
        QVERIFY(QFile::link(QStringLiteral("/proc/version"),
                            home.path() + QStringLiteral("/.profile2")));
        const QByteArray before = TestSupport::readFile(QStringLiteral("/proc/version"));
        QVERIFY(!AutoStart::apply(true, home.path() + QStringLiteral("/.profile2")));
        QCOMPARE(TestSupport::readFile(QStringLiteral("/proc/version")), before);
    }
};

QTEST_GUILESS_MAIN(TestPreferences)
#include "tst_preferences.moc"

// Where the program writes: beside the executable while that folder is
// writable, in the user's XDG directories when it is not (an installed copy);
// the user's copy of a preference takes precedence over the shipped one.
#include "Update/autoupdatefile.h"
#include "color/customcolors.h"
#include "main/apppaths.h"
#include "main/loghandler.h"
#include "setting/Language.h"
#include "setting/firmwareplan.h"
#include "testsupport.h"
#include "widget/data.h"
#include "widget/menutreedata.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

using TestSupport::readFile;
using TestSupport::writeFile;

namespace {
const QByteArray kShippedLanguage = "<COMMAND><Language Language=\"0\"/></COMMAND>\n";
const QByteArray kShippedMenu = "<COMMAND><webHelp web=\"shipped\"/></COMMAND>\n";
const QByteArray kShippedAuto = "<COMMAND><Update><AutoUpdate Auto=\"1\"/></Update></COMMAND>\n";
} // namespace

class TestAppPaths : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_home;
    QString xdg(const char *name) const { return m_home.path() + QLatin1Char('/') + name; }
    static void rows()
    {
        QTest::addColumn<bool>("writable");
        QTest::newRow("build tree") << true;
        QTest::newRow("installed copy") << false;
    }

private Q_SLOTS:
    void init()
    {
        qputenv("XDG_CONFIG_HOME", xdg("config").toLocal8Bit());
        qputenv("XDG_DATA_HOME", xdg("data").toLocal8Bit());
        qputenv("XDG_STATE_HOME", xdg("state").toLocal8Bit());
    }
    void cleanup() { AppPaths::forceAppDirWritable(-1); }

    void preferencesLandWhereTheUserMayWrite_data() { rows(); }
    void preferencesLandWhereTheUserMayWrite()
    {
        QFETCH(bool, writable);
        TestSupport::ScratchAppDir app(false);
        const QString shipped = AppPaths::configDir();
        QVERIFY(QDir().mkpath(shipped) && writeFile(shipped + "Language.xml", kShippedLanguage) &&
                writeFile(shipped + "menutree.xml", kShippedMenu) &&
                writeFile(shipped + "AutoUpdate.xml", kShippedAuto));
        AppPaths::forceAppDirWritable(writable);
        const QString user = writable ? shipped : xdg("config") + "/Lumory/";
        QCOMPARE(AppPaths::writableConfigDir(), user);

        // First start: the shipped preferences are read.
        bool autoOn = false;
        QVERIFY(AutoUpdateFile::read(AutoUpdateFile::defaultPath(), &autoOn) && autoOn);
        MenuTreeData menu;
        QVERIFY(menu.read(shipped + "menutree.xml"));
        QCOMPARE(menu.webHelp, QStringLiteral("shipped"));
        Language language;
        QCOMPARE(language.getLangType(), 0);
        // Every change is written to the user's location.
        language.setLanguage(1);
        menu.webHelp = QStringLiteral("mine");
        QCOMPARE(menu.write(shipped + "menutree.xml"), 0);
        QVERIFY(AutoUpdateFile::write(AutoUpdateFile::defaultPath(), 0, nullptr));
        QVERIFY(FirmwareTemp::write(FirmwareTemp::defaultPath(), {"/a.bin", "/fw"}, nullptr));
        QVERIFY(CustomColors::writeJson(shipped + "customcolor/color_btn_32.json",
                                        QVector<QRgb>(CustomColors::kCount, 0xff112233u)));
        for (const char *name : {"Language.xml", "menutree.xml", "AutoUpdate.xml", "temp/temp.xml",
                                 "customcolor/color_btn_32.json"})
            QVERIFY2(QFileInfo::exists(user + name), name);
        if (!writable) {
            QCOMPARE(readFile(shipped + "Language.xml") + readFile(shipped + "menutree.xml") +
                         readFile(shipped + "AutoUpdate.xml"),
                     kShippedLanguage + kShippedMenu + kShippedAuto);
            QCOMPARE(QDir(shipped).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 3);
        }
        // The user's copies are read back in preference to the shipped ones.
        QCOMPARE(Language().getLangType(), 1);
        QVERIFY(menu.read(shipped + "menutree.xml"));
        QCOMPARE(menu.webHelp, QStringLiteral("mine"));
        QVERIFY(AutoUpdateFile::read(AutoUpdateFile::defaultPath(), &autoOn) && !autoOn);
        FirmwareTemp::Paths paths;
        QVERIFY(FirmwareTemp::read(FirmwareTemp::defaultPath(), &paths));
        QCOMPARE(paths.filePath, QStringLiteral("/a.bin"));
        QVector<QRgb> colors;
        QVERIFY(CustomColors::analyJson(shipped + "customcolor/color_btn_32.json", &colors));
        QCOMPARE(colors.first(), 0xff112233u);
        QCOMPARE(AppPaths::configFile("menutree.xml"), user + "menutree.xml");

        // Without a user copy the shipped one is read again.
        if (!writable) {
            QVERIFY(QFile::remove(user + "menutree.xml"));
            QCOMPARE(AppPaths::configFile("menutree.xml"), shipped + "menutree.xml");
            QVERIFY(menu.read(shipped + "menutree.xml"));
            QCOMPARE(menu.webHelp, QStringLiteral("shipped"));
        }
    }

    void logsAndKeyboardFoldersFollowTheAppDir_data() { rows(); }
    void logsAndKeyboardFoldersFollowTheAppDir()
    {
        QFETCH(bool, writable);
        TestSupport::ScratchAppDir app(false);
        AppPaths::forceAppDirWritable(writable);
        const QString data = writable ? app.path() : xdg("data") + "/Lumory";
        const QString logs = writable ? app.path() + "/log" : xdg("state") + "/Lumory/log";
        QCOMPARE(AppPaths::dataDir(), data);
        QCOMPARE(AppPaths::downloadDir(), data);
        QCOMPARE(AppPaths::logDir(), logs);

        const QByteArray id = QByteArray::fromHex("0102030405060708090a0b0c");
        const QString folder = DeviceFiles::createCurDeviceFile(AppPaths::dataDir(), id);
        QCOMPARE(folder, data + "/0102030405060708090a0b0c/");
        QVERIFY(QFileInfo::exists(folder + "shortcuts.xml"));
        LogHandlerPrivate{}; // opens today's file, closes it again
        const QString today = LogHandler::now().date().toString("yyyy-MM-dd") + ".txt";
        QVERIFY(QFileInfo::exists(logs + '/' + today));
        if (!writable)
            QCOMPARE(QDir(app.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size(), 0);
    }

    void readOnlyIsDetectedAndForcible()
    {
        TestSupport::ScratchAppDir app(false);
        QVERIFY(AppPaths::isAppDirWritable());
        qputenv("LUMORY_FORCE_READONLY_APPDIR", "1");
        AppPaths::setAppDir(app.path() + "/"); // a new folder is checked anew
        const bool forced = AppPaths::isAppDirWritable();
        qunsetenv("LUMORY_FORCE_READONLY_APPDIR");
        QVERIFY(!forced);
        // Relative XDG values are ignored: the defaults below $HOME apply.
        qputenv("XDG_CONFIG_HOME", "relative/dir");
        QCOMPARE(AppPaths::writableConfigDir(), QDir::homePath() + "/.config/Lumory/");
    }
};

QTEST_GUILESS_MAIN(TestAppPaths)
#include "tst_apppaths.moc"

// What the window says about data files it cannot use, and what it leaves
// of them.
#include "main/keylayout.h"
#include "sessionfixture.h"
#include "widget/fileproblems.h"
#include "widget/menutree.h"
#include "widget/noticebar.h"

#include <QAction>
#include <QLabel>
#include <QLayout>
#include <QTemporaryFile>
#include <QtTest>

using TestSupport::readFile;
using TestSupport::writeFile;

class TestFileNotices : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { FileProblems::instance().clear(); }

    void unreadableCatalogueAndPreferencesAreSaidAndKept()
    {
        TestSupport::SessionFixture f;
        f.bus.plug(sim::Personality::DualMode);
        const QString config = f.appDir.configFile(QStringLiteral("config.xml"));
        const QString menu = f.appDir.configFile(QStringLiteral("menutree.xml"));
        const QByteArray badConfig = "<catalogue>\n<tools_info><usb vid='1209' pid='0001'>\n"
                                     "</catalogue>\n";
        const QByteArray badMenu = "<COMMAND>\n<setting auto_start='1'\n</COMMAND>\n";
        QVERIFY(writeFile(config, badConfig) && writeFile(menu, badMenu));
        // A temporary file of a write killed a while ago goes at start.
        QTemporaryFile stale(f.appDir.configFile(QStringLiteral("Language.xml")));
        stale.setAutoRemove(false);
        QVERIFY(stale.open() && QFile::exists(stale.fileName())); // named now
        QVERIFY(stale.setFileTime(QDateTime::currentDateTime().addSecs(-300),
                                  QFileDevice::FileModificationTime));
        stale.close();

        Lumory *w = f.start();
        auto *bar = w->findChild<NoticeBar *>();
        auto *disconnected = w->findChild<QLabel *>(QStringLiteral("disconnectedText"));
        QVERIFY(bar && disconnected && !bar->isHidden());
        QLayout *column = bar->parentWidget()->layout(); // right under the page tabs
        QCOMPARE(column->indexOf(bar), column->indexOf(w->findChild<QWidget *>("tabBar")) + 1);
        const QStringList lines = bar->text().split('\n');
        QCOMPARE(lines.size(), 2);
        QVERIFY2(lines.at(0).startsWith("Problem in config.xml (" + config + ":3:") &&
                     lines.at(1).startsWith("Problem in menutree.xml (" + menu + ":3:"),
                 qPrintable(bar->text()));
        QVERIFY(disconnected->text().startsWith("config.xml could not be read (" + config + ":3:"));
        QVERIFY(!QFile::exists(stale.fileName()));

        w->menuTree()->chineseAction()->trigger();
        QVERIFY(bar->text().startsWith("config.xml 有问题（" + config + ":3:"));
        QVERIFY(disconnected->text().startsWith("无法读取 config.xml（" + config + ":3:"));
        QVERIFY(!f.waitLoaded(500)); // no keyboard is recognised
        // The files stay as they were; a changed preference keeps the old one.
        QCOMPARE(readFile(config), badConfig);
        QCOMPARE(readFile(menu), badMenu);
        w->menuTree()->winAction()->trigger();
        QCOMPARE(readFile(menu + QStringLiteral(".broken")), badMenu);
        QVERIFY(readFile(menu).contains("Windows=\"1\""));
    }

    void boardWithOutOfRangeGeometryOrBrokenLayoutIsSaid()
    {
        TestSupport::SessionFixture f;
        const QString config = f.appDir.configFile(QStringLiteral("config.xml"));
        const QByteArray xml = readFile(config);
        QVERIFY(writeFile(config, QByteArray(xml).replace("w=\"46\"", "w=\"2000000000\"")));
        const QString t88 = f.appDir.configFile(QStringLiteral("layout/T88.json"));
        QVERIFY(writeFile(t88, "[[\"Esc\", \"F1\"\n  \"F2\"]]"));

        // Drawn without overflowing: the unit width is ignored (the board
        // is left empty) and the notice says where.
        sim::SimKeyboard *k108 = f.bus.plug(sim::Personality::DualMode);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        QCOMPARE(w->keyLayout()->dynamicKeys().size(), 108);
        QCOMPARE(w->keyLayout()->boardFrame()->width(), 0);
        auto *bar = w->findChild<NoticeBar *>();
        QVERIFY(bar->text().contains(config + ":19:") && bar->text().contains("w=\"2000000000\""));

        // A layout file that is not JSON: no keys, and the notice names it.
        f.bus.unplug(k108);
        QVERIFY(f.waitClosed());
        f.bus.plug(sim::Personality::UsbOnly);
        QVERIFY(f.waitLoaded());
        QVERIFY(w->keyLayout()->dynamicKeys().isEmpty());
        QVERIFY2(bar->text().contains("Problem in T88.json (" + t88 + ":2:"),
                 qPrintable(bar->text()));
    }
};

QTEST_MAIN(TestFileNotices)
#include "tst_filenotices.moc"

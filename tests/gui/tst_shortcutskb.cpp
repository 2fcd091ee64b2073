// The virtual keyboard window: button texts and icons per key-function type,
// rows of four from the bottom, the entry position a click reports, and where
// the window appears.
#include "shortcut/shortcutskb.h"

#include <QFile>
#include <QFileIconProvider>
#include <QPointer>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

using Entry = ShortcutsKB::Entry;

namespace {
enum IconKind
{
    Network,
    GenericFile,
    Folder,
    OwnIcon, // the icon of the program file itself
    NoIcon,
};

QImage iconImage(const QIcon &icon)
{
    return icon.pixmap(16, 16).toImage();
}

QVector<Entry> folders(int count)
{
    return QVector<Entry>(count, Entry{3, QStringLiteral("/tmp"), QString()});
}
} // namespace

class TestShortcutsKB : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

    QString inDir(QString text) const { return text.replace(QLatin1String("%1"), m_dir.path()); }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        QFile tool(m_dir.filePath(QStringLiteral("tool")));
        QVERIFY(tool.open(QIODevice::WriteOnly));
        tool.write("#!/bin/sh\n");
        tool.close();
        tool.setPermissions(tool.permissions() | QFile::ExeOwner);
        QFile notes(m_dir.filePath(QStringLiteral("notes.txt")));
        QVERIFY(notes.open(QIODevice::WriteOnly));
        notes.close();
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("tool")),
                            m_dir.filePath(QStringLiteral("tool-link"))));
        QVERIFY(QFile::link(m_dir.filePath(QStringLiteral("missing")),
                            m_dir.filePath(QStringLiteral("gone-link"))));
        QVERIFY(QDir(m_dir.path()).mkdir(QStringLiteral("bin-dir")));
    }

    void autoFeed_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("fed");
        QTest::newRow("empty") << QString() << QString();
        QTest::newRow("12, one line") << "abcdefghijkl"
                                      << "abcdefghijkl";
        QTest::newRow("13, no break at the end") << "abcdefghijklm"
                                                 << "abcdefghijkl\nm";
        QTest::newRow("26, break counted in") << "abcdefghijklmnopqrstuvwxyz"
                                              << "abcdefghijkl\nmnopqrstuvwx\nyz";
        QTest::newRow("40") << "0123456789abcdefghijklmnopqrstuvwxyzABCD"
                            << "0123456789ab\ncdefghijklmn\nopqrstuvwxyz\nABCD";
    }
    void autoFeed()
    {
        QFETCH(QString, text);
        QFETCH(QString, fed);
        QCOMPARE(ShortcutsKB::AutoFeed(text), fed);
    }

    void buttonLook_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("text"); // %1: the scratch directory
        QTest::addColumn<QString>("label");
        QTest::addColumn<int>("icon");

        QTest::newRow("web, name and suffix") << 1 << "https://www.example.com"
                                              << "example.com" << int(Network);
        QTest::newRow("web, long name wrapped") << 1 << "http://www.averyverylongname.org/x"
                                                << "averyverylon\ngname.org/x" << int(Network);
        QTest::newRow("web, one dot") << 1 << "example.com"
                                      << "example.com" << int(Network);
        QTest::newRow("web, no dot") << 1 << "localhost"
                                     << "localhost" << int(Network);
        QTest::newRow("document") << 2 << "%1/notes.txt"
                                  << "notes.txt" << int(GenericFile);
        QTest::newRow("program with arguments") << 2 << "%1/tool --quiet -v"
                                                << "tool" << int(OwnIcon);
        QTest::newRow("symbolic link") << 2 << "%1/tool-link"
                                       << "tool-link" << int(OwnIcon);
        QTest::newRow("dangling link") << 2 << "%1/gone-link"
                                       << "gone-link" << int(OwnIcon);
        QTest::newRow("missing program") << 2 << "%1/missing"
                                         << "Config Error" << int(NoIcon);
        QTest::newRow("directory") << 2 << "%1/bin-dir"
                                   << "Config Error" << int(NoIcon);
        QTest::newRow("empty command") << 2 << "  "
                                       << "Config Error" << int(NoIcon);
        QTest::newRow("folder") << 3 << "%1"
                                << "Folder" << int(Folder);
    }
    void buttonLook()
    {
        QFETCH(int, type);
        QFETCH(QString, text);
        QFETCH(QString, label);
        QFETCH(int, icon);
        const QFileIconProvider provider;
        QIcon expected;
        switch (icon) {
        case Network:
            expected = provider.icon(QFileIconProvider::Network);
            break;
        case GenericFile:
            expected = provider.icon(QFileIconProvider::File);
            break;
        case Folder:
            expected = provider.icon(QFileIconProvider::Folder);
            break;
        case OwnIcon:
            expected = provider.icon(QFileInfo(inDir(text).section(QLatin1Char(' '), 0, 0)));
            break;
        default:
            break;
        }

        ShortcutsKB window;
        window.setEntries({{type, inDir(text), QStringLiteral("tip")}});
        QCOMPARE(window.getButtonNum(), 1);
        CPushButton *button = window.buttons().at(0);
        QCOMPARE(button->text(), label);
        QCOMPARE(button->toolTip(), QStringLiteral("tip"));
        QCOMPARE(iconImage(button->icon()), iconImage(expected));
        QCOMPARE(button->size(), QSize(100, 40));
    }

    void folderTextFollowsLanguage()
    {
        ShortcutsKB window;
        window.setEntries({{3, QStringLiteral("/tmp"), QString()},
                           {1, QStringLiteral("https://www.example.com"), QString()}});
        window.setLanguage(0);
        QCOMPARE(window.buttons().at(0)->text(), QStringLiteral("文件目录"));
        QCOMPARE(window.buttons().at(1)->text(), QStringLiteral("example.com"));
        window.setEntries(folders(1));
        QCOMPARE(window.buttons().at(0)->text(), QStringLiteral("文件目录"));
        window.setLanguage(1);
        QCOMPARE(window.buttons().at(0)->text(), QStringLiteral("Folder"));
    }

    // Rows of four from the bottom up, inside a window that fits them.
    void rowsFromTheBottom()
    {
        ShortcutsKB window;
        QTest::ignoreMessage(QtDebugMsg, "SIList 5");
        window.setEntries(folders(5));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QList<CPushButton *> buttons = window.buttons();
        QCOMPARE(buttons.size(), 5);
        for (int i = 1; i < 4; ++i) {
            QCOMPARE(buttons.at(i)->y(), buttons.at(0)->y());
            QVERIFY(buttons.at(i)->x() > buttons.at(i - 1)->x());
        }
        QCOMPARE(buttons.at(4)->x(), buttons.at(0)->x());
        QVERIFY(buttons.at(4)->y() + buttons.at(4)->height() <= buttons.at(0)->y());
        for (CPushButton *button : buttons) {
            const QRect inWindow(button->mapTo(&window, QPoint()), button->size());
            QVERIFY(window.rect().contains(inWindow));
        }
        QCOMPARE(window.minimumSize(), window.maximumSize());
    }

    // Only web sites, documents and folders get a button; a click names the
    // entry's position in the list given, and a rebuild from inside that
    // click is safe and replaces every button.
    void clicksNameTheEntry()
    {
        ShortcutsKB window;
        const QVector<Entry> entries = {
            {0, QStringLiteral("x"), QString()},
            {1, QStringLiteral("a.b.c"), QString()},
            {4, QStringLiteral("1"), QString()},
            {3, QStringLiteral("/tmp"), QString()},
            {9, QString(), QString()},
            {2, QStringLiteral("x.txt"), QString()},
            {-1, QStringLiteral("/tmp"), QString()},
        };
        window.setEntries(entries);
        QCOMPARE(window.getButtonNum(), 3);
        QSignalSpy executed(&window, &ShortcutsKB::emitExecute);
        for (CPushButton *button : window.buttons())
            button->click();
        QCOMPARE(executed.size(), 3);
        QCOMPARE(executed.at(0).at(0).toInt(), 1);
        QCOMPARE(executed.at(1).at(0).toInt(), 3);
        QCOMPARE(executed.at(2).at(0).toInt(), 5);

        const QSize before = window.size();
        QPointer<CPushButton> old = window.buttons().at(0);
        connect(&window, &ShortcutsKB::emitExecute, &window,
                [&window] { window.setEntries(folders(1)); });
        old->click();
        QCOMPARE(window.getButtonNum(), 1);
        QVERIFY(!window.buttons().contains(old.data()));
        QTRY_VERIFY(old.isNull());
        QCOMPARE(window.size().height(), before.height());
        QVERIFY(window.size().width() < before.width());
    }

    void showKeepsTheWindowOnScreen_data()
    {
        QTest::addColumn<int>("count");
        QTest::newRow("one row") << 1;
        QTest::newRow("eight rows") << 32;
    }
    void showKeepsTheWindowOnScreen()
    {
        QFETCH(int, count);
        ShortcutsKB window;
        window.setEntries(folders(count));
        window.Show();
        QVERIFY(window.isVisible());
        const QRect area = window.screen()->availableGeometry();
        const QRect frame = window.frameGeometry();
        QVERIFY2(area.contains(frame), qPrintable(QStringLiteral("%1,%2 %3x%4")
                                                      .arg(frame.x())
                                                      .arg(frame.y())
                                                      .arg(frame.width())
                                                      .arg(frame.height())));
        QCOMPARE(frame.bottom(), area.bottom());
        QVERIFY(qAbs(frame.center().x() - area.center().x()) <= 1);
    }
};

QTEST_MAIN(TestShortcutsKB)
#include "tst_shortcutskb.moc"

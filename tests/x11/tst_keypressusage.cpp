// Keys pressed on the X display name the palette key with the same usage:
// the key events a window gets carry the X keycode the mapping reads.
#include "testsupport.h"

#include "main/apppaths.h"
#include "widget/data.h"
#include "widget/keysearch.h"
#include "widget/keyusage.h"

#include <QApplication>
#include <QKeyEvent>
#include <QProcess>
#include <QWidget>
#include <QtTest>

#include <cstdio>

namespace {

class KeyWindow : public QWidget
{
public:
    QList<KeyPress> presses;
    int releases = 0;

protected:
    void keyReleaseEvent(QKeyEvent *event) override { releases += event->isAutoRepeat() ? 0 : 1; }
    void keyPressEvent(QKeyEvent *event) override
    {
        presses.append({event->nativeScanCode(), event->key(), event->modifiers()});
    }
};

} // namespace

class TestKeyPressUsage : public QObject
{
    Q_OBJECT

    QVector<KeyDesc> m_palette;

private Q_SLOTS:
    void initTestCase()
    {
        AppPaths::setAppDir(TestSupport::sourceDataDir());
        QVector<KeyDesc> mac;
        Data data;
        QVERIFY(KeySearch::loadPalette(&data, &m_palette, &mac));
    }
    void cleanupTestCase() { AppPaths::setAppDir(QString()); }

    void pressedKeys_data()
    {
        QTest::addColumn<QString>("keysym");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("alias");
        auto row = [](const char *keysym, KeyPressMatch::Kind kind, const char *alias) {
            QTest::newRow(keysym) << keysym << int(kind) << alias;
        };
        row("a", KeyPressMatch::Key, "A");
        row("F5", KeyPressMatch::Key, "F5");
        row("Escape", KeyPressMatch::Key, "Esc");
        row("KP_Enter", KeyPressMatch::Key, "KpEnter");
        row("XF86AudioMute", KeyPressMatch::Key, "Mute");
        row("Control_R", KeyPressMatch::Modifier, "RCtrl");
        row("Shift_L", KeyPressMatch::Modifier, "LShift");
        row("Super_R", KeyPressMatch::Modifier, "RWin");
        row("plusminus", KeyPressMatch::NotInPalette, "");
        row("XF86WWW", KeyPressMatch::NotInPalette, "");
    }
    void pressedKeys()
    {
        QFETCH(QString, keysym);
        QFETCH(int, kind);
        QFETCH(QString, alias);
        KeyWindow window;
        window.resize(200, 100);
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keysym}), 0);
        QTRY_VERIFY(window.releases > 0 && window.releases == window.presses.size());
        // xdotool presses the modifier a keysym needs first (Control_L before
        // Control_R): the key asked for is the last one.
        const KeyPressMatch m = KeyPressMatch::match(window.presses.last(), m_palette);
        QCOMPARE(int(m.kind), kind);
        QCOMPARE(m.paletteIndex >= 0 ? m_palette.at(m.paletteIndex).alias : QString(), alias);
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("SKIP: no X display");
        return 77;
    }
    QApplication app(argc, argv);
    TestKeyPressUsage test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_keypressusage.moc"

// "Press a key" on the key page: a key pressed on the X display (xdotool)
// while Lumory has the focus goes to the selected board key; modifiers and
// keys the palette lacks are explained.
#include "device/device.h"
#include "main/devicesession.h"
#include "main/keylayout.h"
#include "sessionfixture.h"

#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QtEndian>
#include <QtTest>

#include <cstdio>

using sim::Personality;

class TestPressKey : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pressedKeyIsAssigned_data()
    {
        QTest::addColumn<QString>("keys"); // xdotool key arguments
        QTest::addColumn<int>("code");     // keyboard usage written; 0: nothing written
        QTest::addColumn<QString>("note"); // part of the note shown
        QTest::newRow("letter") << "a" << 0x04 << "“A” assigned.";
        QTest::newRow("F-key") << "F7" << 0x40 << "“F7” assigned.";
        QTest::newRow("Escape") << "Escape" << 0x29 << "assigned.";
        QTest::newRow("keypad") << "KP_Enter" << 0x58 << "assigned.";
        QTest::newRow("media key") << "XF86AudioMute" << 0xE2 << "“Mute” assigned.";
        QTest::newRow("modifier alone") << "Control_R" << 0xE4 << "(a modifier)";
        QTest::newRow("modifier held") << "ctrl+b" << 0x05 << "left out";
        QTest::newRow("not in the palette") << "XF86WWW" << 0 << "cannot be assigned";
    }
    void pressedKeyIsAssigned()
    {
        QFETCH(QString, keys);
        QFETCH(int, code);
        QFETCH(QString, note);
        TestSupport::SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
        KeyLayout *layout = w->keyLayout();
        const int target = 2;
        const int map = kb->currentKeyMap();
        const QByteArray before = kb->keyCodes(map).mid(target * 4, 4);
        layout->clickKeyBtnSlot(layout->dynamicKeys().at(target));
        layout->pressKeyButton()->click();
        QVERIFY(layout->pressKeyArmed());
        kb->clearReceivedFrames();

        QCOMPARE(QProcess::execute(QStringLiteral("xdotool"),
                                   {QStringLiteral("key"), QStringLiteral("--delay"),
                                    QStringLiteral("30"), keys}),
                 0);
        QTRY_VERIFY(layout->hintLabel()->text().contains(note));
        QTest::qWait(100); // late releases change nothing
        const QList<QByteArray> writes = TestSupport::framesOf(kb, 0x20, 0x11);
        if (code == 0) {
            QVERIFY(writes.isEmpty());
            QCOMPARE(kb->keyCodes(map).mid(target * 4, 4), before);
            QVERIFY(layout->pressKeyArmed()); // waits for another key
        } else {
            QCOMPARE(writes.size(), 1);
            const uint16_t written =
                qFromLittleEndian<uint16_t>(kb->keyCodes(map).constData() + target * 4 + 1);
            QCOMPARE(int(written), code);
            QVERIFY(!layout->pressKeyArmed());
        }
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("SKIP: no X display");
        return 77;
    }
    QApplication app(argc, argv);
    TestPressKey test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_presskey.moc"

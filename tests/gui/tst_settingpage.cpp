// The settings page: product information, Bluetooth name, automatic sleep
// and factory reset, against the simulated keyboard.
#include "device/device.h"
#include "main/devicesession.h"
#include "sessionfixture.h"
#include "setting/setting.h"
#include "widget/buildingblock.h"
#include "widget/keybtn.h"
#include "widget/menutree.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QValidator>
#include <QtTest>

using sim::Personality;
using TestSupport::SessionFixture;

namespace {
// Frames of one command the keyboard received.

uint32_t le32(const QByteArray &frame, int at)
{
    return uint8_t(frame[at]) | uint8_t(frame[at + 1]) << 8 | uint8_t(frame[at + 2]) << 16 |
           uint32_t(uint8_t(frame[at + 3])) << 24;
}
} // namespace

class TestSettingPage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void versionsAndNone()
    {
        QCOMPARE(Setting::versionText(7), QStringLiteral("V0.0.7"));
        QCOMPARE(Setting::versionText(123), QStringLiteral("V1.2.3"));
        QCOMPARE(Setting::versionText(1005), QStringLiteral("V10.0.5"));

        SessionFixture f;
        Lumory *w = f.start();
        Setting *page = w->settingPage();
        QCOMPARE(page->productText(), QStringLiteral("None"));
        QCOMPARE(page->firmwareText(), QStringLiteral("None"));
        QCOMPARE(page->hardwareText(), QStringLiteral("None"));
        QCOMPARE(page->dateText(), QStringLiteral("None"));
        QVERIFY(!page->bluetoothNameButton()->isEnabled());
        QVERIFY(!page->layoutEditorButton()->isVisibleTo(page));
    }

    void sleepTimeOffShowsTheLastTimeGreyed()
    {
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        kb->setSleepTime(0);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        Setting *page = w->settingPage();
        // The keyboard says "off": nothing to show but the slider's floor.
        QVERIFY(!page->sleepCheckBox()->isChecked());
        QVERIFY(!page->sleepSlider()->isEnabled());

        // A page told 0 with a last time of 25 minutes shows 25, greyed.
        page->setSleepTime(0, 25 * 60000);
        QVERIFY(!page->sleepCheckBox()->isChecked());
        QCOMPARE(page->sleepSlider()->value(), 25);
        QVERIFY(!page->sleepSlider()->isEnabled());

        // Checking sends the slider's value at once, unchecking sends 0.
        kb->clearReceivedFrames();
        page->sleepCheckBox()->click();
        QVERIFY(page->sleepSlider()->isEnabled());
        QCOMPARE(kb->sleepTime(), 25u * 60000u);
        page->sleepCheckBox()->click();
        QCOMPARE(kb->sleepTime(), 0u);
        QVERIFY(!page->sleepSlider()->isEnabled());
        const QList<QByteArray> writes = TestSupport::framesOf(kb, 0xB0, 0x21);
        QCOMPARE(writes.size(), 2);
        QCOMPARE(le32(writes.at(0), 8), 25u * 60000u);
        QCOMPARE(le32(writes.at(1), 8), 0u);
        // Each write is confirmed to the user.
        QCOMPARE(f.dialogs.messages.size(), 2);
        QCOMPARE(f.dialogs.messages.last().text, QStringLiteral("  Modification OK.      "));
        QCOMPARE(f.dialogs.messages.last().title, QStringLiteral("Information"));

        // Releasing the slider writes its value in milliseconds.
        page->sleepCheckBox()->click();
        page->sleepSlider()->setValue(90);
        Q_EMIT page->sleepSlider()->sliderReleased();
        QCOMPARE(kb->sleepTime(), 90u * 60000u);
        QCOMPARE(w->deviceSession()->device()->sleepTimeMs(), 90u * 60000u);
    }

    void bluetoothName()
    {
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        Setting *page = w->settingPage();
        QCOMPARE(page->bluetoothNameEdit()->text(), QStringLiteral("Lumory K108"));

        // CJK ideographs are refused by the editor; 12 characters at most.
        page->bluetoothNameEdit()->clear();
        QString cjk = QStringLiteral("键盘");
        int pos = 0;
        QCOMPARE(page->bluetoothNameEdit()->validator()->validate(cjk, pos), QValidator::Invalid);
        QString latin = QStringLiteral("Keys é!");
        QCOMPARE(page->bluetoothNameEdit()->validator()->validate(latin, pos),
                 QValidator::Acceptable);
        QVERIFY(!page->bluetoothNameEdit()->testAttribute(Qt::WA_InputMethodEnabled));

        kb->clearReceivedFrames();
        page->bluetoothNameButton()->click(); // empty: nothing sent
        QVERIFY(TestSupport::framesOf(kb, 0xB0, 0x11).isEmpty());

        QTest::keyClicks(page->bluetoothNameEdit(), QStringLiteral("My Keyboard 2024"));
        QCOMPARE(page->bluetoothNameEdit()->text(), QStringLiteral("My Keyboard "));
        page->bluetoothNameButton()->click();
        const QList<QByteArray> sent = TestSupport::framesOf(kb, 0xB0, 0x11);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().mid(8, 12), QByteArray("My Keyboard "));
        QCOMPARE(kb->bluetoothName(), QByteArray("My Keyboard "));
        QCOMPARE(f.dialogs.messages.last().text, QStringLiteral("  Modification OK.      "));

        // A refusal shows the keyboard's status.
        sim::Fault refuse;
        refuse.kind = sim::FaultKind::ErrorStatus;
        refuse.status = 5;
        refuse.command = 0xB0;
        refuse.subCommand = 0x11;
        kb->injectFault(refuse);
        page->bluetoothNameButton()->click();
        const Dialogs::MessageRequest &box = f.dialogs.messages.last();
        QCOMPARE(box.title, QStringLiteral("ErrorCode"));
        QCOMPARE(box.text, QStringLiteral("Modification Error: 5   "));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Abort));
        QCOMPARE(box.icon, QMessageBox::Critical);
    }

    void factoryReset()
    {
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        kb->setSleepTime(5 * 60000);

        // Cancel: nothing is sent.
        f.dialogs.answers.enqueue(1);
        kb->clearReceivedFrames();
        w->settingPage()->factoryResetButton()->click();
        const Dialogs::MessageRequest &question = f.dialogs.messages.last();
        QCOMPARE(question.title, QStringLiteral("Warning"));
        QCOMPARE(question.text, QStringLiteral(" Are you sure to restore factory Settings? "));
        QCOMPARE(question.customButtons, (QStringList{"Ok", "Cancel"}));
        QVERIFY(TestSupport::framesOf(kb, 0x10, 0x60).isEmpty());

        // Ok: the keyboard resets and the program reads it again.
        f.dialogs.answers.enqueue(0);
        w->settingPage()->factoryResetButton()->click();
        QCOMPARE(TestSupport::framesOf(kb, 0x10, 0x60).size(), 1);
        QVERIFY(kb->sleepTime() != 5u * 60000u);
        QVERIFY(f.waitClosed(5000) || true);
        QVERIFY(f.waitLoaded());
        QCOMPARE(w->deviceSession()->device()->sleepTimeMs(), kb->sleepTime());
        QVERIFY(f.logMessages().contains(QStringLiteral("FactoryResetSlot ")));
    }

    void layoutEditorChecksALayout()
    {
        SessionFixture f;
        f.bus.plug(Personality::DualMode);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        w->settingPage()->layoutEditorButton()->click();
        QCOMPARE(f.dialogs.execDialogs, QStringList{QStringLiteral("buildingBlock")});

        BuildingBlock editor(108, 6, 22, 1);
        QVERIFY(editor.loadLayout(f.appDir.configFile(QStringLiteral("layout/K108.json"))));
        QCOMPARE(editor.keys().size(), 108);
        QVERIFY(editor.statusText().contains(QStringLiteral("matches this keyboard")));
        QCOMPARE(editor.keys().first()->getName(), QStringLiteral("A0"));
        BuildingBlock other(88, 0, 0, 1);
        QVERIFY(other.loadLayout(f.appDir.configFile(QStringLiteral("layout/K108.json"))));
        QVERIFY(other.statusText().contains(QStringLiteral("this keyboard has 88 keys!")));
        QVERIFY(!other.loadLayout(f.appDir.configFile(QStringLiteral("layout/none.json"))));
        QCOMPARE(other.keys().size(), 108); // the previous layout stays
        // Opening goes through the file dialog seam.
        f.dialogs.fileAnswers.enqueue(f.appDir.configFile(QStringLiteral("layout/C68.json")));
        other.openButton()->click();
        QCOMPARE(other.keys().size(), 68);
    }

    void chineseTexts()
    {
        SessionFixture f;
        Lumory *w = f.start();
        w->menuTree()->chineseAction()->trigger();
        Setting *page = w->settingPage();
        QCOMPARE(page->bluetoothNameButton()->text(), QStringLiteral("设置蓝牙名称"));
        QCOMPARE(page->factoryResetButton()->text(), QStringLiteral("恢复出厂设置"));
        page->setInformationEnabled(true);
        f.dialogs.answers.enqueue(1);
        page->factoryResetButton()->click();
        QCOMPARE(f.dialogs.messages.last().title, QStringLiteral("警告"));
        QCOMPARE(f.dialogs.messages.last().text, QStringLiteral(" 确定恢复出厂设置？ "));
        QCOMPARE(f.dialogs.messages.last().customButtons, (QStringList{"确定", "取消"}));
    }
};

QTEST_MAIN(TestSettingPage)
#include "tst_settingpage.moc"

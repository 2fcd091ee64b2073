// The settings page against the simulated keyboard: product information,
// automatic sleep, Bluetooth name, factory reset, the layout editor, and
// readable boxes.
#include "main/devicesession.h"
#include "sessionfixture.h"
#include "setting/setting.h"
#include "widget/buildingblock.h"
#include "widget/keybtn.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QValidator>
#include <QtEndian>
#include <QtTest>

#include <cmath>
#include <memory>

using sim::Personality;
using TestSupport::SessionFixture;

namespace {
// The sleep times the keyboard was sent, in minutes.
QList<uint32_t> sleepWrites(sim::SimKeyboard *kb)
{
    QList<uint32_t> minutes;
    for (const QByteArray &f : TestSupport::framesOf(kb, 0xB0, 0x21))
        minutes << qFromLittleEndian<quint32>(f.constData() + 8) / 60000;
    return minutes;
}

void mouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButtons held = Qt::LeftButton)
{
    QMouseEvent event(type, at, w->mapToGlobal(at), Qt::LeftButton, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

void rightKey(QWidget *w, QEvent::Type type, bool autoRepeat)
{
    QKeyEvent event(type, Qt::Key_Right, Qt::NoModifier, QString(), autoRepeat);
    QApplication::sendEvent(w, &event);
}

double contrast(const QColor &a, const QColor &b) // WCAG 2
{
    auto lum = [](const QColor &c) {
        auto lin = [](double v) {
            return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
    };
    return (std::max(lum(a), lum(b)) + 0.05) / (std::min(lum(a), lum(b)) + 0.05);
}
} // namespace

class TestSettingPage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pageFollowsTheKeyboard()
    {
        QCOMPARE(Setting::versionText(7), QStringLiteral("V0.0.7"));
        const QStringList raw = {"2024031510300000", "2024/3/5", "2024.12.31 23:59", " 2024-3-15 "};
        const QStringList shown = {"2024-03-15", "2024-03-05", "2024-12-31", "2024-03-15"};
        for (int i = 0; i < raw.size(); ++i)
            QCOMPARE(releaseDateText(raw.at(i)), shown.at(i));
        for (const char *same : {"2024131500000000", "0000000000000000", "2024-03/15"})
            QCOMPARE(releaseDateText(QLatin1String(same)), QLatin1String(same)); // as received
        QCOMPARE(releaseDateText(QString("20240315") + QChar(0)), QStringLiteral("2024-03-15"));

        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        kb->setSleepTime(0);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        w->show();
        w->labelPageClickSlot(QStringLiteral("Setting"));
        QVERIFY(QTest::qWaitForWindowExposed(w));
        Setting *page = w->settingPage();
        WheelSafeSlider *slider = page->sleepSlider();
        QLabel *value = page->sleepValueLabel();
        QCOMPARE(page->dateText(), QStringLiteral("2024-03-15"));
        page->layoutEditorButton()->click();
        QCOMPARE(f.dialogs.execDialogs, QStringList{QStringLiteral("buildingBlock")});

        // Sleep off with a last time of 25 minutes: 25 shown greyed, nothing sent.
        kb->clearReceivedFrames();
        page->setSleepTime(0, 25 * 60000);
        QVERIFY(!page->sleepCheckBox()->isChecked() && slider->value() == 25);
        QVERIFY(!slider->isEnabled() && !value->isEnabled());
        // Checking sends the slider's value, unchecking 0; each is confirmed.
        page->sleepCheckBox()->click();
        QVERIFY(slider->isEnabled() && value->isEnabled());
        page->sleepCheckBox()->click();
        QVERIFY(!value->isEnabled());
        page->sleepCheckBox()->click();
        QCOMPARE(f.dialogs.messages.last().text, QStringLiteral("  Modification OK.      "));
        // Key steps are sent once the keys rest, a repeating key when it is let go.
        for (Qt::Key key : {Qt::Key_Right, Qt::Key_PageUp, Qt::Key_End, Qt::Key_Home})
            QTest::keyClick(slider, key);
        QCOMPARE(sleepWrites(kb), (QList<uint32_t>{25, 0, 25}));
        QTRY_COMPARE(sleepWrites(kb), (QList<uint32_t>{25, 0, 25, 1}));
        rightKey(slider, QEvent::KeyPress, false);
        for (int i = 0; i < 3; ++i) {
            rightKey(slider, QEvent::KeyRelease, true);
            rightKey(slider, QEvent::KeyPress, true);
        }
        QCOMPARE(sleepWrites(kb).size(), 4);
        rightKey(slider, QEvent::KeyRelease, false);
        QCOMPARE(sleepWrites(kb).mid(4), QList<uint32_t>{5});
        QTest::qWait(600);
        QCOMPARE(sleepWrites(kb).size(), 5);

        // A drag is sent once, on release; so is a click held on the groove
        // (it repeats page steps); the page's own moves never.
        kb->clearReceivedFrames();
        QPoint at = slider->handleRect().center();
        mouse(slider, QEvent::MouseButtonPress, at);
        for (int i = 0; i < 10; ++i)
            mouse(slider, QEvent::MouseMove, at += QPoint(20, 0));
        QVERIFY(slider->value() > 20 && sleepWrites(kb).isEmpty());
        mouse(slider, QEvent::MouseButtonRelease, at, Qt::NoButton);
        const uint32_t dragged = slider->value();
        QCOMPARE(sleepWrites(kb), QList<uint32_t>{dragged});
        const QPoint groove(slider->width() - 5, slider->height() / 2);
        mouse(slider, QEvent::MouseButtonPress, groove);
        QTest::qWait(900);
        QVERIFY(uint32_t(slider->value()) > dragged + 10 && sleepWrites(kb).size() == 1);
        mouse(slider, QEvent::MouseButtonRelease, groove, Qt::NoButton);
        QCOMPARE(sleepWrites(kb), (QList<uint32_t>{dragged, uint32_t(slider->value())}));

        // The keyboard goes: "None", greyed, no layout editor.
        QVERIFY(page->layoutEditorButton()->isVisibleTo(page));
        f.bus.unplug(kb);
        QVERIFY(f.waitClosed());
        QCOMPARE((QStringList{page->productText(), page->firmwareText(), page->hardwareText(),
                              page->dateText()}),
                 (QStringList{"None", "None", "None", "None"}));
        QVERIFY(!page->bluetoothNameButton()->isEnabled());
        QVERIFY(!slider->isEnabled() && !value->isEnabled());
        QVERIFY(!page->layoutEditorButton()->isVisibleTo(page));
        QVERIFY(!page->layoutEditorButton()->isEnabled());
    }

    void bluetoothNameAndFactoryReset()
    {
        SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(Personality::DualMode);
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        QLineEdit *edit = w->settingPage()->bluetoothNameEdit();
        QPushButton *button = w->settingPage()->bluetoothNameButton();
        QCOMPARE(edit->text(), QStringLiteral("Lumory K108"));
        // No CJK ideographs, 12 characters at most; empty sends nothing.
        QString cjk = QStringLiteral("键盘");
        int pos = 0;
        QCOMPARE(edit->validator()->validate(cjk, pos), QValidator::Invalid);
        edit->clear();
        kb->clearReceivedFrames();
        button->click();
        QTest::keyClicks(edit, QStringLiteral("My Keyboard 2024"));
        button->click();
        const QList<QByteArray> sent = TestSupport::framesOf(kb, 0xB0, 0x11);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent.first().mid(8, 12), QByteArray("My Keyboard "));
        // A refusal shows the keyboard's status.
        kb->injectFault({sim::FaultKind::ErrorStatus, -1, 1, 0, 5, 0xB0, 0x11});
        button->click();
        const Dialogs::MessageRequest &box = f.dialogs.messages.last();
        QVERIFY(box.title == QStringLiteral("ErrorCode") && box.icon == QMessageBox::Critical);
        QCOMPARE(box.text, QStringLiteral("Modification Error: 5   "));
        QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Abort));

        // Factory reset. Cancel: nothing is sent.
        f.dialogs.answers.enqueue(1);
        kb->clearReceivedFrames();
        w->settingPage()->factoryResetButton()->click();
        const Dialogs::MessageRequest &question = f.dialogs.messages.last();
        QVERIFY(question.title == QStringLiteral("Warning") &&
                question.customButtons == QStringList({"Ok", "Cancel"}));
        QCOMPARE(question.text, QStringLiteral(" Are you sure to restore factory Settings? "));
        QVERIFY(TestSupport::framesOf(kb, 0x10, 0x60).isEmpty());
        // Ok: the keyboard resets and the program reads it again.
        f.dialogs.answers.enqueue(0);
        w->settingPage()->factoryResetButton()->click();
        QCOMPARE(TestSupport::framesOf(kb, 0x10, 0x60).size(), 1);
        QVERIFY(f.waitLoaded());

        // Unplugged while the question is open, then Ok: nothing is asked.
        QPointer<Setting> page = w->settingPage();
        QSignalSpy reset(page.data(), &Setting::emitFactoryReset);
        f.dialogs.answers.enqueue(0);
        f.dialogs.interruptNext([&] { f.bus.unplug(kb); },
                                [&] { return !w->deviceSession()->usb(); });
        page->factoryResetButton()->click();
        QCOMPARE(reset.count(), 0);
        QCOMPARE(f.logMessages().count(QStringLiteral("FactoryResetSlot ")), 1);
        // Exit while it is open: no crash, nothing sent, the page goes after the box.
        kb = f.bus.plug(Personality::DualMode);
        QVERIFY(f.waitLoaded());
        page = w->settingPage();
        f.dialogs.answers.enqueue(0);
        f.dialogs.interruptNext([&] { w->exitAppActionSlot(); },
                                [&] { return !w->deviceSession(); });
        page->factoryResetButton()->click();
        QVERIFY(!w->deviceSession());
        QVERIFY(TestSupport::framesOf(kb, 0x10, 0x60).isEmpty());
        QTRY_VERIFY(page.isNull());
    }

    void layoutEditorIsOpaqueAndChecksALayout()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::DialogRecorder dialogs;
        QWidget translucent; // as the main window is
        translucent.setAttribute(Qt::WA_TranslucentBackground);
        BuildingBlock editor(88, 6, 22, 1, &translucent);
        QVERIFY(editor.loadLayout(dir.configFile(QStringLiteral("layout/K108.json"))));
        QCOMPARE(editor.keys().size(), 108);
        QCOMPARE(editor.keys().first()->getName(), QStringLiteral("A0"));
        QVERIFY(editor.statusText().contains(QStringLiteral("this keyboard has 88 keys!")));
        // Dark and opaque: inside the border, the canvas beside A0, the space
        // above the buttons.
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        const QImage image = editor.grab().toImage();
        const QPoint canvas = editor.keys().first()->parentWidget()->mapTo(&editor, QPoint(60, 20));
        for (const QPoint &p : {QPoint(4, 4), canvas, QPoint(10, image.height() - 60)}) {
            const QColor c = image.pixelColor(p);
            QVERIFY2(c.alpha() == 255 && c.lightness() < 60, qPrintable(c.name(QColor::HexArgb)));
        }
        dialogs.fileAnswers.enqueue(dir.configFile(QStringLiteral("layout/C68.json")));
        editor.openButton()->click(); // through the file dialog seam
        QCOMPARE(editor.keys().size(), 68);
    }

    void messageBoxesAreReadableInBothLanguages()
    {
        TestSupport::DialogRecorder dialogs;
        dialogs.defaultAnswer = 1;
        Setting page(false); // its sheet says "QLabel { color: light grey }"
        page.setInformationEnabled(true);
        page.show();
        page.SetLanguage(0);
        page.factoryResetButton()->click();
        QCOMPARE(dialogs.messages.last().text, QStringLiteral(" 确定恢复出厂设置？ "));
        QCOMPARE(dialogs.messages.last().customButtons, (QStringList{"确定", "取消"}));
        page.SetLanguage(1);
        page.factoryResetButton()->click();
        for (const Dialogs::MessageRequest &request : dialogs.messages) {
            const std::unique_ptr<QMessageBox> box(Dialogs::buildMessageBox(&page, request));
            box->show();
            const QColor background = box->grab().toImage().pixelColor(2, 2);
            QVERIFY2(background.lightness() < 60, qPrintable(background.name()));
            const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            QVERIFY(contrast(label->palette().color(QPalette::WindowText), background) >= 4.5);
            for (QAbstractButton *button : box->findChildren<QAbstractButton *>()) {
                const QPalette p = button->palette();
                QVERIFY(contrast(p.color(QPalette::ButtonText), p.color(QPalette::Button)) >= 4.5);
            }
        }
    }
};

QTEST_MAIN(TestSettingPage)
#include "tst_settingpage.moc"

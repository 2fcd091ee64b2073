// The lighting-mode buttons and the parameter dialog on a simulated keyboard:
// what "Apply" writes, the rules of the controls, presets, and the dialog's
// life with the buttons and the keyboard.

#include "../core/tst_device_fixture.h"
#include "color/mode.h"
#include "color/parameter.h"
#include "device/wirerecords.h"
#include "main/apppaths.h"
#include "testsupport.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QtTest>

namespace {
// A keyboard with its lighting records loaded and the shipped presets.
struct Board : linktest::SimLink
{
    Board()
    {
        AppPaths::setAppDir(TestSupport::sourceDataDir());
        loaded = device()->getLAInfo() == 0 && device()->getAllLA() == 0;
    }
    bool loaded;
    QByteArray model(int n) { return QByteArray((const char *)device()->laRecord(n), 12).toHex(); }
};
// What the controls would write over an empty record.
QByteArray written(const Parameter &p)
{
    la_t r{};
    ModeRules::apply(&r, 0, 0, p.currentSettings());
    return QByteArray(reinterpret_cast<const char *>(&r), sizeof r).toHex();
}
template <typename T = QWidget> T *child(QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}
void typeInto(QLineEdit *edit, const char *text)
{
    edit->selectAll();
    QTest::keyClicks(edit, QLatin1String(text));
    QTest::keyClick(edit, Qt::Key_Return);
}
// Mode 5: every field in use, word 1 bits 20-31 set, an effect beyond the presets.
const QByteArray kBusy = QByteArray::fromHex("05abac1cbc9ecfabffffd204");
} // namespace

class TestParameter : public QObject
{
    Q_OBJECT

private slots:
    void applyWritesBackWhatWasRead()
    {
        Board b;
        b.keyboard->setLightingRecord(5, kBusy);
        QCOMPARE(b.device()->getLAItem(5, b.device()->laRecord(5)), 0u);
        TestSupport::DialogRecorder dialogs;
        linktest::LogCapture log;
        Parameter p(nullptr, b.device(), 5);
        QSignalSpy closed(&p, &Parameter::emitClose);
        p.downloadData();
        const QList<QByteArray> sent = linktest::framesOf(b.frames(), 0x60, 0x22);
        QCOMPARE(sent.size(), 1);
        QCOMPARE(sent[0].mid(8, 12).toHex(), kBusy.toHex());
        QCOMPARE(closed.count(), 1);
        QCOMPARE(log.count(QStringLiteral("------------------DOWNLOAD DATA: LED Mode M5----")), 1);

        // A refused write is shown, the dialog stays and nothing changes.
        child<QSlider>(&p, "highestLevel")->setValue(60);
        b.keyboard->injectFault(linktest::fault(sim::FaultKind::ErrorStatus, 0x60, 0x22, 0x02));
        p.downloadData();
        QCOMPARE(dialogs.messages.size(), 1);
        QCOMPARE(dialogs.messages[0].title, QStringLiteral("ErrorCode"));
        QVERIFY(dialogs.messages[0].text.contains(QStringLiteral("0x2")));
        QCOMPARE(closed.count(), 1);
        QCOMPARE(b.model(5), kBusy.toHex());
    }

    void controlRules()
    {
        Board b;
        QVERIFY(b.loaded);
        Parameter p(nullptr, b.device(), 2); // levels 0..63, cycle flag set
        auto *highest = child<QSlider>(&p, "highestLevel");
        auto *lowest = child<QSlider>(&p, "lowestLevel");
        auto *step = child<QSlider>(&p, "levelStep");
        highest->setValue(20);
        lowest->setValue(20);
        QCOMPARE(QPair(lowest->maximum(), highest->minimum()), QPair(20, 20));
        QCOMPARE(QPair(step->minimum(), step->maximum()), QPair(0, 0));

        // Text that is no number of the range reverts to the last accepted one.
        auto *periods = child<QLineEdit>(&p, "totalPeriodTimes");
        auto *cycle = child<QCheckBox>(&p, "cycleFlag");
        cycle->setChecked(false);
        typeInto(periods, "250");
        typeInto(periods, "0");
        typeInto(periods, "1001");
        QCOMPARE(periods->text(), QStringLiteral("250"));
        auto *highestDelay = child<QLineEdit>(&p, "highestDelay");
        typeInto(highestDelay, "65535");
        highestDelay->setText(QStringLiteral("70000")); // never confirmed

        // The cycle flag disables the period count, which is still written.
        cycle->setChecked(true);
        QVERIFY(!periods->isEnabled());
        p.downloadData();
        const la_t *r = b.device()->laRecord(2);
        QCOMPARE(QList<int>({r->cycleFlag(), r->totalPeriodTimes(), r->highestLevel(),
                             r->lowestLevel(), r->highestDelay()}),
                 QList<int>({1, 250, 20, 20, 65535}));
        QCOMPARE(highestDelay->text(), QStringLiteral("65535"));
    }

    void presetsAreFoundByMode()
    {
        Board b;
        QVERIFY(b.loaded);
        Parameter p(nullptr, b.device(), 0), fromPreset(nullptr, b.device(), 0);
        const QVector<ModePreset> &presets = p.presets();
        // A preset not at the place its mode names, and an entry no preset's mode names.
        int at = 0, missing = 0;
        while (at < presets.size() && presets[at].mode == at)
            ++at;
        while (ModeRules::presetForEffect(presets, missing) >= 0)
            ++missing;
        QVERIFY(at < presets.size());
        p.comboboxChangedMode(presets[at].mode);
        fromPreset.readModeData(at);
        QCOMPARE(written(p), written(fromPreset));
        QCOMPARE(child<QSlider>(&p, "lowestLevel")->value(), presets[at].lowestLevel);
        p.comboboxChangedMode(missing);
        QCOMPARE(written(p), written(fromPreset));
    }

    void modeButtonsAndDialogLife()
    {
        {
            linktest::SimLink bare(sim::Personality::NoLighting); // no lighting records
            Mode mode;
            mode.setDevice(bare.device());
            QVERIFY(!child(&mode, "modeButton_0")->isEnabled());
        }
        Board b;
        QVERIFY(b.loaded);
        TestSupport::DialogRecorder dialogs;
        Mode mode;
        mode.setDevice(b.device());
        QVERIFY(child(&mode, "modeButton_31")->isEnabled());
        QSignalSpy cursor(&mode, &Mode::emitCursorMode), pressed(&mode, &Mode::emitButtonPressed);
        linktest::LogCapture log;
        auto *m3 = child(&mode, "modeButton_3");
        for (int i = 0; i < 4; ++i)
            QTest::mouseClick(m3, Qt::LeftButton);
        QCOMPARE(QList<int>({mode.getSelectMode(), cursor.count(), pressed.count()}),
                 QList<int>({3, 4, 4}));
        QCOMPARE(log.count(QStringLiteral("parameter is not NULL.")), 1);
        QCOMPARE(mode.findChildren<Parameter *>().size(), 1);
        QPointer<Parameter> open = mode.parameter();
        QVERIFY(open && open->isVisible() && open->modeNumber() == 3);

        QTest::mouseClick(child(open, "parameterClose"), Qt::LeftButton);
        QTRY_VERIFY(!open);
        // Two presses further apart than a double press open nothing.
        QTest::mouseClick(m3, Qt::LeftButton);
        QTest::qWait(Mode::kDoublePressMs + 50);
        QTest::mouseClick(m3, Qt::LeftButton);
        QVERIFY(!mode.parameter());
        QTest::mouseClick(m3, Qt::LeftButton);
        QVERIFY((open = mode.parameter()));

        // The keyboard goes away while a refused write's box is open.
        b.keyboard->injectFault(linktest::fault(sim::FaultKind::ErrorStatus, 0x60, 0x22, 0x02));
        dialogs.interruptNext([&] { mode.setDevice(nullptr); }, [&] { return !mode.parameter(); });
        open->downloadData();
        QTRY_VERIFY(!open);
        QVERIFY(!child(&mode, "modeButton_0")->isEnabled());
        QCOMPARE(mode.getSelectMode(), -1);
    }
};

QTEST_MAIN(TestParameter)
#include "tst_parameter.moc"

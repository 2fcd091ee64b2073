// The palette: single and double presses on the custom colour buttons, the
// colour dialog and the saved file, the selected look.
#include "color/customcolors.h"
#include "color/palette.h"
#include "testsupport.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QSignalSpy>
#include <QtTest>

using TestSupport::readFile;

namespace {
QAbstractButton *button(Palette &palette, int index)
{
    return palette.findChild<QAbstractButton *>(QStringLiteral("customColor_") +
                                                QString::number(index));
}

void press(Palette &palette, int index)
{
    QTest::mouseClick(button(palette, index), Qt::LeftButton);
}

bool selected(Palette &palette, int index)
{
    return button(palette, index)->property("selected").toBool();
}

// The first selected button, or -1.
int selection(Palette &palette)
{
    for (int i = 0; i < CustomColors::kCount; ++i) {
        if (selected(palette, i))
            return i;
    }
    return -1;
}
} // namespace

class TestPalette : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void pressesChooseAndDoublePressEdits()
    {
        TestSupport::ScratchAppDir dir;
        TestSupport::DialogRecorder dialogs;
        const QString path = Palette::filePath();
        const QByteArray shipped = readFile(path);
        Palette palette;
        palette.show();
        const QVector<QRgb> colors = palette.customColors();
        QCOMPARE(button(palette, 37)->parentWidget(), button(palette, 0)->parentWidget());
        QTest::ignoreMessage(QtDebugMsg, "get current color is NULL.");
        QVERIFY(!palette.getCurrentColor().isValid());
        QSignalSpy pressed(&palette, &Palette::emitButtonPressed);
        QSignalSpy cursor(&palette, &Palette::emitCursorColor);

        // Single presses, also two on one button further apart than the
        // double-press time.
        press(palette, 3);
        QTest::qWait(Palette::kDoublePressMs + 100);
        press(palette, 3);
        QCOMPARE(palette.getCurrentColor(), QColor(colors.at(3)));
        QVERIFY(pressed.count() == 2 && cursor.count() == 2);
        QCOMPARE(cursor.last().at(0).value<QColor>(), QColor(colors.at(3)));
        QCOMPARE(selection(palette), 3);

        // Quickly on two buttons: the second colour, no dialog.
        QTest::qWait(Palette::kDoublePressMs + 100);
        press(palette, 5);
        press(palette, 6);
        QVERIFY(dialogs.colors.isEmpty());
        QCOMPARE(palette.getCurrentColor(), QColor(colors.at(6)));
        QCOMPARE(selection(palette), 6);
        QVERIFY(!selected(palette, 5));

        // Again on the same one: the dialog, cancelled. Nothing changes.
        press(palette, 6);
        QCOMPARE(dialogs.colors.size(), 1);
        QCOMPARE(dialogs.colors.at(0).title, QStringLiteral("Select Color"));
        QCOMPARE(dialogs.colors.at(0).initial, QColor(colors.at(6)));
        QCOMPARE(palette.customColors(), colors);
        QCOMPARE(palette.getCurrentColor(), QColor(colors.at(6)));
        QCOMPARE(readFile(path), shipped);
        QCOMPARE(pressed.count(), 5);

        // A third press right after the dialog is a first press again; then
        // a double press on 0, accepted: saved, current, and read back.
        const QColor chosen(0x12, 0x34, 0x56, 0x80);
        dialogs.colorAnswers.enqueue(chosen);
        press(palette, 6);
        QCOMPARE(dialogs.colors.size(), 1);
        press(palette, 0);
        press(palette, 0);
        QCOMPARE(dialogs.colors.size(), 2);
        QVector<QRgb> expected = colors;
        expected[0] = chosen.rgba();
        QCOMPARE(palette.customColors(), expected);
        QCOMPARE(palette.getCurrentColor(), chosen);
        QCOMPARE(cursor.last().at(0).value<QColor>(), chosen);
        QCOMPARE(pressed.count(), 8);
        QCOMPARE(selection(palette), 0);
        expected[0] = 0xff123456;
        QCOMPARE(readFile(path), CustomColors::formatJson(expected));
        QCOMPARE(Palette().customColors(), expected);
    }

    void selectionLookAndRelease()
    {
        TestSupport::ScratchAppDir dir;
        Palette palette;
        palette.show();
        QVERIFY(QTest::qWaitForWindowExposed(&palette));
        const QColor accent(0x46, 0xe6, 0xb7);
        // The white (18) and the black (37) swatch: accent outside, and an
        // inner ring that stands out against the swatch.
        for (const int index : {18, 37}) {
            QAbstractButton *swatch = button(palette, index);
            const int middle = swatch->height() / 2;
            QVERIFY(swatch->grab().toImage().pixelColor(1, middle) != accent);
            press(palette, index);
            QTest::qWait(Palette::kDoublePressMs + 50);
            const QImage look = swatch->grab().toImage();
            QCOMPARE(look.pixelColor(1, middle), accent);
            const QColor own = QColor(palette.customColors().at(index));
            const QColor ring = look.pixelColor(7, middle);
            QVERIFY2(qAbs(qGray(ring.rgb()) - qGray(own.rgb())) > 128, qPrintable(ring.name()));
        }
        QCOMPARE(selection(palette), 37);
        palette.releaseButtonSelect();
        QCOMPARE(selection(palette), -1);
        QVERIFY(palette.getCurrentColor().isValid());
        press(palette, 2);
        palette.releaseCurrentColor();
        QCOMPARE(selection(palette), -1);
        QTest::ignoreMessage(QtDebugMsg, "get current color is NULL.");
        QVERIFY(!palette.getCurrentColor().isValid());

        auto *group = palette.findChild<QGroupBox *>();
        QCOMPARE(group->title(), QStringLiteral("LED COLOR"));
        palette.SetLanguage(0);
        QCOMPARE(group->title(), QStringLiteral("灯光颜色"));
    }
};

QTEST_MAIN(TestPalette)
#include "tst_palette.moc"

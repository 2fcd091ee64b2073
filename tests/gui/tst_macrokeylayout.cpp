// The macro timeline's widgets: Keys following the model through the user's
// edits, the warning blink (also when a blinked event goes away), the key
// chooser through the dialog seam, the delay field and the frame counter.
// The rules themselves are the model's and tested there.
//
// Timelines are written "A+100 A-0": key name, + press / - release, delay.
#include "macro/macrokey.h"
#include "macro/macrokeylayout.h"
#include "testsupport.h"
#include "widget/data.h"
#include "widget/keybtn.h"
#include "widget/staticdialog.h"

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QtTest>

namespace {

QtMessageHandler previousHandler = nullptr;
void quiet(QtMsgType type, const QMessageLogContext &context, const QString &text)
{
    // Fixed-size top-level windows make the offscreen platform complain.
    if (type != QtDebugMsg && !text.startsWith(QLatin1String("This plugin does not support")))
        previousHandler(type, context, text);
}

void fill(MacroKeyLayout *layout, const QString &written)
{
    for (const QString &token : written.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const int sign = token.indexOf(QRegularExpression(QStringLiteral("[+-]")));
        const uint16_t code = token.startsWith(QLatin1String("Shift"))
                                  ? 0xE1
                                  : uint16_t(4 + token.at(0).unicode() - 'A');
        layout->createKey(token.at(sign) == QLatin1Char('+'), token.mid(sign + 1).toInt(), code, 1,
                          0);
    }
}

// The timeline as its Keys show it.
QString shown(const MacroKeyLayout &layout)
{
    QStringList out;
    for (const Key *k : layout.keys())
        out << k->faceText() + (k->isDown() ? '+' : '-') + QString::number(k->dataKey().delay);
    return out.join(QLatin1Char(' '));
}

// Why the Keys do not stand for the model's events in order, side by side,
// each with its delay field when it waits, selected as the model says ("").
QString mismatch(const MacroKeyLayout &layout)
{
    const MacroTimeline &m = layout.model();
    if (layout.keys().size() != m.size())
        return QStringLiteral("count");
    int x = MacroKeyLayout::kAxisStart;
    for (int i = 0; i < m.size(); ++i) {
        const Key *k = layout.keyAt(i);
        const DataKey &d = m.at(i).key;
        const bool field = k->delayEdit() && !k->delayEdit()->isHidden();
        if (k->id() != m.at(i).id || k->dataKey().delay != d.delay || k->x() != x ||
            field != (d.delay != 0) || k->isPressed() != (i == m.selectedIndex()) ||
            k->isPartner() != (i == m.selectedPartner()) || k->isHidden() ||
            (field && k->delayEdit()->text().toInt() != d.delay))
            return QStringLiteral("key %1").arg(i);
        x += k->width();
    }
    if (layout.contentWidth() != x - MacroKeyLayout::kAxisStart + MacroKeyLayout::kExtraWidth)
        return QStringLiteral("width");
    return QString();
}

// Presses `key`, moves the pointer `dx` pixels and lets go.
void drag(Key *key, int dx = 0)
{
    const QPoint at(key->width() - 25, 40), to = at + QPoint(dx, 0);
    QMouseEvent press(QEvent::MouseButtonPress, at, key->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QMouseEvent move(QEvent::MouseMove, to, key->mapToGlobal(to), Qt::NoButton, Qt::LeftButton,
                     Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, to, key->mapToGlobal(to), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    for (QMouseEvent *e : {&press, &move, &release})
        QApplication::sendEvent(key, e);
}

void trigger(Key *key, Key::Action action)
{
    drag(key);
    QAbstractButton *b = key->button(action);
    QVERIFY2(b && b->isVisibleTo(key), "button not shown");
    b->click();
}

void typeDelay(Key *key, const QString &text, bool finish)
{
    QLineEdit *edit = key->delayEdit();
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Backspace);
    QTest::keyClicks(edit, text);
    if (finish)
        QTest::keyClick(edit, Qt::Key_Return);
}

QStringList frames(const MacroKeyLayout &layout, std::initializer_list<int> indexes)
{
    QStringList out;
    for (int i : indexes)
        out << layout.keyAt(i)->framePicture();
    return out;
}

} // namespace

class TestMacroKeyLayout : public QObject
{
    Q_OBJECT

    TestSupport::ScratchAppDir m_dir;
    QVector<KeyDesc> m_statics;

    void setUp(MacroKeyLayout *layout, const QString &written)
    {
        layout->setLabelSource(&m_statics);
        layout->setLanguage(1);
        layout->resize(600, layout->height());
        layout->show();
        fill(layout, written);
    }

private Q_SLOTS:
    void initTestCase()
    {
        previousHandler = qInstallMessageHandler(quiet);
        QVERIFY(Data().parseStaticKeyBtn(&m_statics));
    }
    void cleanupTestCase() { qInstallMessageHandler(previousHandler); }

    // One user action on event `at`: a drag by `dx` pixels, or a button;
    // `after` is what the Keys show then.
    void editsFollowTheModel_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<int>("action"); // Key::Action, -1: a drag
        QTest::addColumn<int>("dx");
        QTest::addColumn<int>("at");
        QTest::addColumn<QString>("after");
        const auto row = [](const char *name, const char *before, int action, int dx, int at,
                            const char *after) {
            QTest::newRow(name) << QString(before) << action << dx << at << QString(after);
        };
        const char *abc = "A+10 B+0 C+0 A-5 B-5 C-5";
        row("drag right", abc, -1, Key::kDragStep, 1, "A+10 C+0 B+0 A-5 B-5 C-5");
        row("drag left", "A+10 B+20 C+30 A-5 B-5 C-5", -1, -25, 2, "A+10 B+20 C+0 A-35 B-5 C-5");
        row("short drag", abc, -1, Key::kDragStep - 1, 1, abc);
        row("move back", abc, Key::MovePerv, 0, 2, "A+10 C+0 B+0 A-5 B-5 C-5");
        row("delete pair from its release", "A+10 B+5 B-5 A-5", Key::DeletePair, 0, 2, "A+10 A-5");
        row("add pair", "A+10 A-5", Key::AddPair, 0, 0, "A+10 None+0 None-50 A-5");
        row("add delay", "A+10 B+0 B-5 A-5", Key::AddDelay, 0, 1, "A+10 B+10 B-5 A-5");
        row("delete delay", "A+10 B+5 B-5 A-5", Key::DeleteDelay, 0, 1, "A+10 B+0 B-5 A-5");
    }
    void editsFollowTheModel()
    {
        QFETCH(QString, before);
        QFETCH(int, action);
        QFETCH(int, dx);
        QFETCH(int, at);
        QFETCH(QString, after);
        MacroKeyLayout layout;
        setUp(&layout, before);
        QSignalSpy changed(&layout, &MacroKeyLayout::emitChanged);
        QSignalSpy pressed(&layout, &MacroKeyLayout::keyLayoutPressed);
        Key *key = layout.keyAt(at);
        const quint64 id = key->id();
        if (action < 0)
            drag(key, dx);
        else
            trigger(key, Key::Action(action));
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(shown(layout), after);
        QCOMPARE(mismatch(layout), QString());
        QCOMPARE(changed.count(), after == before ? 0 : 1);
        QVERIFY(pressed.count() >= 1);
        // The moved event stays the pressed one; an added delay opens for typing.
        if (action < 0)
            QVERIFY(layout.keyById(id)->isPressed());
        if (action == Key::AddDelay) {
            QCOMPARE(layout.keyById(id)->delayEdit()->selectedText(), QStringLiteral("10"));
            QCOMPARE(layout.keyById(id)->totalText(), QStringLiteral("20 ms"));
        }
        if (action == Key::AddPair) {
            // The new pair is selected: its press shows the total time, its
            // release the partner's dot.
            QCOMPARE(layout.keyAt(1)->totalText(), QStringLiteral("10 ms"));
            QCOMPARE(layout.keyAt(2)->dotPicture(), QStringLiteral("dot-up.svg"));
            QCOMPARE(layout.keyAt(1)->dotPicture() + layout.keyAt(2)->totalText(), QString());
        }
    }

    void warningBlink()
    {
        MacroKeyLayout layout;
        setUp(&layout, QStringLiteral("A+10 A-50 A+20 A-50 B+5 B-5"));
        QSignalSpy changed(&layout, &MacroKeyLayout::emitChanged);
        // The press right after the release of its key keeps its delay: the
        // pair blinks, then stays marked.
        trigger(layout.keyAt(2), Key::DeleteDelay);
        QCOMPARE(changed.count(), 0);
        for (int tick = 0; tick < MacroKeyLayout::kWarningTicks; ++tick) {
            QVERIFY(layout.warningActive());
            QCOMPARE(frames(layout, {1, 2}),
                     tick % 2 ? QStringList({"up.svg", "down-select.svg"})
                              : QStringList({"up-warning.svg", "down-warning.svg"}));
            layout.warningTimerAcation();
        }
        QVERIFY(!layout.warningActive());
        QCOMPARE(frames(layout, {1, 2}), QStringList({"up-select.svg", "down-select.svg"}));

        // A new warning first restores the last pair.
        typeDelay(layout.keyAt(3), QStringLiteral("0"), true);
        QCOMPARE(frames(layout, {1, 2, 3}),
                 QStringList({"up.svg", "down-warning.svg", "up-warning.svg"}));

        // One of the blinked events goes away mid-blink.
        trigger(layout.keyAt(2), Key::DeleteDelay);
        layout.warningTimerAcation();
        const Key *survivor = layout.keyAt(2);
        trigger(layout.keyAt(0), Key::DeletePair);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QCOMPARE(shown(layout), QStringLiteral("A+20 A-50 B+5 B-5"));
        QCOMPARE(layout.keyAt(0), survivor);
        for (int tick = 2; tick <= MacroKeyLayout::kWarningTicks; ++tick)
            layout.warningTimerAcation();
        QVERIFY(!layout.warningActive());
        QCOMPARE(frames(layout, {0, 1, 2}), QStringList({"down-select.svg", "up.svg", "down.svg"}));
    }

    void keyChooser()
    {
        MacroKeyLayout layout;
        // Shift is held across the whole macro; a new pair goes inside.
        setUp(&layout, QStringLiteral("Shift+10 Shift-60"));
        trigger(layout.keyAt(0), Key::AddPair);
        QCOMPARE(shown(layout), QStringLiteral("Shift+10 None+0 None-50 Shift-60"));
        QSignalSpy changed(&layout, &MacroKeyLayout::emitChanged);

        QStringList disabled;
        int opened = 0;
        Dialogs::setExecHandler([&](QDialog *dialog) {
            ++opened;
            QHash<QString, KeyBtn *> byName;
            for (KeyBtn *k : qobject_cast<StaticDialog *>(dialog)->keys()) {
                byName.insert(k->getAlias(), k);
                if (!k->isEnabled())
                    disabled << k->getAlias();
            }
            // The selection moves on while the chooser is open; a banned key
            // is not taken, an allowed one goes to the pair it opened for.
            drag(layout.keyAt(0));
            for (const char *name : {"LShift", "A"})
                Q_EMIT byName.value(name)->emitDoubleClick(byName.value(name));
            return dialog->result();
        });
        QTest::mouseDClick(layout.keyAt(2), Qt::LeftButton, Qt::NoModifier, QPoint(25, 40));
        Dialogs::setExecHandler({});
        QCOMPARE(opened, 1);
        disabled.sort();
        QCOMPARE(disabled, QStringList({"LShift", "Lock", "None"}));
        QCOMPARE(shown(layout), QStringLiteral("Shift+10 A+0 A-50 Shift-60"));
        QCOMPARE(changed.count(), 1);
        QVERIFY(!layout.chooser() && !layout.model().chooserOpen());
        QCOMPARE(mismatch(layout), QString());

        // The timeline goes away while its chooser is open.
        auto *doomed = new MacroKeyLayout;
        setUp(doomed, QStringLiteral("A+10 A-5"));
        const QPointer<MacroKeyLayout> guard(doomed);
        Dialogs::setExecHandler([&](QDialog *) {
            delete doomed;
            return 0;
        });
        doomed->keyDoubleClicked(doomed->keyAt(1));
        Dialogs::setExecHandler({});
        QVERIFY(!guard);
    }

    void delayField()
    {
        MacroKeyLayout layout;
        setUp(&layout, QStringLiteral("A+100 A-50 B+0 B-5"));
        QSignalSpy changed(&layout, &MacroKeyLayout::emitChanged);
        Key *first = layout.keyAt(0);
        typeDelay(first, QStringLiteral("7x0000"), false);
        QCOMPARE(first->delayEdit()->text(), QStringLiteral("65535"));
        QCOMPARE(layout.model().at(0).key.delay, uint16_t(65535));
        first->delayEdit()->selectAll();
        first->delayEdit()->insert(QStringLiteral("70000")); // pasted
        QCOMPARE(first->delayEdit()->text(), QStringLiteral("65535"));
        QVERIFY(changed.count() >= 1);

        // 0 removes the delay through the rules: refused for the release
        // right after its press (it blinks, the field shows the delay again),
        // done for the first press (the field goes, the Keys close up).
        typeDelay(layout.keyAt(1), QStringLiteral("0"), true);
        QVERIFY(layout.warningActive());
        QCOMPARE(layout.keyAt(1)->delayEdit()->text(), QStringLiteral("50"));
        QTRY_VERIFY_WITH_TIMEOUT(!layout.warningActive(), 2000); // on its own timer
        typeDelay(first, QString(), true);
        QCOMPARE(shown(layout), QStringLiteral("A+0 A-50 B+0 B-5"));
        QCOMPARE(mismatch(layout), QString());
    }

    void frameCounter()
    {
        MacroKeyLayout layout;
        setUp(&layout, QString());
        QSignalSpy framesChanged(&layout, &MacroKeyLayout::framesChanged);
        QLabel *label = layout.framesLabel();
        // Every event after a wait opens a frame: 513 do not fit.
        for (int i = 0; i < 513; ++i)
            layout.createKey(i % 2 ? 0 : 1, 5, 4, 1, 0, true);
        QCOMPARE(label->text(), QStringLiteral("513 / 512 frames"));
        QCOMPARE(framesChanged.last().at(0).toInt(), 513);
        QVERIFY(label->styleSheet().contains(QLatin1String("#e06c75")));
        QCOMPARE(layout.scrollValue(), layout.maximumScroll());
        QVERIFY(layout.maximumScroll() > 0);
        QCOMPARE(mismatch(layout), QString());

        // The last press is never released.
        layout.setLanguage(0);
        layout.checkoutKeyDuad();
        QCOMPARE(label->text(), QStringLiteral("512 / 512 帧"));
        QVERIFY(!label->styleSheet().contains(QLatin1String("#e06c75")));
        layout.clear();
        QCOMPARE(label->text(), QStringLiteral("0 / 512 帧"));
        QCOMPARE(framesChanged.last().at(0).toInt(), 0);
        QCOMPARE(layout.scrollValue(), 0);
    }
};

QTEST_MAIN(TestMacroKeyLayout)
#include "tst_macrokeylayout.moc"

// The macro timeline's rules: moves, removing delays, pairs and unpaired
// events, the key chooser's limits, and the frame count and total time the
// editor shows.
//
// Timelines are written "A+100 A-0": key, + down / - up, delay in ms. A..Z
// are the HID letters, ^ is left Shift, _ the empty key of a new pair.
#include "macro/timelinemodel.h"

#include <QRegularExpression>
#include <QtTest>

namespace {

KeyId keyOf(const QString &name)
{
    if (name == QLatin1String("_"))
        return KeyId{0, 0, 0};
    if (name == QLatin1String("^"))
        return KeyId{1, 0, 0xE1};
    return KeyId{1, 0, uint16_t(4 + name.at(0).unicode() - 'A')};
}

StaticKeyLabel label(const KeyId &k)
{
    StaticKeyLabel l;
    l.type = k.type;
    l.stype = k.stype;
    l.code = k.code;
    if (k.type == 0)
        l.name = k.code == 0 ? QStringLiteral("_") : QStringLiteral("~");
    else if (k.code == 0xE1)
        l.name = QStringLiteral("^");
    else
        l.name = QChar('A' + k.code - 4);
    return l;
}

void fill(MacroTimeline *t, const QString &written)
{
    static const QRegularExpression re(QStringLiteral("^(.)([+-])(\\d+)$"));
    t->setLabelLookup(label);
    for (const QString &token : written.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const QRegularExpressionMatch m = re.match(token);
        Q_ASSERT(m.hasMatch());
        const KeyId k = keyOf(m.captured(1));
        t->createKey(m.captured(2) == QLatin1String("+"), m.captured(3).toInt(), k.code, k.type,
                     k.stype);
    }
}

QString text(const MacroTimeline &t)
{
    QStringList out;
    for (const TimelineEvent &e : t.events())
        out << e.name + (e.key.isDown() ? '+' : '-') + QString::number(e.key.delay);
    return out.join(QLatin1Char(' '));
}

// The debug lines of every frame and rule would drown the test output.
QtMessageHandler testHandler = nullptr;
void quiet(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (type != QtDebugMsg)
        testHandler(type, context, msg);
}

} // namespace

class TestMacroTimeline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { testHandler = qInstallMessageHandler(quiet); }
    void cleanup() { qInstallMessageHandler(testHandler); }

    // One edit of a timeline. op: "next i" / "prev i" (move event i),
    // "nodelay i" (remove its delay), "unpaired" (remove unpaired events).
    // after: the timeline, or "refused a b" (blink events a and b, no change).
    // addedMs: change of the total time.
    void edits_data()
    {
        QTest::addColumn<QString>("before");
        QTest::addColumn<QString>("op");
        QTest::addColumn<QString>("after");
        QTest::addColumn<int>("addedMs");
        const auto edit = [](const char *name, const QString &before, const char *op,
                             const QString &after, int addedMs = 0) {
            QTest::newRow(name) << before << QString(op) << after << addedMs;
        };
        const QString abc = QStringLiteral(" A-5 B-5 C-5");
        edit("next: last", "A+0 A-10", "next 1", "A+0 A-10");
        edit("next: onto own release", "A+0 A-10", "next 0", "refused 0 1");
        edit("next: both at once", "A+10 B+0 C+0" + abc, "next 1", "A+10 C+0 B+0" + abc);
        edit("next: joins a later event", "A+10 B+0 C+30" + abc, "next 1", "A+10 B+30 C+0" + abc);
        edit("next: hands its wait on", "A+10 B+40 C+0" + abc, "next 1", "A+10 C+40 B+0" + abc);
        edit("next: both wait", "A+10 B+40 C+30" + abc, "next 1", "A+10 B+70 C+0" + abc);
        edit("next: both wait, held at 65535", "A+10 B+60000 C+30000" + abc, "next 1",
             "A+10 B+65535 C+24465" + abc);
        edit("next: spaced from the same key", "X+10 B+0 C+0 B-0 C-10 X-10", "next 1",
             "X+10 C+0 B+0 B-20 C-10 X-10", 20);

        edit("prev: first hands its wait on", "A+30 B+10 A-5 B-5", "prev 0", "A+0 B+40 A-5 B-5");
        edit("prev: first without wait", "A+0 A-5", "prev 0", "A+0 A-5");
        edit("prev: onto own press", "A+0 A-10", "prev 1", "refused 0 1");
        edit("prev: both at once", "A+10 B+0 C+0" + abc, "prev 2", "A+10 C+0 B+0" + abc);
        edit("prev: takes the earlier wait", "A+10 B+20 C+0" + abc, "prev 2",
             "A+10 C+20 B+0" + abc);
        edit("prev: joins the earlier event", "A+10 B+20 C+30" + abc, "prev 2",
             "A+10 B+20 C+0 A-35 B-5 C-5");
        edit("prev: last event joins the earlier one", "A+10 B+5 A-3 B-30", "prev 3",
             "A+10 B+5 A-3 B-0", -30);
        edit("prev: spaced from the same key", "A+10 A-5 C+0 A+0 A-5 C-5", "prev 3",
             "A+10 A-5 A+20 C+0 A-5 C-5", 20);

        edit("nodelay: first press", "A+30 A-5", "nodelay 0", "A+0 A-5", -30);
        edit("nodelay: press after its own release", "A+10 A-5 A+7 A-5", "nodelay 2",
             "refused 1 2");
        edit("nodelay: release at the start", "A-30 A+5", "nodelay 0", "A-30 A+5");
        edit("nodelay: release after its press", "A+10 A-5", "nodelay 1", "refused 0 1");
        edit("nodelay: release after a release", "A+10 A+3 A-4 A-6", "nodelay 3", "refused 2 3");
        edit("nodelay: release after another key", "A+10 B+5 A-6 B-7", "nodelay 2",
             "A+10 B+5 A-0 B-7", -6);
        edit("nodelay: press after another release", "B+10 B-5 A+3 A-5", "nodelay 2",
             "B+10 B-5 A+0 A-5", -3);

        // Waits of removed events go on, except after the last one.
        edit("unpaired: neighbours", "B-10 C-20 A+5 A-5 D+7", "unpaired", "A+35 A-5", -7);
        edit("unpaired: release before any press", "A-10 A+5 A-5", "unpaired", "A+15 A-5");
        edit("unpaired: all paired", "A+10 B+5 B-5 A-5", "unpaired", "A+10 B+5 B-5 A-5");
    }
    void edits()
    {
        QFETCH(QString, before);
        QFETCH(QString, op);
        QFETCH(QString, after);
        QFETCH(int, addedMs);
        MacroTimeline t;
        fill(&t, before);
        const qint64 total = t.totalTime();
        const QString verb = op.section(' ', 0, 0);
        const int i = op.section(' ', 1).toInt();
        const TimelineResult r = verb == "next"      ? t.moveNextKey(i)
                                 : verb == "prev"    ? t.movePervKey(i)
                                 : verb == "nodelay" ? t.keyDelayHideLineEdit(i)
                                                     : t.checkoutKeyDuad();
        if (r.refused()) {
            QCOMPARE(QStringLiteral("refused %1 %2").arg(r.blinkFirst).arg(r.blinkSecond), after);
            after = before;
        }
        QCOMPARE(text(t), after);
        QCOMPARE(r.done(), after != before);
        QCOMPARE(t.totalTime(), total + addedMs);
        QCOMPARE(t.framesNeeded(), MacroCodec::framesNeeded(t.dataKeys()));
    }

    void delaysHeldInRange()
    {
        MacroTimeline t;
        fill(&t, QStringLiteral("A+0 B+30 A-5 B-0"));
        QCOMPARE(t.addDelay(0).index, 0);
        QVERIFY(t.setDelay(1, 70000).done());
        QVERIFY(t.setDelay(2, -5).done());
        QCOMPARE(text(t), QStringLiteral("A+10 B+65535 A-0 B-0"));
        QVERIFY(!t.setKeyDelayEidtTimeAll(0).done());
        QVERIFY(t.setKeyDelayEidtTimeAll(100).done());
        QCOMPARE(text(t), QStringLiteral("A+100 B+100 A-0 B-0"));
        QCOMPARE(t.totalTime(), qint64(200));
        t.createKey(1, 90000, 4, 1, 0);
        QCOMPARE(t.at(4).key.delay, uint16_t(65535));
    }

    void pairs()
    {
        MacroTimeline t;
        fill(&t, QStringLiteral("A+10 B+5 A+0 B-5 A-5"));
        // The first A press is released by the last event; the second A
        // press shares that release.
        QCOMPARE(t.getListOtherKey(0), 4);
        QCOMPARE(t.getListOtherKey(2), 4);
        QCOMPARE(t.getListOtherKey(4), 2);
        SelectResult s = t.keyPressed(3);
        QVERIFY(s.found && s.partner == 1 && s.totalTime == 20);
        QVERIFY(t.isSelected(1) && t.isSelected(3) && !t.isSelected(0));

        // Deleting the outer A pair leaves the inner press unpaired.
        QVERIFY(t.deleteDoubleKey(0).done());
        QCOMPARE(text(t), QStringLiteral("B+5 B-5"));
        QCOMPARE(t.selectedIndex(), 1); // the B release stays selected
        QVERIFY(!t.deleteDoubleKey(5).done());

        // A new pair gets 0 and 50; the key chosen for it is spaced from
        // the same key right before it.
        TimelineResult r = t.createDoubleKey(1);
        QCOMPARE(r.index, 2);
        QCOMPARE(text(t), QStringLiteral("B+5 B-5 _+0 _-50"));
        QVERIFY(t.keyDoubleClicked(3).open);
        t.keyPressed(0); // a later press does not redirect the chooser
        r = t.staticDialogDoubleClicked(label(keyOf(QStringLiteral("B"))));
        QVERIFY(r.done() && !t.chooserOpen());
        QCOMPARE(text(t), QStringLiteral("B+5 B-5 B+20 B-50"));
        QCOMPARE(r.hideAddDelay, QVector<quint64>{t.at(2).id});
        QVERIFY(!t.staticDialogDoubleClicked(label(keyOf(QStringLiteral("C")))).done());

        QVERIFY(t.createDoubleKey(-1).done());
        QCOMPARE(text(t), QStringLiteral("_+0 _-50 B+5 B-5 B+20 B-50"));
        QVERIFY(!t.keyPressed(9).found);
        MacroTimeline single;
        fill(&single, QStringLiteral("A+5"));
        QVERIFY(!single.keyPressed(0).found && !single.keyDoubleClicked(0).open);
    }

    void chooserLimits()
    {
        MacroTimeline t;
        // X is held throughout, B across the new pair, C before it, E inside
        // it, F overlaps its end.
        fill(&t, QStringLiteral("X+10 B+5 C+5 C-5 _+0 E+5 E-5 F+5 _-50 F-5 B-5 X-5"));
        for (int clicked : {4, 8}) {
            const ChooserLimits limits = t.keyDoubleClicked(clicked);
            QVERIFY(limits.open && limits.down == 4 && limits.up == 8);
            QStringList banned;
            for (const KeyId &k : limits.banned)
                banned << label(k).name;
            banned.sort();
            QCOMPARE(banned.join(QLatin1Char(' ')), QStringLiteral("B E X _ ~"));
            QVERIFY(limits.allows(keyOf("C")) && limits.allows(keyOf("F")));
        }
        QVERIFY(!t.staticDialogDoubleClicked(label(keyOf("X"))).done());
        QVERIFY(t.staticDialogDoubleClicked(label(keyOf("C"))).done());
        QCOMPARE(t.at(4).name + t.at(8).name, QStringLiteral("CC"));
        // A press never released is held across every later pair.
        MacroTimeline held;
        fill(&held, QStringLiteral("Y+5 _+0 _-50"));
        QVERIFY(!held.keyDoubleClicked(2).allows(keyOf("Y")));

        qInstallMessageHandler(testHandler);
        MacroTimeline small;
        fill(&small, QStringLiteral("X+10 _+0 E+5 E-5 _-50 X-5"));
        for (const char *line :
             {"LIST KEY: double clicked is key =  _", "LIMIT: double key = down, name =  _",
              "LIMIT: take perv = X", "LIMIT: 不可选key： X", "LIMIT: take next = E",
              "LIMIT: 不可选key： E", "LIMIT: take next = E",
              "LIMIT: next is this keyUp, quit while. key = _"})
            QTest::ignoreMessage(QtDebugMsg, line);
        small.keyDoubleClicked(1);
    }

    void appendsKeepFramesAndTime()
    {
        MacroTimeline t;
        fill(&t, QStringLiteral("A+10 A-0"));
        QCOMPARE(t.framesNeeded(), 2); // the release is spaced on the keyboard
        for (int i = 0; i < 900; ++i) {
            if (i == 300)
                t.setDelay(1, 5); // an edit between appends
            t.createKey(i % 2 ? 0 : 1, i % 3 ? 7 : 0, uint16_t(4 + (i / 2) % 5), 1, 0);
            if (i % 100 == 0)
                QCOMPARE(t.framesNeeded(), MacroCodec::framesNeeded(t.dataKeys()));
        }
        QCOMPARE(t.framesNeeded(), MacroCodec::framesNeeded(t.dataKeys()));
        QCOMPARE(t.totalTime(), t.totalTimeAt(t.size() - 1));
        QVERIFY(t.framesNeeded() > MacroCodec::kMaxFrames);
        t.clear();
        QCOMPARE(t.framesNeeded() + t.totalTime(), qint64(0));
    }
};

QTEST_GUILESS_MAIN(TestMacroTimeline)
#include "tst_macrotimeline.moc"

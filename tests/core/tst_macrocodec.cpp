// Macro events <-> frames: filling one report, encoding with its frame limit,
// decoding stored and live frames, and round trips that keep time.
//
// Events are written "A+100" (A down after 100 ms) or "A-0" (A up at once):
// A..Z are the HID letters, ^ is left Shift, #E0 any keyboard code in hex,
// m a media key (not a keyboard key), _ the empty key. Frames are written
// "ts:mm-rr-k1-k2-k3-k4-k5-k6" and joined by " | ".
#include "macro/macrocodec.h"

#include <QRegularExpression>
#include <QtTest>

#include <numeric>
#include <vector>

using namespace MacroCodec;

namespace {

DataKey keyEvent(const QString &token)
{
    static const QRegularExpression re(QStringLiteral("^(#[0-9A-F]{2}|.)([+-])(\\d+)$"));
    const QRegularExpressionMatch m = re.match(token);
    Q_ASSERT(m.hasMatch());
    const QString name = m.captured(1);
    DataKey k(m.captured(2) == QLatin1String("+") ? DataKey::kDown : DataKey::kUp);
    k.delay = uint16_t(m.captured(3).toUInt());
    k.type = 1;
    if (name.startsWith(QLatin1Char('#')))
        k.code = uint16_t(name.mid(1).toUInt(nullptr, 16));
    else if (name == QLatin1String("^"))
        k.code = 0xE1;
    else if (name == QLatin1String("m"))
        k = DataKey(k.status, k.delay, 0xE9, 3, 0);
    else if (name == QLatin1String("_"))
        k = DataKey(k.status, k.delay, 0, 0, 0);
    else
        k.code = uint16_t(4 + name.at(0).unicode() - 'A');
    return k;
}

QVector<DataKey> events(const QString &text)
{
    QVector<DataKey> out;
    for (const QString &t : text.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        out.append(keyEvent(t));
    return out;
}

QString text(const QVector<DataKey> &keys)
{
    QStringList out;
    for (const DataKey &k : keys) {
        QString name;
        if (k.type == 0 && k.code == 0)
            name = QStringLiteral("_");
        else if (!k.isKeyboardKey())
            name = QStringLiteral("m");
        else if (k.code >= 4 && k.code < 30)
            name = QChar('A' + k.code - 4);
        else if (k.code == 0xE1)
            name = QStringLiteral("^");
        else
            name = QString::asprintf("#%02X", k.code);
        out << name + (k.isDown() ? '+' : '-') + QString::number(k.delay);
    }
    return out.join(QLatin1Char(' '));
}

QString text(const mframe_t &f)
{
    const QByteArray report(reinterpret_cast<const char *>(&f.modifiers), 8);
    return QString::number(f.ts()) + ':' + report.toHex('-');
}

QVector<mframe_t> frames(const QString &written)
{
    QVector<mframe_t> out;
    for (const QString &f : written.split(QStringLiteral(" | "), Qt::SkipEmptyParts)) {
        mframe_t fr{};
        fr.setTs(uint16_t(f.section(':', 0, 0).toUInt()));
        const QByteArray r = QByteArray::fromHex(f.section(':', 1).remove('-').toLatin1());
        std::memcpy(&fr.modifiers, r.constData(), size_t(std::min(8, r.size())));
        out.append(fr);
    }
    return out;
}

QString encoded(const QVector<DataKey> &keys)
{
    QVector<mframe_t> buf(kMaxFrames);
    QStringList out;
    for (int i = 0, n = key2mframe(keys, buf.data(), buf.size()); i < n; ++i)
        out << text(buf[i]);
    return out.join(QStringLiteral(" | "));
}

QVector<DataKey> decoded(const QVector<mframe_t> &fr)
{
    QVector<DataKey> out;
    parserFrame(fr.size(), fr.constData(), fr.size(), &out);
    return out;
}

qint64 total(const QVector<DataKey> &keys)
{
    return std::accumulate(keys.begin(), keys.end(), qint64(0),
                           [](qint64 t, const DataKey &k) { return t + k.delay; });
}

// The debug lines of every frame and rule would drown the test output.
QtMessageHandler testHandler = nullptr;
void quiet(QtMsgType type, const QMessageLogContext &context, const QString &msg)
{
    if (type != QtDebugMsg)
        testHandler(type, context, msg);
}

// One row of two texts (and a number) for the data-driven tests.
void row(const char *name, const QString &a, const QString &b, int n = 0)
{
    QTest::newRow(name) << a << b << n;
}

void columns(const char *a, const char *b, const char *n = "n")
{
    QTest::addColumn<QString>(a);
    QTest::addColumn<QString>(b);
    QTest::addColumn<int>(n);
}

} // namespace

class TestMacroCodec : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init() { testHandler = qInstallMessageHandler(quiet); }
    void cleanup() { qInstallMessageHandler(testHandler); }

    void fillFrame_data()
    {
        columns("change", "after", "result"); // change: "report | event"
        const QString six = QStringLiteral("0:00-00-04-05-06-07-08-09");
        const QString none = QStringLiteral("0:00-00-00-00-00-00-00-00");
        row("media key", six + " | m+0", six, -1);
        row("code above modifiers", none + " | #E8+0", none);
        row("first free slot", "0:00-00-04-00-06-00-00-00 | B+0", "0:00-00-04-05-06-00-00-00");
        row("already held", six + " | C+0", six);
        row("seventh key dropped", six + " | K+0", six);
        row("code 0 never enters", none + " | #00+0", none);
        row("up clears every copy", "0:00-00-04-05-04-00-00-04 | A-0", "0:00-00-00-05-00-00-00-00");
        row("up of a key not held", six + " | K-0", six);
        // Each modifier sets and clears its own bit; the others stay.
        for (int b = 0; b < 8; ++b) {
            const QString code = QString::asprintf("#%02X", 0xE0 + b);
            const QString report = QStringLiteral("5:%1-00-04-00-00-00-00-00");
            const auto hex = [](int m) { return QString::asprintf("%02x", m); };
            row(QByteArray("modifier down " + QByteArray::number(b)),
                report.arg(hex(0x81 & ~(1 << b))) + " | " + code + "+0",
                report.arg(hex(0x81 | 1 << b)));
            row(QByteArray("modifier up " + QByteArray::number(b)),
                report.arg(hex(0x81 | 1 << b)) + " | " + code + "-0",
                report.arg(hex(0x81 & ~(1 << b))));
        }
    }
    void fillFrame()
    {
        QFETCH(QString, change);
        QFETCH(QString, after);
        QFETCH(int, result);
        mframe_t f = frames(change.section(" | ", 0, 0)).first();
        QCOMPARE(MacroCodec::fillFrame(keyEvent(change.section(" | ", 1)), &f), result);
        QCOMPARE(text(f), after);
    }

    void encode_data()
    {
        columns("keys", "expected");
        row("nothing", "", "");
        row("two keys, one release", "A+100 B+0 A-50 B-0",
            "100:00-00-04-05-00-00-00-00 | 50:00-00-00-00-00-00-00-00");
        row("shift and A", "^+30 A+0", "30:02-00-04-00-00-00-00-00");
        row("seven keys", "A+0 B+0 C+0 D+0 E+0 F+0 G+0", "0:00-00-04-05-06-07-08-09");
        row("held key pressed again, absent key released", "A+10 A+0 B-0",
            "10:00-00-04-00-00-00-00-00");
        row("media key is a pause", "m+200 m-50",
            "200:00-00-00-00-00-00-00-00 | 50:00-00-00-00-00-00-00-00");
        row("pause keeps the keys held", "A+5 m+200",
            "5:00-00-04-00-00-00-00-00 | 200:00-00-04-00-00-00-00-00");
        // A change undone in the frame it was made in would never be seen.
        row("press and release at once", "A+0 A-0",
            "0:00-00-04-00-00-00-00-00 | 20:00-00-00-00-00-00-00-00");
        row("modifier tapped at once", "^+9 ^-0",
            "9:02-00-00-00-00-00-00-00 | 20:00-00-00-00-00-00-00-00");
        row("release and press again at once", "A+10 A-10 A+0 A-10",
            "10:00-00-04-00-00-00-00-00 | 10:00-00-00-00-00-00-00-00 | "
            "20:00-00-04-00-00-00-00-00 | 10:00-00-00-00-00-00-00-00");
        row("other keys still join", "B+10 A+0 A-0 B-0",
            "10:00-00-05-04-00-00-00-00 | 20:00-00-00-00-00-00-00-00");
    }
    void encode()
    {
        QFETCH(QString, keys);
        QFETCH(QString, expected);
        const QVector<DataKey> k = events(keys);
        QCOMPARE(encoded(k), expected);
        QCOMPARE(framesNeeded(k), expected.isEmpty() ? 0 : expected.count('|') + 1);
    }

    void frameLimit()
    {
        for (bool extra : {false, true}) {
            QVector<DataKey> k;
            for (int i = 0; i < 256; ++i)
                k << keyEvent("A+1") << keyEvent("A-1");
            if (extra)
                k << keyEvent("B+1");
            QCOMPARE(framesNeeded(k), 512 + extra);
            // One frame more than offered: its bytes must stay as they were.
            QVector<mframe_t> buf(kMaxFrames + 1);
            std::memset(static_cast<void *>(buf.data()), 0xAB, sizeof(mframe_t) * 513);
            const int n = key2mframe(k, buf.data(), kMaxFrames);
            QCOMPARE(n, extra ? kTooManyFrames : 512);
            QCOMPARE(text(buf[kMaxFrames]), QStringLiteral("43947:ab-ab-ab-ab-ab-ab-ab-ab"));
            QCOMPARE(buf[0].ts() == 1, !extra); // refused: nothing written at all
            QCOMPARE(key2mframe(k, nullptr, kMaxFrames), kTooManyFrames);
        }
    }

    void decode_data()
    {
        columns("stored", "expected");
        row("two keys, one release", "100:00-00-04-05-00-00-00-00 | 50:00-00-00-00-00-00-00-00",
            "A+100 B+0 A-50 B-0");
        row("shift and A", "30:02-00-04-00-00-00-00-00", "^+30 A+0");
        row("one change per report",
            "100:02-00-00-00-00-00-00-00 | 100:02-00-04-00-00-00-00-00 | "
            "100:02-00-00-00-00-00-00-00 | 100:00-00-00-00-00-00-00-00",
            "^+100 A+100 A-100 ^-100");
        row("modifiers, releases, presses", "0:03-00-04-00-00-00-00-00 | 7:00-00-05-00-00-00-00-00",
            "#E0+0 ^+0 A+0 #E0-7 ^-0 A-0 B+0");
        row("unchanged frames carry their delay",
            "10:00-00-04-00-00-00-00-00 | 30:00-00-04-00-00-00-00-00 | "
            "40:00-00-00-00-00-00-00-00",
            "A+10 A-70");
        row("leading pause",
            "25:00-00-00-00-00-00-00-00 | 5:00-00-04-00-00-00-00-00 | "
            "5:00-00-00-00-00-00-00-00",
            "A+30 A-5");
        row("trailing pause becomes an empty pair",
            "10:00-00-04-00-00-00-00-00 | 10:00-00-00-00-00-00-00-00 | "
            "40:00-00-00-00-00-00-00-00 | 60:00-00-00-00-00-00-00-00",
            "A+10 A-10 _+100 _-0");
        row("carried delay held at 65535",
            "60000:00-00-04-00-00-00-00-00 | 60000:00-00-04-00-00-00-00-00 | "
            "6000:00-00-00-00-00-00-00-00",
            "A+60000 A-65535");
        row("a key twice in one report counts once",
            "5:00-00-04-04-00-00-00-00 | 5:00-00-00-00-00-00-00-00", "A+5 A-5");
    }
    void decode()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QCOMPARE(text(decoded(frames(stored))), expected);

        // Live, report by report: the same events, without the closing pause.
        LiveDecoder live;
        live.feed(frames(QStringLiteral("9:02-00-05-04-00-00-00-00")).first());
        live.reset(); // an earlier recording is forgotten
        QVector<DataKey> got;
        for (const mframe_t &f : frames(stored))
            got += live.feed(&f.tsBytes[0], int(sizeof f));
        QCOMPARE(text(got), expected.remove(QRegularExpression(" _\\+\\d+ _-0$")));
        QVERIFY(live.feed(&frames(stored)[0].tsBytes[0], 9).isEmpty());
    }

    void decodeReadsOnlyHeldFrames()
    {
        // A head may claim 1023 frames; the model holds at most 512.
        std::vector<mframe_t> held(kMaxFrames);
        for (int i = 0; i < kMaxFrames; ++i) {
            held[size_t(i)].setTs(1);
            held[size_t(i)].keys[0] = uint8_t(i % 2 ? 0 : 4);
        }
        QVector<DataKey> out;
        QCOMPARE(parserFrame(km_t::kMaxFrameCount, held.data(), kMaxFrames, &out), kMaxFrames);
        QCOMPARE(out.size(), kMaxFrames);
        out.clear();
        QCOMPARE(parserFrame(3, held.data(), kMaxFrames, &out), 3);
        QCOMPARE(text(out), QStringLiteral("A+1 A-1 A+1"));
        QCOMPARE(parserFrame(-4, held.data(), kMaxFrames, &out), 0);
        QCOMPARE(parserFrame(5, nullptr, 5, &out), 0);
        QCOMPARE(out.size(), 3);
    }

    void roundTrip_data()
    {
        columns("keys", "back", "addedMs"); // addedMs: spacing the encoder had to add
        row("pair of keys", "A+100 B+0 A-50 B-0", "A+100 B+0 A-50 B-0");
        row("shortcut", "^+30 A+0 A-40 ^-10", "^+30 A+0 A-40 ^-10");
        row("media key inside", "A+10 m+200 m-50 A-30", "A+10 A-280");
        row("media key alone", "m+200 m-50", "_+250 _-0");
        row("new pair without a key", "A+5 A-5 _+0 _-50", "A+5 A-5 _+50 _-0");
        row("tap at once", "A+0 A-0", "A+0 A-20", 20);
    }
    void roundTrip()
    {
        QFETCH(QString, keys);
        QFETCH(QString, back);
        QFETCH(int, addedMs);
        const QVector<DataKey> k = events(keys);
        const QVector<DataKey> once = decoded(frames(encoded(k)));
        QCOMPARE(text(once), back);
        QCOMPARE(total(once), total(k) + addedMs);
        // What came back is stable.
        QCOMPARE(text(decoded(frames(encoded(once)))), back);
    }

    void logLines()
    {
        qInstallMessageHandler(testHandler);
        QTest::ignoreMessage(QtDebugMsg, "indey=0000 ts=00000100 [00-00-04-00-00-00-00-00]");
        QTest::ignoreMessage(QtDebugMsg, "indey=0000 ts=00000100 [00-00-04-05-00-00-00-00]");
        QTest::ignoreMessage(QtDebugMsg, "indey=0001 ts=00000050 [00-00-00-05-00-00-00-00]");
        QTest::ignoreMessage(QtDebugMsg, "fi= 1");
        const QString stored = encoded(events(QStringLiteral("A+100 B+0 A-50")));
        QTest::ignoreMessage(QtDebugMsg, "index=0000 ts=00000100 [00-00-04-05-00-00-00-00]");
        QTest::ignoreMessage(QtDebugMsg, "index=0001 ts=00000050 [00-00-00-05-00-00-00-00]");
        decoded(frames(stored));
        QTest::ignoreMessage(QtDebugMsg, "RECV ts=00000050 [00-00-00-05-00-00-00-00]");
        LiveDecoder().feed(frames(stored)[1]);
    }
};

QTEST_GUILESS_MAIN(TestMacroCodec)
#include "tst_macrocodec.moc"

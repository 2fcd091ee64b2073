// Macro events <-> frames: filling one report, encoding with its frame limit
// and back, decoding stored and live frames.
//
// Events are written "A+100" (A down after 100 ms) or "A-0" (A up at once):
// A..Z are the HID letters, ^ is left Shift, #E0 any keyboard code in hex,
// m a media key (not a keyboard key), _ the empty key. Frames are written
// "ts:mm-rr-k1-k2-k3-k4-k5-k6" without the trailing zero bytes ("50:" is an
// empty report) and joined by " | ".
#include "macro/macrocodec.h"

#include <QRegularExpression>
#include <QtTest>

using namespace MacroCodec;

namespace {

DataKey keyEvent(const QString &token)
{
    const int n = token.startsWith(QLatin1Char('#')) ? 3 : 1; // the name's length
    const char c = token.at(0).toLatin1();
    const uint16_t code = n == 3     ? uint16_t(token.mid(1, 2).toUInt(nullptr, 16))
                          : c == '^' ? 0xE1
                          : c == 'm' ? 0xE9
                          : c == '_' ? 0
                                     : uint16_t(4 + c - 'A');
    return DataKey(token.at(n) == QLatin1Char('+') ? DataKey::kDown : DataKey::kUp,
                   uint16_t(token.mid(n + 1).toUInt()), code,
                   c == 'm'   ? 3
                   : c == '_' ? 0
                              : 1,
                   0);
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
        const QString name = k.type == 0 && k.code == 0   ? QStringLiteral("_")
                             : !k.isKeyboardKey()         ? QStringLiteral("m")
                             : k.code >= 4 && k.code < 30 ? QString(QChar('A' + k.code - 4))
                             : k.code == 0xE1             ? QStringLiteral("^")
                                                          : QString::asprintf("#%02X", k.code);
        out << name + (k.isDown() ? '+' : '-') + QString::number(k.delay);
    }
    return out.join(QLatin1Char(' '));
}

QString text(const mframe_t &f)
{
    QByteArray report(reinterpret_cast<const char *>(&f.modifiers), 8);
    while (report.endsWith('\0'))
        report.chop(1);
    return QString::number(f.ts()) + ':' + report.toHex('-');
}

QVector<mframe_t> frames(const QString &written)
{
    QVector<mframe_t> out;
    for (const QString &f : written.split(QStringLiteral(" | "), Qt::SkipEmptyParts)) {
        mframe_t fr{};
        fr.setTs(uint16_t(f.section(':', 0, 0).toUInt()));
        const QByteArray r = QByteArray::fromHex(f.section(':', 1).toLatin1()); // skips the dashes
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
    // The debug lines of every frame would drown the test output.
    void init() { QLoggingCategory::setFilterRules(QStringLiteral("default.debug=false")); }

    void fillFrame_data()
    {
        columns("change", "after", "result"); // change: "report | event"
        const QString six = QStringLiteral("0:00-00-04-05-06-07-08-09");
        row("media key", six + " | m+0", six, -1);
        row("code above modifiers", "0: | #E8+0", "0:");
        row("first free slot", "0:00-00-04-00-06 | B+0", "0:00-00-04-05-06");
        row("already held", six + " | C+0", six);
        row("seventh key dropped", six + " | K+0", six);
        row("code 0 never enters", "0: | #00+0", "0:");
        row("up clears every copy", "0:00-00-04-05-04-00-00-04 | A-0", "0:00-00-00-05");
        row("up of a key not held", six + " | K-0", six);
        // A modifier sets or clears its own bit; the others stay.
        row("first modifier down", "5:80-00-04 | #E0+0", "5:81-00-04");
        row("last modifier up", "5:81-00-04 | #E7-0", "5:01-00-04");
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

    // Events to frames, and the events the frames decode to; what comes back
    // stays the same through more round trips.
    void encode_data()
    {
        QTest::addColumn<QString>("keys");
        QTest::addColumn<QString>("expected");
        QTest::addColumn<QString>("back"); // empty: the keys themselves
        const auto row = [](const char *name, const char *keys, const char *expected,
                            const char *back = "") {
            QTest::newRow(name) << QString(keys) << QString(expected) << QString(back);
        };
        row("nothing", "", "");
        row("two keys, one release", "A+100 B+0 A-50 B-0", "100:00-00-04-05 | 50:");
        row("shift and A", "^+30 A+0", "30:02-00-04");
        row("held key pressed again, absent key released", "A+10 A+0 B-0", "10:00-00-04", "A+10");
        row("media key inside", "A+10 m+200 m-50 A-30",
            "10:00-00-04 | 200:00-00-04 | 50:00-00-04 | 30:", "A+10 A-280");
        row("media key alone", "m+200 m-50", "200: | 50:", "_+250 _-0");
        row("new pair without a key", "A+5 A-5 _+0 _-50",
            "5:00-00-04 | 5: | 50:", "A+5 A-5 _+50 _-0");
        // A change undone in the frame it was made in would never be seen.
        row("press and release at once", "A+0 A-0", "0:00-00-04 | 20:", "A+0 A-20");
        row("modifier tapped at once", "^+9 ^-0", "9:02 | 20:", "^+9 ^-20");
        row("release and press again at once", "A+10 A-10 A+0 A-10",
            "10:00-00-04 | 10: | 20:00-00-04 | 10:", "A+10 A-10 A+20 A-10");
        row("other keys still join", "B+10 A+0 A-0 B-0",
            "10:00-00-05-04 | 20:", "B+10 A+0 B-20 A-0");
    }
    void encode()
    {
        QFETCH(QString, keys);
        QFETCH(QString, expected);
        QFETCH(QString, back);
        const QVector<DataKey> k = events(keys);
        QCOMPARE(encoded(k), expected);
        QCOMPARE(framesNeeded(k), expected.isEmpty() ? 0 : expected.count('|') + 1);
        if (back.isEmpty())
            back = keys;
        QCOMPARE(text(decoded(frames(expected))), back);
        QCOMPARE(text(decoded(frames(encoded(events(back))))), back);
    }

    void frameLimit()
    {
        for (bool extra : {false, true}) {
            const QVector<DataKey> k =
                events(QString("A+1 A-1 ").repeated(256) + (extra ? "B+1" : ""));
            QCOMPARE(framesNeeded(k), 512 + extra);
            // One frame more than offered: its bytes must stay as they were.
            QVector<mframe_t> buf(kMaxFrames + 1);
            std::memset(static_cast<void *>(buf.data()), 0xAB, sizeof(mframe_t) * buf.size());
            QCOMPARE(key2mframe(k, buf.data(), kMaxFrames), extra ? kTooManyFrames : 512);
            QCOMPARE(text(buf[kMaxFrames]), QStringLiteral("43947:ab-ab-ab-ab-ab-ab-ab-ab"));
            QCOMPARE(buf[0].ts() == 1, !extra); // refused: nothing written at all
            QCOMPARE(key2mframe(k, nullptr, kMaxFrames), kTooManyFrames);
        }
    }

    void decode_data()
    {
        columns("stored", "expected");
        row("modifiers, releases, presses", "0:03-00-04 | 7:00-00-05",
            "#E0+0 ^+0 A+0 #E0-7 ^-0 A-0 B+0");
        row("unchanged frames carry their delay", "10:00-00-04 | 30:00-00-04 | 40:", "A+10 A-70");
        row("trailing pause becomes an empty pair",
            "10:00-00-04 | 10: | 40: | 60:", "A+10 A-10 _+100 _-0");
        row("carried delay held at 65535",
            "60000:00-00-04 | 60000:00-00-04 | 6000:", "A+60000 A-65535");
        row("a key twice in one report counts once", "5:00-00-04-04 | 5:", "A+5 A-5");
    }
    void decode()
    {
        QFETCH(QString, stored);
        QFETCH(QString, expected);
        QCOMPARE(text(decoded(frames(stored))), expected);

        // Live, report by report: the same events, without the closing pause.
        LiveDecoder live;
        live.feed(frames(QStringLiteral("9:02-00-05-04")).first());
        live.reset(); // an earlier recording is forgotten
        QVector<DataKey> got;
        for (const mframe_t &f : frames(stored))
            got += live.feed(&f.tsBytes[0], int(sizeof f));
        QCOMPARE(text(got), expected.remove(QRegularExpression(" _\\+\\d+ _-0$")));
        QVERIFY(live.feed(&frames(stored)[0].tsBytes[0], 9).isEmpty());
    }

    // A head may claim up to 1023 frames; only those held are read.
    void decodeReadsOnlyHeldFrames()
    {
        const QVector<mframe_t> held = frames(
            QString("1:00-00-04-00-00-00-00-00 | 1:00-00-00-00-00-00-00-00 | ").repeated(256));
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

    void logLines()
    {
        QLoggingCategory::setFilterRules(QStringLiteral("default.debug=true"));
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

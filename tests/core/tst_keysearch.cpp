// Finding palette keys: the search field's matches and their order in both
// layout versions and both languages, and the key pressed on the computer's
// keyboard that names a palette key.
#include "testsupport.h"

#include "main/apppaths.h"
#include "widget/data.h"
#include "widget/keysearch.h"
#include "widget/keyusage.h"

#include <QtTest>

namespace {

// Keys are named by their Windows alias, unique in the palette.
QStringList aliases(const QVector<KeyDesc> &palette, const QVector<int> &indices)
{
    QStringList out;
    for (int i : indices)
        out.append(palette.at(i).alias);
    return out;
}

} // namespace

class TestKeySearch : public QObject
{
    Q_OBJECT

    QVector<KeyDesc> m_windows;
    QVector<KeyDesc> m_mac;

private Q_SLOTS:
    void initTestCase()
    {
        AppPaths::setAppDir(TestSupport::sourceDataDir());
        Data data;
        QVERIFY(KeySearch::loadPalette(&data, &m_windows, &m_mac));
        QCOMPARE(m_windows.size(), 224);
        QCOMPARE(m_mac.size(), m_windows.size());
    }
    void cleanupTestCase() { AppPaths::setAppDir(QString()); }

    void search_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("shown");
        QTest::addColumn<QStringList>("first"); // the leading hits, in order
        QTest::addColumn<int>("count");         // all hits; -1: not checked
        QTest::addColumn<int>("match");         // how the first hit matched
        const int win = KeySearch::Windows;
        const int mac = KeySearch::MacOS;
        auto row = [](const char *name, const QString &text, int shown, const QStringList &first,
                      int count, KeySearch::Match match) {
            QTest::newRow(name) << text << shown << first << count << int(match);
        };
        const QStringList volume = {"Vol-", "Vol+", "KbVol+", "KbVol-", "Mute", "KbMute"};
        // The consumer key before the keyboard-page key also named "Mute".
        row("mute", "mute", win, {"Mute", "KbMute"}, 2, KeySearch::Exact);
        row("full width", QStringLiteral("ＭＵＴＥ"), win, {"Mute", "KbMute"}, 2, KeySearch::Exact);
        // Prefixes (aliases before names), then the synonym's other keys.
        row("vol", "Vol", win, volume, volume.size(), KeySearch::Prefix);
        // Keys drawn with a picture are found by the name they have no room for.
        row("picture key name", "volume d", mac, {"Vol-"}, 1, KeySearch::Prefix);
        row("word prefix", "up", win, {"Up", "PgUp", "WhUp"}, -1, KeySearch::Exact);
        row("chinese volume", QStringLiteral("音量"), win,
            {"Vol+", "Vol-", "Mute", "KbVol+", "KbVol-", "KbMute"}, 6, KeySearch::Synonym);
        row("chinese mute", QStringLiteral("静音"), mac, {"Mute", "KbMute"}, 2, KeySearch::Synonym);
        row("chinese play", QStringLiteral("播放"), win,
            {"Play", "Prev", "Next", "MStop", "Rew", "FFwd", "Player"}, 7, KeySearch::Synonym);
        row("play", "play", win, {"Play", "Player", "Prev"}, -1, KeySearch::Exact);
        row("half-width kana", QStringLiteral("ｶﾅ"), win, {"Kana"}, 1, KeySearch::Exact);
        // A name only the other version has comes after the shown version's
        // synonyms: "delete" is forward delete on Windows, backspace on macOS.
        row("delete on windows", "delete", win, {"Del", "Bksp"}, 2, KeySearch::Synonym);
        row("delete on mac", "Delete", mac, {"Bksp", "Del"}, 2, KeySearch::Exact);
        row("mac name on windows", "command", win, {"LWin", "RWin"}, 2, KeySearch::Synonym);
        row("windows name on mac", "ctrl", mac, {"LCtrl", "RCtrl"}, 2, KeySearch::WordPrefix);
        row("return on mac", "return", mac, {"Enter", "Return", "KpEnter"}, 3, KeySearch::Exact);
        row("one letter", "e", win, {"E", "Esc", "End", "Enter"}, -1, KeySearch::Exact);
        row("esc", "ESC", mac, {"Esc"}, -1, KeySearch::Exact);
        row("substring", "ght", win, {"Right", "MRight", "Bri-", "Bri+"}, -1, KeySearch::Substring);
        row("no key", "xyzzy", win, {}, 0, KeySearch::Exact);
        row("blank", "  ", win, {}, 0, KeySearch::Exact);
    }
    void search()
    {
        QFETCH(QString, text);
        QFETCH(int, shown);
        QFETCH(QStringList, first);
        QFETCH(int, count);
        QFETCH(int, match);
        const KeySearch search(m_windows, m_mac);
        const QVector<KeySearch::Hit> hits = search.find(text, KeySearch::Version(shown));
        QVector<int> order;
        for (const KeySearch::Hit &h : hits)
            order.append(h.index);
        QCOMPARE(aliases(m_windows, order).mid(0, first.size()), first);
        if (count >= 0)
            QCOMPARE(hits.size(), count);
        if (!hits.isEmpty())
            QCOMPARE(int(hits.first().match), match);
        // Each key once.
        QCOMPARE(QSet<int>(order.begin(), order.end()).size(), order.size());
    }

    void keyPress_data()
    {
        QTest::addColumn<uint>("scanCode"); // X keycode
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("alias"); // the palette key selected, "" for none
        QTest::addColumn<bool>("modifiersIgnored");
        const int none = Qt::NoModifier;
        auto row = [](const char *name, uint scan, int key, int mods, KeyPressMatch::Kind kind,
                      const char *alias, bool ignored = false) {
            QTest::newRow(name) << scan << key << mods << int(kind) << QString::fromUtf8(alias)
                                << ignored;
        };
        const auto K = KeyPressMatch::Key;
        const auto M = KeyPressMatch::Modifier;
        row("letter", 38, Qt::Key_A, none, K, "A");
        // The position counts, not the layout's letter (a French A is the US Q).
        row("letter by position", 24, Qt::Key_A, none, K, "Q");
        row("letter without scan code", 0, Qt::Key_A, none, K, "A");
        row("letter with ctrl", 38, Qt::Key_A, Qt::ControlModifier, K, "A", true);
        row("digit", 10, Qt::Key_1, none, K, "1");
        row("shifted digit without scan code", 0, Qt::Key_Exclam, Qt::ShiftModifier, K, "1", true);
        row("escape", 9, Qt::Key_Escape, none, K, "Esc");
        row("F1", 67, Qt::Key_F1, none, K, "F1");
        row("F12", 96, Qt::Key_F12, none, K, "F12");
        row("F13", 191, Qt::Key_F13, none, K, "F13");
        row("F24 without scan code", 0, Qt::Key_F24, none, K, "F24");
        row("delete", 119, Qt::Key_Delete, none, K, "Del");
        row("page down", 117, Qt::Key_PageDown, none, K, "PgDn");
        row("minus", 20, Qt::Key_Minus, none, K, "-");
        row("menu key", 135, Qt::Key_Menu, none, K, "App");
        row("keypad enter", 104, Qt::Key_Enter, Qt::KeypadModifier, K, "KpEnter");
        row("keypad 1 without scan code", 0, Qt::Key_End, Qt::KeypadModifier, K, "Kp1");
        row("ISO key", 94, Qt::Key_Less, none, K, "ISO\\");
        row("mute", 121, Qt::Key_VolumeMute, none, K, "Mute");
        row("play/pause", 172, Qt::Key_MediaTogglePlayPause, none, K, "Play");
        row("mute without scan code", 0, Qt::Key_VolumeMute, none, K, "Mute");
        row("left ctrl", 37, Qt::Key_Control, none, M, "LCtrl");
        row("right ctrl", 105, Qt::Key_Control, Qt::ControlModifier, M, "RCtrl");
        row("left shift", 50, Qt::Key_Shift, none, M, "LShift");
        row("right shift", 62, Qt::Key_Shift, none, M, "RShift");
        row("left alt", 64, Qt::Key_Alt, none, M, "LAlt");
        row("right alt", 108, Qt::Key_AltGr, none, M, "RAlt");
        row("left super", 133, Qt::Key_Super_L, none, M, "LWin");
        row("right super", 134, Qt::Key_Super_R, none, M, "RWin");
        row("ctrl without scan code", 0, Qt::Key_Control, none, M, "LCtrl");
        row("keypad plus-minus", 126, Qt::Key_unknown, none, KeyPressMatch::NotInPalette, "");
        row("browser key", 158, Qt::Key_WWW, none, KeyPressMatch::NotInPalette, "");
        row("play without scan code", 0, Qt::Key_MediaPlay, none, KeyPressMatch::NotInPalette, "");
        row("unknown keycode", 255, Qt::Key_unknown, none, KeyPressMatch::Unknown, "");
        row("nothing", 0, 0, none, KeyPressMatch::Unknown, "");
    }
    void keyPress()
    {
        QFETCH(uint, scanCode);
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, kind);
        QFETCH(QString, alias);
        QFETCH(bool, modifiersIgnored);
        KeyPress press;
        press.nativeScanCode = scanCode;
        press.key = key;
        press.modifiers = Qt::KeyboardModifiers(modifiers);
        const KeyPressMatch m = KeyPressMatch::match(press, m_windows);
        QCOMPARE(int(m.kind), kind);
        QCOMPARE(m.paletteIndex >= 0 ? m_windows.at(m.paletteIndex).alias : QString(), alias);
        QCOMPARE(m.modifiersIgnored, modifiersIgnored);
        // Known keys say which usage they are, also when the palette lacks it.
        QCOMPARE(m.usage.isValid(), m.kind != KeyPressMatch::Unknown);
    }
};

QTEST_GUILESS_MAIN(TestKeySearch)
#include "tst_keysearch.moc"

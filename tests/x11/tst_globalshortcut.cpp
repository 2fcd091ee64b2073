// The X11 hot key: Ctrl+D pressed on the display (whatever Caps Lock and
// Num Lock say) emits activated(); released hot keys stay silent and free the
// grab; a combination held by another client is refused without ending us.
#include "device/wirerecords.h"
#include "globalHook/qxtglobalshortcut.h"
#include "sessionfixture.h"
#include "shortcut/shortcuts.h"
#include "shortcut/shortcutsitem.h"
#include "shortcut/shortcutskb.h"

#include <QApplication>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <X11/Xlib.h>
#include <X11/keysym.h>

namespace {
bool s_xError = false;
int recordError(Display *, XErrorEvent *)
{
    return s_xError = true, 0;
}
const QKeySequence kCtrlD(QStringLiteral("Ctrl+D"));

void xdotoolKey(const QString &keys)
{
    QCOMPARE(QProcess::execute(QStringLiteral("xdotool"), {QStringLiteral("key"), keys}), 0);
}

// A second client on the same display: the desktop's other programs.
class OtherClient
{
public:
    ~OtherClient() { XCloseDisplay(m_display); }
    // True when the server granted the grab of D with `mods`.
    bool grab(unsigned int mods)
    {
        s_xError = false;
        XErrorHandler previous = XSetErrorHandler(&recordError);
        XGrabKey(m_display, key(), mods, root(), True, GrabModeAsync, GrabModeAsync);
        XSync(m_display, False);
        XSetErrorHandler(previous);
        return !s_xError;
    }
    void ungrab(unsigned int mods)
    {
        XUngrabKey(m_display, key(), mods, root());
        XSync(m_display, False);
    }
    unsigned int modifierState()
    {
        Window r, c;
        int x, y, wx, wy;
        unsigned int mask = 0;
        XQueryPointer(m_display, root(), &r, &c, &x, &y, &wx, &wy, &mask);
        return mask;
    }

private:
    Window root() const { return DefaultRootWindow(m_display); }
    int key() const { return XKeysymToKeycode(m_display, XK_d); }
    Display *m_display = XOpenDisplay(nullptr);
};
} // namespace

class TestGlobalShortcut : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void activatesWithAnyLockState()
    {
        QxtGlobalShortcut shortcut;
        QVERIFY(shortcut.setShortcut(kCtrlD));
        QCOMPARE(shortcut.shortcut(), kCtrlD);
        QSignalSpy spy(&shortcut, &QxtGlobalShortcut::activated);
        OtherClient other;
        unsigned int locks = 0; // no lock, Caps, Caps + Num, Num, none again
        for (const QString toggle : {"", "Caps_Lock", "Num_Lock", "Caps_Lock", "Num_Lock"}) {
            if (!toggle.isEmpty()) {
                xdotoolKey(toggle);
                locks ^= toggle.startsWith('C') ? LockMask : Mod2Mask;
            }
            QTRY_COMPARE(other.modifierState() & (LockMask | Mod2Mask), locks);
            const int before = spy.count();
            xdotoolKey(QStringLiteral("ctrl+d"));
            QTRY_COMPARE(spy.count(), before + 1);
        }
        xdotoolKey(QStringLiteral("ctrl+shift+d")); // other modifiers: not ours
        xdotoolKey(QStringLiteral("d"));
        shortcut.setEnabled(false);
        xdotoolKey(QStringLiteral("ctrl+d"));
        QTest::qWait(300);
        QCOMPARE(spy.count(), 5);
    }

    void releasedShortcutIsSilentAndFree()
    {
        OtherClient other;
        {
            QxtGlobalShortcut shortcut(kCtrlD);
            QVERIFY(!other.grab(ControlMask));
            shortcut.unsetShortcut();
            QVERIFY(shortcut.shortcut().isEmpty());
            QVERIFY(other.grab(ControlMask | Mod2Mask | LockMask));
            other.ungrab(ControlMask | Mod2Mask | LockMask);
            QVERIFY(shortcut.setShortcut(kCtrlD));
            QVERIFY(!other.grab(ControlMask | LockMask));
        } // destroyed: ungrabbed
        for (unsigned int lock : {0u, unsigned(Mod2Mask), unsigned(LockMask)}) {
            QVERIFY(other.grab(ControlMask | lock));
            other.ungrab(ControlMask | lock);
        }
        QxtGlobalShortcut silent;
        QSignalSpy spy(&silent, &QxtGlobalShortcut::activated);
        QVERIFY(silent.setShortcut(kCtrlD));
        silent.unsetShortcut();
        xdotoolKey(QStringLiteral("ctrl+d"));
        QTest::qWait(300);
        QCOMPARE(spy.count(), 0);
    }

    void grabHeldByAnotherClientIsRefused()
    {
        OtherClient other;
        QVERIFY(other.grab(ControlMask | LockMask)); // one of the four variants
        QxtGlobalShortcut shortcut;
        QVERIFY(!shortcut.setShortcut(kCtrlD));
        QVERIFY(shortcut.shortcut().isEmpty());
        // Still running, and the variants granted before the refusal were let go.
        QVERIFY(other.grab(ControlMask) && other.grab(ControlMask | Mod2Mask));
        for (unsigned int lock : {0u, unsigned(Mod2Mask), unsigned(LockMask)})
            other.ungrab(ControlMask | lock);
        QVERIFY(shortcut.setShortcut(kCtrlD));
        QxtGlobalShortcut twin; // a second owner inside the program
        QVERIFY(!twin.setShortcut(kCtrlD));
    }

    void virtualKeyboardFollowsCtrlD()
    {
        TestSupport::SessionFixture f;
        sim::SimKeyboard *kb = f.bus.plug(sim::Personality::DualMode);
        kf_t web{};
        web.setInUse(true);
        web.setHi(1); // "Open website"
        web.keys[0].setType(1);
        web.keys[0].setCode(0x04);
        kb->setKeyFunction(0, QByteArray(reinterpret_cast<const char *>(&web), sizeof web));
        Lumory *w = f.start();
        QVERIFY(f.waitLoaded());
        QTRY_VERIFY(w->shortcutsPage() && w->shortcutsPage()->isLoaded());
        Shortcuts *page = w->shortcutsPage();
        QCOMPARE(page->hotKey()->shortcut(), kCtrlD);
        ShortcutsKB *vkb = page->virtualKeyboard();
        xdotoolKey(QStringLiteral("Caps_Lock"));
        xdotoolKey(QStringLiteral("ctrl+d"));
        QTRY_VERIFY(vkb->isVisible());
        xdotoolKey(QStringLiteral("Caps_Lock"));
        xdotoolKey(QStringLiteral("ctrl+d"));
        QTRY_VERIFY(!vkb->isVisible());

        // Without a web, document or folder function Ctrl+D is left to others.
        page->items().first()->setSelect(true);
        page->itemDeleteButtonSlot();
        QTRY_VERIFY(page->items().isEmpty());
        QVERIFY(page->hotKey()->shortcut().isEmpty());
        OtherClient other;
        QVERIFY(other.grab(ControlMask));
        other.ungrab(ControlMask);
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("SKIP: no X display");
        return 77;
    }
    QApplication app(argc, argv);
    TestGlobalShortcut test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_globalshortcut.moc"

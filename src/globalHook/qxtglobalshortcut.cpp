#include "qxtglobalshortcut.h"

#include <QAbstractEventDispatcher>
#include <QAbstractNativeEventFilter>
#include <QDebug>
#include <QGuiApplication>
#include <QHash>
#include <QPair>
#include <QPointer>
#include <QScreen>
#include <qpa/qplatformnativeinterface.h>

#include <X11/Xlib.h>
#include <xcb/xcb.h>

namespace {
using NativeCombo = QPair<unsigned int, unsigned int>; // key code, modifier mask

// Modifiers that select a hot key; the lock modifiers are ignored.
constexpr unsigned int kComboModMask = ShiftMask | ControlMask | Mod1Mask | Mod4Mask;
// Each hot key is grabbed once per combination of Num Lock and Caps Lock.
constexpr unsigned int kLockVariants[] = {0, Mod2Mask, LockMask, Mod2Mask | LockMask};

QHash<NativeCombo, QxtGlobalShortcut *> &shortcutTable()
{
    static QHash<NativeCombo, QxtGlobalShortcut *> table;
    return table;
}

// Qt's own Xlib connection, so that grabbed key presses arrive in the
// application's event stream. Null on any platform other than xcb.
Display *qtDisplay()
{
    static bool reported = false;
    Display *display = nullptr;
    if (qGuiApp && QGuiApplication::platformName() == QLatin1String("xcb")) {
        if (QPlatformNativeInterface *native = QGuiApplication::platformNativeInterface())
            display = static_cast<Display *>(
                native->nativeResourceForScreen("display", QGuiApplication::primaryScreen()));
    }
    if (!display && !reported) {
        reported = true;
        qDebug() << "No X11 display, global shortcut disabled; platform:"
                 << QGuiApplication::platformName();
    }
    return display;
}

// Catches the X errors of the requests made while it lives. Xlib reports an
// error only when the reply stream is read, so the previous handler is put
// back only after XSync; otherwise a refused grab would reach Xlib's default
// handler, which ends the program.
class XErrorTrap
{
public:
    explicit XErrorTrap(Display *display) : m_display(display)
    {
        s_failed = false;
        m_previous = XSetErrorHandler(&XErrorTrap::handler);
    }
    ~XErrorTrap() { finish(); }
    XErrorTrap(const XErrorTrap &) = delete;
    XErrorTrap &operator=(const XErrorTrap &) = delete;

    // Waits for the server to process everything sent; true when any request failed.
    bool finish()
    {
        if (m_active) {
            XSync(m_display, False);
            XSetErrorHandler(m_previous);
            m_active = false;
        }
        return s_failed;
    }

private:
    static int handler(Display *, XErrorEvent *event)
    {
        qDebug() << "X error while (un)grabbing a global shortcut, code" << event->error_code
                 << "request" << event->request_code;
        s_failed = true;
        return 0;
    }

    static bool s_failed;
    Display *m_display;
    XErrorHandler m_previous = nullptr;
    bool m_active = true;
};
bool XErrorTrap::s_failed = false;

bool nativeCombo(Display *display, const QKeySequence &sequence, NativeCombo *combo)
{
    const int first = sequence[0];
    const auto key = static_cast<Qt::Key>(first & ~Qt::KeyboardModifierMask);
    const auto mods = static_cast<Qt::KeyboardModifiers>(first & Qt::KeyboardModifierMask);
    const QByteArray name = QKeySequence(key).toString(QKeySequence::PortableText).toLatin1();
    const KeySym sym = XStringToKeysym(name.constData());
    if (name.isEmpty() || sym == NoSymbol)
        return false;
    combo->first = XKeysymToKeycode(display, sym);
    combo->second = (mods & Qt::ShiftModifier ? ShiftMask : 0) |
                    (mods & Qt::ControlModifier ? ControlMask : 0) |
                    (mods & Qt::AltModifier ? Mod1Mask : 0) |
                    (mods & Qt::MetaModifier ? Mod4Mask : 0);
    return combo->first != 0;
}

void ungrab(Display *display, const NativeCombo &combo)
{
    const Window root = DefaultRootWindow(display);
    for (unsigned int lock : kLockVariants)
        XUngrabKey(display, static_cast<int>(combo.first), combo.second | lock, root);
}
} // namespace

class QxtShortcutFilter : public QAbstractNativeEventFilter
{
public:
    bool nativeEventFilter(const QByteArray &eventType, void *message, long *) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_KEY_PRESS)
            return false;
        const auto *key = static_cast<const xcb_key_press_event_t *>(message);
        const NativeCombo combo(key->detail, key->state & kComboModMask);
        QxtGlobalShortcut *shortcut = shortcutTable().value(combo);
        if (shortcut && shortcut->isEnabled())
            Q_EMIT shortcut->activated();
        return false;
    }

    // Once per event dispatcher; a new application gets a new dispatcher.
    void installOnce()
    {
        QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance();
        if (dispatcher && dispatcher != m_installedOn) {
            dispatcher->installNativeEventFilter(this);
            m_installedOn = dispatcher;
        }
    }

private:
    QPointer<QAbstractEventDispatcher> m_installedOn;
};

namespace {
QxtShortcutFilter &shortcutFilter()
{
    static QxtShortcutFilter filter;
    return filter;
}
} // namespace

QxtGlobalShortcut::QxtGlobalShortcut(QObject *parent) : QObject(parent)
{
    shortcutFilter().installOnce();
}

QxtGlobalShortcut::QxtGlobalShortcut(const QKeySequence &shortcut, QObject *parent)
    : QxtGlobalShortcut(parent)
{
    setShortcut(shortcut);
}

QxtGlobalShortcut::~QxtGlobalShortcut()
{
    unsetShortcut();
}

QKeySequence QxtGlobalShortcut::shortcut() const
{
    return m_shortcut;
}

bool QxtGlobalShortcut::setShortcut(const QKeySequence &shortcut)
{
    unsetShortcut();
    if (shortcut.isEmpty())
        return false;
    Display *display = qtDisplay();
    if (!display)
        return false;
    NativeCombo combo;
    if (!nativeCombo(display, shortcut, &combo)) {
        qDebug() << "Global shortcut has no X key code:" << shortcut.toString();
        return false;
    }
    if (shortcutTable().contains(combo)) {
        qDebug() << "Global shortcut already registered here:" << shortcut.toString();
        return false;
    }

    XErrorTrap trap(display);
    const Window root = DefaultRootWindow(display);
    for (unsigned int lock : kLockVariants)
        XGrabKey(display, static_cast<int>(combo.first), combo.second | lock, root, True,
                 GrabModeAsync, GrabModeAsync);
    if (trap.finish()) {
        // Some variants may have been granted; releasing ones we do not hold is harmless.
        XErrorTrap releaseTrap(display);
        ungrab(display, combo);
        releaseTrap.finish();
        qDebug() << "Global shortcut refused by the X server:" << shortcut.toString();
        return false;
    }

    shortcutTable().insert(combo, this);
    m_shortcut = shortcut;
    m_nativeKey = combo.first;
    m_nativeMods = combo.second;
    m_registered = true;
    return true;
}

void QxtGlobalShortcut::unsetShortcut()
{
    if (!m_registered)
        return;
    m_registered = false;
    m_shortcut = QKeySequence();
    const NativeCombo combo(m_nativeKey, m_nativeMods);
    if (shortcutTable().value(combo) == this)
        shortcutTable().remove(combo);
    // The X connection goes away with the application; nothing to release then.
    if (!qGuiApp)
        return;
    if (Display *display = qtDisplay()) {
        XErrorTrap trap(display);
        ungrab(display, combo);
    }
}

bool QxtGlobalShortcut::isEnabled() const
{
    return m_enabled;
}

void QxtGlobalShortcut::setEnabled(bool enabled)
{
    m_enabled = enabled;
}

void QxtGlobalShortcut::setDisabled(bool disabled)
{
    m_enabled = !disabled;
}

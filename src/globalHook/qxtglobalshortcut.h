#pragma once

#include <QKeySequence>
#include <QObject>

// One system-wide hot key on the X display: while registered, pressing the
// combination anywhere on the desktop emits activated(), whatever the state
// of Caps Lock and Num Lock. Without an X11 display (offscreen, Wayland) no
// hot key can be registered and setShortcut() returns false.
class QxtGlobalShortcut : public QObject
{
    Q_OBJECT

public:
    explicit QxtGlobalShortcut(QObject *parent = nullptr);
    explicit QxtGlobalShortcut(const QKeySequence &shortcut, QObject *parent = nullptr);
    ~QxtGlobalShortcut() override;

    QxtGlobalShortcut(const QxtGlobalShortcut &) = delete;
    QxtGlobalShortcut &operator=(const QxtGlobalShortcut &) = delete;

    // The registered sequence; empty when none is registered.
    QKeySequence shortcut() const;
    // Releases the current hot key and registers the first key of `shortcut`.
    // False when the sequence cannot be mapped, another client (or another
    // instance here) already owns the combination, or there is no X display.
    bool setShortcut(const QKeySequence &shortcut);
    void unsetShortcut();

    bool isEnabled() const;

public Q_SLOTS:
    void setEnabled(bool enabled = true);
    void setDisabled(bool disabled = true);

Q_SIGNALS:
    void activated();

private:
    friend class QxtShortcutFilter;

    QKeySequence m_shortcut;
    bool m_enabled = true;
    bool m_registered = false;
    unsigned int m_nativeKey = 0;
    unsigned int m_nativeMods = 0;
};

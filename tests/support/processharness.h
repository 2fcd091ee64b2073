#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace TestSupport {

// Runs the real Lumory executable as a separate process: a private copy of the
// binary (so its single-instance socket name is unique to the test), its data
// beside it, and a scratch HOME.
class LumoryInstall
{
public:
    LumoryInstall();
    bool isValid() const { return m_valid; }
    QString dir() const { return m_dir.path(); }
    QString executable() const { return m_executable; }
    QString todaysLog() const;

    // Starts an instance; `platform` is the Qt platform plugin to use.
    QProcess *start(const QStringList &arguments = {},
                    const QString &platform = QStringLiteral("offscreen"));

private:
    QTemporaryDir m_dir;
    QTemporaryDir m_home;
    QString m_executable;
    bool m_valid = false;
};

// Waits until the process has written `text` to its standard output; the
// output read so far is appended to `seen`.
bool waitForOutput(QProcess *process, const QString &text, QString *seen, int timeoutMs = 15000);

} // namespace TestSupport

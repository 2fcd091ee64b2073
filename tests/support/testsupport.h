#pragma once

#include "widget/dialogs.h"

#include <QByteArray>

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <cstdint>
#include <functional>

namespace sim {
class SimKeyboard;
}

namespace TestSupport {

// A scratch application directory holding a copy of the shipped config/ and
// images/ trees; the program's data paths point at it while it lives.
class ScratchAppDir
{
public:
    explicit ScratchAppDir(bool copyData = true);
    ~ScratchAppDir();
    QString path() const { return m_dir.path(); }
    QString configFile(const QString &name) const;
    bool isValid() const { return m_dir.isValid(); }

private:
    QTemporaryDir m_dir;
};

// Points $HOME at a scratch directory while it lives.
class ScopedHome
{
public:
    ScopedHome();
    ~ScopedHome();
    QString path() const { return m_dir.path(); }
    QString profile() const { return m_dir.path() + QStringLiteral("/.profile"); }

private:
    QTemporaryDir m_dir;
    QByteArray m_old;
    bool m_hadOld = false;
};

// Answers every message box, file dialog and modal dialog while it lives.
// Message boxes get the queued answers in order, then `defaultAnswer`.
class DialogRecorder
{
public:
    DialogRecorder();
    ~DialogRecorder();

    QList<Dialogs::MessageRequest> messages;
    QList<Dialogs::FileRequest> files;
    QStringList execDialogs; // object names of dialogs run modally
    QQueue<int> answers;
    int defaultAnswer = QMessageBox::Ok;
    QQueue<QString> fileAnswers;
    int execResult = 0;
    QList<Dialogs::ColorRequest> colors;
    QQueue<QColor> colorAnswers; // an invalid colour (or none left) cancels

    // The next box, file dialog or modal dialog does not answer at once: as
    // a real box's event loop would, it first runs `action` (an unplug, Exit,
    // SIGTERM, ...) and lets queued work run until `done` holds (or
    // `spinMs` pass), then answers as usual. Opened boxes are counted.
    void interruptNext(std::function<void()> action, std::function<bool()> done = {},
                       int spinMs = 3000);
    // Boxes to answer normally before the interrupted one.
    int interruptAfter = 0;
    int opened = 0;
    // Whether the interruption's `done` held before the box answered.
    bool interruptDone = false;

private:
    void interrupt();
    std::function<void()> m_action;
    std::function<bool()> m_done;
    int m_spinMs = 0;
};

// Whole-file helpers for assertions and fixtures.
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &data);

// The request frames of one command (command, sub-command) a simulated
// keyboard received, in order.
QList<QByteArray> framesOf(sim::SimKeyboard *keyboard, uint8_t command, uint8_t subCommand);

// Copies a directory tree; false on the first failure.
bool copyTree(const QString &from, const QString &to);

// The lines of a text file.
QStringList readLines(const QString &path);

// Messages of today's log in an application directory (without time, level
// and source).
QStringList logMessages(const QString &appDir);
// True when `expected` appear in this order among `messages` (each matched by
// prefix); `missing` receives the first one not found.
bool hasInOrder(const QStringList &messages, const QStringList &expected,
                QString *missing = nullptr);

// Directory holding the shipped data (data/ of the source tree).
QString sourceDataDir();
// The build directory (where Lumory and its config/ live).
QString buildDir();

} // namespace TestSupport

#pragma once

#include <QColor>
#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class QDialog;
class QWidget;

// Every message box, file dialog and modal dialog of the program goes through
// here, so that tests can answer them instead of blocking on a modal loop.
namespace Dialogs {

struct MessageRequest
{
    QMessageBox::Icon icon = QMessageBox::Information;
    QString title;
    QString text;
    QMessageBox::StandardButtons buttons = QMessageBox::Ok;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    // When not empty, these buttons are shown instead of `buttons` and the
    // answer is the index of the one chosen (-1 when the box was closed).
    QStringList customButtons;
    int defaultCustomButton = 0;
};

enum class FileMode
{
    Open,
    Save,
    Directory
};

struct FileRequest
{
    FileMode mode = FileMode::Open;
    QString caption;
    QString directory;
    QString filter;
};

// Shows a message box. Returns the StandardButton pressed, or the index of
// the custom button.
int message(QWidget *parent, const MessageRequest &request);
// The box message() shows (the caller owns it): the request's icon, texts
// and buttons, in the program's dark theme. Its style sheet is complete, so
// a parent page's style sheet cannot change its colours. A custom button
// carries its index in the property "customIndex".
QMessageBox *buildMessageBox(QWidget *parent, const MessageRequest &request);

// Convenience wrappers.
QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                        QMessageBox::StandardButton def = QMessageBox::NoButton);
QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                    QMessageBox::StandardButton def = QMessageBox::NoButton);
QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons = QMessageBox::Ok,
                                     QMessageBox::StandardButton def = QMessageBox::NoButton);
QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons = QMessageBox::Yes |
                                                                            QMessageBox::No,
                                     QMessageBox::StandardButton def = QMessageBox::NoButton);

// A file or directory chooser; empty when cancelled.
QString file(QWidget *parent, const FileRequest &request);

// Runs a modal dialog (About, Help, ...) and returns its result code.
int exec(QDialog *dialog);

struct ColorRequest
{
    QColor initial;
    QString title;
};

// A colour chooser with the alpha channel shown; an invalid colour when
// cancelled.
QColor color(QWidget *parent, const QColor &initial, const QString &title);

// Boxes and modal dialogs run a nested event loop, and anything queued can
// run inside it: an unplug, Exit, SIGTERM. An object whose method waits in a
// box must therefore not be deleted until that box has returned. Owners
// delete pages, sessions and menus through deleteSafely(); a method that
// opened a box checks isReleased(this) (and re-checks what it holds) when the
// box returns.

// Boxes, file dialogs and modal dialogs open now (including answered ones in
// tests while their handler runs).
int openCount();
// Deletes `object` at once when no box is open. Otherwise hides it (when it
// is a widget), cuts its outgoing connections, marks it released and deletes
// it once the last box has closed and control is back in the event loop.
// Main thread only.
void deleteSafely(QObject *object);
// True once deleteSafely() has been called for `object`.
bool isReleased(const QObject *object);

// Test hooks: while set, the handlers answer instead of real dialogs.
// Setting an empty function restores the real dialogs.
using MessageHandler = std::function<int(const MessageRequest &)>;
using FileHandler = std::function<QString(const FileRequest &)>;
using ExecHandler = std::function<int(QDialog *)>;
using ColorHandler = std::function<QColor(const ColorRequest &)>;
void setMessageHandler(MessageHandler handler);
void setFileHandler(FileHandler handler);
void setExecHandler(ExecHandler handler);
void setColorHandler(ColorHandler handler);

} // namespace Dialogs

#include "widget/dialogs.h"

#include <QColorDialog>
#include <QDialog>
#include <QFileDialog>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QVariant>
#include <QVector>
#include <QWidget>

#include <utility>

namespace Dialogs {

namespace {
MessageHandler g_messageHandler;
FileHandler g_fileHandler;
ExecHandler g_execHandler;
ColorHandler g_colorHandler;

int g_openCount = 0;
QVector<QPointer<QObject>> g_pendingDeletes;
// Real boxes and dialogs running now, so that a box about something that goes
// away can be closed with it.
QVector<QPointer<QDialog>> g_openDialogs;

int runModal(QDialog *dialog)
{
    g_openDialogs.append(dialog);
    const int result = dialog->exec();
    g_openDialogs.removeAll(QPointer<QDialog>(dialog));
    g_openDialogs.removeAll(QPointer<QDialog>());
    return result;
}

bool isInside(const QObject *object, const QObject *ancestor)
{
    for (; object; object = object->parent()) {
        if (object == ancestor)
            return true;
    }
    return false;
}
const char kReleasedProperty[] = "_lumory_released";

void deletePending()
{
    if (g_openCount > 0)
        return; // a new box opened meanwhile: wait for it too
    const QVector<QPointer<QObject>> pending = std::exchange(g_pendingDeletes, {});
    for (const QPointer<QObject> &object : pending)
        delete object.data();
}

// Counts a box for as long as it is open.
class OpenScope
{
public:
    OpenScope() { ++g_openCount; }
    ~OpenScope()
    {
        if (--g_openCount == 0 && !g_pendingDeletes.isEmpty()) {
            // The method that opened the box is still on the stack: delete
            // once control is back in the event loop.
            QTimer::singleShot(0, &deletePending);
        }
    }
    OpenScope(const OpenScope &) = delete;
    OpenScope &operator=(const OpenScope &) = delete;
};
} // namespace

int openCount()
{
    return g_openCount;
}

void deleteSafely(QObject *object)
{
    if (!object)
        return;
    object->setProperty(kReleasedProperty, true);
    if (g_openCount == 0) {
        delete object;
        return;
    }
    if (auto *widget = qobject_cast<QWidget *>(object))
        widget->hide();
    // A box about the released object (its question, its colour dialog)
    // closes with it; its method sees isReleased() when the box returns.
    for (const QPointer<QDialog> &dialog : qAsConst(g_openDialogs)) {
        if (dialog && dialog != object && isInside(dialog->parent(), object))
            dialog->reject();
    }
    object->disconnect();
    g_pendingDeletes.append(object);
}

bool isReleased(const QObject *object)
{
    return object && object->property(kReleasedProperty).toBool();
}

int message(QWidget *parent, const MessageRequest &request)
{
    const OpenScope scope;
    if (g_messageHandler)
        return g_messageHandler(request);

    // Guarded: a parent deleted while the box runs takes the box with it.
    const QPointer<QMessageBox> box = buildMessageBox(parent, request);
    int result = runModal(box);
    if (!request.customButtons.isEmpty()) {
        const QAbstractButton *clicked = box ? box->clickedButton() : nullptr;
        result = clicked ? clicked->property("customIndex").toInt() : -1;
    }
    delete box.data();
    return result;
}

namespace {
// Every part a box has, fully styled: a parent's style sheet (a page's
// "QLabel { color: ... }") cascades into the box otherwise.
const char kMessageBoxStyle[] =
    "QMessageBox { background: #1b1d23; border: 1px solid #3a3f4b; }"
    "QMessageBox QLabel { color: #e8eaed; background: transparent; border: none;"
    "  padding: 0; margin: 0; font-size: 10pt; font-weight: normal; }"
    "QMessageBox QPushButton { background: #2c313a; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  border-radius: 6px; padding: 6px 16px; margin: 0; min-width: 64px; font-size: 10pt;"
    "  font-weight: normal; }"
    "QMessageBox QPushButton:default { border-color: #46e6b7; }"
    "QMessageBox QPushButton:hover, QMessageBox QPushButton:focus { border-color: #46e6b7;"
    "  color: #ffffff; }"
    "QMessageBox QPushButton:pressed { background: #46e6b7; color: #1b1d23; }"
    "QMessageBox QCheckBox { color: #e8eaed; background: transparent; font-size: 10pt; }"
    "QMessageBox QTextEdit { background: #22252d; color: #e8eaed; border: 1px solid #3a3f4b;"
    "  selection-background-color: #46e6b7; selection-color: #1b1d23; }";
} // namespace

QMessageBox *buildMessageBox(QWidget *parent, const MessageRequest &request)
{
    auto *box =
        new QMessageBox(request.icon, request.title, request.text, QMessageBox::NoButton, parent);
    box->setAttribute(Qt::WA_StyledBackground); // draws the border too
    box->setStyleSheet(QLatin1String(kMessageBoxStyle));
    box->setTextFormat(Qt::AutoText);
    if (request.customButtons.isEmpty()) {
        box->setStandardButtons(request.buttons);
        if (request.defaultButton != QMessageBox::NoButton)
            box->setDefaultButton(request.defaultButton);
        return box;
    }
    for (int i = 0; i < request.customButtons.size(); ++i) {
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        QPushButton *button = box->addButton(request.customButtons.at(i), role);
        button->setProperty("customIndex", i);
        if (i == request.defaultCustomButton)
            box->setDefaultButton(button);
    }
    return box;
}

namespace {
QMessageBox::StandardButton simple(QWidget *parent, QMessageBox::Icon icon, const QString &title,
                                   const QString &text, QMessageBox::StandardButtons buttons,
                                   QMessageBox::StandardButton def)
{
    MessageRequest request;
    request.icon = icon;
    request.title = title;
    request.text = text;
    request.buttons = buttons;
    request.defaultButton = def;
    return static_cast<QMessageBox::StandardButton>(message(parent, request));
}
} // namespace

QMessageBox::StandardButton information(QWidget *parent, const QString &title, const QString &text,
                                        QMessageBox::StandardButtons buttons,
                                        QMessageBox::StandardButton def)
{
    return simple(parent, QMessageBox::Information, title, text, buttons, def);
}

QMessageBox::StandardButton warning(QWidget *parent, const QString &title, const QString &text,
                                    QMessageBox::StandardButtons buttons,
                                    QMessageBox::StandardButton def)
{
    return simple(parent, QMessageBox::Warning, title, text, buttons, def);
}

QMessageBox::StandardButton critical(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton def)
{
    return simple(parent, QMessageBox::Critical, title, text, buttons, def);
}

QMessageBox::StandardButton question(QWidget *parent, const QString &title, const QString &text,
                                     QMessageBox::StandardButtons buttons,
                                     QMessageBox::StandardButton def)
{
    return simple(parent, QMessageBox::Question, title, text, buttons, def);
}

QString file(QWidget *parent, const FileRequest &request)
{
    const OpenScope scope;
    if (g_fileHandler)
        return g_fileHandler(request);
    switch (request.mode) {
    case FileMode::Open:
        return QFileDialog::getOpenFileName(parent, request.caption, request.directory,
                                            request.filter);
    case FileMode::Save:
        return QFileDialog::getSaveFileName(parent, request.caption, request.directory,
                                            request.filter);
    case FileMode::Directory:
        return QFileDialog::getExistingDirectory(parent, request.caption, request.directory);
    }
    return QString();
}

int exec(QDialog *dialog)
{
    const OpenScope scope;
    if (g_execHandler)
        return g_execHandler(dialog);
    return runModal(dialog);
}

QColor color(QWidget *parent, const QColor &initial, const QString &title)
{
    const OpenScope scope;
    if (g_colorHandler)
        return g_colorHandler(ColorRequest{initial, title});
    // Guarded: a parent deleted while the dialog runs takes the dialog along.
    const QPointer<QColorDialog> dialog = new QColorDialog(initial, parent);
    dialog->setWindowTitle(title);
    dialog->setOption(QColorDialog::ShowAlphaChannel);
    const bool accepted = runModal(dialog) == QDialog::Accepted && dialog;
    const QColor chosen = accepted ? dialog->selectedColor() : QColor();
    delete dialog.data();
    return chosen;
}

void setMessageHandler(MessageHandler handler)
{
    g_messageHandler = std::move(handler);
}

void setFileHandler(FileHandler handler)
{
    g_fileHandler = std::move(handler);
}

void setExecHandler(ExecHandler handler)
{
    g_execHandler = std::move(handler);
}

void setColorHandler(ColorHandler handler)
{
    g_colorHandler = std::move(handler);
}

} // namespace Dialogs

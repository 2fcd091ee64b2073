#include "widget/dialogs.h"

#include <QDialog>
#include <QFileDialog>
#include <QPushButton>

namespace Dialogs {

namespace {
MessageHandler g_messageHandler;
FileHandler g_fileHandler;
ExecHandler g_execHandler;
} // namespace

int message(QWidget *parent, const MessageRequest &request)
{
    if (g_messageHandler)
        return g_messageHandler(request);

    QMessageBox box(request.icon, request.title, request.text, QMessageBox::NoButton, parent);
    box.setTextFormat(Qt::AutoText);
    if (request.customButtons.isEmpty()) {
        box.setStandardButtons(request.buttons);
        if (request.defaultButton != QMessageBox::NoButton)
            box.setDefaultButton(request.defaultButton);
        return box.exec();
    }
    QList<QAbstractButton *> buttons;
    for (int i = 0; i < request.customButtons.size(); ++i) {
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        QPushButton *button = box.addButton(request.customButtons.at(i), role);
        buttons.append(button);
        if (i == request.defaultCustomButton)
            box.setDefaultButton(button);
    }
    box.exec();
    return buttons.indexOf(box.clickedButton());
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
    if (g_execHandler)
        return g_execHandler(dialog);
    return dialog->exec();
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

} // namespace Dialogs

#pragma once

#include <QList>
#include <QPoint>
#include <QPushButton>
#include <QString>
#include <QVector>
#include <QWidget>

class QGridLayout;

// One button of the virtual keyboard: its icon centred above a text of one or
// two lines, 100 x 40 pixels, drawn for the dark window. Text that does not
// fit is cut at the last visible line with "…"; the tool tip tells it all.
class CPushButton : public QPushButton
{
    Q_OBJECT

public:
    explicit CPushButton(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The "Virtual Keyboard" window: a small frameless, always-on-top panel with
// one button per key function that the host carries out (web site, document
// or application, folder). It knows nothing of the key-function page: the page
// hands it the entries and carries out the one whose button was clicked.
// The window can be dragged with the left mouse button.
class ShortcutsKB : public QWidget
{
    Q_OBJECT

public:
    // One key function as the page sees it.
    struct Entry
    {
        int type = 0;    // control type: 1 web site, 2 document/application, 3 folder
        QString text;    // the URL, command line or folder path
        QString toolTip; // shown on the button; the text when empty
    };

    explicit ShortcutsKB(QWidget *parent = nullptr);

    // Rebuilds the buttons: one per entry of type 1, 2 or 3, in order, in rows
    // of four stacked from the bottom up (the first four entries form the
    // bottom row). Old buttons are deleted later, so this may be called from
    // a button's own click. The window takes the size of its buttons.
    //
    // Texts and icons:
    //  - web site: the network icon; the URL split at "."; with fewer than
    //    three parts the whole URL, otherwise the second and third parts
    //    joined by "." and wrapped by AutoFeed().
    //  - document or application: the path is the program of the command line
    //    (the whole text when it names an existing file, otherwise its first
    //    word, quotes grouping). With a suffix (a document): the generic file
    //    icon and the file name. Without (a program): the file's own icon and
    //    its base name, or "Config Error" when the path is neither a file nor
    //    a symbolic link; a bare program name is looked up in PATH first, as
    //    starting it would.
    //  - folder: the folder icon and "文件目录" (Chinese) or "Folder".
    void setEntries(const QVector<Entry> &entries);

    int getButtonNum() const { return m_CButtonList.size(); }
    QList<CPushButton *> buttons() const { return m_CButtonList; }

    // Wraps a button text: a line break goes in at index 12, then 25, 38, ...
    // of the text as it grows (so every line but the last holds 12
    // characters). A break is only put in when at least one character follows
    // it, so the result never ends in a line break: 12 characters stay one
    // line, 13 become 12 + 1, 24 become 12 + 12.
    static QString AutoFeed(const QString &text);

    // Centres the window horizontally at the bottom of the available area of
    // its screen, wholly on that screen, and shows and raises it.
    void Show();

public Q_SLOTS:
    // 0 Chinese, anything else English (the default). Re-texts the folder
    // buttons.
    void setLanguage(int langType);

Q_SIGNALS:
    // A button was clicked; `entryPosition` is the position of its entry in
    // the vector given to setEntries(). The receiver should check the entry
    // is still one the host carries out before acting on it.
    void emitExecute(int entryPosition);

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void rebuild(const QVector<Entry> &entries);
    QString folderText() const;

    QWidget *m_keyboard = nullptr;
    QGridLayout *m_buttonLayout = nullptr;
    QList<CPushButton *> m_CButtonList;
    QList<CPushButton *> m_folderButtons;
    int m_langType = 1;
    bool m_dragging = false;
    QPoint m_dragOffset;
};

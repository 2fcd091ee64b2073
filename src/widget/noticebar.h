#pragma once

#include "widget/fileproblems.h"

#include <QVector>
#include <QWidget>

class QLabel;
class QToolButton;

// A strip under the page tabs that tells the user, without stopping them,
// which data files could not be read (path, line, column) and that the
// program goes on with defaults. Each file is listed once; the close button
// hides the strip until another file is reported.
class NoticeBar : public QWidget
{
    Q_OBJECT

public:
    explicit NoticeBar(QWidget *parent = nullptr);

    void setLanguage(int langType);
    QString text() const;

    // One problem as the strip says it.
    static QString noticeText(const FileProblems::Problem &problem, int langType);
    // What the window shows instead of asking for a keyboard when the board
    // catalogue (config.xml) could not be read; "" when it was read.
    static QString catalogueText(int langType);

public Q_SLOTS:
    void addProblem(const QString &path, int line, int column, const QString &what);

private:
    void updateText();

    QLabel *m_text = nullptr;
    QToolButton *m_close = nullptr;
    QVector<FileProblems::Problem> m_problems;
    int m_langType = 1;
};

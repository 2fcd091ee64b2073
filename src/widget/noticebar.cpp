#include "widget/noticebar.h"

#include "main/apppaths.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QStringList>
#include <QToolButton>

NoticeBar::NoticeBar(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("noticeBar"));
    setAttribute(Qt::WA_StyledBackground);
    setStyleSheet(QStringLiteral(
        "#noticeBar { background: #3a2f17; border-bottom: 1px solid #e0a030; }"
        "QLabel { color: #f3d08a; font-size: 10pt; }"
        "QToolButton { color: #f3d08a; border: none; font-size: 12pt; padding: 0 6px; }"
        "QToolButton:hover { color: #ffffff; }"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(18, 6, 10, 6);
    m_text = new QLabel(this);
    m_text->setObjectName(QStringLiteral("noticeText"));
    m_text->setTextFormat(Qt::PlainText);
    m_text->setWordWrap(true);
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(m_text, 1);
    m_close = new QToolButton(this);
    m_close->setObjectName(QStringLiteral("noticeClose"));
    m_close->setText(QStringLiteral("×"));
    m_close->setCursor(Qt::PointingHandCursor);
    m_close->setFocusPolicy(Qt::NoFocus);
    layout->addWidget(m_close, 0, Qt::AlignTop);
    connect(m_close, &QToolButton::clicked, this, &QWidget::hide);
    hide();

    FileProblems &problems = FileProblems::instance();
    connect(&problems, &FileProblems::reported, this, &NoticeBar::addProblem);
    for (const FileProblems::Problem &p : problems.problems())
        addProblem(p.path, p.line, p.column, p.what);
}

void NoticeBar::setLanguage(int langType)
{
    m_langType = langType;
    updateText();
}

QString NoticeBar::text() const
{
    return m_text->text();
}

QString NoticeBar::noticeText(const FileProblems::Problem &problem, int langType)
{
    const QString name = QFileInfo(problem.path).fileName();
    if (langType == 0)
        return QStringLiteral("%1 有问题（%2）：%3。无法读取的部分使用默认设置，文件保持原样。")
            .arg(name, problem.location(), problem.what);
    return QStringLiteral("Problem in %1 (%2): %3. Defaults are used for what could not be read; "
                          "the file is left as it is.")
        .arg(name, problem.location(), problem.what);
}

QString NoticeBar::catalogueText(int langType)
{
    FileProblems::Problem problem;
    if (!FileProblems::find(AppPaths::configDir() + QStringLiteral("config.xml"), &problem))
        return QString();
    if (langType == 0)
        return QStringLiteral("无法读取 config.xml（%1），无法识别键盘。").arg(problem.location());
    return QStringLiteral("config.xml could not be read (%1); no keyboard can be recognised.")
        .arg(problem.location());
}

void NoticeBar::addProblem(const QString &path, int line, int column, const QString &what)
{
    for (const FileProblems::Problem &known : qAsConst(m_problems)) {
        if (known.path == path)
            return;
    }
    m_problems.append({path, line, column, what});
    updateText();
    show();
}

void NoticeBar::updateText()
{
    QStringList lines;
    for (const FileProblems::Problem &problem : qAsConst(m_problems))
        lines << noticeText(problem, m_langType);
    m_text->setText(lines.join(QLatin1Char('\n')));
}

#include "widget/fileproblems.h"

#include <QDebug>
#include <QDir>
#include <QMutexLocker>
#include <QXmlStreamReader>

namespace {
QString key(const QString &path)
{
    return QDir::cleanPath(path);
}
} // namespace

QString FileProblems::Problem::location() const
{
    if (line <= 0)
        return path;
    return QStringLiteral("%1:%2:%3").arg(path).arg(line).arg(column);
}

FileProblems &FileProblems::instance()
{
    static FileProblems problems;
    return problems;
}

bool FileProblems::report(const QString &path, int line, int column, const QString &what)
{
    FileProblems &self = instance();
    Problem problem{key(path), line, column, what.trimmed()};
    {
        QMutexLocker lock(&self.m_mutex);
        for (const Problem &known : qAsConst(self.m_problems)) {
            if (known.path == problem.path)
                return false;
        }
        self.m_problems.append(problem);
    }
    qWarning().noquote() << "Unreadable data file:" << problem.location() << problem.what;
    Q_EMIT self.reported(problem.path, problem.line, problem.column, problem.what);
    return true;
}

bool FileProblems::find(const QString &path, Problem *problem)
{
    FileProblems &self = instance();
    const QString wanted = key(path);
    QMutexLocker lock(&self.m_mutex);
    for (const Problem &known : qAsConst(self.m_problems)) {
        if (known.path == wanted) {
            if (problem)
                *problem = known;
            return true;
        }
    }
    return false;
}

QVector<FileProblems::Problem> FileProblems::problems() const
{
    QMutexLocker lock(&m_mutex);
    return m_problems;
}

void FileProblems::clear()
{
    QMutexLocker lock(&m_mutex);
    m_problems.clear();
}

void FileProblems::reportXml(const QString &path, const QXmlStreamReader &xml, bool record)
{
    const int line = int(xml.lineNumber());
    const int column = int(xml.columnNumber());
    qWarning().noquote() << "Open XML file failed:" << path << xml.errorString() << line << column;
    if (record)
        report(path, line, column, xml.errorString());
}

#pragma once

#include <QMutex>
#include <QObject>
#include <QString>
#include <QVector>

class QXmlStreamReader;

// The data files the program could not read. Parsers report what they
// cannot use (where and why) and carry on with defaults; the main window
// shows the list to the user. Each file is reported once per run, however
// often it is read. Safe to use from any thread.
class FileProblems : public QObject
{
    Q_OBJECT

public:
    struct Problem
    {
        QString path;
        int line = 0; // 0: the file could not be opened at all
        int column = 0;
        QString what;

        // "path:line:column", or the path alone without a position.
        QString location() const;
    };

    static FileProblems &instance();

    // Records (and logs) a problem with the file at `path`. A file already
    // reported is not reported again; returns true when this one is new.
    static bool report(const QString &path, int line, int column, const QString &what);
    // Logs "Open XML file failed:" with where `xml` stopped reading `path`,
    // and with `record` reports it as above.
    static void reportXml(const QString &path, const QXmlStreamReader &xml, bool record = true);
    // The problem recorded for `path`, if any.
    static bool find(const QString &path, Problem *problem = nullptr);

    QVector<Problem> problems() const;
    // Forgets every problem (a fixed file may then be reported again).
    void clear();

Q_SIGNALS:
    // A new problem; queued to receivers on other threads.
    void reported(const QString &path, int line, int column, const QString &what);

private:
    FileProblems() = default;

    mutable QMutex m_mutex;
    QVector<Problem> m_problems;
};

#include "processharness.h"

#include "testsupport.h"

#include <QCoreApplication>
#include <QDate>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcessEnvironment>

namespace TestSupport {

LumoryInstall::LumoryInstall()
{
    m_executable = m_dir.path() + QStringLiteral("/Lumory-test-") +
                   QString::number(QCoreApplication::applicationPid());
    m_valid = m_dir.isValid() && m_home.isValid() &&
              QFile::copy(buildDir() + QStringLiteral("/Lumory"), m_executable) &&
              copyTree(sourceDataDir() + QStringLiteral("/config"),
                       m_dir.path() + QStringLiteral("/config")) &&
              copyTree(sourceDataDir() + QStringLiteral("/images"),
                       m_dir.path() + QStringLiteral("/images"));
}

QString LumoryInstall::todaysLog() const
{
    return m_dir.path() + QDate::currentDate().toString(QStringLiteral("/log/yyyy-MM-dd.txt"));
}

QProcess *LumoryInstall::start(const QStringList &arguments, const QString &platform)
{
    auto *process = new QProcess();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    env.insert(QStringLiteral("HOME"), m_home.path());
    env.remove(QStringLiteral("LUMORY_SIMULATE"));
    process->setProcessEnvironment(env);
    process->setProcessChannelMode(QProcess::SeparateChannels);
    process->start(m_executable, arguments);
    return process;
}

bool waitForOutput(QProcess *process, const QString &text, QString *seen, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        *seen += QString::fromLocal8Bit(process->readAllStandardOutput());
        if (seen->contains(text))
            return true;
        if (process->state() == QProcess::NotRunning)
            return false;
        process->waitForReadyRead(100);
    }
    *seen += QString::fromLocal8Bit(process->readAllStandardOutput());
    return seen->contains(text);
}

} // namespace TestSupport

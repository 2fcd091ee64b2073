#include "shortcut/hostactions.h"

#include <QDebug>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <atomic>

namespace {
std::atomic<HostActions *> g_instance{nullptr};
} // namespace

HostActions::~HostActions() = default;

HostActions *HostActions::instance()
{
    return g_instance.load();
}

void HostActions::setInstance(HostActions *actions)
{
    g_instance.store(actions);
}

bool webAddressAllowed(const QUrl &url)
{
    static const QStringList schemes = {"http", "https", "ftp", "mailto"};
    const QString scheme = url.scheme().toLower();
    bool allowed = url.isValid() && schemes.contains(scheme);
    if (allowed && scheme == QLatin1String("mailto"))
        allowed = !url.path().isEmpty();
    else if (allowed)
        allowed = !url.host().isEmpty();
    if (!allowed)
        qWarning() << "Refused to open web address:" << url.toString();
    return allowed;
}

QUrl webAddress(const QString &text)
{
    return QUrl(text.trimmed(), QUrl::TolerantMode);
}

CommandLine splitCommandLine(const QString &text)
{
    CommandLine line;
    const QString trimmed = text.trimmed();
    if (trimmed.isEmpty()) {
        qWarning() << "Refused to run an empty command line";
        return line;
    }
    if (QFileInfo(trimmed).isFile()) {
        line.program = trimmed;
    } else {
        QStringList parts = QProcess::splitCommand(trimmed);
        if (!parts.isEmpty())
            line.program = parts.takeFirst();
        line.arguments = parts;
    }
    if (line.program.isEmpty() || line.program.startsWith(QLatin1Char('-'))) {
        qWarning() << "Refused to run command line:" << text;
        return CommandLine();
    }
    line.ok = true;
    return line;
}

bool folderAllowed(const QString &folder)
{
    const bool allowed = !folder.isEmpty() && !folder.startsWith(QLatin1Char('-'));
    if (!allowed)
        qWarning() << "Refused to open folder:" << folder;
    return allowed;
}

FolderLaunch folderLaunch(const QString &folder, const QStringList &searchPaths)
{
    FolderLaunch launch;
    launch.program = QStandardPaths::findExecutable(QStringLiteral("nautilus"), searchPaths);
    if (launch.program.isEmpty())
        launch.url = QUrl::fromLocalFile(folder);
    else
        launch.arguments = QStringList{folder};
    return launch;
}

bool launchFolder(HostActions &host, const QString &folder, const QStringList &searchPaths)
{
    if (!folderAllowed(folder))
        return false;
    const FolderLaunch launch = folderLaunch(folder, searchPaths);
    if (!launch.program.isEmpty())
        return host.startProgram(launch.program, launch.arguments);
    return host.openUrl(launch.url.toString(QUrl::FullyEncoded));
}

HostOutcome executeHostRecord(const HostRecord &record, HostActions *host)
{
    if (record.type != kHostWeb && record.type != kHostDocApp && record.type != kHostFolder)
        return HostOutcome::NoAction;
    if (!host)
        host = HostActions::instance();
    if (!host) {
        qWarning() << "No host actions installed; key function not carried out";
        return HostOutcome::Failed;
    }
    bool started = false;
    switch (record.type) {
    case kHostWeb: {
        const QUrl url = webAddress(record.str);
        if (!webAddressAllowed(url))
            return HostOutcome::Refused;
        started = host->openUrl(url.toString(QUrl::FullyEncoded));
        break;
    }
    case kHostDocApp: {
        const CommandLine line = splitCommandLine(record.str);
        if (!line.ok)
            return HostOutcome::Refused;
        started = host->startProgram(line.program, line.arguments);
        break;
    }
    default:
        if (!folderAllowed(record.str))
            return HostOutcome::Refused;
        started = host->openFolder(record.str);
        break;
    }
    return started ? HostOutcome::Started : HostOutcome::Failed;
}

HostOutcome runNotifiedFunction(const QVector<HostRecord> &records, quint8 id, quint8 hi,
                                HostActions *host)
{
    for (const HostRecord &record : records) {
        if (record.id != id || record.hi != hi)
            continue;
        qDebug().noquote() << QString::asprintf("id=%d-%d hi=%d-%d", int(record.id), int(id),
                                                int(record.hi), int(hi));
        return executeHostRecord(record, host);
    }
    return HostOutcome::NoMatch;
}

#pragma once

// The demo's update site: a sample server tree with a newer program version
// and, for each simulated keyboard, a newer firmware package, served by a local
// UpdateServer, plus seven daytime servers that answer the current time.

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVector>

namespace sim {

class DaytimeServer;
class UpdateServer;

class DemoUpdateSite : public QObject
{
    Q_OBJECT
public:
    explicit DemoUpdateSite(QObject *parent = nullptr);
    ~DemoUpdateSite() override;

    // Builds the tree from the sample packages below `programDir`/firmware/
    // (a keyboard whose package is missing or unreadable is left out, with a
    // warning) and starts the servers on 127.0.0.1. Offers the program version
    // after `runningVersion` (minor part raised: "1.0.0" -> "1.1.0"). False
    // when the tree cannot be written or a server cannot listen; a site runs
    // once.
    bool start(const QString &programDir, const QString &runningVersion, const QString &signingKey);

    QString baseUrl() const;
    // Seven "127.0.0.1:<port>"
    QStringList timeServers() const;
    UpdateServer *server() const { return m_server; }
    // The root of the served tree.
    QString root() const { return m_dir.path(); }
    QString offeredProgramVersion() const { return m_offeredVersion; }
    // Product names that have a firmware package on the site.
    QStringList products() const { return m_products; }

    static constexpr int kTimeServerCount = 7;

private:
    bool writeProgramFiles(const QString &runningVersion);
    bool writeFirmwareFiles(const QString &programDir, const QString &product,
                            const QString &package);

    QTemporaryDir m_dir;
    UpdateServer *m_server = nullptr;
    QVector<DaytimeServer *> m_daytime;
    QString m_offeredVersion;
    QStringList m_products;
};

} // namespace sim

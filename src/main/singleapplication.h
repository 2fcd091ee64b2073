#pragma once

#include <QApplication>
#include <QString>

class Lumory;
class QLocalServer;

// A QApplication that makes sure only one instance runs: the first instance
// listens on a local socket named after the executable; a later one connects,
// tells the first to show its window, and exits.
class SingleApplication : public QApplication
{
    Q_OBJECT

public:
    SingleApplication(int &argc, char **argv);

    bool isRunning() const { return m_running; }
    void setMainWindow(Lumory *window) { m_mainWindow = window; }
    Lumory *mainWindow() const { return m_mainWindow; }
    QString serverName() const { return m_serverName; }

private Q_SLOTS:
    void newLocalConnection();

private:
    void initLocalConnection();
    void newLocalServer();

    Lumory *m_mainWindow = nullptr;
    bool m_running = false;
    QLocalServer *m_localServer = nullptr;
    QString m_serverName;
};

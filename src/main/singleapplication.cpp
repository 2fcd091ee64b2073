#include "main/singleapplication.h"

#include "main/lumory.h"

#include <QFileInfo>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>

namespace {
constexpr int kConnectTimeoutMs = 500;
constexpr int kWriteTimeoutMs = 30000;
constexpr int kReadTimeoutMs = 1000;
} // namespace

SingleApplication::SingleApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    m_serverName = QFileInfo(QCoreApplication::applicationFilePath()).fileName();
    initLocalConnection();
}

void SingleApplication::initLocalConnection()
{
    m_running = false;
    QLocalSocket socket;
    socket.connectToServer(m_serverName, QIODevice::ReadWrite);
    if (socket.waitForConnected(kConnectTimeoutMs)) {
        m_running = true;
        const QStringList args = QCoreApplication::arguments();
        QTextStream stream(&socket);
        stream << (args.size() >= 2 ? args.last() : QString());
        stream.flush();
        socket.waitForBytesWritten(kWriteTimeoutMs);
        socket.close();
        return;
    }
    newLocalServer();
}

void SingleApplication::newLocalServer()
{
    m_localServer = new QLocalServer(this);
    connect(m_localServer, &QLocalServer::newConnection, this,
            &SingleApplication::newLocalConnection);
    if (!m_localServer->listen(m_serverName)) {
        if (m_localServer->serverError() == QAbstractSocket::AddressInUseError) {
            // A crashed instance left its socket behind.
            QLocalServer::removeServer(m_serverName);
            m_localServer->listen(m_serverName);
        }
    }
}

void SingleApplication::newLocalConnection()
{
    QLocalSocket *socket = m_localServer->nextPendingConnection();
    if (!socket)
        return;
    socket->waitForReadyRead(kReadTimeoutMs);
    delete socket;
    if (m_mainWindow)
        m_mainWindow->mainShow();
}

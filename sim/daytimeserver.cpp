#include "daytimeserver.h"

#include <QDebug>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>

namespace sim {

DaytimeServer::DaytimeServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &DaytimeServer::onNewConnection);
}

DaytimeServer::~DaytimeServer()
{
    const auto sockets = m_server->findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect();
        socket->abort();
    }
}

bool DaytimeServer::listen(quint16 port)
{
    if (m_server->isListening())
        m_server->close();
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        qWarning().noquote() << "daytime server: cannot listen on port" << port << ":"
                             << m_server->errorString();
        return false;
    }
    m_port = m_server->serverPort();
    if (m_mode == Refused)
        m_server->close();
    return true;
}

QString DaytimeServer::address() const
{
    return QStringLiteral("127.0.0.1:%1").arg(m_port);
}

void DaytimeServer::setMode(Mode mode)
{
    const Mode before = m_mode;
    m_mode = mode;
    if (mode == Refused) {
        m_server->close();
    } else if (before == Refused && m_port != 0 && !m_server->isListening()) {
        // Take the same port again; another program may have taken it meanwhile.
        if (!m_server->listen(QHostAddress::LocalHost, m_port))
            qWarning().noquote() << "daytime server: cannot listen again on port" << m_port << ":"
                                 << m_server->errorString();
    }
}

QByteArray DaytimeServer::timeLine(const QDateTime &utc)
{
    const QDateTime t = utc.toUTC();
    const qint64 modifiedJulianDay = t.date().toJulianDay() - 2400001;
    return QByteArray::number(modifiedJulianDay).rightJustified(5, '0') + ' ' +
           t.toString(QStringLiteral("yy-MM-dd hh:mm:ss")).toLatin1() +
           " 00 0 0 0.0 UTC(NIST) * \r\n";
}

void DaytimeServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        ++m_connections;
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        switch (m_mode) {
        case Correct:
            socket->write(timeLine(m_time.isValid() ? m_time : QDateTime::currentDateTimeUtc()));
            socket->disconnectFromHost();
            break;
        case Garbage:
            socket->write(m_garbage);
            socket->disconnectFromHost();
            break;
        case Silent:
            // Whatever the client sends is read and dropped; nothing is answered.
            connect(socket, &QTcpSocket::readyRead, socket, [socket] { socket->readAll(); });
            break;
        case Refused:
            socket->abort();
            break;
        }
        emit connectionAccepted(m_connections);
    }
}

} // namespace sim

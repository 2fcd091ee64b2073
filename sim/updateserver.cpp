#include "updateserver.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

namespace sim {

namespace {

constexpr int kMaxHeadBytes = 16 * 1024;
constexpr qint64 kPieceBytes = 64 * 1024;
constexpr qint64 kMaxQueuedBytes = 256 * 1024;

QByteArray reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 301:
        return "Moved Permanently";
    case 302:
        return "Found";
    case 307:
        return "Temporary Redirect";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 500:
        return "Internal Server Error";
    case 503:
        return "Service Unavailable";
    default:
        return "Status";
    }
}

bool isLowerHex(const QByteArray &text)
{
    if (text.isEmpty())
        return false;
    for (char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    }
    return true;
}

// A relative path of plain names: no empty, "." or ".." segment, no backslash
// and no control character.
bool isPlainPath(const QString &decoded)
{
    if (!decoded.startsWith(QLatin1Char('/')))
        return false;
    for (const QChar c : decoded) {
        if (c < QChar(0x20) || c == QChar(0x7f) || c == QLatin1Char('\\'))
            return false;
    }
    const QStringList segments = decoded.mid(1).split(QLatin1Char('/'));
    for (const QString &segment : segments) {
        if (segment.isEmpty() || segment == QLatin1String(".") || segment == QLatin1String(".."))
            return false;
    }
    return true;
}

} // namespace

// One connection: the request head as it arrives, then the answer being sent.
class UpdateServer::Exchange : public QObject
{
public:
    explicit Exchange(QTcpSocket *socket) : QObject(socket), socket(socket) {}

    QTcpSocket *socket;
    QByteArray head;
    bool answered = false;
    bool finished = false;
    QFile *file = nullptr;
    qint64 remaining = 0; // body bytes still to send
    bool slow = false;
    int chunkBytes = 0;
    QTimer *timer = nullptr;
};

UpdateServer::UpdateServer(QObject *parent) : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &UpdateServer::onNewConnection);
}

UpdateServer::~UpdateServer()
{
    // Close the open connections while this object is still whole.
    const auto sockets = m_server->findChildren<QTcpSocket *>();
    for (QTcpSocket *socket : sockets) {
        socket->disconnect();
        socket->abort();
    }
}

bool UpdateServer::listen(quint16 port)
{
    if (m_server->isListening())
        m_server->close();
    if (!m_server->listen(QHostAddress::LocalHost, port)) {
        qWarning().noquote() << "update server: cannot listen on port" << port << ":"
                             << m_server->errorString();
        return false;
    }
    return true;
}

quint16 UpdateServer::port() const
{
    return m_server->serverPort();
}

QString UpdateServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port());
}

void UpdateServer::setRoot(const QString &dir)
{
    m_root = QDir::cleanPath(QDir(dir).absolutePath());
}

void UpdateServer::setFault(const QString &path, const Fault &fault)
{
    if (fault.kind == Fault::None)
        m_faults.remove(path);
    else
        m_faults.insert(path, fault);
}

QString UpdateServer::signatureFor(const QString &key, const QString &encodedPath, const QString &t)
{
    return QString::fromLatin1(
        QCryptographicHash::hash((key + encodedPath + t).toLatin1(), QCryptographicHash::Md5)
            .toHex());
}

UpdateServer::Fault UpdateServer::faultFor(const QString &decodedPath) const
{
    const auto exact = m_faults.constFind(decodedPath);
    if (exact != m_faults.constEnd())
        return exact.value();
    return m_faults.value(QStringLiteral("*"));
}

// The file below the root for a checked path, or an empty string when there is
// none (missing, not a regular file, or a link leading out of the root).
QString UpdateServer::localPathFor(const QString &decodedPath) const
{
    if (m_root.isEmpty())
        return {};
    const QFileInfo info(m_root + decodedPath);
    if (!info.exists() || !info.isFile())
        return {};
    const QString canonicalRoot = QFileInfo(m_root).canonicalFilePath();
    const QString canonical = info.canonicalFilePath();
    if (canonicalRoot.isEmpty() || !canonical.startsWith(canonicalRoot + QLatin1Char('/')))
        return {};
    return canonical;
}

void UpdateServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        auto *exchange = new Exchange(socket);
        connect(socket, &QTcpSocket::readyRead, exchange,
                [this, exchange] { onReadyRead(exchange); });
        connect(socket, &QTcpSocket::bytesWritten, exchange, [this, exchange] {
            if (!exchange->slow)
                pump(exchange);
        });
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        if (socket->bytesAvailable() > 0)
            onReadyRead(exchange);
    }
}

void UpdateServer::onReadyRead(Exchange *exchange)
{
    QTcpSocket *socket = exchange->socket;
    if (exchange->answered) {
        socket->readAll(); // one request per connection; the rest is ignored
        return;
    }
    exchange->head += socket->readAll();
    int end = exchange->head.indexOf("\r\n\r\n");
    if (end < 0)
        end = exchange->head.indexOf("\n\n");
    if (end < 0) {
        if (exchange->head.size() > kMaxHeadBytes) {
            exchange->answered = true;
            respondStatus(exchange, 400);
        }
        return;
    }
    exchange->answered = true;
    handleRequest(exchange, exchange->head.left(end));
}

void UpdateServer::handleRequest(Exchange *exchange, const QByteArray &head)
{
    QByteArray requestLine = head;
    const int lineEnd = requestLine.indexOf('\n');
    if (lineEnd >= 0)
        requestLine.truncate(lineEnd);
    if (requestLine.endsWith('\r'))
        requestLine.chop(1);
    const QString line = QString::fromLatin1(requestLine);
    m_requestLines.append(line);
    qInfo().noquote() << "update server:" << line;
    emit requestReceived(line);

    const QList<QByteArray> parts = requestLine.split(' ');
    if (parts.size() != 3 || !parts.at(2).startsWith("HTTP/1.") || !parts.at(1).startsWith('/')) {
        respondStatus(exchange, 400);
        return;
    }
    if (parts.at(0) != "GET") {
        respondStatus(exchange, 405);
        return;
    }
    const QByteArray target = parts.at(1);
    const int queryStart = target.indexOf('?');
    const QByteArray encodedPath = queryStart < 0 ? target : target.left(queryStart);
    const QByteArray query = queryStart < 0 ? QByteArray() : target.mid(queryStart + 1);

    QByteArray sign, t;
    int hop = 0;
    QList<QByteArray> keptQuery;
    for (const QByteArray &item : query.split('&')) {
        if (item.isEmpty())
            continue;
        const int eq = item.indexOf('=');
        const QByteArray name = eq < 0 ? item : item.left(eq);
        const QByteArray value = eq < 0 ? QByteArray() : item.mid(eq + 1);
        if (name == "sign")
            sign = value;
        else if (name == "t")
            t = value;
        if (name == "hop")
            hop = value.toInt();
        else
            keptQuery.append(item);
    }

    // The signature covers the path exactly as sent and the time text.
    const QString expected =
        signatureFor(m_key, QString::fromLatin1(encodedPath), QString::fromLatin1(t));
    if (!isLowerHex(t) || sign != expected.toLatin1()) {
        respondStatus(exchange, 403);
        return;
    }
    if (m_maxSkew >= 0) {
        bool ok = false;
        const qint64 requestTime = t.toLongLong(&ok, 16) - 60;
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        if (!ok || requestTime < now - m_maxSkew || requestTime > now + m_maxSkew) {
            respondStatus(exchange, 403);
            return;
        }
    }

    const QByteArray decodedBytes = QByteArray::fromPercentEncoding(encodedPath);
    const QString decoded = QString::fromUtf8(decodedBytes);
    if (decoded.toUtf8() != decodedBytes || !isPlainPath(decoded)) {
        respondStatus(exchange, 400);
        return;
    }

    const Fault fault = faultFor(decoded);
    if (fault.kind == Fault::Status) {
        respondStatus(exchange, fault.status);
        return;
    }
    if (fault.kind == Fault::Redirect && hop < fault.redirects) {
        QByteArray location;
        if (hop == 0 && !fault.redirectTarget.isEmpty()) {
            location = fault.redirectTarget.toUtf8().replace('\r', "").replace('\n', "");
        } else {
            keptQuery.append("hop=" + QByteArray::number(hop + 1));
            location = baseUrl().toLatin1() + encodedPath + '?' + keptQuery.join('&');
        }
        respondStatus(exchange, 302, "Location: " + location + "\r\n");
        return;
    }
    const QString filePath = localPathFor(decoded);
    if (filePath.isEmpty()) {
        // A name that exists but resolves outside the root is refused, not hidden.
        const QFileInfo info(m_root + decoded);
        respondStatus(exchange, info.exists() && info.isFile() ? 400 : 404);
        return;
    }
    serveFile(exchange, filePath, fault);
}

void UpdateServer::respondStatus(Exchange *exchange, int status, const QByteArray &extraHeaders)
{
    const QByteArray body = QByteArray::number(status) + ' ' + reasonPhrase(status) + '\n';
    QByteArray response =
        "HTTP/1.1 " + QByteArray::number(status) + ' ' + reasonPhrase(status) +
        "\r\nContent-Type: text/plain\r\nContent-Length: " + QByteArray::number(body.size()) +
        "\r\n" + extraHeaders + "Connection: close\r\n\r\n" + body;
    exchange->finished = true;
    exchange->socket->write(response);
    exchange->socket->disconnectFromHost();
}

void UpdateServer::serveFile(Exchange *exchange, const QString &filePath, const Fault &fault)
{
    exchange->file = new QFile(filePath, exchange);
    if (!exchange->file->open(QIODevice::ReadOnly)) {
        respondStatus(exchange, 500);
        return;
    }
    const qint64 size = exchange->file->size();
    exchange->remaining =
        fault.kind == Fault::CutBody ? qBound<qint64>(0, fault.cutAfter, size) : size;
    if (fault.kind == Fault::SlowBody) {
        exchange->slow = true;
        exchange->chunkBytes = qMax(1, fault.chunkBytes);
        exchange->timer = new QTimer(exchange);
        exchange->timer->setSingleShot(true);
        exchange->timer->setInterval(qMax(0, fault.chunkDelayMs));
        connect(exchange->timer, &QTimer::timeout, exchange, [this, exchange] { pump(exchange); });
    }
    exchange->socket->write("HTTP/1.1 200 OK\r\nContent-Type: application/octet-stream\r\n"
                            "Content-Length: " +
                            QByteArray::number(size) + "\r\nConnection: close\r\n\r\n");
    pump(exchange);
}

void UpdateServer::pump(Exchange *exchange)
{
    if (exchange->finished || !exchange->file)
        return;
    QTcpSocket *socket = exchange->socket;
    auto sendPiece = [exchange, socket](qint64 limit) {
        const QByteArray piece = exchange->file->read(qMin(limit, exchange->remaining));
        if (piece.isEmpty()) {
            // The file shrank or could not be read: end the connection
            // rather than pretend the body is complete.
            exchange->finished = true;
            socket->abort();
            return false;
        }
        socket->write(piece);
        exchange->remaining -= piece.size();
        return true;
    };
    if (exchange->slow) {
        if (exchange->remaining > 0 && !sendPiece(exchange->chunkBytes))
            return;
        if (exchange->remaining > 0) {
            exchange->timer->start();
            return;
        }
    } else {
        while (exchange->remaining > 0 && socket->bytesToWrite() < kMaxQueuedBytes) {
            if (!sendPiece(kPieceBytes))
                return;
        }
        if (exchange->remaining > 0)
            return;
    }
    // All that is to be sent is queued; for a cut body the connection closes
    // before the announced length is reached.
    exchange->finished = true;
    exchange->file->close();
    socket->disconnectFromHost();
}

} // namespace sim

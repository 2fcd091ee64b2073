#pragma once

// A small HTTP server standing in for the update server: it serves a directory
// tree on 127.0.0.1, checks the signature of every request the way the program
// signs it, logs each request line and can misbehave on request (an error
// status, redirect chains, a body cut short or sent slowly).

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

class QTcpServer;
class QTcpSocket;

namespace sim {

class UpdateServer : public QObject
{
    Q_OBJECT
public:
    // What the server does for a path instead of (or on the way to) serving it.
    struct Fault
    {
        enum Kind
        {
            None,
            Status,
            Redirect,
            CutBody,
            SlowBody
        } kind = None;
        int status = 500;       // Status: the status code answered
        int redirects = 0;      // Redirect: 302 answers in a row before the file
        QString redirectTarget; // Redirect: Location of the first hop instead of our own
        qint64 cutAfter = 0;    // CutBody: body bytes sent before the connection closes
        int chunkBytes = 0;     // SlowBody: bytes per chunk
        int chunkDelayMs = 0;   // SlowBody: pause between chunks
    };

    explicit UpdateServer(QObject *parent = nullptr);
    ~UpdateServer() override;

    // Listens on 127.0.0.1 only; port 0 picks a free one.
    bool listen(quint16 port = 0);
    quint16 port() const;
    // "http://127.0.0.1:<port>"
    QString baseUrl() const;

    void setRoot(const QString &dir);
    QString root() const { return m_root; }
    void setSigningKey(const QString &key) { m_key = key; }
    // -1 (the default): t is not compared with this machine's clock. Otherwise
    // t - 60 must lie within that many seconds of the current time.
    void setMaxSkewSeconds(int seconds) { m_maxSkew = seconds; }

    // `path` is the decoded path ("/a b/x.bin") or "*" for any path; an exact
    // path wins over "*"; a fault of kind None removes the entry. Faults apply
    // to signed requests for well-formed paths only (bad signatures answer 403,
    // bad paths 400 first). Status and Redirect answer whether or not the file
    // exists; the hops of a redirect carry "&hop=N", and after the last one the
    // file is served (or 404).
    void setFault(const QString &path, const Fault &fault);
    void clearFaults() { m_faults.clear(); }

    // Every request line received, without its line end, in order.
    QStringList requestLines() const { return m_requestLines; }
    void clearRequestLines() { m_requestLines.clear(); }

    // The signature of a request path (as sent, percent-encoded) and time text.
    static QString signatureFor(const QString &key, const QString &encodedPath, const QString &t);

signals:
    void requestReceived(const QString &line);

private:
    class Exchange;
    void onNewConnection();
    void onReadyRead(Exchange *exchange);
    void handleRequest(Exchange *exchange, const QByteArray &head);
    void respondStatus(Exchange *exchange, int status, const QByteArray &extraHeaders = {});
    void serveFile(Exchange *exchange, const QString &filePath, const Fault &fault);
    void pump(Exchange *exchange);
    Fault faultFor(const QString &decodedPath) const;
    QString localPathFor(const QString &decodedPath) const;

    QTcpServer *m_server = nullptr;
    QString m_root;
    QString m_key;
    int m_maxSkew = -1;
    QHash<QString, Fault> m_faults;
    QStringList m_requestLines;
};

} // namespace sim

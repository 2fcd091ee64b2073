#pragma once

// A daytime server (one line with the time, then the connection closes) on
// 127.0.0.1 that can also refuse connections, stay silent or send nonsense.

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

class QTcpServer;

namespace sim {

class DaytimeServer : public QObject
{
    Q_OBJECT
public:
    enum Mode
    {
        Correct, // "JJJJJ YY-MM-DD hh:mm:ss 00 0 0 0.0 UTC(NIST) * \r\n", then close
        Refused, // not listening: connections are refused, the port is kept
        Silent,  // accepts and never writes, keeping the connection open
        Garbage, // writes a line that is not a time, then closes
    };

    explicit DaytimeServer(QObject *parent = nullptr);
    ~DaytimeServer() override;

    // Listens on 127.0.0.1 only; port 0 picks a free one.
    bool listen(quint16 port = 0);
    quint16 port() const { return m_port; }
    // "127.0.0.1:<port>"
    QString address() const;

    void setMode(Mode mode);
    Mode mode() const { return m_mode; }
    // The time answered in Correct mode; an invalid one (the default) means
    // the current time. Always sent as UTC.
    void setTime(const QDateTime &time) { m_time = time; }
    // What Garbage mode sends; by default a single word, fewer fields than a
    // time line has.
    void setGarbageLine(const QByteArray &line) { m_garbage = line; }

    // Connections accepted so far.
    int connections() const { return m_connections; }

    // The line Correct mode sends for `utc`.
    static QByteArray timeLine(const QDateTime &utc);

signals:
    void connectionAccepted(int count);

private:
    void onNewConnection();

    QTcpServer *m_server = nullptr;
    quint16 m_port = 0;
    Mode m_mode = Correct;
    QDateTime m_time;
    QByteArray m_garbage = "NOT-A-TIME\r\n";
    int m_connections = 0;
};

} // namespace sim

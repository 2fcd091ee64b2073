// lumory_update_server: serves a directory tree as the update server does, for
// trying the online update by hand.
//   lumory_update_server --root DIR --port N --key KEY [--daytime-port N]

#include "daytimeserver.h"
#include "updateserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumory_update_server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Serves a directory tree on 127.0.0.1 as the update server does."));
    parser.addHelpOption();
    const QCommandLineOption rootOption(
        QStringLiteral("root"), QStringLiteral("Directory to serve."), QStringLiteral("dir"));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port (0 picks a free one)."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption keyOption(QStringLiteral("key"),
                                       QStringLiteral("Signing key the requests are checked with."),
                                       QStringLiteral("key"));
    const QCommandLineOption daytimeOption(QStringLiteral("daytime-port"),
                                           QStringLiteral("Also answer the time on this port."),
                                           QStringLiteral("port"));
    parser.addOptions({rootOption, portOption, keyOption, daytimeOption});
    parser.process(app);

    QTextStream err(stderr);
    auto portValue = [&](const QCommandLineOption &option, quint16 *port) {
        bool ok = false;
        const uint value = parser.value(option).toUInt(&ok);
        if (!ok || value > 65535) {
            err << "lumory_update_server: not a port: " << parser.value(option) << '\n';
            return false;
        }
        *port = quint16(value);
        return true;
    };
    if (!parser.isSet(rootOption) || !QDir(parser.value(rootOption)).exists()) {
        err << "lumory_update_server: --root must name an existing directory\n";
        return 2;
    }
    if (!parser.isSet(keyOption)) {
        err << "lumory_update_server: --key is required\n";
        return 2;
    }
    quint16 port = 0;
    if (!portValue(portOption, &port))
        return 2;

    sim::UpdateServer server;
    server.setRoot(parser.value(rootOption));
    server.setSigningKey(parser.value(keyOption));
    if (!server.listen(port))
        return 1;

    sim::DaytimeServer daytime;
    QTextStream out(stdout);
    out << "listening on " << server.baseUrl() << '\n';
    if (parser.isSet(daytimeOption)) {
        quint16 daytimePort = 0;
        if (!portValue(daytimeOption, &daytimePort) || !daytime.listen(daytimePort))
            return 1;
        out << "daytime on " << daytime.address() << '\n';
    }
    out.flush();
    return app.exec();
}

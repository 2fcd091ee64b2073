// The real program on a real X display: the window appears with its title,
// today's log is written, and a termination request runs the exit sequence.
#include "processharness.h"
#include "testsupport.h"

#include <QProcess>
#include <QtTest>

#include <memory>

using TestSupport::LumoryInstall;
using TestSupport::waitForOutput;

namespace {
QString run(const QString &program, const QStringList &arguments, int timeoutMs = 10000)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs))
        return QString();
    return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
}
} // namespace

class TestX11Window : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void windowAppearsAndExitsCleanly()
    {
        LumoryInstall install;
        QVERIFY(install.isValid());
        std::unique_ptr<QProcess> lumory(install.start({}, QStringLiteral("xcb")));
        QString out;
        QVERIFY2(waitForOutput(lumory.get(), QStringLiteral("Lumory constructed"), &out),
                 qPrintable(out + QString::fromLocal8Bit(lumory->readAllStandardError())));

        const QString window = run(QStringLiteral("xdotool"),
                                   {QStringLiteral("search"), QStringLiteral("--sync"),
                                    QStringLiteral("--onlyvisible"), QStringLiteral("--pid"),
                                    QString::number(lumory->processId())});
        QVERIFY2(!window.isEmpty(), "no visible window");
        const QString id = window.split(QLatin1Char('\n')).first();
        QCOMPARE(run(QStringLiteral("xdotool"), {QStringLiteral("getwindowname"), id}),
                 QStringLiteral("Lumory"));
        const QString geometry =
            run(QStringLiteral("xdotool"), {QStringLiteral("getwindowgeometry"), id});
        QVERIFY2(geometry.contains(QStringLiteral("Geometry: 1180x800")), qPrintable(geometry));
        QVERIFY(QFile::exists(install.todaysLog()));

        lumory->terminate();
        QVERIFY(lumory->waitForFinished(10000));
        QCOMPARE(lumory->exitCode(), 0);
        const QStringList log = TestSupport::readLines(install.todaysLog());
        QVERIFY(!log.filter(QStringLiteral("Lumory quit.")).isEmpty());
        QVERIFY(log.last().endsWith(
            QStringLiteral("0000000000000000000-closeEvent-0000000000000000000")));
    }
};

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY")) {
        std::puts("SKIP: no X display");
        return 77;
    }
    QCoreApplication app(argc, argv);
    TestX11Window test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_x11window.moc"

// Two real processes: the second one hands over to the first and exits 0;
// a socket left by a killed instance does not block the next start.
#include "processharness.h"
#include "testsupport.h"

#include <QtTest>

#include <memory>

using TestSupport::LumoryInstall;
using TestSupport::waitForOutput;

class TestSingleInstance : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void secondInstanceShowsTheFirst()
    {
        LumoryInstall install;
        QVERIFY(install.isValid());
        std::unique_ptr<QProcess> first(install.start());
        QString out1;
        QVERIFY2(waitForOutput(first.get(), QStringLiteral("Lumory constructed"), &out1),
                 qPrintable(out1));

        std::unique_ptr<QProcess> second(install.start({QStringLiteral("/background")}));
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitStatus(), QProcess::NormalExit);
        QCOMPARE(second->exitCode(), 0);
        // It never built a window of its own.
        QVERIFY(!QString::fromLocal8Bit(second->readAllStandardOutput())
                     .contains(QStringLiteral("Lumory constructed")));
        QVERIFY2(waitForOutput(first.get(), QStringLiteral("show slot"), &out1), qPrintable(out1));

        // SIGTERM runs the normal exit sequence.
        first->terminate();
        QVERIFY(first->waitForFinished(10000));
        QCOMPARE(first->exitCode(), 0);
        const QStringList log = TestSupport::readLines(install.todaysLog());
        QVERIFY(!log.isEmpty());
        QVERIFY(log.last().endsWith(
            QStringLiteral("0000000000000000000-closeEvent-0000000000000000000")));
    }

    void staleSocketIsReplaced()
    {
        LumoryInstall install;
        QVERIFY(install.isValid());
        std::unique_ptr<QProcess> crashed(install.start());
        QString out;
        QVERIFY(waitForOutput(crashed.get(), QStringLiteral("Lumory constructed"), &out));
        crashed->kill(); // leaves its socket behind
        QVERIFY(crashed->waitForFinished(5000));

        std::unique_ptr<QProcess> next(install.start());
        QString nextOut;
        QVERIFY2(waitForOutput(next.get(), QStringLiteral("Lumory constructed"), &nextOut),
                 qPrintable(nextOut));
        std::unique_ptr<QProcess> second(install.start());
        QVERIFY(second->waitForFinished(10000));
        QCOMPARE(second->exitCode(), 0);
        QVERIFY(waitForOutput(next.get(), QStringLiteral("show slot"), &nextOut));
        next->terminate();
        QVERIFY(next->waitForFinished(10000));
    }
};

QTEST_GUILESS_MAIN(TestSingleInstance)
#include "tst_singleinstance.moc"

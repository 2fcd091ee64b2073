#include "sessionfixture.h"

#include "main/devicesession.h"
#include "main/loghandler.h"
#include "widget/menutree.h"

#include <QAction>
#include <QDate>
#include <QMenu>
#include <QTest>

namespace TestSupport {

SessionFixture::SessionFixture()
{
    bus.setReportLatencyUs(0);
    HidBackend::setInstance(&bus);
    Lumory::setTrayAvailableOverride(1);
}

SessionFixture::~SessionFixture()
{
    window.reset();
    LogHandler::instance().release();
    HidBackend::setInstance(nullptr);
    Lumory::setTrayAvailableOverride(-1);
}

Lumory *SessionFixture::start()
{
    window = std::make_unique<Lumory>(nullptr, QStringLiteral("None"));
    return window.get();
}

bool SessionFixture::waitLoaded(int timeoutMs)
{
    return QTest::qWaitFor(
        [this] { return window && window->deviceSession()->isLoaded() && window->initLock(); },
        timeoutMs);
}

bool SessionFixture::waitClosed(int timeoutMs)
{
    return QTest::qWaitFor([this] { return window && !window->deviceSession()->usb(); }, timeoutMs);
}

QStringList SessionFixture::logMessages() const
{
    LogHandler::instance().flush();
    QStringList messages;
    const QString path =
        appDir.path() + QDate::currentDate().toString(QStringLiteral("/log/yyyy-MM-dd.txt"));
    for (const QString &line : readLines(path)) {
        const int at = line.indexOf(QStringLiteral("): "));
        messages << (at >= 0 ? line.mid(at + 3) : line);
    }
    return messages;
}

bool SessionFixture::logHasInOrder(const QStringList &expected, QString *missing) const
{
    const QStringList messages = logMessages();
    int from = 0;
    for (const QString &want : expected) {
        int found = -1;
        for (int i = from; i < messages.size(); ++i) {
            if (messages.at(i).startsWith(want)) {
                found = i;
                break;
            }
        }
        if (found < 0) {
            if (missing)
                *missing = want;
            return false;
        }
        from = found + 1;
    }
    return true;
}

QStringList SessionFixture::deviceEntries() const
{
    QStringList texts;
    for (QAction *action : window->menuTree()->deviceMenu()->actions())
        texts << action->text();
    return texts;
}

} // namespace TestSupport

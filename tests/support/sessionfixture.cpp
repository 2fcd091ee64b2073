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
    return TestSupport::logMessages(appDir.path());
}

bool SessionFixture::logHasInOrder(const QStringList &expected, QString *missing) const
{
    return hasInOrder(logMessages(), expected, missing);
}

QStringList SessionFixture::deviceEntries() const
{
    QStringList texts;
    for (QAction *action : window->menuTree()->deviceMenu()->actions())
        texts << action->text();
    return texts;
}

} // namespace TestSupport

#include "demoonline.h"

#include "demoupdate.h"

#include "Update/overallvariate.h"

#include <QDebug>

namespace sim {

DemoUpdateSite *startDemoOnlineUpdate(overallVariate *state, const QString &programDir)
{
    if (!state)
        return nullptr;
    UpdateConfig config = state->config();
    QString version = state->getLumoryVersions();
    if (version.isEmpty())
        version = QStringLiteral("1.0.0");
    auto *site = new DemoUpdateSite(state);
    if (!site->start(programDir, version, config.signingKey)) {
        qWarning() << "demo mode: the update site could not start; online update as configured";
        delete site;
        return nullptr;
    }
    config.baseUrl = site->baseUrl();
    config.timeServers = site->timeServers();
    state->setConfig(config);
    qInfo().noquote() << "demo mode: online update against" << config.baseUrl;
    return site;
}

} // namespace sim

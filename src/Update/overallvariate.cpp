#include "Update/overallvariate.h"

#include <QDebug>

overallVariate::overallVariate(QObject *parent) : QObject(parent) {}

void overallVariate::init()
{
    qDebug() << "overallVariate init, automatic update:" << m_autoUpdate;
}

void overallVariate::startUpdateCheck()
{
    qDebug() << "update check requested";
}

void overallVariate::setDeviceOnline(const QString &productName, const QString &firmwareVersion,
                                     const QString &hardwareVersion)
{
    m_deviceOnline = true;
    m_productName = productName;
    m_firmwareVersion = firmwareVersion;
    m_hardwareVersion = hardwareVersion;
}

void overallVariate::setDeviceOffline()
{
    m_deviceOnline = false;
    m_productName.clear();
    m_firmwareVersion.clear();
    m_hardwareVersion.clear();
}

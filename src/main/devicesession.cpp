#include "main/devicesession.h"

#include "widget/menutree.h"

#include <QDebug>
#include <QTimer>

DeviceSession::DeviceSession(MenuTree *menuTree, QObject *parent)
    : QObject(parent), m_menuTree(menuTree)
{
    m_scanTimer = new QTimer(this);
    m_scanTimer->setObjectName(QStringLiteral("scanTimer"));
    m_deviceListTimer = new QTimer(this);
    m_deviceListTimer->setObjectName(QStringLiteral("deviceListTimer"));
    m_updateWaitTimer = new QTimer(this);
    m_updateWaitTimer->setObjectName(QStringLiteral("updateWaitTimer"));
}

void DeviceSession::scanDeviceSlot() {}

void DeviceSession::MultiscanDeviceSlot() {}

bool DeviceSession::closeDevice()
{
    qDebug() << "close device.....";
    qDebug() << "0000000000000000000-closeDevice-0000000000000000000";
    return true;
}

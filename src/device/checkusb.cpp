#include "device/checkusb.h"

#include "device/hidbackend.h"

#include <QDebug>
#include <QTimer>

CheckUSB::CheckUSB(unsigned short vendorId, unsigned short productId, QObject *parent)
    : QObject(parent), m_vendorId(vendorId), m_productId(productId), m_timer(new QTimer(this))
{
    connect(m_timer, &QTimer::timeout, this, &CheckUSB::scanDeviceSlot);
}

void CheckUSB::start(int periodMs)
{
    m_timer->start(periodMs);
}

void CheckUSB::stop()
{
    m_timer->stop();
}

bool CheckUSB::isHaveDevice(unsigned short vendorId, unsigned short productId)
{
    return !HidBackend::instance()->enumerate(vendorId, productId).isEmpty();
}

void CheckUSB::scanDeviceSlot()
{
    const bool present = isHaveDevice(m_vendorId, m_productId);
    if (present == m_present)
        return;
    m_present = present;
    if (present) {
        qInfo() << "USB connect.";
    } else {
        qInfo() << "USB disconnect.";
        emit emitDisconnect();
    }
}

#pragma once

#include <QMetaType>
#include <QString>

#include <cstdint>

class QAction;

// One present keyboard interface in the device list of the main menu.
struct UsbData
{
    QString path; // hidapi path of the interface
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    QString product;           // product string of the enumeration; empty when unknown
    QAction *action = nullptr; // its entry in the "USB Device" menu; null until it exists
    int number = 0;            // its device number (1, 2, ...); 0 until the entry exists
};

Q_DECLARE_METATYPE(UsbData)

#pragma once

#include <QObject>

#include <cstdint>

class QTimer;

// Watches whether a vendor/product pair is present on the bus and reports its
// disappearance. Polls with its own timer on the thread it lives on.
class CheckUSB : public QObject
{
    Q_OBJECT

public:
    CheckUSB(unsigned short vendorId, unsigned short productId, QObject *parent = nullptr);

    // Starts polling every `periodMs` milliseconds; stop() ends it.
    void start(int periodMs);
    void stop();
    // True when at least one interface with this pair is enumerated.
    static bool isHaveDevice(unsigned short vendorId, unsigned short productId);

public slots:
    void scanDeviceSlot();

signals:
    void emitDisconnect();

private:
    unsigned short m_vendorId;
    unsigned short m_productId;
    bool m_present = true; // a pair already missing at the first poll reports once
    QTimer *m_timer;
};

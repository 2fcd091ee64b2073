#pragma once

#include <QObject>

class MenuTree;
class QTimer;

// The life of the connected keyboard: discovery, the numbered device list,
// opening, loading, notifications, switching and closing. The main window
// owns one session and wires its pages to it.
class DeviceSession : public QObject
{
    Q_OBJECT

public:
    DeviceSession(MenuTree *menuTree, QObject *parent = nullptr);

    QTimer *scanTimer() const { return m_scanTimer; }
    QTimer *deviceListTimer() const { return m_deviceListTimer; }
    QTimer *updateWaitTimer() const { return m_updateWaitTimer; }

    // Stops the keyboard's threads and closes its handle; true when done.
    bool closeDevice();

public Q_SLOTS:
    void scanDeviceSlot();
    void MultiscanDeviceSlot();

private:
    MenuTree *m_menuTree = nullptr;
    QTimer *m_scanTimer = nullptr;
    QTimer *m_deviceListTimer = nullptr;
    QTimer *m_updateWaitTimer = nullptr;
};

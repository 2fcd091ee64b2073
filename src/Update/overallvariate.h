#pragma once

#include <QObject>
#include <QString>

// Shared state of the online update: whether a keyboard is online, its
// product name and versions, and the automatic-update preference. The update
// page and the downloader reach each other only through this object.
class overallVariate : public QObject
{
    Q_OBJECT

public:
    explicit overallVariate(QObject *parent = nullptr);

    // Reads the update preferences.
    void init();
    bool isAutoUpdate() const { return m_autoUpdate; }
    // Starts a check against the update server.
    void startUpdateCheck();

    // The device session reports loaded and closed keyboards here.
    void setDeviceOnline(const QString &productName, const QString &firmwareVersion,
                         const QString &hardwareVersion);
    void setDeviceOffline();
    bool isDeviceOnline() const { return m_deviceOnline; }
    QString productName() const { return m_productName; }
    QString firmwareVersion() const { return m_firmwareVersion; }
    QString hardwareVersion() const { return m_hardwareVersion; }

Q_SIGNALS:
    void emitMainExit();
    void emitUpdateSignal(const QString &what);

private:
    bool m_autoUpdate = false;
    bool m_deviceOnline = false;
    QString m_productName;
    QString m_firmwareVersion;
    QString m_hardwareVersion;
};

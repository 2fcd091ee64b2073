#include "Update/overallvariate.h"

#include "main/apppaths.h"

#include <QDebug>
#include <QDomDocument>
#include <QFile>
#include <QMutexLocker>

overallVariate::overallVariate(QObject *parent) : QObject(parent)
{
    m_config.signingKey = QString::fromLatin1(UpdateFormats::kDefaultSigningKey);
    m_config.timeServers = UpdateFormats::defaultTimeServers();
}

void overallVariate::setConfig(const UpdateConfig &config)
{
    QMutexLocker lock(&m_mutex);
    m_config = config;
}

UpdateConfig overallVariate::config() const
{
    QMutexLocker lock(&m_mutex);
    return m_config;
}

void overallVariate::setAboutFile(const QString &path)
{
    QMutexLocker lock(&m_mutex);
    m_aboutFile = path;
}

QString overallVariate::getLumoryVersions() const
{
    QString path;
    {
        QMutexLocker lock(&m_mutex);
        path = m_aboutFile.isEmpty() ? AppPaths::configDir() + QStringLiteral("about.xml")
                                     : m_aboutFile;
    }
    QFile file(path);
    QDomDocument doc;
    QString error;
    int line = 0;
    int column = 0;
    if (!file.open(QIODevice::ReadOnly) || !doc.setContent(&file, &error, &line, &column)) {
        qDebug() << "menutree: parse file failed:" << line << column;
        return QString();
    }
    const QDomElement first = doc.documentElement().firstChildElement();
    const QDomElement firmware = first.firstChildElement(QStringLiteral("firmware"));
    const QStringList words =
        firmware.attribute(QStringLiteral("firmware")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    return words.isEmpty() ? QString() : words.last();
}

void overallVariate::checkUpdate()
{
    Q_EMIT checkUpdateSignal();
}

void overallVariate::checkFirmwareUpdate()
{
    Q_EMIT checkFirmwareUpdateSignal();
}

void overallVariate::checkUpdateDownload()
{
    Q_EMIT checkUpdateDownloadSignal();
}

void overallVariate::dowmloadLumoryUpdateFile()
{
    Q_EMIT dowmloadLumoryUpdateFileSignal();
}

void overallVariate::dowmloadFirmwareUpdateFile()
{
    Q_EMIT dowmloadFirmwareUpdateFileSignal();
}

void overallVariate::unModeFirmware()
{
    Q_EMIT unModeFirmwareSignal();
}

void overallVariate::DeviceOffline()
{
    Q_EMIT DeviceOfflineSignal();
}

void overallVariate::MainExit()
{
    Q_EMIT emitMainExit();
}

void overallVariate::UpdateSignal(const QString &packageDirectory)
{
    Q_EMIT emitUpdateSignal(packageDirectory);
}

void overallVariate::onlineUpdateShow()
{
    Q_EMIT showPageSignal();
}

void overallVariate::CloseOnlineUpdateWidget()
{
    Q_EMIT closePageSignal();
}

void overallVariate::LumoryUpdate(bool found)
{
    Q_EMIT LumoryUpdateSignal(found);
}

void overallVariate::FirmwareUpdate(bool found)
{
    Q_EMIT FirmwareUpdateSignal(found);
}

void overallVariate::setLumoryUpdateInfo(const QString &text)
{
    Q_EMIT setLumoryUpdateInfoSignal(text);
}

void overallVariate::setFirmwareUpdateInfo(const QString &text)
{
    Q_EMIT setFirmwareUpdateInfoSignal(text);
}

void overallVariate::downloadProgress(int fileIndex)
{
    Q_EMIT downloadProgressSignal(fileIndex);
}

void overallVariate::downloadNumber(int fileCount)
{
    Q_EMIT downloadNumberSignal(fileCount);
}

void overallVariate::downloadError(const QString &message)
{
    setBuay(false);
    Q_EMIT ErrorInfoSignal(message);
}

void overallVariate::setBuay(bool busy)
{
    m_busy = busy;
    Q_EMIT threadBusySignal(busy);
}

bool overallVariate::tryTakeBusy()
{
    bool expected = false;
    if (!m_busy.compare_exchange_strong(expected, true))
        return false;
    Q_EMIT threadBusySignal(true);
    return true;
}

void overallVariate::setKBInfo(const QString &productName, const QString &usbAppVersion,
                               unsigned int type, const QString &btAppVersion,
                               const QString &sdVersion, const QString &other)
{
    QMutexLocker lock(&m_mutex);
    m_kbInfo = {productName, usbAppVersion, btAppVersion, sdVersion, other, type};
}

void overallVariate::clearKBInfo()
{
    QMutexLocker lock(&m_mutex);
    m_kbInfo = KBInfo();
}

KBInfo overallVariate::getKBInfo() const
{
    QMutexLocker lock(&m_mutex);
    return m_kbInfo;
}

void overallVariate::setOnlinState(bool online)
{
    qDebug() << "OnlinState" << online;
    m_online = online;
    if (!online)
        DeviceOffline();
    else if (m_autoUpdate)
        Q_EMIT checkUpdateSignalFirmware();
}

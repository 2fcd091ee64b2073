#include "main/firmwareflow.h"

#include "device/device.h"
#include "device/usb.h"
#include "main/devicesession.h"
#include "widget/dialogs.h"

#include <QDebug>
#include <QTimer>

FirmwareFlow::FirmwareFlow(DeviceSession *session, QWidget *dialogParent, QObject *parent)
    : QObject(parent), m_session(session), m_dialogParent(dialogParent)
{
    m_progress = new FirmwareProgress(this);
    connect(m_progress, &FirmwareProgress::emitProgress, this, &FirmwareFlow::progress);
    m_waitTimer = new QTimer(this);
    m_waitTimer->setInterval(kLoaderWaitMs);
    connect(m_waitTimer, &QTimer::timeout, this, &FirmwareFlow::waitOpenDfuDeviceSolt);
}

FirmwareFlow::~FirmwareFlow()
{
    m_waitTimer->stop();
    releaseLoader();
}

void FirmwareFlow::setLoaderWaitMs(int ms)
{
    m_waitTimer->setInterval(ms);
}

QString FirmwareFlow::text(const char *en, const char *zh) const
{
    return m_langType == 0 ? QString::fromUtf8(zh) : QString::fromUtf8(en);
}

void FirmwareFlow::updateDFUSlot(const QString &directory)
{
    if (m_running)
        return;
    qDebug() << "Ready to update the Firmware.";
    // The whole package is read and checked before the keyboard is touched.
    FirmwarePlan::Problem problem;
    m_images.clear();
    if (!FirmwarePlan::prepare(directory, &m_images, &problem)) {
        Dialogs::warning(m_dialogParent, QStringLiteral("Warning"),
                         problem.message(m_langType == 0 ? 0 : 1));
        Q_EMIT finished(false);
        return;
    }
    m_running = true;
    m_clock.start();
    m_progress->setPlan(m_images);
    Q_EMIT banWindowsButton(true);
    startNextImage();
}

void FirmwareFlow::startNextImage()
{
    while (!m_images.isEmpty()) {
        const FirmwarePlan::Image image = m_images.takeFirst();
        if (image.key == FirmwarePlan::UsbApp) {
            qDebug() << "升级USB00";
            updateDFU_Key(image.data);
            return;
        }
        // The Bluetooth module's update is not part of this version: its
        // images are left out, the USB image still goes.
        qWarning().noquote() << "Bluetooth image skipped:" << image.path;
        m_progress->finishImage(image.key);
    }
    end(true, QString());
}

void FirmwareFlow::updateDFU_Key(const QByteArray &image)
{
    m_usbImage = image;
    // A keyboard in its normal session is told to restart into its loader.
    if (Device *device = m_session ? m_session->device() : nullptr) {
        qDebug() << "Update DFU close device finished.";
        device->enterUsbMcuDfu();
        m_session->scanTimer()->stop();
        m_session->deviceListTimer()->stop();
        m_session->closeDevice();
    }
    if (!m_usb) {
        m_usb = new Usb(nullptr, nullptr, nullptr);
        m_usb->setDfuPID(kLoaderVendorId, kLoaderProductId, kLoaderInterface);
    }
    m_attempts = 0;
    m_waitTimer->start();
    Q_EMIT emitWaitDfuOpen(true);
}

bool FirmwareFlow::openDFUDevice()
{
    if (!m_dfuDevice)
        m_dfuDevice = new Device(nullptr, nullptr, nullptr, nullptr);
    if (!m_dfuDevice->openDFU(m_usb)) {
        delete m_dfuDevice.data();
        return false;
    }
    qDebug() << "设备检测正常，开始升级固件.........";
    m_dfuDevice->moveToThread(&m_dfuThread);
    connect(&m_dfuThread, &QThread::started, m_dfuDevice.data(), &Device::readDFUUsbSlot);
    connect(m_dfuDevice.data(), &Device::emitUpdateDfuFinished, this,
            &FirmwareFlow::updateDfuFinishedSlot, Qt::QueuedConnection);
    connect(m_dfuDevice.data(), &Device::emitStopDfu, this, &FirmwareFlow::updateErrorStopSlot,
            Qt::QueuedConnection);
    connect(
        m_dfuDevice.data(), &Device::SendByteUpdateProgress, this,
        [this](int bytes) {
            m_progress->report(FirmwarePlan::UsbApp, quint32(bytes), quint32(m_usbImage.size()));
        },
        Qt::QueuedConnection);
    return true;
}

void FirmwareFlow::waitOpenDfuDeviceSolt()
{
    if (openDFUDevice()) {
        m_attempts = 0;
        Q_EMIT emitWaitDfuOpen(false);
        m_waitTimer->stop();
        m_dfuThread.start();
        m_dfuDevice->dfuStartUpdateFW(reinterpret_cast<uint8_t *>(m_usbImage.data()),
                                      m_usbImage.size());
        return;
    }
    qDebug() << "Open DFU Device USB wait overtime = " << m_attempts;
    if (++m_attempts < kLoaderAttempts)
        return;
    qDebug() << "Stop update firmware.";
    m_attempts = 0;
    m_waitTimer->stop();
    afterDFUSlot();
    end(false, text("The keyboard's boot loader did not appear. If the keyboard waits in its "
                    "boot loader, choose the firmware again.",
                    "键盘的引导程序没有出现。如果键盘停在引导程序中，请重新选择固件。"));
}

void FirmwareFlow::updateDfuFinishedSlot()
{
    if (!m_running || !m_dfuDevice || sender() != m_dfuDevice.data())
        return; // a stale signal of an update that already ended
    qDebug() << "Update DFU finished slot.";
    m_progress->finishImage(FirmwarePlan::UsbApp);
    afterDFUSlot();
    startNextImage();
}

void FirmwareFlow::updateErrorStopSlot()
{
    if (!m_running || !m_dfuDevice || sender() != m_dfuDevice.data())
        return;
    afterDFUSlot();
    end(false, text("The firmware update failed. The keyboard waits in its boot loader; choose "
                    "the firmware again to finish the update.",
                    "固件更新失败。键盘停在引导程序中，请重新选择固件以完成更新。"));
}

void FirmwareFlow::releaseLoader()
{
    if (m_dfuDevice) {
        qDebug() << "delete DFU device finished.";
        // The answer loop is told to stop first: quitting the thread alone
        // would wait for a reader blocked in its read.
        m_dfuDevice->stopDfuRead();
        m_dfuThread.quit();
        m_dfuThread.wait();
        delete m_dfuDevice.data();
    }
    if (m_usb) {
        qDebug() << "delete usb finished.";
        m_usb->close(); // only after the reader ended
        delete m_usb;
        m_usb = nullptr;
    }
}

void FirmwareFlow::afterDFUSlot()
{
    releaseLoader();
    if (m_session && !m_session->isShutDown()) {
        if (!m_session->deviceListTimer()->isActive()) {
            qDebug() << "start m_MultiScanDevice.";
            m_session->deviceListTimer()->start();
        }
        if (!m_session->scanTimer()->isActive()) {
            qDebug() << "start scan device.";
            m_session->scanTimer()->start();
        }
    }
    qDebug() << "0000000000000000000-quitDFU-0000000000000000000";
}

void FirmwareFlow::end(bool ok, const QString &message)
{
    if (!m_running)
        return;
    m_running = false;
    m_images.clear();
    if (ok)
        qDebug() << "Update firmware succeeded!";
    else
        qDebug() << "Update firmware error, recovery interface!";
    const qint64 seconds = m_clock.elapsed() / 1000;
    qDebug().noquote() << "发送总耗时：" + QString::number(seconds / 60) + "分" +
                              QString::number(seconds % 60) + "秒";
    Q_EMIT banWindowsButton(false);
    Q_EMIT finished(ok);
    if (!message.isEmpty())
        Dialogs::warning(m_dialogParent, QStringLiteral("Warning"), message);
}

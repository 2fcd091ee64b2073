#include "main/firmwareflow.h"

#include "device/device.h"
#include "device/updatedfubtthread.h"
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
    if (m_btWorker) {
        m_btWorker->stop();
        m_btWorker->wait(2000);
    }
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
        Q_EMIT refused();
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
        // A keyboard found in its boot loader has no session to reach its
        // Bluetooth module through: those images wait for the next update.
        if (!m_session || !m_session->device() || !m_session->usb()) {
            qWarning().noquote() << "Bluetooth image skipped, no keyboard session:" << image.path;
            m_progress->finishImage(image.key);
            continue;
        }
        DualmodeUpgrade(image);
        return;
    }
    if (m_btLoader) {
        qDebug() << "quitBtUpgrade";
        if (!leaveBtLoader())
            return;
    }
    end(true, QString());
}

void FirmwareFlow::DualmodeUpgrade(const FirmwarePlan::Image &image)
{
    Device *device = m_session->device();
    Usb *usb = m_session->usb();
    if (!m_btLoader) {
        qDebug().noquote() << "双模键盘升级" << image.path;
        connect(device, &Device::UpdateError, this, &FirmwareFlow::DFUErrorCode,
                Qt::UniqueConnection);
        Q_EMIT emitWaitDfuOpen(true);
        if (device->enterBtMcuDfu() != WK_SUCCESS) {
            qDebug() << "app_boot失败"; // the error arrives through DFUErrorCode
            return;
        }
        m_btLoader = true;
        m_session->scanTimer()->stop();
        m_session->deviceListTimer()->stop();
    }
    if (!m_btWorker) {
        m_btWorker = new updateDFUBtThread(this);
        connect(m_btWorker, &updateDFUBtThread::UpdateError, this, &FirmwareFlow::DFUErrorCode,
                Qt::QueuedConnection);
        connect(
            m_btWorker, &updateDFUBtThread::SendByteUpdateProgress, this,
            [this](int bytes) {
                m_progress->report(m_btKey, quint32(bytes), quint32(m_btImage.size()));
            },
            Qt::QueuedConnection);
        connect(m_btWorker, &updateDFUBtThread::emitStopDfu, this, &FirmwareFlow::btInterrupted,
                Qt::QueuedConnection);
        connect(m_btWorker, &updateDFUBtThread::emitUpdateDfuFinished, this,
                &FirmwareFlow::btImageFinished, Qt::QueuedConnection);
    }
    m_btKey = image.key;
    m_btImage = image.data;
    Q_EMIT emitWaitDfuOpen(false);
    if (!m_btWorker->startImage(usb, reinterpret_cast<const uint8_t *>(m_btImage.constData()),
                                quint32(m_btImage.size()),
                                image.key == FirmwarePlan::BtSoftDevice)) {
        leaveBtLoader();
        end(false, text("The keyboard's Bluetooth module could not take the firmware.",
                        "键盘的蓝牙模块无法接收固件。"));
    }
}

void FirmwareFlow::btImageFinished()
{
    if (!m_running || !m_btLoader)
        return; // a stale signal of an update that already ended
    m_progress->finishImage(m_btKey);
    if (!m_images.isEmpty() && m_images.first().key == FirmwarePlan::UsbApp) {
        // The module goes back to its application before the keyboard
        // restarts into its USB loader.
        if (!leaveBtLoader())
            return;
        QTimer::singleShot(500, this, [this] {
            if (m_running)
                startNextImage();
        });
        return;
    }
    startNextImage();
}

void FirmwareFlow::btInterrupted()
{
    if (!m_running || !m_btLoader)
        return;
    qDebug() << "中途升级错误，中断升级处理";
    if (m_btWorker)
        m_btWorker->stop();
    if (m_session && m_session->usb())
        m_session->usb()->setReadEnabled(true);
    m_btLoader = false;
    BtUpgradeDisconnect();
    afterDFUSlot();
    end(false, text("The firmware update of the Bluetooth module was interrupted. Choose the "
                    "firmware again once the keyboard is back.",
                    "蓝牙模块的固件更新中断。键盘重新连接后，请重新选择固件。"));
}

bool FirmwareFlow::leaveBtLoader()
{
    if (m_btWorker)
        m_btWorker->stop();
    Device *device = m_session ? m_session->device() : nullptr;
    if (m_session && m_session->usb())
        m_session->usb()->setReadEnabled(true);
    m_btLoader = false;
    if (device && device->_bt_boot_app() == WK_SUCCESS) {
        qDebug() << "_bt_boot_app成功";
        BtUpgradeDisconnect();
        return true;
    }
    // The error (if the module answered) arrives through DFUErrorCode.
    BtUpgradeDisconnect();
    afterDFUSlot();
    end(false, text("The Bluetooth module did not return to its application.",
                    "蓝牙模块没有返回应用程序。"));
    return false;
}

void FirmwareFlow::BtUpgradeDisconnect()
{
    if (m_session && m_session->device())
        disconnect(m_session->device(), &Device::UpdateError, this, &FirmwareFlow::DFUErrorCode);
}

QString FirmwareFlow::btErrorText(int type, int code)
{
    static const struct
    {
        int type;
        const char *prefix;
    } prefixes[] = {{0x08, "appToBootloadeErr: "},       {0x81, "eraseAppFlashErr: "},
                    {0x82, "eraseSoftDeviceFlashErr: "}, {0x83, "WriteAppFlashErr: "},
                    {0x84, "WriteSoftDeviceFlashErr: "}, {0x85, "BootloadeToAppErr: "}};
    QString prefix = QStringLiteral("unknown Err: ");
    for (const auto &p : prefixes) {
        if (p.type == type)
            prefix = QString::fromLatin1(p.prefix);
    }
    return prefix + QString::number(code) + QString(10, QLatin1Char(' '));
}

void FirmwareFlow::DFUErrorCode(int type, int code)
{
    if (!m_running)
        return;
    const QString message = btErrorText(type, code);
    qWarning().noquote() << message;
    if (m_btWorker)
        m_btWorker->stop();
    if (m_session && m_session->usb())
        m_session->usb()->setReadEnabled(true);
    m_btLoader = false;
    BtUpgradeDisconnect();
    afterDFUSlot();
    m_running = false;
    m_images.clear();
    Q_EMIT banWindowsButton(false);
    Q_EMIT finished(false);
    Dialogs::critical(m_dialogParent, tr("ErrorCode"), message, QMessageBox::Abort);
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
    const qint64 seconds = m_clock.elapsed() / 1000;
    qDebug().noquote() << "发送总耗时：" + QString::number(seconds / 60) + "分" +
                              QString::number(seconds % 60) + "秒";
    Q_EMIT banWindowsButton(false);
    Q_EMIT finished(ok);
    if (!message.isEmpty())
        Dialogs::warning(m_dialogParent, QStringLiteral("Warning"), message);
}

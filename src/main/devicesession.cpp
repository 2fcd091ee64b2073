#include "main/devicesession.h"

#include "Update/overallvariate.h"
#include "device/checkusb.h"
#include "device/device.h"
#include "device/hidbackend.h"
#include "device/protocol.h"
#include "device/usb.h"
#include "main/apppaths.h"
#include "widget/data.h"
#include "widget/dialogs.h"
#include "widget/menutree.h"

#include <QDebug>
#include <QMenu>
#include <QTimer>

#include <algorithm>

namespace {
constexpr int kScanIntervalMs = 500;
constexpr int kSwitchDelayMs = 1000;
constexpr int kReloadDelayMs = 300;
// A load error is often a keyboard that was unplugged and plugged in again
// during loading: look again after a second, a few times.
constexpr int kLoadRetryDelayMs = 1000;
constexpr int kMaxLoadRetries = 3;
constexpr uint16_t kDfuVendorId = 0x0416;
constexpr uint16_t kDfuProductId = 0xA316;
// A notification payload never extends past the 64-byte frame.
constexpr int kMaxPayload = 56;

UsbData usbData(const HidDeviceInfo &info)
{
    UsbData data;
    data.path = info.path;
    data.vendorId = info.vendorId;
    data.productId = info.productId;
    data.product = info.product.trimmed();
    return data;
}

} // namespace

DeviceSession::DeviceSession(Data *catalogue, const QVector<BoardInfo *> *boards,
                             MenuTree *menuTree, overallVariate *updateState, QWidget *dialogParent,
                             QObject *parent)
    : QObject(parent), m_catalogue(catalogue), m_boards(boards), m_menuTree(menuTree),
      m_updateState(updateState), m_dialogParent(dialogParent)
{
    registerHidReportMetaType();
    m_scanTimer = new QTimer(this);
    m_scanTimer->setObjectName(QStringLiteral("scanTimer"));
    m_scanTimer->setInterval(kScanIntervalMs);
    m_deviceListTimer = new QTimer(this);
    m_deviceListTimer->setObjectName(QStringLiteral("deviceListTimer"));
    m_deviceListTimer->setInterval(kScanIntervalMs);
    m_updateWaitTimer = new QTimer(this);
    m_updateWaitTimer->setObjectName(QStringLiteral("updateWaitTimer"));
    m_usbThread.setObjectName(QStringLiteral("usb"));
    m_deviceThread.setObjectName(QStringLiteral("device"));
    if (m_menuTree && m_menuTree->deviceMenu()) {
        connect(m_menuTree->deviceMenu(), &QMenu::aboutToShow, this,
                &DeviceSession::refreshDeviceList);
    }
    // Whoever starts the timers while the program starts up gets the first
    // look on the event loop's first pass, not one interval later.
    m_lookPending = true;
    QTimer::singleShot(0, this, &DeviceSession::lookNow);
}

void DeviceSession::start()
{
    if (m_shutDown)
        return;
    m_deviceListTimer->start();
    m_scanTimer->start();
    // The first look at once: a keyboard found now is opened and loads on
    // its threads while the window is still being shown and drawn.
    m_lookPending = false;
    scanDeviceSlot();
}

void DeviceSession::lookNow()
{
    if (!m_lookPending)
        return; // start() has looked already
    m_lookPending = false;
    if (m_scanTimer->isActive())
        scanDeviceSlot();
}

DeviceSession::~DeviceSession()
{
    if (m_device || m_usb)
        closeDevice();
}

QString DeviceSession::productName() const
{
    return m_device ? Data::productNameString(m_device->productNameBlock()) : QString();
}

bool DeviceSession::isHaveDevice(unsigned short vendorId, unsigned short productId) const
{
    return CheckUSB::isHaveDevice(vendorId, productId);
}

QList<UsbData> DeviceSession::getUSBList(unsigned short vendorId, unsigned short productId,
                                         int iface) const
{
    QList<UsbData> list;
    const QList<HidDeviceInfo> found = HidBackend::instance()->enumerate(vendorId, productId);
    for (const HidDeviceInfo &info : found) {
        if (!usbInterfaceMatches(info, iface))
            continue;
        list.append(usbData(info));
    }
    return list;
}

bool DeviceSession::hasIdentifiers() const
{
    // Without identifiers every HID device of the machine would match.
    if (m_catalogue && (m_catalogue->vid() != 0 || m_catalogue->pid() != 0))
        return true;
    static bool logged = false;
    if (!logged) {
        qWarning() << "config.xml names no keyboard (vid/pid 0): not looking for keyboards";
        logged = true;
    }
    return false;
}

bool DeviceSession::isKeyboardOpen() const
{
    return m_usb && m_usb->isOpen() && m_usb->isLinkUp();
}

QList<UsbData> DeviceSession::catalogueKeyboards(const QList<HidDeviceInfo> &found) const
{
    QList<UsbData> list;
    const uint16_t vid = m_catalogue->vid(), pid = m_catalogue->pid();
    for (const HidDeviceInfo &info : found) {
        // 0 in the catalogue matches any id, as in enumerate().
        if ((vid && info.vendorId != vid) || (pid && info.productId != pid) ||
            !usbInterfaceMatches(info, m_catalogue->iface()))
            continue;
        list.append(usbData(info));
    }
    return list;
}

void DeviceSession::scanDeviceSlot()
{
    if (m_shutDown || !hasIdentifiers())
        return;
    if (m_usb) {
        // A keyboard is open or opening: there is nothing to look for.
        m_scanTimer->stop();
        return;
    }
    // One look at the bus for both the keyboards and the boot loader; the
    // device list follows it, so that the first keyboard is known at once.
    const QList<HidDeviceInfo> found = HidBackend::instance()->enumerateAny(
        {{m_catalogue->vid(), m_catalogue->pid()}, {kDfuVendorId, kDfuProductId}});
    updateDeviceList(catalogueKeyboards(found));
    const bool bootLoader = std::any_of(found.cbegin(), found.cend(), [](const HidDeviceInfo &i) {
        return i.vendorId == kDfuVendorId && i.productId == kDfuProductId;
    });
    if (!m_menuTree->getUsbData().isEmpty()) {
        qDebug() << "Find Normal device.";
        m_scanTimer->stop();
        m_selectedPath = m_menuTree->getUsbData().first().path;
        intoNormalMode();
    } else if (bootLoader) {
        qDebug() << "Find DFU device.";
        m_scanTimer->stop();
        intoDFUMode();
    }
}

void DeviceSession::MultiscanDeviceSlot()
{
    if (!hasIdentifiers())
        return;
    if (m_scanTimer->isActive())
        return; // the scan's own look keeps the list up to date
    if (isKeyboardOpen()) {
        // Its unplugging arrives as a read error; the menu looks again
        // when it is about to show.
        m_deviceListTimer->stop();
        return;
    }
    refreshDeviceList();
}

void DeviceSession::refreshDeviceList()
{
    if (m_shutDown || !hasIdentifiers())
        return;
    updateDeviceList(getUSBList(m_catalogue->vid(), m_catalogue->pid(), m_catalogue->iface()));
}

void DeviceSession::updateDeviceList(const QList<UsbData> &present)
{
    bool added = false;
    for (const UsbData &data : present) {
        bool known = false;
        for (const UsbData &record : m_menuTree->getUsbData()) {
            if (record.path == data.path) {
                known = true;
                break;
            }
        }
        if (!known) {
            m_menuTree->addDeviceAction(data);
            added = true;
        }
    }

    bool removed = true;
    while (removed) {
        removed = false;
        const QMap<int, UsbData> records = m_menuTree->getUsbData();
        for (const UsbData &record : records) {
            bool stillThere = false;
            for (const UsbData &data : present) {
                if (data.path == record.path && data.vendorId == record.vendorId &&
                    data.productId == record.productId) {
                    stillThere = true;
                    break;
                }
            }
            if (!stillThere) {
                if (record.path == m_failedPath)
                    m_loadRetries = 0; // unplugged: a new plug gets fresh retries
                m_menuTree->removeDeviceAction(record);
                removed = true;
                break;
            }
        }
    }

    if (m_usb && !m_switching && !m_updateWaitTimer->isActive()) {
        // A keyboard that vanished before its transport opened would be
        // retried forever: treat it as unplugged.
        bool selectedPresent = false;
        for (const UsbData &data : present)
            selectedPresent = selectedPresent || data.path == m_selectedPath;
        if (!selectedPresent && !m_usb->isOpen()) {
            qDebug() << "start scan usb open mode.";
            closeDevice();
            m_scanTimer->start();
        }
    } else if (!m_usb && added && !m_switching && !m_shutDown && !m_scanTimer->isActive()) {
        // After a load error the scan is stopped; a keyboard plugged in
        // again (or another one) is picked up once more.
        m_scanTimer->start();
    }
}

void DeviceSession::switchUsbDevice(UsbData data)
{
    if (m_shutDown)
        return;
    if (!m_usb) {
        // Nothing open: open the chosen keyboard (not merely the first one).
        if (data.path.isEmpty()) {
            scanDeviceSlot();
            return;
        }
        m_scanTimer->stop();
        m_selectedPath = data.path;
        intoNormalMode();
        return;
    }
    if (data.path == m_usb->getUsbPath()) {
        qDebug() << "=====相同设备，不切换=====";
        m_menuTree->setOpenAction(m_usb->getUsbPath());
        return;
    }
    m_switching = true;
    qDebug() << "=====切换设备=====";
    m_deviceListTimer->stop();
    m_scanTimer->stop();
    closeDevice();
    const QString path = data.path;
    QTimer::singleShot(kSwitchDelayMs, this, [this, path] {
        m_switching = false;
        if (m_shutDown || m_usb)
            return;
        m_selectedPath = path;
        intoNormalMode();
        if (!m_deviceListTimer->isActive())
            m_deviceListTimer->start();
    });
}

void DeviceSession::reloadDevice()
{
    if (!m_usb || m_shutDown)
        return;
    const QString path = m_usb->getUsbPath();
    m_switching = true;
    m_scanTimer->stop();
    closeDevice();
    QTimer::singleShot(kReloadDelayMs, this, [this, path] {
        m_switching = false;
        if (m_shutDown || m_usb)
            return;
        m_selectedPath = path;
        intoNormalMode();
    });
}

void DeviceSession::shutdown()
{
    m_shutDown = true;
    m_scanTimer->stop();
    m_deviceListTimer->stop();
    closeDevice();
}

bool DeviceSession::isPresent(const QString &path) const
{
    const QList<UsbData> present =
        getUSBList(m_catalogue->vid(), m_catalogue->pid(), m_catalogue->iface());
    for (const UsbData &data : present) {
        if (data.path == path)
            return true;
    }
    return false;
}

void DeviceSession::retryAfterLoadError(const QString &path)
{
    if (path != m_failedPath) {
        m_failedPath = path;
        m_loadRetries = 0;
    }
    if (m_loadRetries >= kMaxLoadRetries) {
        qWarning() << "the keyboard failed to load" << m_loadRetries + 1
                   << "times; waiting until it is plugged in again or chosen in the menu";
        return;
    }
    ++m_loadRetries;
    QTimer::singleShot(kLoadRetryDelayMs, this, [this, path] {
        if (m_shutDown || m_usb || m_switching)
            return;
        if (!isPresent(path)) {
            // Gone: look for it (or another keyboard) the normal way.
            if (!m_scanTimer->isActive())
                m_scanTimer->start();
            return;
        }
        qDebug() << "opening the keyboard again after a load error, try" << m_loadRetries;
        m_selectedPath = path;
        intoNormalMode();
    });
}

void DeviceSession::intoNormalMode()
{
    Q_EMIT loadingStarted();
    openUSB();
}

void DeviceSession::intoDFUMode()
{
    Q_EMIT dfuDeviceFound();
}

void DeviceSession::openUSB()
{
    if (m_usb || m_shutDown)
        return;
    qInfo() << "Create USB thread.";
    m_openTime.start();
    m_loaded = false;
    m_usb = new Usb(&m_answerCondition, &m_answerMutex, &m_waiting);
    m_usb->moveToThread(&m_usbThread);
    connect(this, &DeviceSession::emitUsbOpen, m_usb, &Usb::openSlot);
    connect(m_usb, &Usb::emitOpenSucceeded, this, &DeviceSession::usbOpenSucceededSlot);
    connect(m_usb, &Usb::emitUsbDisconnect, this, &DeviceSession::usbDisconnectSLot);
    m_usbThread.start();
    // Until the keyboard is open, the device list's tick watches that it is
    // still there.
    if (!m_deviceListTimer->isActive())
        m_deviceListTimer->start();
    Q_EMIT emitUsbOpen(m_catalogue->vid(), m_catalogue->pid(), m_catalogue->iface(),
                       m_selectedPath);
}

void DeviceSession::usbOpenSucceededSlot()
{
    if (!m_usb || sender() != m_usb || m_device)
        return;
    m_menuTree->setOpenAction(m_usb->getUsbPath());
    m_device = new Device(m_usb, &m_answerCondition, &m_answerMutex, &m_waiting);
    m_device->moveToThread(&m_deviceThread);
    connect(this, &DeviceSession::emitLoadDevInfo, m_device, &Device::loadDevInfoSlot);
    connect(m_device, &Device::emitLoadDevInfoError, this, &DeviceSession::deviceLoadInfoError);
    connect(m_device, &Device::emitFinishLoad, this, &DeviceSession::finishLoadDeviceSlot);
    connect(m_device, &Device::emitNotify, this, &DeviceSession::onRecvNotifySlot);
    connect(m_device, &Device::emitState, this, &DeviceSession::deviceState);
    connect(m_usb, &Usb::emitRecvCmd, m_device, &Device::recvCmdSlot);
    m_deviceThread.start();
    Q_EMIT emitLoadDevInfo();
}

void DeviceSession::finishLoadDeviceSlot()
{
    qDebug() << "Lumory Device open time " << m_openTime.restart();
    if (!m_device || sender() != m_device)
        return;
    Q_EMIT pagesBuilding();

    // The question box runs a nested event loop: the keyboard may be unplugged
    // (or another one loaded), and the program may exit, before it returns.
    const QPointer<Device> device = m_device;
    const auto stillCurrent = [this, &device] {
        return !Dialogs::isReleased(this) && !m_shutDown && device && m_device == device;
    };
    if (checkVersion()) {
        if (!stillCurrent())
            return;
        if (m_firmwareUpdateAvailable) {
            Q_EMIT firmwareUpdateRequested();
            return;
        }
        const bool zh = m_langType == 0;
        Dialogs::information(
            m_dialogParent, zh ? QStringLiteral("固件更新") : QStringLiteral("Firmware Update"),
            zh ? QStringLiteral("此版本的 Lumory 还不能更新固件。键盘保留当前固件，可以照常使用。")
               : QStringLiteral("This version of Lumory cannot update firmware yet. The "
                                "keyboard keeps its current firmware and works as before."));
    }
    if (!stillCurrent())
        return;
    m_loadRetries = 0;

    const QByteArray block = m_device->productNameBlock();
    m_board = Data::findBoard(*m_boards, block);
    if (m_board)
        m_deviceDir =
            DeviceFiles::createCurDeviceFile(AppPaths::dataDir(), m_device->deviceIdBytes());
    else
        qDebug().noquote() << "no board in the catalogue for" << productName();
    m_loaded = true;
    Q_EMIT deviceReady(m_board);

    qDebug() << "Keyboard load finished " << m_openTime.elapsed();
    if (m_updateState) {
        m_updateState->setKBInfo(productName(), Data::versionString(m_device->fwVersion()), 0,
                                 QString(), QString(), QString());
        m_updateState->setOnlinState(true);
    }
    Q_EMIT loadFinished();
}

bool DeviceSession::checkVersion()
{
    if (!m_device)
        return false;
    BoardInfo *board = Data::findBoard(*m_boards, m_device->productNameBlock());
    const double latest = board ? board->fw : 0;
    if (!board || latest == 0) {
        qDebug().noquote() << "Check version error：version = " << latest;
        return false;
    }
    const double current = m_device->fwVersion() / 100.0;
    qDebug().noquote() << "当前版本：v" + QString::number(current, 'f', 2);
    if (latest <= current)
        return false;
    const QString text = QStringLiteral("Firmware Version: ") +
                         QStringLiteral("<font color='red'>v") + QString::number(current, 'f', 2) +
                         QStringLiteral("</font>") + QStringLiteral(" less than ") +
                         QStringLiteral("<font color='red'>v") + QString::number(latest, 'f', 2) +
                         QStringLiteral("</font>") + QStringLiteral(", Firmware Update you sure!");
    const QPointer<Device> device = m_device;
    const bool yes = Dialogs::information(m_dialogParent, tr("Firmware Update"), text,
                                          QMessageBox::Yes | QMessageBox::No,
                                          QMessageBox::Yes) == QMessageBox::Yes;
    // Unplugged or closed while the question was open: nothing to update.
    return yes && !Dialogs::isReleased(this) && device && m_device == device;
}

void DeviceSession::deviceLoadInfoError()
{
    if (!m_device || sender() != m_device)
        return;
    qWarning() << "Device Load Info Error.";
    qWarning() << "在加载Device时，出现错误，卡顿在USB写入数据中......测试处理.........";
    const QString path = m_usb ? m_usb->getUsbPath() : m_selectedPath;
    closeDevice();
    Q_EMIT loadFailed();
    // A keyboard plugged in again (or another one) is noticed by the list.
    if (!m_shutDown && !m_deviceListTimer->isActive())
        m_deviceListTimer->start();
    retryAfterLoadError(path);
}

void DeviceSession::usbDisconnectSLot()
{
    // Only the open transport counts; a loop that ended because we closed it
    // reports too, after the fact.
    if (!m_usb || sender() != m_usb)
        return;
    if (m_updateWaitTimer->isActive()) {
        // It left for its update as expected: only the list follows.
        if (!m_deviceListTimer->isActive())
            m_deviceListTimer->start();
        return;
    }
    qDebug() << "start scan usb open mode.";
    closeDevice();
    if (!m_switching && !m_shutDown)
        m_scanTimer->start();
}

uint16_t DeviceSession::vendorId() const
{
    return m_catalogue ? m_catalogue->vid() : 0;
}

uint16_t DeviceSession::productId() const
{
    return m_catalogue ? m_catalogue->pid() : 0;
}

bool DeviceSession::closeDevice()
{
    if (m_closing)
        return true;
    m_closing = true;
    qDebug() << "close device.....";
    Q_EMIT deviceClosing();
    if (m_updateState) {
        m_updateState->clearKBInfo();
        m_updateState->setOnlinState(false);
    }
    qDebug() << "start delete dynmic keybtn all.";
    deviceQuitThreadSlot();
    usbQuitThreadSlot();
    m_board = nullptr;
    m_deviceDir.clear();
    m_loaded = false;
    m_waiting = false;
    qDebug() << "0000000000000000000-closeDevice-0000000000000000000";
    m_closing = false;
    Q_EMIT deviceClosed();
    return true;
}

void DeviceSession::deviceQuitThreadSlot()
{
    qDebug() << "quit device finished.";
    if (m_device)
        m_device->abortExchanges();
    {
        QMutexLocker lock(&m_answerMutex);
        m_answerCondition.wakeAll();
    }
    m_deviceThread.requestInterruption();
    m_deviceThread.quit();
    m_deviceThread.wait();
    delete m_device;
    m_device = nullptr;
}

void DeviceSession::usbQuitThreadSlot()
{
    qDebug() << "quit usb finish.";
    if (m_usb)
        m_usb->quitReadWhile();
    m_usbThread.quit();
    m_usbThread.wait();
    if (m_usb) {
        m_usb->close();
        delete m_usb;
        m_usb = nullptr;
    }
}

void DeviceSession::onRecvNotifySlot(const HidReport &report)
{
    if (!m_device || sender() != m_device)
        return;
    const int n = report.length();
    const QByteArray payload(reinterpret_cast<const char *>(report.data()) + wk::kOffPayload,
                             qBound(0, n, kMaxPayload));
    switch (report[1]) {
    case 0x20:
        if (n == 2) {
            qDebug("onRecvNotifySlot=%d", report[9]);
            if (report[9] < m_device->kcmCount())
                Q_EMIT keyMapNotify(report[9]);
            else
                qDebug("key map %d has no button, ignored", report[9]);
        }
        break;
    case 0x21:
        if (n >= 1)
            Q_EMIT lockNotify(payload);
        break;
    case 0x30:
        if (n == 2) {
            if (report[9] < m_device->krmCount())
                Q_EMIT colourMapNotify(report[9]);
            else
                qDebug("colour map %d has no button, ignored", report[9]);
        }
        break;
    case 0x50:
        Q_EMIT macroNotify(payload);
        break;
    case 0x60:
        if (n == 2) {
            if (report[9] < m_device->lmmCount())
                Q_EMIT modeMapNotify(report[9]);
            else
                qDebug("mode map %d has no button, ignored", report[9]);
        }
        break;
    case 0xAA:
        if (n == 2)
            Q_EMIT keyFunctionNotify(report[8], report[9]);
        break;
    default:
        break;
    }
}

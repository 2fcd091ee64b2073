#include "fuzzdevice.h"

#include "device/hidbackend.h"
#include "device/hidreport.h"
#include "device/wirerecords.h"
#include "macro/macrocodec.h"
#include "shortcut/kfrecord.h"
#include "widget/data.h"

#include <QCoreApplication>

#include <memory>

namespace fuzz {

DeviceLink::DeviceLink(HidBackend *backend)
{
    HidBackend::setInstance(backend);
    m_usb = new Usb(&m_condition, &m_mutex, &m_waiting);
    m_usb->setDfuPID(kVendorId, kProductId, kInterface);
    m_opened = m_usb->open() == 0;
    m_usb->moveToThread(&m_thread);
    m_thread.start();
    m_device = new Device(m_usb, &m_condition, &m_mutex, &m_waiting);
    QObject::connect(m_usb, &Usb::emitRecvCmd, m_device, &Device::recvCmdSlot);

    // What the device session does with a notification, as far as it is not
    // widget work: the length field bounds the payload, map numbers are
    // checked against the model, recorded macro frames are decoded.
    QObject::connect(m_device, &Device::emitNotify, m_device, [this](const HidReport &report) {
        const int n = qBound(0, int(report.length()), wk::kMaxPayload);
        const uint8_t *payload = report.data() + wk::kOffPayload;
        volatile int sink = 0;
        switch (report[1]) {
        case 0x20:
            sink = report[9] < m_device->kcmCount();
            break;
        case 0x30:
            sink = report[9] < m_device->krmCount();
            break;
        case 0x60:
            sink = report[9] < m_device->lmmCount();
            break;
        case 0x50:
            sink = m_liveDecoder.feed(payload, n).size();
            break;
        default:
            break;
        }
        (void)sink;
    });
    if (m_opened)
        QMetaObject::invokeMethod(m_usb, &Usb::readSlot, Qt::QueuedConnection);
}

DeviceLink::~DeviceLink()
{
    m_device->abortExchanges();
    m_usb->quitReadWhile();
    m_thread.quit();
    m_thread.wait();
    // Reports handed to the model while it was busy are delivered now.
    QCoreApplication::sendPostedEvents();
    m_usb->close();
    delete m_device;
    delete m_usb;
    HidBackend::setInstance(nullptr);
}

void DeviceLink::runSession(int budgetMs)
{
    std::unique_ptr<QThread> worker(QThread::create([this] { runDeviceSession(m_device); }));
    worker->start();
    if (!worker->wait(static_cast<unsigned long>(budgetMs))) {
        m_device->abortExchanges();
        worker->wait();
    }
}

void runDeviceSession(Device *d)
{
    const auto load = [d]() -> bool {
        using Step = uint32_t (Device::*)();
        static const Step steps[] = {
            &Device::getDeviceInfo, &Device::getDeviceId,     &Device::getDeviceVersion,
            &Device::getScanSpeed,  &Device::getUserInfo,     &Device::getNKey,
            &Device::getKCInfo,     &Device::getCurKCMID,     &Device::getCurKCM,
            &Device::getKRInfo,     &Device::getCurKRMID,     &Device::getCurKRM,
            &Device::getKMInfo,     &Device::getAllMacroHead, &Device::getKFInfo,
            &Device::getAllKF,      &Device::getLAInfo,
        };
        for (Step step : steps) {
            if ((d->*step)() != WK_SUCCESS)
                return false;
        }
        if (d->laCount() != 0 && d->getAllLA() != WK_SUCCESS)
            return false;
        return d->getLMInfo() == WK_SUCCESS && d->getCurLMMID() == WK_SUCCESS &&
               d->getCurLMM() == WK_SUCCESS;
    };
    if (load()) {
        d->getBtName();
        d->getSleepTime();
    }

    // A macro read and decoded as the macro page does.
    for (int slot = 0; slot < d->kmCount(); ++slot) {
        const km_t *head = d->macroHead(slot);
        if (!head || !head->used())
            continue;
        if (d->readMacro(static_cast<unsigned char>(slot)) == WK_SUCCESS) {
            QVector<DataKey> events;
            MacroCodec::parserFrame(head->frameCount(), d->macroFrames(), d->macroFramesHeld(),
                                    &events);
        }
        break;
    }

    // Edits the pages make, each answered by the keyboard.
    if (d->krCount() > 0)
        d->setKRRgb(0, 0xff204060);
    if (d->kfCount() > 0) {
        kf_t *entry = d->kfRecord(0);
        if (entry)
            d->setKFItem(entry);
    }
    if (d->laCount() > 0)
        d->setLAItem(d->laRecord(0));
    d->setBtName(QStringLiteral("Lumory"));

    // What the pages read from the model.
    volatile uint32_t sink = 0;
    sink = sink + Data::productNameString(d->productNameBlock()).size() +
           Data::versionString(d->fwVersion()).size() + d->krmWritable() + d->lmmWritable();
    for (int i = 0; i < d->kcCount(); ++i)
        sink = sink + d->keyCode(i).code();
    for (int i = 0; i < d->krCount(); ++i)
        sink = sink + d->getKRRgb(i);
    for (int i = 0; i < d->lmCount(); ++i)
        sink = sink + d->modes()[i];
    for (int i = 0; i < d->laCount(); ++i)
        sink = sink + d->laRecord(i)->modeNumber();
    const QVector<KF> noCatalogue;
    for (int i = 0; i < d->kfCount(); ++i) {
        if (kf_t *entry = d->kfRecord(i))
            sink = sink + KfRecord::decode(*entry, noCatalogue).hi;
    }
    for (int i = 0; i < d->kmCount(); ++i)
        sink = sink + d->macroHead(i)->frameCount();
    (void)sink;
}

} // namespace fuzz

// Device: the USB boot-loader protocol (firmware update of the keyboard's
// microcontroller).
//
// Stop and wait: every packet is 64 bytes (command, packet number, 56 data
// bytes, little-endian), and the next one leaves only when the loader has
// answered with the byte sum of the packet and its number + 1. The packet
// counter advances once per send and once per accepted answer, so the host
// sends 1, 3, 5, ... and the loader answers 2, 4, 6, ...
//
// Every answer that is awaited has a deadline; the answer loop turns an
// expired deadline, a failed write or a vanished loader into emitStopDfu().
// Terminal signals are emitted only by the answer loop's thread (or, for the
// finish, by the answer handling it runs), never from the caller of
// dfuStartUpdateFW, so a receiver on the main thread always gets them queued.

#include "device/device.h"

#include "device/usb.h"

#include <QDebug>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>

#include <algorithm>
#include <cstring>

using namespace wk;

namespace {

QMutex s_timeoutLock;
Device::DfuTimeouts s_timeouts;

} // namespace

void Device::setDfuTimeouts(const DfuTimeouts &timeouts)
{
    QMutexLocker lock(&s_timeoutLock);
    s_timeouts.answerMs = std::max(1, timeouts.answerMs);
    s_timeouts.eraseMs = std::max(1, timeouts.eraseMs);
    s_timeouts.leaveMs = std::max(1, timeouts.leaveMs);
    s_timeouts.readSliceMs = std::max(1, timeouts.readSliceMs);
}

Device::DfuTimeouts Device::dfuTimeouts()
{
    QMutexLocker lock(&s_timeoutLock);
    return s_timeouts;
}

uint16_t Device::dfuGetCRC(const uint8_t *buf, uint16_t length)
{
    if (!buf)
        return 0;
    unsigned sum = 0;
    for (uint16_t i = 0; i < length; ++i)
        sum += buf[i];
    return static_cast<uint16_t>(sum);
}

bool Device::openDFU(Usb *usb)
{
    if (!usb)
        return false;
    setUsb(usb);
    return usb->open() >= 0;
}

void Device::enterUsbMcuDfu()
{
    // Not in the middle of another command's exchange.
    QMutexLocker lock(&m_exchangeLock);
    qDebug() << "enterUsbMcuDfu: asking the keyboard to restart into its boot loader";
    if (sendCmd(CMD_DEVICE, SUB_ENTER_USB_DFU, 0, 0, nullptr) != WK_SUCCESS)
        qWarning() << "enterUsbMcuDfu: the request could not be written";
}

uint32_t Device::dfuUSBWrite(uint8_t *buf, int length)
{
    if (!buf || !m_usb ||
        m_usb->write(buf, static_cast<unsigned short>(std::clamp(length, 0, kReportSize))) < 0) {
        qWarning() << "USB write error.";
        return WK_ERROR_WRITE;
    }
    return WK_SUCCESS;
}

void Device::dfuArm(uint32_t command)
{
    const DfuTimeouts t = dfuTimeouts();
    if (command == CMD_RUN_APROM) {
        m_dfuState = DfuState::Running;
        m_dfuDeadline = QDeadlineTimer(t.leaveMs);
    } else {
        m_dfuState = DfuState::Waiting;
        m_dfuDeadline = QDeadlineTimer(command == CMD_UPDATE_APROM ? t.eraseMs : t.answerMs);
    }
}

uint32_t Device::dfuSendPacket(uint8_t *packet, uint32_t command)
{
    putLe32(packet, command);
    putLe32(packet + 4, m_dfuPackNo);
    m_dfuLastCmd = command;
    m_dfuCheckSum = dfuGetCRC(packet, kReportSize);
    ++m_dfuPackNo;
    dfuArm(command);
    const uint32_t e = dfuUSBWrite(packet, kReportSize);
    if (e != WK_SUCCESS) {
        // No answer can come; the answer loop reports the failure.
        m_dfuState = DfuState::Failed;
        m_dfuLastCmd = 0xFFFFFFFF;
    }
    return e;
}

uint32_t Device::dfuStartUpdateFW(uint8_t *image, int length)
{
    QMutexLocker lock(&m_dfuLock);
    m_dfuSendByte = 0;
    m_dfuStartAddress = 0;
    m_dfuCheckSum = 0;
    m_dfuPackNo = 1;
    m_dfuLastCmd = 0xFFFFFFFF;
    if (length < 0 || (!image && length > 0)) {
        qWarning() << "dfuStartUpdateFW: no image to send, length" << length;
        m_dfuImage.clear();
        m_dfuFileSize = 0;
        m_dfuState = DfuState::Failed;
        return WK_ERROR_OUT_OF_RANGE;
    }
    // A copy: the caller's buffer may go away while the loader still answers.
    m_dfuImage = QByteArray(reinterpret_cast<const char *>(image), length);
    m_dfuFileSize = static_cast<uint32_t>(length);
    m_dfuState = DfuState::Idle;
    qDebug() << "dfu Send Sync Packno";
    dfuSendSyncPackno();
    return WK_SUCCESS;
}

uint32_t Device::dfuSendSyncPackno()
{
    QMutexLocker lock(&m_dfuLock);
    std::memset(m_dfuPacket, 0, sizeof m_dfuPacket);
    putLe32(m_dfuPacket + 8, m_dfuPackNo);
    return dfuSendPacket(m_dfuPacket, CMD_SYNC_PACKNO);
}

uint32_t Device::dfuSendUpdateAPROM()
{
    QMutexLocker lock(&m_dfuLock);
    std::memset(m_dfuPacket, 0, sizeof m_dfuPacket);
    putLe32(m_dfuPacket + 8, m_dfuStartAddress);
    putLe32(m_dfuPacket + 12, m_dfuFileSize);
    const uint32_t n = std::min<uint32_t>(m_dfuFileSize, kDfuFirstChunk);
    if (n)
        std::memcpy(m_dfuPacket + 16, m_dfuImage.constData(), n);
    m_dfuSendByte = n;
    const uint32_t e = dfuSendPacket(m_dfuPacket, CMD_UPDATE_APROM);
    if (e != WK_SUCCESS)
        qWarning() << "sendUpdateAPROM write usb failed.....";
    return e;
}

uint32_t Device::dfuSendFWData()
{
    QMutexLocker lock(&m_dfuLock);
    qDebug() << "dfuSendFWData=============================================================";
    if (m_dfuSendByte < m_dfuFileSize) {
        std::memset(m_dfuPacket, 0, sizeof m_dfuPacket);
        const uint32_t n = std::min<uint32_t>(m_dfuFileSize - m_dfuSendByte, kDfuChunk);
        std::memcpy(m_dfuPacket + 8, m_dfuImage.constData() + m_dfuSendByte, n);
        m_dfuSendByte += n;
        const uint32_t e = dfuSendPacket(m_dfuPacket, CMD_WRITE_FLASH);
        if (e != WK_SUCCESS)
            qWarning() << "sendUpdateAPROM write usb failed, and m_dfuSendByte=" << m_dfuSendByte
                       << "m_dfuFileSize=" << m_dfuFileSize;
        emit SendByteUpdateProgress(static_cast<int>(m_dfuSendByte));
        return e;
    }
    if (m_dfuSendByte == m_dfuFileSize) {
        qDebug() << "dfu success....";
        const uint32_t e = dfuRunAPROM();
        // A run command that never left is no success: the loader keeps
        // waiting, and the answer loop reports the failure.
        if (e == WK_SUCCESS)
            emit emitUpdateDfuFinished();
        return e;
    }
    return WK_SUCCESS;
}

uint32_t Device::dfuRunAPROM()
{
    QMutexLocker lock(&m_dfuLock);
    std::memset(m_dfuPacket, 0, sizeof m_dfuPacket);
    return dfuSendPacket(m_dfuPacket, CMD_RUN_APROM);
}

uint32_t Device::onDfuReceiveCmd(uint8_t *buf, int length)
{
    if (!buf || length < 8)
        return WK_SUCCESS;
    QMutexLocker lock(&m_dfuLock);
    if (m_dfuState != DfuState::Waiting)
        return WK_SUCCESS; // nothing awaited: late, stray or after the run command
    const uint16_t checksum = le16(buf);
    const uint32_t packNo = le32(buf + 4);
    if (checksum != m_dfuCheckSum || packNo != m_dfuPackNo) {
        qDebug("dfu answer ignored: checksum %04x packet %u, awaited %04x packet %u", checksum,
               packNo, m_dfuCheckSum, m_dfuPackNo);
        return WK_SUCCESS;
    }
    switch (m_dfuLastCmd) {
    case CMD_SYNC_PACKNO:
        ++m_dfuPackNo;
        qDebug() << "CMD_SYNC_PACKNO";
        dfuSendUpdateAPROM();
        break;
    case CMD_UPDATE_APROM:
        ++m_dfuPackNo;
        qDebug() << "CMD_UPDATE_APROM";
        dfuSendFWData();
        break;
    case CMD_WRITE_FLASH:
        ++m_dfuPackNo;
        qDebug() << "CMD_WRITE_FLASH";
        dfuSendFWData();
        break;
    default:
        break;
    }
    return WK_SUCCESS;
}

void Device::stopDfuRead()
{
    m_dfuStop.store(true);
}

void Device::readDFUUsbSlot()
{
    qDebug() << "device thread ID: " << QThread::currentThreadId();
    uint8_t buf[kReportSize];
    for (;;) {
        if (m_dfuStop.load() || abortRequested()) {
            qDebug() << "DFU answer loop stopped on request.";
            return;
        }
        const DfuTimeouts t = dfuTimeouts();
        std::memset(buf, 0, sizeof buf);
        const int n = m_usb ? m_usb->readTimeout(buf, sizeof buf, t.readSliceMs) : -1;
        if (n > 0)
            onDfuReceiveCmd(buf, kReportSize);

        bool fail = false;
        {
            QMutexLocker lock(&m_dfuLock);
            if (n < 0) {
                qWarning() << "Read DFU USB error.";
                if (m_dfuState == DfuState::Running || m_dfuState == DfuState::Finished) {
                    // The loader left after the run command, as it should.
                    m_dfuState = DfuState::Finished;
                    return;
                }
                fail = true;
            } else if (m_dfuState == DfuState::Waiting && m_dfuDeadline.hasExpired()) {
                qWarning("DFU: no valid answer to packet %u (command %02x) in time",
                         m_dfuPackNo - 1, m_dfuLastCmd);
                fail = true;
            } else if (m_dfuState == DfuState::Running && m_dfuDeadline.hasExpired()) {
                qWarning() << "DFU: the boot loader is still present after the run command.";
                m_dfuState = DfuState::Finished;
                return;
            } else if (m_dfuState == DfuState::Failed) {
                fail = true; // a packet could not be written
            }
            if (fail) {
                m_dfuState = DfuState::Failed;
                m_dfuLastCmd = 0xFFFFFFFF;
            }
        }
        if (fail) {
            emit emitStopDfu();
            return;
        }
    }
}

uint32_t Device::dfuFileSize() const
{
    QMutexLocker lock(&m_dfuLock);
    return m_dfuFileSize;
}

uint32_t Device::dfuSendByte() const
{
    QMutexLocker lock(&m_dfuLock);
    return m_dfuSendByte;
}

uint32_t Device::dfuPacketNumber() const
{
    QMutexLocker lock(&m_dfuLock);
    return m_dfuPackNo;
}

bool Device::dfuFinished() const
{
    QMutexLocker lock(&m_dfuLock);
    return m_dfuState == DfuState::Running || m_dfuState == DfuState::Finished;
}

bool Device::dfuFailed() const
{
    QMutexLocker lock(&m_dfuLock);
    return m_dfuState == DfuState::Failed;
}

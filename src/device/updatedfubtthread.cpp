// The Bluetooth module's image writer: erase, then 48-byte chunks, each sent
// only when the module acknowledged the previous frame.

#include "device/updatedfubtthread.h"

#include "device/device.h"
#include "device/usb.h"

#include <QDebug>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

using namespace wk;

namespace {

constexpr uint8_t kRecordLength = 0x34; // packet number + data bytes
constexpr uint16_t kEraseLength = 56;

} // namespace

updateDFUBtThread::updateDFUBtThread(QObject *parent) : QThread(parent)
{
    // Both run on the worker's thread, inside run().
    connect(this, &updateDFUBtThread::app_bin, this, &updateDFUBtThread::bt_app_bin_data,
            Qt::DirectConnection);
    connect(this, &updateDFUBtThread::sd_bin, this, &updateDFUBtThread::bt_sd_bin_data,
            Qt::DirectConnection);
}

updateDFUBtThread::~updateDFUBtThread()
{
    stop();
    wait();
}

void updateDFUBtThread::stop()
{
    m_stop.store(true);
    requestInterruption();
    QMutexLocker lock(&m_idleLock);
    m_idleCondition.wakeAll();
}

bool updateDFUBtThread::isBusy() const
{
    QMutexLocker lock(&m_lock);
    return m_running || m_state != State::Idle;
}

uint32_t updateDFUBtThread::sentBytes() const
{
    QMutexLocker lock(&m_lock);
    return m_sent;
}

uint32_t updateDFUBtThread::packetNumber() const
{
    QMutexLocker lock(&m_lock);
    return m_packNo;
}

uint8_t updateDFUBtThread::GetCRC(unsigned char *buf, unsigned short length)
{
    unsigned sum = 0;
    for (unsigned short i = 0; buf && i < length; ++i)
        sum += buf[i];
    return static_cast<uint8_t>(sum);
}

bool updateDFUBtThread::startImage(Usb *usb, const uint8_t *image, uint32_t size, bool softDevice)
{
    if (!usb || !image || (softDevice ? size < kSdOffset : size == 0)) {
        qWarning() << "updateDFUBtThread: no image to write, size" << size;
        return false;
    }
    if (isBusy()) {
        qWarning() << "updateDFUBtThread: an image is still being written";
        return false;
    }
    // The receive loop must be out of its read before the first answer can
    // arrive, or it would take the answer away from us.
    usb->setReadEnabled(false);
    if (!usb->waitReadPaused(Device::btTimeouts().handOverMs)) {
        qWarning() << "updateDFUBtThread: the receive loop did not stop reading";
        usb->setReadEnabled(true);
        return false;
    }

    bool alive;
    {
        QMutexLocker lock(&m_lock);
        alive = m_loopAlive;
    }
    if (!alive) {
        wait(); // a loop that just ended after a read error
        m_stop.store(false);
        {
            QMutexLocker lock(&m_lock);
            m_loopAlive = true;
        }
        start(QThread::HighestPriority);
    }

    QMutexLocker lock(&m_lock);
    m_image = image;
    m_imageSize = size;
    m_sent = 0;
    m_packNo = 1;
    m_usb = usb;
    m_state = State::Idle;
    m_running = true;
    {
        QMutexLocker idle(&m_idleLock);
        m_idleCondition.wakeAll();
    }
    if (softDevice)
        bt_erase_sd_com();
    else
        bt_erase_app_com();
    return true;
}

int updateDFUBtThread::sendCmd(unsigned char cmd, unsigned char sub, unsigned short length,
                               unsigned short argument, unsigned char *data)
{
    if (length > kMaxPayload)
        return -1;
    uint8_t frame[kReportSize] = {};
    frame[kOffCommand] = cmd;
    frame[kOffSubCommand] = sub;
    putLe16(frame + kOffLength, length);
    putLe16(frame + kOffArgument, argument);
    if (data && length)
        std::memcpy(frame + kOffPayload, data, length);
    Usb *usb;
    {
        QMutexLocker lock(&m_lock);
        usb = m_usb;
    }
    return usb && usb->write(frame, kReportSize) == 0 ? 0 : -1;
}

bool updateDFUBtThread::sendRecord(const uint8_t *record, uint16_t length, uint8_t awaitedOp,
                                   int deadlineMs)
{
    m_awaitedOp = awaitedOp;
    m_deadline = QDeadlineTimer(deadlineMs);
    m_state = State::Waiting;
    if (sendCmd(CMD_BLUETOOTH, SUB_BT_DFU, length, 0, const_cast<uint8_t *>(record)) == 0)
        return true;
    // No answer can come; run() reports it.
    m_state = State::Failed;
    return false;
}

uint32_t updateDFUBtThread::sendErase(uint8_t op, const char *name)
{
    QMutexLocker lock(&m_lock);
    uint8_t record[kEraseLength] = {};
    record[0] = op;
    record[2] = op;
    qDebug() << name << (m_running ? "true" : "false");
    return sendRecord(record, kEraseLength, op, Device::btTimeouts().eraseMs) ? 0 : uint32_t(-1);
}

uint32_t updateDFUBtThread::bt_erase_app_com()
{
    return sendErase(Device::BT_OP_ERASE_APP, "emit bt_erase_app_com()");
}

uint32_t updateDFUBtThread::bt_erase_sd_com()
{
    return sendErase(Device::BT_OP_ERASE_SD, "bt_erase_sd_com");
}

uint32_t updateDFUBtThread::bt_boot_app()
{
    return sendErase(Device::BT_OP_BOOT_TO_APP, "bt_boot_app");
}

void updateDFUBtThread::bt_app_bin_data()
{
    sendChunk(Device::CMD_UPDATE_BT_APP);
}

void updateDFUBtThread::bt_sd_bin_data()
{
    sendChunk(Device::CMD_UPDATE_BT_SD);
}

void updateDFUBtThread::sendChunk(uint8_t op)
{
    QMutexLocker lock(&m_lock);
    if (!m_running || !m_image)
        return;
    const bool sd = op == Device::CMD_UPDATE_BT_SD;
    const uint32_t skip = sd ? kSdOffset : 0;
    const uint32_t at = m_sent + skip;
    if (at < m_imageSize) {
        std::memset(m_record, 0xFF, sizeof m_record);
        m_record[0] = op;
        m_record[1] = kRecordLength;
        m_record[2] = 0;
        putLe32(m_record + 4, m_packNo);
        const uint32_t n = std::min<uint32_t>(m_imageSize - at, kChunk);
        std::memcpy(m_record + 8, m_image + at, n);
        m_record[2] = GetCRC(m_record, sizeof m_record);
        m_sent += n;
        if (!sendRecord(m_record, sizeof m_record, op, Device::btTimeouts().answerMs))
            qWarning() << (sd ? "bt_sd_bin_data write usb failed, and BtSendByte="
                              : "bt_app_bin_data write usb failed, and BtSendByte=")
                       << m_sent << "BtFileSize=" << m_imageSize;
        emit SendByteUpdateProgress(static_cast<int>(m_sent + skip));
        ++m_packNo;
    } else if (at == m_imageSize) {
        qDebug() << (sd ? "dfu sd success...." : "dfu success....");
        finish();
        emit emitUpdateDfuFinished();
    } else {
        qWarning() << (sd ? "dfu err sd==" : "dfu err app==") << m_sent;
        m_state = State::Failed;
    }
}

void updateDFUBtThread::finish()
{
    m_running = false;
    m_state = State::Idle;
}

uint32_t updateDFUBtThread::DfuReceiveCmd(uint8_t *buf, int length)
{
    if (!buf || length < 13)
        return 0;
    QMutexLocker lock(&m_lock);
    if (!m_running || m_state != State::Waiting)
        return 0; // nothing awaited: a late or repeated answer
    if (buf[0] == kNotification)
        return 0; // the keyboard's own business; the module keeps going
    if (buf[0] == CMD_BLUETOOTH && buf[1] != SUB_BT_DFU) {
        qDebug("updateDFUBtThread: stray answer %02x/%02x ignored", buf[0], buf[1]);
        return 0;
    }
    const uint8_t op = buf[8];
    if (buf[0] == CMD_BLUETOOTH && buf[9] == 1 && buf[12] == 0) {
        if (op != m_awaitedOp) {
            // An answer to an earlier frame: what we wait for is still to come.
            qDebug("updateDFUBtThread: answer to op %02x ignored, awaiting %02x", op, m_awaitedOp);
            return 0;
        }
        switch (op) {
        case Device::BT_OP_ERASE_APP:
        case Device::CMD_UPDATE_BT_APP:
            emit app_bin();
            return 0;
        case Device::BT_OP_ERASE_SD:
        case Device::CMD_UPDATE_BT_SD:
            emit sd_bin();
            return 0;
        case Device::BT_OP_BOOT_TO_APP:
            finish();
            return 0;
        default:
            break;
        }
    }
    finish();
    ErrorMessage(buf, length);
    qWarning() << "CMD_UPDATE_BT_APP00000000000000000";
    return 0;
}

void updateDFUBtThread::ErrorMessage(uint8_t *buf, int length)
{
    if (!buf || length < 13)
        return;
    if (buf[0] != CMD_BLUETOOTH) {
        qWarning() << "unknown error";
        emit UpdateError(Device::kBtErrorTypeLink, Device::kBtErrorBadFrame);
        return;
    }
    qWarning("ErrorMessage %02x", buf[12]);
    emit UpdateError(buf[8], buf[12]);
}

void updateDFUBtThread::run()
{
    qDebug() << "updateDFUBtThread thread ID: " << QThread::currentThreadId();
    uint8_t buf[kReportSize];
    for (;;) {
        if (m_stop.load() || isInterruptionRequested()) {
            QMutexLocker lock(&m_lock);
            m_loopAlive = false;
            return;
        }
        bool busy, failed = false;
        Usb *usb;
        {
            QMutexLocker lock(&m_lock);
            if (m_state == State::Failed) {
                finish();
                failed = true;
            }
            busy = m_running;
            usb = m_usb;
        }
        if (failed) {
            emit emitStopDfu();
            continue;
        }
        if (!busy || !usb) {
            QMutexLocker idle(&m_idleLock);
            m_idleCondition.wait(&m_idleLock, 10);
            continue;
        }
        std::memset(buf, 0, sizeof buf);
        const int n = usb->readTimeout(buf, sizeof buf, Device::btTimeouts().readSliceMs);
        if (n < 0) {
            QMutexLocker lock(&m_lock);
            qWarning() << "Read DFU USB error.";
            finish();
            m_loopAlive = false;
            emit emitStopDfu();
            return;
        }
        if (n > 0)
            DfuReceiveCmd(buf, sizeof buf);
        QMutexLocker lock(&m_lock);
        if (m_state == State::Waiting && m_deadline.hasExpired()) {
            qWarning("updateDFUBtThread: no answer to op %02x (packet %u) in time", m_awaitedOp,
                     m_packNo - 1);
            finish();
            emit emitStopDfu();
        }
    }
}

// Device: the exchange, notifications, device information, Bluetooth and
// power settings, and the loading sequence.

#include "device/device.h"

#include "device/device_util.h"
#include "device/usb.h"

#include <QDeadlineTimer>
#include <QDebug>
#include <QMutex>
#include <QMutexLocker>
#include <QThread>
#include <QWaitCondition>

#include <algorithm>
#include <cstring>
#include <mutex>

using namespace wk;

void registerHidReportMetaType()
{
    static std::once_flag once;
    std::call_once(once, [] { qRegisterMetaType<HidReport>("HidReport"); });
}

Device::Device(Usb *usb, QWaitCondition *answerCondition, QMutex *answerMutex, bool *waiting,
               QObject *parent)
    : QObject(parent), m_usb(usb), m_answerCondition(answerCondition), m_answerMutex(answerMutex),
      m_waiting(waiting)
{
    registerHidReportMetaType();
}

Device::~Device() = default;

void Device::setUsb(Usb *usb)
{
    QMutexLocker lock(&m_exchangeLock);
    m_usb = usb;
}

// ---------------------------------------------------------------------------
// Exchange
// ---------------------------------------------------------------------------

uint32_t Device::sendCmd(unsigned char cmd, unsigned char sub, unsigned short length,
                         unsigned short argument, const unsigned char *payload)
{
    if (length > kMaxPayload) {
        qWarning("sendCmd %02x/%02x: payload of %u bytes does not fit a frame", cmd, sub, length);
        return WK_ERROR_OUT_OF_RANGE;
    }
    uint8_t frame[kReportSize] = {};
    frame[kOffCommand] = cmd;
    frame[kOffSubCommand] = sub;
    putLe16(frame + kOffLength, length);
    putLe16(frame + kOffArgument, argument);
    // Bytes 6-7 (checksum) stay 0: the keyboard computes and checks none.
    if (payload && length)
        std::memcpy(frame + kOffPayload, payload, length);
    if (!m_usb || m_usb->write(frame, kReportSize) < 0)
        return WK_ERROR_WRITE;
    return WK_SUCCESS;
}

void Device::abortExchanges()
{
    m_aborted.store(true);
    if (m_answerMutex && m_answerCondition) {
        QMutexLocker lock(m_answerMutex);
        m_answerCondition->wakeAll();
    }
}

bool Device::abortRequested() const
{
    return m_aborted.load() || QThread::currentThread()->isInterruptionRequested();
}

bool Device::linkDown() const
{
    return abortRequested() || !m_usb || !m_usb->isLinkUp();
}

uint32_t Device::exchange(uint8_t cmd, uint8_t sub, const void *payload, uint16_t length,
                          uint16_t argument, int timeoutMs, uint8_t *answer, bool waitOnSendFailure)
{
    if (!m_answerMutex || !m_answerCondition || !m_waiting)
        return WK_ERROR_WRITE;
    QMutexLocker exchangeLock(&m_exchangeLock);
    if (linkDown())
        return WK_ERROR_TIMEOUT;
    // The answer wakes this thread: let it run at once when it comes.
    static thread_local const bool prompt = setThreadWakeSlice(Usb::kWakeSliceUs);
    Q_UNUSED(prompt);

    QMutexLocker lock(m_answerMutex);
    *m_waiting = true;
    const uint32_t sent =
        sendCmd(cmd, sub, length, argument, static_cast<const unsigned char *>(payload));
    if (sent != WK_SUCCESS && !waitOnSendFailure) {
        *m_waiting = false;
        return sent;
    }

    // The transport clears the flag when it hands over the answer. Wake-ups
    // without an answer (late answers of earlier commands, releases) are
    // told apart by the flag, the deadline and the link state.
    const QDeadlineTimer deadline(timeoutMs);
    while (*m_waiting && !linkDown() && !deadline.hasExpired())
        m_answerCondition->wait(m_answerMutex, deadline);

    if (*m_waiting) {
        *m_waiting = false;
        if (linkDown())
            qWarning("exchange %02x/%02x released: the link is down", cmd, sub);
        return WK_ERROR_TIMEOUT;
    }
    if (answer)
        std::memcpy(answer, m_usb->getBuf(), kReportSize);
    return WK_SUCCESS;
}

uint32_t Device::setExchange(uint8_t cmd, uint8_t sub, const void *payload, uint16_t length,
                             uint8_t *answer)
{
    const uint32_t e = exchange(cmd, sub, payload, length, 0, kLongWaitMs, answer);
    if (e != WK_SUCCESS)
        return e;
    return le32(answer + kOffPayload);
}

bool Device::pauseMs(int ms)
{
    if (!m_answerMutex || !m_answerCondition) {
        QThread::msleep(static_cast<unsigned long>(ms));
        return !abortRequested();
    }
    const QDeadlineTimer deadline(ms);
    QMutexLocker lock(m_answerMutex);
    while (!abortRequested() && !deadline.hasExpired())
        m_answerCondition->wait(m_answerMutex, deadline);
    return !abortRequested();
}

void Device::recvCmdSlot(uint8_t *buf)
{
    if (!buf)
        return;
    // Copy first and give the ring slot back before anything else.
    HidReport report;
    if (!m_usb || !m_usb->takeRecvSlot(buf, report.bytes.data()))
        return; // not a slot lent by our transport

    qDebug() << "----------------- recvCmdSlot --------------------";
    for (int line = 0; line < 8; ++line) {
        const uint8_t *b = report.data() + 8 * line;
        qDebug("%02x-%02x-%02x-%02x-%02x-%02x-%02x-%02x", b[0], b[1], b[2], b[3], b[4], b[5], b[6],
               b[7]);
    }
    if (report.isNotification()) {
        emit emitNotify(report);
    } else if (m_answerMutex && m_answerCondition) {
        // A late answer: nobody waits for it any more.
        QMutexLocker lock(m_answerMutex);
        m_answerCondition->wakeAll();
    }
}

// ---------------------------------------------------------------------------
// Device information (0x10)
// ---------------------------------------------------------------------------

uint32_t Device::getDeviceInfo()
{
    uint8_t a[kReportSize];
    const uint32_t e =
        exchange(CMD_DEVICE, SUB_GET_DEVICE_INFO, nullptr, 0, 0, kDeviceInfoWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    m_infoWords[0] = le32(a + 8);
    m_infoWords[1] = le32(a + 12);
    std::memcpy(m_infoText.data(), a + 16, m_infoText.size());
    std::memcpy(m_productName.data(), a + 32, m_productName.size());
    return WK_SUCCESS;
}

uint32_t Device::getDeviceVersion()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_DEVICE, SUB_GET_DEVICE_VERSION, nullptr, 0, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    m_fw_version = le16(a + 8);
    m_hw_version = le16(a + 10);
    qDebug() << "m_fw_version=" << m_fw_version;
    qDebug() << "m_hw_version=" << m_hw_version;
    for (size_t i = 0; i < m_releaseDate.size(); ++i)
        m_releaseDate[i] = static_cast<uint8_t>(a[12 + i] + '0');
    return WK_SUCCESS;
}

uint32_t Device::getScanSpeed()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_DEVICE, SUB_GET_SCAN_SPEED, nullptr, 0, 0, kGetWaitMs, a);
    if (e == WK_SUCCESS)
        m_scanSpeed = le16(a + 8);
    return e;
}

uint32_t Device::setScanSpeed(unsigned short speedMs)
{
    uint8_t payload[2];
    putLe16(payload, speedMs);
    uint8_t a[kReportSize];
    const uint32_t st = setExchange(CMD_DEVICE, SUB_SET_SCAN_SPEED, payload, sizeof payload, a);
    if (st == WK_SUCCESS && a[0] == CMD_DEVICE && a[1] == SUB_SET_SCAN_SPEED)
        m_scanSpeed = speedMs;
    return st;
}

uint32_t Device::getUserInfo()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_DEVICE, SUB_GET_USER_INFO, nullptr, 0, 0, kGetWaitMs, a);
    if (e == WK_SUCCESS)
        std::memcpy(m_userInfo.data(), a + 8, m_userInfo.size());
    return e;
}

uint32_t Device::setUserInfo(const QString &text)
{
    return setUserInfoRecord(text.toUtf8()); // cut or zero-filled to 48 bytes
}

uint32_t Device::getDeviceId()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_DEVICE, SUB_GET_DEVICE_ID, nullptr, 0, 0, kGetWaitMs, a);
    if (e == WK_SUCCESS)
        std::memcpy(m_deviceId.data(), a + 8, m_deviceId.size());
    return e;
}

uint32_t Device::getNKey()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_DEVICE, SUB_GET_NKEY, nullptr, 0, 0, kGetWaitMs, a);
    if (e == WK_SUCCESS)
        m_nkey = a[8];
    return e;
}

uint32_t Device::setNKey(unsigned char mode)
{
    uint8_t a[kReportSize];
    const uint32_t st = setExchange(CMD_DEVICE, SUB_SET_NKEY, &mode, 1, a);
    if (st == WK_SUCCESS && a[0] == CMD_DEVICE && a[1] == SUB_SET_NKEY)
        m_nkey = mode;
    return st;
}

uint32_t Device::setFactoryReset()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_DEVICE, SUB_FACTORY_RESET, nullptr, 0, 0, kLongWaitMs, a);
    if (e != WK_SUCCESS) {
        qWarning("setFactoryReset failed, error code = %x", e);
        return e;
    }
    if (a[0] != CMD_DEVICE || a[1] != SUB_FACTORY_RESET) {
        qWarning("setFactoryReset: answer %02x/%02x is not ours", a[0], a[1]);
        return WK_ERROR_VERIFY;
    }
    const uint32_t st = le32(a + 8);
    if (st != WK_SUCCESS)
        qWarning("error:  setFactoryReset failed , error code = %x", st);
    return st;
}

// ---------------------------------------------------------------------------
// Bluetooth and power (0xB0)
// ---------------------------------------------------------------------------

uint32_t Device::getBtName()
{
    uint8_t a[kReportSize];
    // A failed write is waited out like a missing answer.
    const uint32_t e = exchange(CMD_BLUETOOTH, SUB_GET_BT_NAME, nullptr, 0, 0, kGetWaitMs, a, true);
    if (e != WK_SUCCESS) {
        qWarning("getBtName WK_ERROR_TIMEOUT=%x", WK_ERROR_TIMEOUT);
        return WK_ERROR_TIMEOUT;
    }
    std::memcpy(m_btName.data(), a + 8, m_btName.size());
    return WK_SUCCESS;
}

uint32_t Device::setBtName(const QString &name)
{
    std::array<uint8_t, 12> payload{};
    const QByteArray utf8 = name.toUtf8();
    std::memcpy(payload.data(), utf8.constData(),
                std::min<size_t>(payload.size(), static_cast<size_t>(utf8.size())));
    uint8_t a[kReportSize];
    const uint32_t e =
        exchange(CMD_BLUETOOTH, SUB_SET_BT_NAME, payload.data(), payload.size(), 0, kGetWaitMs, a);
    if (e == WK_ERROR_TIMEOUT) {
        qWarning("setBtName WK_ERROR_TIMEOUT=%x", e);
        return e;
    }
    if (e != WK_SUCCESS)
        return e;
    qDebug() << "setBtName:" << hexBytes(a, kReportSize, ' ');
    const uint32_t st = le32(a + 8);
    if (st != WK_SUCCESS)
        qWarning("error:  setBtName failed , error code = %x", st);
    else
        m_btName = payload; // only a name the keyboard accepted
    emit emitState(1, static_cast<int>(st));
    return st;
}

uint32_t Device::getSleepTime()
{
    uint8_t a[kReportSize];
    const uint32_t e =
        exchange(CMD_BLUETOOTH, SUB_GET_SLEEP_TIME, nullptr, 0, 0, kGetWaitMs, a, true);
    if (e != WK_SUCCESS) {
        qWarning("getSleepTime WK_ERROR_TIMEOUT=%x", WK_ERROR_TIMEOUT);
        return WK_ERROR_TIMEOUT;
    }
    m_sleepTime = le32(a + 8);
    return WK_SUCCESS;
}

uint32_t Device::setSleepTime(unsigned int ms)
{
    uint8_t payload[4];
    putLe32(payload, ms);
    uint8_t a[kReportSize];
    const uint32_t e =
        exchange(CMD_BLUETOOTH, SUB_SET_SLEEP_TIME, payload, sizeof payload, 0, kLongWaitMs, a);
    if (e != WK_SUCCESS) {
        qWarning("error:  setSleepTime failed , error code = %x", e);
        return e;
    }
    qDebug() << "setSleepTime:" << hexBytes(a, kReportSize, ' ');
    const uint32_t st = le32(a + 8);
    if (st != WK_SUCCESS) {
        qWarning("error:  setSleepTime failed , error code = %x", st);
    } else {
        // Only a time the keyboard accepted.
        m_sleepTime = ms;
        if (ms != 0)
            m_lastSleepTime = ms;
    }
    emit emitState(1, static_cast<int>(st));
    return st;
}

// ---------------------------------------------------------------------------
// Loading
// ---------------------------------------------------------------------------

uint32_t Device::loadDevInfoSlot()
{
    qDebug() << "loadDevInfoSlot--------------------------------------------------------------";
    const uint32_t st = loadSteps();
    if (st == WK_SUCCESS) {
        emit emitFinishLoad();
        return WK_SUCCESS;
    }
    qWarning() << "Load Dev Info Slot error!";
    // A load stopped by the owner (the device is being closed) is not a
    // keyboard error: reporting it would close whatever is open by then.
    if (!abortRequested())
        emit emitLoadDevInfoError();
    return WK_ERROR_LOAD;
}

uint32_t Device::loadSteps()
{
    uint32_t e;
    // A keyboard that does not answer yet is asked again each second for as
    // long as the link is up.
    for (;;) {
        e = getDeviceInfo();
        if (e != WK_SUCCESS && e != WK_ERROR_TIMEOUT)
            return e;
        if (e == WK_ERROR_TIMEOUT && linkDown())
            return e;
        if (!pauseMs(kLoadRetryPauseMs))
            return WK_ERROR_TIMEOUT;
        if (e == WK_SUCCESS)
            break;
    }

#define LOAD_STEP(call)                                                                            \
    do {                                                                                           \
        if ((e = (call)) != WK_SUCCESS) {                                                          \
            qWarning("%s failed, error code = %x", #call, e);                                      \
            return e;                                                                              \
        }                                                                                          \
    } while (0)

    LOAD_STEP(getDeviceId());
    LOAD_STEP(getDeviceVersion());
    LOAD_STEP(getScanSpeed());
    LOAD_STEP(getUserInfo());
    LOAD_STEP(getNKey());
    qInfo() << "get device load information finished.";

    LOAD_STEP(getKCInfo());
    LOAD_STEP(getCurKCMID());
    LOAD_STEP(getCurKCM());
    qDebug() << "get device load key code finished.";

    LOAD_STEP(getKRInfo());
    LOAD_STEP(getCurKRMID());
    LOAD_STEP(getCurKRM());
    qDebug() << "Get device load key color succeeded.";

    LOAD_STEP(getKMInfo());
    qDebug() << "Get device load getKMInfo succeeded.";
    LOAD_STEP(getAllMacroHead());
    qDebug() << "Get device load key macro succeeded.";

    LOAD_STEP(getKFInfo());
    LOAD_STEP(getAllKF());
    qDebug() << "Get device load key shortcuts succeeded.";

    LOAD_STEP(getLAInfo());
    if (m_nLATotalNum != 0)
        LOAD_STEP(getAllLA());

    LOAD_STEP(getLMInfo());
    LOAD_STEP(getCurLMMID());
    LOAD_STEP(getCurLMM());
    qDebug() << "Get device load key LED succeeded.";
#undef LOAD_STEP

    // Boards without Bluetooth do not answer these two.
    getBtName();
    getSleepTime();
    if (linkDown())
        return WK_ERROR_TIMEOUT;
    qDebug() << "Get device load shortcuts succeeded.";
    return WK_SUCCESS;
}

// Device: key-function records (0x40).

#include "device/device.h"

#include "device/device_util.h"

#include <QDebug>
#include <QMutexLocker>

#include <cstring>

using namespace wk;

kf_t *Device::kfRecord(int index)
{
    if (index < 0 || index >= m_nKFTotalNum || !m_pKFs)
        return nullptr;
    return &m_pKFs[index];
}

uint32_t Device::getKFInfo()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_KEYFUNC, SUB_GET_KF_INFO, nullptr, 0, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    const uint8_t count = a[8];
    m_nKFSecond = a[9];
    if (!allocZeroed(m_pKFs, m_pKFs ? static_cast<size_t>(m_nKFTotalNum) : 0, count)) {
        m_nKFTotalNum = 0;
        return WK_ERROR_NO_MEMORY;
    }
    m_nKFTotalNum = count;
    std::memset(static_cast<void *>(m_pKFs.get()), 0, sizeof(kf_t) * count);
    return WK_SUCCESS;
}

uint32_t Device::getKFItem(unsigned char index, kf_t *entry)
{
    if (!entry)
        return WK_ERROR_OUT_OF_RANGE;
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_KEYFUNC, SUB_GET_KF_ITEM, &index, 1, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    if (a[0] != CMD_KEYFUNC || a[1] != SUB_GET_KF_ITEM || a[2] != sizeof(kf_t)) {
        qWarning("getKFItem %d: answer %02x/%02x length %d is not an entry", index, a[0], a[1],
                 a[2]);
        return WK_ERROR_VERIFY;
    }
    std::memcpy(entry, a + kOffPayload, sizeof(kf_t));
    return WK_SUCCESS;
}

uint32_t Device::setKFItem(kf_t *entry)
{
    if (!entry)
        return WK_ERROR_OUT_OF_RANGE;
    const kf_t copy = *entry;
    uint8_t a[kReportSize];
    const uint32_t st = setExchange(CMD_KEYFUNC, SUB_SET_KF_ITEM, &copy, sizeof copy, a);
    if (st == WK_ERROR_WRITE) {
        // The page tells the user ("Set KF Item failed!"); this library shows no dialogs.
        qWarning("Set KF Item failed! ERROR: %u", st);
        return st;
    }
    if (st != WK_SUCCESS) {
        qWarning("error:  setKFItem failed , error code = %x", st);
        return st;
    }
    // Keep the model in step when the entry was passed as a copy.
    if (kf_t *own = kfRecord(copy.id()); own && own != entry)
        *own = copy;
    return WK_SUCCESS;
}

uint32_t Device::getAllKF()
{
    QMutexLocker transfer(&m_exchangeLock);
    for (int i = 0; i < m_nKFTotalNum; ++i) {
        const uint32_t e = getKFItem(static_cast<unsigned char>(i), &m_pKFs[i]);
        if (e != WK_SUCCESS) {
            qWarning("get KF item=%d failed", i);
            return e;
        }
    }
    return WK_SUCCESS;
}

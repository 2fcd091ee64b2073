// Device: lighting-mode maps and lighting-mode records (0x60).

#include "device/device.h"

#include "device/device_util.h"

#include <QDebug>
#include <QMutexLocker>

#include <cstring>

using namespace wk;

la_t *Device::laRecord(int index)
{
    if (index < 0 || index >= m_nLATotalNum || !m_pLAs)
        return nullptr;
    return &m_pLAs[index];
}

uint32_t Device::getLMInfo()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_LIGHTING, SUB_GET_LM_INFO, nullptr, 0, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    if (a[0] != CMD_LIGHTING) {
        // The board has no lighting modes.
        m_nlmm = 0;
        m_nlm = 0;
        m_curlmm = -1;
        m_pLMs.reset();
        return WK_SUCCESS;
    }
    m_nlmm = static_cast<int8_t>(a[8]);
    const uint8_t entries = a[9];
    qDebug("m_nlmm=%d m_nlm=%d %d ", m_nlmm, entries, a[10]);
    if (!allocZeroed(m_pLMs, m_pLMs ? m_nlm : 0, entries)) {
        m_nlm = 0;
        return WK_ERROR_NO_MEMORY;
    }
    m_nlm = entries;
    return WK_SUCCESS;
}

uint32_t Device::getCurLMMID()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_LIGHTING, SUB_GET_CUR_LMM, nullptr, 0, 0, kGetWaitMs, a);
    if (e == WK_SUCCESS)
        // As reported, also without switchable maps (0xFF reads as -1, none);
        // a keyboard without per-key modes has no current map.
        m_curlmm = m_nlm > 0 ? static_cast<int8_t>(a[8]) : -1;
    return e;
}

uint32_t Device::setCurLMMID(unsigned char lmm)
{
    uint8_t a[kReportSize];
    const uint32_t st = setExchange(CMD_LIGHTING, SUB_SET_CUR_LMM, &lmm, 1, a);
    if (st == WK_SUCCESS)
        m_curlmm = static_cast<int8_t>(lmm);
    return st;
}

uint32_t Device::getLM(unsigned char first, unsigned char last, unsigned char *dest)
{
    if (!dest || first > last || last - first + 1 > kMaxModeEntriesPerFrame)
        return WK_ERROR_OUT_OF_RANGE;
    const uint8_t payload[kRangeHeaderSize] = {static_cast<uint8_t>(m_curlmm), first, last, 0};
    uint8_t a[kReportSize];
    const uint32_t e =
        exchange(CMD_LIGHTING, SUB_GET_LM, payload, sizeof payload, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    std::memcpy(dest, a + kAnswerDataOffset, static_cast<size_t>(last - first + 1));
    return WK_SUCCESS;
}

uint32_t Device::setLM(unsigned char first, unsigned char last, const unsigned char *entries)
{
    if (!entries || first > last || last - first + 1 > kMaxModeEntriesPerFrame || last >= m_nlm ||
        !m_pLMs || !lmmWritable())
        return WK_ERROR_OUT_OF_RANGE;
    const int count = last - first + 1;
    uint8_t payload[kMaxPayload] = {static_cast<uint8_t>(m_curlmm), first, last, 0};
    std::memcpy(payload + kRangeHeaderSize, entries, static_cast<size_t>(count));
    // As with setKR, the answer's bytes 8-11 are not a status every keyboard fills.
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_LIGHTING, SUB_SET_LM, payload,
                                static_cast<uint16_t>(kRangeHeaderSize + count), 0, kLongWaitMs, a);
    if (e != WK_SUCCESS) {
        qWarning("setLM %d-%d failed, error code = %x", first, last, e);
        return e;
    }
    std::memcpy(m_pLMs.get() + first, entries, static_cast<size_t>(count));
    return WK_SUCCESS;
}

bool Device::lmmWritable() const
{
    return m_curlmm >= 0 && (m_nlmm <= 0 || m_curlmm < m_nlmm);
}

uint32_t Device::getCurLMM()
{
    if (m_nlm > 0 && m_nlmm > 0 && m_curlmm >= m_nlmm) {
        // As with colours: a map the keyboard does not have is not read.
        qWarning("active mode map %d of %d maps: not read", m_curlmm, m_nlmm);
        return WK_SUCCESS;
    }
    const int n = m_nlm;
    const int full = n / kModeChunk;
    const int rest = n % kModeChunk;
    qDebug("m_nlm=%d round=%d mod=%d", n, full, rest);
    if (n == 0)
        return WK_SUCCESS;
    if (!m_pLMs)
        return WK_ERROR_NO_MEMORY;
    QMutexLocker transfer(&m_exchangeLock);
    for (int i = 0; i < full; ++i) {
        const int sid = kModeChunk * i;
        const int eid = sid + kModeChunk - 1;
        qDebug("%d sid=%d eid=%d", i, sid, eid);
        const uint32_t e = getLM(static_cast<unsigned char>(sid), static_cast<unsigned char>(eid),
                                 m_pLMs.get() + sid);
        if (e != WK_SUCCESS)
            return e;
    }
    if (rest > 0) {
        const int sid = kModeChunk * full;
        const int eid = n - 1;
        qDebug("sid=%d eid=%d", sid, eid);
        return getLM(static_cast<unsigned char>(sid), static_cast<unsigned char>(eid),
                     m_pLMs.get() + sid);
    }
    return WK_SUCCESS;
}

uint32_t Device::getLAInfo()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_LIGHTING, SUB_GET_LA_INFO, nullptr, 0, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    if (a[0] != CMD_LIGHTING) {
        // The board has no lighting parameters.
        m_nlmm = 0;
        m_curlmm = 0;
        m_nlm = 0;
        m_pLMs.reset();
        m_pLAs.reset();
        m_nLATotalNum = 0;
        qDebug("%d   m_nLATotalNum=%d", __LINE__, m_nLATotalNum);
        return WK_SUCCESS;
    }
    const uint8_t count = a[8];
    qDebug("%d   m_nLATotalNum=%d", __LINE__, count);
    if (!allocZeroed(m_pLAs, m_pLAs ? m_nLATotalNum : 0, count)) {
        m_nLATotalNum = 0;
        return WK_ERROR_NO_MEMORY;
    }
    m_nLATotalNum = count;
    std::memset(static_cast<void *>(m_pLAs.get()), 0, sizeof(la_t) * count);
    return WK_SUCCESS;
}

uint32_t Device::getLAItem(unsigned char index, la_t *record)
{
    if (!record)
        return WK_ERROR_OUT_OF_RANGE;
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_LIGHTING, SUB_GET_LA_ITEM, &index, 1, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    if (a[0] != CMD_LIGHTING || a[1] != SUB_GET_LA_ITEM || a[2] != sizeof(la_t)) {
        qWarning("getLAItem %d: answer %02x/%02x length %d is not a record", index, a[0], a[1],
                 a[2]);
        return WK_ERROR_VERIFY;
    }
    std::memcpy(record, a + kOffPayload, sizeof(la_t));
    return WK_SUCCESS;
}

uint32_t Device::setLAItem(la_t *record)
{
    if (!record)
        return WK_ERROR_OUT_OF_RANGE;
    la_t copy = *record;
    uint8_t a[kReportSize];
    const uint32_t st = setExchange(CMD_LIGHTING, SUB_SET_LA_ITEM, &copy, sizeof copy, a);
    if (st != WK_SUCCESS) {
        qWarning("error:  setKFItem failed , error code = %x", st);
        return st;
    }
    // Keep the model in step when the record was passed as a copy.
    if (la_t *own = laRecord(copy.modeNumber()); own && own != record)
        *own = copy;
    return WK_SUCCESS;
}

uint32_t Device::getAllLA()
{
    QMutexLocker transfer(&m_exchangeLock);
    for (int i = 0; i < m_nLATotalNum; ++i) {
        const uint32_t e = getLAItem(static_cast<unsigned char>(i), &m_pLAs[i]);
        if (e != WK_SUCCESS) {
            qWarning("get LA item=%d failed", i);
            return e;
        }
    }
    return WK_SUCCESS;
}

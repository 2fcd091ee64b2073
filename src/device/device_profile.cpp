// Device: commands for reading and writing a whole keyboard (back-up and
// restore): maps addressed by number, settings written as raw records.

#include "device/device.h"

#include "device/device_util.h"

#include <QDebug>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

using namespace wk;

namespace {

// A range of `entrySize`-byte entries that fits one request and one answer.
bool fitsFrame(unsigned char first, unsigned char last, int entrySize)
{
    return first <= last && kRangeHeaderSize + (last - first + 1) * entrySize <= kMaxPayload;
}

QByteArray fitted(const QByteArray &bytes, int size)
{
    QByteArray out = bytes.left(size);
    out.append(QByteArray(size - out.size(), '\0'));
    return out;
}

} // namespace

// A get of entries first..last of map `map`: the answer must name the same
// map and range (bytes 8-10) before anything is copied.
uint32_t Device::getRangeOfMap(uint8_t cmd, uint8_t sub, unsigned char map, unsigned char first,
                               unsigned char last, int entrySize, unsigned char *dest)
{
    if (!dest || !fitsFrame(first, last, entrySize))
        return WK_ERROR_OUT_OF_RANGE;
    const uint8_t payload[kRangeHeaderSize] = {map, first, last, 0};
    uint8_t a[kReportSize];
    const uint32_t e = exchange(cmd, sub, payload, sizeof payload, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    if (a[0] != cmd || a[1] != sub || a[8] != map || a[9] != first || a[10] != last) {
        qWarning("range read %02x/%02x map %d keys %d-%d: the answer is %02x/%02x for map %d "
                 "keys %d-%d",
                 cmd, sub, map, first, last, a[0], a[1], a[8], a[9], a[10]);
        return WK_ERROR_VERIFY;
    }
    std::memcpy(dest, a + kAnswerDataOffset, static_cast<size_t>(last - first + 1) * entrySize);
    return WK_SUCCESS;
}

// A set of entries first..last of map `map` (header map, first, last, 0, then
// the entries); the answer is left in `answer` for the caller to examine.
uint32_t Device::setRangeOfMap(uint8_t cmd, uint8_t sub, unsigned char map, unsigned char first,
                               unsigned char last, int entrySize, const unsigned char *entries,
                               uint8_t *answer)
{
    if (!fitsFrame(first, last, entrySize))
        return WK_ERROR_OUT_OF_RANGE;
    const size_t bytes = static_cast<size_t>(last - first + 1) * entrySize;
    uint8_t payload[kMaxPayload] = {map, first, last, 0};
    std::memcpy(payload + kRangeHeaderSize, entries, bytes);
    return exchange(cmd, sub, payload, static_cast<uint16_t>(kRangeHeaderSize + bytes), 0,
                    kLongWaitMs, answer);
}

uint32_t Device::getKCOfMap(unsigned char map, unsigned char first, unsigned char last,
                            unsigned char *dest)
{
    if (last >= m_nkc)
        return WK_ERROR_OUT_OF_RANGE;
    return getRangeOfMap(CMD_KEYCODE, SUB_GET_KC, map, first, last, 4, dest);
}

uint32_t Device::getKROfMap(unsigned char map, unsigned char first, unsigned char last,
                            unsigned char *dest)
{
    if (last >= m_nkr)
        return WK_ERROR_OUT_OF_RANGE;
    return getRangeOfMap(CMD_KEYCOLOUR, SUB_GET_KR, map, first, last, 4, dest);
}

uint32_t Device::getLMOfMap(unsigned char map, unsigned char first, unsigned char last,
                            unsigned char *dest)
{
    if (last >= m_nlm)
        return WK_ERROR_OUT_OF_RANGE;
    return getRangeOfMap(CMD_LIGHTING, SUB_GET_LM, map, first, last, 1, dest);
}

uint32_t Device::setKCOfMap(unsigned char map, unsigned char first, unsigned char last,
                            const unsigned char *entries)
{
    if (!entries || last >= m_nkc || !m_pKCs)
        return WK_ERROR_OUT_OF_RANGE;
    const int count = last - first + 1;
    uint8_t a[kReportSize];
    const uint32_t e = setRangeOfMap(CMD_KEYCODE, SUB_SET_KC, map, first, last, 4, entries, a);
    if (e != WK_SUCCESS)
        return e;
    if (le32(a + 8) != WK_SUCCESS || a[12] != map || a[13] != first || a[14] != last) {
        qWarning("setKC map %d keys %d-%d not confirmed: status %x, map %d keys %d-%d", map, first,
                 last, le32(a + 8), a[12], a[13], a[14]);
        return WK_ERROR_VERIFY;
    }
    if (static_cast<int8_t>(map) == m_curkcm)
        std::memcpy(m_pKCs.get() + first, entries, static_cast<size_t>(count) * 4);
    return WK_SUCCESS;
}

uint32_t Device::setKROfMap(unsigned char map, unsigned char first, unsigned char last,
                            const unsigned char *entries)
{
    if (!entries || last >= m_nkr || !m_pKRs)
        return WK_ERROR_OUT_OF_RANGE;
    const int count = last - first + 1;
    // As setKR: keyboards do not agree on what the answer carries, so only
    // the exchange can fail here; reading the range back tells the rest.
    uint8_t a[kReportSize];
    const uint32_t e = setRangeOfMap(CMD_KEYCOLOUR, SUB_SET_KR, map, first, last, 4, entries, a);
    if (e != WK_SUCCESS)
        return e;
    if (static_cast<int8_t>(map) == m_curkrm)
        std::memcpy(m_pKRs.get() + 4 * first, entries, static_cast<size_t>(count) * 4);
    return WK_SUCCESS;
}

uint32_t Device::setLMOfMap(unsigned char map, unsigned char first, unsigned char last,
                            const unsigned char *entries)
{
    if (!entries || last >= m_nlm || !m_pLMs)
        return WK_ERROR_OUT_OF_RANGE;
    const int count = last - first + 1;
    uint8_t a[kReportSize];
    const uint32_t e = setRangeOfMap(CMD_LIGHTING, SUB_SET_LM, map, first, last, 1, entries, a);
    if (e != WK_SUCCESS)
        return e;
    if (static_cast<int8_t>(map) == m_curlmm)
        std::memcpy(m_pLMs.get() + first, entries, static_cast<size_t>(count));
    return WK_SUCCESS;
}

uint32_t Device::setBtNameRecord(const QByteArray &record)
{
    const QByteArray payload = fitted(record, static_cast<int>(m_btName.size()));
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_BLUETOOTH, SUB_SET_BT_NAME, payload.constData(),
                                static_cast<uint16_t>(payload.size()), 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    const uint32_t st = le32(a + 8);
    if (st != WK_SUCCESS) {
        qWarning("error:  setBtName failed , error code = %x", st);
        return st;
    }
    std::memcpy(m_btName.data(), payload.constData(), m_btName.size());
    return WK_SUCCESS;
}

uint32_t Device::setUserInfoRecord(const QByteArray &record)
{
    const QByteArray payload = fitted(record, static_cast<int>(m_userInfo.size()));
    uint8_t a[kReportSize];
    const uint32_t st = setExchange(CMD_DEVICE, SUB_SET_USER_INFO, payload.constData(),
                                    static_cast<uint16_t>(payload.size()), a);
    if (st == WK_SUCCESS && a[0] == CMD_DEVICE && a[1] == SUB_SET_USER_INFO)
        std::memcpy(m_userInfo.data(), payload.constData(), m_userInfo.size());
    return st;
}

uint32_t Device::setSleepTimeQuiet(uint32_t ms)
{
    uint8_t payload[4];
    putLe32(payload, ms);
    uint8_t a[kReportSize];
    const uint32_t st = setExchange(CMD_BLUETOOTH, SUB_SET_SLEEP_TIME, payload, sizeof payload, a);
    if (st != WK_SUCCESS) {
        qWarning("error:  setSleepTime failed , error code = %x", st);
        return st;
    }
    m_sleepTime = ms;
    if (ms != 0)
        m_lastSleepTime = ms;
    return WK_SUCCESS;
}

uint32_t Device::getBtNameWithin(int timeoutMs)
{
    uint8_t a[kReportSize];
    const uint32_t e =
        exchange(CMD_BLUETOOTH, SUB_GET_BT_NAME, nullptr, 0, 0, std::max(1, timeoutMs), a);
    if (e != WK_SUCCESS)
        return e;
    if (a[0] != CMD_BLUETOOTH || a[1] != SUB_GET_BT_NAME)
        return WK_ERROR_VERIFY;
    std::memcpy(m_btName.data(), a + 8, m_btName.size());
    return WK_SUCCESS;
}

uint32_t Device::holdExchanges(const std::function<uint32_t()> &steps)
{
    QMutexLocker hold(&m_exchangeLock);
    return steps ? steps() : WK_SUCCESS;
}

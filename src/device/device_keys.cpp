// Device: key codes (0x20) and key colours (0x30).

#include "device/device.h"

#include "device/device_util.h"

#include <QDebug>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

using namespace wk;

namespace {

// A range of at most `maxCount` entries that starts no later than it ends.
bool validRange(unsigned char first, unsigned char last, int maxCount)
{
    return first <= last && last - first + 1 <= maxCount;
}

} // namespace

kc_t Device::keyCode(int index) const
{
    if (index < 0 || index >= m_nkc || !m_pKCs)
        return kc_t{};
    return m_pKCs[index];
}

// ---------------------------------------------------------------------------
// Key codes
// ---------------------------------------------------------------------------

uint32_t Device::getKCInfo()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_KEYCODE, SUB_GET_KC_INFO, nullptr, 0, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    m_nkcm = static_cast<int8_t>(a[8]);
    const uint8_t keys = a[9];
    if (!allocZeroed(m_pKCs, m_nkc, keys)) {
        m_nkc = 0;
        return WK_ERROR_NO_MEMORY;
    }
    m_nkc = keys;
    return WK_SUCCESS;
}

uint32_t Device::getCurKCMID()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_KEYCODE, SUB_GET_CUR_KCM, nullptr, 0, 0, kGetWaitMs, a);
    if (e == WK_SUCCESS)
        m_curkcm = static_cast<int8_t>(a[8]);
    return e;
}

uint32_t Device::setCurKCMID(unsigned char kcm)
{
    qDebug() << "Enter setCurKCMID";
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_KEYCODE, SUB_SET_CUR_KCM, &kcm, 1, 0, kLongWaitMs, a);
    qDebug("sendCmd e =%x", e == WK_ERROR_WRITE ? e : WK_SUCCESS);
    if (e != WK_SUCCESS)
        return e;
    const uint32_t st = le32(a + 8);
    if (st == WK_SUCCESS) {
        m_curkcm = static_cast<int8_t>(kcm);
        qDebug("setCurKCMID kcm=%d m_curkcm=%d", kcm, m_curkcm);
    }
    return st;
}

uint32_t Device::getKC(unsigned char first, unsigned char last, unsigned char *dest)
{
    if (!dest || !validRange(first, last, kKeyChunk))
        return WK_ERROR_OUT_OF_RANGE;
    const uint8_t payload[kRangeHeaderSize] = {static_cast<uint8_t>(m_curkcm), first, last, 0};
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_KEYCODE, SUB_GET_KC, payload, sizeof payload, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    if (a[8] != payload[0] || a[9] != first || a[10] != last) {
        qWarning("getKC %d-%d: the answer is for map %d keys %d-%d", first, last, a[8], a[9],
                 a[10]);
        return WK_ERROR_VERIFY;
    }
    std::memcpy(dest, a + kAnswerDataOffset, static_cast<size_t>(last - first + 1) * 4);
    return WK_SUCCESS;
}

uint32_t Device::setKC(unsigned char first, unsigned char last, const unsigned char *entries)
{
    if (!entries || !validRange(first, last, kKeyChunk) || last >= m_nkc || !m_pKCs)
        return WK_ERROR_OUT_OF_RANGE;
    const int count = last - first + 1;
    uint8_t payload[kMaxPayload] = {static_cast<uint8_t>(m_curkcm), first, last, 0};
    std::memcpy(payload + kRangeHeaderSize, entries, static_cast<size_t>(count) * 4);
    uint8_t a[kReportSize];
    const uint32_t e =
        exchange(CMD_KEYCODE, SUB_SET_KC, payload,
                 static_cast<uint16_t>(kRangeHeaderSize + 4 * count), 0, kLongWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    if (le32(a + 8) != WK_SUCCESS || a[12] != payload[0] || a[13] != first || a[14] != last) {
        qWarning("setKC %d-%d not confirmed: status %x, map %d keys %d-%d", first, last,
                 le32(a + 8), a[12], a[13], a[14]);
        return WK_ERROR_VERIFY;
    }
    std::memcpy(m_pKCs.get() + first, entries, static_cast<size_t>(count) * 4);
    return WK_SUCCESS;
}

uint32_t Device::readKeyMap(int count, unsigned char *dest, bool colours)
{
    if (count == 0)
        return WK_SUCCESS;
    if (!dest)
        return WK_ERROR_NO_MEMORY;
    QMutexLocker transfer(&m_exchangeLock);
    const int full = count / kKeyChunk;
    const int rest = count % kKeyChunk;
    auto chunk = [&](int first, int last) {
        const auto f = static_cast<unsigned char>(first);
        const auto l = static_cast<unsigned char>(last);
        unsigned char *to = dest + 4 * first;
        return colours ? getKR(f, l, to) : getKC(f, l, to);
    };
    for (int i = 0; i < full; ++i) {
        const uint32_t e = chunk(kKeyChunk * i, kKeyChunk * i + kKeyChunk - 1);
        if (e != WK_SUCCESS)
            return e;
    }
    if (rest > 0)
        return chunk(kKeyChunk * full, count - 1);
    return WK_SUCCESS;
}

uint32_t Device::getCurKCM()
{
    return readKeyMap(m_nkc, reinterpret_cast<unsigned char *>(m_pKCs.get()), false);
}

// ---------------------------------------------------------------------------
// Key colours
// ---------------------------------------------------------------------------

uint32_t Device::getKRInfo()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_KEYCOLOUR, SUB_GET_KR_INFO, nullptr, 0, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    if (a[0] != CMD_KEYCOLOUR) {
        // The board has no key colours.
        m_nkrm = 0;
        m_nkr = 0;
        m_curkrm = -1;
        m_pKRs.reset();
        return WK_SUCCESS;
    }
    m_nkrm = static_cast<int8_t>(a[8]);
    const uint8_t keys = a[9];
    if (!allocZeroed(m_pKRs, m_pKRs ? static_cast<size_t>(m_nkr) * 4 : 0,
                     static_cast<size_t>(keys) * 4)) {
        m_nkr = 0;
        return WK_ERROR_NO_MEMORY;
    }
    m_nkr = keys;
    return WK_SUCCESS;
}

uint32_t Device::getCurKRMID()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_KEYCOLOUR, SUB_GET_CUR_KRM, nullptr, 0, 0, kGetWaitMs, a);
    if (e == WK_SUCCESS)
        // As reported, also by a keyboard without switchable maps: it still
        // paints its one active map. 0xFF reads as -1 (none) and is never sent.
        m_curkrm = m_nkr > 0 ? static_cast<int8_t>(a[8]) : -1;
    return e;
}

uint32_t Device::setCurKRMID(unsigned char krm)
{
    uint8_t a[kReportSize];
    const uint32_t st = setExchange(CMD_KEYCOLOUR, SUB_SET_CUR_KRM, &krm, 1, a);
    if (st == WK_SUCCESS)
        m_curkrm = static_cast<int8_t>(krm);
    return st;
}

uint32_t Device::getKR(unsigned char first, unsigned char last, unsigned char *dest)
{
    if (!dest || !validRange(first, last, kKeyChunk))
        return WK_ERROR_OUT_OF_RANGE;
    const uint8_t payload[kRangeHeaderSize] = {static_cast<uint8_t>(m_curkrm), first, last, 0};
    uint8_t a[kReportSize];
    const uint32_t e =
        exchange(CMD_KEYCOLOUR, SUB_GET_KR, payload, sizeof payload, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    // The answer names its own range; take what overlaps the request and
    // what the frame can hold (13 entries from byte 12).
    const int answerFirst = a[9];
    const int answerLast = std::min<int>(a[10], answerFirst + kKeyChunk - 1);
    const int lo = std::max<int>(first, answerFirst);
    const int hi = std::min<int>(last, answerLast);
    for (int k = lo; k <= hi; ++k)
        std::memcpy(dest + 4 * (k - first), a + kAnswerDataOffset + 4 * (k - answerFirst), 4);
    if (lo > first || hi < last) {
        qWarning("getKR %d-%d: the answer covers keys %d-%d", first, last, a[9], a[10]);
        return WK_ERROR_VERIFY;
    }
    return WK_SUCCESS;
}

uint32_t Device::setKR(unsigned char first, unsigned char last, const unsigned char *entries)
{
    if (!entries || !validRange(first, last, kKeyChunk) || last >= m_nkr || !m_pKRs ||
        !krmWritable())
        return WK_ERROR_OUT_OF_RANGE;
    const int count = last - first + 1;
    uint8_t payload[kMaxPayload] = {static_cast<uint8_t>(m_curkrm), first, last, 0};
    std::memcpy(payload + kRangeHeaderSize, entries, static_cast<size_t>(count) * 4);
    // Keyboards do not agree on what this answer carries (a status, nothing,
    // or the request echoed back), so only the exchange itself can fail.
    uint8_t a[kReportSize];
    const uint32_t e =
        exchange(CMD_KEYCOLOUR, SUB_SET_KR, payload,
                 static_cast<uint16_t>(kRangeHeaderSize + 4 * count), 0, kLongWaitMs, a);
    if (e != WK_SUCCESS) {
        qWarning("setKR %d-%d failed, error code = %x", first, last, e);
        return e;
    }
    std::memcpy(m_pKRs.get() + 4 * first, entries, static_cast<size_t>(count) * 4);
    return WK_SUCCESS;
}

bool Device::krmWritable() const
{
    // A keyboard without switchable maps paints its one active map; otherwise
    // the active map must be one the keyboard has.
    return m_curkrm >= 0 && (m_nkrm <= 0 || m_curkrm < m_nkrm);
}

uint32_t Device::getCurKRM()
{
    if (m_nkr > 0 && m_nkrm > 0 && m_curkrm >= m_nkrm) {
        // Reading a map the keyboard does not have would fail the whole load;
        // the colours stay unknown until a map is chosen.
        qWarning("active colour map %d of %d maps: not read", m_curkrm, m_nkrm);
        return WK_SUCCESS;
    }
    return readKeyMap(m_nkr, m_pKRs.get(), true);
}

uint32_t Device::getKRRgb(int index) const
{
    if (index < 0 || index >= m_nkr || !m_pKRs)
        return 0;
    const uint8_t *e = m_pKRs.get() + 4 * index;
    return 0xFF000000u | (uint32_t(e[2]) << 16) | (uint32_t(e[1]) << 8) | e[0];
}

uint32_t Device::setKRRgb(unsigned char index, uint32_t rgb)
{
    const uint8_t entry[4] = {static_cast<uint8_t>(rgb), static_cast<uint8_t>(rgb >> 8),
                              static_cast<uint8_t>(rgb >> 16), 0};
    return setKR(index, index, entry);
}

// Device: macro heads and frame transfers (0x50).

#include "device/device.h"

#include "device/device_util.h"

#include <QDebug>
#include <QMutexLocker>

#include <algorithm>
#include <cstring>

using namespace wk;

namespace {

bool isAnswer(const uint8_t *a, uint8_t sub)
{
    return a[0] == CMD_MACRO && a[1] == sub;
}

// A write answer: 0x50, 0x40, length 4.
bool isWriteAnswer(const uint8_t *a)
{
    return isAnswer(a, SUB_WRITE_MACRO) && a[2] == 4;
}

} // namespace

km_t *Device::macroHead(int slot)
{
    if (slot < 0 || slot >= m_nKMTotalNum || !m_pKMs)
        return nullptr;
    return &m_pKMs[slot];
}

QByteArray Device::macroName(const QString &text)
{
    QByteArray name = text.toLocal8Bit().left(km_t::kNameSize);
    name.append(km_t::kNameSize - name.size(), '\0');
    return name;
}

uint32_t Device::getKMInfo()
{
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_MACRO, SUB_GET_KM_INFO, nullptr, 0, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    const uint8_t count = a[8];
    if (!allocZeroed(m_pKMs, m_pKMs ? m_nKMTotalNum : 0, count)) {
        m_nKMTotalNum = 0;
        return WK_ERROR_NO_MEMORY;
    }
    m_nKMTotalNum = count;
    std::memset(static_cast<void *>(m_pKMs.get()), 0, sizeof(km_t) * count);
    return WK_SUCCESS;
}

uint32_t Device::getAllMacroHead()
{
    QMutexLocker transfer(&m_exchangeLock);
    for (int i = 0; i < m_nKMTotalNum; ++i) {
        const uint32_t e = getMacroHead(static_cast<unsigned char>(i), &m_pKMs[i]);
        if (e != WK_SUCCESS) {
            qWarning("get KM head=%d failed", i);
            return e;
        }
    }
    return WK_SUCCESS;
}

uint32_t Device::getMacroHead(unsigned char slot, km_t *head)
{
    if (!head)
        return WK_ERROR_OUT_OF_RANGE;
    uint8_t a[kReportSize];
    const uint32_t e = exchange(CMD_MACRO, SUB_GET_MACRO_HEAD, &slot, 1, 0, kGetWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    if (!isAnswer(a, SUB_GET_MACRO_HEAD) || a[2] != sizeof(km_t)) {
        qWarning("getMacroHead %d: answer %02x/%02x length %d is not a head", slot, a[0], a[1],
                 a[2]);
        return WK_ERROR_VERIFY;
    }
    std::memcpy(head, a + kOffPayload, sizeof(km_t));
    return WK_SUCCESS;
}

uint32_t Device::setMacroHead(km_t *head)
{
    if (!head)
        return WK_ERROR_OUT_OF_RANGE;
    const km_t copy = *head;
    uint8_t a[kReportSize];
    const uint32_t st = setExchange(CMD_MACRO, SUB_SET_MACRO_HEAD, &copy, sizeof copy, a);
    if (st != WK_SUCCESS) {
        qWarning("error:  setKM Head failed , error code = %x", st);
        return st;
    }
    if (km_t *own = macroHead(copy.id()); own && own != head)
        *own = copy;
    return WK_SUCCESS;
}

uint32_t Device::selectMacro(unsigned char slot)
{
    // The transfers index the heads with the selected slot.
    if (slot >= m_nKMTotalNum)
        return WK_ERROR_OUT_OF_RANGE;
    uint8_t a[kReportSize];
    const uint32_t st = setExchange(CMD_MACRO, SUB_SELECT_MACRO, &slot, 1, a);
    if (st == WK_ERROR_WRITE)
        return st;
    m_curkm = slot; // the frame went out: the keyboard may have switched
    if (st != WK_SUCCESS)
        qWarning("error:  setKM Head failed , error code = %x", st);
    return st;
}

uint32_t Device::setRecordMacro(unsigned char on)
{
    qDebug() << "setRecordMacro" << on;
    uint8_t a[kReportSize];
    return setExchange(CMD_MACRO, SUB_RECORD_MACRO, &on, 1, a);
}

uint32_t Device::setPlayMacro(unsigned char on)
{
    uint8_t a[kReportSize];
    return setExchange(CMD_MACRO, SUB_PLAY_MACRO, &on, 1, a);
}

uint32_t Device::readMacro(unsigned char slot)
{
    if (slot >= m_nKMTotalNum)
        return WK_ERROR_OUT_OF_RANGE;
    QMutexLocker transfer(&m_exchangeLock);
    // Reading whatever slot the keyboard has selected would return another macro.
    const uint32_t st = selectMacro(slot);
    if (st != WK_SUCCESS)
        return st;
    return _readMacro();
}

uint32_t Device::writeMacro(unsigned char slot, int count, const mframe_t *frames)
{
    if (slot >= m_nKMTotalNum)
        return WK_ERROR_OUT_OF_RANGE;
    if (count < 0 || count > kMacroFrameCapacity || (count > 0 && !frames)) {
        qWarning("writeMacro: %d frames do not fit the %d-frame buffer", count,
                 kMacroFrameCapacity);
        return WK_ERROR_OUT_OF_RANGE;
    }
    QMutexLocker transfer(&m_exchangeLock);
    const uint32_t st = selectMacro(slot);
    if (st != WK_SUCCESS)
        return st;
    m_pKMs[m_curkm].setFrameCount(static_cast<uint16_t>(count));
    m_mframes.fill(mframe_t{});
    if (count > 0)
        std::memcpy(m_mframes.data(), frames, sizeof(mframe_t) * static_cast<size_t>(count));
    m_framesHeld = count;
    return _writeMacro();
}

uint32_t Device::deletMacro(unsigned char slot)
{
    if (slot >= m_nKMTotalNum)
        return WK_ERROR_OUT_OF_RANGE;
    // The model changes only once the keyboard has taken the head.
    km_t head;
    std::memset(&head, 0, sizeof head);
    head.setId(slot);
    const uint32_t st = setMacroHead(&head);
    if (st == WK_SUCCESS)
        m_pKMs[slot] = head;
    return st;
}

uint32_t Device::setMacroName(unsigned char slot, const char *name)
{
    if (slot >= m_nKMTotalNum || !name)
        return WK_ERROR_OUT_OF_RANGE;
    km_t head = m_pKMs[slot];
    std::memcpy(head.name, name, km_t::kNameSize);
    const uint32_t st = setMacroHead(&head);
    if (st == WK_SUCCESS)
        m_pKMs[slot] = head;
    return st;
}

void Device::storeFrames(uint16_t start, uint16_t count, const uint8_t *answer)
{
    // Never more than the payload holds, never past the frame buffer.
    const size_t capacity = sizeof(mframe_t) * m_mframes.size();
    const size_t offset = sizeof(mframe_t) * start;
    if (offset >= capacity)
        return;
    const size_t n = std::min<size_t>({count, size_t(kMaxPayload), capacity - offset});
    std::memcpy(reinterpret_cast<uint8_t *>(m_mframes.data()) + offset, answer + kOffPayload, n);
    qDebug() << "reserve=" << start << "len=" << count;
    for (size_t f = 0; f * sizeof(mframe_t) < n; ++f) {
        const mframe_t &fr = m_mframes[start + f];
        qDebug("frame=%04d ts=%08d [%s]", static_cast<int>(start + f), fr.ts(),
               qPrintable(hexBytes(&fr.modifiers, 8)));
    }
}

uint32_t Device::_readMacro()
{
    const int stored = m_pKMs[m_curkm].frameCount();
    const int n = std::min(stored, kMacroFrameCapacity);
    const int rounds = n / kMacroFramesPerRound;
    const int lefts = n % kMacroFramesPerRound;
    m_mframes.fill(mframe_t{});
    m_framesHeld = 0;
    qDebug() << "read_rounds=" << rounds << "lefts=" << lefts;

    uint8_t a[kReportSize];
    uint16_t next = 0;
    bool complete = true;
    for (int attempt = 0; attempt < rounds; ++attempt) {
        const uint32_t e = exchange(CMD_MACRO, SUB_READ_MACRO, nullptr, 0,
                                    next & kMacroReadIndexMask, kLongWaitMs, a);
        if (e != WK_SUCCESS)
            return e;
        if (!isAnswer(a, SUB_READ_MACRO)) {
            // Costs the attempt; the next one asks for the same frames.
            complete = false;
            pauseMs(kMacroReadPauseMs);
            continue;
        }
        const uint16_t start = le16(a + kOffArgument);
        storeFrames(start, le16(a + kOffLength), a);
        next = static_cast<uint16_t>(start + kMacroFramesPerRound);
        pauseMs(kMacroReadPauseMs);
    }
    if (lefts > 0) {
        const uint32_t e = exchange(CMD_MACRO, SUB_READ_MACRO, nullptr, 0,
                                    next & kMacroReadIndexMask, kLongWaitMs, a);
        if (e != WK_SUCCESS)
            return e;
        if (isAnswer(a, SUB_READ_MACRO))
            storeFrames(le16(a + kOffArgument), le16(a + kOffLength), a);
        else
            complete = false;
    }
    m_framesHeld = n;
    if (stored > kMacroFrameCapacity) {
        qWarning("macro %d holds %d frames; only %d fit the buffer", m_curkm, stored,
                 kMacroFrameCapacity);
        return WK_ERROR_OUT_OF_RANGE;
    }
    if (!complete) {
        qWarning("macro %d: some frames were not read", m_curkm);
        return WK_ERROR_VERIFY;
    }
    return WK_SUCCESS;
}

uint32_t Device::_writeMacro()
{
    km_t &head = m_pKMs[m_curkm];
    const int n = std::min<int>(head.frameCount(), kMacroFrameCapacity);
    const int rounds = n / kMacroFramesPerRound;
    const int lefts = n % kMacroFramesPerRound;
    qDebug() << "write_rounds=" << rounds << "lefts" << lefts;

    uint8_t a[kReportSize];
    uint16_t sent = 0;
    uint16_t expected = 0;
    for (int attempt = 0; attempt < rounds; ++attempt) {
        const uint32_t e = exchange(CMD_MACRO, SUB_WRITE_MACRO, &m_mframes[sent],
                                    sizeof(mframe_t) * kMacroFramesPerRound, sent, kLongWaitMs, a);
        if (e == WK_ERROR_WRITE)
            qWarning() << QString(50, QLatin1Char('e'));
        if (e != WK_SUCCESS)
            return e;
        if (isWriteAnswer(a) && le16(a + kOffArgument) == expected) {
            expected = static_cast<uint16_t>(expected + kMacroFramesPerRound);
            sent = expected;
            qDebug() << "i=" << attempt << "reserve=" << expected;
        } else {
            // Not progress: the next attempt sends the same five frames.
            qWarning("%x %x %x %x", a[0], a[1], a[2], le16(a + kOffArgument));
        }
        pauseMs(kMacroWritePauseMs);
    }

    qDebug("reserve1=%d lefts=%d", sent, lefts);
    if (lefts > 0) {
        const uint32_t e =
            exchange(CMD_MACRO, SUB_WRITE_MACRO, &m_mframes[sent],
                     static_cast<uint16_t>(sizeof(mframe_t) * lefts), sent, kLongWaitMs, a);
        if (e != WK_SUCCESS)
            return e;
        if (isWriteAnswer(a) && le16(a + kOffArgument) == expected) {
            qDebug("reserve=%d %d", sent, le16(a + kOffArgument));
            sent = static_cast<uint16_t>(lefts + le16(a + kOffArgument));
        }
    }

    pauseMs(kMacroCommitPauseMs);
    qDebug("reserve=%d", sent);
    // The commit tells the keyboard how many frames the macro now has.
    const uint32_t e = exchange(CMD_MACRO, SUB_WRITE_MACRO, nullptr, 0, sent, kLongWaitMs, a);
    if (e != WK_SUCCESS)
        return e;
    if (!isWriteAnswer(a)) {
        qWarning("macro commit not confirmed: %x %x %x", a[0], a[1], a[2]);
        return WK_ERROR_VERIFY;
    }
    const uint32_t st = le32(a + kOffPayload);
    if (st != WK_SUCCESS) {
        qWarning("macro commit failed, error code = %x", st);
        return st;
    }
    if (sent != n) {
        // The keyboard now holds `sent` frames, not all of them.
        qWarning("macro %d: %d of %d frames written", m_curkm, sent, n);
        head.setFrameCount(sent);
        return WK_ERROR_VERIFY;
    }
    return WK_SUCCESS;
}

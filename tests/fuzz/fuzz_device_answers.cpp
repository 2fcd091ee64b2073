// Answers and notifications of a keyboard, fed through the transport's
// receive loop into the device model while it loads and is edited.
//
// The input is a list of reports, each one control byte followed by its
// bytes. For every request the model writes, the back end takes reports
// from the input:
//   bit 7 of the control byte: an unsolicited report (a notification, or a
//          late answer), queued before the next one;
//   bit 6: bytes 0-1 become the request's command and sub-command, so the
//          answer passes the model's echo check;
//   bits 0-5: the report's length, 1-63 (a short read); 0 for all 64 bytes.
// A notification (byte 0 = 0xF0) never answers a request, so one that is not
// marked unsolicited is taken as unsolicited: the request would otherwise
// only run into its time-out.
// When the input runs out the keyboard goes away (writes and reads fail, and
// the device thread is asked to stop, which also ends the model's pauses).
#include "fuzzdevice.h"
#include "fuzzsupport.h"

#include "device/hidbackend.h"

#include <QThread>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

namespace {

class AnswerBackend : public HidBackend
{
public:
    void start(const uint8_t *data, size_t size)
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_data = data;
        m_size = size;
        m_pos = 0;
        m_gone = false;
        m_queue.clear();
    }
    // The keyboard is unplugged: the receive loop ends at its next read.
    void unplug()
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_gone = true;
        m_cv.notify_all();
    }

    QList<HidDeviceInfo> enumerate(uint16_t, uint16_t) override
    {
        HidDeviceInfo info;
        info.path = QStringLiteral("fuzz-1");
        info.vendorId = fuzz::kVendorId;
        info.productId = fuzz::kProductId;
        info.interfaceNumber = fuzz::kInterface;
        return {info};
    }
    HidHandle *open(const QString &) override { return reinterpret_cast<HidHandle *>(this); }
    int read(HidHandle *handle, unsigned char *data, size_t length) override
    {
        return readTimeout(handle, data, length, -1);
    }
    int readTimeout(HidHandle *, unsigned char *data, size_t length, int timeoutMs) override
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        const auto ready = [this] { return m_gone || !m_queue.empty(); };
        if (timeoutMs < 0)
            m_cv.wait(lock, ready);
        else if (!m_cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), ready))
            return 0;
        // Reports already sent are read before the loss is noticed.
        if (m_queue.empty())
            return -1;
        const QByteArray report = m_queue.front();
        m_queue.pop_front();
        const size_t n = std::min(length, static_cast<size_t>(report.size()));
        std::memcpy(data, report.constData(), n);
        return static_cast<int>(n);
    }
    int write(HidHandle *, const unsigned char *data, size_t length) override
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_gone || length < 3)
            return -1;
        for (;;) {
            if (m_pos + 1 >= m_size) {
                m_gone = true;
                m_cv.notify_all();
                QThread::currentThread()->requestInterruption();
                return -1;
            }
            const uint8_t control = m_data[m_pos++];
            const size_t wanted = (control & 0x3F) ? (control & 0x3F) : 64;
            const size_t n = std::min(wanted, m_size - m_pos);
            QByteArray report(reinterpret_cast<const char *>(m_data + m_pos), static_cast<int>(n));
            m_pos += n;
            // data[0] is the report id; the request starts after it.
            if (control & 0x40) {
                report.resize(std::max(report.size(), 2));
                report[0] = static_cast<char>(data[1]);
                report[1] = static_cast<char>(data[2]);
            }
            m_queue.push_back(report);
            m_cv.notify_all();
            const bool notification = static_cast<uint8_t>(report[0]) == 0xF0;
            if (!(control & 0x80) && !notification)
                return static_cast<int>(length);
        }
    }
    void close(HidHandle *) override {}
    int exit() override { return 0; }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    const uint8_t *m_data = nullptr;
    size_t m_size = 0;
    size_t m_pos = 0;
    bool m_gone = false;
    std::deque<QByteArray> m_queue;
};

} // namespace

int LLVMFuzzerInitialize(int *argc, char ***argv)
{
    fuzz::init(argc, argv);
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static AnswerBackend backend;
    backend.start(data, size);
    {
        fuzz::DeviceLink link(&backend);
        if (link.opened())
            link.runSession(300);
        backend.unplug();
    }
    return 0;
}

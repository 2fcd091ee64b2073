// Records the seed of the answer fuzz target: a simulated keyboard goes
// through the same session, and every report it sends is written in the
// target's input format (answers with their full 64 bytes, reports that
// arrive with no request outstanding marked unsolicited).
//
//   fuzz_device_seed OUTPUT [dual|usb|nolight]
#include "fuzzdevice.h"

#include "device/hidbackend.h"
#include "simbus.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <mutex>

namespace {

class RecordingBackend : public HidBackend
{
public:
    explicit RecordingBackend(HidBackend *inner) : m_inner(inner) {}

    QByteArray transcript() const
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        return m_transcript;
    }

    QList<HidDeviceInfo> enumerate(uint16_t vendorId, uint16_t productId) override
    {
        return m_inner->enumerate(vendorId, productId);
    }
    HidHandle *open(const QString &path) override { return m_inner->open(path); }
    int read(HidHandle *handle, unsigned char *data, size_t length) override
    {
        return record(m_inner->read(handle, data, length), data);
    }
    int readTimeout(HidHandle *handle, unsigned char *data, size_t length, int timeoutMs) override
    {
        return record(m_inner->readTimeout(handle, data, length, timeoutMs), data);
    }
    int write(HidHandle *handle, const unsigned char *data, size_t length) override
    {
        // Counted before the keyboard sees it: its answer may be read before
        // the write returns.
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            ++m_requests;
        }
        const int n = m_inner->write(handle, data, length);
        if (n <= 0) {
            std::lock_guard<std::mutex> lock(m_mutex);
            --m_requests;
        }
        return n;
    }
    void close(HidHandle *handle) override { m_inner->close(handle); }
    int exit() override { return m_inner->exit(); }

private:
    int record(int n, const unsigned char *data)
    {
        if (n <= 0)
            return n;
        std::lock_guard<std::mutex> lock(m_mutex);
        const bool answer = m_answers < m_requests;
        if (answer)
            ++m_answers;
        const int length = n >= 64 ? 64 : n;
        m_transcript.append(
            static_cast<char>((answer ? 0x00 : 0x80) | (length == 64 ? 0 : length)));
        m_transcript.append(reinterpret_cast<const char *>(data), length);
        return n;
    }

    HidBackend *m_inner;
    mutable std::mutex m_mutex;
    QByteArray m_transcript;
    int m_requests = 0;
    int m_answers = 0;
};

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT [dual|usb|nolight]\n", argv[0]);
        return 2;
    }
    const QByteArray which = argc > 2 ? QByteArray(argv[2]) : QByteArray("dual");
    sim::Personality personality = sim::Personality::DualMode;
    if (which == "usb")
        personality = sim::Personality::UsbOnly;
    else if (which == "nolight")
        personality = sim::Personality::NoLighting;

    sim::SimBus bus;
    bus.setReportLatencyUs(0);
    sim::SimKeyboard *keyboard = bus.plug(personality);
    RecordingBackend recorder(&bus);
    {
        fuzz::DeviceLink link(&recorder);
        if (!link.opened()) {
            std::fprintf(stderr, "the simulated keyboard did not open\n");
            return 1;
        }
        link.runSession(60000);
        bus.unplug(keyboard);
    }
    QFile out(QString::fromLocal8Bit(argv[1]));
    const QByteArray bytes = recorder.transcript();
    if (!out.open(QIODevice::WriteOnly) || out.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    std::printf("%s: %d bytes\n", argv[1], int(bytes.size()));
    return 0;
}

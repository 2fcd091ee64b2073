#include "device/hidbackend.h"

#include <QDeadlineTimer>

#include <hidapi/hidapi.h>

#include <algorithm>
#include <atomic>

namespace {
std::atomic<HidBackend *> g_backend{nullptr};

HidBackend *hidapiBackend()
{
    static HidapiBackend backend;
    return &backend;
}

hid_device *dev(HidHandle *handle)
{
    return reinterpret_cast<hid_device *>(handle);
}

QString fromWide(const wchar_t *text)
{
    return text ? QString::fromWCharArray(text) : QString();
}
} // namespace

HidBackend *HidBackend::instance()
{
    HidBackend *backend = g_backend.load();
    return backend ? backend : hidapiBackend();
}

void HidBackend::setInstance(HidBackend *backend)
{
    g_backend.store(backend);
}

int HidBackend::readUntil(HidHandle *handle, unsigned char *data, size_t length, int timeoutMs,
                          const std::function<bool()> &stopRequested)
{
    const QDeadlineTimer deadline = timeoutMs < 0 ? QDeadlineTimer(QDeadlineTimer::Forever)
                                                  : QDeadlineTimer(timeoutMs, Qt::PreciseTimer);
    for (;;) {
        if (stopRequested && stopRequested())
            return 0;
        // Rounded up: a slice of 0 would not wait at all.
        const qint64 leftNs = deadline.remainingTimeNSecs(); // -1 = forever
        const int slice =
            leftNs < 0
                ? kStopSliceMs
                : static_cast<int>(std::min<qint64>((leftNs + 999999) / 1000000, kStopSliceMs));
        const int n = readTimeout(handle, data, length, slice);
        if (n != 0 || deadline.hasExpired())
            return n;
    }
}

void HidBackend::wakeReads(HidHandle *) {}

QList<HidDeviceInfo> HidBackend::enumerateAny(const QVector<HidPair> &pairs)
{
    QVector<HidPair> wanted;
    for (const HidPair &pair : pairs) {
        if (pair.vendorId == 0 && pair.productId == 0)
            continue; // would list every device of the machine
        const bool known = std::any_of(wanted.cbegin(), wanted.cend(), [&](const HidPair &w) {
            return w.vendorId == pair.vendorId && w.productId == pair.productId;
        });
        if (!known)
            wanted.append(pair);
    }
    if (wanted.isEmpty())
        return {};
    const bool oneVendor = wanted.first().vendorId != 0 &&
                           std::all_of(wanted.cbegin(), wanted.cend(), [&](const HidPair &w) {
                               return w.vendorId == wanted.first().vendorId;
                           });
    if (wanted.size() == 1 || !oneVendor) {
        // hidapi filters by one pair only; listing every device instead would
        // open each of them for its strings.
        QList<HidDeviceInfo> found;
        for (const HidPair &pair : qAsConst(wanted))
            found += enumerate(pair.vendorId, pair.productId);
        return found;
    }
    QList<HidDeviceInfo> found = enumerate(wanted.first().vendorId, 0);
    found.erase(std::remove_if(found.begin(), found.end(),
                               [&](const HidDeviceInfo &info) {
                                   return std::none_of(
                                       wanted.cbegin(), wanted.cend(), [&](const HidPair &w) {
                                           return w.productId == 0 || w.productId == info.productId;
                                       });
                               }),
                found.end());
    return found;
}

QList<HidDeviceInfo> HidapiBackend::enumerate(uint16_t vendorId, uint16_t productId)
{
    QList<HidDeviceInfo> list;
    hid_device_info *devs = hid_enumerate(vendorId, productId);
    for (hid_device_info *cur = devs; cur; cur = cur->next) {
        HidDeviceInfo info;
        info.path = QString::fromUtf8(cur->path ? cur->path : "");
        info.vendorId = cur->vendor_id;
        info.productId = cur->product_id;
        info.interfaceNumber = cur->interface_number;
        info.manufacturer = fromWide(cur->manufacturer_string);
        info.product = fromWide(cur->product_string);
        info.serialNumber = fromWide(cur->serial_number);
        list.append(info);
    }
    hid_free_enumeration(devs);
    return list;
}

HidHandle *HidapiBackend::open(const QString &path)
{
    const QByteArray utf8 = path.toUtf8();
    return reinterpret_cast<HidHandle *>(hid_open_path(utf8.constData()));
}

int HidapiBackend::read(HidHandle *handle, unsigned char *data, size_t length)
{
    return hid_read(dev(handle), data, length);
}

int HidapiBackend::readTimeout(HidHandle *handle, unsigned char *data, size_t length, int timeoutMs)
{
    return hid_read_timeout(dev(handle), data, length, timeoutMs);
}

int HidapiBackend::write(HidHandle *handle, const unsigned char *data, size_t length)
{
    return hid_write(dev(handle), data, length);
}

void HidapiBackend::close(HidHandle *handle)
{
    hid_close(dev(handle));
}

int HidapiBackend::exit()
{
    return hid_exit();
}

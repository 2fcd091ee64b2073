#include "device/hidbackend.h"

#include <hidapi/hidapi.h>

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

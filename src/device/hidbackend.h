#pragma once

#include <QList>
#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>

// One enumerated HID interface, as hid_enumerate reports it.
struct HidDeviceInfo
{
    QString path; // hidapi path; with libusb it ends in the interface number
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    int interfaceNumber = -1; // -1 when the back end does not know it
    QString manufacturer;
    QString product;
    QString serialNumber;
};

// A vendor/product pair to look for.
struct HidPair
{
    uint16_t vendorId = 0;
    uint16_t productId = 0;
};

// Opaque handle of an open interface. Each back end defines what it is.
struct HidHandle;

// The single seam between the program and HID hardware. Usb, CheckUSB and the
// presence checks of the device session call only this interface, never
// hidapi directly. One back end is chosen per process at start-up (hidapi by
// default, the simulated bus in demo mode); tests install their own.
//
// The calls mirror hidapi: reads return the number of bytes read, 0 on
// time-out and -1 on error; writes return the number of bytes written or -1.
// A read returns as soon as a report arrives (or the device fails), whatever
// its time-out: a long time-out costs nothing while reports flow.
class HidBackend
{
public:
    virtual ~HidBackend() = default;

    // Every interface with this vendor/product pair; 0/0 lists every device.
    virtual QList<HidDeviceInfo> enumerate(uint16_t vendorId, uint16_t productId) = 0;
    // Every interface whose pair is one of `pairs` (0/0 pairs are ignored),
    // in one look at the bus. The default asks enumerate() once when all
    // pairs share their vendor, else once per pair.
    virtual QList<HidDeviceInfo> enumerateAny(const QVector<HidPair> &pairs);
    // nullptr when the path cannot be opened.
    virtual HidHandle *open(const QString &path) = 0;
    // Blocks until a report arrives or the device fails.
    virtual int read(HidHandle *handle, unsigned char *data, size_t length) = 0;
    // Waits at most timeoutMs milliseconds (-1 = forever).
    virtual int readTimeout(HidHandle *handle, unsigned char *data, size_t length,
                            int timeoutMs) = 0;
    virtual int write(HidHandle *handle, const unsigned char *data, size_t length) = 0;
    virtual void close(HidHandle *handle) = 0;
    // Releases the back end's global state (hid_exit); the next call re-initialises it.
    virtual int exit() = 0;

    // The process-wide back end. Defaults to hidapi when none was installed.
    static HidBackend *instance();
    // Installs a back end (not owned; it must outlive every user). nullptr
    // restores the hidapi back end.
    static void setInstance(HidBackend *backend);
};

// The hidapi (libusb) implementation.
class HidapiBackend : public HidBackend
{
public:
    QList<HidDeviceInfo> enumerate(uint16_t vendorId, uint16_t productId) override;
    HidHandle *open(const QString &path) override;
    int read(HidHandle *handle, unsigned char *data, size_t length) override;
    int readTimeout(HidHandle *handle, unsigned char *data, size_t length, int timeoutMs) override;
    int write(HidHandle *handle, const unsigned char *data, size_t length) override;
    void close(HidHandle *handle) override;
    int exit() override;
};

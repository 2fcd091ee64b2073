#pragma once

#include <QList>
#include <QString>
#include <QVector>

#include <cstddef>
#include <cstdint>
#include <functional>

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
    // A read that a stop can end: waits like readTimeout() (timeoutMs -1 =
    // no limit) and returns 0 as soon as `stopRequested` returns true. Whoever
    // makes it true calls wakeReads() for the handle afterwards. The default
    // reads in slices of at most kStopSliceMs and asks `stopRequested`
    // between them; a back end that can wake a waiting read overrides both
    // and then waits in one piece. `stopRequested` may be called with the
    // back end's locks held: it only looks at flags.
    virtual int readUntil(HidHandle *handle, unsigned char *data, size_t length, int timeoutMs,
                          const std::function<bool()> &stopRequested);
    // Makes the reads of readUntil() on `handle` ask their stop condition
    // again. Safe with a handle that was closed meanwhile. Default: nothing
    // (the slices bound how late a stop is noticed).
    virtual void wakeReads(HidHandle *handle);
    virtual int write(HidHandle *handle, const unsigned char *data, size_t length) = 0;
    virtual void close(HidHandle *handle) = 0;
    // Releases the back end's global state (hid_exit); the next call re-initialises it.
    virtual int exit() = 0;

    // The longest slice of the default readUntil().
    static constexpr int kStopSliceMs = 250;

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

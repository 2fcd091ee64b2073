#pragma once

#include "device/protocol.h"

#include <QMetaType>

#include <array>
#include <cstdint>
#include <cstring>

// One 64-byte input report, carried by value across threads (notifications
// from the device model to the main window). Owning its bytes, it stays valid
// however long the queued signal takes and whatever happens to the transport.
struct HidReport
{
    std::array<uint8_t, wk::kReportSize> bytes{};

    HidReport() = default;
    explicit HidReport(const uint8_t *data) { std::memcpy(bytes.data(), data, bytes.size()); }

    uint8_t operator[](int i) const { return bytes[static_cast<size_t>(i)]; }
    const uint8_t *data() const { return bytes.data(); }
    // The 16-bit little-endian length field (bytes 2-3).
    uint16_t length() const { return wk::le16(bytes.data() + wk::kOffLength); }
    bool isNotification() const { return bytes[0] == wk::kNotification; }
};

Q_DECLARE_METATYPE(HidReport)

// Registers HidReport for queued connections; safe to call more than once.
void registerHidReportMetaType();

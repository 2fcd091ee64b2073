#pragma once

// The keyboard's vendor command protocol: report geometry, status codes,
// command identifiers and the time limits of the exchanges.

#include <cstdint>

// ---------------------------------------------------------------------------
// Status codes. Every command method returns one of these; any other non-zero
// value is the keyboard's own error code, passed through unchanged.
// ---------------------------------------------------------------------------
constexpr uint32_t WK_SUCCESS = 0;
constexpr uint32_t WK_ERROR_VERIFY = 0xEE000003;       // answer not confirmed (status or echo)
constexpr uint32_t WK_ERROR_NO_MEMORY = 0xEE000004;    // a model buffer could not be allocated
constexpr uint32_t WK_ERROR_OUT_OF_RANGE = 0xEE000007; // index or size outside what fits
constexpr uint32_t WK_ERROR_TIMEOUT = 0xEE00000D;      // no answer within the time limit
constexpr uint32_t WK_ERROR_WRITE = 0xEE000016;        // writing the output report failed
constexpr uint32_t WK_ERROR_LOAD = 0xEE000017;         // loading the configuration failed

namespace wk {

// ---------------------------------------------------------------------------
// Report geometry
// ---------------------------------------------------------------------------
constexpr int kReportSize = 64;     // payload of every input and output report
constexpr int kWireReportSize = 65; // output report on the wire: report id 0 + 64 bytes
constexpr int kFrameHeaderSize = 8; // command, sub-command, length, argument, checksum
constexpr int kMaxPayload = kReportSize - kFrameHeaderSize; // 56

// Offsets inside a frame.
constexpr int kOffCommand = 0;
constexpr int kOffSubCommand = 1;
constexpr int kOffLength = 2;   // 16-bit little-endian
constexpr int kOffArgument = 4; // 16-bit little-endian
constexpr int kOffChecksum = 6; // always 0
constexpr int kOffPayload = 8;

// Byte 0 of an unsolicited notification frame.
constexpr uint8_t kNotification = 0xF0;

// ---------------------------------------------------------------------------
// Time limits of the exchanges (milliseconds)
// ---------------------------------------------------------------------------
constexpr int kDeviceInfoWaitMs = 500; // getDeviceInfo, dual-mode switches
constexpr int kGetWaitMs = 2000;       // the "get" commands and setBtName
// Commands whose answer has no natural time limit (the "set" commands and the
// macro transfers) give up after this long rather than blocking forever.
constexpr int kLongWaitMs = 5000;
constexpr int kLoadRetryPauseMs = 1000; // pause after each getDeviceInfo attempt while loading

// ---------------------------------------------------------------------------
// Command groups (byte 0) and sub-commands (byte 1)
// ---------------------------------------------------------------------------
constexpr uint8_t CMD_DEVICE = 0x10;
constexpr uint8_t SUB_ENTER_USB_DFU = 0x00;
constexpr uint8_t SUB_GET_DEVICE_INFO = 0x10;
constexpr uint8_t SUB_GET_DEVICE_VERSION = 0x11;
constexpr uint8_t SUB_GET_SCAN_SPEED = 0x20;
constexpr uint8_t SUB_SET_SCAN_SPEED = 0x21;
constexpr uint8_t SUB_GET_USER_INFO = 0x30;
constexpr uint8_t SUB_SET_USER_INFO = 0x31;
constexpr uint8_t SUB_GET_DEVICE_ID = 0x40;
constexpr uint8_t SUB_GET_NKEY = 0x50;
constexpr uint8_t SUB_SET_NKEY = 0x51;
constexpr uint8_t SUB_FACTORY_RESET = 0x60;

constexpr uint8_t CMD_KEYCODE = 0x20;
constexpr uint8_t SUB_GET_KC_INFO = 0x00;
constexpr uint8_t SUB_GET_CUR_KCM = 0x01;
constexpr uint8_t SUB_SET_CUR_KCM = 0x02;
constexpr uint8_t SUB_GET_KC = 0x10;
constexpr uint8_t SUB_SET_KC = 0x11;

constexpr uint8_t CMD_KEYCOLOUR = 0x30;
constexpr uint8_t SUB_GET_KR_INFO = 0x00;
constexpr uint8_t SUB_GET_CUR_KRM = 0x01;
constexpr uint8_t SUB_SET_CUR_KRM = 0x02;
constexpr uint8_t SUB_GET_KR = 0x10;
constexpr uint8_t SUB_SET_KR = 0x11;

constexpr uint8_t CMD_KEYFUNC = 0x40;
constexpr uint8_t SUB_GET_KF_INFO = 0x00;
constexpr uint8_t SUB_GET_KF_ITEM = 0x10;
constexpr uint8_t SUB_SET_KF_ITEM = 0x20;

constexpr uint8_t CMD_MACRO = 0x50;
constexpr uint8_t SUB_GET_KM_INFO = 0x00;
constexpr uint8_t SUB_GET_MACRO_HEAD = 0x01;
constexpr uint8_t SUB_SET_MACRO_HEAD = 0x02;
constexpr uint8_t SUB_SELECT_MACRO = 0x03;
constexpr uint8_t SUB_RECORD_MACRO = 0x10;
constexpr uint8_t SUB_PLAY_MACRO = 0x20;
constexpr uint8_t SUB_READ_MACRO = 0x30;
constexpr uint8_t SUB_WRITE_MACRO = 0x40;

constexpr uint8_t CMD_LIGHTING = 0x60;
constexpr uint8_t SUB_GET_LM_INFO = 0x00;
constexpr uint8_t SUB_GET_CUR_LMM = 0x01;
constexpr uint8_t SUB_SET_CUR_LMM = 0x02;
constexpr uint8_t SUB_GET_LM = 0x03;
constexpr uint8_t SUB_SET_LM = 0x04;
constexpr uint8_t SUB_GET_LA_INFO = 0x20;
constexpr uint8_t SUB_GET_LA_ITEM = 0x21;
constexpr uint8_t SUB_SET_LA_ITEM = 0x22;

constexpr uint8_t CMD_BLUETOOTH = 0xB0;
constexpr uint8_t SUB_GET_BT_NAME = 0x10;
constexpr uint8_t SUB_SET_BT_NAME = 0x11;
constexpr uint8_t SUB_GET_SLEEP_TIME = 0x20;
constexpr uint8_t SUB_SET_SLEEP_TIME = 0x21;
constexpr uint8_t SUB_BT_DFU = 0xDF; // dual-mode firmware update pass-through

// ---------------------------------------------------------------------------
// Chunk sizes of the map transfers
// ---------------------------------------------------------------------------
constexpr int kRangeHeaderSize = 4; // map, first, last, 0
constexpr int kKeyChunk = 13;       // 13 x 4 bytes + header = 56
constexpr int kModeChunk = 48;      // single-byte entries per read
constexpr int kMaxModeEntriesPerFrame = kMaxPayload - kRangeHeaderSize; // 52
constexpr int kAnswerDataOffset = 12; // data of a range answer starts here

// ---------------------------------------------------------------------------
// Macro transfer
// ---------------------------------------------------------------------------
constexpr int kMacroFrameCapacity = 512; // frames in the device model's buffer
constexpr int kMacroFramesPerRound = 5;  // 50 payload bytes per exchange
constexpr int kMacroReadPauseMs = 50;
constexpr int kMacroWritePauseMs = 100;
constexpr int kMacroCommitPauseMs = 50;
constexpr uint16_t kMacroReadIndexMask = 0x01FF; // 9-bit start index of a read

// Little-endian helpers for frame fields.
inline uint16_t le16(const uint8_t *p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline uint32_t le32(const uint8_t *p)
{
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline void putLe16(uint8_t *p, uint16_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void putLe32(uint8_t *p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
    p[2] = static_cast<uint8_t>(v >> 16);
    p[3] = static_cast<uint8_t>(v >> 24);
}

} // namespace wk

// The USBTMC wire layout (USBTMC 1.0 with the USB488 subclass), written once
// for the client and the emulated meter: the 12-byte header of every bulk
// transfer, the message ids, the class requests and their statuses.
//
// Bulk header: MsgID, bTag, ~bTag, 0, TransferSize (4 bytes, little endian),
// bmTransferAttributes, TermChar (REQUEST_DEV_DEP_MSG_IN only), 0, 0; the
// message bytes follow, padded with zeros to a multiple of 4.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace tarnel::scpi::client::usbtmc {

inline constexpr std::uint8_t kInterfaceClass = 0xFE;
inline constexpr std::uint8_t kInterfaceSubClass = 0x03;
inline constexpr std::uint8_t kUsb488Protocol = 0x01;

inline constexpr std::size_t kHeaderSize = 12;

enum class MsgId : std::uint8_t {
    DevDepMsgOut = 1,
    RequestDevDepMsgIn = 2,   // OUT; the reply on bulk IN, DEV_DEP_MSG_IN, has the same id
    DevDepMsgIn = 2,
    VendorSpecificOut = 126,
    RequestVendorSpecificIn = 127,
    Trigger = 128,            // USB488
};

// bmTransferAttributes.
inline constexpr std::uint8_t kEom = 0x01;               // DEV_DEP_MSG_OUT / DEV_DEP_MSG_IN: last transfer of the message
inline constexpr std::uint8_t kTermCharEnabled = 0x02;   // REQUEST_DEV_DEP_MSG_IN: stop at TermChar
inline constexpr std::uint8_t kEndedAtTermChar = 0x02;   // DEV_DEP_MSG_IN: the transfer ended at TermChar

// Class requests (bRequest) on the default control endpoint.
enum class Request : std::uint8_t {
    InitiateAbortBulkOut = 1,        // endpoint recipient, wValue bTag, wLength 2
    CheckAbortBulkOutStatus = 2,     // endpoint recipient, wLength 8
    InitiateAbortBulkIn = 3,         // endpoint recipient, wValue bTag, wLength 2
    CheckAbortBulkInStatus = 4,      // endpoint recipient, wLength 8
    InitiateClear = 5,               // interface recipient, wLength 1
    CheckClearStatus = 6,            // interface recipient, wLength 2
    GetCapabilities = 7,             // interface recipient, wLength 0x18
    IndicatorPulse = 64,             // interface recipient, wLength 1
    ReadStatusByte = 128,            // USB488; wValue bTag 2..127, wLength 3
    RenControl = 160,                // USB488; wValue 1 (assert) or 0, wLength 1
    GoToLocal = 161,                 // USB488; wLength 1
    LocalLockout = 162,              // USB488; wLength 1
};

// USBTMC_status, the first byte of every class request's answer.
enum class Status : std::uint8_t {
    Success = 0x01,
    Pending = 0x02,
    Failed = 0x80,
    TransferNotInProgress = 0x81,
    SplitNotInProgress = 0x82,
    SplitInProgress = 0x83,
};

inline constexpr std::size_t kCapabilitiesLength = 0x18;
// GET_CAPABILITIES answer bits.
inline constexpr std::size_t kInterfaceCapabilitiesByte = 4;    // USBTMC interface capabilities
inline constexpr std::uint8_t kIndicatorPulseCapable = 0x04;
inline constexpr std::size_t kDeviceCapabilitiesByte = 5;       // USBTMC device capabilities
inline constexpr std::uint8_t kTermCharCapable = 0x01;
inline constexpr std::size_t kUsb488InterfaceCapabilitiesByte = 14;
inline constexpr std::uint8_t kUsb488Capable = 0x04;            // USB488.2 interface
inline constexpr std::uint8_t kRenControlCapable = 0x02;        // accepts REN_CONTROL, GO_TO_LOCAL, LOCAL_LOCKOUT
inline constexpr std::uint8_t kTriggerCapable = 0x01;
inline constexpr std::size_t kUsb488DeviceCapabilitiesByte = 15;
inline constexpr std::uint8_t kScpiCompliant = 0x08;            // understands SCPI
inline constexpr std::uint8_t kRemoteLocalCapable = 0x02;       // RL1: remote/local states
inline constexpr std::uint8_t kDeviceTriggerCapable = 0x01;     // DT1: device trigger
// Release numbers in the GET_CAPABILITIES answer (2 bytes, little endian).
inline constexpr std::size_t kUsbtmcVersionByte = 2;
inline constexpr std::size_t kUsb488VersionByte = 12;
inline constexpr std::uint16_t kVersion1_00 = 0x0100;

// CHECK_ABORT_BULK_IN_STATUS bmAbortBulkIn and CHECK_CLEAR_STATUS bmClear:
// the bulk-IN endpoint still holds bytes to read.
inline constexpr std::uint8_t kBulkInFifoHoldsData = 0x01;
// The interrupt-IN notification that answers READ_STATUS_BYTE:
// bNotify1 = kStatusByteNotification | bTag, bNotify2 = the status byte.
inline constexpr std::uint8_t kStatusByteNotification = 0x80;
// READ_STATUS_BYTE's bTag is one of these.
inline constexpr std::uint8_t kFirstStatusTag = 2;
inline constexpr std::uint8_t kLastStatusTag = 127;

struct BulkHeader {
    MsgId msgId = MsgId::DevDepMsgOut;
    std::uint8_t tag = 1;
    std::uint32_t transferSize = 0;
    std::uint8_t attributes = 0;
    std::uint8_t termChar = 0;
};

std::array<std::uint8_t, kHeaderSize> EncodeHeader(const BulkHeader& header);
// Nothing when fewer than 12 bytes, or when bTagInverse is not ~bTag.
std::optional<BulkHeader> DecodeHeader(std::span<const std::uint8_t> bytes);

// The tag after `tag`: 1, 2, ... 255, 1, ... (never 0).
constexpr std::uint8_t NextTag(std::uint8_t tag) { return tag >= 255 ? 1 : static_cast<std::uint8_t>(tag + 1); }
// `length` rounded up to a multiple of 4.
constexpr std::size_t Padded(std::size_t length) { return (length + 3) & ~std::size_t{3}; }

// One DEV_DEP_MSG_OUT transfer: header, the bytes, zero padding.
std::vector<std::uint8_t> DevDepMsgOut(std::uint8_t tag, std::string_view bytes, bool endOfMessage);
// One DEV_DEP_MSG_IN transfer (the device's answer): header with
// `attributes` (kEom, kEndedAtTermChar), the bytes, zero padding.
std::vector<std::uint8_t> DevDepMsgIn(std::uint8_t tag, std::string_view bytes, std::uint8_t attributes);
// One REQUEST_DEV_DEP_MSG_IN transfer asking for at most `maxSize` bytes.
std::array<std::uint8_t, kHeaderSize> RequestDevDepMsgIn(std::uint8_t tag, std::uint32_t maxSize,
                                                         std::optional<char> termChar);

}  // namespace tarnel::scpi::client::usbtmc

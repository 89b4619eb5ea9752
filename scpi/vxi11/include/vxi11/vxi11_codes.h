// The numbers of the VXI-11 wire beyond rpcgen's types: the error codes a
// procedure answers, the operation flags and the reasons a read ends.
#pragma once

namespace tarnel::vxi11 {

enum class DeviceError : long {
    None = 0,
    Syntax = 1,
    NotAccessible = 3,
    InvalidLink = 4,
    Parameter = 5,
    ChannelNotEstablished = 6,
    NotSupported = 8,
    OutOfResources = 9,
    LockedByAnotherLink = 11,
    NoLockHeld = 12,
    IoTimeout = 15,
    Io = 17,
    InvalidAddress = 21,
    Aborted = 23,
    ChannelAlreadyEstablished = 29,
};

// Device_Flags bits.
inline constexpr long kFlagWaitLock = 1;     // wait lock_timeout for a lock held by another link
inline constexpr long kFlagEnd = 8;          // device_write: the data ends the message
inline constexpr long kFlagTermCharSet = 128;  // device_read: stop after termChar

// Device_ReadResp reason bits.
inline constexpr long kReasonRequestCount = 1;   // requestSize bytes returned
inline constexpr long kReasonTermChar = 2;       // the term char returned
inline constexpr long kReasonEnd = 4;            // the reply's last byte returned

}  // namespace tarnel::vxi11

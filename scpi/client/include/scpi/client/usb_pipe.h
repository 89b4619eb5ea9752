// The USB operations a USBTMC session needs from its instrument's claimed
// interface: bulk OUT, bulk IN, interrupt IN, class requests on the default
// control endpoint, and clearing an endpoint's halt. The libusb pipe
// implements it on a device; the unit tests implement it with a scripted
// device, so that the USBTMC logic is tested without one.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace tarnel::scpi::client::usbtmc {

enum class PipeStatus {
    Done,       // the whole transfer (a read: until its buffer was full or a short packet ended it)
    TimedOut,   // nothing more came, or nothing was taken, before the timeout; `length` says what moved
    Stalled,    // the endpoint answered STALL
    Gone,       // the device was unplugged
    Overflow,   // the device sent more than the buffer holds
    Failed,     // any other error; `detail` names it
};

struct PipeResult {
    PipeStatus status = PipeStatus::Done;
    std::size_t length = 0;   // bytes moved, also when the transfer ended early
    std::string detail;       // for Failed: the USB stack's name of the error
};

// The endpoints of the claimed USBTMC interface.
struct PipeLayout {
    std::uint8_t interfaceNumber = 0;
    std::uint8_t bulkOut = 0x02;                  // endpoint addresses
    std::uint8_t bulkIn = 0x81;
    std::optional<std::uint8_t> interruptIn;      // USB488 interfaces may have one
    std::size_t bulkInPacketSize = 512;           // wMaxPacketSize of bulk IN
    bool usb488 = false;                          // interface protocol 0x01
};

class UsbPipe {
public:
    virtual ~UsbPipe() = default;

    virtual const PipeLayout& Layout() const = 0;

    virtual PipeResult BulkOut(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) = 0;
    // One bulk-IN transfer into buffer: it ends when the buffer is full or
    // at a short packet.
    virtual PipeResult BulkIn(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) = 0;
    virtual PipeResult InterruptIn(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) = 0;
    // A device-to-host class request: bmRequestType, bRequest, wValue,
    // wIndex; wLength is answer.size().
    virtual PipeResult ControlIn(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                 std::uint16_t index, std::span<std::uint8_t> answer,
                                 std::chrono::milliseconds timeout) = 0;
    virtual PipeResult ClearHalt(std::uint8_t endpoint) = 0;
};

}  // namespace tarnel::scpi::client::usbtmc

// One evaluation board reached through libusb: finding boards by vendor and
// product id, opening one with its interface claimed, carrying vendor
// requests as control transfers, and following the board when its firmware
// re-enumerates. Every libusb failure becomes a BoardError whose message
// names the cause and the fix.
//
// All of it goes through one libusb context per library, created at the
// first use and kept for the process: a program's start-up starts USB
// access and scans the bus once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include <tarnel/board_protocol.h>

struct libusb_context;
struct libusb_device;
struct libusb_device_handle;

namespace tarnel::boardaccess {

struct BoardId {
    std::uint16_t vendor = protocol::kVendorId;
    std::uint16_t product = protocol::kProductId;
};

// Number of boards with that id now attached, at least 1: throws
// BoardError(NoBoard) when there is none. Boards are numbered 0, 1, ... in
// the order the system lists them.
std::size_t CountAttachedBoards(BoardId id);

class UsbBoard {
public:
    // Opens board `number` with that id and claims its interface 0,
    // detaching a kernel driver that is bound to it.
    static std::unique_ptr<UsbBoard> Open(BoardId id, std::size_t number);

    ~UsbBoard();
    UsbBoard(const UsbBoard&) = delete;
    UsbBoard& operator=(const UsbBoard&) = delete;

    // One vendor request to the device, as one control transfer with the
    // board timeout. data.size() is the length; a transfer that moves fewer
    // bytes than that is a failure. For requests to the board the bytes are
    // only read. The port-path request (protocol::kRequestPortPath, from the
    // board) is answered here with the board's port path, without a transfer.
    void VendorRequest(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                       protocol::Direction direction, std::span<std::uint8_t> data);

    // A vendor write that may take the board off the bus: firmware that
    // re-enumerates drops off as it starts, so the write can end in an I/O
    // error or "no device", which count as done. If the board left, waits
    // up to `comeback` (polling) for a board with the same ids to arrive,
    // opens it and carries on with it, so this object stays the caller's
    // board. Throws BoardError(Disconnected) when none comes back in time.
    void VendorWriteThatMayReenumerate(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                       std::span<std::uint8_t> data, std::chrono::milliseconds comeback);

    // True once a request found the device gone for good ("no device"): the
    // handle can only fail from then on.
    bool LeftTheBus() const { return leftTheBus_; }

private:
    struct HandleCloser {
        void operator()(libusb_device_handle* handle) const;
    };
    using Context = std::shared_ptr<libusb_context>;
    using Handle = std::unique_ptr<libusb_device_handle, HandleCloser>;

    UsbBoard(Context context, BoardId id, Handle handle);
    // Opens the device and claims the board's interface.
    static Handle OpenAndClaim(libusb_device* device);
    // Returns how the transfer ended: the bytes moved or a libusb error.
    int Transfer(std::uint8_t request, std::uint16_t value, std::uint16_t index, protocol::Direction direction,
                 std::span<std::uint8_t> data);

    Context context_;   // outlives handle_: members are destroyed in reverse order
    BoardId id_;
    Handle handle_;
    std::atomic<bool> leftTheBus_ = false;
};

}  // namespace tarnel::boardaccess

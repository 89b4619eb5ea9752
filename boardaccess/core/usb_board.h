// One evaluation board reached through libusb: finding boards by vendor and
// product id, opening one with its interface claimed, and carrying vendor
// requests as control transfers. Every libusb failure becomes a BoardError
// whose message names the cause and the fix.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include <tarnel/board_protocol.h>

struct libusb_context;
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
    // only read.
    void VendorRequest(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                       protocol::Direction direction, std::span<std::uint8_t> data);

private:
    struct ContextCloser {
        void operator()(libusb_context* context) const;
    };
    struct HandleCloser {
        void operator()(libusb_device_handle* handle) const;
    };
    using Context = std::unique_ptr<libusb_context, ContextCloser>;
    using Handle = std::unique_ptr<libusb_device_handle, HandleCloser>;

    UsbBoard(Context context, Handle handle);
    static Context NewContext();

    friend std::size_t CountAttachedBoards(BoardId id);

    Context context_;   // outlives handle_: members are destroyed in reverse order
    Handle handle_;
};

}  // namespace tarnel::boardaccess

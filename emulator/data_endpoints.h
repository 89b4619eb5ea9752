// The endpoints of an emulated device besides endpoint 0 (bulk and
// interrupt), as UsbfsDevice drives them: bytes written to an OUT endpoint
// are handed over at once, an IN URB waits until the device has bytes for
// it. UsbfsDevice calls these from umockdev's worker thread and, for IN
// endpoints, from whichever thread tells it that data is ready; none of them
// may block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace tarnel::emulator {

class DataEndpoints {
public:
    // What one IN URB gets: the bytes (at most its room) and 0, or an errno
    // as usbfs reports it (EOVERFLOW: the device sent a packet larger than
    // the room left).
    struct InChunk {
        std::vector<std::uint8_t> bytes;
        int error = 0;
    };

    virtual ~DataEndpoints() = default;

    // Whether the device has `endpoint` (address with the direction bit) of
    // the usbfs URB type `urbType` (USBDEVFS_URB_TYPE_BULK or _INTERRUPT).
    virtual bool Has(std::uint8_t endpoint, unsigned urbType) const = 0;
    // The bytes of one OUT URB or synchronous bulk write.
    virtual void Receive(std::uint8_t endpoint, std::span<const std::uint8_t> bytes) = 0;
    // The next bytes of an IN endpoint for a URB with `room` bytes; nothing
    // while the device has none to send.
    virtual std::optional<InChunk> Take(std::uint8_t endpoint, std::size_t room) = 0;
    // USBDEVFS_RESET: the device starts afresh.
    virtual void Reset() = 0;
};

}  // namespace tarnel::emulator

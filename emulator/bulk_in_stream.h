// The transfers a device has queued on one bulk-IN endpoint, handed out to
// the host's URBs as the bus would: a transfer goes out in packets of the
// endpoint's maximum size and ends with a short packet; a URB with room for
// the whole rest of a transfer gets it, a smaller one gets whole packets and
// leaves the rest for the next URB, and one with room for less than a packet
// overflows (EOVERFLOW, the rest of that packet is lost, as the host
// controller loses it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

#include "data_endpoints.h"

namespace tarnel::emulator {

class BulkInStream {
public:
    explicit BulkInStream(std::size_t packetSize) : packetSize_(packetSize) {}

    void Push(std::vector<std::uint8_t> transfer) { transfers_.push_back(std::move(transfer)); }
    // The next bytes for a URB with `room` bytes; nothing while no transfer waits.
    std::optional<DataEndpoints::InChunk> Take(std::size_t room);
    bool Empty() const { return transfers_.empty(); }
    void Clear();

private:
    std::size_t packetSize_;
    std::deque<std::vector<std::uint8_t>> transfers_;
    std::size_t sentOfFront_ = 0;   // bytes of the oldest transfer already handed out
};

}  // namespace tarnel::emulator

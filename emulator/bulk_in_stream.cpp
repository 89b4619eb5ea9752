#include "bulk_in_stream.h"

#include <algorithm>
#include <cerrno>

namespace tarnel::emulator {

std::optional<DataEndpoints::InChunk> BulkInStream::Take(std::size_t room) {
    if (transfers_.empty()) return std::nullopt;
    const std::vector<std::uint8_t>& front = transfers_.front();
    const std::size_t left = front.size() - sentOfFront_;
    const auto from = front.begin() + static_cast<std::ptrdiff_t>(sentOfFront_);
    DataEndpoints::InChunk chunk;
    if (left <= room) {
        chunk.bytes.assign(from, front.end());
        transfers_.pop_front();
        sentOfFront_ = 0;
        return chunk;
    }
    const std::size_t wholePackets = room / packetSize_ * packetSize_;
    std::size_t consumed = wholePackets;
    if (wholePackets == 0) {
        chunk.error = EOVERFLOW;
        consumed = std::min(packetSize_, left);
        chunk.bytes.assign(from, from + static_cast<std::ptrdiff_t>(room));
    } else {
        chunk.bytes.assign(from, from + static_cast<std::ptrdiff_t>(wholePackets));
    }
    sentOfFront_ += consumed;
    if (sentOfFront_ == front.size()) {
        transfers_.pop_front();
        sentOfFront_ = 0;
    }
    return chunk;
}

void BulkInStream::Clear() {
    transfers_.clear();
    sentOfFront_ = 0;
}

}  // namespace tarnel::emulator

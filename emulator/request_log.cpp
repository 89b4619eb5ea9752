#include "request_log.h"

#include <algorithm>
#include <iterator>

namespace tarnel::emulator {

RequestLog::RequestLog(std::size_t capacity) : capacity_(std::max<std::size_t>(capacity, 1)) {
    ring_.reserve(capacity_);
}

void RequestLog::Add(const RequestRecord& record) {
    if (ring_.size() < capacity_) {
        ring_.push_back(record);
        return;
    }
    ring_[next_] = record;
    next_ = (next_ + 1) % capacity_;
}

std::vector<RequestRecord> RequestLog::Records() const {
    std::vector<RequestRecord> records;
    records.reserve(ring_.size());
    const auto oldest = ring_.begin() + static_cast<std::ptrdiff_t>(next_);
    std::copy(oldest, ring_.end(), std::back_inserter(records));
    std::copy(ring_.begin(), oldest, std::back_inserter(records));
    return records;
}

void RequestLog::Clear() {
    ring_.clear();   // keeps its allocation
    next_ = 0;
}

}  // namespace tarnel::emulator

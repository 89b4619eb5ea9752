// The board's record of the vendor requests it saw: the most recent
// kRequestLogCapacity of them, in a ring that is allocated once, so that a
// board answering millions of requests uses no more memory than one that
// answered a few thousand. Not thread-safe; the board model guards it.
#pragma once

#include <cstddef>
#include <vector>

#include <tarnel/emulated_board.h>

namespace tarnel::emulator {

class RequestLog {
public:
    explicit RequestLog(std::size_t capacity = kRequestLogCapacity);

    void Add(const RequestRecord& record);
    // The requests kept, oldest first.
    std::vector<RequestRecord> Records() const;
    void Clear();

private:
    std::vector<RequestRecord> ring_;
    std::size_t capacity_;
    std::size_t next_ = 0;   // where the next record goes once the ring is full
};

}  // namespace tarnel::emulator

// One connection's error queue: at most ten entries, oldest read first. When
// it is full, the newest entry becomes -350 "Queue overflow" and later errors
// are lost, as SCPI prescribes.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

#include "scpi/scpi_error.h"

namespace tarnel::scpi {

class ErrorQueue {
public:
    static constexpr std::size_t kCapacity = 10;

    void Push(ErrorCode code, std::string_view detail);

    // The oldest entry as SYSTem:ERRor? answers it, -222,"Data out of range;detail",
    // removed from the queue; 0,"No error" when it is empty.
    std::string PopEntry();
    // Every entry, oldest first, joined by ',' as SYSTem:ERRor:ALL? answers
    // them; the queue is then empty. 0,"No error" when it already was.
    std::string PopAll();

    std::size_t Count() const { return entries_.size(); }
    void Clear() { entries_.clear(); }

private:
    struct Entry {
        ErrorCode code;
        std::string detail;
    };
    static std::string EntryText(const Entry& entry);

    std::deque<Entry> entries_;
};

}  // namespace tarnel::scpi

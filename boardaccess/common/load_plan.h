// Turning a firmware image into the RAM writes (request 0xA0) that load it:
// as few transfers as possible, each a run of contiguous bytes of at most
// the board's transfer limit, none crossing from one memory region into another.
#pragma once

#include <cstdint>
#include <vector>

#include "intel_hex.h"

namespace tarnel::boardaccess {

struct RamWrite {
    std::uint16_t address = 0;
    std::vector<std::uint8_t> bytes;
};

// The writes in ascending address order.
std::vector<RamWrite> PlanLoad(const FirmwareImage& image);

}  // namespace tarnel::boardaccess

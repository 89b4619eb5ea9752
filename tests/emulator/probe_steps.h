// What the board probes do, whichever USB library carries their requests:
// optionally load a firmware image, then write one DAC input word and read
// the converter back, printing one line per step. A fault prints the same
// word for every library ("stall", "timeout", "no device", "I/O error"), so
// tests can check that every client sees the same failure.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

namespace tarnel::emulator::probe {

// One vendor request to the device; returns the bytes moved, or the fault.
struct ControlResult {
    int moved = 0;
    std::string fault;   // empty when the request went through
};
using VendorRequest =
    std::function<ControlResult(bool toHost, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                std::span<std::uint8_t> data)>;

// Runs the probe for `arguments` ([--load FILE] [INPUT-WORD], word in hex):
// with no word, only a converter read. Returns the exit status: 0 when every
// step ran (failed steps included), 2 for bad usage or an unreadable image.
int Run(int argc, char** argv, const VendorRequest& request);

}  // namespace tarnel::emulator::probe

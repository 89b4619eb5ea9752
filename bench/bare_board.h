// The emulated board through bare libusb, one control transfer per call: the
// floor the benchmarks hold the program's own paths against.
#pragma once

#include <cstdint>

struct libusb_context;
struct libusb_device_handle;

namespace tarnel::bench {

class BareBoard {
public:
    BareBoard();   // exits with a message when the board cannot be opened
    ~BareBoard();
    BareBoard(const BareBoard&) = delete;
    BareBoard& operator=(const BareBoard&) = delete;

    // One DAC request (0xDD) writing data in normal operation.
    void WriteDac(std::uint32_t data);
    // One read-back request (0xDA).
    void ReadConverter();

private:
    libusb_context* context_ = nullptr;
    libusb_device_handle* handle_ = nullptr;
};

}  // namespace tarnel::bench

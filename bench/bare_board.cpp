#include "bare_board.h"

#include <libusb.h>

#include <cstdio>
#include <cstdlib>

#include <tarnel/board_protocol.h>

namespace tarnel::bench {

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "bare libusb: %s\n", what);
    std::exit(1);
}

constexpr unsigned kVendor = unsigned{LIBUSB_REQUEST_TYPE_VENDOR} | unsigned{LIBUSB_RECIPIENT_DEVICE};
constexpr auto kVendorOut = static_cast<std::uint8_t>(kVendor | unsigned{LIBUSB_ENDPOINT_OUT});
constexpr auto kVendorIn = static_cast<std::uint8_t>(kVendor | unsigned{LIBUSB_ENDPOINT_IN});

}  // namespace

BareBoard::BareBoard() {
    if (libusb_init(&context_) != 0) Fail("libusb_init failed");
    handle_ = libusb_open_device_with_vid_pid(context_, protocol::kVendorId, protocol::kProductId);
    if (handle_ == nullptr || libusb_claim_interface(handle_, protocol::kInterfaceNumber) != 0) {
        Fail("libusb could not open the emulated board");
    }
}

BareBoard::~BareBoard() {
    if (handle_ != nullptr) libusb_close(handle_);
    libusb_exit(context_);
}

void BareBoard::WriteDac(std::uint32_t data) {
    const auto fields = protocol::PackDacWrite(protocol::kDacRegisterLength, data << protocol::kDataShift);
    if (libusb_control_transfer(handle_, kVendorOut, protocol::kRequestDacWrite, fields.value, fields.index, nullptr,
                                0, protocol::kControlTimeoutMs) != 0) {
        Fail("a bare DAC write failed");
    }
}

void BareBoard::ReadConverter() {
    std::uint8_t reply[protocol::kConverterReadLength];
    if (libusb_control_transfer(handle_, kVendorIn, protocol::kRequestConverterRead, 0, 0, reply, sizeof reply,
                                protocol::kControlTimeoutMs) != sizeof reply) {
        Fail("a bare read-back failed");
    }
}

}  // namespace tarnel::bench

#include "firmware_loader.h"

#include <tarnel/board_protocol.h>

#include "load_plan.h"

namespace tarnel::boardaccess {
namespace {

namespace protocol = tarnel::protocol;

void WriteRam(UsbBoard& board, std::uint16_t address, std::span<std::uint8_t> bytes) {
    board.VendorRequest(protocol::kRequestRamAccess, address, 0, protocol::Direction::ToBoard, bytes);
}

// How long firmware that re-enumerates may take to bring the board back.
constexpr std::chrono::seconds kComebackAfterStart{5};

}  // namespace

void LoadFirmware(UsbBoard& board, const FirmwareImage& image) {
    std::vector<RamWrite> plan = PlanLoad(image);
    std::uint8_t reset = protocol::kCpucsReset;
    std::uint8_t run = protocol::kCpucsRun;
    WriteRam(board, protocol::kCpucsAddress, std::span<std::uint8_t>(&reset, 1));
    for (RamWrite& write : plan) WriteRam(board, write.address, write.bytes);
    // Releasing the CPU starts the firmware, which may re-enumerate.
    board.VendorWriteThatMayReenumerate(protocol::kRequestRamAccess, protocol::kCpucsAddress, 0,
                                        std::span<std::uint8_t>(&run, 1), kComebackAfterStart);
}

}  // namespace tarnel::boardaccess

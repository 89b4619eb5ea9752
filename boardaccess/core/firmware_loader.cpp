#include "firmware_loader.h"

#include <tarnel/board_protocol.h>

#include "load_plan.h"

namespace tarnel::boardaccess {
namespace {

namespace protocol = tarnel::protocol;

void WriteRam(UsbBoard& board, std::uint16_t address, std::span<std::uint8_t> bytes) {
    board.VendorRequest(protocol::kRequestRamAccess, address, 0, protocol::Direction::ToBoard, bytes);
}

void WriteCpucs(UsbBoard& board, std::uint8_t state) {
    WriteRam(board, protocol::kCpucsAddress, std::span<std::uint8_t>(&state, 1));
}

}  // namespace

void LoadFirmware(UsbBoard& board, const FirmwareImage& image) {
    std::vector<RamWrite> plan = PlanLoad(image);
    WriteCpucs(board, protocol::kCpucsReset);
    for (RamWrite& write : plan) WriteRam(board, write.address, write.bytes);
    WriteCpucs(board, protocol::kCpucsRun);
}

}  // namespace tarnel::boardaccess

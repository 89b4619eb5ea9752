// Fuzzes the firmware file reader and the load planner: any text either is
// rejected with a BoardError or yields an image that lies wholly in on-chip
// RAM and a plan that writes every byte of it exactly once, within the
// transfer limit and a single memory region per write.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include <tarnel/board_protocol.h>

#include "board_error.h"
#include "intel_hex.h"
#include "load_plan.h"

namespace {

namespace protocol = tarnel::protocol;
namespace core = tarnel::boardaccess;

void Require(bool condition) {
    if (!condition) std::abort();
}

void CheckPlan(const core::FirmwareImage& image) {
    std::size_t planned = 0;
    for (const core::RamWrite& write : core::PlanLoad(image)) {
        Require(!write.bytes.empty() && write.bytes.size() <= protocol::kMaxLoadTransfer);
        Require(protocol::InOnChipRam(write.address, write.bytes.size()));
        for (std::size_t i = 0; i < write.bytes.size(); ++i) {
            const auto placed = image.find(static_cast<std::uint16_t>(write.address + i));
            Require(placed != image.end() && placed->second == write.bytes[i]);
        }
        planned += write.bytes.size();
    }
    Require(planned == image.size());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    try {
        const core::FirmwareImage image = core::ParseIntelHex(text, "fuzz.hex");
        Require(!image.empty());
        for (const auto& [address, byte] : image) Require(protocol::InOnChipRam(address));
        CheckPlan(image);
    } catch (const core::BoardError& error) {
        Require(error.Kind() == core::FailureKind::BadFirmware);
        Require(std::string_view(error.what()).find('\n') == std::string_view::npos);
    }
    return 0;
}

#include "load_plan.h"

#include <tarnel/board_protocol.h>

namespace tarnel::boardaccess {
namespace {

namespace protocol = tarnel::protocol;

// Index of the on-chip RAM region holding address, or the region count when
// none does (the image reader never produces such addresses).
std::size_t RegionOf(std::uint16_t address) {
    std::size_t region = 0;
    while (region < protocol::kOnChipRam.size() && !protocol::kOnChipRam[region].Contains(address)) ++region;
    return region;
}

}  // namespace

std::vector<RamWrite> PlanLoad(const FirmwareImage& image) {
    std::vector<RamWrite> plan;
    std::size_t currentRegion = 0;
    for (const auto& [address, byte] : image) {
        const std::size_t region = RegionOf(address);
        const bool extendsCurrent = !plan.empty() && region == currentRegion &&
                                    plan.back().bytes.size() < protocol::kMaxLoadTransfer &&
                                    address == plan.back().address + plan.back().bytes.size();
        if (!extendsCurrent) {
            plan.push_back(RamWrite{address, {}});
            currentRegion = region;
        }
        plan.back().bytes.push_back(byte);
    }
    return plan;
}

}  // namespace tarnel::boardaccess

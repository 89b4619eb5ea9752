#include "load_plan.h"

#include <tarnel/board_protocol.h>

namespace tarnel::boardaccess {
namespace {

namespace protocol = tarnel::protocol;

}  // namespace

std::vector<RamWrite> PlanLoad(const FirmwareImage& image) {
    std::vector<RamWrite> plan;
    for (const auto& [address, byte] : image) {
        // A byte joins the current write when it follows it directly and the
        // write, grown by it, stays within the transfer limit and one region.
        const bool extendsCurrent = !plan.empty() && plan.back().bytes.size() < protocol::kMaxLoadTransfer &&
                                    address == plan.back().address + plan.back().bytes.size() &&
                                    protocol::InOnChipRam(plan.back().address, plan.back().bytes.size() + 1);
        if (!extendsCurrent) plan.push_back(RamWrite{address, {}});
        plan.back().bytes.push_back(byte);
    }
    return plan;
}

}  // namespace tarnel::boardaccess

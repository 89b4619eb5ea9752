#include "core/level_check.h"

#include <algorithm>

namespace tarnel {

OutputCap OutputCap::AtMost(double volts) { return {volts, protocol::LargestDacDataAtMost(volts)}; }

OutputCap OutputCap::Nearest(double volts, const OutputCap& within) {
    return {volts, std::min(protocol::NearestDacData(volts), within.highestWord)};
}

LevelRefusal RefusalOfWord(std::uint64_t word, protocol::PowerDown mode, const std::optional<OutputCap>& cap) {
    if (word > protocol::kDataMask) return LevelRefusal::WordAboveLargest;
    if (cap && mode == protocol::PowerDown::Normal && word > cap->highestWord) return LevelRefusal::AboveCap;
    return LevelRefusal::None;
}

LevelRefusal RefusalOfVolts(double volts, const std::optional<OutputCap>& cap) {
    if (!(volts >= 0 && volts <= protocol::kFullScaleVolts)) return LevelRefusal::VoltsOutsideFullScale;
    if (cap && protocol::NearestDacData(volts) > protocol::NearestDacData(cap->volts)) return LevelRefusal::AboveCap;
    return LevelRefusal::None;
}

std::uint32_t WordForVolts(double volts, const std::optional<OutputCap>& cap) {
    const std::uint32_t nearest = protocol::NearestDacData(volts);
    return cap ? std::min(nearest, cap->highestWord) : nearest;
}

}  // namespace tarnel

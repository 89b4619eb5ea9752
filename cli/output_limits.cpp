#include "cli/output_limits.h"

#include <cstdio>
#include <string>

#include "cli/command_failure.h"
#include "cli/number_text.h"

namespace tarnel::cli {

namespace {

std::string VoltsInMessage(double volts) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g V", volts);
    return text;
}

[[noreturn]] void Refuse(const std::string& what) { throw CommandFailure(ExitStatus::OutOfRange, what); }

}  // namespace

double SetVolts(std::uint32_t data, protocol::PowerDown mode) {
    return protocol::DacOutputVolts(protocol::DacInput{data, mode});
}

std::uint32_t AllowedDataWord(std::uint64_t word, protocol::PowerDown mode, std::optional<double> vmax) {
    if (word > protocol::kDataMask) {
        Refuse("data word " + (word > 0xFFFFFFFFu ? std::string("beyond 32 bits") : WordText(word)) +
               " is above the DAC's largest word " + WordText(protocol::kDataMask) + " — give a word from 0 to " +
               WordText(protocol::kDataMask));
    }
    const auto data = static_cast<std::uint32_t>(word);
    if (vmax && SetVolts(data, mode) > *vmax) {
        Refuse("data word " + WordText(data) + " sets " + VoltsInMessage(SetVolts(data, mode)) + ", above --vmax " +
               VoltsInMessage(*vmax) + " — give a smaller word or raise --vmax");
    }
    return data;
}

std::uint32_t DataWordForVolts(double volts, std::optional<double> vmax) {
    const std::string fullScale = VoltsInMessage(protocol::kFullScaleVolts);
    if (volts < 0) Refuse(VoltsInMessage(volts) + " is below 0 V, which the DAC cannot give — give 0 to " + fullScale);
    if (volts > protocol::kFullScaleVolts) {
        Refuse(VoltsInMessage(volts) + " is above the DAC's full scale of " + fullScale + " — give 0 to " + fullScale);
    }
    if (vmax && volts > *vmax) {
        Refuse(VoltsInMessage(volts) + " is above --vmax " + VoltsInMessage(*vmax) + " — give a lower voltage or raise --vmax");
    }
    return vmax ? protocol::NearestDacDataAtMost(volts, *vmax) : protocol::NearestDacData(volts);
}

}  // namespace tarnel::cli

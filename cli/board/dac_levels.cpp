#include "board/dac_levels.h"

#include <string>

#include "command_line/command_failure.h"
#include "core/level_check.h"
#include "core/message_volts.h"
#include "output/number_format.h"

namespace tarnel::cli {

namespace {

[[noreturn]] void Refuse(const std::string& what) { throw CommandFailure(ExitStatus::OutOfRange, what); }

// --vmax: no output above it.
std::optional<OutputCap> CapOf(std::optional<double> vmax) {
    if (!vmax) return std::nullopt;
    return OutputCap::AtMost(*vmax);
}

}  // namespace

double SetVolts(std::uint32_t data, protocol::PowerDown mode) {
    return protocol::DacOutputVolts(protocol::DacInput{data, mode});
}

std::uint32_t AllowedDataWord(std::uint64_t word, protocol::PowerDown mode, std::optional<double> vmax) {
    const LevelRefusal refusal = RefusalOfWord(word, mode, CapOf(vmax));
    if (refusal == LevelRefusal::WordAboveLargest) {
        Refuse("data word " + (word > 0xFFFFFFFFu ? std::string("beyond 32 bits") : WordText(word)) +
               " is above the DAC's largest word " + WordText(protocol::kDataMask) + " — give a word from 0 to " +
               WordText(protocol::kDataMask));
    }
    const auto data = static_cast<std::uint32_t>(word);
    if (refusal == LevelRefusal::AboveCap) {
        Refuse("data word " + WordText(data) + " sets " + MessageVolts(SetVolts(data, mode)) + ", above --vmax " +
               MessageVolts(*vmax) + " — give a smaller word or raise --vmax");
    }
    return data;
}

std::uint32_t DataWordForVolts(double volts, std::optional<double> vmax) {
    const std::string fullScale = MessageVolts(protocol::kFullScaleVolts);
    switch (RefusalOfVolts(volts, CapOf(vmax))) {
        case LevelRefusal::None:
        case LevelRefusal::WordAboveLargest:
            break;
        case LevelRefusal::VoltsOutsideFullScale:
            if (volts < 0) Refuse(MessageVolts(volts) + " is below 0 V, which the DAC cannot give — give 0 to " + fullScale);
            Refuse(MessageVolts(volts) + " is above the DAC's full scale of " + fullScale + " — give 0 to " + fullScale);
        case LevelRefusal::AboveCap:
            Refuse(MessageVolts(volts) + " is above --vmax " + MessageVolts(*vmax) +
                   " — give a lower voltage or raise --vmax");
    }
    return WordForVolts(volts, CapOf(vmax));
}

}  // namespace tarnel::cli

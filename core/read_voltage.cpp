#include "core/read_voltage.h"

#include <cstdint>
#include <optional>

#include <tarnel/board_protocol.h>

#include "core/voltage_rounding.h"
#include "link/comms_functions.h"
#include "state/declare.h"

namespace tarnel {

float DisplayedVolts(double converterCode) { return RoundedToThousandths(protocol::ConverterVolts(converterCode)); }

bool ReadOutputVoltage() {
    const std::optional<std::int32_t> raw = CommsFunctions::ReadConverter();
    if (!raw) return false;
    Declare::AdcCode = *raw;
    Declare::AdcCode = protocol::ConverterCodeOf(Declare::AdcCode);
    Declare::OutputVoltage = DisplayedVolts(Declare::AdcCode);
    return true;
}

}  // namespace tarnel

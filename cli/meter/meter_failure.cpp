#include "meter/meter_failure.h"

namespace tarnel::cli {

void ThrowMeterFailure(const scpi::client::InstrumentFailure& failure) {
    if (scpi::client::IsOpeningFailure(failure.Kind())) throw CommandFailure(ExitStatus::Unreachable, failure.what());
    throw MeterFailure(failure.what());
}

}  // namespace tarnel::cli

// The bench DMM that measures the DAC output, over SCPI on its socket port:
// connected with a bounded wait, reset, asked for *IDN?, and set for DC volts
// on the 10 V range at the given integration time (NPLC), autozero once,
// immediate trigger, `samples` readings per READ?. Its error queue is read
// after the configuration; any error refuses the meter with its own text.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "cli/meter_connection.h"
#include "cli/meter_resource.h"

namespace tarnel::cli {

struct MeterSettings {
    double nplc = 10;       // integration time in power-line cycles
    unsigned samples = 1;   // readings per point, averaged
};

struct MeterReading {
    double meanVolts = 0;
    std::optional<double> stdVolts;   // sample standard deviation, with 2 readings or more
    unsigned count = 0;
};

inline constexpr double kMeterRangeVolts = 10;

// How long a READ? of the settings may take before the meter counts as
// silent: twice the integration time of every sample (autozero may double
// it), three times over, and 2 s for the trigger and the LAN.
std::chrono::milliseconds ReadingTimeout(const MeterSettings& settings);

class BenchMeter {
public:
    // Throws CommandFailure(Unreachable) when the meter cannot be reached or
    // refuses its configuration, MeterFailure when it stops answering.
    BenchMeter(const MeterResource& resource, const MeterSettings& settings);

    // The meter's *IDN? answer.
    const std::string& Identity() const { return identity_; }
    const MeterResource& Resource() const { return connection_.Resource(); }

    // Starts a reading (READ?); Fetch waits for its values. Between the two
    // the caller may do other work while the meter integrates.
    void Trigger();
    MeterReading Fetch();

private:
    MeterConnection connection_;
    MeterSettings settings_;
    std::string identity_;
};

}  // namespace tarnel::cli

// The lab DMM that measures the DAC output beside the board, over SCPI on whatever
// connection its resource names (LAN socket, USBTMC, RS-232, GPIB through an
// adapter): connected with a bounded wait, reset, asked for *IDN?, and set for DC volts
// on the 10 V range at the given integration time (NPLC), autozero once,
// immediate trigger, `samples` readings per READ?. Its error queue is read
// after the configuration; any error refuses the meter with its own text.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "scpi/client/connection_options.h"
#include "scpi/client/instrument.h"
#include "scpi/client/instrument_resource.h"

namespace tarnel::cli {

struct MeterSettings {
    double nplc = 10;       // integration time in power-line cycles
    unsigned samples = 1;   // readings per point, averaged
};

struct MeterReading {
    double meanVolts = 0;
    std::optional<double> stdVolts;   // sample standard deviation, with 2 readings or more
    unsigned count = 0;
    std::vector<double> values;       // each reading, in the order taken (the settle rule reads their succession)
};

inline constexpr double kMeterRangeVolts = 10;

// How long a READ? of the settings may take before the meter counts as
// silent: twice the integration time of every sample (autozero may double
// it), three times over, and 2 s for the trigger and the LAN.
std::chrono::milliseconds ReadingTimeout(const MeterSettings& settings);

class LabDmm {
public:
    // Throws CommandFailure(Unreachable) when the meter cannot be reached or
    // refuses its configuration, MeterFailure when it stops answering.
    LabDmm(const scpi::client::InstrumentResource& resource, const scpi::client::ConnectionOptions& connection,
               const MeterSettings& settings);

    // The meter's *IDN? answer.
    const std::string& Identity() const { return identity_; }
    // The resource as messages name it, and the connection's facts (a GPIB
    // adapter's version) for the report.
    std::string Resource() const { return instrument_->Describe(); }
    std::vector<std::pair<std::string, std::string>> ConnectionDetails() const { return instrument_->Details(); }
    // The connection itself, for a bare exchange beside the readings (benchmarks).
    scpi::client::Instrument& Connection() { return *instrument_; }

    // Starts a reading (READ?); Fetch waits for its values. Between the two
    // the caller may do other work while the meter integrates.
    void Trigger();
    MeterReading Fetch();

private:
    // *RST, *CLS, *IDN?, the settings, then the error queue.
    void Configure();

    std::unique_ptr<scpi::client::Instrument> instrument_;
    MeterSettings settings_;
    std::string identity_;
};

}  // namespace tarnel::cli

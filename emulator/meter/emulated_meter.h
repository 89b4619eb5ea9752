// The emulated bench meter as board-emulator runs it: the shared meter model
// behind a TCP server whose clients speak SCPI to it, each with its own error
// queue and status registers.
#pragma once

#include <optional>
#include <string>

#include "meter_address.h"
#include "meter_model.h"
#include "meter_server.h"
#include "shared_meter.h"

namespace tarnel::emulator {

// The environment variable that tells COMMAND where the meter listens, "127.0.0.1:5025".
inline constexpr const char* kMeterAddressVariable = "TARNEL_METER_ADDRESS";

struct MeterOptions {
    MeterAddress address;
    double speed = 1;   // every meter time is divided by this
};

class EmulatedMeter {
public:
    // input gives the volts at the probes; it is called from the meter's
    // threads and must be safe to call from any of them.
    EmulatedMeter(MeterModel::Input input, MeterOptions options);
    ~EmulatedMeter();
    EmulatedMeter(const EmulatedMeter&) = delete;
    EmulatedMeter& operator=(const EmulatedMeter&) = delete;

    // Starts serving; the reason when it cannot.
    std::optional<std::string> Listen();
    const MeterAddress& ListeningOn() const { return server_.ListeningOn(); }

private:
    MeterOptions options_;
    SharedMeter meter_;
    MeterServer server_;
};

}  // namespace tarnel::emulator

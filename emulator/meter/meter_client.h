// One client of the meter on a line of its own (RS-232, the GPIB adapter,
// USBTMC): its own error queue and status registers, its messages run as
// every front runs the meter's (MeterMessages).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "scpi/connection_state.h"
#include "scpi/input_lines.h"
#include "scpi/served_instrument.h"

#include "shared_meter.h"

namespace tarnel::emulator {

class MeterClient {
public:
    explicit MeterClient(SharedMeter& meter);
    MeterClient(const MeterClient&) = delete;
    MeterClient& operator=(const MeterClient&) = delete;

    // The reply to one line; nothing when it has none. Throws MeterStopped
    // when the meter shuts down.
    std::optional<std::string> Run(const scpi::InputLines::Line& line);

    // The status byte as *STB? sums it up between messages; `messageAvailable`:
    // a reply waits to be read. Call it from the thread that calls Run, not
    // while Run runs.
    std::uint8_t StatusByte(bool messageAvailable) const {
        return connection_.status.StatusByte(connection_.errors.Count() > 0, messageAvailable);
    }

private:
    scpi::ServedInstrument::MessageRun run_;
    scpi::ConnectionState connection_;
};

}  // namespace tarnel::emulator

// One client of the meter: its own error queue and status registers, and the
// meter's command table working on the session its message holds. A message
// holds the shared meter from its first unit to its last, except while it
// waits for readings.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "scpi/command_table.h"
#include "scpi/connection_state.h"
#include "scpi/input_lines.h"

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
    SharedMeter& meter_;
    std::optional<SharedMeter::Session> session_;   // while a message runs
    scpi::ConnectionState connection_;
    scpi::CommandTable commands_;
};

}  // namespace tarnel::emulator

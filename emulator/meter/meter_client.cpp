#include "meter_client.h"

#include "scpi/message_executor.h"

#include "meter_messages.h"

namespace tarnel::emulator {

MeterClient::MeterClient(SharedMeter& meter) : run_(MeterMessages(meter)) {}

std::optional<std::string> MeterClient::Run(const scpi::InputLines::Line& line) {
    if (line.overrun) {
        scpi::ReportDroppedLine(connection_);
        return std::nullopt;
    }
    return run_(line.text, connection_);
}

}  // namespace tarnel::emulator

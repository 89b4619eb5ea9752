#include "meter_client.h"

#include "scpi/message_executor.h"

#include "meter_commands.h"

namespace tarnel::emulator {

MeterClient::MeterClient(SharedMeter& meter)
    : meter_(meter), commands_(MeterCommands([this]() -> SharedMeter::Session& { return *session_; })) {}

std::optional<std::string> MeterClient::Run(const scpi::InputLines::Line& line) {
    if (line.overrun) {
        connection_.Report(scpi::ErrorCode::InputBufferOverrun,
                           "a line longer than " + std::to_string(scpi::InputLines::kLongestLine) + " bytes was dropped");
        return std::nullopt;
    }
    session_.emplace(meter_);
    struct Release {
        std::optional<SharedMeter::Session>& session;
        ~Release() { session.reset(); }
    } release{session_};
    return scpi::ExecuteMessage(line.text, commands_, connection_);
}

}  // namespace tarnel::emulator

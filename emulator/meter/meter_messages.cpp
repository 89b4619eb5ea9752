#include "meter_messages.h"

#include <memory>

#include "scpi/message_executor.h"

#include "meter_commands.h"

namespace tarnel::emulator {

scpi::ServedInstrument::MessageRun MeterMessages(SharedMeter& meter) {
    auto commands =
        std::make_shared<const scpi::CommandTable>(MeterCommands([]() -> SharedMeter::Session& { return SharedMeter::Session::Current(); }));
    return [&meter, commands](std::string_view message, scpi::ConnectionState& client) {
        const SharedMeter::Session held(meter);   // throws MeterStopped once the meter stops
        return scpi::ExecuteMessage(message, *commands, client);
    };
}

}  // namespace tarnel::emulator

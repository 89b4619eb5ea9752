#include "vxi11/command_table_device.h"

#include "scpi/message_executor.h"
#include "scpi/standard_commands.h"

namespace tarnel::vxi11 {

std::optional<std::string> CommandTableDevice::RunMessage(std::string_view message, scpi::ConnectionState& link) {
    return scpi::ExecuteMessage(message, table_, link);
}

std::uint8_t CommandTableDevice::StatusByte(scpi::ConnectionState& link, bool messageAvailable) {
    scpi::UpdateConditions(table_.Basics(), link);
    return link.status.StatusByte(link.errors.Count() > 0, messageAvailable);
}

void CommandTableDevice::Trigger(scpi::ConnectionState& link) {
    // An instrument without *TRG has nothing to trigger; the trigger is not an
    // error of the link's.
    if (table_.Find({"*TRG"}, false) != nullptr) scpi::ExecuteMessage("*TRG", table_, link);
}

void CommandTableDevice::Clear(scpi::ConnectionState& /*link*/) {
    // The engine keeps no input or output of its own beyond the link's, which
    // the server has emptied; the status registers stay, as IEEE 488.2 keeps them.
}

}  // namespace tarnel::vxi11

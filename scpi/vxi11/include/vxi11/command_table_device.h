// A device on the SCPI engine: messages run through a command table, the
// status byte from the link's registers, the trigger as *TRG when the table
// has it.
#pragma once

#include "scpi/command_table.h"
#include "vxi11/vxi11_device.h"

namespace tarnel::vxi11 {

class CommandTableDevice : public Vxi11Device {
public:
    // What the table's handlers capture must outlive the device.
    explicit CommandTableDevice(scpi::CommandTable table) : table_(std::move(table)) {}

    std::optional<std::string> RunMessage(std::string_view message, scpi::ConnectionState& link) override;
    std::uint8_t StatusByte(scpi::ConnectionState& link, bool messageAvailable) override;
    void Trigger(scpi::ConnectionState& link) override;
    void Clear(scpi::ConnectionState& link) override;

private:
    const scpi::CommandTable table_;
};

}  // namespace tarnel::vxi11

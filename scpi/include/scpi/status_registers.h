// One connection's status: the IEEE 488.2 standard event status register with
// its enable mask, the service request enable mask, the STATus subsystem's
// OPERation and QUEStionable registers, and the status byte they sum up into
// (bit 2: the error queue holds an entry; bit 3: an enabled QUEStionable
// event; bit 4: a reply is waiting; bit 5: an enabled standard event; bit 6:
// an enabled summary bit is set; bit 7: an enabled OPERation event).
#pragma once

#include <cstdint>

#include "scpi/condition_register.h"
#include "scpi/scpi_error.h"

namespace tarnel::scpi {

class StatusRegisters {
public:
    // Standard event status register bits.
    static constexpr std::uint8_t kOperationComplete = 1u << 0;
    static constexpr std::uint8_t kQueryError = 1u << 2;
    static constexpr std::uint8_t kDeviceError = 1u << 3;
    static constexpr std::uint8_t kExecutionError = 1u << 4;
    static constexpr std::uint8_t kCommandError = 1u << 5;

    // Status byte bits.
    static constexpr std::uint8_t kErrorQueueNotEmpty = 1u << 2;
    static constexpr std::uint8_t kQuestionableSummary = 1u << 3;
    static constexpr std::uint8_t kMessageAvailable = 1u << 4;
    static constexpr std::uint8_t kEventSummary = 1u << 5;
    static constexpr std::uint8_t kServiceRequest = 1u << 6;
    static constexpr std::uint8_t kOperationSummary = 1u << 7;

    ConditionRegister operation;
    ConditionRegister questionable;

    // Sets the event bit of the error's class: -1xx command, -2xx execution,
    // -3xx device-specific, -4xx query error.
    void RecordError(ErrorCode code);
    void RecordOperationComplete() { events_ |= kOperationComplete; }   // *OPC

    std::uint8_t TakeEvents();   // *ESR?: read and cleared
    // *CLS: every event register; the enable masks stay.
    void ClearEvents();
    // STATus:PRESet: the OPERation and QUEStionable enable masks to 0.
    void Preset();

    void SetEventEnable(std::uint8_t mask) { eventEnable_ = mask; }
    std::uint8_t EventEnable() const { return eventEnable_; }
    // Bit 6 of the service request enable mask has no meaning and stays 0.
    void SetServiceRequestEnable(std::uint8_t mask) { serviceRequestEnable_ = mask & ~kServiceRequest; }
    std::uint8_t ServiceRequestEnable() const { return serviceRequestEnable_; }

    std::uint8_t StatusByte(bool errorQueueNotEmpty, bool messageAvailable) const;

private:
    std::uint8_t events_ = 0;
    std::uint8_t eventEnable_ = 0;
    std::uint8_t serviceRequestEnable_ = 0;
};

}  // namespace tarnel::scpi

#include "scpi/status_registers.h"

namespace tarnel::scpi {

void StatusRegisters::RecordError(ErrorCode code) {
    const int value = static_cast<int>(code);
    if (value <= -100 && value > -200) events_ |= kCommandError;
    else if (value <= -200 && value > -300) events_ |= kExecutionError;
    else if (value <= -300 && value > -400) events_ |= kDeviceError;
    else if (value <= -400 && value > -500) events_ |= kQueryError;
}

std::uint8_t StatusRegisters::TakeEvents() {
    const std::uint8_t events = events_;
    events_ = 0;
    return events;
}

void StatusRegisters::ClearEvents() {
    events_ = 0;
    operation.ClearEvent();
    questionable.ClearEvent();
}

void StatusRegisters::Preset() {
    operation.SetEnable(0);
    questionable.SetEnable(0);
}

std::uint8_t StatusRegisters::StatusByte(bool errorQueueNotEmpty, bool messageAvailable) const {
    std::uint8_t status = 0;
    if (errorQueueNotEmpty) status |= kErrorQueueNotEmpty;
    if (questionable.Summary()) status |= kQuestionableSummary;
    if (messageAvailable) status |= kMessageAvailable;
    if (events_ & eventEnable_) status |= kEventSummary;
    if (operation.Summary()) status |= kOperationSummary;
    if (status & serviceRequestEnable_) status |= kServiceRequest;
    return status;
}

}  // namespace tarnel::scpi

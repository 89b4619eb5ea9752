#include "scpi/scpi_error.h"

#include <utility>

namespace tarnel::scpi {

std::string_view ErrorText(ErrorCode code) {
    static constexpr std::pair<ErrorCode, std::string_view> kTexts[] = {
        {ErrorCode::NoError, "No error"},
        {ErrorCode::CommandError, "Command error"},
        {ErrorCode::SyntaxError, "Syntax error"},
        {ErrorCode::ParameterNotAllowed, "Parameter not allowed"},
        {ErrorCode::MissingParameter, "Missing parameter"},
        {ErrorCode::UndefinedHeader, "Undefined header"},
        {ErrorCode::InvalidSuffix, "Invalid suffix"},
        {ErrorCode::CommandProtected, "Command protected"},
        {ErrorCode::TriggerIgnored, "Trigger ignored"},
        {ErrorCode::InitIgnored, "Init ignored"},
        {ErrorCode::TriggerDeadlock, "Trigger deadlock"},
        {ErrorCode::TooMuchData, "Too much data"},
        {ErrorCode::DataStale, "Data corrupt or stale"},
        {ErrorCode::DataOutOfRange, "Data out of range"},
        {ErrorCode::IllegalParameterValue, "Illegal parameter value"},
        {ErrorCode::HardwareError, "Hardware error"},
        {ErrorCode::HardwareMissing, "Hardware missing"},
        {ErrorCode::DeviceSpecificError, "Device-specific error"},
        {ErrorCode::QueueOverflow, "Queue overflow"},
        {ErrorCode::InputBufferOverrun, "Input buffer overrun"},
    };
    for (const auto& [known, text] : kTexts) {
        if (known == code) return text;
    }
    return "Command error";
}

}  // namespace tarnel::scpi

// The SCPI errors the server reports: their codes and standard texts, and the
// failure that carries one, with a short detail, to the connection's error
// queue.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>

namespace tarnel::scpi {

enum class ErrorCode : int {
    NoError = 0,
    CommandError = -100,
    SyntaxError = -102,
    ParameterNotAllowed = -108,
    MissingParameter = -109,
    UndefinedHeader = -113,
    InvalidSuffix = -131,
    CommandProtected = -203,
    TriggerIgnored = -211,
    InitIgnored = -213,
    TriggerDeadlock = -214,
    DataOutOfRange = -222,
    TooMuchData = -223,
    IllegalParameterValue = -224,
    DataStale = -230,
    HardwareError = -240,
    HardwareMissing = -241,
    DeviceSpecificError = -300,
    QueueOverflow = -350,
    InputBufferOverrun = -363,
};

// The standard text of a code ("Data out of range").
std::string_view ErrorText(ErrorCode code);

class ScpiFailure : public std::runtime_error {
public:
    ScpiFailure(ErrorCode code, const std::string& detail) : std::runtime_error(detail), code_(code) {}
    ErrorCode Code() const { return code_; }

private:
    ErrorCode code_;
};

}  // namespace tarnel::scpi

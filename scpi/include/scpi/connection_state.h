// What each client connection keeps of its own: its error queue and its
// status registers. Every error goes through Report, so that both see it.
#pragma once

#include <string_view>

#include "scpi/error_queue.h"
#include "scpi/status_registers.h"

namespace tarnel::scpi {

struct ConnectionState {
    ErrorQueue errors;
    StatusRegisters status;

    void Report(ErrorCode code, std::string_view detail) {
        status.RecordError(code);
        errors.Push(code, detail);
    }
};

}  // namespace tarnel::scpi

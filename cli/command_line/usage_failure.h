// A command line tarnelctl cannot run: one line saying what is wrong, and how
// to ask for the usage.
#pragma once

#include <string>

#include "command_line/command_failure.h"

namespace tarnel::cli {

[[noreturn]] inline void UsageFailure(const std::string& what) {
    throw CommandFailure(ExitStatus::Usage, what + " — run 'tarnelctl --help' for the usage");
}

}  // namespace tarnel::cli

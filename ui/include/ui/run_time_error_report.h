// The one report of a run-time error that no command handles: the program
// cannot go on, so it says why and ends.
#pragma once

#include <exception>

namespace tarnel::ui {

// Shows the error's text in a message box when a window system is up, writes
// the same line to stderr, and ends the program with kExitRunTimeError.
[[noreturn]] void ReportRunTimeErrorAndEnd(const std::exception& error);

}  // namespace tarnel::ui

// How a library entry point reports: every failure writes exactly one line to
// stderr, prefixed with the library's name so the user knows who speaks, and
// becomes a negative status; success is status 0.
#pragma once

#include <cstdint>
#include <exception>
#include <string_view>

#include "board_error.h"

namespace tarnel::boardaccess {

// Writes "<speaker>: <message>" as one line to stderr. Line breaks and other
// control characters inside the message (from a file name, say) are replaced
// by spaces so the report stays on one line.
void ReportFailure(std::string_view speaker, std::string_view message) noexcept;

// Reports the exception in flight and returns its negative status. Call only
// from inside a catch block.
std::int16_t ReportCurrentException(std::string_view speaker) noexcept;

// Runs body, turning any exception into a reported failure. Returns 0 when
// body completes, the failure's negative status otherwise.
template <class Body>
std::int16_t RunReported(std::string_view speaker, Body&& body) noexcept {
    try {
        body();
        return 0;
    } catch (...) {
        return ReportCurrentException(speaker);
    }
}

}  // namespace tarnel::boardaccess

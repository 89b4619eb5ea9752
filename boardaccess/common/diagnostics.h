// How a library entry point reports: a failure writes one line to stderr,
// prefixed with the library's name so the user knows who speaks (control
// characters in the message become spaces, so it stays one line), and becomes
// a negative status; success is status 0. Each cause is told once: a call
// that fails with the same message as the last failure reported, with no
// successful call in between, adds no line of its own.
#pragma once

#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <string_view>

#include "board_error.h"

namespace tarnel::boardaccess {

class Reporter {
public:
    explicit Reporter(std::string_view speaker) : speaker_(speaker) {}

    // Runs body, turning any exception into a reported failure. Returns 0
    // when body completes, the failure's negative status otherwise.
    template <class Body>
    std::int16_t Run(Body&& body) noexcept {
        try {
            body();
            Succeeded();
            return 0;
        } catch (...) {
            return ReportCurrentException();
        }
    }

private:
    void Succeeded() noexcept;
    // Reports the exception in flight and returns its negative status.
    // Call only from inside a catch block.
    std::int16_t ReportCurrentException() noexcept;
    void ReportOnce(const std::string& message) noexcept;

    const std::string_view speaker_;
    std::mutex mutex_;
    std::string lastReported_;   // since the last success
};

}  // namespace tarnel::boardaccess

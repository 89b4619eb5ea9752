// A one-line progress bar on stderr for long work: points done, rate and
// time left. It draws only when stderr is a terminal, so logs and pipes stay
// clean, and redraws at most ten times a second.
#pragma once

#include <chrono>
#include <cstddef>

namespace tarnel::cli {

class ProgressBar {
public:
    explicit ProgressBar(std::size_t total);
    ~ProgressBar();   // clears the line
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void Update(std::size_t done);

private:
    using Clock = std::chrono::steady_clock;
    bool enabled_;
    std::size_t total_;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDrawn_{};
    bool drawn_ = false;
};

}  // namespace tarnel::cli

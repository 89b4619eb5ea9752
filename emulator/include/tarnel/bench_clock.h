// Bench time: the seconds a real bench would have lived through since the
// emulator started. `--meter-speed X` makes the emulated bench X times faster
// than a real one, so one real second is X bench seconds: the meter's
// apertures, the DAC's settling and every drift all run on this one clock.
//
// The clock reads its instants from a source given at construction
// (steady_clock by default), so that a unit test can move time itself.
// Const after construction: safe to share between threads when the source is.
#pragma once

#include <chrono>
#include <functional>

namespace tarnel::emulator {

class BenchClock {
public:
    using Clock = std::chrono::steady_clock;
    using TimePoint = Clock::time_point;
    using Source = std::function<TimePoint()>;

    // speed: bench seconds per real second (a non-positive or non-finite
    // speed counts as 1). The bench starts at the source's present instant.
    explicit BenchClock(double speed = 1, Source source = Clock::now);

    double Speed() const { return speed_; }
    TimePoint Start() const { return start_; }
    // Bench seconds since the start at the real instant `at` (negative before it).
    double SecondsAt(TimePoint at) const;
    // Bench seconds since the start, now.
    double Now() const { return SecondsAt(source_()); }

private:
    double speed_;
    Source source_;
    TimePoint start_;
};

}  // namespace tarnel::emulator

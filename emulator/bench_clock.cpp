#include <tarnel/bench_clock.h>

#include <cmath>
#include <utility>

namespace tarnel::emulator {

BenchClock::BenchClock(double speed, Source source)
    : speed_(std::isfinite(speed) && speed > 0 ? speed : 1),
      source_(source ? std::move(source) : Source(Clock::now)),
      start_(source_()) {}

double BenchClock::SecondsAt(TimePoint at) const {
    return std::chrono::duration<double>(at - start_).count() * speed_;
}

}  // namespace tarnel::emulator

// A device's exclusive lock: at most one link holds it, and while it does the
// other links' calls that reach the device wait for it (as long as they ask
// to) and are refused after. Every wait ends early when the waiting link is
// aborted or the server stops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

namespace tarnel::vxi11 {

class DeviceLock {
public:
    // `changed` is told when the lock is taken (true) and given up (false).
    explicit DeviceLock(std::function<void(bool)> changed) : changed_(std::move(changed)) {}

    enum class Outcome { Done, TimedOut, Abandoned };
    // The wait's end other than the lock: true when the waiter is to give up.
    using Abandoned = std::function<bool()>;

    // Takes the lock for `link`, waiting up to `wait` while another link has it.
    Outcome Acquire(std::int32_t link, std::chrono::milliseconds wait, const Abandoned& abandoned);
    // Waits up to `wait` until no link other than `link` holds the lock.
    Outcome AwaitAccess(std::int32_t link, std::chrono::milliseconds wait, const Abandoned& abandoned);
    // False when `link` did not hold it.
    bool Release(std::int32_t link);
    // Wakes the waiters to look at their Abandoned again.
    void WakeWaiters();

private:
    Outcome Await(std::unique_lock<std::mutex>& lock, std::int32_t link, std::chrono::milliseconds wait,
                  const Abandoned& abandoned);

    std::function<void(bool)> changed_;
    std::mutex mutex_;
    std::condition_variable released_;
    std::int32_t holder_ = 0;   // 0: nobody (link ids start at 1)
};

}  // namespace tarnel::vxi11

// A device's exclusive lock: at most one link holds it, and while it does the
// other links' calls that reach the device wait for it (as long as they ask
// to) and are refused after. The device takes and gives up its instrument's
// own lock with it (Vxi11Device::TakeLock), under the same mutex, so that
// the two never disagree about the holder. Every wait ends early when the
// waiting link is aborted or the server stops.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "scpi/connection_state.h"
#include "vxi11/vxi11_device.h"

namespace tarnel::vxi11 {

class DeviceLock {
public:
    // The device outlives the lock.
    explicit DeviceLock(Vxi11Device& device) : device_(device) {}

    enum class Outcome { Done, TimedOut, Abandoned };
    // The wait's end other than the lock: true when the waiter is to give up.
    using Abandoned = std::function<bool()>;

    // Takes the lock for `link` (whose state is `state`), waiting up to
    // `wait` while another link has it; TimedOut also when the device refuses it.
    Outcome Acquire(std::int32_t link, scpi::ConnectionState& state, std::chrono::milliseconds wait,
                    const Abandoned& abandoned);
    // Waits up to `wait` until no link other than `link` holds the lock.
    Outcome AwaitAccess(std::int32_t link, std::chrono::milliseconds wait, const Abandoned& abandoned);
    // False when `link` did not hold it.
    bool Release(std::int32_t link, scpi::ConnectionState& state);
    // Wakes the waiters to look at their Abandoned again.
    void WakeWaiters();

private:
    Outcome Await(std::unique_lock<std::mutex>& lock, std::int32_t link, std::chrono::milliseconds wait,
                  const Abandoned& abandoned);

    Vxi11Device& device_;
    std::mutex mutex_;
    std::condition_variable released_;
    std::int32_t holder_ = 0;   // 0: nobody (link ids start at 1)
};

}  // namespace tarnel::vxi11

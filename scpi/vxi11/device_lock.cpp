#include "vxi11/device_lock.h"

namespace tarnel::vxi11 {

DeviceLock::Outcome DeviceLock::Await(std::unique_lock<std::mutex>& lock, std::int32_t link,
                                      std::chrono::milliseconds wait, const Abandoned& abandoned) {
    bool gaveUp = false;
    released_.wait_for(lock, wait, [&] {
        gaveUp = abandoned();
        return gaveUp || holder_ == 0 || holder_ == link;
    });
    if (holder_ == 0 || holder_ == link) return Outcome::Done;
    if (gaveUp) return Outcome::Abandoned;
    return Outcome::TimedOut;
}

DeviceLock::Outcome DeviceLock::Acquire(std::int32_t link, scpi::ConnectionState& state, std::chrono::milliseconds wait,
                                        const Abandoned& abandoned) {
    std::unique_lock lock(mutex_);
    const Outcome outcome = Await(lock, link, wait, abandoned);
    if (outcome != Outcome::Done || holder_ == link) return outcome;
    if (!device_.TakeLock(state)) return Outcome::TimedOut;
    holder_ = link;
    return Outcome::Done;
}

DeviceLock::Outcome DeviceLock::AwaitAccess(std::int32_t link, std::chrono::milliseconds wait, const Abandoned& abandoned) {
    std::unique_lock lock(mutex_);
    return Await(lock, link, wait, abandoned);
}

bool DeviceLock::Release(std::int32_t link, scpi::ConnectionState& state) {
    {
        const std::lock_guard lock(mutex_);
        if (holder_ != link || link == 0) return false;
        holder_ = 0;
        device_.GiveUpLock(state);
    }
    released_.notify_all();
    return true;
}

void DeviceLock::WakeWaiters() {
    { const std::lock_guard lock(mutex_); }
    released_.notify_all();
}

}  // namespace tarnel::vxi11

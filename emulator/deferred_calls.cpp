#include "deferred_calls.h"

namespace tarnel::emulator {

DeferredCalls::DeferredCalls() : thread_([this] { Run(); }) {}

DeferredCalls::~DeferredCalls() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_one();
    thread_.join();
}

void DeferredCalls::After(std::chrono::milliseconds delay, std::function<void()> call) {
    {
        std::lock_guard lock(mutex_);
        due_.emplace(Clock::now() + delay, std::move(call));
    }
    changed_.notify_one();
}

void DeferredCalls::Run() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (due_.empty()) {
            changed_.wait(lock);
            continue;
        }
        const auto next = due_.begin();
        if (Clock::now() < next->first) {
            changed_.wait_until(lock, next->first);
            continue;
        }
        std::function<void()> call = std::move(next->second);
        due_.erase(next);
        // Unlocked while it runs: the call may schedule another.
        lock.unlock();
        call();
        lock.lock();
    }
}

}  // namespace tarnel::emulator

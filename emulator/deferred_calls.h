// Calls that run later on a thread of their own: the end of a control
// transfer's timeout, the return of a board that re-enumerates. umockdev's
// worker thread must never wait, so anything that happens "after a while"
// is handed to this.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

namespace tarnel::emulator {

class DeferredCalls {
public:
    DeferredCalls();
    // Calls still waiting are dropped; one that is running is waited for.
    ~DeferredCalls();
    DeferredCalls(const DeferredCalls&) = delete;
    DeferredCalls& operator=(const DeferredCalls&) = delete;

    // Runs `call` once `delay` has passed. Calls run one at a time, earliest first.
    void After(std::chrono::milliseconds delay, std::function<void()> call);

private:
    using Clock = std::chrono::steady_clock;
    void Run();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::multimap<Clock::time_point, std::function<void()>> due_;
    bool stopping_ = false;
    std::thread thread_;   // last: starts once the members above exist
};

}  // namespace tarnel::emulator

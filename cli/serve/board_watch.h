// Looks at the buses every few seconds, on a thread of its own, and tells
// of each board that arrived since the last look by its USB port path: a
// board plugged in while tarnelctl serve runs, or one plugged in again.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>

namespace tarnel::cli {

class BoardWatch {
public:
    // The port paths attached now; nothing when they cannot be listed (that
    // look is skipped).
    using Lister = std::function<std::optional<std::set<std::string>>()>;
    // Called on the watch's thread for each path that was not there at the
    // last look.
    using Arrival = std::function<void(const std::string& path)>;

    // attachedNow: the paths there at start, which are no arrivals.
    BoardWatch(Lister list, Arrival arrived, std::chrono::milliseconds interval, std::set<std::string> attachedNow);
    // Stops the thread; waits at most for the arrival being handled.
    ~BoardWatch();
    BoardWatch(const BoardWatch&) = delete;
    BoardWatch& operator=(const BoardWatch&) = delete;

private:
    void Loop();

    Lister list_;
    Arrival arrived_;
    std::chrono::milliseconds interval_;
    std::set<std::string> attached_;   // at the last look; the thread's own
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;
    std::thread thread_;   // last: starts once everything above exists
};

}  // namespace tarnel::cli

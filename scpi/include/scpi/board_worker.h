// The one place the server reaches the board: a thread that owns the
// instrument and runs one job at a time, in the order the jobs arrive. A slow
// board holds up only the jobs behind it, never the event loop that accepts
// and reads the clients.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "scpi/instrument.h"

namespace tarnel::scpi {

class BoardWorker {
public:
    using Job = std::function<void(Instrument&)>;

    explicit BoardWorker(std::unique_ptr<Instrument> instrument);
    ~BoardWorker();
    BoardWorker(const BoardWorker&) = delete;
    BoardWorker& operator=(const BoardWorker&) = delete;

    // Queues the job; after Stop it is dropped.
    void Submit(Job job);

    // Lets the job in progress finish, drops the ones not started, and ends
    // the thread.
    void Stop();

private:
    void Run();

    std::unique_ptr<Instrument> instrument_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;   // last: starts once everything above exists
};

}  // namespace tarnel::scpi

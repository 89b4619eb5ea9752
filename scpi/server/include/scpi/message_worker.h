// The one thread that runs the instrument's commands: one job at a time, in
// the order the jobs arrive. A slow instrument holds up only the jobs behind
// it, never the event loop that accepts and reads the clients.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace tarnel::scpi {

class MessageWorker {
public:
    using Job = std::function<void()>;

    MessageWorker();
    ~MessageWorker();
    MessageWorker(const MessageWorker&) = delete;
    MessageWorker& operator=(const MessageWorker&) = delete;

    // Queues the job; after Stop it is dropped.
    void Submit(Job job);

    // Lets the job in progress finish, drops the ones not started, and ends
    // the thread.
    void Stop();

private:
    void Run();

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;   // last: starts once everything above exists
};

}  // namespace tarnel::scpi

// The thread on which the USB meter's lines run on its meter client, one at a
// time in the order they came: a line may block while a reading integrates,
// and umockdev's worker thread, which receives them, must never block.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "meter_client.h"
#include "usbtmc_function.h"

namespace tarnel::emulator {

class MeterLineWorker {
public:
    // `function` says whether a job is still wanted and takes its reply;
    // `replied` is called after each reply, outside every lock of this class.
    MeterLineWorker(std::unique_ptr<MeterClient> client, UsbtmcFunction& function, std::function<void()> replied);
    // Jobs still queued are dropped; the one running ends (the meter must
    // have stopped if it waits for readings).
    ~MeterLineWorker();
    MeterLineWorker(const MeterLineWorker&) = delete;
    MeterLineWorker& operator=(const MeterLineWorker&) = delete;

    // Never blocks.
    void Post(UsbtmcFunction::Job job);

    // The client's status byte before its first line.
    static UsbtmcFunction::StatusBytes StatusOf(const MeterClient& client);

private:
    void Run();

    std::unique_ptr<MeterClient> client_;
    UsbtmcFunction& function_;
    std::function<void()> replied_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<UsbtmcFunction::Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;   // last: starts once the members above exist
};

}  // namespace tarnel::emulator

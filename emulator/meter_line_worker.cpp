#include "meter_line_worker.h"

#include "shared_meter.h"

namespace tarnel::emulator {

MeterLineWorker::MeterLineWorker(std::unique_ptr<MeterClient> client, UsbtmcFunction& function,
                                 std::function<void()> replied)
    : client_(std::move(client)), function_(function), replied_(std::move(replied)), thread_([this] { Run(); }) {}

MeterLineWorker::~MeterLineWorker() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    changed_.notify_all();
    thread_.join();
}

void MeterLineWorker::Post(UsbtmcFunction::Job job) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) return;
        jobs_.push_back(std::move(job));
    }
    changed_.notify_all();
}

UsbtmcFunction::StatusBytes MeterLineWorker::StatusOf(const MeterClient& client) {
    return {client.StatusByte(false), client.StatusByte(true)};
}

void MeterLineWorker::Run() {
    while (true) {
        UsbtmcFunction::Job job;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        if (!function_.Wanted(job.generation)) continue;   // a clear or reset came after it
        std::optional<std::string> reply;
        try {
            reply = client_->Run(job.line);
        } catch (const MeterStopped&) {
            // The meter shuts down; nothing runs any more.
            std::lock_guard lock(mutex_);
            stopping_ = true;
            jobs_.clear();
            return;
        }
        function_.Finished(job.generation, reply, StatusOf(*client_));
        if (reply) replied_();
    }
}

}  // namespace tarnel::emulator

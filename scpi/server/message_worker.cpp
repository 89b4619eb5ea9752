#include "scpi/message_worker.h"

#include <utility>

namespace tarnel::scpi {

MessageWorker::MessageWorker() : thread_([this] { Run(); }) {}

MessageWorker::~MessageWorker() { Stop(); }

void MessageWorker::Submit(Job job) {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) return;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void MessageWorker::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void MessageWorker::Run() {
    while (true) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job();
    }
}

}  // namespace tarnel::scpi

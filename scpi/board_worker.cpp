#include "scpi/board_worker.h"

#include <utility>

namespace tarnel::scpi {

BoardWorker::BoardWorker(std::unique_ptr<Instrument> instrument)
    : instrument_(std::move(instrument)), thread_([this] { Run(); }) {}

BoardWorker::~BoardWorker() { Stop(); }

void BoardWorker::Submit(Job job) {
    {
        const std::lock_guard lock(mutex_);
        if (stopping_) return;
        jobs_.push_back(std::move(job));
    }
    wake_.notify_one();
}

void BoardWorker::Stop() {
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
        jobs_.clear();
    }
    wake_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void BoardWorker::Run() {
    while (true) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            wake_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
            if (stopping_) return;
            job = std::move(jobs_.front());
            jobs_.pop_front();
        }
        job(*instrument_);
    }
}

}  // namespace tarnel::scpi

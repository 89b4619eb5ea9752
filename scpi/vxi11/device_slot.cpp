#include "vxi11/device_slot.h"

#include <strings.h>

namespace tarnel::vxi11 {

DeviceSlot::DeviceSlot(std::vector<std::string> names, Vxi11Device& device)
    : names_(std::move(names)),
      device_(device),
      lock_([&device](bool held) { device.ExclusiveLockChanged(held); }),
      thread_([this] { Run(); }) {}

DeviceSlot::~DeviceSlot() { Stop(); }

bool DeviceSlot::Answers(std::string_view name) const {
    for (const std::string& own : names_) {
        if (own.size() == name.size() && ::strncasecmp(own.data(), name.data(), name.size()) == 0) return true;
    }
    return false;
}

void DeviceSlot::Submit(Job job) {
    {
        const std::lock_guard lock(jobsMutex_);
        if (stopping_) return;
        jobs_.push_back(std::move(job));
    }
    jobsChanged_.notify_one();
}

bool DeviceSlot::TryCallNow(const Job& call) {
    {
        const std::lock_guard lock(jobsMutex_);
        if (!jobs_.empty()) return false;
    }
    std::unique_lock calling(callMutex_, std::try_to_lock);
    if (!calling.owns_lock()) return false;
    call();
    return true;
}

void DeviceSlot::Stop() {
    {
        const std::lock_guard lock(jobsMutex_);
        stopping_ = true;
        jobs_.clear();
    }
    jobsChanged_.notify_one();
    if (thread_.joinable()) thread_.join();
}

void DeviceSlot::Run() {
    while (true) {
        std::unique_lock lock(jobsMutex_);
        jobsChanged_.wait(lock, [this] { return stopping_ || !jobs_.empty(); });
        if (stopping_) return;
        // The call mutex is taken before the job leaves the queue, so that
        // TryCallNow never finds the queue empty while a job is about to run.
        const std::lock_guard calling(callMutex_);
        Job job = std::move(jobs_.front());
        jobs_.pop_front();
        lock.unlock();
        job();
    }
}

}  // namespace tarnel::vxi11

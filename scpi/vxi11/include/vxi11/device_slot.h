// One served device: the names links reach it by, the instrument, its
// exclusive lock, and the thread its calls run on. Jobs run in the order they
// are submitted, each holding the device's call mutex, so that a call made
// outside the thread (TryCallNow) never runs beside one.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "vxi11/device_lock.h"
#include "vxi11/vxi11_device.h"

namespace tarnel::vxi11 {

class DeviceSlot {
public:
    DeviceSlot(std::vector<std::string> names, Vxi11Device& device);
    ~DeviceSlot();
    DeviceSlot(const DeviceSlot&) = delete;
    DeviceSlot& operator=(const DeviceSlot&) = delete;

    // Case does not matter: "INST0" reaches inst0.
    bool Answers(std::string_view name) const;
    Vxi11Device& Device() { return device_; }
    DeviceLock& Lock() { return lock_; }

    using Job = std::function<void()>;
    void Submit(Job job);
    // Runs `call` on the calling thread when no job is running or waiting;
    // false when the device is busy and it did not run.
    bool TryCallNow(const Job& call);

    // Drops the jobs not started, lets the running one finish, ends the thread.
    void Stop();

private:
    void Run();

    const std::vector<std::string> names_;
    Vxi11Device& device_;
    DeviceLock lock_;
    std::mutex callMutex_;   // held by every call into the device
    std::mutex jobsMutex_;
    std::condition_variable jobsChanged_;
    std::deque<Job> jobs_;
    bool stopping_ = false;
    std::thread thread_;   // last: starts once the rest is ready
};

}  // namespace tarnel::vxi11

// One served device: the names links reach it by, the instrument, and its
// exclusive lock. The device runs the links' messages on its own threads.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "vxi11/device_lock.h"
#include "vxi11/vxi11_device.h"

namespace tarnel::vxi11 {

class DeviceSlot {
public:
    DeviceSlot(std::vector<std::string> names, Vxi11Device& device);
    DeviceSlot(const DeviceSlot&) = delete;
    DeviceSlot& operator=(const DeviceSlot&) = delete;

    // Case does not matter: "INST0" reaches inst0.
    bool Answers(std::string_view name) const;
    const std::vector<std::string>& Names() const { return names_; }
    Vxi11Device& Device() { return device_; }
    DeviceLock& Lock() { return lock_; }

private:
    const std::vector<std::string> names_;
    Vxi11Device& device_;
    DeviceLock lock_;
};

}  // namespace tarnel::vxi11

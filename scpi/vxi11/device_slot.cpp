#include "vxi11/device_slot.h"

#include <strings.h>

namespace tarnel::vxi11 {

DeviceSlot::DeviceSlot(std::vector<std::string> names, Vxi11Device& device)
    : names_(std::move(names)), device_(device), lock_(device) {}

bool DeviceSlot::Answers(std::string_view name) const {
    for (const std::string& own : names_) {
        if (own.size() == name.size() && ::strncasecmp(own.data(), name.data(), name.size()) == 0) return true;
    }
    return false;
}

}  // namespace tarnel::vxi11

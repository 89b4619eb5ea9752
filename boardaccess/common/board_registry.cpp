#include "board_registry.h"

#include <limits>
#include <string>

#include "board_error.h"

namespace tarnel::boardaccess {

std::int32_t BoardRegistry::Add(std::unique_ptr<UsbBoard> board) {
    const std::lock_guard lock(mutex_);
    if (lastHandle_ == std::numeric_limits<std::int32_t>::max()) {
        throw BoardError(FailureKind::Internal, "no board handles left — restart the program");
    }
    for (auto entry = boards_.begin(); entry != boards_.end();) {
        if (!entry->second->LeftTheBus()) {
            ++entry;
            continue;
        }
        letGo_.insert(entry->first);
        entry = boards_.erase(entry);
    }
    boards_.emplace(++lastHandle_, std::move(board));
    return lastHandle_;
}

std::shared_ptr<UsbBoard> BoardRegistry::Find(std::int32_t handle) const {
    const std::lock_guard lock(mutex_);
    const auto found = boards_.find(handle);
    if (found == boards_.end() && letGo_.contains(handle)) {
        throw BoardError(FailureKind::Disconnected, "the board under handle " + std::to_string(handle) +
                                                        " left the bus — connect to it again and use the new handle");
    }
    if (found == boards_.end()) {
        throw BoardError(FailureKind::BadArgument, "unknown board handle " + std::to_string(handle) +
                                                       " — connect to the board first and use the handle it gives");
    }
    return found->second;
}

}  // namespace tarnel::boardaccess

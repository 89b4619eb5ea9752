#include "scpi/instrument_lock.h"

namespace tarnel::scpi {

bool InstrumentLock::Acquire(const ConnectionState& holder, std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    const bool free = released_.wait_for(lock, wait, [&] { return holder_ == nullptr || holder_ == &holder; });
    if (!free) return false;
    holder_ = &holder;
    return true;
}

bool InstrumentLock::Release(const ConnectionState& holder) {
    {
        const std::lock_guard lock(mutex_);
        if (holder_ != &holder) return false;
        holder_ = nullptr;
    }
    released_.notify_all();
    return true;
}

bool InstrumentLock::HeldAgainst(const ConnectionState& client) const {
    const std::lock_guard lock(mutex_);
    return holder_ != nullptr && holder_ != &client;
}

}  // namespace tarnel::scpi

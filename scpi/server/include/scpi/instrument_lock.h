// The exclusive lock of a served instrument, as a VXI-11 link takes it with
// device_lock: one client holds it at most, and while it does the messages
// of every other client are refused with kLockedOutError instead of running
// (their reply is nothing, the error goes to the client's own queue). A
// client is known by its ConnectionState, which must live while it holds
// the lock.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

#include "scpi/connection_state.h"
#include "scpi/scpi_error.h"

namespace tarnel::scpi {

// The error a message gets while another client holds the lock.
inline constexpr ErrorCode kLockedOutError = ErrorCode::CommandProtected;

class InstrumentLock {
public:
    // Takes the lock for holder, waiting up to `wait` while another client
    // holds it; false when that one still does. A holder asking again gets true.
    bool Acquire(const ConnectionState& holder, std::chrono::milliseconds wait);
    // Lets go of it; false when holder did not hold it.
    bool Release(const ConnectionState& holder);
    // Whether a client other than `client` holds the lock now.
    bool HeldAgainst(const ConnectionState& client) const;

private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    const ConnectionState* holder_ = nullptr;
};

}  // namespace tarnel::scpi

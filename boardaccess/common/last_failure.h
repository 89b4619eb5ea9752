// The failure of a library's last call of one kind (a connect, a firmware
// load), kept until that kind of call next succeeds. A later call that only
// fails because of it (a download with the handle a failed connect left)
// throws the same error again, so the report names the first cause and adds
// nothing new.
#pragma once

#include <mutex>
#include <optional>

#include "board_error.h"

namespace tarnel::boardaccess {

class LastFailure {
public:
    // Runs body and keeps the BoardError it throws, or forgets the kept one
    // when it completes.
    template <class Body>
    void Track(Body&& body) {
        try {
            body();
        } catch (const BoardError& error) {
            const std::lock_guard lock(mutex_);
            failure_ = error;
            throw;
        }
        const std::lock_guard lock(mutex_);
        failure_.reset();
    }

    // Throws the kept failure, if there is one.
    void ThrowIfKept() const {
        const std::lock_guard lock(mutex_);
        if (failure_) throw *failure_;
    }

private:
    mutable std::mutex mutex_;
    std::optional<BoardError> failure_;
};

}  // namespace tarnel::boardaccess

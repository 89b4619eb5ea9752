// SIGTERM and SIGINT as a call on the Qt event loop: the handler only writes
// to a pipe that the loop watches, so the server stops between two events,
// never in the middle of one. A signal that arrives before the loop runs is
// answered as soon as it does.
#pragma once

#include <functional>
#include <memory>

class QSocketNotifier;

namespace tarnel::scpi {

class ShutdownSignals {
public:
    // Installs the handlers; onSignal runs on the event loop, once.
    explicit ShutdownSignals(std::function<void()> onSignal);
    ~ShutdownSignals();   // gives both signals their default action back
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;

private:
    std::function<void()> onSignal_;
    std::unique_ptr<QSocketNotifier> notifier_;
};

}  // namespace tarnel::scpi

// SIGTERM and SIGINT as a request to stop, which the program waits for: the
// handler only writes to a pipe, so the server stops on the waiting thread,
// never inside the handler. A signal that arrives before the wait ends it as
// soon as it starts.
//
// The wait also watches a signalfd for the two signals, so that a signal
// still ends it when every thread of the process blocks it: a library may
// leave a thread's signal mask all blocked (the emulator's device preload
// restores a mask another thread saved), and the threads started after
// inherit that mask, the waiting one included. Such a signal stays pending
// for the process, where the signalfd sees it.
#pragma once

namespace tarnel::scpi {

class ShutdownSignals {
public:
    // Installs the handlers; throws std::runtime_error when it cannot.
    ShutdownSignals();
    // Takes any signal still pending (which would otherwise end the process
    // once a thread unblocks it) and gives both signals their default action back.
    ~ShutdownSignals();
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;

    // Until SIGTERM or SIGINT has come (the server runs until then).
    void Wait() const;
    // Whether one has come, without waiting.
    bool Arrived() const;

private:
    bool Await(int timeoutMs) const;

    int pending_ = -1;   // the signalfd of SIGTERM and SIGINT
};

}  // namespace tarnel::scpi

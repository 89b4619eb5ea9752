// SIGTERM and SIGINT as a request to stop, which the program waits for: the
// handler only writes to a pipe, so the server stops on the waiting thread,
// never inside the handler. A signal that arrives before the wait ends it as
// soon as it starts.
#pragma once

namespace tarnel::scpi {

class ShutdownSignals {
public:
    // Installs the handlers; throws std::runtime_error when it cannot.
    ShutdownSignals();
    ~ShutdownSignals();   // gives both signals their default action back
    ShutdownSignals(const ShutdownSignals&) = delete;
    ShutdownSignals& operator=(const ShutdownSignals&) = delete;

    // Until SIGTERM or SIGINT has come (the server runs until then).
    void Wait() const;
    // Whether one has come, without waiting.
    bool Arrived() const;

private:
    bool Await(int timeoutMs) const;
};

}  // namespace tarnel::scpi

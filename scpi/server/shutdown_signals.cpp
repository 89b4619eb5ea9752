#include "scpi/shutdown_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <initializer_list>

namespace tarnel::scpi {

namespace {

int pipeEnds[2] = {-1, -1};

void Signalled(int) {
    // The handler may interrupt code between a failed call and its look at
    // errno: the write must leave errno as it found it.
    const int savedErrno = errno;
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(pipeEnds[1], &byte, 1);
    errno = savedErrno;
}

void SetHandler(void (*handler)(int)) {
    struct sigaction action {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : {SIGINT, SIGTERM}) sigaction(signalNumber, &action, nullptr);
}

}  // namespace

ShutdownSignals::ShutdownSignals() {
    if (::pipe2(pipeEnds, O_CLOEXEC | O_NONBLOCK) != 0) {
        throw std::runtime_error(std::string("cannot make the pipe that SIGTERM and SIGINT write to: ") +
                                 std::strerror(errno) + " — close other programs' files and start again");
    }
    SetHandler(Signalled);
}

ShutdownSignals::~ShutdownSignals() {
    SetHandler(SIG_DFL);
    ::close(pipeEnds[0]);
    ::close(pipeEnds[1]);
    pipeEnds[0] = pipeEnds[1] = -1;
}

void ShutdownSignals::Wait() const {
    while (!Await(-1)) {
    }
}

bool ShutdownSignals::Arrived() const { return Await(0); }

bool ShutdownSignals::Await(int timeoutMs) const {
    // The bytes stay in the pipe: once a signal has come, every wait ends at once.
    pollfd readable{pipeEnds[0], POLLIN, 0};
    const int ready = ::poll(&readable, 1, timeoutMs);
    return ready > 0 && (readable.revents & POLLIN) != 0;
}

}  // namespace tarnel::scpi

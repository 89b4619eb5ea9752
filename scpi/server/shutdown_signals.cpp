#include "scpi/shutdown_signals.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
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

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    return set;
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
    const sigset_t stopSignals = StopSignals();
    pending_ = ::signalfd(-1, &stopSignals, SFD_CLOEXEC | SFD_NONBLOCK);
    if (pending_ < 0) {
        const int error = errno;
        ::close(pipeEnds[0]);
        ::close(pipeEnds[1]);
        pipeEnds[0] = pipeEnds[1] = -1;
        throw std::runtime_error(std::string("cannot make the signalfd that SIGTERM and SIGINT are read from: ") +
                                 std::strerror(error) + " — close other programs' files and start again");
    }
    SetHandler(Signalled);
}

ShutdownSignals::~ShutdownSignals() {
    signalfd_siginfo taken{};
    while (::read(pending_, &taken, sizeof taken) == static_cast<ssize_t>(sizeof taken)) {
    }
    ::close(pending_);
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
    // Nothing is read: the bytes stay in the pipe and a pending signal stays
    // pending, so once a signal has come, every wait ends at once.
    pollfd readable[2] = {{pipeEnds[0], POLLIN, 0}, {pending_, POLLIN, 0}};
    const int ready = ::poll(readable, 2, timeoutMs);
    return ready > 0 && ((readable[0].revents | readable[1].revents) & POLLIN) != 0;
}

}  // namespace tarnel::scpi

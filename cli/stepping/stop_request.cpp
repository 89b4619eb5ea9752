#include "stepping/stop_request.h"

#include <signal.h>

#include <algorithm>
#include <initializer_list>
#include <thread>

namespace tarnel::cli {

namespace {

volatile sig_atomic_t stopSignal = 0;

void RequestStop(int signalNumber) { stopSignal = signalNumber; }

// A stop signal that every thread blocks stays pending and never reaches
// RequestStop (the emulator's device preload can leave every thread's mask
// all blocked): it is taken here instead, and the next one ends the program
// as after the handler.
int TakePendingStop() {
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGINT);
    sigaddset(&stops, SIGTERM);
    sigset_t pending;
    if (sigpending(&pending) != 0 || (!sigismember(&pending, SIGINT) && !sigismember(&pending, SIGTERM))) return 0;
    const timespec now{0, 0};
    const int taken = sigtimedwait(&stops, nullptr, &now);
    if (taken <= 0) return 0;
    signal(taken, SIG_DFL);
    return taken;
}

}  // namespace

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the next signal gets the default action and ends the program.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int signalNumber : {SIGINT, SIGTERM}) sigaction(signalNumber, &action, nullptr);
}

int StopSignal() {
    if (stopSignal == 0) {
        if (const int taken = TakePendingStop()) stopSignal = taken;
    }
    return stopSignal;
}

void WaitForStop(std::chrono::steady_clock::time_point until, const std::function<bool()>& stopRequested) {
    constexpr auto kLongestNap = std::chrono::milliseconds(50);
    for (auto now = std::chrono::steady_clock::now(); now < until && !stopRequested();
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(until - now, kLongestNap));
    }
}

}  // namespace tarnel::cli

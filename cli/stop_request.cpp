#include "cli/stop_request.h"

#include <signal.h>

#include <initializer_list>

namespace tarnel::cli {

namespace {

volatile sig_atomic_t stopSignal = 0;

void RequestStop(int signalNumber) { stopSignal = signalNumber; }

}  // namespace

void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: the next signal gets the default action and ends the program.
    action.sa_flags = SA_RESTART | SA_RESETHAND;
    for (const int signalNumber : {SIGINT, SIGTERM}) sigaction(signalNumber, &action, nullptr);
}

int StopSignal() { return stopSignal; }

}  // namespace tarnel::cli

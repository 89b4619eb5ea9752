#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "stepping/stop_request.h"

namespace tarnel::cli {
namespace {

// A stop signal that every thread blocks stays pending: it still asks for the
// stop, and the next one still ends the program. Each case runs in a child
// process, since the first stop latches for the process.
TEST(StopRequest, ABlockedStopSignalStillStopsAndTheNextEndsTheProgram) {
    for (const int signalNumber : {SIGINT, SIGTERM}) {
        EXPECT_EXIT(
            {
                CatchStopSignals();
                sigset_t blocked;
                sigemptyset(&blocked);
                sigaddset(&blocked, signalNumber);
                pthread_sigmask(SIG_BLOCK, &blocked, nullptr);
                kill(getpid(), signalNumber);
                if (StopSignal() != signalNumber) std::_Exit(1);
                pthread_sigmask(SIG_UNBLOCK, &blocked, nullptr);
                kill(getpid(), signalNumber);
                std::_Exit(2);
            },
            testing::KilledBySignal(signalNumber), "")
            << signalNumber;
    }
}

}  // namespace
}  // namespace tarnel::cli

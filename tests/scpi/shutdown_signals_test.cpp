// The server's signal handler leaves errno as it found it, also when its
// write to the pipe fails (the pipe is full: nothing has read it yet); and a
// signal ends the wait for it, also one that came before the wait.
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

#include "scpi/shutdown_signals.h"

namespace tarnel::scpi {
namespace {

TEST(ShutdownSignalsTest, TheHandlerKeepsErrno) {
    const ShutdownSignals handlers;
    EXPECT_FALSE(handlers.Arrived());
    // More signals than a pipe holds bytes: the later writes fail with EAGAIN.
    for (int i = 0; i < 70000; ++i) std::raise(SIGTERM);
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        errno = EDOM;
        std::raise(signalNumber);
        EXPECT_EQ(errno, EDOM) << signalNumber;
    }
    EXPECT_TRUE(handlers.Arrived());
    handlers.Wait();   // at once: the signals came before
}

}  // namespace
}  // namespace tarnel::scpi

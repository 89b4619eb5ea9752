// The server's signal handler leaves errno as it found it, also when its
// write to the pipe fails (the pipe is full: nothing has read it yet).
#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>

#include <QCoreApplication>

#include "scpi/shutdown_signals.h"

namespace tarnel::scpi {
namespace {

TEST(ShutdownSignalsTest, TheHandlerKeepsErrno) {
    int argc = 1;
    char name[] = "shutdown_signals_test";
    char* argv[] = {name, nullptr};
    const QCoreApplication application(argc, argv);
    bool stopped = false;
    const ShutdownSignals handlers([&stopped] { stopped = true; });
    // More signals than a pipe holds bytes: the later writes fail with EAGAIN.
    for (int i = 0; i < 70000; ++i) std::raise(SIGTERM);
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        errno = EDOM;
        std::raise(signalNumber);
        EXPECT_EQ(errno, EDOM) << signalNumber;
    }
    EXPECT_FALSE(stopped) << "the stop runs on the event loop, never in the handler";
}

}  // namespace
}  // namespace tarnel::scpi

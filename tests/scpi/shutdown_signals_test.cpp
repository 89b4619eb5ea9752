// The server's signal handler leaves errno as it found it, also when its
// write to the pipe fails (the pipe is full: nothing has read it yet); and a
// signal ends the wait for it, also one that came before the wait, and one
// that every thread blocks (a library left the masks so); such a signal is
// taken when the wait ends, so that it cannot end the process later.
#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

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

TEST(ShutdownSignalsTest, ASignalEndsTheWaitWhateverTheMasks) {
    struct Case {
        const char* name;
        int signalNumber;
        bool blockedHere;   // this thread blocks both signals, as a library may leave it
    };
    const Case cases[] = {
        {"SIGTERM, handled", SIGTERM, false},
        {"SIGINT, handled", SIGINT, false},
        {"SIGTERM, blocked", SIGTERM, true},
        {"SIGINT, blocked", SIGINT, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sigset_t both;
        sigemptyset(&both);
        sigaddset(&both, SIGTERM);
        sigaddset(&both, SIGINT);
        sigset_t previous;
        {
            const ShutdownSignals handlers;
            ASSERT_EQ(::pthread_sigmask(c.blockedHere ? SIG_BLOCK : SIG_UNBLOCK, &both, &previous), 0);
            EXPECT_FALSE(handlers.Arrived());
            // To the process, as kill(1) and a service manager send it.
            ASSERT_EQ(::kill(::getpid(), c.signalNumber), 0);
            EXPECT_TRUE(handlers.Arrived());
        }
        // Unblocked with its default action back: a signal left pending would end the test here.
        ASSERT_EQ(::pthread_sigmask(SIG_SETMASK, &previous, nullptr), 0);
    }
}

}  // namespace
}  // namespace tarnel::scpi

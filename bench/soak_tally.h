// What a soak client saw: its counts, its reply latencies, and the times
// of what is checked after the run against the locks and absences of the
// boards (soak_timeline.h).
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace tarnel::bench {

using SoakClock = std::chrono::steady_clock;

// A time span on one board.
struct BoardSpan {
    std::size_t board = 0;
    SoakClock::time_point from, to;
    int locker = -1;   // the locking client that held or met the lock; -1: none
};

// What one client saw.
struct Tally {
    long pairs = 0;
    long wrong = 0;
    long lockRefusals = 0;   // pairs the lock of another client refused
    long refused = 0;        // connections closed before their first reply, or not made at all
    long dropped = 0;        // closed later on
    long unanswered = 0;     // nothing settled within the exchange's bound
    long reconnects = 0;
    long locksHeld = 0;
    long locksWaitedOut = 0;   // device_lock that another link's lock outlasted
    std::vector<float> latencyMicroseconds;
    std::vector<BoardSpan> refusals;   // when a message of this client met a lock
    std::vector<BoardSpan> awayReplies;   // not-a-number (or start-level) replies with -241/-240, at their time
    std::vector<BoardSpan> locks;      // locks this client held
    std::vector<BoardSpan> unsettled;  // exchanges that did not settle within their bound
    std::vector<std::string> firstWrong;
    std::vector<std::string> firstProblems;   // why connections were not made or exchanges not settled

    void Note(const std::string& what);
    void Problem(const std::string& what);
    void Add(const Tally& other);
};

}  // namespace tarnel::bench

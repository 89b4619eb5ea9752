// The soak's clients of tarnelctl serve, each on a thread of its own until
// the deadline: each picks a board for every connection and sends random
// DAC:CODE n;:MEAS? pairs, checking every reply against the level it set.
//   raw clients       the board's raw SCPI port;
//   VXI-11 clients    a link through the client library's transport, to the
//                     board's device name or its port path;
//   locking clients   a VXI-11 link that, between spells of pairs, takes the
//                     device's lock for a while (its own pairs then run, the
//                     other clients' are refused) and gives it up.
// What each saw goes into its own Tally; the times of lock refusals, of
// not-a-number replies and of the locks held are checked after the run
// against the locks and the absences of the board (soak_timeline.h).
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulated_server.h"

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

struct SoakTarget {
    std::vector<ServedBoardAddress> boards;
    std::uint16_t vxi11CorePort = 0;
    SoakClock::time_point deadline;
    std::atomic<long>* pairs = nullptr;   // all clients' pairs so far, for the progress lines
};

void RunRawClient(unsigned index, const SoakTarget& target, Tally& tally);
void RunVxi11Client(unsigned index, const SoakTarget& target, Tally& tally);
// index: this client's number among the locking clients.
void RunLockingClient(unsigned index, const SoakTarget& target, Tally& tally);

// Whether `reply` reads back the level of `code` (the converter code just below the output).
bool MeasuredLevel(const std::string& reply, std::uint32_t code);

}  // namespace tarnel::bench

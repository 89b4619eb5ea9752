// The soak's clients of tarnelctl serve, each on a thread of its own until
// the deadline: each picks a board for every connection and sends random
// DAC:CODE n;:MEAS? pairs, checking every reply against the level it set.
//   raw clients       the board's raw SCPI port;
//   VXI-11 clients    a link through the client library's transport, to the
//                     board's device name or its port path;
//   locking clients   a VXI-11 link that, between spells of pairs, takes the
//                     device's lock for a while (its own pairs then run, the
//                     other clients' are refused) and gives it up.
// Each pair is checked as pair_check.h says; what each client saw goes into
// its own Tally.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "emulated_server.h"
#include "soak_tally.h"

namespace tarnel::bench {

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

}  // namespace tarnel::bench

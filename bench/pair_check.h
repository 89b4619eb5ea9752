// One DAC:CODE n;:MEAS? pair of a soak client and its check. The reply must
// read back the level set; otherwise the board must have been away: the
// reply is not a number, or the DAC write found the board gone and the
// measurement opened it again at its start level 0, and either way the
// queue holds -241/-240 (the reply's time is checked after the run against
// the board's absences). A pair the lock of another client refused counts
// as a lock refusal (its time checked against the locks); one refused while
// this client holds the lock, one with no reply and no refusal, and any
// line that answers nothing sent are wrong.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "locked_exchange.h"
#include "soak_tally.h"

namespace tarnel::bench {

// One exchange settles within this, the lock held by another client and a replug included.
inline constexpr std::chrono::seconds kExchangeBound{30};

// One connection's pairs: the board it reaches and whether this client holds its lock now.
struct PairContext {
    const char* client = "";   // "raw", "VXI-11", "locking", for the lines on faults
    std::size_t board = 0;
    int locker = -1;
    bool holdsLock = false;
    bool answered = false;   // a reply came on this connection
};

// The pair for `code` on the channel, checked into `tally` (allPairs counts
// the answered ones of every client). False when the connection is gone and
// must be opened again.
bool CheckedPair(MessageChannel& channel, PairContext& context, std::uint32_t code, std::atomic<long>& allPairs,
                 Tally& tally);

// Whether `reply` reads back the level of `code` (the converter code just below the output).
bool MeasuredLevel(const std::string& reply, std::uint32_t code);

}  // namespace tarnel::bench

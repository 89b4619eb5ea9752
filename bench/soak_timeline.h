// The soak's checks against time: a lock refusal counts as expected only
// while another client held the board's lock, a not-a-number reply only
// while the board was away (from the server's lines on it lost and back).
#pragma once

#include <vector>

#include "soak_tally.h"

namespace tarnel::bench {

// One board's absences: each lost line up to the back line that follows it,
// or up to `end` when none did.
std::vector<BoardSpan> Absences(std::size_t board, const std::vector<SoakClock::time_point>& lost,
                                const std::vector<SoakClock::time_point>& back, SoakClock::time_point end);

// How many of `events` overlap no span of `within` on their board, that span
// widened by `slack` on both sides. A span of the locking client that met
// the event does not count for it: a client's own lock never refuses it.
long Outside(const std::vector<BoardSpan>& events, const std::vector<BoardSpan>& within, SoakClock::duration slack);

}  // namespace tarnel::bench

#include "soak_timeline.h"

#include <algorithm>

namespace tarnel::bench {

std::vector<BoardSpan> Absences(std::size_t board, const std::vector<SoakClock::time_point>& lost,
                                const std::vector<SoakClock::time_point>& back, SoakClock::time_point end) {
    std::vector<BoardSpan> absences;
    std::size_t next = 0;
    for (const auto left : lost) {
        while (next < back.size() && back[next] < left) ++next;
        absences.push_back({board, left, next < back.size() ? back[next++] : end, -1});
    }
    return absences;
}

long Outside(const std::vector<BoardSpan>& events, const std::vector<BoardSpan>& within, SoakClock::duration slack) {
    return std::count_if(events.begin(), events.end(), [&](const BoardSpan& event) {
        return std::none_of(within.begin(), within.end(), [&](const BoardSpan& span) {
            const bool own = event.locker >= 0 && span.locker == event.locker;
            return !own && span.board == event.board && event.from <= span.to + slack && span.from - slack <= event.to;
        });
    });
}

}  // namespace tarnel::bench

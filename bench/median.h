// The middle value of a bench's repeated figures (the upper middle one for an
// even count), which one slow run cannot move.
#pragma once

#include <algorithm>
#include <vector>

namespace tarnel::bench {

inline double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace tarnel::bench

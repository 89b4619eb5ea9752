// Pass/fail limits of a characterisation (--limits inl=0.5,dnl=0.5,
// offset_mv=1,gain_pct=0.05): any subset, each at most once. A figure beyond
// its limit, or one the run could not measure, fails; a production test gates
// on the exit status this gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel::cli {

struct LinearityLimits {
    std::optional<double> inlLsb;       // worst |INL| end-point
    std::optional<double> dnlLsb;       // worst |DNL|
    std::optional<double> offsetMv;     // |offset error|
    std::optional<double> gainPercent;  // |gain error| in % of full scale

    bool Any() const { return inlLsb || dnlLsb || offsetMv || gainPercent; }
};

// The figures the limits are held against, as measured (none: not measured).
struct LimitedFigures {
    std::optional<double> inlLsb;
    std::optional<double> dnlLsb;
    std::optional<double> offsetMv;
    std::optional<double> gainPercent;
};

// Nothing for text that is not such a list (an unknown name, a name twice, a
// value that is not a non-negative number).
std::optional<LinearityLimits> ParseLinearityLimits(std::string_view text);

// One entry per failed limit: "inl 0.62 LSB > 0.5 LSB", "offset_mv not measured".
std::vector<std::string> FailedLimits(const LinearityLimits& limits, const LimitedFigures& figures);

}  // namespace tarnel::cli

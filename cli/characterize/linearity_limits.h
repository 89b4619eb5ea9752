// Pass/fail limits of a characterisation (--limits inl=0.5,dnl=0.5,
// offset_mv=1,gain_pct=0.05): any subset, each at most once, with guard bands
// of twice the figure's standard uncertainty u: a limit passes when
// |figure| + 2u <= limit, fails when |figure| − 2u > limit or the figure was
// not measured, and is too close to call in between. A figure without an
// uncertainty is held against its limit as it is. Too close counts against
// the run as a failure does; a production test gates on the exit status this
// gives.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel::cli {

struct LinearityLimits {
    std::optional<double> inlLsb = std::nullopt;       // worst |INL| end-point
    std::optional<double> dnlLsb = std::nullopt;       // worst |DNL|
    std::optional<double> offsetMv = std::nullopt;     // |offset error|
    std::optional<double> gainPercent = std::nullopt;  // |gain error| in % of full scale

    bool Any() const { return inlLsb || dnlLsb || offsetMv || gainPercent; }
};

// The figures the limits are held against, as measured (none: not measured),
// and their standard uncertainties (none: unknown).
struct LimitedFigures {
    std::optional<double> inlLsb = std::nullopt;
    std::optional<double> dnlLsb = std::nullopt;
    std::optional<double> offsetMv = std::nullopt;
    std::optional<double> gainPercent = std::nullopt;
    std::optional<double> inlLsbU = std::nullopt;
    std::optional<double> dnlLsbU = std::nullopt;
    std::optional<double> offsetMvU = std::nullopt;
    std::optional<double> gainPercentU = std::nullopt;
};

enum class LimitVerdict { Pass, Fail, TooClose };

struct LimitJudgement {
    std::string name;       // "inl", "dnl", "offset_mv", "gain_pct"
    LimitVerdict verdict = LimitVerdict::Pass;
    std::string text;       // "inl 0.62 LSB > 0.5 LSB", "dnl 0.49 LSB too close to call against 0.5 LSB (u 0.02 LSB)"
};

// Nothing for text that is not such a list (an unknown name, a name twice, a
// value that is not a non-negative number).
std::optional<LinearityLimits> ParseLinearityLimits(std::string_view text);

// Every limit given, in the order inl, dnl, offset_mv, gain_pct.
std::vector<LimitJudgement> JudgeLimits(const LinearityLimits& limits, const LimitedFigures& figures);

// One entry per limit that did not pass (failed or too close to call):
// "inl 0.62 LSB > 0.5 LSB", "offset_mv not measured".
std::vector<std::string> FailedLimits(const LinearityLimits& limits, const LimitedFigures& figures);

const char* VerdictName(LimitVerdict verdict);   // "PASS", "FAIL", "TOO CLOSE"

}  // namespace tarnel::cli

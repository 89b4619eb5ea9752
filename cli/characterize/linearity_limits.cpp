#include "characterize/linearity_limits.h"

#include <cmath>
#include <cstdio>

#include "command_line/value_parsing.h"

namespace tarnel::cli {

namespace {

struct LimitName {
    std::string_view name;
    std::string_view unit;
    std::optional<double> LinearityLimits::* limit;
    std::optional<double> LimitedFigures::* figure;
    std::optional<double> LimitedFigures::* u;
};

constexpr LimitName kNames[] = {
    {"inl", "LSB", &LinearityLimits::inlLsb, &LimitedFigures::inlLsb, &LimitedFigures::inlLsbU},
    {"dnl", "LSB", &LinearityLimits::dnlLsb, &LimitedFigures::dnlLsb, &LimitedFigures::dnlLsbU},
    {"offset_mv", "mV", &LinearityLimits::offsetMv, &LimitedFigures::offsetMv, &LimitedFigures::offsetMvU},
    {"gain_pct", "%", &LinearityLimits::gainPercent, &LimitedFigures::gainPercent, &LimitedFigures::gainPercentU},
};

std::string Number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", value);
    return text;
}

}  // namespace

std::optional<LinearityLimits> ParseLinearityLimits(std::string_view text) {
    LinearityLimits limits;
    if (text.empty()) return std::nullopt;
    for (;;) {
        const std::size_t comma = text.find(',');
        const std::string_view pair = text.substr(0, comma);
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos) return std::nullopt;
        const std::string_view name = pair.substr(0, equals);
        const std::optional<double> value = ParseDecimal(pair.substr(equals + 1));
        if (!value) return std::nullopt;
        bool known = false;
        for (const LimitName& entry : kNames) {
            if (entry.name != name) continue;
            if (limits.*entry.limit) return std::nullopt;   // given twice
            limits.*entry.limit = *value;
            known = true;
        }
        if (!known) return std::nullopt;
        if (comma == std::string_view::npos) return limits;
        text.remove_prefix(comma + 1);
    }
}

std::vector<LimitJudgement> JudgeLimits(const LinearityLimits& limits, const LimitedFigures& figures) {
    std::vector<LimitJudgement> judged;
    for (const LimitName& entry : kNames) {
        const std::optional<double>& limit = limits.*entry.limit;
        const std::optional<double>& figure = figures.*entry.figure;
        if (!limit) continue;
        const std::string name(entry.name);
        const std::string unit(entry.unit);
        LimitJudgement one{name, LimitVerdict::Pass, ""};
        if (!figure) {
            one.verdict = LimitVerdict::Fail;
            one.text = name + " not measured";
            judged.push_back(one);
            continue;
        }
        const double size = std::fabs(*figure);
        const double guard = 2 * (figures.*entry.u).value_or(0);
        const std::string uText = (figures.*entry.u) ? " (u " + Number(*(figures.*entry.u)) + " " + unit + ")" : "";
        if (size - guard > *limit) {
            one.verdict = LimitVerdict::Fail;
            one.text = name + " " + Number(size) + " " + unit + " > " + Number(*limit) + " " + unit + uText;
        } else if (size + guard > *limit) {
            one.verdict = LimitVerdict::TooClose;
            one.text = name + " " + Number(size) + " " + unit + " too close to call against " + Number(*limit) + " " +
                       unit + uText;
        } else {
            one.text = name + " " + Number(size) + " " + unit + " <= " + Number(*limit) + " " + unit + uText;
        }
        judged.push_back(one);
    }
    return judged;
}

std::vector<std::string> FailedLimits(const LinearityLimits& limits, const LimitedFigures& figures) {
    std::vector<std::string> failed;
    for (const LimitJudgement& one : JudgeLimits(limits, figures)) {
        if (one.verdict != LimitVerdict::Pass) failed.push_back(one.text);
    }
    return failed;
}

const char* VerdictName(LimitVerdict verdict) {
    switch (verdict) {
    case LimitVerdict::Pass: return "PASS";
    case LimitVerdict::Fail: return "FAIL";
    case LimitVerdict::TooClose: return "TOO CLOSE";
    }
    return "FAIL";
}

}  // namespace tarnel::cli

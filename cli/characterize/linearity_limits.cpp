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
};

constexpr LimitName kNames[] = {
    {"inl", "LSB", &LinearityLimits::inlLsb, &LimitedFigures::inlLsb},
    {"dnl", "LSB", &LinearityLimits::dnlLsb, &LimitedFigures::dnlLsb},
    {"offset_mv", "mV", &LinearityLimits::offsetMv, &LimitedFigures::offsetMv},
    {"gain_pct", "%", &LinearityLimits::gainPercent, &LimitedFigures::gainPercent},
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

std::vector<std::string> FailedLimits(const LinearityLimits& limits, const LimitedFigures& figures) {
    std::vector<std::string> failed;
    for (const LimitName& entry : kNames) {
        const std::optional<double>& limit = limits.*entry.limit;
        const std::optional<double>& figure = figures.*entry.figure;
        if (!limit) continue;
        const std::string unit(entry.unit);
        if (!figure) {
            failed.push_back(std::string(entry.name) + " not measured");
        } else if (std::fabs(*figure) > *limit) {
            failed.push_back(std::string(entry.name) + " " + Number(std::fabs(*figure)) + " " + unit + " > " +
                             Number(*limit) + " " + unit);
        }
    }
    return failed;
}

}  // namespace tarnel::cli

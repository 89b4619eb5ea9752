#include "characterize/repeat_statistics.h"

#include <cmath>
#include <functional>
#include <optional>

namespace tarnel::cli {

namespace {

struct FigureOfPass {
    const char* name;
    const char* unit;
    std::function<std::optional<double>(const CharacterizeFigures&)> value;
};

std::optional<double> WorstValue(const std::optional<WorstAtCode>& worst) {
    return worst ? std::optional<double>(worst->value) : std::nullopt;
}

}  // namespace

std::vector<RepeatedFigure> RepeatStatistics(const std::vector<CharacterizeFigures>& passes) {
    const FigureOfPass figures[] = {
        {"offset_uv", "uV", [](const CharacterizeFigures& f) { return f.offsetUv; }},
        {"gain_error_ppm", "ppm", [](const CharacterizeFigures& f) { return f.gainPpm; }},
        {"inl_ep_lsb", "LSB", [](const CharacterizeFigures& f) { return WorstValue(f.inlEndPointLsb); }},
        {"inl_bf_lsb", "LSB", [](const CharacterizeFigures& f) { return WorstValue(f.inlBestFitLsb); }},
        {"dnl_lsb", "LSB", [](const CharacterizeFigures& f) { return WorstValue(f.dnlLsb); }},
        {"superposition_lsb", "LSB",
         [](const CharacterizeFigures& f) {
             return f.bits ? WorstValue(f.bits->superpositionLsb) : std::nullopt;
         }},
    };
    std::vector<RepeatedFigure> result;
    for (const FigureOfPass& figure : figures) {
        std::vector<double> values;
        for (const CharacterizeFigures& pass : passes) {
            if (const auto value = figure.value(pass)) values.push_back(*value);
        }
        if (values.empty()) continue;
        RepeatedFigure repeated{figure.name, figure.unit, 0, 0, values.size()};
        for (const double value : values) repeated.mean += value / static_cast<double>(values.size());
        if (values.size() >= 2) {
            double squares = 0;
            for (const double value : values) squares += (value - repeated.mean) * (value - repeated.mean);
            repeated.spread = std::sqrt(squares / static_cast<double>(values.size() - 1));
        }
        result.push_back(repeated);
    }
    return result;
}

}  // namespace tarnel::cli

#include "characterize/characterize_plot.h"

#include <algorithm>
#include <numeric>

#include "output/chart_page.h"

namespace tarnel::cli {

namespace {

// The predicted INL holds every one of the 2^18 codes; the curve keeps the
// lowest and the highest value of each run of this many codes, so that no
// peak is lost and the chart stays light.
constexpr std::size_t kCodesPerBin = 256;

std::vector<QPointF> Binned(const std::vector<double>& everyCode) {
    std::vector<QPointF> curve;
    for (std::size_t first = 0; first < everyCode.size(); first += kCodesPerBin) {
        const std::size_t last = std::min(first + kCodesPerBin, everyCode.size());
        const auto [low, high] = std::minmax_element(everyCode.begin() + first, everyCode.begin() + last);
        const auto lowCode = static_cast<double>(low - everyCode.begin());
        const auto highCode = static_cast<double>(high - everyCode.begin());
        curve.emplace_back(std::min(lowCode, highCode), lowCode < highCode ? *low : *high);
        curve.emplace_back(std::max(lowCode, highCode), lowCode < highCode ? *high : *low);
    }
    return curve;
}

}  // namespace

CharacterizeCharts ChartsOfCharacterization(const std::vector<CharacterizePoint>& points,
                                            const CharacterizeFigures& figures, const LinearityLimits& limits) {
    // Along the codes, whatever order they were measured in.
    std::vector<std::size_t> order(points.size());
    std::iota(order.begin(), order.end(), 0);
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return points[a].code < points[b].code; });

    // Measured codes have unmeasured ones between them: points, never lines.
    CodeSeries endPoint{"INL end-point (measured)", CodeSeries::Style::Points, {}};
    CodeSeries bestFit{"INL best-fit (measured)", CodeSeries::Style::Points, {}};
    CodeSeries dnl{"DNL (measured)", CodeSeries::Style::Points, {}};
    for (const std::size_t i : order) {
        const PointFigures& one = figures.perPoint.at(i);
        const double code = points[i].code;
        if (one.inlEndPointLsb) endPoint.points.emplace_back(code, *one.inlEndPointLsb);
        if (one.inlBestFitLsb) bestFit.points.emplace_back(code, *one.inlBestFitLsb);
        if (one.dnlLsb) dnl.points.emplace_back(code, *one.dnlLsb);
    }
    CodeChart inl{"Integral nonlinearity", "INL (LSB)", {}, limits.inlLsb, "LSB", 3};
    CodeChart steps{"Differential nonlinearity", "DNL (LSB)", {}, limits.dnlLsb, "LSB", 2};
    if (figures.bits) {
        // The curve holds at every code: a line, the measured codes on it.
        inl.series.push_back({"INL predicted by superposition (all codes)", CodeSeries::Style::Line,
                              Binned(figures.bits->predictedInlLsb)});
        CodeSeries carries{"DNL at the major carries (predicted)", CodeSeries::Style::Points, {}};
        for (const WorstAtCode& carry : figures.bits->carryDnlLsb) carries.points.emplace_back(carry.code, carry.value);
        steps.series.push_back(std::move(carries));
    }
    inl.series.push_back(std::move(endPoint));
    inl.series.push_back(std::move(bestFit));
    steps.series.push_back(std::move(dnl));
    const std::uint32_t first = points[order.front()].code;
    const std::uint32_t last = points[order.back()].code;
    return {{inl, steps}, figures.bits ? 0 : first, figures.bits ? protocol::kDataMask : last};
}

void DrawCharacterizePlot(const std::vector<CharacterizePoint>& points, const CharacterizeFigures& figures,
                          const LinearityLimits& limits, const PlotCaption& caption, const std::string& path) {
    if (points.empty()) return;
    const CharacterizeCharts charts = ChartsOfCharacterization(points, figures, limits);
    SaveCodeCharts(caption, charts.charts, charts.firstCode, charts.lastCode, protocol::kDataMask, path);
}

}  // namespace tarnel::cli

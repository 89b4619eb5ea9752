#include "linearity/line_fit.h"

#include <cstddef>

namespace tarnel::linearity {

namespace {

// The fit over `count` points whose code and volts the two calls give.
template <typename CodeOf, typename VoltsOf>
Line FitAboutTheMean(std::size_t count, CodeOf codeOf, VoltsOf voltsOf) {
    double meanCode = 0, meanVolts = 0;
    for (std::size_t i = 0; i < count; ++i) {
        meanCode += codeOf(i);
        meanVolts += voltsOf(i);
    }
    meanCode /= static_cast<double>(count);
    meanVolts /= static_cast<double>(count);
    double products = 0, squares = 0;
    for (std::size_t i = 0; i < count; ++i) {
        const double dx = codeOf(i) - meanCode;
        products += dx * (voltsOf(i) - meanVolts);
        squares += dx * dx;
    }
    const double step = products / squares;
    return {meanVolts - step * meanCode, step};
}

}  // namespace

Line FitLine(std::span<const MeasuredPoint> points) {
    return FitAboutTheMean(
        points.size(), [&](std::size_t i) { return static_cast<double>(points[i].code); },
        [&](std::size_t i) { return points[i].volts; });
}

Line FitLine(std::span<const double> voltsByCode) {
    return FitAboutTheMean(
        voltsByCode.size(), [](std::size_t i) { return static_cast<double>(i); },
        [&](std::size_t i) { return voltsByCode[i]; });
}

Line LineThrough(std::uint32_t lowCode, double lowVolts, std::uint32_t highCode, double highVolts) {
    const double step = (highVolts - lowVolts) / (highCode - lowCode);
    return {lowVolts - step * lowCode, step};
}

double RelativeGainError(const Line& line, const Scale& scale) { return line.stepVolts / scale.lsbVolts - 1.0; }

}  // namespace tarnel::linearity

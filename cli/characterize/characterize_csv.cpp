#include "characterize/characterize_csv.h"

#include "output/number_format.h"

namespace tarnel::cli {

namespace {

std::string Optional(const std::optional<double>& value, int decimals) {
    return value ? FixedText(*value, decimals) : std::string();
}

}  // namespace

std::string CharacterizeCsvRow(const CharacterizePoint& point, const PointFigures& figures) {
    // Volts to the nanovolt (the LSB is 18.8 µV, a 6½-digit meter resolves
    // 1 µV on its 10 V range), LSB to a ten-thousandth.
    return std::to_string(point.code) + "," + InputWordText(point.inputWord) + "," + FixedText(point.idealVolts, 9) +
           "," + FixedText(point.meterVolts, 9) + "," + Optional(point.meterStdUv, 3) + "," +
           std::to_string(point.readings) + "," + Optional(figures.inlEndPointLsb, 4) + "," +
           Optional(figures.inlBestFitLsb, 4) + "," + Optional(figures.dnlLsb, 4) + "," + CodeText(point.readCode) +
           "," + FixedText(point.seconds, 6) + "," + FixedText(point.settleMs, 1) + "," +
           (point.settled ? (*point.settled ? "1" : "0") : "") + "," + Optional(figures.driftUv, 3) + "," +
           Optional(figures.inlEndPointLsbU, 4) + "," + Optional(figures.dnlLsbU, 4) + "," +
           std::to_string(point.repeat + 1);
}

}  // namespace tarnel::cli

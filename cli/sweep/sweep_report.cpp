#include "sweep/sweep_report.h"

#include <QJsonArray>

#include "output/number_format.h"

namespace tarnel::cli {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

QJsonValue Nullable(bool present, double value) { return present ? QJsonValue(value) : QJsonValue(); }
QJsonValue Nullable(const std::optional<std::string>& text) { return text ? QJsonValue(Text(*text)) : QJsonValue(); }

}  // namespace

QJsonObject PointJson(const SweepPoint& point) {
    return QJsonObject{{"code", static_cast<int>(point.code)},      {"input_word", Text(InputWordText(point.inputWord))},
                       {"set_volts", point.setVolts},               {"read_code", point.readCode},
                       {"read_volts", ShownVolts(point.readVolts)}, {"error_mv", point.errorMv},
                       {"seconds", point.seconds},                  {"read_code_std", point.readStd},
                       {"read_code_min", point.readMin},            {"read_code_max", point.readMax}};
}

QJsonObject LinearityJson(const LinearityReport& report) {
    const bool hasLine = report.line.has_value();
    const ReadBackLine line = report.line.value_or(ReadBackLine{});
    QJsonValue lineCodes;
    if (hasLine) lineCodes = QJsonArray{static_cast<int>(line.fromCode), static_cast<int>(line.toCode)};
    return QJsonObject{{"points", static_cast<int>(report.points)},
                       {"line_codes", lineCodes},
                       {"line_through", hasLine ? QJsonValue(line.wholeSpan ? "every point" : "10-90%")
                                                : QJsonValue()},
                       {"offset_error_mv", Nullable(hasLine, line.offsetMv)},
                       {"gain_error_percent", Nullable(hasLine, line.gainErrorPercent)},
                       {"max_deviation_mv", Nullable(hasLine, line.maxDeviationMv)},
                       {"max_deviation_lsb", Nullable(hasLine, line.maxDeviationLsb)},
                       {"monotonic", report.monotonic}};
}

QJsonObject SweepJson(std::size_t planned, const SweepOutcome& outcome, const OutputChoice& output,
                      std::optional<std::uint32_t> park, const LinearityReport& linearity) {
    const bool csvFile = output.rows == OutputChoice::Rows::CsvFile;
    return QJsonObject{{"planned", static_cast<int>(planned)},
                       {"points", static_cast<int>(outcome.points.size())},
                       {"completed", outcome.end == SweepEnd::Completed},
                       {"stopped", outcome.end == SweepEnd::Stopped          ? QJsonValue("interrupted")
                                   : outcome.end == SweepEnd::TransferFailed ? QJsonValue("transfer failed")
                                                                             : QJsonValue()},
                       {"csv", csvFile ? QJsonValue(Text(output.csvFile)) : QJsonValue()},
                       {"plot", Nullable(output.plotFile)},
                       {"parked", outcome.parked ? QJsonValue(Text(WordText(*park))) : QJsonValue()},
                       {"linearity", LinearityJson(linearity)}};
}

std::string LinearityText(const LinearityReport& report) {
    std::string text = "points          " + std::to_string(report.points) + "\n";
    if (report.line) {
        const ReadBackLine& line = *report.line;
        text += "read-back line  best fit over codes " + WordText(line.fromCode) + " to " + WordText(line.toCode) +
                (line.wholeSpan ? " (every point: too few inside 10-90 %)\n" : " (10-90 % of the span)\n");
        text += "offset error    " + FixedText(line.offsetMv, 3) + " mV\n";
        text += "gain error      " + FixedText(line.gainErrorPercent, 4) + " % of full scale\n";
        text += "max deviation   " + FixedText(line.maxDeviationMv, 3) + " mV (" + FixedText(line.maxDeviationLsb, 2) +
                " read-back LSB, inside the window)\n";
    } else {
        text += "read-back line  none (fewer than two codes)\n";
    }
    text += std::string("read-back monotonic ") + (report.monotonic ? "yes" : "no") + " (within one read-back LSB)\n";
    return text;
}

}  // namespace tarnel::cli

#include "cli/report_json.h"

#include <QJsonDocument>

#include <cstdio>
#include <optional>
#include <string>

#include "cli/number_text.h"
#include "cli/output_limits.h"
#include "cli/value_text.h"
#include "core/read_voltage.h"

namespace tarnel::cli {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

// A volts value rounded as the window shows it, as the decimal it stands for
// (2.465, not the float's 2.4649999...).
double ShownVolts(float roundedVolts) { return std::stod(VoltsText(roundedVolts)); }

QJsonValue Nullable(bool present, double value) { return present ? QJsonValue(value) : QJsonValue(); }
QJsonValue Nullable(const std::optional<std::string>& text) { return text ? QJsonValue(Text(*text)) : QJsonValue(); }

}  // namespace

QJsonArray ScanJson(const ScanResult& scan) {
    QJsonArray boards;
    for (const ScannedBoard& board : scan.boards) {
        boards.append(QJsonObject{{"board", static_cast<int>(board.board)},
                                  {"reachable", board.reachable},
                                  {"firmware_running", board.firmwareRunning},
                                  {"problem", board.problem.empty() ? QJsonValue() : QJsonValue(Text(board.problem))}});
    }
    return boards;
}

QJsonObject WrittenJson(std::uint32_t data, std::uint32_t inputWord, protocol::PowerDown mode) {
    return QJsonObject{{"code", static_cast<int>(data)},
                       {"word", Text(WordText(data))},
                       {"input_word", Text(InputWordText(inputWord))},
                       {"mode", Text(std::string(ModeName(mode)))},
                       {"set_volts", SetVolts(data, mode)}};
}

QJsonObject ReadingJson(const Reading& reading) {
    return QJsonObject{{"code", reading.mean},
                       {"volts", ShownVolts(DisplayedVolts(reading.mean))},
                       {"reads", static_cast<int>(reading.count)},
                       {"code_std", reading.standardDeviation},
                       {"code_min", reading.min},
                       {"code_max", reading.max}};
}

QJsonObject PointJson(const SweepPoint& point) {
    return QJsonObject{{"code", static_cast<int>(point.code)},      {"input_word", Text(InputWordText(point.inputWord))},
                       {"set_volts", point.setVolts},               {"read_code", point.readCode},
                       {"read_volts", ShownVolts(point.readVolts)}, {"error_mv", point.errorMv},
                       {"seconds", point.seconds},                  {"read_code_std", point.readStd},
                       {"read_code_min", point.readMin},            {"read_code_max", point.readMax}};
}

QJsonObject LinearityJson(const LinearityReport& report) {
    const bool hasLine = report.line.has_value();
    const ReferenceLine line = report.line.value_or(ReferenceLine{});
    QJsonValue lineCodes;
    if (hasLine) lineCodes = QJsonArray{static_cast<int>(line.fromCode), static_cast<int>(line.toCode)};
    return QJsonObject{{"points", static_cast<int>(report.points)},
                       {"line_codes", lineCodes},
                       {"line_through", hasLine ? QJsonValue(line.throughEndPoints ? "end points" : "10% and 90%")
                                                : QJsonValue()},
                       {"offset_error_mv", Nullable(hasLine, line.offsetMv)},
                       {"gain_error_percent", Nullable(hasLine, line.gainErrorPercent)},
                       {"max_deviation_mv", Nullable(hasLine, line.maxDeviationMv)},
                       {"max_deviation_lsb", Nullable(hasLine, line.maxDeviationLsb)},
                       {"monotonic", report.monotonic}};
}

QJsonObject SweepJson(std::size_t planned, const SweepOutcome& outcome, const SweepOutput& output,
                      std::optional<std::uint32_t> park, const LinearityReport& linearity) {
    const bool csvFile = output.rows == SweepOutput::Rows::CsvFile;
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

void PrintJson(const QJsonValue& value) {
    const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    const QByteArray text = document.toJson(QJsonDocument::Compact);
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace tarnel::cli

#include "output/report_json.h"

#include <QJsonDocument>

#include <cstdio>
#include <string>

#include "board/dac_levels.h"
#include "command_line/value_parsing.h"
#include "core/read_voltage.h"
#include "output/number_format.h"

namespace tarnel::cli {

namespace {

QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

QJsonArray ScanJson(const ScanResult& scan) {
    QJsonArray boards;
    for (const ScannedBoard& board : scan.boards) {
        boards.append(QJsonObject{{"board", static_cast<int>(board.board)},
                                  {"path", board.path.empty() ? QJsonValue() : QJsonValue(Text(board.path))},
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

void PrintJson(const QJsonValue& value) {
    const QJsonDocument document = value.isArray() ? QJsonDocument(value.toArray()) : QJsonDocument(value.toObject());
    const QByteArray text = document.toJson(QJsonDocument::Compact);
    std::fwrite(text.constData(), 1, static_cast<std::size_t>(text.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

}  // namespace tarnel::cli

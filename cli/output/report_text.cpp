#include "output/report_text.h"

#include "board/dac_levels.h"
#include "command_line/value_parsing.h"
#include "core/read_voltage.h"
#include "output/number_format.h"

namespace tarnel::cli {

std::string ScanLine(const ScannedBoard& board) {
    const std::string state = !board.reachable      ? "not reachable: " + board.problem
                              : board.firmwareRunning ? std::string("firmware running")
                                                      : std::string("firmware not loaded");
    return "board " + std::to_string(board.board) + "  port " + (board.path.empty() ? "?" : board.path) + "  " + state;
}

std::string WrittenLine(std::uint32_t data, protocol::PowerDown mode) {
    return "word " + WordText(data) + "  mode " + std::string(ModeName(mode)) + "  set_volts " +
           FixedText(SetVolts(data, mode), 6);
}

std::string ReadingLine(const Reading& reading) {
    std::string line = "code " + CodeText(reading.mean) + "  volts " + VoltsText(DisplayedVolts(reading.mean));
    if (reading.count <= 1) return line;
    return line + "  std " + FixedText(reading.standardDeviation, 3) + "  min " + CodeText(reading.min) + "  max " +
           CodeText(reading.max);
}

}  // namespace tarnel::cli

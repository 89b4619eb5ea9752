#include "cli/report_text.h"

#include "cli/number_text.h"
#include "cli/output_limits.h"
#include "cli/value_text.h"
#include "core/read_voltage.h"

namespace tarnel::cli {

std::string ScanLine(const ScannedBoard& board) {
    const std::string state = !board.reachable      ? "not reachable: " + board.problem
                              : board.firmwareRunning ? std::string("firmware running")
                                                      : std::string("firmware not loaded");
    return "board " + std::to_string(board.board) + "  " + state;
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

std::string LinearityText(const LinearityReport& report) {
    std::string text = "points          " + std::to_string(report.points) + "\n";
    if (report.line) {
        const ReferenceLine& line = *report.line;
        text += "reference line  through codes " + WordText(line.fromCode) + " and " + WordText(line.toCode) +
                (line.throughEndPoints ? " (the end points)\n" : " (10 % and 90 % of the span)\n");
        text += "offset error    " + FixedText(line.offsetMv, 3) + " mV\n";
        text += "gain error      " + FixedText(line.gainErrorPercent, 4) + " % of full scale\n";
        text += "max deviation   " + FixedText(line.maxDeviationMv, 3) + " mV (" + FixedText(line.maxDeviationLsb, 2) +
                " read-back LSB)\n";
    } else {
        text += "reference line  none (fewer than two codes)\n";
    }
    text += std::string("monotonic       ") + (report.monotonic ? "yes" : "no") + "\n";
    return text;
}

}  // namespace tarnel::cli

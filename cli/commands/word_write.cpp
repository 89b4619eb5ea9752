#include "commands/word_write.h"

#include "board/board_connection.h"
#include "output/report_json.h"
#include "output/report_text.h"
#include "output/stdout_lines.h"

namespace tarnel::cli {

void WriteWord(const GlobalOptions& options, std::uint32_t data, protocol::PowerDown mode, const QJsonObject& extra) {
    BoardConnection board(options.library, options.board, options.reload);
    const std::uint32_t inputWord = board.Write(data, mode);
    if (!options.json) return PrintStdoutLine(WrittenLine(data, mode));
    QJsonObject written = WrittenJson(data, inputWord, mode);
    for (auto key = extra.begin(); key != extra.end(); ++key) written[key.key()] = key.value();
    written["firmware_loaded"] = board.LoadedFirmware();
    PrintJson(written);
}

}  // namespace tarnel::cli

#include "commands/code_command.h"

#include "board/dac_levels.h"
#include "commands/word_write.h"

namespace tarnel::cli {

CodeCommand ParseCodeCommand(const OptionReader& args, const GlobalOptions&) {
    args.ExpectWords(1, "a data word in hex, such as 20000");
    return CodeCommand{WordIn("code", args.Words()[0]), args.Mode()};
}

void RunCodeCommand(const GlobalOptions& options, const CodeCommand& command) {
    WriteWord(options, AllowedDataWord(command.word, command.mode, options.vmax), command.mode, QJsonObject{});
}

}  // namespace tarnel::cli

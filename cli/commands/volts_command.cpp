#include "commands/volts_command.h"

#include "board/dac_levels.h"
#include "command_line/value_parsing.h"
#include "commands/word_write.h"

namespace tarnel::cli {

VoltsCommand ParseVoltsCommand(const OptionReader& args, const GlobalOptions&) {
    args.ExpectWords(1, "a voltage, such as 2.5 or 2500mV");
    const auto volts = ParseVolts(args.Words()[0]);
    if (!volts) Usage("volts needs a voltage such as 2.5, 2.5V or 2500mV, not " + Quoted(args.Words()[0]));
    return VoltsCommand{*volts, args.Mode()};
}

void RunVoltsCommand(const GlobalOptions& options, const VoltsCommand& command) {
    const std::uint32_t data = DataWordForVolts(command.volts, options.vmax);
    WriteWord(options, data, command.mode, QJsonObject{{"requested_volts", command.volts}});
}

}  // namespace tarnel::cli

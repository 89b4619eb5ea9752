#include "characterize/characterize_command.h"

#include <cstdio>

#include <tarnel/board_protocol.h>

#include "command_line/usage_failure.h"
#include "command_line/value_parsing.h"

namespace tarnel::cli {

namespace {

constexpr double kLongestSettleMs = 3600e3;   // an hour

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

const std::string* Find(const std::map<std::string, std::string>& options, const std::string& name) {
    const auto found = options.find(name);
    return found == options.end() ? nullptr : &found->second;
}

std::uint64_t Word(const std::string& option, const std::string& text) {
    const auto word = ParseHexWord(text);
    if (!word) UsageFailure(option + " needs a data word in hex such as 20000 or 0x3FFFF, not " + Quoted(text));
    return *word;
}

double DecimalIn(const std::string& option, const std::string& text, double least, double most, const char* what) {
    const auto value = ParseDecimal(text);
    if (!value || *value < least || *value > most) UsageFailure(option + " needs " + what + ", not " + Quoted(text));
    return *value;
}

CodeSetChoice CodeSet(const std::map<std::string, std::string>& options) {
    CodeSetChoice choice;
    const std::string* text = Find(options, "--codes");
    choice.text = text ? *text : "bits";
    const std::string* from = Find(options, "--from");
    const std::string* to = Find(options, "--to");
    if (choice.text == "bits") {
        choice.kind = CodeSetKind::Bits;
    } else if (choice.text == "carries") {
        choice.kind = CodeSetKind::Carries;
    } else if (choice.text.starts_with("grid:")) {
        choice.kind = CodeSetKind::Grid;
        const auto points = ParseCount(choice.text.substr(5));
        if (!points || *points < 2 || *points > protocol::kDataMask + 1) {
            UsageFailure("--codes grid:N needs N from 2 to " + std::to_string(protocol::kDataMask + 1) + ", not " +
                         Quoted(choice.text));
        }
        choice.gridPoints = *points;
    } else if (choice.text == "all") {
        choice.kind = CodeSetKind::All;
        if (!from || !to) UsageFailure("--codes all needs --from WORD and --to WORD");
        choice.from = Word("--from", *from);
        choice.to = Word("--to", *to);
    } else if (choice.text.empty()) {
        UsageFailure("--codes needs bits, carries, grid:N, all or a file of hex codes");
    } else {
        choice.kind = CodeSetKind::File;
        choice.file = choice.text;
    }
    if (choice.kind != CodeSetKind::All && (from || to)) UsageFailure("--from and --to go with --codes all only");
    return choice;
}

}  // namespace

CharacterizeCommand ParseCharacterizeOptions(const std::map<std::string, std::string>& options, bool json) {
    CharacterizeCommand command;
    const std::string* meter = Find(options, "--meter");
    if (!meter) {
        UsageFailure("characterize needs --meter RESOURCE, such as --meter 192.168.1.20:5025 or --meter "
                     "USB0::0x2A8D::0x0318::SERIAL::INSTR ('tarnelctl meters' lists the meters connected here)");
    }
    command.meter = ParseMeterTarget(*meter, options, "--meter");
    command.codes = CodeSet(options);
    if (const std::string* nplc = Find(options, "--nplc")) {
        command.nplc = DecimalIn("--nplc", *nplc, kLeastNplc, kMostNplc, "power-line cycles from 0.02 to 100");
    }
    if (const std::string* settle = Find(options, "--settle")) {
        command.settleMs = DecimalIn("--settle", *settle, 0, kLongestSettleMs, "milliseconds from 0 to 3600000");
    }
    if (const std::string* avg = Find(options, "--avg")) {
        const auto count = ParseCount(*avg);
        if (!count || *count < 1 || *count > kMostMeterSamples) {
            UsageFailure("--avg needs a whole number of meter readings from 1 to " +
                         std::to_string(kMostMeterSamples) + ", not " + Quoted(*avg));
        }
        command.averaged = static_cast<unsigned>(*count);
    }
    const std::string* csv = Find(options, "--csv");
    const std::string* plot = Find(options, "--plot");
    command.output = ChooseOutput(json, csv ? std::optional<std::string>(*csv) : std::nullopt,
                                       plot ? std::optional<std::string>(*plot) : std::nullopt);
    if (const std::string* limits = Find(options, "--limits")) {
        const auto parsed = ParseLinearityLimits(*limits);
        if (!parsed) {
            UsageFailure("--limits needs NAME=VALUE pairs of inl, dnl (LSB), offset_mv (mV) and gain_pct (% FSR), "
                         "each once, such as inl=0.5,dnl=0.5,offset_mv=1,gain_pct=0.05, not " + Quoted(*limits));
        }
        command.limits = *parsed;
    }
    if (const std::string* park = Find(options, "--park")) command.park = Word("--park", *park);
    return command;
}

}  // namespace tarnel::cli

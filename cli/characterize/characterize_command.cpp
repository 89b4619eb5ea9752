#include "characterize/characterize_command.h"

#include <cstdio>

#include <tarnel/board_protocol.h>

#include "command_line/command_line.h"
#include "command_line/value_parsing.h"

namespace tarnel::cli {

namespace {

CodeSetChoice CodeSet(const OptionReader& args) {
    CodeSetChoice choice;
    const std::string* text = args.Find("--codes");
    choice.text = text ? *text : "bits";
    const std::string* from = args.Find("--from");
    const std::string* to = args.Find("--to");
    if (choice.text == "bits") {
        choice.kind = CodeSetKind::Bits;
    } else if (choice.text == "carries") {
        choice.kind = CodeSetKind::Carries;
    } else if (choice.text.starts_with("grid:")) {
        choice.kind = CodeSetKind::Grid;
        const auto points = ParseCount(choice.text.substr(5));
        if (!points || *points < 2 || *points > protocol::kDataMask + 1) {
            Usage("--codes grid:N needs N from 2 to " + std::to_string(protocol::kDataMask + 1) + ", not " +
                  Quoted(choice.text));
        }
        choice.gridPoints = *points;
    } else if (choice.text == "all") {
        choice.kind = CodeSetKind::All;
        if (!from || !to) Usage("--codes all needs --from WORD and --to WORD");
        choice.from = WordIn("--from", *from);
        choice.to = WordIn("--to", *to);
    } else if (choice.text.empty()) {
        Usage("--codes needs bits, carries, grid:N, all or a file of hex codes");
    } else {
        choice.kind = CodeSetKind::File;
        choice.file = choice.text;
    }
    if (choice.kind != CodeSetKind::All && (from || to)) Usage("--from and --to go with --codes all only");
    return choice;
}

SettleChoice Settle(const OptionReader& args) {
    SettleChoice settle;
    const std::string* text = args.Find("--settle");
    if (!text || !text->starts_with("auto")) {
        settle.ms = args.SettleMs(kDefaultCharacterizeSettleMs);
        return settle;
    }
    settle.automatic = true;
    settle.ms = 0;
    if (*text == "auto") return settle;
    if (!text->starts_with("auto:")) Usage("--settle needs MS or auto[:MAX_MS], not " + Quoted(*text));
    settle.maxMs = DecimalIn("--settle auto:MAX_MS", text->substr(5), 1, kLongestSettleMs,
                             "milliseconds from 1 to 3600000");
    return settle;
}

DriftChoice Drift(const OptionReader& args) {
    DriftChoice drift;
    const std::string* every = args.Find("--drift");
    const std::string* codes = args.Find("--drift-codes");
    if (!every) {
        if (codes) Usage("--drift-codes goes with --drift N");
        return drift;
    }
    drift.every = CountIn("--drift", *every, 1, 1000000);
    if (codes) {
        const std::size_t comma = codes->find(',');
        if (comma == std::string::npos) Usage("--drift-codes needs two hex words W1,W2, such as 01000,3EFFF, not " + Quoted(*codes));
        drift.lowCode = WordIn("--drift-codes", codes->substr(0, comma));
        drift.highCode = WordIn("--drift-codes", codes->substr(comma + 1));
        if (drift.lowCode >= drift.highCode) {
            Usage("--drift-codes needs the lower word first and the two different, not " + Quoted(*codes));
        }
    }
    return drift;
}

}  // namespace

CharacterizeCommand ParseCharacterizeCommand(const OptionReader& args, const GlobalOptions& global) {
    args.ExpectWords(0, "");
    CharacterizeCommand command;
    const std::string* meter = args.Find("--meter");
    if (!meter) {
        Usage("characterize needs --meter RESOURCE, such as --meter 192.168.1.20:5025 or --meter "
              "USB0::0x2A8D::0x0318::SERIAL::INSTR ('tarnelctl meters' lists the meters connected here)");
    }
    command.meter = ParseMeterTarget(*meter, args.Options(), "--meter");
    command.codes = CodeSet(args);
    if (const std::string* nplc = args.Find("--nplc")) {
        command.nplc = DecimalIn("--nplc", *nplc, kLeastNplc, kMostNplc, "power-line cycles from 0.02 to 100");
    }
    command.settle = Settle(args);
    command.settleMs = command.settle.ms;
    command.drift = Drift(args);
    if (const std::string* repeat = args.Find("--repeat")) {
        command.repeats = static_cast<unsigned>(CountIn("--repeat", *repeat, 1, kMostRepeats));
    }
    if (const std::string* avg = args.Find("--avg")) {
        const auto count = ParseCount(*avg);
        if (!count || *count < 1 || *count > kMostMeterSamples) {
            Usage("--avg needs a whole number of meter readings from 1 to " +
                  std::to_string(kMostMeterSamples) + ", not " + Quoted(*avg));
        }
        command.averaged = static_cast<unsigned>(*count);
    }
    if (command.settle.automatic && command.averaged < 2) {
        Usage("--settle auto needs --avg 2 or more: two readings agree within the spread their values show, "
              "and one value a reading shows none");
    }
    command.output = args.Output(global.json);
    if (const std::string* report = args.Find("--report")) command.reportFile = *report;
    if (const std::string* limits = args.Find("--limits")) {
        const auto parsed = ParseLinearityLimits(*limits);
        if (!parsed) {
            Usage("--limits needs NAME=VALUE pairs of inl, dnl (LSB), offset_mv (mV) and gain_pct (% FSR), "
                  "each once, such as inl=0.5,dnl=0.5,offset_mv=1,gain_pct=0.05, not " + Quoted(*limits));
        }
        command.limits = *parsed;
    }
    if (const std::string* park = args.Find("--park")) command.park = WordIn("--park", *park);
    return command;
}

}  // namespace tarnel::cli

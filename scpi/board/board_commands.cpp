#include "scpi/board_commands.h"

#include <vector>

#include "core/power_down_names.h"
#include "core/read_counts.h"
#include "scpi/command_call.h"
#include "scpi/keywords.h"
#include "scpi/reply_numbers.h"

namespace tarnel::scpi {

namespace {

std::string VoltsReply(double volts) { return Nr3(volts, kVoltsDigits); }

Bounds CodeBounds(const Instrument& instrument) {
    return {0, protocol::kDataMask, static_cast<double>(instrument.HighestCode()), 0};
}

Bounds LimitBounds(const Instrument& instrument) {
    const double ceiling = instrument.Ceiling();
    return {0, ceiling, ceiling, ceiling};
}

constexpr Bounds kAverageBounds{1, kMostReadsPerServedMeasurement, kMostReadsPerServedMeasurement, 1};

// The SCPI names of the off modes, in the order of the power-down table.
std::vector<std::string_view> OffModeNames() {
    std::vector<std::string_view> names;
    for (const PowerDownName& name : kPowerDownNames) {
        if (!name.scpi.empty()) names.push_back(name.scpi);
    }
    return names;
}

protocol::PowerDown OffModeIn(const Parameter& parameter) {
    const std::string_view chosen = OffModeNames()[ChoiceIn(parameter, OffModeNames())];
    for (const PowerDownName& name : kPowerDownNames) {
        if (name.scpi == chosen) return name.mode;
    }
    return protocol::PowerDown::ThreeState;
}

// A level change; a level above the limit also latches the QUEStionable
// voltage event of the connection that asked for it.
template <typename Change>
void SetLevel(CommandCall& call, Change change) {
    try {
        change();
    } catch (const LevelAboveLimit&) {
        call.Connection().status.questionable.Latch(kQuestionableVoltage);
        throw;
    }
}

// MEASure?'s optional range and resolution, as a DMM takes them: a number
// (in V), MIN, MAX, DEF, or AUTO. The board has one range and one
// resolution, so any of them measures the same way.
void MeasureParameters(const CommandCall& call) {
    call.AtMostParameters(2);
    for (const Parameter& parameter : call.Parameters()) {
        if (parameter.kind == Parameter::Kind::Character && NamesKeyword(parameter.text, "AUTO")) continue;
        NumberIn(parameter, Unit::Volts);
    }
}

}  // namespace

CommandTable BoardCommands(Instrument& instrument) {
    Instrument* const board = &instrument;
    InstrumentBasics basics;
    basics.identity = [board] { return board->Identity(); };
    basics.reset = [board] { board->Reset(); };
    basics.selfTest = [board] { return board->SelfTest(); };
    basics.questionableCondition = [board] {
        return static_cast<std::uint16_t>(board->BoardMissing() ? kQuestionableBoardMissing : 0);
    };

    std::vector<CommandRow> rows = {
        {"[SOURce:]VOLTage[:LEVel][:IMMediate][:AMPLitude]",
         [board](CommandCall& call) {
             const NumericValue volts = NumberIn(call.OneParameter(), Unit::Volts);
             SetLevel(call, [&] {
                 const double* number = std::get_if<double>(&volts);
                 board->SetLevelCode(number ? board->CodeForVolts(*number)
                                            : static_cast<std::uint64_t>(Resolved(volts, CodeBounds(*board))));
             });
         },
         [board](CommandCall& call) {
             const auto limit = call.QueriedLimit();
             if (!limit) return VoltsReply(board->LevelVolts());
             return VoltsReply(protocol::DacOutputVolts(static_cast<std::uint32_t>(Resolved(*limit, CodeBounds(*board)))));
         }},
        {"[SOURce:]VOLTage:LIMit[:AMPLitude]",
         [board](CommandCall& call) {
             board->SetLimit(Resolved(NumberIn(call.OneParameter(), Unit::Volts), LimitBounds(*board)));
         },
         [board](CommandCall& call) {
             const auto limit = call.QueriedLimit();
             return VoltsReply(limit ? Resolved(*limit, LimitBounds(*board)) : board->Limit());
         }},
        {"[SOURce:]DAC:CODE",
         [board](CommandCall& call) {
             const auto code = static_cast<std::uint64_t>(call.Whole(CodeBounds(*board)));
             SetLevel(call, [&] { board->SetLevelCode(code); });
         },
         [board](CommandCall& call) {
             const auto limit = call.QueriedLimit();
             return Nr1(static_cast<long long>(limit ? Resolved(*limit, CodeBounds(*board)) : board->LevelCode()));
         }},
        {"OUTPut[:STATe]", [board](CommandCall& call) { board->SetOutput(BooleanIn(call.OneParameter())); },
         [board](CommandCall& call) {
             call.NoParameter();
             return Nr1(board->OutputOn() ? 1 : 0);
         }},
        {"OUTPut:OFF:MODE", [board](CommandCall& call) { board->SetOffMode(OffModeIn(call.OneParameter())); },
         [board](CommandCall& call) {
             call.NoParameter();
             return std::string(NamesOf(board->OffMode()).scpi);
         }},
        {"MEASure[:VOLTage][:DC]", {},
         [board](CommandCall& call) {
             MeasureParameters(call);
             return VoltsReply(board->Measure());
         }},
        {"[SENSe:]AVERage:COUNt",
         [board](CommandCall& call) { board->SetAverageCount(static_cast<unsigned>(call.Whole(kAverageBounds))); },
         [board](CommandCall& call) {
             const auto limit = call.QueriedLimit();
             return Nr1(limit ? static_cast<long long>(Resolved(*limit, kAverageBounds)) : board->AverageCount());
         }},
    };
    return CommandTable(std::move(basics), std::move(rows));
}

}  // namespace tarnel::scpi

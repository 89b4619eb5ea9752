// An instrument's SCPI commands: one table, one row per command, each row its
// header and the handlers of its forms. The engine adds the commands every
// instrument answers alike (IEEE 488.2 common commands, SYSTem:ERRor,
// SYSTem:VERSion and the STATus subsystem) from the instrument's basics.
//
// How an instrument defines its table, and serves it (scpi/server/):
//
//   CommandTable MeterCommands(Meter& meter) {
//       InstrumentBasics basics;
//       basics.identity = [&meter] { return meter.Identity(); };   // *IDN?
//       basics.reset = [&meter] { meter.Reset(); };                // *RST
//       return CommandTable(std::move(basics), {
//           {"[SENSe:]AVERage:COUNt",                                // header
//            [&meter](CommandCall& call) {                           // setting form
//                meter.SetCount(static_cast<unsigned>(call.Whole({1, 100, 100, 1})));
//            },
//            [&meter](CommandCall& call) {                           // query form
//                call.NoParameter();
//                return Nr1(meter.Count());
//            }},
//           {"READ", {}, [&meter](CommandCall& call) {               // a query only
//                call.NoParameter();
//                return Nr3(meter.Read(), 6);
//            }},
//       });
//   }
//
//   Meter meter;   // outlives the instrument
//   ServedInstrument instrument(MeterCommands(meter), DispatchMode::OneAtATime);
//   ServerSettings settings;
//   settings.address = {"127.0.0.1", 5025};
//   RawSocketServer server(instrument, settings);   // raw_socket_server.h
//   if (auto failure = server.Listen()) ...;
//
// A header is keywords joined by ':', each in its long form with the short
// form in upper case ("VOLTage" answers to VOLT and VOLTAGE in any case),
// optional nodes in [ ]; a common command is one node, "*TRG". The setting
// handler runs the form without '?', the query handler the form with '?' and
// returns its answer; a form without a handler is an undefined header (-113).
// Handlers read their parameters through the CommandCall and refuse with
// ScpiFailure: a command error ends the message, a hardware failure (-240,
// -241) does not, and a query that fails so answers 9.91E+37. Any other
// exception is queued as -300 and taken as a hardware failure.
//
// Served one message at a time (DispatchMode::OneAtATime), the table and its
// handlers run on one thread at a time (the instrument's worker): what they
// capture needs no locking. What they capture must outlive the instrument.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tarnel::scpi {

class CommandCall;

using SettingHandler = std::function<void(CommandCall&)>;
using QueryHandler = std::function<std::string(CommandCall&)>;

struct CommandRow {
    std::string header;
    SettingHandler set;   // empty: no setting form
    QueryHandler query;   // empty: no query form
};

// What the common commands and the STATus subsystem take from the instrument.
struct InstrumentBasics {
    std::function<std::string()> identity;   // *IDN?: maker,model,serial,version
    std::function<void()> reset;             // *RST
    std::function<bool()> selfTest;          // *TST?: true when it passes; empty: always passes
    // *OPC, *OPC?, *WAI: returns once the operations under way are done (a
    // measurement that takes time); empty: every operation is done when its
    // command returns.
    std::function<void()> awaitOperations;
    // The conditions the instrument is in now, as STATus:QUEStionable and
    // STATus:OPERation bits; empty: none.
    std::function<std::uint16_t()> questionableCondition;
    std::function<std::uint16_t()> operationCondition;
};

class CommandTable {
public:
    CommandTable(InstrumentBasics basics, std::vector<CommandRow> rows);

    // The row whose header is these nodes (a common command is one node,
    // "*IDN") and that has the form asked for; nullptr when there is none.
    const CommandRow* Find(const std::vector<std::string_view>& nodes, bool query) const;

    const InstrumentBasics& Basics() const { return basics_; }

private:
    struct PatternNode {
        std::string keyword;     // as the header writes it: "VOLTage"
        std::string shortForm;   // "VOLT"
        bool optional = false;
    };
    using Pattern = std::vector<PatternNode>;
    static Pattern PatternOf(std::string_view header);
    static bool Matches(const Pattern& pattern, std::size_t p, const std::vector<std::string_view>& nodes, std::size_t n);

    InstrumentBasics basics_;
    std::vector<CommandRow> rows_;     // the common commands first, then the instrument's
    std::vector<Pattern> patterns_;    // the rows' headers, split once
};

}  // namespace tarnel::scpi

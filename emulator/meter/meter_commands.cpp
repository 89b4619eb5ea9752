#include "meter_commands.h"

#include <cmath>
#include <utility>
#include <vector>

#include "scpi/command_call.h"
#include "scpi/keywords.h"
#include "scpi/parameter_values.h"
#include "scpi/reply_numbers.h"

#include "meter_figures.h"

namespace tarnel::emulator {

namespace {

using scpi::CommandCall;
using scpi::CommandRow;
using scpi::ErrorCode;
using scpi::NumericLimit;
using scpi::Parameter;
using scpi::ScpiFailure;
using scpi::Unit;
using Held = std::function<SharedMeter::Session&()>;

constexpr const char* kMaker = "Velorn";
constexpr const char* kModel = "Tarnel Emulated DMM";
constexpr const char* kSerial = "0";

constexpr scpi::Bounds kCountBounds{1, kMostSamples, kMostSamples, 1};
constexpr scpi::Bounds kNplcBounds{kLeastNplc, kMostNplc, kMostNplc, kDefaultNplc};

ErrorCode CodeOf(MeterRefusal::Kind kind) {
    switch (kind) {
        case MeterRefusal::Kind::OutOfRange: return ErrorCode::DataOutOfRange;
        case MeterRefusal::Kind::InitIgnored: return ErrorCode::InitIgnored;
        case MeterRefusal::Kind::TriggerIgnored: return ErrorCode::TriggerIgnored;
        case MeterRefusal::Kind::TriggerDeadlock: return ErrorCode::TriggerDeadlock;
        case MeterRefusal::Kind::DataStale: return ErrorCode::DataStale;
        case MeterRefusal::Kind::TooMuchData: return ErrorCode::TooMuchData;
    }
    return ErrorCode::CommandError;
}

// The handler with the meter's refusals turned into their SCPI errors.
template <typename Handler>
Handler Refusing(Handler handler) {
    if (!handler) return handler;
    return [handler = std::move(handler)](CommandCall& call) {
        try {
            return handler(call);
        } catch (const MeterRefusal& refusal) {
            throw ScpiFailure(CodeOf(refusal.Which()), refusal.what());
        }
    };
}

std::string Boolean(bool on) { return on ? "1" : "0"; }

std::string Joined(const std::vector<double>& readings) {
    std::string line;
    for (const double reading : readings) line += (line.empty() ? "" : ",") + ReadingText(reading);
    return line;
}

bool IsName(const Parameter& parameter, std::string_view keyword) {
    return parameter.kind == Parameter::Kind::Character && scpi::NamesKeyword(parameter.text, keyword);
}

// A range parameter: a number of volts (the smallest range that holds it),
// MIN, MAX; AUTO and DEF (for CONFigure) stand for autorange: nothing.
std::optional<double> RangeIn(const Parameter& parameter, bool defaultIsAuto) {
    if (IsName(parameter, "AUTO")) return std::nullopt;
    const scpi::NumericValue value = scpi::NumberIn(parameter, Unit::Volts);
    if (const double* volts = std::get_if<double>(&value)) return std::fabs(*volts);
    switch (std::get<NumericLimit>(value)) {
        case NumericLimit::Minimum: return kMeterRanges.front();
        case NumericLimit::Maximum: return kMeterRanges.back();
        case NumericLimit::Default: break;
    }
    if (defaultIsAuto) return std::nullopt;
    return 10.0;
}

// A resolution parameter on range: volts, MIN (the finest), MAX (the
// coarsest); DEF: nothing (the default integration time).
std::optional<double> ResolutionIn(const Parameter& parameter, double range) {
    const scpi::NumericValue value = scpi::NumberIn(parameter, Unit::Volts);
    if (const double* volts = std::get_if<double>(&value)) return *volts;
    switch (std::get<NumericLimit>(value)) {
        case NumericLimit::Minimum: return ResolutionVolts(range, kMostNplc);
        case NumericLimit::Maximum: return ResolutionVolts(range, kLeastNplc);
        case NumericLimit::Default: break;
    }
    return std::nullopt;
}

// CONFigure:VOLTage[:DC] and MEASure:VOLTage[:DC]? [range|AUTO|MIN|MAX|DEF[,resolution|MIN|MAX|DEF]]
void Configure(CommandCall& call, MeterModel& model) {
    call.AtMostParameters(2);
    const auto& parameters = call.Parameters();
    const std::optional<double> range = parameters.empty() ? std::nullopt : RangeIn(parameters[0], true);
    const std::optional<double> resolution =
        parameters.size() < 2 ? std::nullopt : ResolutionIn(parameters[1], range.value_or(model.Range()));
    model.Configure(range, resolution);
}

std::string Read(SharedMeter::Session& session) {
    if (session.Model().Source() == TriggerSource::Bus) {
        throw MeterRefusal(MeterRefusal::Kind::TriggerDeadlock,
                           "READ? with the bus trigger cannot complete: use INIT, *TRG, FETC?");
    }
    session.Model().Initiate(session.Now());
    return Joined(session.AwaitReadings());
}

// "VOLT" or "VOLT:DC", quoted or not, any case, long or short.
void CheckFunction(const Parameter& parameter) {
    const std::string& text = parameter.text;
    const std::size_t colon = text.find(':');
    const bool volts = parameter.kind != Parameter::Kind::Decimal && parameter.kind != Parameter::Kind::NonDecimal &&
                       scpi::NamesKeyword(text.substr(0, colon), "VOLTage") &&
                       (colon == std::string::npos || scpi::NamesKeyword(text.substr(colon + 1), "DC"));
    if (!volts) {
        throw ScpiFailure(ErrorCode::IllegalParameterValue,
                          "'" + text + "': this meter measures DC volts only, \"VOLT\" or \"VOLT:DC\"");
    }
}

AutoZero AutoZeroIn(const Parameter& parameter) {
    if (IsName(parameter, "ONCE")) return AutoZero::Once;
    return scpi::BooleanIn(parameter) ? AutoZero::On : AutoZero::Off;
}

// A number reply or, with MIN, MAX or DEF, what that stands for.
std::string Figure(CommandCall& call, double present, double minimum, double maximum, double byDefault) {
    const std::optional<NumericLimit> limit = call.QueriedLimit();
    if (!limit) return ReadingText(present);
    return ReadingText(*limit == NumericLimit::Minimum ? minimum : *limit == NumericLimit::Maximum ? maximum : byDefault);
}

std::string Count(CommandCall& call, unsigned present) {
    const std::optional<NumericLimit> limit = call.QueriedLimit();
    return scpi::Nr1(limit ? static_cast<long long>(scpi::Resolved(*limit, kCountBounds)) : present);
}

std::vector<CommandRow> Rows(const Held& held) {
    const auto model = [held]() -> MeterModel& { return held().Model(); };
    const std::string voltage = "[SENSe:]VOLTage[:DC]";
    return {
        {"*TRG",
         [held](CommandCall& call) {
             call.NoParameter();
             held().Model().Trigger(held().Now());
         },
         {}},
        {"SYSTem:LFRequency", {},
         [](CommandCall& call) {
             call.NoParameter();
             return scpi::Nr1(static_cast<long long>(kLineFrequencyHz));
         }},
        {"CONFigure:VOLTage[:DC]", [model](CommandCall& call) { Configure(call, model()); }, {}},
        {"CONFigure", {},
         [model](CommandCall& call) {
             call.NoParameter();
             return "\"VOLT " + ReadingText(model().Range()) + "," + ReadingText(model().Resolution()) + "\"";
         }},
        {"MEASure:VOLTage[:DC]", {},
         [held](CommandCall& call) {
             Configure(call, held().Model());
             return Read(held());
         }},
        {"[SENSe:]FUNCtion[:ON]",
         [](CommandCall& call) { CheckFunction(call.OneParameter()); },
         [](CommandCall& call) {
             call.NoParameter();
             return std::string("\"VOLT\"");
         }},
        {voltage + ":RANGe[:UPPer]",
         [model](CommandCall& call) {
             const std::optional<double> range = RangeIn(call.OneParameter(), false);
             model().SetRange(range.value_or(10));
         },
         [model](CommandCall& call) {
             return Figure(call, model().Range(), kMeterRanges.front(), kMeterRanges.back(), 10);
         }},
        {voltage + ":RANGe:AUTO", [model](CommandCall& call) { model().SetAutoRange(scpi::BooleanIn(call.OneParameter())); },
         [model](CommandCall& call) {
             call.NoParameter();
             return Boolean(model().AutoRange());
         }},
        {voltage + ":NPLCycles", [model](CommandCall& call) { model().SetNplc(call.Number(Unit::None, kNplcBounds)); },
         [model](CommandCall& call) { return Figure(call, model().Nplc(), kLeastNplc, kMostNplc, kDefaultNplc); }},
        {voltage + ":RESolution",
         [model](CommandCall& call) {
             const std::optional<double> resolution = ResolutionIn(call.OneParameter(), model().Range());
             if (resolution) return model().SetResolution(*resolution);
             model().SetNplc(kDefaultNplc);
         },
         [model](CommandCall& call) {
             const double range = model().Range();
             return Figure(call, model().Resolution(), ResolutionVolts(range, kMostNplc),
                           ResolutionVolts(range, kLeastNplc), ResolutionVolts(range, kDefaultNplc));
         }},
        {voltage + ":ZERO:AUTO", [model](CommandCall& call) { model().SetAutoZero(AutoZeroIn(call.OneParameter())); },
         [model](CommandCall& call) {
             call.NoParameter();
             return Boolean(model().AutoZeroMode() == AutoZero::On);
         }},
        {"SYSTem:AZERo[:STATe]", [model](CommandCall& call) { model().SetAutoZero(AutoZeroIn(call.OneParameter())); },
         [model](CommandCall& call) {
             call.NoParameter();
             return Boolean(model().AutoZeroMode() == AutoZero::On);
         }},
        {"TRIGger:SOURce",
         [model](CommandCall& call) {
             const std::size_t choice = scpi::ChoiceIn(call.OneParameter(), {"IMMediate", "BUS"});
             model().SetSource(choice == 0 ? TriggerSource::Immediate : TriggerSource::Bus);
         },
         [model](CommandCall& call) {
             call.NoParameter();
             return std::string(model().Source() == TriggerSource::Bus ? "BUS" : "IMM");
         }},
        {"TRIGger:DELay",
         [model](CommandCall& call) {
             const Parameter& parameter = call.OneParameter();
             const bool automatic = IsName(parameter, "AUTO") || IsName(parameter, "DEFault");
             if (automatic) return model().SetDelay(std::nullopt);
             model().SetDelay(call.Number(Unit::None, {0, kLongestDelay, kLongestDelay, 0}));
         },
         [model](CommandCall& call) {
             const double automatic = AutoDelaySeconds(model().Nplc());
             return Figure(call, model().EffectiveDelay(), 0, kLongestDelay, automatic);
         }},
        {"TRIGger:DELay:AUTO",
         [model](CommandCall& call) {
             if (scpi::BooleanIn(call.OneParameter())) return model().SetDelay(std::nullopt);
             model().SetDelay(model().EffectiveDelay());
         },
         [model](CommandCall& call) {
             call.NoParameter();
             return Boolean(!model().Delay());
         }},
        {"SAMPle:COUNt", [model](CommandCall& call) { model().SetSampleCount(static_cast<unsigned>(call.Whole(kCountBounds))); },
         [model](CommandCall& call) { return Count(call, model().SampleCount()); }},
        {"TRIGger:COUNt", [model](CommandCall& call) { model().SetTriggerCount(static_cast<unsigned>(call.Whole(kCountBounds))); },
         [model](CommandCall& call) { return Count(call, model().TriggerCount()); }},
        {"INITiate[:IMMediate]",
         [held](CommandCall& call) {
             call.NoParameter();
             held().Model().Initiate(held().Now());
         },
         {}},
        {"INITiate:CONTinuous",
         [](CommandCall& call) {
             if (scpi::BooleanIn(call.OneParameter())) {
                 throw ScpiFailure(ErrorCode::IllegalParameterValue,
                                   "continuous initiation is not available: INIT:CONT OFF, then INIT or READ?");
             }
         },
         [](CommandCall& call) {
             call.NoParameter();
             return std::string("0");
         }},
        {"FETCh", {},
         [held](CommandCall& call) {
             call.NoParameter();
             return Joined(held().AwaitReadings());
         }},
        {"READ", {},
         [held](CommandCall& call) {
             call.NoParameter();
             return Read(held());
         }},
    };
}

// SCPI's OPERation bits of a meter: 4 while measuring, 5 while a trigger is awaited.
constexpr std::uint16_t kMeasuring = 1u << 4;
constexpr std::uint16_t kWaitingForTrigger = 1u << 5;

}  // namespace

std::string MeterIdentity() {
    return std::string(kMaker) + "," + kModel + "," + kSerial + "," + TARNEL_METER_VERSION;
}

scpi::CommandTable MeterCommands(std::function<SharedMeter::Session&()> held) {
    scpi::InstrumentBasics basics;
    basics.identity = [] { return MeterIdentity(); };
    basics.reset = [held] { held().Model().Reset(); };
    basics.awaitOperations = [held] { held().AwaitCompletion(); };
    basics.operationCondition = [held]() -> std::uint16_t {
        SharedMeter::Session& session = held();
        if (!session.Model().Measuring(session.Now())) return 0;
        return session.Model().AwaitsBusTrigger() ? kWaitingForTrigger : kMeasuring;
    };
    std::vector<CommandRow> rows = Rows(held);
    for (CommandRow& row : rows) {
        row.set = Refusing(std::move(row.set));
        row.query = Refusing(std::move(row.query));
    }
    return scpi::CommandTable(std::move(basics), std::move(rows));
}

}  // namespace tarnel::emulator

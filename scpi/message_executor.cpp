#include "scpi/message_executor.h"

#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

#include "scpi/message_parser.h"
#include "scpi/parameter_values.h"

namespace tarnel::scpi {

namespace {

constexpr const char* kNotANumber = "9.91E+37";
constexpr const char* kScpiVersion = "1999.0";
constexpr double kMostReads = 1024;
constexpr double kLargestMask = 255;

// NR3: the shortest decimal that reads back as the same double, "2.465E+00".
std::string Nr3(double value) {
    std::array<char, 64> text{};
    const auto written = std::to_chars(text.data(), text.data() + text.size(), value, std::chars_format::scientific);
    std::string result(text.data(), written.ptr);
    for (char& c : result) {
        if (c == 'e') c = 'E';
    }
    return result;
}

std::string Nr1(double value) { return std::to_string(static_cast<long long>(value)); }

// A whole-number parameter's range and what MIN, MAX and DEF stand for.
struct Bounds {
    double least;
    double most;
    double maximum;     // MAX
    double byDefault;   // DEF
};

double Resolved(const NumericValue& value, const Bounds& bounds) {
    if (const double* number = std::get_if<double>(&value)) return *number;
    switch (std::get<NumericLimit>(value)) {
        case NumericLimit::Minimum: return bounds.least;
        case NumericLimit::Maximum: return bounds.maximum;
        case NumericLimit::Default: break;
    }
    return bounds.byDefault;
}

class UnitRunner {
public:
    UnitRunner(const ProgramUnit& unit, ConnectionState& connection, Instrument& instrument, bool replyWaiting)
        : unit_(unit), connection_(connection), instrument_(instrument), replyWaiting_(replyWaiting) {}

    // The unit's answer when it is a query.
    std::optional<std::string> Run() {
        if (unit_.query) return Query();
        Set();
        return std::nullopt;
    }

private:
    std::string Query() {
        if (!TakesMinMaxDef()) NoParameter();
        switch (unit_.command) {
            case Command::Identify: return instrument_.Identity();
            case Command::EventEnable: return Nr1(connection_.status.EventEnable());
            case Command::EventStatus: return Nr1(connection_.status.TakeEvents());
            case Command::ServiceRequestEnable: return Nr1(connection_.status.ServiceRequestEnable());
            case Command::StatusByte:
                return Nr1(connection_.status.StatusByte(connection_.errors.Count() > 0, replyWaiting_));
            case Command::OperationComplete: return "1";
            case Command::SelfTest: return instrument_.SelfTest() ? "0" : "1";
            case Command::Level: {
                const auto limit = QueriedLimit();
                if (!limit) return Nr3(instrument_.LevelVolts());
                return Nr3(protocol::DacOutputVolts(static_cast<std::uint32_t>(Resolved(*limit, CodeBounds()))));
            }
            case Command::Limit: {
                const auto limit = QueriedLimit();
                if (!limit) return Nr3(instrument_.Limit());
                return Nr3(Resolved(*limit, LimitBounds()));
            }
            case Command::DacCode: {
                const auto limit = QueriedLimit();
                if (!limit) return Nr1(instrument_.LevelCode());
                return Nr1(Resolved(*limit, CodeBounds()));
            }
            case Command::Output: return instrument_.OutputOn() ? "1" : "0";
            case Command::OffMode: return OffModeName(instrument_.OffMode());
            case Command::Measure: return Nr3(instrument_.Measure());
            case Command::AverageCount: {
                const auto limit = QueriedLimit();
                return Nr1(limit ? Resolved(*limit, AverageBounds()) : instrument_.AverageCount());
            }
            case Command::NextError: return connection_.errors.PopEntry();
            case Command::ErrorCount: return Nr1(static_cast<double>(connection_.errors.Count()));
            case Command::Version: return kScpiVersion;
            default: break;
        }
        throw ScpiFailure(ErrorCode::UndefinedHeader, unit_.header);
    }

    void Set() {
        switch (unit_.command) {
            case Command::Reset: NoParameter(); return instrument_.Reset();
            case Command::ClearStatus:
                NoParameter();
                connection_.errors.Clear();
                return connection_.status.ClearEvents();
            case Command::EventEnable:
                return connection_.status.SetEventEnable(static_cast<std::uint8_t>(Whole(MaskBounds())));
            case Command::ServiceRequestEnable:
                return connection_.status.SetServiceRequestEnable(static_cast<std::uint8_t>(Whole(MaskBounds())));
            case Command::OperationComplete: NoParameter(); return connection_.status.RecordOperationComplete();
            case Command::Wait: return NoParameter();   // every operation is complete when its command returns
            case Command::Level: {
                const NumericValue volts = NumberIn(OneParameter(), Unit::Volts);
                const double* number = std::get_if<double>(&volts);
                return instrument_.SetLevelCode(number ? instrument_.CodeForVolts(*number)
                                                       : static_cast<std::uint32_t>(Resolved(volts, CodeBounds())));
            }
            case Command::Limit: {
                return instrument_.SetLimit(Resolved(NumberIn(OneParameter(), Unit::Volts), LimitBounds()));
            }
            case Command::DacCode: return instrument_.SetLevelCode(static_cast<std::uint32_t>(Whole(CodeBounds())));
            case Command::Output: return instrument_.SetOutput(BooleanIn(OneParameter()));
            case Command::OffMode: {
                static constexpr protocol::PowerDown kModes[] = {protocol::PowerDown::ThreeState,
                                                                 protocol::PowerDown::OneKToGround,
                                                                 protocol::PowerDown::HundredKToGround};
                return instrument_.SetOffMode(kModes[ChoiceIn(OneParameter(), {"HIZ", "R1K", "R100K"})]);
            }
            case Command::AverageCount:
                return instrument_.SetAverageCount(static_cast<unsigned>(Whole(AverageBounds())));
            default: break;
        }
        throw ScpiFailure(ErrorCode::UndefinedHeader, unit_.header);
    }

    // The queries that take an optional MIN, MAX or DEF; the others take nothing.
    bool TakesMinMaxDef() const {
        return unit_.command == Command::Level || unit_.command == Command::Limit || unit_.command == Command::DacCode ||
               unit_.command == Command::AverageCount;
    }

    Bounds CodeBounds() const { return {0, protocol::kDataMask, static_cast<double>(instrument_.HighestCode()), 0}; }
    Bounds LimitBounds() const {
        const double ceiling = instrument_.Ceiling();
        return {0, ceiling, ceiling, ceiling};
    }
    static Bounds AverageBounds() { return {1, kMostReads, kMostReads, 1}; }
    static Bounds MaskBounds() { return {0, kLargestMask, kLargestMask, 0}; }

    static const char* OffModeName(protocol::PowerDown mode) {
        switch (mode) {
            case protocol::PowerDown::OneKToGround: return "R1K";
            case protocol::PowerDown::HundredKToGround: return "R100K";
            default: return "HIZ";
        }
    }

    void NoParameter() const {
        if (!unit_.parameters.empty()) throw ScpiFailure(ErrorCode::ParameterNotAllowed, unit_.header + " takes no parameter");
    }

    const Parameter& OneParameter() const {
        if (unit_.parameters.empty()) throw ScpiFailure(ErrorCode::MissingParameter, unit_.header + " needs a value");
        if (unit_.parameters.size() > 1) {
            throw ScpiFailure(ErrorCode::ParameterNotAllowed, unit_.header + " takes one value");
        }
        return unit_.parameters.front();
    }

    // A query's optional MIN, MAX or DEF.
    std::optional<NumericLimit> QueriedLimit() const {
        if (unit_.parameters.empty()) return std::nullopt;
        const NumericValue value = NumberIn(OneParameter(), Unit::None);
        if (const NumericLimit* limit = std::get_if<NumericLimit>(&value)) return *limit;
        throw ScpiFailure(ErrorCode::IllegalParameterValue, unit_.header + " takes MIN, MAX or DEF");
    }

    // A whole number (a fraction is rounded) within bounds.
    double Whole(const Bounds& bounds) const {
        const double value = std::round(Resolved(NumberIn(OneParameter(), Unit::None), bounds));
        if (!(value >= bounds.least && value <= bounds.most)) {
            char text[96];
            std::snprintf(text, sizeof text, "%.15g is outside %.0f to %.0f", value, bounds.least, bounds.most);
            throw ScpiFailure(ErrorCode::DataOutOfRange, text);
        }
        return value;
    }

    const ProgramUnit& unit_;
    ConnectionState& connection_;
    Instrument& instrument_;
    bool replyWaiting_;
};

bool IsBoardFailure(ErrorCode code) { return code == ErrorCode::HardwareError || code == ErrorCode::HardwareMissing; }

std::optional<std::string> Joined(const std::vector<std::string>& answers) {
    if (answers.empty()) return std::nullopt;
    std::string line = answers.front();
    for (std::size_t i = 1; i < answers.size(); ++i) line += ";" + answers[i];
    return line;
}

}  // namespace

std::optional<std::string> ExecuteMessage(std::string_view message, ConnectionState& connection,
                                          Instrument& instrument) {
    const ParsedMessage parsed = ParseMessage(message);
    std::vector<std::string> answers;
    for (const ProgramUnit& unit : parsed.units) {
        try {
            if (auto answer = UnitRunner(unit, connection, instrument, !answers.empty()).Run()) {
                answers.push_back(std::move(*answer));
            }
        } catch (const ScpiFailure& failure) {
            connection.Report(failure.Code(), failure.what());
            if (!IsBoardFailure(failure.Code())) return Joined(answers);
            if (unit.query) answers.push_back(kNotANumber);
        }
    }
    if (parsed.error) connection.Report(parsed.error->code, parsed.error->detail);
    return Joined(answers);
}

}  // namespace tarnel::scpi

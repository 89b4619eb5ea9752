#include "scpi/message_executor.h"

#include <exception>
#include <vector>

#include "scpi/command_call.h"
#include "scpi/message_parser.h"
#include "scpi/reply_numbers.h"
#include "scpi/standard_commands.h"

namespace tarnel::scpi {

namespace {

// A failure of the instrument rather than of the message: the message goes on.
bool IsHardwareFailure(ErrorCode code) {
    return code == ErrorCode::HardwareError || code == ErrorCode::HardwareMissing ||
           code == ErrorCode::DeviceSpecificError;
}

// The unit's answer when it is a query.
std::optional<std::string> RunUnit(const ProgramUnit& unit, ConnectionState& connection, bool replyWaiting) {
    CommandCall call(unit, connection, replyWaiting);
    if (unit.query) return unit.row->query(call);
    unit.row->set(call);
    return std::nullopt;
}

std::optional<std::string> Joined(const std::vector<std::string>& answers) {
    if (answers.empty()) return std::nullopt;
    std::string line = answers.front();
    for (std::size_t i = 1; i < answers.size(); ++i) line += ";" + answers[i];
    return line;
}

}  // namespace

std::optional<std::string> ExecuteMessage(std::string_view message, const CommandTable& table,
                                          ConnectionState& connection) {
    const ParsedMessage parsed = ParseMessage(message, table);
    std::vector<std::string> answers;
    for (const ProgramUnit& unit : parsed.units) {
        UpdateConditions(table.Basics(), connection);
        try {
            if (auto answer = RunUnit(unit, connection, !answers.empty())) answers.push_back(std::move(*answer));
            UpdateConditions(table.Basics(), connection);
        } catch (const ScpiFailure& failure) {
            UpdateConditions(table.Basics(), connection);
            connection.Report(failure.Code(), failure.what());
            if (!IsHardwareFailure(failure.Code())) return Joined(answers);
            if (unit.query) answers.push_back(kNotANumber);
        } catch (const std::exception& failure) {
            // A handler that failed in a way it did not foresee: the client
            // still gets its error and its reply, and the server runs on.
            UpdateConditions(table.Basics(), connection);
            connection.Report(ErrorCode::DeviceSpecificError, failure.what());
            if (unit.query) answers.push_back(kNotANumber);
        }
    }
    if (parsed.error) connection.Report(parsed.error->code, parsed.error->detail);
    return Joined(answers);
}

void ReportDroppedLine(ConnectionState& connection) {
    connection.Report(ErrorCode::InputBufferOverrun,
                      "a line longer than " + std::to_string(InputLines::kLongestLine) + " bytes was dropped");
}

}  // namespace tarnel::scpi

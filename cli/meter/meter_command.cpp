#include "meter/meter_command.h"

#include <chrono>
#include <cstdio>
#include <memory>

#include "meter/meter_failure.h"
#include "meter/meter_target.h"
#include "output/report_json.h"
#include "scpi/client/instrument.h"

namespace tarnel::cli {

namespace {

constexpr auto kOpenTimeout = std::chrono::seconds(3);
// A query of any setting answers at once; a reading at 100 NPLC with
// autozero takes about 4 s.
constexpr auto kReplyTimeout = std::chrono::seconds(10);

bool IsQuery(const std::string& message) {
    const std::size_t last = message.find_last_not_of(" \t");
    return last != std::string::npos && message[last] == '?';
}

}  // namespace

MeterCommand ParseMeterCommand(const OptionReader& args, const GlobalOptions&) {
    const std::vector<std::string>& words = args.Words();
    if (words.empty()) Usage("meter needs a RESOURCE, such as USB0::0x2A8D::0x0318::SERIAL::INSTR");
    MeterCommand meter{ParseMeterTarget(words[0], args.Options(), "meter"), {words.begin() + 1, words.end()}};
    if (meter.messages.empty()) meter.messages.push_back("*IDN?");
    for (const std::string& message : meter.messages) {
        if (message.empty() || message.find_first_of("\r\n") != std::string::npos) {
            Usage("meter needs each MESSAGE on one line and not empty, not " + Quoted(message));
        }
    }
    return meter;
}

void TalkToMeter(const GlobalOptions& options, const MeterCommand& command) {
    QJsonArray replies;
    std::vector<std::string> errors;
    std::string resource = command.meter.resource.Text();
    try {
        scpi::client::Instrument meter(command.meter.resource, command.meter.connection, kOpenTimeout);
        resource = meter.Describe();
        for (const std::string& message : command.messages) {
            meter.Write(message);
            if (!IsQuery(message)) continue;
            const std::string reply = meter.Read(kReplyTimeout, message);
            if (options.json) {
                replies.append(QJsonObject{{"message", QString::fromStdString(message)},
                                           {"reply", QString::fromStdString(reply)}});
            } else {
                std::printf("%s\n", reply.c_str());
                std::fflush(stdout);
            }
        }
        errors = meter.ReadErrorQueue(kReplyTimeout);
    } catch (const scpi::client::InstrumentFailure& failure) {
        ThrowMeterFailure(failure);
    }
    if (options.json) {
        QJsonArray queue;
        for (const std::string& error : errors) queue.append(QString::fromStdString(error));
        PrintJson(QJsonObject{{"resource", QString::fromStdString(resource)}, {"replies", replies}, {"errors", queue}});
    }
    if (errors.empty()) return;
    std::string held;
    for (const std::string& error : errors) held += (held.empty() ? "" : "; ") + error;
    throw CommandFailure(ExitStatus::Failed, "the meter's error queue held " + std::to_string(errors.size()) +
                                                 " error(s): " + held + " — check the messages against the meter's "
                                                 "manual");
}

}  // namespace tarnel::cli

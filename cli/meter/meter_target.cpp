#include "meter/meter_target.h"

#include "command_line/usage_failure.h"

namespace tarnel::cli {

namespace {

namespace client = scpi::client;

std::string Quoted(const std::string& text) { return "'" + text + "'"; }

const std::string* Find(const std::map<std::string, std::string>& options, const std::string& name) {
    const auto found = options.find(name);
    return found == options.end() ? nullptr : &found->second;
}

}  // namespace

MeterTarget ParseMeterTarget(const std::string& resource, const std::map<std::string, std::string>& options,
                             const std::string& taker) {
    const auto parsed = client::ParseInstrumentResource(resource);
    if (!parsed) {
        UsageFailure(taker + " needs a resource such as 192.168.1.20:5025, TCPIP0::HOST::5025::SOCKET, "
                     "TCPIP0::HOST::inst0::INSTR, USB0::0x2A8D::0x0318::SERIAL::INSTR, "
                     "ASRL/dev/ttyUSB0::INSTR or GPIB0::22::INSTR "
                     "('tarnelctl meters' lists them), not " + Quoted(resource));
    }
    MeterTarget target{*parsed, {}};
    const bool serial = std::holds_alternative<client::SerialResource>(target.resource.where);
    const bool gpib = std::holds_alternative<client::GpibResource>(target.resource.where);
    if (const std::string* settings = Find(options, "--serial")) {
        if (!serial) UsageFailure("--serial goes with an RS-232 meter (ASRL/dev/ttyUSB0::INSTR or /dev/ttyUSB0)");
        const auto line = client::ParseSerialSettings(*settings);
        if (!line) {
            UsageFailure("--serial needs BAUD[,8N1][,none|rtscts|xonxoff|dtrdsr] with a standard baud rate, such as "
                         "9600 or 115200,8N1,rtscts, not " + Quoted(*settings));
        }
        target.connection.serial = *line;
    }
    if (const std::string* eol = Find(options, "--eol")) {
        if (!serial) UsageFailure("--eol goes with an RS-232 meter (ASRL/dev/ttyUSB0::INSTR or /dev/ttyUSB0)");
        const auto lineEnd = client::ParseLineEnd(*eol);
        if (!lineEnd) UsageFailure("--eol needs lf or crlf, not " + Quoted(*eol));
        target.connection.lineEnd = *lineEnd;
    }
    const std::string* adapter = Find(options, "--gpib-adapter");
    if (adapter) {
        if (!gpib) UsageFailure("--gpib-adapter goes with a GPIB meter (GPIB0::22::INSTR)");
        const auto where = client::ParseGpibAdapter(*adapter);
        if (!where) {
            UsageFailure("--gpib-adapter needs the adapter's device path such as /dev/ttyUSB0, or HOST[:PORT] of a "
                         "LAN adapter such as 192.168.1.30:1234, not " + Quoted(*adapter));
        }
        target.connection.gpibAdapter = *where;
    } else if (gpib) {
        UsageFailure("a GPIB meter is reached through an adapter: give --gpib-adapter /dev/ttyUSB0 or "
                     "--gpib-adapter HOST[:PORT]");
    }
    return target;
}

}  // namespace tarnel::cli

// Which meter a command talks to and how: the resource (--meter for
// characterize, the first word for meter) and the connection options that
// go with it — --serial BAUD[,8N1][,none|rtscts|xonxoff|dtrdsr] and --eol
// lf|crlf for an RS-232 resource, --gpib-adapter DEVICE|HOST[:PORT] for a
// GPIB one. Options that do not fit the resource are refused.
#pragma once

#include <map>
#include <string>

#include "scpi/client/connection_options.h"
#include "scpi/client/instrument_resource.h"

namespace tarnel::cli {

struct MeterTarget {
    scpi::client::InstrumentResource resource;
    scpi::client::ConnectionOptions connection;
};

// The options a command that talks to a meter takes besides the resource.
inline constexpr const char* kMeterConnectionOptions[] = {"--serial", "--eol", "--gpib-adapter"};

// `options` maps option names to values (other options are ignored here);
// `taker` names what took the resource in a message ("--meter", "meter").
// A malformed value or an option that does not fit throws CommandFailure(Usage).
MeterTarget ParseMeterTarget(const std::string& resource, const std::map<std::string, std::string>& options,
                             const std::string& taker);

}  // namespace tarnel::cli

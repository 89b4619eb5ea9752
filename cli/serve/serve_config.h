// The plan of tarnelctl serve: which boards it serves, each on which raw
// SCPI port and under which VXI-11 device name, and whom it admits. It comes
// from /etc/tarnel/scpi.conf, one line per board and an optional allow line:
//
//   # port path   raw port   VXI-11 device name (optional)
//   1-1.2         5025       inst0
//   1-1.3         5026
//   allow 192.168.1.0/24,fd00::/8
//
// or, without the file, from the boards attached and --listen.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "scpi/access/allow_list.h"
#include "scpi/listen_address.h"

namespace tarnel::cli {

inline constexpr std::string_view kServeConfigFile = "/etc/tarnel/scpi.conf";

struct ServedBoard {
    std::string portPath;         // USB port path, "1-1.2"
    std::uint16_t rawPort = 0;    // TCP port of its raw SCPI socket; 0: a free one the system picks
    std::string deviceName;       // its VXI-11 device name, "inst0"
    friend bool operator==(const ServedBoard&, const ServedBoard&) = default;
};

struct ServePlan {
    std::vector<ServedBoard> boards;                  // in the file's order, or in port-path order
    std::optional<scpi::access::AllowList> allow;     // the allow line; none without one
};

// A configuration that cannot be used: one line naming the file, the line
// number, the cause and the fix. tarnelctl exits 2 on it.
class ServeConfigError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The plan the file's text gives. A board line without a device name gets
// the lowest inst<N> that no line names. A file with no board line gives no
// boards (the boards attached are then planned as without a file). `fileName`
// starts each error. Throws ServeConfigError at the first bad line.
ServePlan ParseServeConfig(std::string_view text, std::string_view fileName);

// The plan in the file; nothing when there is no such file. Throws
// ServeConfigError when it cannot be read or a line is bad.
std::optional<ServePlan> ReadServeConfig(const std::string& fileName);

// The plan without a file: the boards in port-path order, the first on
// listen's port and each next one on the port after it, named inst0, inst1,
// ... With port 0 each board gets a free port. Throws ServeConfigError when
// the ports would run past 65535. Port paths are as IsUsbPortPath accepts.
ServePlan DefaultServePlan(std::vector<std::string> portPaths, const scpi::ListenAddress& listen);

// The plan of a board that arrived at a port path no line plans while
// serving: the first port from listen's on that none of `served` uses (any
// free one with port 0) and the lowest inst<N> none of them is named;
// nothing when the ports run past 65535.
std::optional<ServedBoard> PlanForArrival(const std::vector<ServedBoard>& served, const std::string& portPath,
                                          const scpi::ListenAddress& listen);

}  // namespace tarnel::cli

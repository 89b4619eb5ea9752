// USB port paths as tarnelctl reads and orders them: "1-1.2", the bus number,
// a dash, then the port numbers from the root hub down, separated by dots.
// A board keeps its path when it is plugged into the same port again.
#pragma once

#include <string_view>

namespace tarnel::cli {

// Whether text is a port path: bus 1 to 255, one to seven ports of 1 to 255,
// decimal without leading zeros.
bool IsUsbPortPath(std::string_view text);

// Port-path order: by bus, then port by port as numbers (1-2 before 1-10,
// 1-1 before 1-1.1). Only for texts IsUsbPortPath accepts.
bool UsbPortPathBefore(std::string_view left, std::string_view right);

}  // namespace tarnel::cli

// The USB port paths of the evaluation boards on the buses now, read from
// the system's device list without opening any board: cheap enough for
// tarnelctl serve to look every few seconds for a board that arrived, and to
// tell whether a lost board is back before it connects to anything.
#pragma once

#include <optional>
#include <set>
#include <string>

namespace tarnel::cli {

// The boards' port paths (vendor and product id of the board); nothing when
// libusb cannot list the devices (the reason in `error`). A board whose port
// path the system does not tell is left out.
std::optional<std::set<std::string>> AttachedBoardPaths(std::string& error);

}  // namespace tarnel::cli

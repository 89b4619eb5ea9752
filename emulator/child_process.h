// Runs the command board-emulator wraps and reports how it ended.
#pragma once

#include <string>
#include <vector>

namespace tarnel::emulator {

// Exit status of a command that could not be started (as shells use it).
inline constexpr int kCommandNotStarted = 127;

// Starts `command` (looked up in PATH) with this process's environment,
// passes SIGINT, SIGTERM, SIGHUP and SIGQUIT on to it while it runs, and
// returns its exit status, or 128 + n when signal n ended it.
int RunToCompletion(const std::vector<std::string>& command);

// Makes sanitized programs accept the umockdev preload ahead of their runtime:
// adds verify_asan_link_order=0 to ASAN_OPTIONS unless that key is present.
void AllowPreloadBeforeAsan();

}  // namespace tarnel::emulator

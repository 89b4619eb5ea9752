// Runs the command board-emulator wraps and reports how it ended.
#pragma once

#include <string>
#include <vector>

namespace tarnel::emulator {

// Exit status of a command that could not be started (as shells use it).
inline constexpr int kCommandNotStarted = 127;

// Holds SIGINT, SIGTERM, SIGHUP and SIGQUIT back from this process from now
// on: one that arrives while the board is set up waits, and goes to the
// command once it runs. Call once, before anything that must be undone.
void HoldForwardedSignals();

// Starts `command` (looked up in PATH) with this process's environment and
// the signal mask this process started with, passes SIGINT, SIGTERM, SIGHUP
// and SIGQUIT on to it while it runs (a held one as soon as it starts; one
// the terminal sends to the whole process group reaches it by itself; one
// this process was started ignoring stays ignored), and returns its exit
// status, or 128 + n when signal n ended it. The signals stay held after.
int RunToCompletion(const std::vector<std::string>& command);

// Makes sanitized programs accept the umockdev preload ahead of their runtime:
// adds verify_asan_link_order=0 to ASAN_OPTIONS unless that key is present.
void AllowPreloadBeforeAsan();

}  // namespace tarnel::emulator

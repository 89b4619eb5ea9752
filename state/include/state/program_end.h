// Ending the program at once: no further window handler runs, nothing is
// saved, the board-access library is not called again.
#pragma once

namespace tarnel {

enum ExitCode : int {
    kExitNormal = 0,               // main window closed, File, Exit
    kExitFirmwareLoadFailed = 1,   // the board start-up was refused
    kExitRunTimeError = 2,         // a run-time error reached the top-level report
};

// Flushes the standard streams and ends the process with exitCode.
[[noreturn]] void EndProgram(int exitCode);

// Tests replace the immediate process end with a hook of their own; the hook
// must not return (it throws, for instance). nullptr restores the real end.
using ProgramEndHook = void (*)(int exitCode);
void SetProgramEndHook(ProgramEndHook hook);

}  // namespace tarnel

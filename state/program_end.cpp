#include "state/program_end.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>

namespace tarnel {

namespace {
ProgramEndHook endHook = nullptr;
}

void SetProgramEndHook(ProgramEndHook hook) { endHook = hook; }

void EndProgram(int exitCode) {
    if (endHook != nullptr) {
        endHook(exitCode);
    }
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    // _Exit: no static destructors and no window handlers run after this.
    std::_Exit(exitCode);
}

}  // namespace tarnel

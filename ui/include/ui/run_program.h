// The body of both programs: the user-interface framework, the board-access
// library the build binds, the main window and Main.
#pragma once

#include "link/board_library.h"

namespace tarnel::ui {

// Starts the application, makes `library` the active board-access library,
// runs Main with the main window and then the event loop. Any run-time error
// that reaches this level is reported and ends the program.
int RunProgram(int argc, char** argv, link::BoardLibrary& library);

}  // namespace tarnel::ui

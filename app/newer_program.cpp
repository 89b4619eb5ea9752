// Tarnel(version2): the program bound to the newer board-access library,
// loaded from the absolute path fixed when the program was built.
#include "link/newer_library_binding.h"
#include "ui/run_program.h"

int main(int argc, char** argv) {
    static tarnel::link::NewerLibraryBinding library(TARNEL_NEWER_LIBRARY_PATH);
    return tarnel::ui::RunProgram(argc, argv, library);
}

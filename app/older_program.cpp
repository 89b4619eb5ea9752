// Tarnel: the program bound to the older board-access library, found by name
// beside the program or through the ordinary library search.
#include "link/older_library_binding.h"
#include "ui/run_program.h"

int main(int argc, char** argv) {
    static tarnel::link::OlderLibraryBinding library(tarnel::link::kOlderLibraryName);
    return tarnel::ui::RunProgram(argc, argv, library);
}

// Tarnel: the program bound to the older board-access library, found by name
// beside the program or through the ordinary library search.
#include "older_library_binding.h"
#include "run_program.h"

int main(int argc, char** argv) {
    static tarnel::link::OlderLibraryBinding library(tarnel::link::kOlderLibraryName);
    return tarnel::ui::RunProgram(argc, argv, library);
}

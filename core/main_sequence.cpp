#include "core/main_sequence.h"

#include <tarnel/board_protocol.h>

#include "state/declare.h"

namespace tarnel {

void Main(MainWindowShell& mainForm) {
    // Showing the window runs its load (word format, board start-up, normal
    // operation); a refused start-up ends the program inside this call.
    mainForm.ShowModeless();
    Declare::PowerDownMode = 0;
    Declare::DacWord = 0;
    Declare::WordLength = protocol::kDacRegisterLength;
}

}  // namespace tarnel

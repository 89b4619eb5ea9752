// tarnelctl characterize: the DAC measured code by code with a lab DMM on any
// of its connections, and its offset, gain, INL, DNL and monotonicity by the usual
// definitions. Every value, path and the meter are checked before the first
// write; the DAC is left at the park word however the run ends, unless the
// board has gone.
#pragma once

#include "command_line/command_failure.h"
#include "command_line/command_line.h"

namespace tarnel::cli {

// Returns ExitStatus::Done; a stop, a failure or a failed limit throws
// CommandFailure after the results of what was measured are out.
ExitStatus Characterize(const GlobalOptions& options, const CharacterizeCommand& command);

void RunCharacterizeCommand(const GlobalOptions& options, const CharacterizeCommand& command);

}  // namespace tarnel::cli

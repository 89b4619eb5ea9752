// Module Declare: the process-wide control state shared by the windows, the
// input-word encoding and the board link. Zero at process start, alive for the
// whole run, touched only by the user-interface thread.
#pragma once

#include <cstdint>

namespace Declare {

extern std::int32_t DacWord;        // data word before encoding, input word after
extern std::int16_t PowerDownMode;  // 0..3, selected by the power-down options
extern std::int32_t AdcCode;        // last read-back code, 0..4095
extern float OutputVoltage;         // last read-back voltage, volts
extern std::int16_t WordLength;     // DAC input shift register length, 24
extern std::int16_t Resolution;     // DAC resolution in bits, 18
extern std::int16_t LinkStatus;     // status of the latest board-access call
extern std::int32_t BoardHandle;    // handle of the connected board (newer library only)

// Puts every variable of the module back to its process-start value.
void ResetControlState();

}  // namespace Declare

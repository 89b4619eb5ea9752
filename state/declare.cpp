#include "state/declare.h"

namespace Declare {

std::int32_t DacWord = 0;
std::int16_t PowerDownMode = 0;
std::int32_t AdcCode = 0;
float OutputVoltage = 0.0f;
std::int16_t WordLength = 0;
std::int16_t Resolution = 0;
std::int16_t LinkStatus = 0;
std::int32_t BoardHandle = 0;

void ResetControlState() {
    DacWord = 0;
    PowerDownMode = 0;
    AdcCode = 0;
    OutputVoltage = 0.0f;
    WordLength = 0;
    Resolution = 0;
    LinkStatus = 0;
    BoardHandle = 0;
}

}  // namespace Declare

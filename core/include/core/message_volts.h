// A voltage in a message to the user, in both front ends: six significant
// digits and the unit, "3.3 V", "4.92998 V".
#pragma once

#include <string>

namespace tarnel {

std::string MessageVolts(double volts);

}  // namespace tarnel

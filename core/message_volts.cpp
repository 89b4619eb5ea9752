#include "core/message_volts.h"

#include <cstdio>

namespace tarnel {

std::string MessageVolts(double volts) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g V", volts);
    return text;
}

}  // namespace tarnel

// The DAC's power-down modes by name, as each front end spells them: on
// tarnelctl's command line (--mode normal, 1k, 100k, hiz) and in SCPI
// (OUTPut:OFF:MODE R1K, R100K, HIZ: the modes an output that is off takes;
// normal operation is no off mode and has no SCPI name).
#pragma once

#include <array>
#include <string_view>

#include <tarnel/board_protocol.h>

namespace tarnel {

struct PowerDownName {
    protocol::PowerDown mode;
    std::string_view commandLine;
    std::string_view scpi;   // empty: no SCPI name
};

inline constexpr std::array<PowerDownName, 4> kPowerDownNames{{
    {protocol::PowerDown::Normal, "normal", ""},
    {protocol::PowerDown::OneKToGround, "1k", "R1K"},
    {protocol::PowerDown::HundredKToGround, "100k", "R100K"},
    {protocol::PowerDown::ThreeState, "hiz", "HIZ"},
}};

// The names of a mode (every mode has its row).
constexpr const PowerDownName& NamesOf(protocol::PowerDown mode) {
    for (const PowerDownName& names : kPowerDownNames) {
        if (names.mode == mode) return names;
    }
    return kPowerDownNames.front();
}

}  // namespace tarnel

// The instrument the VXI-11 tests serve: the engine's standard commands and
//   VALue <n> / VALue?   a number kept per instrument
//   SLOW? <ms>           answers "DONE" after that many milliseconds
//   *TRG, TRIGgers?      counts the triggers
#pragma once

#include <atomic>
#include <string>

#include "scpi/command_table.h"

namespace tarnel::vxi11::test {

struct TestInstrument {
    std::string identity;   // *IDN? answer
    std::atomic<int> value{0};
    std::atomic<int> triggers{0};
};

scpi::CommandTable TestInstrumentCommands(TestInstrument& instrument);

}  // namespace tarnel::vxi11::test

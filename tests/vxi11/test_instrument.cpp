#include "test_instrument.h"

#include <chrono>
#include <thread>

#include "scpi/command_call.h"
#include "scpi/reply_numbers.h"

namespace tarnel::vxi11::test {

scpi::CommandTable TestInstrumentCommands(TestInstrument& instrument) {
    scpi::InstrumentBasics basics;
    basics.identity = [&instrument] { return instrument.identity; };
    basics.reset = [&instrument] { instrument.value = 0; };
    return scpi::CommandTable(std::move(basics), {
        {"VALue",
         [&instrument](scpi::CommandCall& call) { instrument.value = static_cast<int>(call.Whole({-1e6, 1e6, 1e6, 0})); },
         [&instrument](scpi::CommandCall& call) {
             call.NoParameter();
             return scpi::Nr1(instrument.value);
         }},
        {"SLOW", {},
         [](scpi::CommandCall& call) {
             std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(call.Whole({0, 10000, 10000, 1000}))));
             return std::string("DONE");
         }},
        {"*TRG", [&instrument](scpi::CommandCall& call) {
             call.NoParameter();
             ++instrument.triggers;
         }, {}},
        {"TRIGgers", {}, [&instrument](scpi::CommandCall& call) {
             call.NoParameter();
             return scpi::Nr1(instrument.triggers);
         }},
    });
}

}  // namespace tarnel::vxi11::test

// The engine with a table of its own, as a second instrument would define
// one: rows run their handlers, a form without a handler is undefined, and
// a handler's failures reach the client as errors and replies; the
// instrument's conditions reach each connection's STATus registers.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "scpi/command_call.h"
#include "scpi/message_executor.h"
#include "scpi/reply_numbers.h"

namespace tarnel::scpi {
namespace {

struct Meter {
    double range = 10;
    std::uint16_t questionable = 0;
    int resets = 0;
};

CommandTable MeterTable(Meter& meter) {
    InstrumentBasics basics;
    basics.identity = [] { return std::string("Maker,Meter,1,0.1"); };
    basics.reset = [&meter] { ++meter.resets; };
    basics.questionableCondition = [&meter] { return meter.questionable; };
    return CommandTable(std::move(basics), {
        {"[SENSe:]VOLTage:RANGe",
         [&meter](CommandCall& call) { meter.range = call.Number(Unit::Volts, {0.1, 100, 100, 10}); },
         [&meter](CommandCall& call) {
             call.NoParameter();
             return Nr3(meter.range, 6);
         }},
        {"READ", {}, [](CommandCall&) -> std::string { throw ScpiFailure(ErrorCode::HardwareError, "no signal"); }},
        {"FETCh", {}, [](CommandCall&) -> std::string { throw std::runtime_error("unforeseen"); }},
        {"ABORt", [](CommandCall&) { throw ScpiFailure(ErrorCode::DataOutOfRange, "refused"); }, {}},
    });
}

TEST(TableExecutorTest, RowsRunTheirHandlersAndFailuresReachTheClient) {
    Meter meter;
    const CommandTable table = MeterTable(meter);
    ConnectionState connection;
    const auto send = [&](const char* message) { return ExecuteMessage(message, table, connection).value_or("<none>"); };

    EXPECT_EQ(send("*IDN?;:VOLT:RANG 500 MV;RANG?;:SENS:VOLT:RANG? ;*RST"), "Maker,Meter,1,0.1;5E-01;5E-01");
    EXPECT_EQ(meter.resets, 1);
    EXPECT_EQ(send("READ?;FETC?;*OPC?"), "9.91E+37;9.91E+37;1") << "the message goes on";
    EXPECT_EQ(send("ABOR;*OPC?"), "<none>") << "a refusal ends the message";
    EXPECT_EQ(send("READ;ABOR?;VOLT:RANG 1000"), "<none>");
    EXPECT_EQ(send("SYST:ERR:ALL?"),
              "-240,\"Hardware error;no signal\",-300,\"Device-specific error;unforeseen\","
              "-222,\"Data out of range;refused\",-113,\"Undefined header;READ\"");

    meter.questionable = 0x0100;
    EXPECT_EQ(send("STAT:QUES:COND?;EVEN?;EVEN?"), "256;256;0");
    meter.questionable = 0;
    EXPECT_EQ(send("STAT:QUES:COND?;EVEN?"), "0;0");
}

}  // namespace
}  // namespace tarnel::scpi

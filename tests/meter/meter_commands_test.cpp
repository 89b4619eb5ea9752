#include "meter_client.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "meter_figures.h"
#include "shared_meter.h"

namespace {

using namespace tarnel::emulator;
using namespace std::chrono_literals;

// A meter so fast that every reading is ready at once, on a constant input.
struct Bench {
    explicit Bench(double volts = 2.465, double speed = 1e12) : meter({[volts](const MeterModel::Aperture&) { return volts; }, speed, 1}) {}

    std::optional<std::string> Send(MeterClient& client, const std::string& message) {
        return client.Run({message, false});
    }

    SharedMeter meter;
    MeterClient client{meter};
};

std::vector<double> Numbers(const std::string& reply) {
    std::vector<double> values;
    std::size_t start = 0;
    while (start <= reply.size()) {
        const std::size_t comma = std::min(reply.find(',', start), reply.size());
        values.push_back(std::strtod(reply.substr(start, comma - start).c_str(), nullptr));
        start = comma + 1;
    }
    return values;
}

TEST(MeterCommandsTest, SettingsAnswerAsTheyWereSetInAnySpelling) {
    const struct {
        const char* message;
        const char* reply;
    } cases[] = {
        {"*IDN?", "Velorn,Tarnel Emulated DMM,0," TARNEL_METER_VERSION},
        {":conf:volt:dc 1,1e-5;:CONF?", "\"VOLT +1.00000000E+00,+1.00000000E-05\""},
        {"CONFIGURE:VOLTAGE MAX,MIN;:CONF?", "\"VOLT +1.00000000E+03,+3.00000000E-04\""},
        {"CONF:VOLT AUTO,DEF;:VOLT:RANG:AUTO?;:VOLT:NPLC?", "1;+1.00000000E+01"},
        {"VOLT:RANG 0.5;RANG?;RANG? MAX;RANG:AUTO?", "+1.00000000E+00;+1.00000000E+03;0"},
        {"SENS:VOLT:DC:RANG:UPP 150 V;UPP?", "+1.00000000E+03"},
        {"VOLT:RANG 2500 mV;RANG?", "+1.00000000E+01"},
        {"SENS:VOLT:DC:RES 1e-4;:VOLT:NPLC?;RES?", "+2.00000000E-01;+1.00000000E-04"},
        {"VOLT:NPLC 3;NPLC?;NPLC? MIN;NPLC? DEF", "+3.00000000E+00;+2.00000000E-02;+1.00000000E+01"},
        {"VOLT:ZERO:AUTO ONCE;AUTO?;:SYST:AZER?", "0;0"},
        {"syst:azer:stat on;stat?;:VOLT:ZERO:AUTO?", "1;1"},
        {"TRIG:DEL AUTO;DEL?;DEL:AUTO?", "+1.50000000E-03;1"},
        {"TRIG:DEL 0.5;DEL?;DEL:AUTO?", "+5.00000000E-01;0"},
        {"SAMP:COUN 3;COUN?;COUN? MAX;:TRIG:COUN 7;COUN?", "3;50000;7"},
        {"TRIG:SOUR bus;SOUR?;:TRIG:SOUR IMMEDIATE;SOUR?", "BUS;IMM"},
        {"FUNC 'VOLT:DC';FUNC?;:SENS:FUNC \"voltage\";FUNC?", "\"VOLT\";\"VOLT\""},
        {"INIT:CONT OFF;CONT?;:SYST:LFR?", "0;50"},
        {"*RST;*OPC?;:VOLT:RANG?;:STAT:OPER:COND?", "1;+1.00000000E+01;0"},
        {"TRIG:SOUR BUS;:INIT;:STAT:OPER:COND?;:STAT:OPER?", "32;32"},
    };
    for (const auto& c : cases) {
        Bench bench;
        EXPECT_EQ(bench.Send(bench.client, c.message), c.reply) << c.message;
        EXPECT_EQ(bench.Send(bench.client, "SYST:ERR?"), "0,\"No error\"") << c.message;
    }
}

TEST(MeterCommandsTest, WhatCannotBeDoneIsQueuedAsItsErrorAndNeverWaitedFor) {
    const struct {
        const char* message;
        const char* error;   // the start of the queued entry
    } cases[] = {
        {"FETC?", "-230,"},
        {"INIT;:VOLT:NPLC 1;:FETC?", "-230,"},
        {"TRIG:SOUR BUS;:READ?", "-214,"},
        {"TRIG:SOUR BUS;:INIT;:FETC?", "-214,"},
        {"*TRG", "-211,"},
        {"TRIG:SOUR BUS;:INIT;:INIT", "-213,"},
        {"SAMP:COUN 50000;:TRIG:COUN 2;:INIT", "-223,"},
        {"VOLT:RANG 1201", "-222,"},
        {"VOLT:NPLC 0.01", "-222,"},
        {"VOLT:RES 1e-7", "-222,"},
        {"SAMP:COUN 0", "-222,"},
        {"TRIG:DEL -1", "-222,"},
        {"FUNC \"CURR\"", "-224,"},
        {"TRIG:SOUR EXT", "-224,"},
        {"INIT:CONT ON", "-224,"},
        {"VOLT:AC?", "-113,"},
        {"MEAS:CURR?", "-113,"},
        {"VOLT:RANG 1 A", "-131,"},
        {"CONF:VOLT 10,1e-5,2", "-108,"},
        {"VOLT:NPLC", "-109,"},
        {"READ? 5", "-108,"},
        {"CONF:VOLT 10;;:READ?!", "-102,"},
    };
    for (const auto& c : cases) {
        Bench bench;
        EXPECT_EQ(bench.Send(bench.client, c.message), std::nullopt) << c.message;
        const std::optional<std::string> error = bench.Send(bench.client, "SYST:ERR?");
        EXPECT_TRUE(error && error->starts_with(c.error)) << c.message << ": " << error.value_or("no reply");
    }
}

TEST(MeterCommandsTest, ReadingsAreTheInputWithinTheNoiseAndOverRangeBeyondTheRange) {
    const struct {
        double volts;
        const char* message;
        std::size_t count;
        double expected;
        double tolerance;
    } cases[] = {
        {2.465, "MEAS:VOLT:DC? DEF,DEF", 1, 2.465, 10e-6},
        {2.465, "MEAS:VOLT? 10,MAX", 1, 2.465, 400e-6},
        {2.465, "SAMP:COUN 4;:READ?", 4, 2.465, 10e-6},
        {-0.05, "MEAS:VOLT? 0.1", 1, -0.05, 1e-6},
        {2.465, "MEAS:VOLT? 1", 1, kOverRangeReading, 0},
        {-2.465, "VOLT:RANG 1;:READ?", 1, -kOverRangeReading, 0},
        {2.465, "TRIG:SOUR BUS;:SAMP:COUN 2;:TRIG:COUN 2;:INIT;*TRG;*WAI;*TRG;:FETC?", 4, 2.465, 10e-6},
    };
    for (const auto& c : cases) {
        Bench bench(c.volts);
        const std::optional<std::string> reply = bench.Send(bench.client, c.message);
        ASSERT_TRUE(reply) << c.message;
        const std::vector<double> readings = Numbers(*reply);
        EXPECT_EQ(readings.size(), c.count) << *reply;
        for (const double reading : readings) EXPECT_NEAR(reading, c.expected, c.tolerance) << c.message;
        EXPECT_EQ(bench.Send(bench.client, "SYST:ERR?"), "0,\"No error\"") << c.message;
    }
}

TEST(MeterCommandsTest, EachClientHasItsOwnErrorsButTheyShareTheMeter) {
    Bench bench;
    MeterClient other(bench.meter);
    bench.Send(bench.client, "VOLT:RANG 100;:BOGUS");
    EXPECT_EQ(bench.Send(other, "SYST:ERR?;:VOLT:RANG?"), "0,\"No error\";+1.00000000E+02");
    EXPECT_EQ(bench.Send(bench.client, "SYST:ERR:COUN?"), "1");
    bench.Send(other, "TRIG:SOUR BUS;:INIT");
    bench.Send(bench.client, "*TRG");
    EXPECT_EQ(Numbers(bench.Send(other, "FETC?").value_or("")).size(), 1u);
}

TEST(MeterCommandsTest, AStoppedMeterEndsAWaitingMessageAndServesNoMore) {
    Bench bench(1.0, 1);   // real time: 1000 readings of 4 s
    auto reading = std::async(std::launch::async, [&bench] {
        return bench.Send(bench.client, "VOLT:NPLC 100;:SAMP:COUN 1000;:READ?");
    });
    MeterClient watcher(bench.meter);
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (bench.Send(watcher, "STAT:OPER:COND?") != "16" && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(1ms);
    }
    bench.meter.Stop();
    ASSERT_EQ(reading.wait_for(30s), std::future_status::ready);
    // The engine answers a query that could not finish with not-a-number.
    EXPECT_EQ(reading.get(), "9.91E+37");
    EXPECT_THROW(bench.Send(watcher, "*IDN?"), MeterStopped);
}

}  // namespace

#include "command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

namespace {

using namespace tarnel::emulator;

TEST(EmulatorCommandLineTest, ParsesEveryOptionAndTheCommand) {
    const auto parsed = ParseCommandLine({"--no-board", "--unplug-after", "4", "--stall", "0xDA", "--stall", "a0",
                                          "--timeout", "0XDD", "--noise", "--boards", "3", "--replug-every", "5000", "--", "prog",
                                          "--stall", "x"});
    const auto* run = std::get_if<EmulatorRun>(&parsed);
    ASSERT_NE(run, nullptr);
    EXPECT_TRUE(run->options.noBoard && run->options.noise);
    EXPECT_EQ(run->options.unplugAfter, 4u);
    EXPECT_EQ(run->options.stallRequests, (std::set<std::uint8_t>{0xDA, 0xA0}));
    EXPECT_EQ(run->options.timeoutRequests, (std::set<std::uint8_t>{0xDD}));
    EXPECT_EQ(run->options.boards, 3u);
    EXPECT_EQ(run->options.replugEvery, 5000u);
    EXPECT_EQ(run->command, (std::vector<std::string>{"prog", "--stall", "x"}));

    const auto healthy = std::get<EmulatorRun>(ParseCommandLine({"--", "true"})).options;
    EXPECT_FALSE(healthy.noBoard || healthy.noise || healthy.unplugAfter || healthy.replugEvery);
    EXPECT_EQ(healthy.boards, 1u);
    EXPECT_TRUE(healthy.stallRequests.empty() && healthy.timeoutRequests.empty());
    EXPECT_TRUE(std::holds_alternative<HelpRequested>(ParseCommandLine({"--help"})));
    EXPECT_FALSE(std::get<EmulatorRun>(ParseCommandLine({"--", "true"})).meter);
}

TEST(EmulatorCommandLineTest, TheMeterListensWhereToldAtTheSpeedAsked) {
    const struct {
        std::vector<std::string> arguments;
        std::string address;
        double speed;
    } cases[] = {
        {{"--meter", "5025"}, "127.0.0.1:5025", 1},
        {{"--meter-speed", "1e3", "--meter", "0"}, "127.0.0.1:0", 1000},
        {{"--meter", "0.0.0.0:80", "--meter-speed", "2.5"}, "0.0.0.0:80", 2.5},
        {{"--meter", "[::1]:5025"}, "[::1]:5025", 1},
    };
    for (const auto& c : cases) {
        std::vector<std::string> arguments = c.arguments;
        arguments.insert(arguments.end(), {"--", "prog"});
        const auto parsed = ParseCommandLine(arguments);
        const auto* run = std::get_if<EmulatorRun>(&parsed);
        ASSERT_TRUE(run && run->meter) << c.address;
        ASSERT_TRUE(run->meter->address) << c.address;
        EXPECT_EQ(run->meter->address->Text(), c.address);
        EXPECT_EQ(run->meter->speed, c.speed);
    }
}

TEST(EmulatorCommandLineTest, TheMeterAnswersOnEveryConnectionAsked) {
    const auto parsed = ParseCommandLine({"--meter-usb", "--meter-tty", "/tmp/m,115200", "--meter-gpib", "/tmp/g",
                                          "--meter-speed", "100", "--", "prog"});
    const auto* run = std::get_if<EmulatorRun>(&parsed);
    ASSERT_TRUE(run && run->meter && run->meterUsb);
    EXPECT_FALSE(run->meter->address);
    EXPECT_EQ(run->meterUsb->productId, kDefaultMeterProductId);
    EXPECT_EQ(run->meterUsb->serial, "EMU0001");
    ASSERT_TRUE(run->meter->tty && run->meter->gpib);
    EXPECT_EQ(run->meter->tty->link, "/tmp/m");
    EXPECT_EQ(run->meter->tty->baud, 115200u);
    EXPECT_EQ(run->meter->gpib->link, "/tmp/g");
    EXPECT_EQ(run->meter->gpib->address, 22u);
    EXPECT_EQ(run->meter->speed, 100);

    const auto ids = ParseCommandLine({"--meter-usb", "0x2A8D:0318:MY123", "--meter-gpib", "/tmp/g,7", "--", "prog"});
    const auto* other = std::get_if<EmulatorRun>(&ids);
    ASSERT_TRUE(other && other->meterUsb && other->meter && other->meter->gpib);
    EXPECT_EQ(other->meterUsb->vendorId, 0x2A8D);
    EXPECT_EQ(other->meterUsb->productId, 0x0318);
    EXPECT_EQ(other->meterUsb->serial, "MY123");
    EXPECT_EQ(other->meter->gpib->address, 7u);
    EXPECT_FALSE(other->meterUsb->unplugAfter);
    const auto leaving = ParseCommandLine({"--meter-unplug-after", "14", "--meter-usb", "--", "prog"});
    ASSERT_TRUE(std::holds_alternative<EmulatorRun>(leaving));
    EXPECT_EQ(std::get<EmulatorRun>(leaving).meterUsb->unplugAfter, 14u);
}

TEST(EmulatorCommandLineTest, RejectsBadUsageWithOneLineNamingTheProblem) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{}, "missing '-- COMMAND'"},
        {{"--noise"}, "missing '-- COMMAND'"},
        {{"--"}, "no COMMAND"},
        {{"--bogus", "--", "x"}, "unknown option '--bogus'"},
        {{"--stall"}, "--stall needs a value"},
        {{"--stall", "0x100", "--", "x"}, "hex"},
        {{"--timeout", "0x", "--", "x"}, "hex"},
        {{"--timeout", "DAX", "--", "x"}, "hex"},
        {{"--unplug-after", "-1", "--", "x"}, "request count"},
        {{"--unplug-after", "3x", "--", "x"}, "request count"},
        {{"--replug-every", "0", "--", "x"}, "at least 1"},
        {{"--replug-every", "many", "--", "x"}, "at least 1"},
        {{"--boards", "0", "--", "x"}, "number of boards from 1"},
        {{"--boards", "17", "--", "x"}, "number of boards from 1"},
        {{"--dac-errors", "/nonexistent/errors.txt", "--", "x"}, "--dac-errors /nonexistent/errors.txt: cannot read"},
        {{"--meter", "localhost:5025", "--", "x"}, "--meter needs a port"},
        {{"--meter", "70000", "--", "x"}, "--meter needs a port"},
        {{"--meter", "::1:5025", "--", "x"}, "--meter needs a port"},
        {{"--meter", "5025", "--meter-speed", "0", "--", "x"}, "positive factor"},
        {{"--meter", "5025", "--meter-speed", "inf", "--", "x"}, "positive factor"},
        {{"--meter-speed", "10", "--", "x"}, "--meter-speed needs a meter"},
        {{"--meter-usb", "1209", "--", "x"}, "--meter-usb needs VID:PID"},
        {{"--meter-usb", "1209:10000", "--", "x"}, "--meter-usb needs VID:PID"},
        {{"--meter-usb", "1209:B212:", "--", "x"}, "--meter-usb needs VID:PID"},
        {{"--meter-usb", "1209:B212:A B", "--", "x"}, "--meter-usb needs VID:PID"},
        {{"--meter-tty", ",9600", "--", "x"}, "--meter-tty needs LINK"},
        {{"--meter-tty", "/tmp/m,9601", "--", "x"}, "standard rate"},
        {{"--meter-gpib", "/tmp/g,31", "--", "x"}, "from 0 to 30"},
        {{"--meter-gpib", "/tmp/g,x", "--", "x"}, "from 0 to 30"},
        {{"--meter", "0", "--meter-unplug-after", "3", "--", "x"}, "--meter-unplug-after needs --meter-usb"},
        {{"--meter-usb", "--meter-unplug-after", "x", "--", "x"}, "message count"},
    };
    for (const auto& [arguments, cause] : cases) {
        const auto parsed = ParseCommandLine(arguments);
        const auto* error = std::get_if<UsageError>(&parsed);
        ASSERT_NE(error, nullptr) << cause;
        EXPECT_NE(error->message.find(cause), std::string::npos) << error->message;
        EXPECT_NE(error->message.find("usage: board-emulator"), std::string::npos);
        EXPECT_EQ(error->message.find('\n'), std::string::npos);
    }
}

TEST(EmulatorCommandLineTest, ReadsTheDacErrorsFileAndNamesItsBadLine) {
    const std::string path = ::testing::TempDir() + "emulator_dac_errors.txt";
    std::ofstream(path) << "offset_uv = 25\nbit3_lsb = -0.5\n";
    const auto parsed = ParseCommandLine({"--dac-errors", path, "--", "x"});
    ASSERT_TRUE(std::holds_alternative<EmulatorRun>(parsed));
    const DacErrors& errors = std::get<EmulatorRun>(parsed).options.dacErrors;
    EXPECT_EQ(errors.offsetUv, 25);
    EXPECT_EQ(errors.bitLsb[3], -0.5);

    // The profile's seed seeds the meter's own noise; without one the meter keeps its fixed seed.
    const auto unseeded = ParseCommandLine({"--dac-errors", path, "--meter", "0", "--", "x"});
    ASSERT_TRUE(std::holds_alternative<EmulatorRun>(unseeded));
    EXPECT_EQ(std::get<EmulatorRun>(unseeded).meter->noiseSeed, MeterModel::Setup{}.noiseSeed);
    std::ofstream(path) << "seed = 9\n";
    const auto seeded = ParseCommandLine({"--meter", "0", "--dac-errors", path, "--", "x"});
    ASSERT_TRUE(std::holds_alternative<EmulatorRun>(seeded));
    EXPECT_EQ(std::get<EmulatorRun>(seeded).meter->noiseSeed, 9u);

    std::ofstream(path) << "offset_uv = 25\nbit3_lsb = half\n";
    const auto refused = ParseCommandLine({"--dac-errors", path, "--", "x"});
    ASSERT_TRUE(std::holds_alternative<UsageError>(refused));
    EXPECT_NE(std::get<UsageError>(refused).message.find(path + " line 2: bit3_lsb needs a number"), std::string::npos)
        << std::get<UsageError>(refused).message;
    std::remove(path.c_str());
}

}  // namespace

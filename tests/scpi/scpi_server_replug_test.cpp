// The SCPI server in process on an emulated board that leaves the bus after
// every few DAC and read-back requests and comes back 200 ms later from
// power-up, as --replug-every does: while it is away a pair is answered with
// the not-a-number reply and -241; once it is back the next command opens it
// again, loads its firmware, writes no DAC word, and the settings are back at
// their start values. Again and again, with the open files of the process
// (server and emulated board) flat from one replug to the next.
#include <gtest/gtest.h>

#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "loopback/line_client.h"
#include "scpi/board_commands.h"
#include "scpi/instrument.h"
#include "scpi/raw_socket_server.h"
#include "scpi/served_instrument.h"
#include "serve/board_instrument.h"

namespace tarnel::scpi {
namespace {

using loopback::LineClient;

constexpr const char* kNotANumber = "9.91E+37";

bool Near(const std::string& reply, std::uint32_t code) {
    const double lsb = protocol::ConverterVolts(1);
    return reply != kNotANumber && !reply.empty() &&
           std::fabs(std::stod(reply) - protocol::DacOutputVolts(code)) <= 2 * lsb;
}

TEST(ScpiServerReplugTest, AReplugedBoardIsOpenedAgainAtItsStartValuesWithoutADacWrite) {
    constexpr int kCycles = 6;
    emulator::Options options;
    options.replugEvery = 6;
    emulator::EmulatedBoard board(options);

    std::mutex logMutex;
    std::vector<std::string> log;
    const auto logLine = [&](const std::string& line) {
        std::lock_guard lock(logMutex);
        log.push_back(line);
    };
    InstrumentSetup setup;
    setup.reopen = cli::BoardInstrument::Reopener(cli::LibraryChoice::Newer, 0);
    setup.log = logLine;
    Instrument instrument(std::make_unique<cli::BoardInstrument>(cli::LibraryChoice::Newer, 0, false), std::move(setup));
    ServedInstrument served(BoardCommands(instrument), DispatchMode::OneAtATime);
    ServerSettings settings;
    settings.address = {"127.0.0.1", 0};
    settings.maxClients = 1;
    settings.log = logLine;
    RawSocketServer server(served, settings);
    ASSERT_EQ(server.Listen(), std::nullopt);

    std::vector<std::size_t> openFiles;   // after each cycle
    {
        LineClient client(server.ListeningOn().port);
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            SCOPED_TRACE("cycle " + std::to_string(cycle));
            // Pairs until the board leaves; it does within 6 requests.
            std::string reply;
            std::uint32_t code = 1000;
            for (int pair = 0; pair < 6; ++pair, code += 4099) {
                reply = client.Reply("DAC:CODE " + std::to_string(code) + ";:MEAS?");
                if (reply == kNotANumber) break;
                EXPECT_TRUE(Near(reply, code)) << "code " << code << " read back as " << reply;
            }
            ASSERT_EQ(reply, kNotANumber) << "the board did not leave";
            EXPECT_EQ(client.Reply("SYST:ERR?").substr(0, 5), "-241,");
            board.ClearRequests();   // nothing reaches the board while it is away

            // Each try to open it again is -241 until it is back.
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while ((reply = client.Reply("MEAS?")) == kNotANumber && std::chrono::steady_clock::now() < deadline) {
            }
            EXPECT_EQ(reply, "0E+00") << "a board back from power-up, its DAC at 0";
            EXPECT_EQ(client.Reply("DAC:CODE?;:OUTP?"), "0;1") << "settings at their start values";
            EXPECT_TRUE(board.FirmwareRunning());
            EXPECT_EQ(board.DacInputWord(), 0u);
            for (const auto& request : board.Requests()) {
                EXPECT_NE(request.request, protocol::kRequestDacWrite) << "a DAC write while the board was opened again";
            }
            EXPECT_EQ(client.Reply("*CLS;*OPC?"), "1");
            openFiles.push_back(static_cast<std::size_t>(
                std::distance(std::filesystem::directory_iterator("/proc/self/fd"), std::filesystem::directory_iterator())));
        }
    }
    ASSERT_EQ(openFiles.size(), static_cast<std::size_t>(kCycles));
    EXPECT_LE(openFiles.back(), openFiles[2]) << "open files grow with each replug";
    std::lock_guard lock(logMutex);
    std::size_t lost = 0, back = 0;
    for (const auto& line : log) {
        lost += line.find("board 0 lost") != std::string::npos;
        back += line.find("board 0 is back") != std::string::npos;
    }
    EXPECT_EQ(lost, static_cast<std::size_t>(kCycles));
    EXPECT_EQ(back, static_cast<std::size_t>(kCycles));
}

}  // namespace
}  // namespace tarnel::scpi

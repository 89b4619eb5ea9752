// Both board-access libraries end to end: through libusb to the emulated
// board, as the programs use them.
#include <gtest/gtest.h>

#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>
#include <vector>

#include "hex_records.h"
#include "intel_hex.h"
#include "library_drivers.h"

namespace tarnel::boardaccess {
namespace {

namespace protocol = tarnel::protocol;
using emulator::EmulatedBoard;
using emulator::Options;
using emulator::RequestRecord;
using testing::AnyLineContains;
using testing::CallResult;
using testing::Variant;

const std::string kFirmware = TARNEL_TEST_FIRMWARE_FILE;

std::string BoardIdText() {
    char text[32];
    std::snprintf(text, sizeof text, "0x%04X:0x%04X", protocol::kVendorId, protocol::kProductId);
    return text;
}

std::uint8_t ReverseBits(std::uint8_t byte) {
    std::uint8_t reversed = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (byte & (1u << bit)) reversed = static_cast<std::uint8_t>(reversed | (0x80u >> bit));
    }
    return reversed;
}

bool SameRequest(const RequestRecord& a, const RequestRecord& b) {
    return a.request == b.request && a.value == b.value && a.index == b.index && a.toHost == b.toHost &&
           a.length == b.length && a.outcome == b.outcome;
}

std::string Describe(const std::vector<RequestRecord>& records) {
    std::string text;
    char line[96];
    for (const auto& r : records) {
        std::snprintf(line, sizeof line, "{0x%02X value 0x%04X index 0x%04X %s length %u outcome %d}\n", r.request,
                      r.value, r.index, r.toHost ? "in" : "out", r.length, static_cast<int>(r.outcome));
        text += line;
    }
    return text;
}

void ExpectRequests(const EmulatedBoard& board, const std::vector<RequestRecord>& expected) {
    const auto seen = board.requests();
    EXPECT_TRUE(std::equal(seen.begin(), seen.end(), expected.begin(), expected.end(), SameRequest))
        << "board saw:\n" << Describe(seen) << "expected:\n" << Describe(expected);
}

class BothLibrariesTest : public ::testing::TestWithParam<Variant> {
protected:
    std::unique_ptr<testing::LibraryDriver> library_ = testing::DriverFor(GetParam());
};

TEST_P(BothLibrariesTest, LoadsTheFirmwareInTheFewestWrites) {
    EmulatedBoard board;
    ASSERT_TRUE(library_->Load(kFirmware).done);

    EXPECT_TRUE(board.firmwareRunning());
    const FirmwareImage image = ReadIntelHexFile(kFirmware);
    for (const auto& [address, byte] : image) {
        ASSERT_EQ(board.ram(address, 1).at(0), byte) << "at " << address;
    }
    const RequestRecord cpucs{protocol::kRequestRamAccess, protocol::kCpucsAddress, 0, false, 1};
    ExpectRequests(board, {cpucs,
                           {protocol::kRequestRamAccess, 0x0000, 0, false, 0x800},
                           {protocol::kRequestRamAccess, 0xE000, 0, false, 0x40},
                           cpucs});
}

TEST_P(BothLibrariesTest, CarriesDacWritesInValueAndIndexAlone) {
    EmulatedBoard board;
    ASSERT_TRUE(library_->Load(kFirmware).done);
    const struct {
        std::uint32_t inputWord;
        std::uint16_t value;
        std::uint16_t index;
    } cases[] = {{0x0FFFFC, 0xFFFC, 0x180F}, {0x300000, 0x0000, 0x1830}, {0, 0x0000, 0x1800}, {0xFFFFFF, 0xFFFF, 0x18FF}};
    for (const auto& c : cases) {
        board.clearRequests();
        std::uint8_t unused = 0;
        EXPECT_TRUE(library_->Request(protocol::kRequestDacWrite, c.value, c.index, 0, 0, &unused).done);
        ExpectRequests(board, {{protocol::kRequestDacWrite, c.value, c.index, false, 0}});
        EXPECT_EQ(board.dacInputWord(), c.inputWord);
    }
}

TEST_P(BothLibrariesTest, ReadsTheConverterAsTwoMirroredBytes) {
    EmulatedBoard board;
    ASSERT_TRUE(library_->Load(kFirmware).done);
    std::uint8_t unused = 0;
    ASSERT_TRUE(library_->Request(protocol::kRequestDacWrite, 0x0000, 0x1802, 0, 0, &unused).done);  // about half scale
    board.clearRequests();

    std::uint8_t received[4] = {0, 0, 0xEE, 0xEE};
    EXPECT_TRUE(library_->Request(protocol::kRequestConverterRead, 0, 0, 1, 2, received).done);

    ExpectRequests(board, {{protocol::kRequestConverterRead, 0, 0, true, 2}});
    const unsigned code = (ReverseBits(received[0]) << 8 | ReverseBits(received[1])) & 0xFFF;
    EXPECT_EQ(code, board.converterCode());
    EXPECT_NE(code, 0u);
    EXPECT_EQ(received[2], 0xEE) << "wrote past the requested length";
}

TEST_P(BothLibrariesTest, MalformedOrMissingFirmwareNeverReachesTheBoard) {
    EmulatedBoard board;
    const auto folder = std::filesystem::temp_directory_path() / ("tarnel-e2e-" + std::string(NameOf(GetParam())));
    std::filesystem::create_directories(folder);
    std::string damaged = testing::DataRecord(0x0000, 8) + testing::DataRecord(0x0008, 8) + testing::EndRecord();
    damaged[damaged.find('\n') + 12] ^= 1;  // a data digit of line 2
    std::ofstream(folder / "damaged.hex") << damaged;

    const struct {
        std::filesystem::path path;
        std::string expected;
    } cases[] = {
        {folder / "damaged.hex", "damaged.hex line 2: bad checksum — "},
        {folder / "absent.hex", "cannot read firmware file " + (folder / "absent.hex").string() + ": "},
    };
    for (const auto& c : cases) {
        const CallResult load = library_->Load(c.path.string());
        EXPECT_FALSE(load.done);
        EXPECT_TRUE(AnyLineContains(load.lines, c.expected)) << ::testing::PrintToString(load.lines);
    }
    EXPECT_TRUE(board.requests().empty()) << Describe(board.requests());
    EXPECT_FALSE(board.firmwareRunning());
    std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(Libraries, BothLibrariesTest, ::testing::Values(Variant::Newer, Variant::Older),
                         [](const auto& info) { return std::string(testing::NameOf(info.param)); });

// ---- Faults of the emulated board ------------------------------------------

enum class Step { Load, Write, Read };

struct Fault {
    const char* name;
    Options options;
    Step failingStep;
    std::string expectedLine;
};

Options Stalling(std::uint8_t code) {
    Options options;
    options.stallRequests = {code};
    return options;
}
Options TimingOut(std::uint8_t code) {
    Options options;
    options.timeoutRequests = {code};
    return options;
}
Options WithoutBoard() {
    Options options;
    options.noBoard = true;
    return options;
}
Options UnpluggedAfter(unsigned requests) {
    Options options;
    options.unplugAfter = requests;
    return options;
}

const std::string kStall = " failed: the board refused it (stall) — ";
const std::string kDisconnected = "board disconnected — reconnect it and restart the program";

const Fault kFaults[] = {
    {"NoBoard", WithoutBoard(), Step::Load, "no board " + BoardIdText() + " found — check the USB cable"},
    {"StallRamWrite", Stalling(0xA0), Step::Load, "request 0xA0" + kStall},
    {"TimeoutRamWrite", TimingOut(0xA0), Step::Load, "request 0xA0 failed: timeout — check the USB cable"},
    {"StallDacWrite", Stalling(0xDD), Step::Write, "request 0xDD" + kStall},
    {"StallConverterRead", Stalling(0xDA), Step::Read, "request 0xDA" + kStall},
    {"TimeoutConverterRead", TimingOut(0xDA), Step::Read, "request 0xDA failed: timeout — check the USB cable"},
    {"UnplugAfterOneRequest", UnpluggedAfter(1), Step::Read, kDisconnected},
};

class FaultTest : public ::testing::TestWithParam<std::tuple<Variant, Fault>> {};

TEST_P(FaultTest, FailsWithOneLineNamingTheCause) {
    const auto& [variant, fault] = GetParam();
    EmulatedBoard board(fault.options);
    const auto library = testing::DriverFor(variant);
    std::uint8_t buffer[2] = {};
    const auto step = [&](Step which) {
        switch (which) {
            case Step::Load: return library->Load(kFirmware);
            case Step::Write: return library->Request(protocol::kRequestDacWrite, 0x1234, 0x1801, 0, 0, buffer);
            case Step::Read: return library->Request(protocol::kRequestConverterRead, 0, 0, 1, 2, buffer);
        }
        return CallResult{};
    };

    for (Step before = Step::Load; before != fault.failingStep; before = static_cast<Step>(static_cast<int>(before) + 1)) {
        ASSERT_TRUE(step(before).done);
    }
    const CallResult failed = step(fault.failingStep);
    EXPECT_FALSE(failed.done);
    EXPECT_TRUE(AnyLineContains(failed.lines, fault.expectedLine)) << ::testing::PrintToString(failed.lines);

    // Whatever comes next fails again, cleanly, unless the fault was in one request kind only.
    if (fault.failingStep == Step::Load || fault.options.unplugAfter) {
        EXPECT_FALSE(step(Step::Read).done);
    }
}

INSTANTIATE_TEST_SUITE_P(
    EmulatorOptions, FaultTest, ::testing::Combine(::testing::Values(Variant::Newer, Variant::Older), ::testing::ValuesIn(kFaults)),
    [](const auto& info) {
        return std::string(testing::NameOf(std::get<0>(info.param))) + std::get<1>(info.param).name;
    });

// ---- The handle-based library's own arguments ----------------------------------

class NewerLibraryTest : public ::testing::Test {
protected:
    const testing::NewerLibrary& lib_ = testing::NewerLibrary::Get();
    testing::NewerDriver driver_;
};

TEST_F(NewerLibraryTest, SearchListsBoardNumbersOnly) {
    EmulatedBoard board;
    std::int32_t count = -1;
    std::uint8_t list[TARNEL_BOARD_LIST_BYTES];
    std::fill(std::begin(list), std::end(list), 0xEE);
    EXPECT_TRUE(driver_.Run([&] { return lib_.search(protocol::kVendorId, protocol::kProductId, &count, list); }).done);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(list[0], 0);
    EXPECT_EQ(list[1], 0xEE);
}

TEST_F(NewerLibraryTest, RejectsBadArgumentsWithoutCrashing) {
    EmulatedBoard board;
    ASSERT_TRUE(driver_.Load(kFirmware).done);
    const std::int32_t handle = driver_.handle();
    const std::uint32_t vid = protocol::kVendorId;
    const std::uint32_t pid = protocol::kProductId;
    std::int32_t count = 0;
    std::int32_t newHandle = 77;
    std::uint8_t list[TARNEL_BOARD_LIST_BYTES] = {};
    std::uint8_t data[2] = {};
    const struct {
        const char* expected;
        std::function<int()> call;
    } cases[] = {
        {"board_count is a null pointer", [&] { return lib_.search(vid, pid, nullptr, list); }},
        {"board_list is a null pointer", [&] { return lib_.search(vid, pid, &count, nullptr); }},
        {"vendor id 0x10000 is not a 16-bit USB id", [&] { return lib_.search(0x10000, pid, &count, list); }},
        {"handle is a null pointer", [&] { return lib_.connect(vid, pid, 0, nullptr); }},
        {"there is no board number 1; 1 board(s)", [&] { return lib_.connect(vid, pid, 1, &newHandle); }},
        {"path is a null pointer", [&] { return lib_.download(handle, nullptr); }},
        {"unknown board handle 0 —", [&] { return lib_.download(0, kFirmware.c_str()); }},
        {"unknown board handle -1 —", [&] { return lib_.request(-1, 0xDA, 0, 0, 1, 2, data); }},
        {"unknown board handle 99999 —", [&] { return lib_.request(99999, 0xDA, 0, 0, 1, 2, data); }},
        {"direction 2 is neither 0", [&] { return lib_.request(handle, 0xDA, 0, 0, 2, 2, data); }},
        {"data is a null pointer", [&] { return lib_.request(handle, 0xDA, 0, 0, 1, 2, nullptr); }},
    };
    board.clearRequests();
    for (const auto& c : cases) {
        const CallResult result = driver_.Run(c.call);
        EXPECT_FALSE(result.done) << c.expected;
        EXPECT_TRUE(AnyLineContains(result.lines, c.expected)) << ::testing::PrintToString(result.lines);
    }
    EXPECT_EQ(newHandle, 0) << "a failed Connect leaves no usable handle behind";
    EXPECT_TRUE(board.requests().empty()) << Describe(board.requests());
}

TEST_F(NewerLibraryTest, HandlesStayDeadAfterTheBoardIsReplugged) {
    EmulatedBoard board;
    ASSERT_TRUE(driver_.Load(kFirmware).done);
    const std::int32_t oldHandle = driver_.handle();
    board.unplug();
    board.plug();

    std::uint8_t data[1] = {};
    const CallResult stale = driver_.Run([&] { return lib_.request(oldHandle, 0xA0, 0, 0, 1, 1, data); });
    EXPECT_FALSE(stale.done);
    EXPECT_TRUE(AnyLineContains(stale.lines, kDisconnected));

    ASSERT_TRUE(driver_.Load(kFirmware).done);
    EXPECT_NE(driver_.handle(), oldHandle);
    EXPECT_TRUE(driver_.Run([&] { return lib_.request(driver_.handle(), 0xA0, 0xE000, 0, 1, 1, data); }).done);
    EXPECT_EQ(data[0], board.ram(0xE000, 1).at(0));
}

// ---- The single-board library's own arguments ----------------------------------

class OlderLibraryTest : public ::testing::Test {
protected:
    const testing::OlderLibrary& lib_ = testing::OlderLibrary::Get();
    testing::OlderDriver driver_;
};

TEST_F(OlderLibraryTest, RejectsBadArgumentsWithoutCrashing) {
    EmulatedBoard board;
    ASSERT_TRUE(driver_.Load(kFirmware).done);
    char data[2] = {};
    const struct {
        const char* expected;
        std::function<int()> call;
    } cases[] = {
        {"path is a null pointer", [&] { return lib_.load(nullptr); }},
        {"value 65536 is outside 0..65535", [&] { return lib_.request(0xDD, 65536, 0x1800, 0, 0, data); }},
        {"value -1 is outside 0..65535", [&] { return lib_.request(0xDD, -1, 0x1800, 0, 0, data); }},
        {"index 70000 is outside 0..65535", [&] { return lib_.request(0xDD, 0, 70000, 0, 0, data); }},
        {"request code 256 is outside 0..255", [&] { return lib_.request(256, 0, 0, 0, 0, data); }},
        {"request code -1 is outside 0..255", [&] { return lib_.request(-1, 0, 0, 0, 0, data); }},
        {"direction -1 is neither 0", [&] { return lib_.request(0xDA, 0, 0, -1, 2, data); }},
        {"length -2 is negative", [&] { return lib_.request(0xDA, 0, 0, 1, -2, data); }},
        {"data is a null pointer", [&] { return lib_.request(0xDA, 0, 0, 1, 2, nullptr); }},
    };
    board.clearRequests();
    for (const auto& c : cases) {
        const CallResult result = driver_.Run(c.call);
        EXPECT_FALSE(result.done) << c.expected;
        EXPECT_TRUE(AnyLineContains(result.lines, c.expected)) << ::testing::PrintToString(result.lines);
    }
    EXPECT_TRUE(board.requests().empty()) << Describe(board.requests());
}

TEST_F(OlderLibraryTest, RequestsAfterAFailedLoadNameTheMissingBoard) {
    {
        EmulatedBoard board(WithoutBoard());
        EXPECT_FALSE(driver_.Load(kFirmware).done);
    }
    std::uint8_t data[2] = {};
    const CallResult result = driver_.Request(protocol::kRequestConverterRead, 0, 0, 1, 2, data);
    EXPECT_FALSE(result.done);
    EXPECT_TRUE(AnyLineContains(result.lines, "no board is open — load the firmware first"));
}

}  // namespace
}  // namespace tarnel::boardaccess

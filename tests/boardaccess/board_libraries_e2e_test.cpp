// Both board-access libraries end to end, as the programs use them: loaded
// with dlopen from their build paths (so their exported names are checked
// too), through libusb to the emulated board, with what each call writes to
// stderr captured.
#include <dlfcn.h>
#include <unistd.h>
#include <gtest/gtest.h>

#include <tarnel/KTV_CYUSB_USB4.h>
#include <tarnel/Toveri.h>
#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "board_error.h"
#include "intel_hex.h"

namespace tarnel::boardaccess {
namespace {

namespace protocol = tarnel::protocol;
using emulator::EmulatedBoard;
using emulator::Options;
using emulator::RequestRecord;

const std::string kFirmware = TARNEL_TEST_FIRMWARE_FILE;
const std::string kDisconnected = "board disconnected — reconnect it and restart the program";

// The entry points of both libraries, which stay loaded for the whole run as in the programs.
struct Exports {
    static constexpr const char* kNewer = TARNEL_NEWER_LIBRARY_FILE;
    static constexpr const char* kOlder = TARNEL_OLDER_LIBRARY_FILE;
    template <class Function>
    static Function* Resolve(const char* path, const char* name) {
        void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
        void* symbol = library != nullptr ? dlsym(library, name) : nullptr;
        if (symbol == nullptr) throw std::runtime_error(std::string("cannot resolve ") + name + " in " + path);
        return reinterpret_cast<Function*>(symbol);
    }
    static const Exports& Get() {
        static const Exports exports;
        return exports;
    }
    decltype(&Search_For_Boards) search = Resolve<decltype(Search_For_Boards)>(kNewer, "Search_For_Boards");
    decltype(&Connect) connect = Resolve<decltype(Connect)>(kNewer, "Connect");
    decltype(&Download_Firmware) download = Resolve<decltype(Download_Firmware)>(kNewer, "Download_Firmware");
    decltype(&Vendor_Request) request = Resolve<decltype(Vendor_Request)>(kNewer, "Vendor_Request");
    decltype(&LoadFirmWare) load = Resolve<decltype(LoadFirmWare)>(kOlder, "_Z12LoadFirmWarePc");
    decltype(&VendorIORequest) ioRequest = Resolve<decltype(VendorIORequest)>(kOlder, "_Z15VendorIORequestsiissPc");
};

// One library call: whether its status says done, and the lines it wrote to stderr under its own name.
struct CallResult {
    bool done = false;
    std::vector<std::string> lines;
    bool Said(const std::string& part) const {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const auto& line) { return line.find(part) != std::string::npos; });
    }
};

enum class Variant { Newer, Older };
const char* NameOf(Variant variant) { return variant == Variant::Newer ? "Newer" : "Older"; }
void PrintTo(Variant variant, std::ostream* out) { *out << NameOf(variant); }

// Either library through the steps the programs take.
struct LibraryDriver {
    explicit LibraryDriver(Variant variant) : newer(variant == Variant::Newer) {}

    // Runs call with stderr captured and checks the reporting rule: a failure
    // writes at most one line (none when it repeats the cause of the last
    // one), a success none.
    CallResult Run(const std::function<int()>& call) const {
        const std::string speaker = newer ? "libKTV_CYUSB_USB4: " : "libToveri: ";
        ::testing::internal::CaptureStderr();
        const int status = call();
        const std::string text = ::testing::internal::GetCapturedStderr();
        CallResult result{newer ? status == 0 : status > 0, {}};
        std::istringstream stream(text);
        for (std::string line; std::getline(stream, line);) {
            if (line.rfind(speaker, 0) == 0) result.lines.push_back(line);
        }
        EXPECT_LE(result.lines.size(), result.done ? 0u : 1u) << "status " << status << ", stderr:\n" << text;
        return result;
    }

    // What a program does to get the firmware running. The newer library
    // searches, connects to list byte 0 and downloads: done is the
    // download's, the lines are all three's, one when the load failed.
    CallResult Load(std::string path) {
        const Exports& lib = Exports::Get();
        if (!newer) return Run([&] { return lib.load(path.data()); });
        std::int32_t count = 0;
        std::uint8_t list[TARNEL_BOARD_LIST_BYTES] = {};
        const std::function<int()> steps[] = {
            [&] { return lib.search(protocol::kVendorId, protocol::kProductId, &count, list); },
            [&] { return lib.connect(protocol::kVendorId, protocol::kProductId, list[0], &handle); },
            [&] { return lib.download(handle, path.c_str()); },
        };
        CallResult all;
        for (const auto& step : steps) {
            const CallResult result = Run(step);
            all.done = result.done;
            all.lines.insert(all.lines.end(), result.lines.begin(), result.lines.end());
        }
        EXPECT_EQ(all.lines.size(), all.done ? 0u : 1u) << ::testing::PrintToString(all.lines);
        return all;
    }

    CallResult Request(std::uint8_t request, std::uint16_t value, std::uint16_t index, std::uint8_t direction,
                       std::uint16_t length, std::uint8_t* data) const {
        const Exports& lib = Exports::Get();
        if (newer) return Run([&] { return lib.request(handle, request, value, index, direction, length, data); });
        return Run([&] {
            return lib.ioRequest(request, value, index, direction, static_cast<std::int16_t>(length),
                                 reinterpret_cast<char*>(data));
        });
    }

    const bool newer;
    std::int32_t handle = 0;   // the newer library's, from Connect
};

// A vendor request as the board logged it: code, value, index, toward the host, length, outcome.
using Logged = std::tuple<int, int, int, bool, int, RequestRecord::Outcome>;
std::vector<Logged> Requests(const EmulatedBoard& board) {
    std::vector<Logged> logged;
    for (const auto& r : board.Requests()) {
        logged.emplace_back(r.request, r.value, r.index, r.toHost, r.length, r.outcome);
    }
    return logged;
}
constexpr auto kAnswered = RequestRecord::Outcome::Answered;

class BothLibrariesTest : public ::testing::TestWithParam<Variant> {
protected:
    LibraryDriver library_{GetParam()};
};

TEST_P(BothLibrariesTest, LoadsInTheFewestWritesThenCarriesExactRequestFields) {
    EmulatedBoard board;
    ASSERT_TRUE(library_.Load(kFirmware).done);
    EXPECT_TRUE(board.FirmwareRunning());
    for (const auto& [address, byte] : ReadIntelHexFile(kFirmware)) {
        ASSERT_EQ(board.Ram(address, 1).at(0), byte) << "at " << address;
    }
    const Logged cpucs{protocol::kRequestRamAccess, protocol::kCpucsAddress, 0, false, 1, kAnswered};
    EXPECT_EQ(Requests(board), (std::vector<Logged>{cpucs,
                                                    {protocol::kRequestRamAccess, 0x0000, 0, false, 0x800, kAnswered},
                                                    {protocol::kRequestRamAccess, 0xE000, 0, false, 0x40, kAnswered},
                                                    cpucs}));

    // 0xDD: the input word in value and index alone, no data.
    const std::tuple<std::uint32_t, std::uint16_t, std::uint16_t> words[] = {   // input word, value, index
        {0x0FFFFC, 0xFFFC, 0x180F}, {0xFFFFFF, 0xFFFF, 0x18FF}, {0x300000, 0x0000, 0x1830}, {0x0A5C00, 0x5C00, 0x180A}};
    for (const auto& [inputWord, value, index] : words) {
        board.ClearRequests();
        std::uint8_t unused = 0;
        EXPECT_TRUE(library_.Request(protocol::kRequestDacWrite, value, index, 0, 0, &unused).done);
        EXPECT_EQ(Requests(board),
                  (std::vector<Logged>{{protocol::kRequestDacWrite, value, index, false, 0, kAnswered}}));
        EXPECT_EQ(board.DacInputWord(), inputWord);
    }

    // 0xDA: two bytes in, code 0xA5C of the last word, high byte first and each mirrored.
    board.ClearRequests();
    std::uint8_t received[3] = {0, 0, 0xEE};
    EXPECT_TRUE(library_.Request(protocol::kRequestConverterRead, 0, 0, 1, 2, received).done);
    EXPECT_EQ(Requests(board), (std::vector<Logged>{{protocol::kRequestConverterRead, 0, 0, true, 2, kAnswered}}));
    EXPECT_EQ(std::vector<std::uint8_t>(received, received + 3), (std::vector<std::uint8_t>{0x50, 0x3A, 0xEE}))
        << "0xEE: nothing written past the requested length";
}

// 0xB0 from the board: the library answers with the board's port path,
// NUL-padded, and nothing reaches the board; a reply too short for the path
// is refused with one line. A request to the board with that code is an
// ordinary vendor request.
TEST_P(BothLibrariesTest, AnswersThePortPathItself) {
    EmulatedBoard board;
    ASSERT_TRUE(library_.Load(kFirmware).done);
    board.ClearRequests();
    const struct { std::uint16_t length; bool done; std::string path; } cases[] = {
        {protocol::kPortPathLength, true, "1-1"}, {4, true, "1-1"}, {3, true, "1-1"}, {2, false, ""},
    };
    for (const auto& [length, done, path] : cases) {
        std::vector<std::uint8_t> reply(length + 1, 0xEE);
        const CallResult result = library_.Request(protocol::kRequestPortPath, 0, 0, 1, length, reply.data());
        EXPECT_EQ(result.done, done) << length;
        if (!done) {
            EXPECT_TRUE(result.Said("the port path 1-1 needs 3 bytes, the request has 2")) << length;
            continue;
        }
        std::vector<std::uint8_t> expected(path.begin(), path.end());
        expected.resize(length, 0);
        expected.push_back(0xEE);
        EXPECT_EQ(reply, expected) << "NUL-padded to the length asked, nothing past it";
    }
    EXPECT_EQ(Requests(board), std::vector<Logged>{});
    std::uint8_t unused = 0;
    library_.Request(protocol::kRequestPortPath, 0, 0, 0, 0, &unused);
    EXPECT_EQ(Requests(board).size(), 1u) << "toward the board, the code is sent as any other";
}

TEST_P(BothLibrariesTest, MalformedOrMissingFirmwareNeverReachesTheBoard) {
    EmulatedBoard board;
    const auto folder = std::filesystem::temp_directory_path() /
                        ("tarnel-e2e-" + std::string(NameOf(GetParam())) + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "damaged.hex") << ":020000000102FB\n:0100020003FB\n:00000001FF\n";   // line 2 sums to 0x01

    EXPECT_TRUE(library_.Load((folder / "damaged.hex").string()).Said("damaged.hex line 2: bad checksum — "));
    EXPECT_TRUE(library_.Load((folder / "absent.hex").string())
                    .Said("cannot read firmware file " + (folder / "absent.hex").string() + ": "));
    EXPECT_EQ(Requests(board), std::vector<Logged>{});
    EXPECT_FALSE(board.FirmwareRunning());
    std::filesystem::remove_all(folder);
}

TEST_P(BothLibrariesTest, FollowsFirmwareThatReenumerates) {
    Options options;
    options.renumeration = emulator::Renumeration::ComesBack;
    EmulatedBoard board(options);
    const std::string before = board.DeviceNode();
    ASSERT_TRUE(library_.Load(kFirmware).done);
    EXPECT_TRUE(board.Plugged());
    EXPECT_NE(board.DeviceNode(), before) << "the board came back under a new device number";
    // The handle (newer) or kept board (older) from before the load reaches the board that came back.
    std::uint8_t received[2] = {};
    EXPECT_TRUE(library_.Request(protocol::kRequestDacWrite, 0x0000, 0x1808, 0, 0, received).done);
    EXPECT_TRUE(library_.Request(protocol::kRequestConverterRead, 0, 0, 1, 2, received).done);
    EXPECT_EQ(board.DacInputWord(), 0x080000u);
    EXPECT_EQ(std::vector<std::uint8_t>(received, received + 2), (std::vector<std::uint8_t>{0x10, 0x00}))
        << "code 2048, mirrored";
}

INSTANTIATE_TEST_SUITE_P(Libraries, BothLibrariesTest, ::testing::Values(Variant::Newer, Variant::Older),
                         [](const auto& info) { return std::string(NameOf(info.param)); });

// ---- Faults of the emulated board ------------------------------------------

// What a program does: load the firmware, then (if that worked) commands,
// each twice as an operator retrying would.
enum class Call { Load, Write, WriteAgain, Read, ReadAgain, None };

struct Fault {
    const char* name;
    Options options;
    Call firstFailing;
    std::string expectedLine;
    friend void PrintTo(const Fault& fault, std::ostream* out) { *out << fault.name; }
};

std::string NoBoardLine() {
    char text[96];
    std::snprintf(text, sizeof text, "no board 0x%04X:0x%04X found — check the USB cable", protocol::kVendorId,
                  protocol::kProductId);
    return text;
}

const std::string kStall = " failed: the board refused it (stall) — ";
const std::string kTimeout = " failed: timeout — check the USB cable";

// The options of a board with the one fault that `fault` sets.
Options With(void (*fault)(Options&)) {
    Options options;
    fault(options);
    return options;
}

// A library tells a cause once per process, and tests share the process:
// neighbouring entries fail with different lines.
const Fault kFaults[] = {
    {"NoBoard", With([](Options& o) { o.noBoard = true; }), Call::Load, NoBoardLine()},
    {"StallRamWrite", With([](Options& o) { o.stallRequests = {0xA0}; }), Call::Load, "request 0xA0" + kStall},
    {"TimeoutRamWrite", With([](Options& o) { o.timeoutRequests = {0xA0}; }), Call::Load, "request 0xA0" + kTimeout},
    {"StallDacWrite", With([](Options& o) { o.stallRequests = {0xDD}; }), Call::Write, "request 0xDD" + kStall},
    {"StallConverterRead", With([](Options& o) { o.stallRequests = {0xDA}; }), Call::Read, "request 0xDA" + kStall},
    {"TimeoutConverterRead", With([](Options& o) { o.timeoutRequests = {0xDA}; }), Call::Read,
     "request 0xDA" + kTimeout},
    {"UnplugAfterOneRequest", With([](Options& o) { o.unplugAfter = 1; }), Call::WriteAgain, kDisconnected},
    {"Noise", With([](Options& o) { o.noise = true; }), Call::None, ""},
    {"Renumerates", With([](Options& o) { o.renumeration = emulator::Renumeration::ComesBack; }), Call::None, ""},
    {"RenumeratesNeverToReturn", With([](Options& o) { o.renumeration = emulator::Renumeration::StaysAway; }),
     Call::Load, "the board did not come back after its firmware started — "},
};

class FaultTest : public ::testing::TestWithParam<std::tuple<Variant, Fault>> {};

TEST_P(FaultTest, OneFaultOneLineNamingTheCause) {
    const auto& [variant, fault] = GetParam();
    EmulatedBoard board(fault.options);
    LibraryDriver library(variant);
    std::uint8_t buffer[2] = {};
    const std::function<CallResult()> write = [&] {
        return library.Request(protocol::kRequestDacWrite, 0x1234, 0x1801, 0, 0, buffer);
    };
    const std::function<CallResult()> read = [&] {
        return library.Request(protocol::kRequestConverterRead, 0, 0, 1, 2, buffer);
    };

    std::vector<CallResult> calls{library.Load(kFirmware)};
    if (calls[0].done) {
        for (const auto& command : {write, write, read, read}) calls.push_back(command());
    }
    const auto firstFailing = std::find_if(calls.begin(), calls.end(), [](const auto& c) { return !c.done; });
    EXPECT_EQ(firstFailing - calls.begin(), static_cast<std::ptrdiff_t>(fault.firstFailing));
    std::vector<std::string> lines;
    for (const auto& call : calls) lines.insert(lines.end(), call.lines.begin(), call.lines.end());
    if (fault.firstFailing == Call::None) {
        EXPECT_EQ(lines, std::vector<std::string>{});
    } else {
        ASSERT_EQ(lines.size(), 1u) << ::testing::PrintToString(lines);
        EXPECT_NE(lines[0].find(fault.expectedLine), std::string::npos) << lines[0];
    }
}

INSTANTIATE_TEST_SUITE_P(
    EmulatorOptions, FaultTest,
    ::testing::Combine(::testing::Values(Variant::Newer, Variant::Older), ::testing::ValuesIn(kFaults)),
    [](const auto& info) { return std::string(NameOf(std::get<0>(info.param))) + std::get<1>(info.param).name; });

// ---- Bad arguments and stale handles -----------------------------------------

struct BadCall {
    const char* expected;
    std::function<int()> call;
};

// Each call fails naming the cause, and none reaches the board.
void ExpectRejected(const LibraryDriver& library, EmulatedBoard& board, const std::vector<BadCall>& cases) {
    board.ClearRequests();
    for (const auto& c : cases) {
        const CallResult result = library.Run(c.call);
        EXPECT_FALSE(result.done) << c.expected;
        EXPECT_TRUE(result.Said(c.expected)) << ::testing::PrintToString(result.lines);
    }
    EXPECT_EQ(Requests(board), std::vector<Logged>{});
}

TEST(NewerLibraryTest, RejectsBadArgumentsWithoutCrashing) {
    const Exports& lib = Exports::Get();
    EmulatedBoard board;
    LibraryDriver driver(Variant::Newer);
    ASSERT_TRUE(driver.Load(kFirmware).done);
    const std::int32_t handle = driver.handle;
    const std::uint32_t vid = protocol::kVendorId;
    const std::uint32_t pid = protocol::kProductId;
    std::int32_t count = 0;
    std::int32_t newHandle = 77;
    std::uint8_t list[TARNEL_BOARD_LIST_BYTES] = {};
    std::uint8_t data[2] = {};
    ExpectRejected(driver, board, {
        {"board_count is a null pointer", [&] { return lib.search(vid, pid, nullptr, list); }},
        {"board_list is a null pointer", [&] { return lib.search(vid, pid, &count, nullptr); }},
        {"vendor id 0x10000 is not a 16-bit USB id", [&] { return lib.search(0x10000, pid, &count, list); }},
        {"handle is a null pointer", [&] { return lib.connect(vid, pid, 0, nullptr); }},
        {"unknown board handle 0 —", [&] { return lib.download(0, kFirmware.c_str()); }},
        {"there is no board number 1; 1 board(s)", [&] { return lib.connect(vid, pid, 1, &newHandle); }},
        {"path is a null pointer", [&] { return lib.download(handle, nullptr); }},
        {"unknown board handle -1 —", [&] { return lib.request(-1, 0xDA, 0, 0, 1, 2, data); }},
        {"direction 2 is neither 0", [&] { return lib.request(handle, 0xDA, 0, 0, 2, 2, data); }},
        {"data is a null pointer", [&] { return lib.request(handle, 0xDA, 0, 0, 1, 2, nullptr); }},
    });
    EXPECT_EQ(newHandle, 0) << "a failed Connect leaves no usable handle behind";
}

// Open files of this process on that device node (the emulated board in the
// process holds one of its own).
std::size_t OpenFilesOn(const std::string& deviceNode) {
    std::size_t open = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        open += target.find(deviceNode + " ") != std::string::npos || target.ends_with(deviceNode);
    }
    return open;
}

TEST(NewerLibraryTest, HandlesStayDeadAfterReplug) {
    const Exports& lib = Exports::Get();
    EmulatedBoard board;
    LibraryDriver driver(Variant::Newer);
    ASSERT_TRUE(driver.Load(kFirmware).done);
    const std::int32_t oldHandle = driver.handle;
    const std::string oldNode = board.DeviceNode();
    const std::size_t filesBefore = OpenFilesOn(oldNode);
    board.Unplug();
    board.Plug();
    std::uint8_t data[1] = {};
    EXPECT_TRUE(driver.Run([&] { return lib.request(oldHandle, 0xA0, 0, 0, 1, 1, data); }).Said(kDisconnected));
    ASSERT_TRUE(driver.Load(kFirmware).done);
    EXPECT_NE(driver.handle, oldHandle);
    EXPECT_TRUE(driver.Run([&] { return lib.request(driver.handle, 0xA0, 0xE000, 0, 1, 1, data); }).done);
    EXPECT_EQ(data[0], board.Ram(0xE000, 1).at(0));

    // The board that left was let go at the new connect, and its old handle
    // still reports it gone.
    EXPECT_TRUE(driver.Run([&] { return lib.request(oldHandle, 0xA0, 0, 0, 1, 1, data); }).Said("left the bus"));
    EXPECT_EQ(OpenFilesOn(oldNode), filesBefore - 1) << "the device that left the bus is still open";
}

TEST(OlderLibraryTest, RejectsBadArgumentsWithoutCrashing) {
    const Exports& lib = Exports::Get();
    EmulatedBoard board;
    LibraryDriver driver(Variant::Older);
    ASSERT_TRUE(driver.Load(kFirmware).done);
    char data[2] = {};
    ExpectRejected(driver, board, {
        {"path is a null pointer", [&] { return lib.load(nullptr); }},
        {"value 65536 is outside 0..65535", [&] { return lib.ioRequest(0xDD, 65536, 0x1800, 0, 0, data); }},
        {"value -1 is outside 0..65535", [&] { return lib.ioRequest(0xDD, -1, 0x1800, 0, 0, data); }},
        {"index 70000 is outside 0..65535", [&] { return lib.ioRequest(0xDD, 0, 70000, 0, 0, data); }},
        {"request code 256 is outside 0..255", [&] { return lib.ioRequest(256, 0, 0, 0, 0, data); }},
        {"request code -1 is outside 0..255", [&] { return lib.ioRequest(-1, 0, 0, 0, 0, data); }},
        {"direction -1 is neither 0", [&] { return lib.ioRequest(0xDA, 0, 0, -1, 2, data); }},
        {"length -2 is negative", [&] { return lib.ioRequest(0xDA, 0, 0, 1, -2, data); }},
        {"data is a null pointer", [&] { return lib.ioRequest(0xDA, 0, 0, 1, 2, nullptr); }},
    });
}

// A failed connect (newer) or load (older) is the cause of what fails after
// it: those calls fail with its status and say nothing new, until the
// connect or load succeeds.
TEST_P(BothLibrariesTest, CallsThatFailForAnEarlierCauseAddNoLine) {
    const Exports& lib = Exports::Get();
    auto board = std::make_unique<EmulatedBoard>(kFaults[0].options);   // no board
    EXPECT_FALSE(library_.Load(kFirmware).done);   // one line, checked by Load
    std::uint8_t data[2] = {};
    const CallResult request = library_.Request(protocol::kRequestConverterRead, 0, 0, 1, 2, data);
    EXPECT_FALSE(request.done);
    EXPECT_EQ(request.lines, std::vector<std::string>{});
    if (GetParam() == Variant::Newer) {
        EXPECT_EQ(library_.Run([&] { return lib.download(0, kFirmware.c_str()); }).lines, std::vector<std::string>{});
        EXPECT_EQ(lib.download(0, kFirmware.c_str()), static_cast<int>(FailureKind::NoBoard));
    }
    board.reset();   // one board at a time
    board = std::make_unique<EmulatedBoard>();
    ASSERT_TRUE(library_.Load(kFirmware).done);
    EXPECT_TRUE(library_.Request(protocol::kRequestConverterRead, 0, 0, 1, 2, data).done);
}

}  // namespace
}  // namespace tarnel::boardaccess

// Figures of the board-access library on the emulated board:
//  - the control transfers it takes to load a 16 KiB image (the fewest
//    possible: one per 4096 contiguous bytes, plus two CPUCS writes);
//  - the time per vendor request through the library against a bare
//    libusb_control_transfer on the same board (the library should add
//    no more than 5 %).
// Runs under umockdev-wrapper (see the run-bench target).
#include <benchmark/benchmark.h>
#include <libusb.h>

#include <tarnel/KTV_CYUSB_USB4.h>
#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <exception>
#include <string>
#include <vector>

namespace {

namespace protocol = tarnel::protocol;
using tarnel::emulator::EmulatedBoard;

constexpr std::size_t kImageBytes = 16 * 1024;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_board_access: %s\n", what.c_str());
    std::exit(1);
}

// An Intel HEX file filling 0x0000..0x3FFF, in 16-byte records.
std::filesystem::path WriteSixteenKiBImage() {
    const auto path = std::filesystem::temp_directory_path() / "tarnel-bench-16k.hex";
    std::ofstream file(path);
    for (std::size_t offset = 0; offset < kImageBytes; offset += 16) {
        unsigned sum = 16 + (offset >> 8) + (offset & 0xFF);
        char text[16];
        std::snprintf(text, sizeof text, ":10%04zX00", offset);
        file << text;
        for (std::size_t i = 0; i < 16; ++i) {
            const unsigned byte = (offset + i) * 31 & 0xFF;
            sum += byte;
            std::snprintf(text, sizeof text, "%02X", byte);
            file << text;
        }
        std::snprintf(text, sizeof text, "%02X\n", -sum & 0xFF);
        file << text;
    }
    file << ":00000001FF\n";
    return path;
}

std::int32_t ConnectAndLoad(const std::filesystem::path& firmware) {
    std::int32_t count = 0;
    std::int32_t handle = 0;
    std::uint8_t list[TARNEL_BOARD_LIST_BYTES] = {};
    if (Search_For_Boards(protocol::kVendorId, protocol::kProductId, &count, list) != 0 ||
        Connect(protocol::kVendorId, protocol::kProductId, list[0], &handle) != 0 ||
        Download_Firmware(handle, firmware.c_str()) != 0) {
        Fail("the library could not load the firmware onto the emulated board");
    }
    return handle;
}

void ReportLoadTransfers() {
    EmulatedBoard board;
    const auto image = WriteSixteenKiBImage();
    ConnectAndLoad(image);
    std::filesystem::remove(image);
    std::size_t transfers = 0;
    for (const auto& record : board.Requests()) transfers += record.request == protocol::kRequestRamAccess;
    const std::size_t fewest = (kImageBytes + protocol::kMaxLoadTransfer - 1) / protocol::kMaxLoadTransfer + 2;
    std::printf("control transfers to load a 16 KiB image: %zu (fewest possible: %zu)\n", transfers, fewest);
}

// Each timed run gets a board of its own with one open handle, so the two
// paths never share a device. The request is a two-byte read of on-chip RAM
// (0xA0 from the board): the same shape as the converter read, and answered
// without firmware, so both paths see identical boards.
constexpr std::uint16_t kReadAddress = 0xE000;
constexpr std::uint16_t kReadLength = 2;

void ThroughLibrary(benchmark::State& state) {
    EmulatedBoard board;
    std::int32_t count = 0;
    std::int32_t handle = 0;
    std::uint8_t list[TARNEL_BOARD_LIST_BYTES] = {};
    if (Search_For_Boards(protocol::kVendorId, protocol::kProductId, &count, list) != 0 ||
        Connect(protocol::kVendorId, protocol::kProductId, list[0], &handle) != 0) {
        state.SkipWithError("the library could not open the emulated board");
        return;
    }
    std::uint8_t data[kReadLength];
    for (auto _ : state) {
        if (Vendor_Request(handle, protocol::kRequestRamAccess, kReadAddress, 0, 1, kReadLength, data) != 0) {
            state.SkipWithError("Vendor_Request failed");
            break;
        }
    }
}

void BareLibusb(benchmark::State& state) {
    EmulatedBoard board;
    libusb_context* context = nullptr;
    if (libusb_init(&context) != 0) {
        state.SkipWithError("libusb_init failed");
        return;
    }
    libusb_device_handle* handle = libusb_open_device_with_vid_pid(context, protocol::kVendorId, protocol::kProductId);
    if (handle == nullptr || libusb_claim_interface(handle, protocol::kInterfaceNumber) != 0) {
        state.SkipWithError("libusb could not open the emulated board");
    } else {
        const auto requestType = static_cast<std::uint8_t>(
            unsigned{LIBUSB_REQUEST_TYPE_VENDOR} | unsigned{LIBUSB_RECIPIENT_DEVICE} | unsigned{LIBUSB_ENDPOINT_IN});
        std::uint8_t data[kReadLength];
        for (auto _ : state) {
            if (libusb_control_transfer(handle, requestType, protocol::kRequestRamAccess, kReadAddress, 0, data,
                                        kReadLength, protocol::kControlTimeoutMs) != kReadLength) {
                state.SkipWithError("libusb_control_transfer failed");
                break;
            }
        }
    }
    if (handle != nullptr) libusb_close(handle);
    libusb_exit(context);
}

BENCHMARK(ThroughLibrary)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BareLibusb)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

// Console output plus the median time per request of each benchmark, for the ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name == "median" || (run.run_type == Run::RT_Iteration && run.repetitions <= 1)) {
                medians_[run.run_name.function_name] = run.GetAdjustedRealTime();
            }
        }
    }
    void PrintRatio() const {
        const auto library = medians_.find("ThroughLibrary");
        const auto bare = medians_.find("BareLibusb");
        if (library == medians_.end() || bare == medians_.end() || bare->second <= 0) return;
        std::printf("time per request: library %.1f us, bare libusb %.1f us, ratio %.3f (goal <= 1.05)\n",
                    library->second, bare->second, library->second / bare->second);
    }

private:
    std::map<std::string, double> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    // The two benchmarks' repetitions are interleaved, so that load from
    // other programs on the machine falls on both alike; flags given on the
    // command line come later and win.
    std::vector<char*> args(argv, argv + argc);
    char interleave[] = "--benchmark_enable_random_interleaving=true";
    args.insert(args.begin() + 1, interleave);
    int count = static_cast<int>(args.size());
    benchmark::Initialize(&count, args.data());
    if (benchmark::ReportUnrecognizedArguments(count, args.data())) return 2;
    try {
        ReportLoadTransfers();
        RatioReporter reporter;
        benchmark::RunSpecifiedBenchmarks(&reporter);
        reporter.PrintRatio();
    } catch (const std::exception& error) {
        Fail(std::string(error.what()) + " — run it under umockdev-wrapper (cmake --build <dir> --target run-bench)");
    }
    benchmark::Shutdown();
    return 0;
}

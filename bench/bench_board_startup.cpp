// What each build's board start-up costs on the emulated board: the newer
// library's search, connect and download, the older library's firmware load.
// A program does this once, in a process that has not used USB yet, so every
// run is a fresh process (this program again, with --one-start-up); the
// figures are medians over the runs. Runs under umockdev-wrapper (see the
// run-bench target).
#include <dlfcn.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <tarnel/KTV_CYUSB_USB4.h>
#include <tarnel/Toveri.h>
#include <tarnel/board_protocol.h>
#include <tarnel/emulated_board.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace protocol = tarnel::protocol;
using Clock = std::chrono::steady_clock;

constexpr int kDefaultRuns = 20;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_board_startup: %s\n", what.c_str());
    std::exit(1);
}

template <class Function>
Function* Resolve(const char* path, const char* name) {
    void* library = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    void* symbol = library != nullptr ? dlsym(library, name) : nullptr;
    if (symbol == nullptr) Fail(std::string("cannot resolve ") + name + " in " + path);
    return reinterpret_cast<Function*>(symbol);
}

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// One start-up in this process; prints its milliseconds, then those of each call.
int OneStartUp(const std::string& build) {
    char firmware[] = TARNEL_BENCH_FIRMWARE_FILE;
    if (build == "older") {
        auto* load = Resolve<decltype(LoadFirmWare)>(TARNEL_BENCH_OLDER_LIBRARY, "_Z12LoadFirmWarePc");
        const auto start = Clock::now();
        if (load(firmware) <= 0) Fail("LoadFirmWare failed");
        std::printf("%.3f\n", MillisecondsSince(start));
        return 0;
    }
    auto* search = Resolve<decltype(Search_For_Boards)>(TARNEL_BENCH_NEWER_LIBRARY, "Search_For_Boards");
    auto* connect = Resolve<decltype(Connect)>(TARNEL_BENCH_NEWER_LIBRARY, "Connect");
    auto* download = Resolve<decltype(Download_Firmware)>(TARNEL_BENCH_NEWER_LIBRARY, "Download_Firmware");
    std::int32_t count = 0;
    std::int32_t handle = 0;
    std::uint8_t list[TARNEL_BOARD_LIST_BYTES] = {};
    auto start = Clock::now();
    search(protocol::kVendorId, protocol::kProductId, &count, list);
    const double searchMs = MillisecondsSince(start);
    start = Clock::now();
    connect(protocol::kVendorId, protocol::kProductId, list[0], &handle);
    const double connectMs = MillisecondsSince(start);
    start = Clock::now();
    if (download(handle, firmware) != 0) Fail("Download_Firmware failed");
    const double downloadMs = MillisecondsSince(start);
    std::printf("%.3f %.3f %.3f %.3f\n", searchMs + connectMs + downloadMs, searchMs, connectMs, downloadMs);
    return 0;
}

// Runs this program with --one-start-up and returns the figures it printed.
std::vector<double> StartUpInFreshProcess(const std::string& build) {
    int pipeEnds[2];
    if (::pipe(pipeEnds) != 0) Fail("cannot create a pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeEnds[0]);
    std::string self = "/proc/self/exe";
    std::string mode = "--one-start-up";
    std::string which = build;
    char* argv[] = {self.data(), mode.data(), which.data(), nullptr};
    pid_t child = 0;
    const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeEnds[1]);
    if (spawned != 0) Fail(std::string("cannot run itself: ") + std::strerror(spawned));
    std::string output;
    char chunk[256];
    for (ssize_t got; (got = ::read(pipeEnds[0], chunk, sizeof chunk)) > 0;) output.append(chunk, static_cast<std::size_t>(got));
    ::close(pipeEnds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("a start-up run of the " + build + " library failed");
    std::vector<double> figures;
    const char* text = output.c_str();
    for (char* end = nullptr;; text = end) {
        const double value = std::strtod(text, &end);
        if (end == text) break;
        figures.push_back(value);
    }
    return figures;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// Medians of each figure a build's start-up prints, over the runs.
class StartUpFigures {
public:
    void Add(const std::vector<double>& figures) {
        perFigure_.resize(std::max(perFigure_.size(), figures.size()));
        for (std::size_t i = 0; i < figures.size(); ++i) perFigure_[i].push_back(figures[i]);
    }
    std::vector<double> Medians() const {
        std::vector<double> medians;
        for (const auto& values : perFigure_) medians.push_back(Median(values));
        return medians;
    }

private:
    std::vector<std::vector<double>> perFigure_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--one-start-up") == 0) return OneStartUp(argv[2]);
    int runs = kDefaultRuns;
    if (argc == 3 && std::strcmp(argv[1], "--runs") == 0) runs = std::max(1, std::atoi(argv[2]));
    else if (argc != 1) Fail("usage: bench_board_startup [--runs N]");
    try {
        tarnel::emulator::EmulatedBoard board;
        // The builds take turns, so that load from other programs on the
        // machine falls on both alike.
        StartUpFigures newerRuns;
        StartUpFigures olderRuns;
        for (int run = 0; run < runs; ++run) {
            newerRuns.Add(StartUpInFreshProcess("newer"));
            olderRuns.Add(StartUpInFreshProcess("older"));
        }
        const std::vector<double> newer = newerRuns.Medians();
        const std::vector<double> older = olderRuns.Medians();
        if (newer.size() != 4 || older.size() != 1) Fail("a start-up run printed no figures");
        std::printf("board start-up on the emulated board, median of %d runs, each in a fresh process:\n", runs);
        std::printf("  Tarnel(version2), newer library: %.2f ms (search %.2f, connect %.2f, download %.2f)\n",
                    newer[0], newer[1], newer[2], newer[3]);
        std::printf("  Tarnel, older library:           %.2f ms (firmware load)\n", older[0]);
    } catch (const std::exception& error) {
        Fail(std::string(error.what()) + " — run it under umockdev-wrapper (cmake --build <dir> --target run-bench)");
    }
    return 0;
}

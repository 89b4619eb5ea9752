// tarnelctl serve on the emulated board, as separate processes:
// board-emulator [options] -- tarnelctl serve --listen 127.0.0.1:0. Its
// stderr lines are read on a thread of their own; the port comes from the
// server's first line, and the lines on a board lost and back are kept with
// the time they were read.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarnel::bench {

class EmulatedServer {
public:
    using Clock = std::chrono::steady_clock;

    // Starts the processes; throws std::runtime_error when they cannot start.
    EmulatedServer(const std::string& emulator, const std::vector<std::string>& emulatorOptions,
                   const std::string& tarnelctl, const std::vector<std::string>& serveOptions);
    ~EmulatedServer();   // stops them if still running
    EmulatedServer(const EmulatedServer&) = delete;
    EmulatedServer& operator=(const EmulatedServer&) = delete;

    // The port once the server listens; empty if it ended or took longer.
    std::optional<std::uint16_t> WaitForPort(std::chrono::seconds bound);

    pid_t EmulatorPid() const { return emulator_; }
    std::optional<pid_t> ServerPid() const;

    struct BoardEvents {
        std::vector<Clock::time_point> lost, back;
        long refused = 0;
    };
    BoardEvents Events();

    // SIGTERM, then the exit status (-1: it had to be killed).
    int Stop(std::chrono::seconds bound);

private:
    void ReadLines(int fd);

    pid_t emulator_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<std::uint16_t> port_;
    bool ended_ = false;
    BoardEvents events_;
    std::optional<int> status_;
};

}  // namespace tarnel::bench

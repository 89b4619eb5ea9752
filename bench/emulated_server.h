// tarnelctl serve on emulated boards, as separate processes:
// board-emulator [options] -- tarnelctl serve --listen 127.0.0.1:0, every
// board of the emulator on a raw port of its own and as a VXI-11 device.
// The server's stderr lines are read on a thread of their own: each board's
// line gives its port path, raw port and VXI-11 device name, and the lines on
// a board lost and back are kept per board with the time they were read.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace tarnel::bench {

// One board as the server serves it.
struct ServedBoardAddress {
    std::string portPath;     // "1-2"
    std::uint16_t rawPort = 0;
    std::string deviceName;   // "inst1"; empty when the board is not on VXI-11
};

class EmulatedServer {
public:
    using Clock = std::chrono::steady_clock;

    // Starts the processes; throws std::runtime_error when they cannot start.
    EmulatedServer(const std::string& emulator, const std::vector<std::string>& emulatorOptions,
                   const std::string& tarnelctl, const std::vector<std::string>& serveOptions);
    ~EmulatedServer();   // stops them if still running
    EmulatedServer(const EmulatedServer&) = delete;
    EmulatedServer& operator=(const EmulatedServer&) = delete;

    // The boards once `count` of them are served, in the order of their lines;
    // fewer if the server ended or took longer than `bound`.
    std::vector<ServedBoardAddress> WaitForBoards(std::size_t count, std::chrono::seconds bound);

    pid_t EmulatorPid() const { return emulator_; }
    std::optional<pid_t> ServerPid() const;

    struct BoardEvents {
        std::vector<Clock::time_point> lost, back;
    };
    // By port path.
    std::map<std::string, BoardEvents> Events();
    // Raw clients the server turned away (--max-clients).
    long RefusedClients();

    // SIGTERM, then the exit status (-1: it had to be killed).
    int Stop(std::chrono::seconds bound);

private:
    void ReadLines(int fd);
    void Take(const std::string& line, Clock::time_point when);

    pid_t emulator_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ServedBoardAddress> boards_;
    bool ended_ = false;
    std::map<std::string, BoardEvents> events_;
    long refused_ = 0;
    std::optional<int> status_;
};

// The board a line of the server names ("board 1-2 lost: ..." → "1-2"), or
// empty; the line's text after the name in `rest`.
std::string BoardNamedIn(const std::string& line, std::string& rest);

// A board's line "board 1-2 (board 1) serves SCPI on 127.0.0.1:5026, VXI-11
// device inst1 or 1-2", or nothing for any other line.
std::optional<ServedBoardAddress> ServedBoardIn(const std::string& line);

}  // namespace tarnel::bench

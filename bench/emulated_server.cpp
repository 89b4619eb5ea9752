#include "emulated_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "process_usage.h"

namespace tarnel::bench {

namespace {

constexpr const char* kServerPrefix = "tarnelctl: ";
constexpr const char* kServes = " serves SCPI on 127.0.0.1:";
constexpr const char* kDevice = ", VXI-11 device ";

}  // namespace

std::string BoardNamedIn(const std::string& line, std::string& rest) {
    std::string text = line;
    if (text.rfind(kServerPrefix, 0) == 0) text.erase(0, std::strlen(kServerPrefix));
    if (text.rfind("board ", 0) != 0) return {};
    const auto end = text.find(' ', 6);
    if (end == std::string::npos || end == 6) return {};
    rest = text.substr(end);
    return text.substr(6, end - 6);
}

std::optional<ServedBoardAddress> ServedBoardIn(const std::string& line) {
    std::string rest;
    ServedBoardAddress board;
    board.portPath = BoardNamedIn(line, rest);
    const auto at = rest.find(kServes);
    if (board.portPath.empty() || at == std::string::npos) return std::nullopt;
    char* end = nullptr;
    const long port = std::strtol(rest.c_str() + at + std::strlen(kServes), &end, 10);
    if (port <= 0 || port > 65535) return std::nullopt;
    board.rawPort = static_cast<std::uint16_t>(port);
    if (const auto device = rest.find(kDevice); device != std::string::npos) {
        const auto from = device + std::strlen(kDevice);
        board.deviceName = rest.substr(from, rest.find(' ', from) - from);
    }
    return board;
}

EmulatedServer::EmulatedServer(const std::string& emulator, const std::vector<std::string>& emulatorOptions,
                               const std::string& tarnelctl, const std::vector<std::string>& serveOptions) {
    std::vector<std::string> arguments{emulator};
    arguments.insert(arguments.end(), emulatorOptions.begin(), emulatorOptions.end());
    arguments.insert(arguments.end(), {"--", tarnelctl, "serve", "--listen", "127.0.0.1:0"});
    arguments.insert(arguments.end(), serveOptions.begin(), serveOptions.end());
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);

    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    emulator_ = ::fork();
    if (emulator_ < 0) throw std::runtime_error(std::string("fork: ") + std::strerror(errno));
    if (emulator_ == 0) {
        ::dup2(pipeEnds[1], STDERR_FILENO);
        ::execv(argv[0], argv.data());
        std::fprintf(stderr, "cannot start %s: %s\n", argv[0], std::strerror(errno));
        ::_exit(127);
    }
    ::close(pipeEnds[1]);
    reader_ = std::thread([this, fd = pipeEnds[0]] { ReadLines(fd); });
}

EmulatedServer::~EmulatedServer() {
    Stop(std::chrono::seconds(30));
    if (reader_.joinable()) reader_.join();
}

void EmulatedServer::ReadLines(int fd) {
    FILE* lines = ::fdopen(fd, "r");
    char buffer[4096];
    while (lines != nullptr && std::fgets(buffer, sizeof buffer, lines) != nullptr) {
        Take(buffer, Clock::now());
    }
    if (lines != nullptr) std::fclose(lines);
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

void EmulatedServer::Take(const std::string& line, Clock::time_point when) {
    std::lock_guard lock(mutex_);
    std::string rest;
    const std::string board = BoardNamedIn(line, rest);
    if (const auto served = ServedBoardIn(line)) {
        boards_.push_back(*served);
    } else if (!board.empty() && rest.rfind(" lost: ", 0) == 0) {
        events_[board].lost.push_back(when);
    } else if (!board.empty() && rest.rfind(" is back", 0) == 0) {
        events_[board].back.push_back(when);
    } else if (line.find("refused the client") != std::string::npos) {
        ++refused_;
    } else {
        std::fputs(("server: " + line).c_str(), stderr);   // anything unexpected is shown
    }
    changed_.notify_all();
}

std::vector<ServedBoardAddress> EmulatedServer::WaitForBoards(std::size_t count, std::chrono::seconds bound) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, bound, [&] { return boards_.size() >= count || ended_; });
    return boards_;
}

std::optional<pid_t> EmulatedServer::ServerPid() const { return FirstChild(emulator_); }

std::map<std::string, EmulatedServer::BoardEvents> EmulatedServer::Events() {
    std::lock_guard lock(mutex_);
    return events_;
}

long EmulatedServer::RefusedClients() {
    std::lock_guard lock(mutex_);
    return refused_;
}

int EmulatedServer::Stop(std::chrono::seconds bound) {
    if (status_) return *status_;
    if (emulator_ <= 0) return -1;
    ::kill(emulator_, SIGTERM);
    const auto deadline = Clock::now() + bound;
    int status = 0;
    while (::waitpid(emulator_, &status, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
            ::kill(emulator_, SIGKILL);
            ::waitpid(emulator_, &status, 0);
            status_ = -1;
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return *status_;
}

}  // namespace tarnel::bench

#include "emulated_server.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "process_usage.h"

namespace tarnel::bench {

namespace {

constexpr const char* kListening = "serves SCPI on 127.0.0.1:";

}  // namespace

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
        const std::string line = buffer;
        const auto now = Clock::now();
        std::lock_guard lock(mutex_);
        if (const auto at = line.find(kListening); at != std::string::npos && !port_) {
            port_ = static_cast<std::uint16_t>(std::stoi(line.substr(at + std::strlen(kListening))));
        } else if (line.find(" lost: ") != std::string::npos) {
            events_.lost.push_back(now);
        } else if (line.find(" is back") != std::string::npos) {
            events_.back.push_back(now);
        } else if (line.find("refused the client") != std::string::npos) {
            ++events_.refused;
        } else {
            std::fputs(("server: " + line).c_str(), stderr);   // anything unexpected is shown
        }
        changed_.notify_all();
    }
    if (lines != nullptr) std::fclose(lines);
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

std::optional<std::uint16_t> EmulatedServer::WaitForPort(std::chrono::seconds bound) {
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, bound, [this] { return port_ || ended_; });
    return port_;
}

std::optional<pid_t> EmulatedServer::ServerPid() const { return FirstChild(emulator_); }

EmulatedServer::BoardEvents EmulatedServer::Events() {
    std::lock_guard lock(mutex_);
    return events_;
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

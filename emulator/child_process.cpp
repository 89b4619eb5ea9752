#include "child_process.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace tarnel::emulator {

namespace {

volatile sig_atomic_t runningChild = 0;

constexpr std::array kForwardedSignals{SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void ForwardToChild(int signalNumber) {
    if (runningChild > 0) ::kill(static_cast<pid_t>(runningChild), signalNumber);
}

int StatusOf(int waitStatus) {
    if (WIFEXITED(waitStatus)) return WEXITSTATUS(waitStatus);
    if (WIFSIGNALED(waitStatus)) return 128 + WTERMSIG(waitStatus);
    return 1;
}

}  // namespace

void AllowPreloadBeforeAsan() {
    const char* current = std::getenv("ASAN_OPTIONS");
    std::string options = current != nullptr ? current : "";
    if (options.find("verify_asan_link_order") != std::string::npos) return;
    options += options.empty() ? "verify_asan_link_order=0" : ":verify_asan_link_order=0";
    ::setenv("ASAN_OPTIONS", options.c_str(), 1);
}

int RunToCompletion(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    struct sigaction forward {};
    forward.sa_handler = ForwardToChild;
    sigemptyset(&forward.sa_mask);
    std::array<struct sigaction, kForwardedSignals.size()> previous{};
    for (std::size_t i = 0; i < kForwardedSignals.size(); ++i) ::sigaction(kForwardedSignals[i], &forward, &previous[i]);

    pid_t child = 0;
    const int spawnError = ::posix_spawnp(&child, argv[0], nullptr, nullptr, argv.data(), environ);
    int status = kCommandNotStarted;
    if (spawnError != 0) {
        std::fprintf(stderr, "board-emulator: cannot run '%s': %s — check the command name and PATH\n", argv[0],
                     std::strerror(spawnError));
    } else {
        runningChild = child;
        int waitStatus = 0;
        pid_t waited = 0;
        do {
            waited = ::waitpid(child, &waitStatus, 0);
        } while (waited < 0 && errno == EINTR);
        runningChild = 0;
        status = waited == child ? StatusOf(waitStatus) : 1;
    }
    for (std::size_t i = 0; i < kForwardedSignals.size(); ++i) ::sigaction(kForwardedSignals[i], &previous[i], nullptr);
    return status;
}

}  // namespace tarnel::emulator

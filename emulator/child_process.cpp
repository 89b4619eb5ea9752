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

sigset_t ForwardedSet() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signalNumber : kForwardedSignals) sigaddset(&set, signalNumber);
    return set;
}

// The mask this process had before HoldForwardedSignals; the command gets it.
sigset_t originalMask;
bool held = false;

void ForwardToChild(int signalNumber, siginfo_t* info, void*) {
    // The terminal (Ctrl-C, hang-up) signals the whole foreground process
    // group, the command included: passing it on would deliver it twice.
    if (info != nullptr && info->si_code == SI_KERNEL) return;
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

void HoldForwardedSignals() {
    if (held) return;
    const sigset_t forwarded = ForwardedSet();
    ::sigprocmask(SIG_BLOCK, &forwarded, &originalMask);
    held = true;
}

int RunToCompletion(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    HoldForwardedSignals();

    struct sigaction forward {};
    forward.sa_sigaction = ForwardToChild;
    forward.sa_flags = SA_SIGINFO;
    forward.sa_mask = ForwardedSet();
    std::array<struct sigaction, kForwardedSignals.size()> previous{};
    sigset_t defaultInChild;
    sigemptyset(&defaultInChild);
    for (std::size_t i = 0; i < kForwardedSignals.size(); ++i) {
        ::sigaction(kForwardedSignals[i], nullptr, &previous[i]);
        if (previous[i].sa_handler == SIG_IGN) continue;
        ::sigaction(kForwardedSignals[i], &forward, nullptr);
        sigaddset(&defaultInChild, kForwardedSignals[i]);
    }

    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    posix_spawnattr_setsigmask(&attributes, &originalMask);
    posix_spawnattr_setsigdefault(&attributes, &defaultInChild);
    pid_t child = 0;
    const int spawnError = ::posix_spawnp(&child, argv[0], nullptr, &attributes, argv.data(), environ);
    posix_spawnattr_destroy(&attributes);

    int status = kCommandNotStarted;
    if (spawnError != 0) {
        std::fprintf(stderr, "board-emulator: cannot run '%s': %s — check the command name and PATH\n", argv[0],
                     std::strerror(spawnError));
    } else {
        runningChild = child;
        // Signals held so far are passed on now.
        const sigset_t forwarded = ForwardedSet();
        ::sigprocmask(SIG_UNBLOCK, &forwarded, nullptr);
        int waitStatus = 0;
        pid_t waited = 0;
        do {
            waited = ::waitpid(child, &waitStatus, 0);
        } while (waited < 0 && errno == EINTR);
        ::sigprocmask(SIG_BLOCK, &forwarded, nullptr);
        runningChild = 0;
        status = waited == child ? StatusOf(waitStatus) : 1;
    }
    for (std::size_t i = 0; i < kForwardedSignals.size(); ++i) ::sigaction(kForwardedSignals[i], &previous[i], nullptr);
    return status;
}

}  // namespace tarnel::emulator

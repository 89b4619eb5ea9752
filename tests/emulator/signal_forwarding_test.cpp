// board-emulator passes signals on to its command exactly once: a Ctrl-C on
// the terminal (which reaches the command by itself) is not sent again, and a
// signal that arrives while the board is still being set up is not lost.
#include <dirent.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

const std::string kEmulator = TARNEL_BOARD_EMULATOR;
const std::string kCounter = TARNEL_SIGNAL_COUNTER;

// Reads from fd until `expected` has arrived or the input ends.
std::string ReadUntil(int fd, const std::string& expected) {
    std::string text;
    char chunk[256];
    while (text.find(expected) == std::string::npos) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got <= 0) break;
        text.append(chunk, static_cast<std::size_t>(got));
    }
    return text;
}

TEST(SignalForwardingTest, CtrlCOnTheTerminalReachesTheCommandOnce) {
    int terminal = -1;
    const pid_t emulator = forkpty(&terminal, nullptr, nullptr, nullptr);
    if (emulator < 0) GTEST_SKIP() << "no pseudo-terminal on this machine (mount devpts on /dev/pts): " << std::strerror(errno);
    if (emulator == 0) {
        execl(kEmulator.c_str(), kEmulator.c_str(), "--", kCounter.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    ASSERT_NE(ReadUntil(terminal, "ready").find("ready"), std::string::npos);
    const char interrupt = '\x03';   // the terminal's interrupt character
    ASSERT_EQ(::write(terminal, &interrupt, 1), 1);
    const std::string report = ReadUntil(terminal, "SIGTERM");
    int status = 0;
    ::waitpid(emulator, &status, 0);
    ::close(terminal);
    EXPECT_NE(report.find("SIGINT 1 SIGTERM 0"), std::string::npos) << report;
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(SignalForwardingTest, ASignalDuringSetUpEndsTheCommandAndLeavesNothingBehind) {
    const auto bed = std::filesystem::temp_directory_path() / ("signal-test-" + std::to_string(::getpid()));
    std::filesystem::create_directories(bed);
    const pid_t emulator = ::fork();
    ASSERT_GE(emulator, 0);
    if (emulator == 0) {
        ::setenv("TMPDIR", bed.c_str(), 1);
        execl(kEmulator.c_str(), kEmulator.c_str(), "--", "sleep", "30", static_cast<char*>(nullptr));
        _exit(127);
    }
    // The test bed's folder appears while the board is set up, before the command starts.
    const auto start = std::chrono::steady_clock::now();
    while (std::filesystem::is_empty(bed) && std::chrono::steady_clock::now() - start < std::chrono::seconds(20)) {
        std::this_thread::yield();
    }
    ::kill(emulator, SIGTERM);
    int status = 0;
    ::waitpid(emulator, &status, 0);
    EXPECT_TRUE(WIFEXITED(status)) << "board-emulator itself was ended by the signal";
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGTERM) << "the command did not get the signal";
    EXPECT_TRUE(std::filesystem::is_empty(bed)) << "the test bed was left behind";
    std::filesystem::remove_all(bed);
}

}  // namespace

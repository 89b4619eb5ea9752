// Counts the SIGINT and SIGTERM it receives: prints "ready" once it listens,
// then, half a second after the last signal (or after 10 s without any),
// "SIGINT n SIGTERM m". The command of board-emulator's signal tests.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

namespace {

std::atomic<int> interrupts = 0;   // lock-free, so safe in a signal handler
std::atomic<int> terminations = 0;

void Count(int signalNumber) {
    if (signalNumber == SIGINT) ++interrupts;
    if (signalNumber == SIGTERM) ++terminations;
}

}  // namespace

int main() {
    struct sigaction counting {};
    counting.sa_handler = Count;
    sigemptyset(&counting.sa_mask);
    sigaction(SIGINT, &counting, nullptr);
    sigaction(SIGTERM, &counting, nullptr);
    std::printf("ready\n");
    std::fflush(stdout);

    using namespace std::chrono_literals;
    int seen = 0;
    auto quietSince = std::chrono::steady_clock::now();
    for (;;) {
        std::this_thread::sleep_for(20ms);
        const auto now = std::chrono::steady_clock::now();
        if (interrupts + terminations != seen) {
            seen = interrupts + terminations;
            quietSince = now;
        }
        if ((seen > 0 && now - quietSince > 500ms) || now - quietSince > 10s) break;
    }
    std::printf("SIGINT %d SIGTERM %d\n", interrupts.load(), terminations.load());
    return 0;
}

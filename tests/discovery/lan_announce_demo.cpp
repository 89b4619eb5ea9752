// Announces boards and the VXI-11 host through LanAnnouncer and waits for a
// signal, printing each line the announcer says ("info: ..." or
// "warning: ..."). The end-to-end test drives it:
//   SIGUSR1  the first board leaves (withdrawn)
//   SIGUSR2  the first board comes back (announced again)
//   SIGINT, SIGTERM  stop, exit 0
// usage: lan_announce_demo [--host NAME] [--no-vxi11] [PATH:PORT ...]
//   default boards: 1-1.2:5025 1-1.3:5026
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "scpi/lan_announcer.h"

namespace {

using tarnel::scpi::InstrumentFacts;
using tarnel::scpi::LanAnnouncer;
using tarnel::scpi::LanLogLevel;

struct Board {
    std::string path;
    std::uint16_t port;
};

InstrumentFacts FactsOf(const Board& board) {
    return {"Velorn", "Tarnel Evaluation Board", "board " + board.path, "1.0"};
}

bool ParseBoard(const std::string& text, Board& board) {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0) {
        return false;
    }
    char* end = nullptr;
    const unsigned long port = std::strtoul(text.c_str() + colon + 1, &end, 10);
    if (*end != '\0' || port == 0 || port > 65535) {
        return false;
    }
    board = {text.substr(0, colon), static_cast<std::uint16_t>(port)};
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    std::string host;
    bool vxi11 = true;
    std::vector<Board> boards;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        Board board;
        if (arg == "--host" && i + 1 < argc) {
            host = argv[++i];
        } else if (arg == "--no-vxi11") {
            vxi11 = false;
        } else if (ParseBoard(arg, board)) {
            boards.push_back(board);
        } else {
            std::fprintf(stderr, "lan_announce_demo: %s is not PATH:PORT — usage: lan_announce_demo [--host NAME] "
                                 "[--no-vxi11] [PATH:PORT ...]\n", arg.c_str());
            return 2;
        }
    }
    if (boards.empty()) {
        boards = {{"1-1.2", 5025}, {"1-1.3", 5026}};
    }

    // Blocked before the announcer's thread starts, so that only sigwait
    // below takes them.
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal : {SIGINT, SIGTERM, SIGUSR1, SIGUSR2}) {
        sigaddset(&signals, signal);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    auto log = [](LanLogLevel level, const std::string& line) {
        std::printf("%s: %s\n", level == LanLogLevel::Info ? "info" : "warning", line.c_str());
        std::fflush(stdout);
    };
    LanAnnouncer announcer(log, {host, {"Velorn", "Tarnel boards", "", "1.0"}});
    for (const Board& board : boards) {
        announcer.AnnounceBoard(board.path, board.port, FactsOf(board));
    }
    if (vxi11) {
        announcer.AnnounceVxi11Host();
    }

    for (;;) {
        int signal = 0;
        if (sigwait(&signals, &signal) != 0) {
            continue;
        }
        if (signal == SIGUSR1) {
            announcer.WithdrawBoard(boards.front().path);
        } else if (signal == SIGUSR2) {
            announcer.AnnounceBoard(boards.front().path, boards.front().port, FactsOf(boards.front()));
        } else {
            return 0;
        }
    }
}

// A soak run of tarnelctl serve on three emulated boards, as a lab uses it
// for days, in a network namespace of its own (so that the server may answer
// the portmapper's port 111): raw SCPI clients, VXI-11 clients and VXI-11
// clients that take the device lock for a while run together; each picks a
// board for every connection and sends random DAC:CODE n;:MEAS? pairs,
// reconnecting every few hundred, while board-emulator --replug-every takes
// each board off the bus and back every few thousand requests. Every reply
// is checked against the level set (pair_check.h): the not-a-number reply
// counts as right only with -241/-240 and only while that board is away, a
// message the lock refused (-203 in the client's queue, or VXI-11 error 11)
// only while another client held that board's lock. Prints pairs per
// protocol, wrong replies, lock refusals, refused connections, reopen
// count, latency p50/p99/max, and resident memory and open fds of the server
// and of the emulator at start, after warm-up and at the end.
//
// usage: bench_soak [--seconds S | --minutes M] [--boards N] [--raw-clients N]
//                   [--vxi11-clients N] [--locking-clients N] [--replug-every N] [--skip-status N]
// (default 60 s, 3 boards, 6 raw, 3 VXI-11 and 2 locking clients). Without
// the right to make a network namespace it says so and exits with the skip
// status (0 unless given; the test suite's smoke run gives 77, its "skipped").
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "emulated_server.h"
#include "private_network.h"
#include "process_usage.h"
#include "soak_channels.h"
#include "soak_clients.h"
#include "soak_timeline.h"

namespace {

using namespace tarnel;
using bench::EmulatedServer;
using bench::ProcessUsage;
using bench::SoakClock;
using bench::Tally;
using Clock = SoakClock;

// A reply read this long before the server's line on a lost board, or after
// its line on the board back, still falls in the board's absence.
constexpr auto kEventSlack = std::chrono::seconds(1);
// A refusal seen this close to a lock of the board still falls in it (the
// lock is taken and given up inside the calls whose times are kept).
constexpr auto kLockSlack = std::chrono::milliseconds(100);
constexpr long kGoalRssGrowthKiB = 1024;
constexpr auto kSettleAfterClients = std::chrono::seconds(2);
constexpr long kFdSlackPerBoard = 4;

struct Settings {
    std::chrono::seconds duration{60};
    unsigned boards = 3;
    unsigned rawClients = 6;
    unsigned vxi11Clients = 3;
    unsigned lockingClients = 2;
    unsigned replugEvery = 5000;
    int skipStatus = 0;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "bench_soak: %s — usage: bench_soak [--seconds S | --minutes M] [--boards 1..16] "
                 "[--raw-clients 0..64] [--vxi11-clients 0..16] [--locking-clients 0..8] [--replug-every N] "
                 "[--skip-status 0..255]\n",
                 problem.c_str());
    std::exit(2);
}

long Number(const char* text, long least, long most, const std::string& option) {
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || value < least || value > most) {
        Usage(option + " needs a whole number from " + std::to_string(least) + " to " + std::to_string(most));
    }
    return value;
}

Settings Parse(int argc, char** argv) {
    Settings settings;
    for (int i = 1; i < argc; ++i) {
        const std::string option = argv[i];
        if (i + 1 >= argc) Usage("unknown option or missing value: " + option);
        const char* value = argv[++i];
        if (option == "--seconds") {
            settings.duration = std::chrono::seconds(Number(value, 1, 7 * 24 * 3600, option));
        } else if (option == "--minutes") {
            settings.duration = std::chrono::minutes(Number(value, 1, 7 * 24 * 60, option));
        } else if (option == "--boards") {
            settings.boards = static_cast<unsigned>(Number(value, 1, 16, option));
        } else if (option == "--raw-clients") {
            settings.rawClients = static_cast<unsigned>(Number(value, 0, 64, option));
        } else if (option == "--vxi11-clients") {
            settings.vxi11Clients = static_cast<unsigned>(Number(value, 0, 16, option));
        } else if (option == "--locking-clients") {
            settings.lockingClients = static_cast<unsigned>(Number(value, 0, 8, option));
        } else if (option == "--replug-every") {
            settings.replugEvery = static_cast<unsigned>(Number(value, 1, 100'000'000, option));
        } else if (option == "--skip-status") {
            settings.skipStatus = static_cast<int>(Number(value, 0, 255, option));
        } else {
            Usage("unknown option " + option);
        }
    }
    if (settings.rawClients + settings.vxi11Clients + settings.lockingClients == 0) Usage("no clients at all");
    return settings;
}

double Percentile(const std::vector<float>& sorted, double fraction) {
    if (sorted.empty()) return 0;
    const auto at = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[at];
}

std::string Usage(const std::optional<ProcessUsage>& usage) {
    if (!usage) return "gone";
    char text[64];
    std::snprintf(text, sizeof text, "%.1f MiB, %ld fds", usage->rssKiB / 1024.0, usage->openFds);
    return text;
}

// A process's usage at start, after warm-up and at the end, and the open fds
// sampled every second after warm-up. Open fds go up and down with the
// connections and plug-ins of the moment, so "flat" compares the highest
// count of the second half after warm-up with that of the first half.
// A process's usage at start (before any client), after warm-up and at the
// end (once every client has gone and the server has closed their
// connections), and the open fds sampled every second after warm-up. Open
// fds go up and down with the connections of the moment, so "flat" compares
// the fds at the end with those at the start, both without clients, give or
// take a few per board: a board reopened holds its device through other fds
// than at the start, and one away at the end holds none. A leak per request,
// connection or replug soon outgrows that. The highest counts of the two
// halves after warm-up are printed beside them.
struct ProcessFigures {
    const char* name;
    pid_t pid;
    std::optional<ProcessUsage> start, warm, end;
    std::vector<long> fdSamples;

    void Sample() {
        if (const auto usage = bench::SampleUsage(pid)) fdSamples.push_back(usage->openFds);
    }
    long HighestFds(bool secondHalf) const {
        const auto middle = fdSamples.begin() + static_cast<std::ptrdiff_t>(fdSamples.size() / 2);
        const auto from = secondHalf ? middle : fdSamples.begin();
        const auto to = secondHalf ? fdSamples.end() : middle;
        return from == to ? 0 : *std::max_element(from, to);
    }
    bool Steady(long fdSlack) const {
        return start && warm && end && end->rssKiB - warm->rssKiB < kGoalRssGrowthKiB &&
               end->openFds <= start->openFds + fdSlack;
    }
    void Print() const {
        const long growth = warm && end ? end->rssKiB - warm->rssKiB : 0;
        const long fdGrowth = start && end ? end->openFds - start->openFds : 0;
        std::printf("%-9s at start %s; after warm-up %s; at the end %s; RSS growth after warm-up %+.2f MiB; "
                    "fds at the end against the start %+ld (most in the first/second half after warm-up %ld/%ld)\n",
                    name, Usage(start).c_str(), Usage(warm).c_str(), Usage(end).c_str(), growth / 1024.0, fdGrowth,
                    HighestFds(false), HighestFds(true));
    }
};

void PrintLatency(const char* protocol, std::vector<float> latencies) {
    std::sort(latencies.begin(), latencies.end());
    std::printf("latency per pair, %s: p50 %.2f ms, p99 %.2f ms, max %.1f ms\n", protocol,
                Percentile(latencies, 0.5) / 1000, Percentile(latencies, 0.99) / 1000,
                latencies.empty() ? 0.0 : latencies.back() / 1000);
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = Parse(argc, argv);
    // Before any thread exists: the namespace is the process's, and the server's.
    if (const std::string problem = scpi::client::testing::EnterPrivateNetwork(); !problem.empty()) {
        std::printf("bench_soak: skipped: %s\n", problem.c_str());
        return settings.skipStatus;
    }
    const auto warmUp = std::clamp(settings.duration / 6, std::chrono::seconds(2), std::chrono::seconds(120));
    std::printf("soak: %u boards, %u raw, %u VXI-11 and %u locking VXI-11 clients, %lld s (warm-up %lld s), "
                "each board replugged every %u DAC/read-back requests\n",
                settings.boards, settings.rawClients, settings.vxi11Clients, settings.lockingClients,
                static_cast<long long>(settings.duration.count()), static_cast<long long>(warmUp.count()),
                settings.replugEvery);
    std::fflush(stdout);
    try {
        EmulatedServer server(TARNEL_BENCH_EMULATOR,
                              {"--boards", std::to_string(settings.boards), "--replug-every",
                               std::to_string(settings.replugEvery)},
                              TARNEL_BENCH_TARNELCTL, {"--max-clients", std::to_string(std::max(settings.rawClients, 1u))});
        bench::SoakTarget target;
        target.boards = server.WaitForBoards(settings.boards, std::chrono::seconds(60));
        if (target.boards.size() < settings.boards) {
            throw std::runtime_error("the server served " + std::to_string(target.boards.size()) + " of " +
                                     std::to_string(settings.boards) + " boards within 60 s");
        }
        for (const auto& board : target.boards) {
            if (board.deviceName.empty() && settings.vxi11Clients + settings.lockingClients > 0) {
                throw std::runtime_error("board " + board.portPath + " is not served on VXI-11 (see the server's lines)");
            }
        }
        if (settings.vxi11Clients + settings.lockingClients > 0) {
            target.vxi11CorePort = bench::Vxi11CorePort();
            if (target.vxi11CorePort == 0) throw std::runtime_error("the portmapper on 127.0.0.1 gives no VXI-11 port");
        }
        const auto serverPid = server.ServerPid();
        if (!serverPid) throw std::runtime_error("the server process was not found under board-emulator");
        ProcessFigures serverFigures{"server", *serverPid, bench::SampleUsage(*serverPid), {}, {}, {}};
        ProcessFigures emulatorFigures{"emulator", server.EmulatorPid(), bench::SampleUsage(server.EmulatorPid()), {}, {}, {}};

        const Clock::time_point start = Clock::now();
        target.deadline = start + settings.duration;
        std::atomic<long> pairs = 0;
        target.pairs = &pairs;
        std::vector<Tally> raw(settings.rawClients), vxi11(settings.vxi11Clients), locking(settings.lockingClients);
        std::vector<std::thread> clients;
        for (unsigned i = 0; i < settings.rawClients; ++i) {
            clients.emplace_back(bench::RunRawClient, i, std::cref(target), std::ref(raw[i]));
        }
        for (unsigned i = 0; i < settings.vxi11Clients; ++i) {
            clients.emplace_back(bench::RunVxi11Client, i, std::cref(target), std::ref(vxi11[i]));
        }
        for (unsigned i = 0; i < settings.lockingClients; ++i) {
            clients.emplace_back(bench::RunLockingClient, i, std::cref(target), std::ref(locking[i]));
        }
        bool warm = false;
        auto nextProgress = start + std::chrono::seconds(30);
        auto nextSample = start + warmUp;
        while (Clock::now() < target.deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
            if (!warm && Clock::now() >= start + warmUp) {
                warm = true;
                serverFigures.warm = bench::SampleUsage(*serverPid);
                emulatorFigures.warm = bench::SampleUsage(server.EmulatorPid());
            }
            if (warm && Clock::now() >= nextSample) {
                nextSample += std::chrono::seconds(1);
                serverFigures.Sample();
                emulatorFigures.Sample();
            }
            if (Clock::now() >= nextProgress) {
                nextProgress += std::chrono::seconds(30);
                const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - start).count();
                std::printf("  %lld s of %lld: %ld pairs, server %s, emulator %s\n", static_cast<long long>(elapsed),
                            static_cast<long long>(settings.duration.count()), pairs.load(),
                            Usage(bench::SampleUsage(*serverPid)).c_str(),
                            Usage(bench::SampleUsage(server.EmulatorPid())).c_str());
                std::fflush(stdout);
            }
        }
        for (auto& client : clients) client.join();
        const Clock::time_point end = Clock::now();
        // The server closes the connections the clients left a moment later.
        std::this_thread::sleep_for(kSettleAfterClients);
        serverFigures.end = bench::SampleUsage(*serverPid);
        emulatorFigures.end = bench::SampleUsage(server.EmulatorPid());
        const auto events = server.Events();
        const long serverRefused = server.RefusedClients();
        const int status = server.Stop(std::chrono::seconds(30));

        Tally rawTotal, vxi11Total, lockingTotal, total;
        for (const Tally& tally : raw) rawTotal.Add(tally);
        for (const Tally& tally : locking) lockingTotal.Add(tally);
        for (const Tally& tally : vxi11) vxi11Total.Add(tally);
        vxi11Total.Add(lockingTotal);
        total.Add(rawTotal);
        total.Add(vxi11Total);
        for (const auto& what : total.firstWrong) std::printf("wrong: %s\n", what.c_str());
        for (const auto& what : total.firstProblems) std::printf("problem: %s\n", what.c_str());

        std::vector<bench::BoardSpan> absences;
        std::size_t lost = 0, back = 0;
        for (std::size_t board = 0; board < target.boards.size(); ++board) {
            const auto found = events.find(target.boards[board].portPath);
            if (found == events.end()) continue;
            lost += found->second.lost.size();
            back += found->second.back.size();
            const auto spans = bench::Absences(board, found->second.lost, found->second.back, end);
            absences.insert(absences.end(), spans.begin(), spans.end());
        }
        const long strayAway = bench::Outside(total.awayReplies, absences, kEventSlack);
        const long strayRefusals = bench::Outside(total.refusals, total.locks, kLockSlack);
        total.wrong += strayAway + strayRefusals;
        const double seconds = std::chrono::duration<double>(end - start).count();
        const auto sinceStart = [&](Clock::time_point at) { return std::chrono::duration<double>(at - start).count(); };
        for (const auto& stuck : total.unsettled) {
            std::printf("unsettled on board %s from %.1f s to %.1f s; its locks then:", target.boards[stuck.board].portPath.c_str(),
                        sinceStart(stuck.from), sinceStart(stuck.to));
            for (const auto& lock : total.locks) {
                if (lock.board == stuck.board && lock.to >= stuck.from && lock.from <= stuck.to) {
                    std::printf(" %.1f-%.1f s (client %d)", sinceStart(lock.from), sinceStart(lock.to), lock.locker);
                }
            }
            std::printf("; its absences:");
            for (const auto& away : absences) {
                if (away.board == stuck.board && away.to >= stuck.from && away.from <= stuck.to) {
                    std::printf(" %.1f-%.1f s", sinceStart(away.from), sinceStart(away.to));
                }
            }
            std::printf("\n");
        }

        std::printf("pairs: %ld (%.0f/s): raw %ld, VXI-11 %ld (%ld of them by the locking clients); wrong replies: %ld\n",
                    total.pairs, total.pairs / seconds, rawTotal.pairs, vxi11Total.pairs, lockingTotal.pairs,
                    total.wrong);
        std::printf("locks: %ld held, %ld waited out; expected lock refusals (pairs refused while another client "
                    "held the board's lock): raw %ld, VXI-11 %ld; %zu refusals seen in all, %ld of them outside "
                    "every lock of another client\n",
                    total.locksHeld, total.locksWaitedOut, rawTotal.lockRefusals, vxi11Total.lockRefusals,
                    total.refusals.size(), strayRefusals);
        std::printf("connections: refused %ld (by the server: %ld), dropped %ld, unanswered %ld, reconnects %ld\n",
                    total.refused, serverRefused, total.dropped, total.unanswered, total.reconnects);
        std::printf("boards away %zu times, reopened %zu times; %zu replies with -241/-240 (not a number, or 0 V "
                    "from the board opened again), %ld of them while that board was there\n",
                    lost, back, total.awayReplies.size(), strayAway);
        PrintLatency("raw", rawTotal.latencyMicroseconds);
        PrintLatency("VXI-11", vxi11Total.latencyMicroseconds);
        serverFigures.Print();
        emulatorFigures.Print();
        std::printf("server exit status: %d\n", status);

        const bool correct = total.wrong == 0 && total.refused == 0 && serverRefused == 0 && total.dropped == 0 &&
                             total.unanswered == 0 && status == 0 && total.pairs > 0 &&
                             (settings.lockingClients == 0 || total.locksHeld > 0);
        const long fdSlack = kFdSlackPerBoard * static_cast<long>(settings.boards);
        const bool steady = serverFigures.Steady(fdSlack) && emulatorFigures.Steady(fdSlack);
        std::printf("goal (0 wrong, 0 refused, locks taken, RSS growth under 1 MiB after warm-up, fds at the end "
                    "within %ld of the start): %s\n",
                    fdSlack,
                    correct && steady ? "met" : correct ? "replies met, memory or fds not" : "NOT met");
        return correct ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_soak: %s\n", error.what());
        return 1;
    }
}

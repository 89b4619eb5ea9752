// A soak run of tarnelctl serve on the emulated board, as a lab uses it for
// days: N clients (default 8, the server's limit) send random DAC:CODE
// n;:MEAS? pairs and reconnect every few hundred pairs, while board-emulator
// --replug-every takes the board off the bus and back every few thousand
// requests. Every reply is checked against the level set; the not-a-number
// reply counts as right only with -241/-240 and only while the board is
// away (as does 0 V when the DAC write found the board away and the
// measurement of the same message opened it again, at its start values). Prints pairs, wrong replies, refused connections, reopen count,
// latency p50/p99/max, and resident memory and open fds of the server and
// of the emulator at start, after warm-up and at the end.
//
// usage: bench_soak [--seconds S | --minutes M] [--clients N] [--replug-every N]
// (default 60 s). Loopback only; the run is bounded in clients and time.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <tarnel/board_protocol.h>

#include "emulated_server.h"
#include "loopback/line_client.h"
#include "process_usage.h"

namespace {

using namespace tarnel;
using bench::EmulatedServer;
using bench::ProcessUsage;
using Clock = std::chrono::steady_clock;

constexpr const char* kNotANumber = "9.91E+37";
constexpr auto kReplyBound = std::chrono::seconds(10);
// A reply read this long before the server's line on a lost board, or after
// its line on the board back, still falls in the board's absence.
constexpr auto kEventSlack = std::chrono::seconds(1);
constexpr long kGoalRssGrowthKiB = 1024;

struct Settings {
    std::chrono::seconds duration{60};
    unsigned clients = 8;
    unsigned replugEvery = 5000;
};

[[noreturn]] void Usage(const std::string& problem) {
    std::fprintf(stderr,
                 "bench_soak: %s — usage: bench_soak [--seconds S | --minutes M] [--clients 1..64] "
                 "[--replug-every N]\n",
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
        } else if (option == "--clients") {
            settings.clients = static_cast<unsigned>(Number(value, 1, 64, option));
        } else if (option == "--replug-every") {
            settings.replugEvery = static_cast<unsigned>(Number(value, 1, 100'000'000, option));
        } else {
            Usage("unknown option " + option);
        }
    }
    return settings;
}

// What one client saw.
struct Tally {
    long pairs = 0;
    long wrong = 0;
    long refused = 0;      // closed before its first reply, or not accepted at all
    long dropped = 0;      // closed by the server later on
    long unanswered = 0;   // no reply within kReplyBound
    long reconnects = 0;
    std::vector<float> latencyMicroseconds;
    std::vector<Clock::time_point> awayReplies;   // not-a-number replies with -241/-240
    std::vector<std::string> firstWrong;
};

void Note(Tally& tally, const std::string& what) {
    ++tally.wrong;
    if (tally.firstWrong.size() < 3) tally.firstWrong.push_back(what);
}

bool MeasuredLevel(const std::string& reply, std::uint32_t code) {
    char* end = nullptr;
    const double volts = std::strtod(reply.c_str(), &end);
    if (reply.empty() || *end != '\0') return false;
    // The read-back is the converter code just below the output.
    return std::fabs(volts - protocol::DacOutputVolts(code)) <= protocol::ConverterVolts(1) * 1.001;
}

void RunClient(unsigned index, std::uint16_t port, Clock::time_point deadline, std::atomic<long>& pairs, Tally& tally) {
    std::mt19937 random(7919u * index + 1);
    std::uniform_int_distribution<std::uint32_t> codes(0, protocol::kDataMask);
    std::uniform_int_distribution<int> spans(100, 1000);   // pairs per connection
    while (Clock::now() < deadline) {
        loopback::LineClient connection(port, kReplyBound);
        bool answered = false;
        for (int left = spans(random); left > 0 && Clock::now() < deadline; --left) {
            const std::uint32_t code = codes(random);
            const Clock::time_point sent = Clock::now();
            const std::optional<std::string> reply = connection.Query("DAC:CODE " + std::to_string(code) + ";:MEAS?");
            if (!reply) {
                if (connection.TimedOut()) {
                    ++tally.unanswered;
                } else {
                    ++(answered ? tally.dropped : tally.refused);
                }
                break;
            }
            answered = true;
            const Clock::time_point received = Clock::now();
            tally.latencyMicroseconds.push_back(std::chrono::duration<float, std::micro>(received - sent).count());
            ++tally.pairs;
            ++pairs;
            if (*reply != kNotANumber && MeasuredLevel(*reply, code)) continue;
            // Otherwise the board must have been away: the reply is not a
            // number, or the DAC write found it gone and the measurement
            // opened it again, at its start level 0.
            const std::optional<std::string> error = connection.Query("SYST:ERR?;*CLS");
            const bool boardError = error && (error->rfind("-241,", 0) == 0 || error->rfind("-240,", 0) == 0);
            if (boardError && (*reply == kNotANumber || MeasuredLevel(*reply, 0))) {
                tally.awayReplies.push_back(received);
            } else {
                Note(tally, "code " + std::to_string(code) + " read back as " + *reply + " with the error " +
                                error.value_or("<none>"));
            }
        }
        ++tally.reconnects;
    }
}

// Not-a-number replies outside every absence of the board.
long OutsideAbsences(const std::vector<Clock::time_point>& replies, const EmulatedServer::BoardEvents& events,
                     Clock::time_point end) {
    long outside = 0;
    for (const auto reply : replies) {
        bool inside = false;
        for (std::size_t i = 0; i < events.lost.size() && !inside; ++i) {
            const auto back = i < events.back.size() ? events.back[i] : end;
            inside = events.lost[i] - kEventSlack <= reply && reply <= back + kEventSlack;
        }
        outside += inside ? 0 : 1;
    }
    return outside;
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
    bool Steady() const {
        return warm && end && end->rssKiB - warm->rssKiB < kGoalRssGrowthKiB && fdSamples.size() >= 2 &&
               HighestFds(true) <= HighestFds(false);
    }
    void Print() const {
        const long growth = warm && end ? end->rssKiB - warm->rssKiB : 0;
        std::printf("%-9s at start %s; after warm-up %s; at the end %s; RSS growth after warm-up %+.2f MiB; "
                    "most fds in the first/second half after warm-up %ld/%ld\n",
                    name, Usage(start).c_str(), Usage(warm).c_str(), Usage(end).c_str(), growth / 1024.0,
                    HighestFds(false), HighestFds(true));
    }
};

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = Parse(argc, argv);
    const auto warmUp = std::clamp(settings.duration / 6, std::chrono::seconds(5), std::chrono::seconds(120));
    std::printf("soak: %u clients, %lld s (warm-up %lld s), board replugged every %u DAC/read-back requests\n",
                settings.clients, static_cast<long long>(settings.duration.count()),
                static_cast<long long>(warmUp.count()), settings.replugEvery);
    std::fflush(stdout);
    try {
        EmulatedServer server(TARNEL_BENCH_EMULATOR, {"--replug-every", std::to_string(settings.replugEvery)},
                              TARNEL_BENCH_TARNELCTL, {"--max-clients", std::to_string(settings.clients)});
        const auto port = server.WaitForPort(std::chrono::seconds(60));
        if (!port) throw std::runtime_error("the server did not listen within 60 s");
        const auto serverPid = server.ServerPid();
        if (!serverPid) throw std::runtime_error("the server process was not found under board-emulator");
        ProcessFigures serverFigures{"server", *serverPid, bench::SampleUsage(*serverPid), {}, {}, {}};
        ProcessFigures emulatorFigures{"emulator", server.EmulatorPid(), bench::SampleUsage(server.EmulatorPid()), {}, {}, {}};

        const Clock::time_point start = Clock::now();
        const Clock::time_point deadline = start + settings.duration;
        std::atomic<long> pairs = 0;
        std::vector<Tally> tallies(settings.clients);
        std::vector<std::thread> clients;
        for (unsigned i = 0; i < settings.clients; ++i) {
            clients.emplace_back(RunClient, i, *port, deadline, std::ref(pairs), std::ref(tallies[i]));
        }
        bool warm = false;
        auto nextProgress = start + std::chrono::seconds(30);
        auto nextSample = start + warmUp;
        while (Clock::now() < deadline) {
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
        serverFigures.end = bench::SampleUsage(*serverPid);
        emulatorFigures.end = bench::SampleUsage(server.EmulatorPid());
        const EmulatedServer::BoardEvents events = server.Events();
        const int status = server.Stop(std::chrono::seconds(30));

        Tally total;
        std::vector<float> latencies;
        for (const Tally& tally : tallies) {
            total.pairs += tally.pairs;
            total.wrong += tally.wrong;
            total.refused += tally.refused;
            total.dropped += tally.dropped;
            total.unanswered += tally.unanswered;
            total.reconnects += tally.reconnects;
            total.awayReplies.insert(total.awayReplies.end(), tally.awayReplies.begin(), tally.awayReplies.end());
            latencies.insert(latencies.end(), tally.latencyMicroseconds.begin(), tally.latencyMicroseconds.end());
            for (const auto& what : tally.firstWrong) std::printf("wrong: %s\n", what.c_str());
        }
        const long strayAway = OutsideAbsences(total.awayReplies, events, end);
        total.wrong += strayAway;
        std::sort(latencies.begin(), latencies.end());
        const double seconds = std::chrono::duration<double>(end - start).count();

        std::printf("pairs: %ld (%.0f/s), wrong replies: %ld, refused connections: %ld (server: %ld), "
                    "dropped: %ld, unanswered: %ld, reconnects: %ld\n",
                    total.pairs, total.pairs / seconds, total.wrong, total.refused, events.refused, total.dropped,
                    total.unanswered, total.reconnects);
        std::printf("board away %zu times, reopened %zu times; %zu replies with -241/-240 (not a number, or 0 V "
                    "from the board opened again), %ld of them while the board was there\n",
                    events.lost.size(), events.back.size(), total.awayReplies.size(), strayAway);
        std::printf("latency per pair: p50 %.2f ms, p99 %.2f ms, max %.1f ms\n", Percentile(latencies, 0.5) / 1000,
                    Percentile(latencies, 0.99) / 1000, latencies.empty() ? 0.0 : latencies.back() / 1000);
        serverFigures.Print();
        emulatorFigures.Print();
        std::printf("server exit status: %d\n", status);

        const bool correct = total.wrong == 0 && total.refused == 0 && events.refused == 0 && total.dropped == 0 &&
                             total.unanswered == 0 && status == 0 && total.pairs > 0;
        const bool steady = serverFigures.Steady() && emulatorFigures.Steady();
        std::printf("goal (0 wrong, 0 refused, RSS growth under 1 MiB after warm-up, fds flat): %s\n",
                    correct && steady ? "met" : correct ? "replies met, memory or fds not" : "NOT met");
        return correct ? 0 : 1;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_soak: %s\n", error.what());
        return 1;
    }
}

// MEAS? queries per second through tarnelctl serve's SCPI server on the
// emulated board, against the floor of one bare control transfer per query
// (a read-back through bare libusb on the same board): from one client that
// keeps 16 queries in flight, and from 8 clients that each wait for every
// reply. Goal: at least 0.9 of the floor. Then the latency the server adds
// over loopback: a MEAS? round trip against one bare read-back, and the round
// trip of *OPC?, which reaches no board. Runs under umockdev-wrapper (see the
// run-bench target); an optional argument sets the queries per round.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <tarnel/emulated_board.h>

#include "bare_board.h"
#include "median.h"
#include "loopback/line_client.h"
#include "scpi/board_commands.h"
#include "scpi/raw_socket_server.h"
#include "scpi/served_instrument.h"
#include "serve/board_instrument.h"

namespace {

using tarnel::bench::Median;

using namespace tarnel;
using Clock = std::chrono::steady_clock;

constexpr int kRounds = 5;
constexpr unsigned kClients = 8;
constexpr unsigned kInFlight = 16;

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "bench_scpi_server: %s\n", what.c_str());
    std::exit(1);
}

double Seconds(Clock::duration duration) { return std::chrono::duration<double>(duration).count(); }

// One client of the server; a connection that fails ends the benchmark.
class Client {
public:
    explicit Client(std::uint16_t port) : line_(port) {
        if (!line_.Connected()) Fail("cannot connect to the server");
    }

    void Send(const std::string& text) {
        if (!line_.Send(text)) Fail("the server closed the connection");
    }
    std::string Line() {
        const std::optional<std::string> line = line_.ReadLine();
        if (!line) Fail(line_.TimedOut() ? "the server gave no reply in time" : "the server closed the connection");
        if (*line == "9.91E+37") Fail("a query failed on the board");
        return *line;
    }
    std::string Query(const std::string& text) {
        Send(text + "\n");
        return Line();
    }

private:
    loopback::LineClient line_;
};

double FloorPerSecond(bench::BareBoard& bare, unsigned queries) {
    const Clock::time_point start = Clock::now();
    for (unsigned i = 0; i < queries; ++i) bare.ReadConverter();
    return queries / Seconds(Clock::now() - start);
}

double PipelinedPerSecond(std::uint16_t port, unsigned queries) {
    Client client(port);
    const Clock::time_point start = Clock::now();
    unsigned sent = 0;
    for (; sent < std::min(kInFlight, queries); ++sent) client.Send("MEAS?\n");
    for (unsigned received = 0; received < queries; ++received) {
        client.Line();
        if (sent < queries) {
            client.Send("MEAS?\n");
            ++sent;
        }
    }
    return queries / Seconds(Clock::now() - start);
}

double ManyClientsPerSecond(std::uint16_t port, unsigned queries) {
    std::vector<std::unique_ptr<Client>> clients;
    for (unsigned i = 0; i < kClients; ++i) clients.push_back(std::make_unique<Client>(port));
    std::atomic<bool> go = false;
    std::vector<std::thread> threads;
    for (auto& client : clients) {
        threads.emplace_back([&go, &client, queries] {
            while (!go) std::this_thread::yield();
            for (unsigned i = 0; i < queries / kClients; ++i) client->Query("MEAS?");
        });
    }
    const Clock::time_point start = Clock::now();
    go = true;
    for (auto& thread : threads) thread.join();
    return (queries / kClients * kClients) / Seconds(Clock::now() - start);
}

// The median time of one call.
double MedianMicroseconds(unsigned calls, const std::function<void()>& call) {
    std::vector<double> times;
    for (unsigned i = 0; i < calls; ++i) {
        const Clock::time_point start = Clock::now();
        call();
        times.push_back(Seconds(Clock::now() - start) * 1e6);
    }
    return Median(times);
}

void Measure(std::uint16_t port, unsigned queries) {
    bench::BareBoard bare;
    std::vector<double> floors, pipelined, many;
    // Rounds alternate between the paths, so that load from other programs
    // on the machine falls on all alike.
    for (int round = 0; round < kRounds; ++round) {
        floors.push_back(FloorPerSecond(bare, queries));
        pipelined.push_back(PipelinedPerSecond(port, queries));
        many.push_back(ManyClientsPerSecond(port, queries));
    }
    const double floor = Median(floors);
    std::printf("MEAS? on the emulated board, %u queries per round, median of %d rounds\n", queries, kRounds);
    std::printf("floor (one bare control transfer per query): %.0f queries/s\n", floor);
    std::printf("1 client, %u queries in flight: %.0f queries/s, ratio %.3f (goal >= 0.9)\n", kInFlight,
                Median(pipelined), Median(pipelined) / floor);
    std::printf("%u clients, each waiting for every reply: %.0f queries/s, ratio %.3f (goal >= 0.9)\n", kClients,
                Median(many), Median(many) / floor);

    Client client(port);
    const double bareRead = MedianMicroseconds(queries, [&] { bare.ReadConverter(); });
    const double measure = MedianMicroseconds(queries, [&] { client.Query("MEAS?"); });
    const double noBoard = MedianMicroseconds(queries, [&] { client.Query("*OPC?"); });
    std::printf("1 client, one query at a time: MEAS? round trip %.1f us against a bare read-back of %.1f us: "
                "the server and loopback add %.1f us; *OPC? (no board) round trip %.1f us\n",
                measure, bareRead, measure - bareRead, noBoard);
}

}  // namespace

int main(int argc, char** argv) {
    const long queries = argc > 1 ? std::strtol(argv[1], nullptr, 10) : 4000;
    if (queries < static_cast<long>(kClients) || queries > 10'000'000) Fail("give 8 to 10000000 queries per round");
    try {
        emulator::EmulatedBoard board;
        scpi::Instrument instrument(std::make_unique<cli::BoardInstrument>(cli::LibraryChoice::Newer, 0, false),
                                    scpi::InstrumentSetup{});
        scpi::ServedInstrument served(scpi::BoardCommands(instrument), scpi::DispatchMode::OneAtATime);
        scpi::ServerSettings settings;
        settings.address = {"127.0.0.1", 0};
        settings.maxClients = kClients + 1;
        scpi::RawSocketServer server(served, settings);
        if (const auto failure = server.Listen()) Fail(*failure);
        Measure(server.ListeningOn().port, static_cast<unsigned>(queries));
    } catch (const std::exception& error) {
        Fail(std::string(error.what()) + " — run it under umockdev-wrapper (cmake --build <dir> --target run-bench)");
    }
    return 0;
}

// MEAS? queries per second through tarnelctl serve's SCPI server on the
// emulated board, against the floor of one bare control transfer per query
// (a read-back through bare libusb on the same board): from one client that
// keeps 16 queries in flight, and from 8 clients that each wait for every
// reply. Goal: at least 0.9 of the floor. Then the latency the server adds
// over loopback: a MEAS? round trip against one bare read-back, and the round
// trip of *OPC?, which reaches no board. Then the same MEAS? over VXI-11
// (device_write with END, then device_read) from 1 link and from 8 links that
// each wait for every reply, against the floor of one bare read-back plus a
// bare VXI-11 write and read (*IDN? of an instrument with no board) on the
// same server. Goal: at least 0.9 of that floor. Runs under umockdev-wrapper
// (see the run-bench target); an optional argument sets the queries per round.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <rpc/rpc.h>

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
#include "vxi11.h"
#include "vxi11/served_instrument_device.h"
#include "vxi11/vxi11_codes.h"
#include "vxi11/vxi11_server.h"

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

double MedianMicroseconds(unsigned calls, const std::function<void()>& call);

// One VXI-11 link on a connection of its own, through libtirpc's client.
class Vxi11Link {
public:
    Vxi11Link(std::uint16_t corePort, const char* device) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(corePort);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        int socket = RPC_ANYSOCK;
        client_ = clnttcp_create(&address, DEVICE_CORE, DEVICE_CORE_VERSION, &socket, 0, 0);
        if (client_ == nullptr) Fail("cannot connect to the VXI-11 server");
        Create_LinkParms parms{1, 0, 0, const_cast<char*>(device)};
        Create_LinkResp link{};
        if (!Call(create_link, xdr_Create_LinkParms, &parms, xdr_Create_LinkResp, &link) || link.error != 0) {
            Fail(std::string("cannot link to VXI-11 device ") + device);
        }
        lid_ = link.lid;
    }
    ~Vxi11Link() { clnt_destroy(client_); }
    Vxi11Link(const Vxi11Link&) = delete;
    Vxi11Link& operator=(const Vxi11Link&) = delete;

    // device_write of the message with END, then device_read of its reply.
    std::string Query(std::string message) {
        Device_WriteParms write{lid_, 10000, 0, vxi11::kFlagEnd, {static_cast<u_int>(message.size()), message.data()}};
        Device_WriteResp written{};
        if (!Call(device_write, xdr_Device_WriteParms, &write, xdr_Device_WriteResp, &written) || written.error != 0) {
            Fail("a VXI-11 write failed");
        }
        Device_ReadParms read{lid_, 1024, 10000, 0, 0, 0};
        Device_ReadResp reply{};
        if (!Call(device_read, xdr_Device_ReadParms, &read, xdr_Device_ReadResp, &reply) || reply.error != 0) {
            Fail("a VXI-11 read failed");
        }
        std::string line(reply.data.data_val, reply.data.data_len);
        clnt_freeres(client_, reinterpret_cast<xdrproc_t>(xdr_Device_ReadResp), reinterpret_cast<char*>(&reply));
        if (line.rfind("9.91E+37", 0) == 0) Fail("a query failed on the board");
        return line;
    }

private:
    template <typename Arguments, typename Results>
    bool Call(unsigned long procedure, bool_t (*encode)(XDR*, Arguments*), Arguments* arguments,
              bool_t (*decode)(XDR*, Results*), Results* results) {
        constexpr timeval kCallTimeout{20, 0};
        return clnt_call(client_, procedure, reinterpret_cast<xdrproc_t>(encode), reinterpret_cast<char*>(arguments),
                         reinterpret_cast<xdrproc_t>(decode), reinterpret_cast<char*>(results), kCallTimeout) ==
               RPC_SUCCESS;
    }

    CLIENT* client_ = nullptr;
    long lid_ = 0;
};

double Vxi11PerSecond(std::uint16_t corePort, const char* device, const char* message, unsigned links, unsigned queries) {
    std::vector<std::unique_ptr<Vxi11Link>> opened;
    for (unsigned i = 0; i < links; ++i) opened.push_back(std::make_unique<Vxi11Link>(corePort, device));
    std::atomic<bool> go = false;
    std::vector<std::thread> threads;
    for (auto& link : opened) {
        threads.emplace_back([&go, &link, message, each = queries / links] {
            while (!go) std::this_thread::yield();
            for (unsigned i = 0; i < each; ++i) link->Query(message);
        });
    }
    const Clock::time_point start = Clock::now();
    go = true;
    for (auto& thread : threads) thread.join();
    return (queries / links * links) / Seconds(Clock::now() - start);
}

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

void MeasureVxi11(std::uint16_t corePort, unsigned queries) {
    bench::BareBoard bare;
    std::vector<double> floors, one, many;
    for (int round = 0; round < kRounds; ++round) {
        const double board = FloorPerSecond(bare, queries);
        const double bareVxi11 = Vxi11PerSecond(corePort, "bare", "*IDN?", 1, queries);
        floors.push_back(1 / (1 / board + 1 / bareVxi11));
        one.push_back(Vxi11PerSecond(corePort, "inst0", "MEAS?", 1, queries));
        many.push_back(Vxi11PerSecond(corePort, "inst0", "MEAS?", kClients, queries));
    }
    const double floor = Median(floors);
    std::printf("MEAS? over VXI-11 (device_write + device_read), %u queries per round, median of %d rounds\n", queries,
                kRounds);
    std::printf("floor (one bare read-back plus a bare VXI-11 write and read): %.0f queries/s\n", floor);
    std::printf("1 link: %.0f queries/s, ratio %.3f (goal >= 0.9)\n", Median(one), Median(one) / floor);
    std::printf("%u links, each waiting for every reply: %.0f queries/s, ratio %.3f (goal >= 0.9)\n", kClients,
                Median(many), Median(many) / floor);

    // The same one query at a time as medians, which load from other
    // programs sways less than a round's mean.
    Vxi11Link board(corePort, "inst0");
    Vxi11Link noBoard(corePort, "bare");
    const double bareRead = MedianMicroseconds(queries, [&] { bare.ReadConverter(); });
    const double bareVxi11 = MedianMicroseconds(queries, [&] { noBoard.Query("*IDN?"); });
    const double measure = MedianMicroseconds(queries, [&] { board.Query("MEAS?"); });
    std::printf("1 link, median times: MEAS? %.1f us against a bare read-back of %.1f us plus a bare VXI-11 write and "
                "read of %.1f us: ratio %.3f\n",
                measure, bareRead, bareVxi11, (bareRead + bareVxi11) / measure);
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

        // The board's messages from VXI-11 links on the same served instrument,
        // and an instrument without a board for the floor's bare write and read.
        scpi::ServedInstrument noBoard(scpi::CommandTable(scpi::InstrumentBasics{[] { return std::string("Tarnel,Bench,0,1.0"); },
                                                                                 [] {}, {}, {}, {}, {}},
                                                          {}),
                                       scpi::DispatchMode::OneAtATime);
        vxi11::ServedInstrumentDevice boardDevice(served);
        vxi11::ServedInstrumentDevice bareDevice(noBoard);
        vxi11::Vxi11Settings vxi11Settings;
        vxi11Settings.host = "127.0.0.1";
        vxi11::Vxi11Server vxi11Server({{{"inst0"}, &boardDevice}, {{"bare"}, &bareDevice}}, vxi11Settings);
        if (const auto failure = vxi11Server.Listen()) Fail(*failure);
        MeasureVxi11(vxi11Server.CorePort(), static_cast<unsigned>(queries));
    } catch (const std::exception& error) {
        Fail(std::string(error.what()) + " — run it under umockdev-wrapper (cmake --build <dir> --target run-bench)");
    }
    return 0;
}

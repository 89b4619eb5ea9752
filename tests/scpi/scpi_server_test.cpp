// The raw socket server in process on an instrument that answers at once,
// through real sockets: a client that closes its connection and opens a new
// one at once is served while fewer than the most clients are really
// connected; and a service manager's notify socket hears READY=1, watchdog
// pings from the server's loop, then STOPPING=1, and nothing from a server
// that is not the program's service.
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "loopback/line_client.h"
#include "scpi/command_table.h"
#include "scpi/raw_socket_server.h"
#include "scpi/served_instrument.h"

namespace tarnel::scpi {
namespace {

using loopback::LineClient;

using namespace std::chrono_literals;

// An instrument with no commands of its own: the engine's *OPC? answers at once.
CommandTable InstantCommands() {
    InstrumentBasics basics;
    basics.identity = [] { return std::string("Test,Instant,0,1"); };
    basics.reset = [] {};
    return CommandTable(std::move(basics), {});
}

class LoggedServer {
public:
    explicit LoggedServer(unsigned maxClients) : server_(instrument_, Settings(maxClients)) {}

    RawSocketServer& Server() { return server_; }
    std::uint16_t Port() const { return server_.ListeningOn().port; }
    std::size_t LinesWith(const std::string& words) {
        std::lock_guard lock(mutex_);
        std::size_t count = 0;
        for (const auto& line : lines_) count += line.find(words) != std::string::npos;
        return count;
    }

private:
    ServerSettings Settings(unsigned maxClients) {
        ServerSettings settings;
        settings.address = {"127.0.0.1", 0};
        settings.maxClients = maxClients;
        settings.notifiesServiceManager = true;
        settings.log = [this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
        return settings;
    }

    std::mutex mutex_;
    std::vector<std::string> lines_;
    ServedInstrument instrument_{InstantCommands(), DispatchMode::OneAtATime};
    RawSocketServer server_;
};

TEST(ScpiServerTest, AClientThatReconnectsAtOnceIsServedWhileOthersFillTheRest) {
    constexpr unsigned kMost = 3;
    constexpr int kReconnects = 200;
    LoggedServer logged(kMost);
    ASSERT_EQ(logged.Server().Listen(), std::nullopt);
    const std::uint16_t port = logged.Port();
    std::vector<std::string> problems;
    {
        std::vector<std::unique_ptr<LineClient>> clients;
        for (unsigned i = 0; i < kMost; ++i) clients.push_back(std::make_unique<LineClient>(port));
        for (auto& client : clients) {
            if (client->Reply("*OPC?") != "1") problems.push_back("a client within the limit was not served");
        }
        if (LineClient(port).Reply("*OPC?") != "") problems.push_back("a client above the limit was served");
        for (int round = 0; round < kReconnects; ++round) {
            auto& client = clients[static_cast<std::size_t>(round) % kMost];
            client.reset();   // closed, and at once a new connection
            client = std::make_unique<LineClient>(port);
            const std::string reply = client->Reply("*OPC?");
            if (reply != "1") problems.push_back("reconnect " + std::to_string(round) + " answered '" + reply + "'");
        }
    }
    EXPECT_TRUE(problems.empty()) << problems.size() << " problems, the first: " << problems.front();
    EXPECT_EQ(logged.LinesWith("refused the client"), 1u);
}

// A datagram socket standing in for the service manager's.
class FakeNotifySocket {
public:
    explicit FakeNotifySocket(bool abstract) : socket_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        const std::string name = "tarnel-notify-" + std::to_string(::getpid());
        path_ = abstract ? "@" + name : (std::filesystem::temp_directory_path() / name).string();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path_.copy(address.sun_path, sizeof address.sun_path - 1);
        if (abstract) address.sun_path[0] = '\0';
        if (!abstract) std::filesystem::remove(path_);
        const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path_.size() + (abstract ? 0 : 1));
        bound_ = ::bind(socket_, reinterpret_cast<const sockaddr*>(&address), length) == 0;
        ::setenv("NOTIFY_SOCKET", path_.c_str(), 1);
    }
    ~FakeNotifySocket() {
        ::unsetenv("NOTIFY_SOCKET");
        ::close(socket_);
        if (path_.front() == '/') std::filesystem::remove(path_);
    }
    bool Bound() const { return bound_; }

    // The next datagram waiting, without waiting.
    std::optional<std::string> Take() {
        char buffer[512];
        const ssize_t got = ::recv(socket_, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got < 0) return std::nullopt;
        return std::string(buffer, static_cast<std::size_t>(got));
    }
    // The next datagram, for at most 10 s.
    std::optional<std::string> Next() {
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd ready{socket_, POLLIN, 0};
            ::poll(&ready, 1, 5);
            if (auto datagram = Take()) return datagram;
        }
        return std::nullopt;
    }

private:
    int socket_;
    std::string path_;
    bool bound_ = false;
};

TEST(ServiceNotifierTest, ReadyOnceListeningPingsFromTheLoopAndStopping) {
    for (const bool abstract : {false, true}) {
        SCOPED_TRACE(abstract ? "abstract socket name" : "socket path");
        FakeNotifySocket manager(abstract);
        ASSERT_TRUE(manager.Bound());
        ::setenv("WATCHDOG_USEC", "40000", 1);
        ::setenv("WATCHDOG_PID", std::to_string(::getpid()).c_str(), 1);
        {
            LoggedServer logged(1);
            ASSERT_EQ(logged.Server().Listen(), std::nullopt);
            EXPECT_EQ(manager.Next(), "READY=1\nSTATUS=serves SCPI on " + logged.Server().ListeningOn().Text());
            for (int ping = 0; ping < 3; ++ping) EXPECT_EQ(manager.Next(), "WATCHDOG=1");
            // Clients in between change nothing.
            EXPECT_EQ(LineClient(logged.Port()).Reply("*OPC?"), "1");
            EXPECT_EQ(manager.Next(), "WATCHDOG=1");

            logged.Server().Stop();
            std::optional<std::string> last;
            while (auto datagram = manager.Take()) last = datagram;
            EXPECT_EQ(last, "STOPPING=1");
            EXPECT_EQ(logged.LinesWith("service manager"), 0u);
        }
        {
            ServedInstrument instrument(InstantCommands(), DispatchMode::OneAtATime);
            ServerSettings quiet;
            quiet.address = {"127.0.0.1", 0};
            RawSocketServer second(instrument, quiet);
            ASSERT_EQ(second.Listen(), std::nullopt);
            second.Stop();
            EXPECT_EQ(manager.Take(), std::nullopt) << "a server that is not the program's service told the manager";
        }
        ::unsetenv("WATCHDOG_USEC");
        ::unsetenv("WATCHDOG_PID");
    }
}

TEST(ServiceNotifierTest, PingsAtHalfTheWatchdogIntervalOfThisProcessOnly) {
    const std::string self = std::to_string(::getpid());
    // WATCHDOG_USEC, WATCHDOG_PID, the ping interval expected in ms (0: none)
    const std::tuple<const char*, std::string, long> cases[] = {
        {"30000000", "", 15000}, {"30000000", self, 15000}, {"30000000", "1", 0},
        {"", "", 0},             {"0", "", 0},              {"30s", "", 0},      {"1", "", 1},
    };
    ::setenv("NOTIFY_SOCKET", "/run/nonexistent/notify", 1);
    for (const auto& [microseconds, pid, expected] : cases) {
        ::setenv("WATCHDOG_USEC", microseconds, 1);
        if (pid.empty()) {
            ::unsetenv("WATCHDOG_PID");
        } else {
            ::setenv("WATCHDOG_PID", pid.c_str(), 1);
        }
        const ServiceNotifier notifier;
        EXPECT_EQ(notifier.PingInterval().value_or(0ms).count(), expected) << microseconds << " for " << pid;
    }
    ::unsetenv("NOTIFY_SOCKET");
    ::unsetenv("WATCHDOG_USEC");
    ::unsetenv("WATCHDOG_PID");
}

}  // namespace
}  // namespace tarnel::scpi

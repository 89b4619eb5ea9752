// The bench meter client against a fake meter: a socket server in the test
// that answers each line as the case says, records what it was sent, and can
// stay silent or hang up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "command_line/command_failure.h"
#include "meter/lab_dmm.h"
#include "meter/meter_failure.h"

namespace tarnel::cli {
namespace {

struct Reply {
    std::optional<std::string> line;   // sent with a line feed
    bool hangUp = false;
};
using Script = std::function<Reply(const std::string& received)>;

class FakeMeter {
public:
    explicit FakeMeter(Script script) : script_(std::move(script)) {
        listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(listener_, 1) != 0 ||
            ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            ADD_FAILURE() << "the fake meter cannot listen";
        }
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this] { Serve(); });
    }
    ~FakeMeter() {
        thread_.join();
        ::close(listener_);
    }

    std::uint16_t Port() const { return port_; }
    std::vector<std::string> Received() {
        const std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void Serve() {
        pollfd entry{listener_, POLLIN, 0};
        if (::poll(&entry, 1, 10000) != 1) return;   // nobody came
        const int client = ::accept(listener_, nullptr, nullptr);
        std::string pending;
        char buffer[512];
        for (bool open = true; open;) {
            const ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
            if (got <= 0) break;
            pending.append(buffer, static_cast<std::size_t>(got));
            for (std::size_t end; open && (end = pending.find('\n')) != std::string::npos;) {
                const std::string line = pending.substr(0, end);
                pending.erase(0, end + 1);
                {
                    const std::lock_guard lock(mutex_);
                    received_.push_back(line);
                }
                const Reply reply = script_(line);
                if (reply.line) {
                    const std::string text = *reply.line + "\n";
                    ::send(client, text.data(), text.size(), MSG_NOSIGNAL);
                }
                open = !reply.hangUp;
            }
        }
        ::close(client);
    }

    Script script_;
    int listener_ = -1;
    std::uint16_t port_ = 0;
    std::thread thread_;
    std::mutex mutex_;
    std::vector<std::string> received_;
};

// A meter that takes every command, with the given answer to READ?.
Script Answering(const std::string& readings, std::vector<std::string> errors = {}) {
    return [readings, errors](const std::string& line) mutable -> Reply {
        if (line == "*IDN?") return {"Bench,DMM-1,0042,1.0"};
        if (line == "SYST:ERR?") {
            if (errors.empty()) return {"+0,\"No error\""};
            const std::string next = errors.front();
            errors.erase(errors.begin());
            return {next};
        }
        if (line == "READ?") return {readings};
        return {};
    };
}

scpi::client::InstrumentResource Local(std::uint16_t port) {
    return scpi::client::InstrumentResource{scpi::client::SocketResource{"127.0.0.1", port}};
}

TEST(LabDmm, ConfiguresForDcVoltsAndAveragesItsReadings) {
    FakeMeter meter(Answering("+1.00000100E+00,+1.00000300E+00,+9.99999000E-01,+1.00000100E+00"));
    {
        LabDmm bench(Local(meter.Port()), {}, MeterSettings{0.2, 4});
        EXPECT_EQ(bench.Identity(), "Bench,DMM-1,0042,1.0");
        bench.Trigger();
        const MeterReading reading = bench.Fetch();
        EXPECT_EQ(reading.count, 4u);
        EXPECT_NEAR(reading.meanVolts, 1.000001, 1e-12);
        ASSERT_TRUE(reading.stdVolts);
        EXPECT_NEAR(*reading.stdVolts, std::sqrt(8.0 / 3.0) * 1e-6, 1e-12);
    }
    const std::vector<std::string> expected{"*RST",         "*CLS",          "*IDN?",       "CONF:VOLT:DC 10",
                                            "VOLT:DC:NPLC 0.2", "VOLT:DC:ZERO:AUTO ONCE", "TRIG:SOUR IMM",
                                            "TRIG:COUN 1",  "SAMP:COUN 4",   "SYST:ERR?",   "READ?"};
    EXPECT_EQ(meter.Received(), expected);
}

TEST(LabDmm, OneReadingHasNoDeviation) {
    FakeMeter meter(Answering("-1.5E-06"));
    LabDmm bench(Local(meter.Port()), {}, MeterSettings{});
    bench.Trigger();
    const MeterReading reading = bench.Fetch();
    EXPECT_DOUBLE_EQ(reading.meanVolts, -1.5e-6);
    EXPECT_FALSE(reading.stdVolts);
}

TEST(LabDmm, ErrorsAfterConfigurationRefuseTheMeterWithItsOwnText) {
    FakeMeter meter(Answering("+1E+00", {"-113,\"Undefined header\"", "-222,\"Data out of range\""}));
    try {
        LabDmm bench(Local(meter.Port()), {}, MeterSettings{});
        FAIL() << "a meter with errors was taken";
    } catch (const CommandFailure& failure) {
        EXPECT_EQ(failure.Status(), ExitStatus::Unreachable);
        const std::string message = failure.what();
        EXPECT_NE(message.find("-113,\"Undefined header\"; -222,\"Data out of range\""), std::string::npos) << message;
        EXPECT_NE(message.find("127.0.0.1:" + std::to_string(meter.Port())), std::string::npos) << message;
        EXPECT_EQ(message.find('\n'), std::string::npos);
    }
}

// Replies to READ? that are no readings, and a meter that goes away: each a
// MeterFailure (exit 5) saying what happened.
TEST(LabDmm, ReadingsThatAreNotReadingsFailTheMeter) {
    const struct {
        const char* name;
        Script script;
        unsigned samples;
        const char* says;
    } cases[] = {
        {"garbage", Answering("hello"), 1, "not readings"},
        {"empty field", Answering("+1E+00,,+1E+00"), 3, "not readings"},
        {"too few", Answering("+1E+00,+1E+00"), 3, "2 reading(s), not 3"},
        {"over range", Answering("+9.9E+37"), 1, "over range"},
        {"negative over range", Answering("-9.90000000E+37"), 1, "over range"},
        {"hangs up", [](const std::string& line) -> Reply {
             return line == "READ?" ? Reply{std::nullopt, true} : Answering("")(line);
         }, 1, "closed the connection"},
    };
    for (const auto& one : cases) {
        FakeMeter meter(one.script);
        LabDmm bench(Local(meter.Port()), {}, MeterSettings{0.02, one.samples});
        bench.Trigger();
        try {
            bench.Fetch();
            ADD_FAILURE() << one.name << ": taken as a reading";
        } catch (const MeterFailure& failure) {
            EXPECT_EQ(failure.Status(), ExitStatus::TransferFailed) << one.name;
            EXPECT_NE(std::string(failure.what()).find(one.says), std::string::npos) << one.name << ": " << failure.what();
        }
    }
}

TEST(LabDmm, ASilentMeterTimesOutAfterItsReadingTime) {
    FakeMeter meter([](const std::string& line) -> Reply { return line == "READ?" ? Reply{} : Answering("")(line); });
    const MeterSettings settings{0.02, 1};
    LabDmm bench(Local(meter.Port()), {}, settings);
    const auto start = std::chrono::steady_clock::now();
    bench.Trigger();
    EXPECT_THROW(bench.Fetch(), MeterFailure);
    EXPECT_GE(std::chrono::steady_clock::now() - start, ReadingTimeout(settings));
}

TEST(LabDmm, ReadingTimeoutGrowsWithIntegrationTime) {
    EXPECT_EQ(ReadingTimeout({0.02, 1}).count(), 2002);
    EXPECT_EQ(ReadingTimeout({10, 1}).count(), 3200);
    EXPECT_EQ(ReadingTimeout({10, 16}).count(), 21200);
    EXPECT_EQ(ReadingTimeout({100, 4}).count(), 50000);
}

TEST(LabDmm, AMeterNobodyListensForIsUnreachableByItsAddress) {
    // A port that was free a moment ago.
    const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(probe, reinterpret_cast<sockaddr*>(&address), length);
    ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(probe);
    const std::uint16_t port = ntohs(address.sin_port);
    try {
        LabDmm bench(Local(port), {}, MeterSettings{});
        FAIL() << "connected to nobody";
    } catch (const CommandFailure& failure) {
        EXPECT_EQ(failure.Status(), ExitStatus::Unreachable);
        const std::string message = failure.what();
        EXPECT_NE(message.find("cannot reach the meter at 127.0.0.1:" + std::to_string(port)), std::string::npos)
            << message;
        EXPECT_NE(message.find("--meter HOST:5025"), std::string::npos) << message;
    }
}

}  // namespace
}  // namespace tarnel::cli

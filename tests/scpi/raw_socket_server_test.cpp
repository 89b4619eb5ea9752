// The raw socket server on a served instrument, in process through real
// sockets on loopback, with an instrument whose HOLD? waits until the test
// lets it go: what a slow message holds up in each dispatch mode, the order
// of replies and the threads messages run on, the client limit, lines too
// long, clients refused by the admission hook, the instrument's lock, and a
// stop while a message runs.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "loopback/line_client.h"
#include "scpi/command_call.h"
#include "scpi/raw_socket_server.h"
#include "scpi/reply_numbers.h"
#include "scpi/served_instrument.h"

namespace tarnel::scpi {
namespace {

using loopback::LineClient;
using namespace std::chrono_literals;

constexpr const char* kNoReply = "<no reply>";

// HOLD? answers "held" once the test opens the gate (10 s at the most);
// ECHO? n answers n and notes the thread that ran it for its client.
class GatedCommands {
public:
    CommandTable Table() {
        InstrumentBasics basics;
        basics.identity = [] { return std::string("Test,Gated,0,1"); };
        basics.reset = [] {};
        return CommandTable(std::move(basics),
                            {{"HOLD", {},
                              [this](CommandCall& call) {
                                  call.NoParameter();
                                  std::unique_lock lock(mutex_);
                                  ++holding_;
                                  changed_.notify_all();
                                  changed_.wait_for(lock, 10s, [this] { return open_; });
                                  return std::string("held");
                              }},
                             {"ECHO", {}, [this](CommandCall& call) {
                                  const auto value = static_cast<long long>(call.Whole({0, 1e6, 1e6, 0}));
                                  const std::lock_guard lock(mutex_);
                                  threads_[&call.Connection()].insert(std::this_thread::get_id());
                                  return Nr1(value);
                              }}});
    }

    // Until a HOLD? runs (5 s at the most).
    bool AwaitHolding() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 5s, [this] { return holding_ > 0; });
    }
    void Open() {
        const std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // The threads each client's ECHO? ran on.
    std::vector<std::set<std::thread::id>> Threads() {
        const std::lock_guard lock(mutex_);
        std::vector<std::set<std::thread::id>> each;
        for (const auto& [client, threads] : threads_) each.push_back(threads);
        return each;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int holding_ = 0;
    bool open_ = false;
    std::map<const ConnectionState*, std::set<std::thread::id>> threads_;
};

class LogLines {
public:
    std::function<void(const std::string&)> Sink() {
        return [this](const std::string& line) {
            const std::lock_guard lock(mutex_);
            lines_.push_back(line);
        };
    }
    std::vector<std::string> Lines() {
        const std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

// A gated instrument served on a free loopback port.
struct Served {
    explicit Served(DispatchMode mode, ServerSettings settings = {})
        : instrument(commands.Table(), mode), server(instrument, WithLog(std::move(settings))) {
        const auto failure = server.Listen();
        EXPECT_EQ(failure, std::nullopt);
    }
    ServerSettings WithLog(ServerSettings settings) {
        settings.address = {"127.0.0.1", 0};
        settings.log = log.Sink();
        return settings;
    }
    std::uint16_t Port() const { return server.ListeningOn().port; }

    GatedCommands commands;
    LogLines log;
    ServedInstrument instrument;
    RawSocketServer server;
};

const char* Name(DispatchMode mode) { return mode == DispatchMode::OneAtATime ? "one at a time" : "each client its own"; }

TEST(RawSocketServerTest, ASlowMessageHoldsUpWhatItsDispatchModeSays) {
    const struct {
        DispatchMode mode;
        const char* otherClientMeanwhile;   // the other client's *OPC? while HOLD? runs
    } cases[] = {{DispatchMode::OneAtATime, kNoReply}, {DispatchMode::EachClientItsOwn, "1"}};
    for (const auto& one : cases) {
        SCOPED_TRACE(Name(one.mode));
        Served served(one.mode);
        LineClient slow(served.Port());
        LineClient other(served.Port(), 1s);
        ASSERT_TRUE(slow.Send("HOLD?\n"));
        ASSERT_TRUE(served.commands.AwaitHolding());
        EXPECT_EQ(other.Reply("*OPC?"), one.otherClientMeanwhile);
        served.commands.Open();
        EXPECT_EQ(slow.ReadLine(), "held");
        if (one.otherClientMeanwhile == std::string(kNoReply)) {
            EXPECT_EQ(other.ReadLine(), "1") << "answered late";
        }
        EXPECT_EQ(other.Reply("*OPC?"), "1");
    }
}

TEST(RawSocketServerTest, EachClientsRepliesKeepItsOrderOnTheThreadsOfTheMode) {
    constexpr int kClients = 3;
    constexpr int kEchoes = 200;
    const struct {
        DispatchMode mode;
        std::size_t threadsInAll;   // the threads all the clients' messages ran on
    } cases[] = {{DispatchMode::OneAtATime, 1}, {DispatchMode::EachClientItsOwn, kClients}};
    for (const auto& one : cases) {
        SCOPED_TRACE(Name(one.mode));
        Served served(one.mode);
        std::vector<std::unique_ptr<LineClient>> clients;
        for (int c = 0; c < kClients; ++c) {
            clients.push_back(std::make_unique<LineClient>(served.Port()));
            std::string burst;
            for (int i = 0; i < kEchoes; ++i) burst += "ECHO? " + std::to_string(c * 1000 + i) + "\n";
            ASSERT_TRUE(clients.back()->Send(burst));
        }
        for (int c = 0; c < kClients; ++c) {
            for (int i = 0; i < kEchoes; ++i) {
                const auto reply = clients[static_cast<std::size_t>(c)]->ReadLine();
                ASSERT_EQ(reply, std::to_string(c * 1000 + i)) << "client " << c << " reply " << i;
            }
        }
        std::set<std::thread::id> all;
        for (const auto& threads : served.commands.Threads()) {
            EXPECT_EQ(threads.size(), 1u) << "a client's messages ran on more than one thread";
            all.insert(threads.begin(), threads.end());
        }
        EXPECT_EQ(all.size(), one.threadsInAll);
    }
}

TEST(RawSocketServerTest, AClientAboveTheLimitIsClosedWithALineThatNamesTheLimit) {
    const struct {
        unsigned most;
        const char* option;
        const char* logged;
    } cases[] = {{1, "", ": 1 clients are connected, the most it serves"},
                 {3, "--max-clients", ": 3 clients are connected, the most --max-clients allows"}};
    for (const auto& one : cases) {
        SCOPED_TRACE(one.most);
        ServerSettings settings;
        settings.maxClients = one.most;
        settings.maxClientsOption = one.option;
        Served served(DispatchMode::EachClientItsOwn, settings);
        std::vector<std::unique_ptr<LineClient>> clients;
        for (unsigned i = 0; i < one.most; ++i) {
            clients.push_back(std::make_unique<LineClient>(served.Port()));
            EXPECT_EQ(clients.back()->Reply("*OPC?"), "1");
        }
        EXPECT_EQ(LineClient(served.Port()).Reply("*OPC?"), "") << "a client above the limit was served";
        clients.front().reset();
        EXPECT_EQ(LineClient(served.Port()).Reply("*OPC?"), "1") << "the place of a client that left is not free";
        const auto lines = served.log.Lines();
        ASSERT_EQ(lines.size(), 1u);
        EXPECT_EQ(lines[0].rfind("refused the client at 127.0.0.1:", 0), 0u) << lines[0];
        EXPECT_NE(lines[0].find(one.logged), std::string::npos) << lines[0];
    }
}

TEST(RawSocketServerTest, ALineTooLongIsDroppedWithItsErrorAndTheConnectionGoesOn) {
    const struct {
        const char* name;
        std::size_t length;
        std::size_t piece;   // sent in pieces of this size
    } cases[] = {{"one byte over", InputLines::kLongestLine + 1, InputLines::kLongestLine + 1},
                 {"far over, in small pieces", 3 * InputLines::kLongestLine, 1000}};
    Served served(DispatchMode::OneAtATime);
    LineClient client(served.Port());
    for (const auto& one : cases) {
        SCOPED_TRACE(one.name);
        const std::string line = "ECHO? 7" + std::string(one.length - 7, ' ') + "\r\n";
        for (std::size_t at = 0; at < line.size(); at += one.piece) ASSERT_TRUE(client.Send(line.substr(at, one.piece)));
        EXPECT_EQ(client.Reply("SYST:ERR?").substr(0, 27), "-363,\"Input buffer overrun;");
        EXPECT_EQ(client.Reply("SYST:ERR?"), "0,\"No error\"");
        EXPECT_EQ(client.Reply("ECHO? 8"), "8");
    }
}

TEST(RawSocketServerTest, TheAdmissionHookRefusesWithItsLineOrAdmits) {
    const std::optional<std::string> refusals[] = {std::nullopt, "not on the allow list: 127.0.0.1"};
    for (const auto& refusal : refusals) {
        SCOPED_TRACE(refusal.value_or("admitted"));
        std::vector<std::string> peers;
        ServerSettings settings;
        settings.maxClients = 1;
        settings.admit = [&](const sockaddr_storage& peer) {
            peers.push_back(PeerText(peer));
            return refusal;
        };
        Served served(DispatchMode::OneAtATime, settings);
        for (int attempt = 0; attempt < 2; ++attempt) {   // a refused client does not count against the limit
            LineClient client(served.Port());
            if (refusal) {
                EXPECT_EQ(client.ReadLine(), refusal);
                EXPECT_EQ(client.ReadLine().value_or(""), "") << "the refused connection was not closed";
            } else {
                EXPECT_EQ(client.Reply("*OPC?"), "1");
            }
        }
        served.server.Stop();
        ASSERT_EQ(peers.size(), 2u);
        EXPECT_EQ(peers[0].rfind("127.0.0.1:", 0), 0u) << peers[0];
        EXPECT_EQ(served.log.Lines(), refusal ? std::vector<std::string>(2, *refusal) : std::vector<std::string>{});
    }
}

TEST(RawSocketServerTest, WhileAnotherClientHoldsTheLockAMessageIsRefusedWithItsError) {
    Served served(DispatchMode::OneAtATime);
    ConnectionState link, otherLink;
    InstrumentLock& lock = served.instrument.Lock();
    const struct {
        const ConnectionState* who;
        std::chrono::milliseconds wait;
        bool acquired;
    } acquisitions[] = {{&link, 0ms, true}, {&link, 0ms, true}, {&otherLink, 50ms, false}};
    for (const auto& one : acquisitions) EXPECT_EQ(lock.Acquire(*one.who, one.wait), one.acquired);
    EXPECT_FALSE(lock.Release(otherLink));

    LineClient client(served.Port(), 1s);
    EXPECT_EQ(client.Reply("ECHO? 5"), kNoReply);
    EXPECT_TRUE(lock.Release(link));
    EXPECT_EQ(client.Reply("SYST:ERR?").substr(0, 24), "-203,\"Command protected;");
    EXPECT_EQ(client.Reply("ECHO? 6"), "6");
    EXPECT_TRUE(served.commands.Threads().size() == 1) << "only the message after the release ran";
}

TEST(RawSocketServerTest, AStopLetsTheMessageRunningFinishAndSendsItsReply) {
    for (const DispatchMode mode : {DispatchMode::OneAtATime, DispatchMode::EachClientItsOwn}) {
        SCOPED_TRACE(Name(mode));
        Served served(mode);
        LineClient client(served.Port());
        // ECHO? waits behind HOLD?, and is dropped by the stop.
        ASSERT_TRUE(client.Send("HOLD?\nECHO? 1\n"));
        ASSERT_TRUE(served.commands.AwaitHolding());
        std::thread stopping([&] { served.server.Stop(); });
        std::this_thread::sleep_for(100ms);   // the stop waits for HOLD?
        served.commands.Open();
        stopping.join();
        EXPECT_EQ(client.ReadLine(), "held");
        EXPECT_EQ(client.Reply("ECHO? 2"), "") << "the connection was not closed";
        EXPECT_TRUE(served.commands.Threads().empty()) << "a message ran after the stop";
    }
}

}  // namespace
}  // namespace tarnel::scpi

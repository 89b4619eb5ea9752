#include "soak_clients.h"

#include <cmath>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <random>
#include <thread>

#include <tarnel/board_protocol.h>

#include "locked_exchange.h"
#include "soak_channels.h"

namespace tarnel::bench {

namespace {

constexpr const char* kNotANumber = "9.91E+37";
// One exchange settles within this, the lock held by another client and a replug included.
constexpr auto kExchangeBound = std::chrono::seconds(30);
constexpr auto kRetryPause = std::chrono::milliseconds(100);
constexpr auto kLockWait = std::chrono::seconds(3);

// One connection's pairs: the board it reaches and whether this client holds its lock now.
struct PairContext {
    const char* client = "";   // "raw", "VXI-11", "locking", for the lines on faults
    std::size_t board = 0;
    int locker = -1;
    bool holdsLock = false;
    bool answered = false;   // a reply came on this connection
};

bool BoardError(const std::vector<std::string>& errors) {
    for (const auto& entry : errors) {
        if (entry.rfind("-241,", 0) == 0 || entry.rfind("-240,", 0) == 0) return true;
    }
    return false;
}

// A lock met by this exchange: refused messages, the pair's or SYST:ERR?'s.
void NoteRefusals(const Exchange& exchange, const PairContext& context, SoakClock::time_point sent, Tally& tally) {
    if (!exchange.turnedAway && exchange.lockedOut == 0 && !exchange.overflowed) return;
    if (context.holdsLock) {
        tally.Note("a message refused while this link held the lock");
        return;
    }
    tally.refusals.push_back({context.board, sent, SoakClock::now(), context.locker});
}

// One DAC:CODE n;:MEAS? pair and its check. False when the connection is
// gone and must be opened again.
bool CheckedPair(MessageChannel& channel, PairContext& context, std::uint32_t code, const SoakTarget& target,
                 Tally& tally) {
    const SoakClock::time_point sent = SoakClock::now();
    const ExchangeTimes times{sent + kExchangeBound};
    const Exchange exchange = Converse(channel, "DAC:CODE " + std::to_string(code) + ";:MEAS?", times);
    for (const auto& stray : exchange.strays) tally.Note("a line that answers nothing sent: " + stray);
    if (exchange.end == Exchange::End::Broken) {
        ++(context.answered ? tally.dropped : tally.refused);
        return false;
    }
    if (exchange.end == Exchange::End::Unanswered) {
        ++tally.unanswered;
        tally.Problem(std::string(context.client) + ": code " + std::to_string(code) + " on board " + std::to_string(context.board) +
                      (context.holdsLock ? " (lock held)" : "") + " unsettled after " +
                      std::to_string(kExchangeBound.count()) + " s: " + std::to_string(exchange.questions) +
                      " questions, reply " +
                      exchange.reply.value_or("<none>") + ", " + std::to_string(exchange.lockedOut) + " refused;" +
                      exchange.trace);
        tally.unsettled.push_back({context.board, sent, SoakClock::now(), context.locker});
        return false;
    }
    NoteRefusals(exchange, context, sent, tally);
    if (exchange.RefusedByLock()) {
        ++tally.lockRefusals;
        // As a client would, it waits a little before it tries again.
        if (exchange.turnedAway) std::this_thread::sleep_for(times.lockedPause);
        return true;
    }
    if (!exchange.reply) {
        tally.Note("code " + std::to_string(code) + " got no reply, and the lock refused nothing");
        return true;
    }
    context.answered = true;
    const std::string& reply = *exchange.reply;
    tally.latencyMicroseconds.push_back(std::chrono::duration<float, std::micro>(exchange.replyAt - sent).count());
    ++tally.pairs;
    ++*target.pairs;
    if (reply != kNotANumber && MeasuredLevel(reply, code)) return true;
    // Otherwise the board must have been away: the reply is not a number,
    // or the DAC write found it gone and the measurement opened it again,
    // at its start level 0. The queue says which.
    std::vector<std::string> errors = exchange.errors;
    if (errors.empty()) {
        const SoakClock::time_point asked = SoakClock::now();
        const Exchange queue = Converse(channel, std::nullopt, {asked + kExchangeBound});
        for (const auto& stray : queue.strays) tally.Note("a line that answers nothing sent: " + stray);
        if (queue.end != Exchange::End::Settled) {
            tally.Problem(std::string(context.client) + ": the error queue after " + reply + " on board " + std::to_string(context.board) +
                          (queue.end == Exchange::End::Broken ? " broke off" : " unsettled"));
            ++(queue.end == Exchange::End::Broken ? tally.dropped : tally.unanswered);
            return false;
        }
        NoteRefusals(queue, context, asked, tally);
        errors = queue.errors;
    }
    if (BoardError(errors) && (reply == kNotANumber || MeasuredLevel(reply, 0))) {
        tally.awayReplies.push_back({context.board, exchange.replyAt, exchange.replyAt, -1});
    } else {
        tally.Note("code " + std::to_string(code) + " read back as " + reply + " with the errors " +
                   (errors.empty() ? "<none>" : errors.front()));
    }
    return true;
}

class PairSource {
public:
    explicit PairSource(unsigned seed) : random_(seed) {}
    std::uint32_t Code() { return codes_(random_); }
    std::size_t Board(std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_); }
    int PairsPerConnection() { return std::uniform_int_distribution<int>(100, 1000)(random_); }
    SoakClock::duration Spell(int leastMs, int mostMs) {
        return std::chrono::milliseconds(std::uniform_int_distribution<int>(leastMs, mostMs)(random_));
    }

private:
    std::mt19937 random_;
    std::uniform_int_distribution<std::uint32_t> codes_{0, protocol::kDataMask};
};

// The name a VXI-11 link reaches a board by: its device name and its port path in turn.
std::string DeviceName(const ServedBoardAddress& board, long connection) {
    return connection % 2 == 0 || board.portPath.empty() ? board.deviceName : board.portPath;
}

// Pairs on one connection until `pairs` are done, the deadline, or the connection is gone.
void PairsOn(MessageChannel& channel, PairContext& context, PairSource& source, int pairs, SoakClock::time_point until,
             const SoakTarget& target, Tally& tally, bool& broken) {
    for (; pairs > 0 && SoakClock::now() < until && !broken; --pairs) {
        broken = !CheckedPair(channel, context, source.Code(), target, tally);
    }
}

}  // namespace

void Tally::Note(const std::string& what) {
    ++wrong;
    if (firstWrong.size() < 3) firstWrong.push_back(what);
}

void Tally::Problem(const std::string& what) {
    if (firstProblems.size() < 3) firstProblems.push_back(what);
}

void Tally::Add(const Tally& other) {
    pairs += other.pairs;
    wrong += other.wrong;
    lockRefusals += other.lockRefusals;
    refused += other.refused;
    dropped += other.dropped;
    unanswered += other.unanswered;
    reconnects += other.reconnects;
    locksHeld += other.locksHeld;
    locksWaitedOut += other.locksWaitedOut;
    latencyMicroseconds.insert(latencyMicroseconds.end(), other.latencyMicroseconds.begin(),
                               other.latencyMicroseconds.end());
    refusals.insert(refusals.end(), other.refusals.begin(), other.refusals.end());
    awayReplies.insert(awayReplies.end(), other.awayReplies.begin(), other.awayReplies.end());
    locks.insert(locks.end(), other.locks.begin(), other.locks.end());
    unsettled.insert(unsettled.end(), other.unsettled.begin(), other.unsettled.end());
    for (const auto& what : other.firstWrong) {
        if (firstWrong.size() < 6) firstWrong.push_back(what);
    }
    for (const auto& what : other.firstProblems) {
        if (firstProblems.size() < 6) firstProblems.push_back(what);
    }
}

bool MeasuredLevel(const std::string& reply, std::uint32_t code) {
    char* end = nullptr;
    const double volts = std::strtod(reply.c_str(), &end);
    if (reply.empty() || *end != '\0') return false;
    return std::fabs(volts - protocol::DacOutputVolts(code)) <= protocol::ConverterVolts(1) * 1.001;
}

void RunRawClient(unsigned index, const SoakTarget& target, Tally& tally) {
    PairSource source(7919u * index + 1);
    while (SoakClock::now() < target.deadline) {
        PairContext context{"raw", source.Board(target.boards.size())};
        RawChannel channel(target.boards[context.board].rawPort);
        bool broken = !channel.Connected();
        if (broken) ++tally.refused;
        PairsOn(channel, context, source, source.PairsPerConnection(), target.deadline, target, tally, broken);
        ++tally.reconnects;
    }
}

void RunVxi11Client(unsigned index, const SoakTarget& target, Tally& tally) {
    PairSource source(104729u * index + 3);
    while (SoakClock::now() < target.deadline) {
        PairContext context{"VXI-11", source.Board(target.boards.size())};
        std::unique_ptr<Vxi11Channel> channel;
        try {
            channel = std::make_unique<Vxi11Channel>(DeviceName(target.boards[context.board], tally.reconnects));
        } catch (const std::exception& failure) {
            ++tally.refused;
            tally.Problem(std::string("no VXI-11 link: ") + failure.what());
            std::this_thread::sleep_for(kRetryPause);
            continue;
        }
        bool broken = false;
        PairsOn(*channel, context, source, source.PairsPerConnection(), target.deadline, target, tally, broken);
        ++tally.reconnects;
    }
}

void RunLockingClient(unsigned index, const SoakTarget& target, Tally& tally) {
    PairSource source(15485863u * index + 5);
    while (SoakClock::now() < target.deadline) {
        PairContext context{"locking", source.Board(target.boards.size()), static_cast<int>(index)};
        auto link = std::make_unique<LockingLink>(target.vxi11CorePort,
                                                  DeviceName(target.boards[context.board], tally.reconnects));
        if (link->OpenError() != 0) {
            ++tally.refused;
            tally.Problem("no VXI-11 link for the lock: error " + std::to_string(link->OpenError()));
            std::this_thread::sleep_for(kRetryPause);
            continue;
        }
        bool broken = false;
        for (int spells = 4; spells > 0 && !broken && SoakClock::now() < target.deadline; --spells) {
            PairsOn(*link, context, source, 1'000'000, SoakClock::now() + source.Spell(500, 2000), target, tally,
                    broken);
            if (broken || SoakClock::now() >= target.deadline) break;
            const SoakClock::time_point asked = SoakClock::now();
            const long error = link->Lock(kLockWait);
            if (error == 11) {
                ++tally.locksWaitedOut;
                continue;
            }
            if (error != 0) {
                tally.Note("device_lock answered error " + std::to_string(error));
                broken = true;
                break;
            }
            ++tally.locksHeld;
            context.holdsLock = true;
            PairsOn(*link, context, source, 1'000'000, SoakClock::now() + source.Spell(300, 1500), target, tally, broken);
            context.holdsLock = false;
            if (broken) {
                // The server gives the lock up with the link's connection.
                link.reset();
            } else if (const long unlocked = link->Unlock(); unlocked != 0) {
                tally.Note("device_unlock answered error " + std::to_string(unlocked));
            }
            tally.locks.push_back({context.board, asked, SoakClock::now(), context.locker});
        }
        ++tally.reconnects;
    }
}

}  // namespace tarnel::bench

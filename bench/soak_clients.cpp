#include "soak_clients.h"

#include <exception>
#include <memory>
#include <optional>
#include <random>
#include <thread>

#include <tarnel/board_protocol.h>

#include "pair_check.h"
#include "soak_channels.h"

namespace tarnel::bench {

namespace {

constexpr auto kRetryPause = std::chrono::milliseconds(100);
constexpr auto kLockWait = std::chrono::seconds(3);
constexpr long kDeviceLocked = 11;   // VXI-11: the lock outlasted the wait

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
        broken = !CheckedPair(channel, context, source.Code(), *target.pairs, tally);
    }
}

}  // namespace

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
            if (error == kDeviceLocked) {
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

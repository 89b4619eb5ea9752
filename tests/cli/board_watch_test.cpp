// The board watch of tarnelctl serve: each path that appears after a look
// is told once, those there at start never, a path that leaves and comes
// back again; a failed listing changes nothing; destruction is prompt.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "serve/board_watch.h"

namespace tarnel::cli {
namespace {

using Paths = std::optional<std::set<std::string>>;

TEST(BoardWatchTest, TellsEachArrivalOnceAndSkipsFailedLooks) {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<Paths> looks{Paths{{"1-1", "1-2"}}, std::nullopt, Paths{{"1-1", "1-2", "1-3"}}, Paths{{"1-1", "1-3"}},
                            std::nullopt, Paths{{"1-1", "1-2", "1-3"}}};
    std::vector<std::string> arrived;
    bool done = false;
    {
        BoardWatch watch(
            [&]() -> Paths {
                const std::lock_guard lock(mutex);
                if (looks.empty()) {
                    done = true;
                    changed.notify_all();
                    return std::nullopt;
                }
                Paths look = looks.front();
                looks.pop_front();
                return look;
            },
            [&](const std::string& path) {
                const std::lock_guard lock(mutex);
                arrived.push_back(path);
            },
            std::chrono::milliseconds(1), {"1-1"});
        std::unique_lock lock(mutex);
        ASSERT_TRUE(changed.wait_for(lock, std::chrono::seconds(10), [&] { return done; }));
    }
    EXPECT_EQ(arrived, (std::vector<std::string>{"1-2", "1-3", "1-2"}));
}

TEST(BoardWatchTest, StopsAtOnceWhileWaitingForTheNextLook) {
    const auto start = std::chrono::steady_clock::now();
    {
        const BoardWatch watch([] { return Paths{}; }, [](const std::string&) {}, std::chrono::hours(1), {});
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace tarnel::cli

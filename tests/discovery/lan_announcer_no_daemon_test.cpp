// The announcer on a host without a system bus (and so without
// avahi-daemon): one informational line, whatever is announced or
// withdrawn meanwhile, and a clean stop. The private bus address points at
// a socket that does not exist, so the host's own daemons are never asked.
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "scpi/lan_announcer.h"

namespace tarnel::scpi {
namespace {

class Lines {
public:
    LanLog Log() {
        return [this](LanLogLevel level, const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.emplace_back(level, line);
            changed_.notify_all();
        };
    }
    // Every line said by now, after waiting up to `wait` for the first.
    std::vector<std::pair<LanLogLevel, std::string>> After(std::chrono::milliseconds wait) {
        std::unique_lock lock(mutex_);
        changed_.wait_for(lock, wait, [this] { return !lines_.empty(); });
        return lines_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::pair<LanLogLevel, std::string>> lines_;
};

class NoDaemon : public testing::Test {
protected:
    void SetUp() override {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/tarnel-test-no-bus", 1);
    }
};

TEST_F(NoDaemon, SaysSoInExactlyOneInformationalLine) {
    Lines lines;
    {
        LanAnnouncer announcer(lines.Log(), {"labpc", {"Velorn", "Tarnel boards", "", "1.0"}});
        announcer.AnnounceBoard("1-1.2", 5025, {"Velorn", "Tarnel Evaluation Board", "A", "1.0"});
        announcer.AnnounceBoard("1-1.3", 5026, {"Velorn", "Tarnel Evaluation Board", "B", "1.0"});
        announcer.AnnounceVxi11Host();
        announcer.WithdrawBoard("1-1.2");
        announcer.WithdrawBoard("9-9");  // never announced
        ASSERT_EQ(lines.After(std::chrono::seconds(10)).size(), 1u);
        // Long enough for the quiet retries on the missing bus to have run.
        std::this_thread::sleep_for(std::chrono::milliseconds(2500));
        announcer.AnnounceBoard("1-1.2", 5025, {});
    }
    const auto said = lines.After(std::chrono::milliseconds(0));
    ASSERT_EQ(said.size(), 1u);
    EXPECT_EQ(said[0].first, LanLogLevel::Info);
    EXPECT_EQ(said[0].second,
              "mDNS: avahi-daemon is not running; the boards will be announced on the LAN once it starts");
}

TEST_F(NoDaemon, RefusesABoardWithoutPathOrPortInOneWarning) {
    struct Case {
        std::string path;
        std::uint16_t port;
    };
    for (const Case& c : {Case{"", 5025}, Case{"1-1.2", 0}}) {
        Lines lines;
        LanAnnouncer announcer(lines.Log(), {"labpc", {}});
        announcer.AnnounceBoard(c.path, c.port, {});
        // The refusal comes at once, on this thread; the absence line may come
        // before it, from the announcer's.
        int refusals = 0;
        for (const auto& [level, line] : lines.After(std::chrono::milliseconds(0))) {
            refusals += level == LanLogLevel::Warning && line.find("; not announced") != std::string::npos;
        }
        EXPECT_EQ(refusals, 1) << c.path << ":" << c.port;
    }
}

TEST_F(NoDaemon, StopsAtOnceRightAfterStarting) {
    // Destroyed while its thread may still be making the first client.
    for (int i = 0; i < 20; ++i) {
        LanAnnouncer announcer({}, {});
        announcer.AnnounceVxi11Host();
    }
}

}  // namespace
}  // namespace tarnel::scpi

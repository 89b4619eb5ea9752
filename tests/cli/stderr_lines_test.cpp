// While a library call's stderr is held, lines that are not the library's
// own (a line tarnelctl prints from another thread, a warning or a sanitizer
// report of several lines, text without a line end) reach stderr unchanged,
// and at once, while the call still runs; only the library's lines are kept.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "board/library_stderr.h"
#include "output/stderr_lines.h"

namespace tarnel::cli {
namespace {

using namespace std::chrono_literals;

// fd 2 goes to a temporary file for the test's lifetime.
class CapturedStderr {
public:
    CapturedStderr() : file_(std::tmpfile()) {
        std::fflush(stderr);
        real_ = ::dup(STDERR_FILENO);
        ::dup2(::fileno(file_), STDERR_FILENO);
    }
    ~CapturedStderr() {
        std::fflush(stderr);
        ::dup2(real_, STDERR_FILENO);
        ::close(real_);
        std::fclose(file_);
    }
    std::string Text() const {
        std::string text(1 << 16, '\0');
        const ssize_t got = ::pread(::fileno(file_), text.data(), text.size(), 0);
        text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
        return text;
    }
    // Whether the text turns up within a bounded time.
    bool Shows(const std::string& expected) const {
        for (const auto deadline = std::chrono::steady_clock::now() + 5s; std::chrono::steady_clock::now() < deadline;) {
            if (Text() == expected) return true;
            std::this_thread::sleep_for(1ms);
        }
        return false;
    }

private:
    std::FILE* file_;
    int real_ = -1;
};

TEST(StderrLinesTest, ForeignLinesPassAtOnceAndUnchangedWhileTheLibrarysAreKept) {
    const struct {
        const char* name;
        std::string foreign;      // written by another thread during the call
        std::string reachesStderr;
    } cases[] = {
        {"tarnelctl's own line", "tarnelctl: board 0 lost\n", "tarnelctl: board 0 lost\n"},
        {"a Qt warning", "QSocketNotifier: Invalid socket 7\n", "QSocketNotifier: Invalid socket 7\n"},
        {"a report of several lines",
         "==1234==ERROR: AddressSanitizer: heap-use-after-free\n    #0 0x4a in main\n    #1 0x4b in start\n",
         "==1234==ERROR: AddressSanitizer: heap-use-after-free\n    #0 0x4a in main\n    #1 0x4b in start\n"},
        {"a library's name inside a line", "warning: libToveri: is old\n", "warning: libToveri: is old\n"},
    };
    for (const auto& c : cases) {
        const CapturedStderr captured;
        LibraryStderr messages;
        std::promise<void> inCall;
        std::future<void> callRuns = inCall.get_future();
        std::thread other([&] {
            if (callRuns.wait_for(10s) != std::future_status::ready) return;
            if (c.foreign.find("tarnelctl: ") == 0) {
                PrintStderrLine(c.foreign.substr(0, c.foreign.size() - 1));
            } else {
                EXPECT_EQ(::write(STDERR_FILENO, c.foreign.data(), c.foreign.size()), static_cast<ssize_t>(c.foreign.size()));
            }
        });
        bool seenDuringCall = false;
        messages.Hold([&] {
            const std::string line = "libKTV_CYUSB_USB4: board disconnected\n";
            EXPECT_EQ(::write(STDERR_FILENO, line.data(), line.size()), static_cast<ssize_t>(line.size()));
            inCall.set_value();
            seenDuringCall = captured.Shows(c.reachesStderr);   // bounded: a regression fails here
            return 0;
        });
        other.join();
        EXPECT_TRUE(seenDuringCall) << c.name << ": not passed on while the call ran";
        EXPECT_EQ(captured.Text(), c.reachesStderr) << c.name;
        EXPECT_EQ(messages.Take(), "board disconnected") << c.name;
    }
}

TEST(StderrLinesTest, TextWithoutALineEndIsPassedOnWhenTheCallEnds) {
    const CapturedStderr captured;
    LibraryStderr messages;
    messages.Hold([] {
        std::fputs("libToveri: request 0xDA failed\nhalf a line", stderr);
        return 0;
    });
    EXPECT_EQ(captured.Text(), "half a line");
    EXPECT_EQ(messages.Take(), "request 0xDA failed");

    // Many library lines: the first is given back, the memory held stays bounded.
    messages.Hold([] {
        for (int i = 0; i < 1000; ++i) std::fprintf(stderr, "libToveri: failure %d\n", i);
        return 0;
    });
    EXPECT_EQ(messages.Take(), "failure 0");
    EXPECT_EQ(captured.Text(), "half a line");
}

}  // namespace
}  // namespace tarnel::cli

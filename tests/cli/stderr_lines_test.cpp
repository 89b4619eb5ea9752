// A line tarnelctl prints from another thread while a library call's stderr
// is held: it does not land among the library's lines, and it reaches stderr
// once the call ends, without the printing thread waiting for the call.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "cli/library_messages.h"
#include "cli/stderr_lines.h"

namespace tarnel::cli {
namespace {

TEST(StderrLinesTest, ALinePrintedDuringAHeldCallWaitsForItsEnd) {
    std::FILE* captured = std::tmpfile();
    ASSERT_NE(captured, nullptr);
    std::fflush(stderr);
    const int realStderr = ::dup(STDERR_FILENO);
    ::dup2(::fileno(captured), STDERR_FILENO);

    LibraryMessages messages;
    std::promise<void> inCall;
    std::promise<void> printed;
    std::thread printer([&] {
        inCall.get_future().wait();
        PrintStderrLine("tarnelctl: board 0 lost");
        printed.set_value();
    });
    messages.Hold([&] {
        const std::string line = "libKTV_CYUSB_USB4: board disconnected\n";
        EXPECT_EQ(::write(STDERR_FILENO, line.data(), line.size()), static_cast<ssize_t>(line.size()));
        inCall.set_value();
        printed.get_future().wait();   // the printer does not wait for the call
        return 0;
    });
    printer.join();
    const std::string held = messages.Take();

    std::fflush(stderr);
    ::dup2(realStderr, STDERR_FILENO);
    ::close(realStderr);
    std::string written(256, '\0');
    written.resize(::pread(::fileno(captured), written.data(), written.size(), 0));
    std::fclose(captured);

    EXPECT_EQ(held, "board disconnected");
    EXPECT_EQ(written, "tarnelctl: board 0 lost\n");
}

}  // namespace
}  // namespace tarnel::cli

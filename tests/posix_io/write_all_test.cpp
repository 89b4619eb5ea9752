// WriteAll through a pipe and a socket pair: a text larger than the kernel
// takes at once arrives whole, and a reader that has gone is a failure that
// neither hangs nor raises SIGPIPE.
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "posix_io/write_all.h"

namespace {

using tarnel::posix_io::WriteAll;

struct Ends {
    int read = -1;
    int write = -1;
};

Ends OpenPipe() {
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {};
    return {ends[0], ends[1]};
}

Ends OpenSocketPair() {
    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return {};
    return {ends[0], ends[1]};
}

std::string ReadToEnd(int fd) {
    std::string text;
    char chunk[4096];
    ssize_t got;
    while ((got = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(got));
    return text;
}

TEST(WriteAllTest, ALargeTextArrivesWholeThroughPipesAndSockets) {
    std::string text;
    for (int i = 0; text.size() < 1'000'000; ++i) text += std::to_string(i) + ",";   // far above a pipe's buffer
    for (const auto& [what, open] : {std::pair{"pipe", &OpenPipe}, std::pair{"socket", &OpenSocketPair}}) {
        SCOPED_TRACE(what);
        const Ends ends = open();
        ASSERT_GE(ends.read, 0);
        std::string received;
        std::thread reader([&] { received = ReadToEnd(ends.read); });
        EXPECT_TRUE(WriteAll(ends.write, text));
        ::close(ends.write);
        reader.join();
        ::close(ends.read);
        EXPECT_EQ(received.size(), text.size());
        EXPECT_TRUE(received == text);
    }
}

TEST(WriteAllTest, AGoneReaderOrABadDescriptorIsAFailure) {
    const Ends socket = OpenSocketPair();
    ASSERT_GE(socket.read, 0);
    ::close(socket.read);
    EXPECT_FALSE(WriteAll(socket.write, "reply\n")) << "a peer that has gone, without SIGPIPE ending the test";
    ::close(socket.write);

    EXPECT_FALSE(WriteAll(-1, "text"));
    EXPECT_TRUE(WriteAll(-1, "")) << "nothing to write is done at once";
}

}  // namespace

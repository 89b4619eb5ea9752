// How queued bulk-IN transfers reach URBs of various sizes: whole packets of
// a longer transfer, the short rest, and an overflow when a URB holds less
// than a packet.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <vector>

#include "bulk_in_stream.h"

namespace {

using tarnel::emulator::BulkInStream;

TEST(BulkInStreamTest, TransfersReachUrbsInPackets) {
    struct Read {
        std::size_t room;
        std::size_t got;
        int error;
    };
    struct Case {
        const char* name;
        std::vector<std::size_t> transfers;
        std::vector<Read> reads;
    };
    const Case cases[] = {
        {"fits", {100}, {{4096, 100, 0}}},
        {"exactly the room", {1024}, {{1024, 1024, 0}}},
        {"whole packets, then the rest", {1300}, {{1000, 512, 0}, {1000, 788, 0}}},
        {"one transfer per URB", {10, 20}, {{4096, 10, 0}, {4096, 20, 0}}},
        {"zero-length transfer", {0, 5}, {{512, 0, 0}, {512, 5, 0}}},
        {"overflow loses the rest of the packet", {600}, {{100, 100, EOVERFLOW}, {512, 88, 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        BulkInStream stream(512);
        std::uint8_t next = 0;
        std::vector<std::uint8_t> sent;
        for (std::size_t size : c.transfers) {
            std::vector<std::uint8_t> transfer(size);
            for (auto& byte : transfer) byte = next++;
            sent.insert(sent.end(), transfer.begin(), transfer.end());
            stream.Push(transfer);
        }
        std::size_t offset = 0;
        for (const Read& read : c.reads) {
            const auto chunk = stream.Take(read.room);
            ASSERT_TRUE(chunk.has_value());
            EXPECT_EQ(chunk->bytes.size(), read.got);
            EXPECT_EQ(chunk->error, read.error);
            if (read.error == 0 && !chunk->bytes.empty()) {
                EXPECT_EQ(chunk->bytes.front(), sent[offset]) << "bytes in order";
            }
            offset += read.error == 0 ? read.got : 512;
        }
        EXPECT_FALSE(stream.Take(4096).has_value()) << "nothing left";
        EXPECT_TRUE(stream.Empty());
    }
}

}  // namespace

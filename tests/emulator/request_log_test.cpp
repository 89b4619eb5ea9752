// The board's request log keeps the most recent requests and no more: a
// board that answers a million requests holds no more memory than one that
// answered a few thousand. Heap use is counted by this binary's own
// operator new/delete, so the bound holds under the sanitizers too.
#include "board_model.h"
#include "heap_counter.h"
#include "request_log.h"

#include <gtest/gtest.h>

namespace {

namespace p = tarnel::protocol;
using namespace tarnel::emulator;

RequestRecord Numbered(std::uint16_t value) { return {p::kRequestConverterRead, value, 0, true, 2, {}}; }

TEST(RequestLogTest, KeepsTheMostRecentRequestsOldestFirst) {
    // records added, values expected (capacity 3)
    const std::pair<int, std::vector<std::uint16_t>> cases[] = {
        {0, {}}, {2, {0, 1}}, {3, {0, 1, 2}}, {4, {1, 2, 3}}, {8, {5, 6, 7}},
    };
    for (const auto& [added, expected] : cases) {
        RequestLog log(3);
        for (int i = 0; i < added; ++i) log.Add(Numbered(static_cast<std::uint16_t>(i)));
        std::vector<std::uint16_t> values;
        for (const RequestRecord& record : log.Records()) values.push_back(record.value);
        EXPECT_EQ(values, expected) << added << " added";
        log.Clear();
        log.Add(Numbered(9));
        ASSERT_EQ(log.Records().size(), 1u);
        EXPECT_EQ(log.Records().front().value, 9) << "a cleared log starts again";
    }
}

TEST(RequestLogTest, BoardMemoryStaysFlatOverAMillionRequests) {
    BoardModel board;
    const std::uint8_t reset = p::kCpucsReset;
    const std::uint8_t run = p::kCpucsRun;
    const std::uint8_t image = 0x12;
    auto send = [&board](std::uint8_t type, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                         std::uint16_t length, std::span<const std::uint8_t> data) {
        return board.HandleControl({type, request, value, index, length}, data).outcome;
    };
    send(0x40, p::kRequestRamAccess, p::kCpucsAddress, 0, 1, {&reset, 1});
    send(0x40, p::kRequestRamAccess, 0x0100, 0, 1, {&image, 1});
    send(0x40, p::kRequestRamAccess, p::kCpucsAddress, 0, 1, {&run, 1});
    ASSERT_TRUE(board.FirmwareRunning());

    // A DAC write and a read-back per pair, as a measurement client sends them.
    auto pairs = [&](int count) {
        for (int i = 0; i < count; ++i) {
            const p::DacWriteFields fields = p::PackDacWrite(p::kDacRegisterLength, static_cast<std::uint32_t>(i) << 2);
            ASSERT_EQ(send(0x40, p::kRequestDacWrite, fields.value, fields.index, 0, {}), RequestRecord::Outcome::Answered);
            ASSERT_EQ(send(0xC0, p::kRequestConverterRead, 0, 0, p::kConverterReadLength, {}),
                      RequestRecord::Outcome::Answered);
        }
    };
    pairs(static_cast<int>(kRequestLogCapacity));   // the log is full from here on
    const long long before = tarnel::test::LiveHeapBytes();
    pairs(500'000);
    const long long growth = tarnel::test::LiveHeapBytes() - before;
    EXPECT_LE(growth, 0) << "bytes kept after a million more requests";
    EXPECT_EQ(board.Requests().size(), kRequestLogCapacity);
    EXPECT_EQ(board.Requests().back().request, p::kRequestConverterRead);
}

}  // namespace

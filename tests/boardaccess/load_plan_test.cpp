#include "load_plan.h"

#include <gtest/gtest.h>

#include <tarnel/board_protocol.h>

#include <string>

namespace tarnel::boardaccess {
namespace {

constexpr std::size_t kLimit = tarnel::protocol::kMaxLoadTransfer;   // 4096
using Runs = std::vector<std::pair<std::uint16_t, std::size_t>>;   // first address, byte count

FirmwareImage ImageOf(const Runs& runs) {
    FirmwareImage image;
    for (const auto& [first, count] : runs) {
        for (std::size_t i = 0; i < count; ++i) {
            const auto address = static_cast<std::uint16_t>(first + i);
            image[address] = static_cast<std::uint8_t>(address * 7 + 3);
        }
    }
    return image;
}

struct PlanCase {
    const char* name;
    Runs image;
    Runs expectedWrites;
    friend void PrintTo(const PlanCase& c, std::ostream* out) { *out << c.name; }
};

class LoadPlanTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(LoadPlanTest, WritesEveryByteOnceInTheFewestTransfers) {
    const FirmwareImage image = ImageOf(GetParam().image);
    Runs writes;
    FirmwareImage written;
    for (const RamWrite& write : PlanLoad(image)) {
        writes.emplace_back(write.address, write.bytes.size());
        for (std::size_t i = 0; i < write.bytes.size(); ++i) {
            EXPECT_TRUE(written.emplace(static_cast<std::uint16_t>(write.address + i), write.bytes[i]).second);
        }
    }
    EXPECT_EQ(written, image);
    EXPECT_EQ(writes, GetParam().expectedWrites);
}

INSTANTIATE_TEST_SUITE_P(
    Images, LoadPlanTest,
    ::testing::Values(
        PlanCase{"Empty", {}, {}},
        PlanCase{"OneByte", {{0x0100, 1}}, {{0x0100, 1}}},
        PlanCase{"RecordsSideBySideMerge", {{0x0000, 16}, {0x0010, 16}, {0x0020, 5}}, {{0x0000, 37}}},
        PlanCase{"GapSplits", {{0x0000, 16}, {0x0011, 4}}, {{0x0000, 16}, {0x0011, 4}}},
        PlanCase{"ExactlyTheLimit", {{0x0000, kLimit}}, {{0x0000, kLimit}}},
        PlanCase{"OneOverTheLimit", {{0x0000, kLimit + 1}}, {{0x0000, kLimit}, {0x1000, 1}}},
        PlanCase{"LimitCountsFromRunStart", {{0x0005, kLimit + 10}, {0x2000, 3}},
                 {{0x0005, kLimit}, {0x1005, 10}, {0x2000, 3}}},
        PlanCase{"BothRegionsFull", {{0x0000, 0x4000}, {0xE000, 0x200}},
                 {{0x0000, kLimit}, {0x1000, kLimit}, {0x2000, kLimit}, {0x3000, kLimit}, {0xE000, 0x200}}}),
    [](const ::testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnel::boardaccess

#include "load_plan.h"

#include <gtest/gtest.h>

#include <tarnel/board_protocol.h>

#include <string>

namespace tarnel::boardaccess {
namespace {

namespace protocol = tarnel::protocol;

// An image of contiguous runs (first address, byte count).
FirmwareImage ImageOf(std::initializer_list<std::pair<std::uint16_t, std::size_t>> runs) {
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
    FirmwareImage image;
    std::vector<std::pair<std::uint16_t, std::size_t>> expectedWrites;  // address, size
};

class LoadPlanTest : public ::testing::TestWithParam<PlanCase> {};

TEST_P(LoadPlanTest, WritesEveryByteOnceInTheFewestTransfers) {
    const PlanCase& c = GetParam();
    const std::vector<RamWrite> plan = PlanLoad(c.image);

    std::vector<std::pair<std::uint16_t, std::size_t>> writes;
    FirmwareImage written;
    for (const RamWrite& write : plan) {
        writes.emplace_back(write.address, write.bytes.size());
        EXPECT_LE(write.bytes.size(), protocol::kMaxLoadTransfer);
        const std::uint32_t last = write.address + write.bytes.size() - 1;
        bool insideOneRegion = false;
        for (const auto& region : protocol::kOnChipRam) {
            insideOneRegion |= region.contains(write.address) && region.contains(last);
        }
        EXPECT_TRUE(insideOneRegion) << "write at " << write.address;
        for (std::size_t i = 0; i < write.bytes.size(); ++i) {
            EXPECT_TRUE(written.emplace(static_cast<std::uint16_t>(write.address + i), write.bytes[i]).second);
        }
    }
    EXPECT_EQ(written, c.image);
    EXPECT_EQ(writes, c.expectedWrites);
}

INSTANTIATE_TEST_SUITE_P(
    Images, LoadPlanTest,
    ::testing::Values(
        PlanCase{"Empty", {}, {}},
        PlanCase{"OneByte", ImageOf({{0x0100, 1}}), {{0x0100, 1}}},
        PlanCase{"RecordsSideBySideMerge", ImageOf({{0x0000, 16}, {0x0010, 16}, {0x0020, 5}}), {{0x0000, 37}}},
        PlanCase{"GapSplits", ImageOf({{0x0000, 16}, {0x0011, 4}}), {{0x0000, 16}, {0x0011, 4}}},
        PlanCase{"ExactlyTheLimit", ImageOf({{0x0000, 4096}}), {{0x0000, 4096}}},
        PlanCase{"OneOverTheLimit", ImageOf({{0x0000, 4097}}), {{0x0000, 4096}, {0x1000, 1}}},
        PlanCase{"WholeLowRam", ImageOf({{0x0000, 0x4000}}),
                 {{0x0000, 4096}, {0x1000, 4096}, {0x2000, 4096}, {0x3000, 4096}}},
        PlanCase{"BothRegionsFull", ImageOf({{0x0000, 0x4000}, {0xE000, 0x200}}),
                 {{0x0000, 4096}, {0x1000, 4096}, {0x2000, 4096}, {0x3000, 4096}, {0xE000, 0x200}}},
        PlanCase{"RegionEndsNeverJoin", ImageOf({{0x3FFE, 2}, {0xE000, 2}}), {{0x3FFE, 2}, {0xE000, 2}}},
        PlanCase{"LimitCountsFromRunStart", ImageOf({{0x0005, 4096 + 10}, {0x2000, 3}}),
                 {{0x0005, 4096}, {0x1005, 10}, {0x2000, 3}}}),
    [](const ::testing::TestParamInfo<PlanCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tarnel::boardaccess

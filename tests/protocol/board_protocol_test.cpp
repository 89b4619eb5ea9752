// The board facts every layer shares: which ranges lie in on-chip RAM, the
// DAC write's fields as the program packs and the board unpacks them, and the
// bit mirror and order of the read-back bytes.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <utility>

#include <tarnel/board_protocol.h>

namespace {

namespace p = tarnel::protocol;

TEST(OnChipRam, RangesMustLieInsideOneRegion) {
    const struct { std::uint32_t address; std::size_t length; bool inside; } cases[] = {
        {0x0000, 1, true},      {0x3FFF, 1, true},      {0x0000, 0x4000, true}, {0x0000, 0x4001, false},
        {0x3FFF, 2, false},     {0x4000, 1, false},     {0xDFFF, 1, false},     {0xE000, 0x200, true},
        {0xE1FF, 1, true},      {0xE1FF, 2, false},     {0xE600, 1, false},     {0x10000, 1, false},
        {0x0100, 0, false},     {0x3FF0, 0xE010, false},   // from one region to the other
    };
    for (const auto& c : cases) {
        EXPECT_EQ(p::InOnChipRam(c.address, c.length), c.inside) << std::hex << c.address << "+" << c.length;
    }
}

TEST(DacWrite, FieldsCarryTheWholeWordAndTheRegisterLength) {
    const struct { std::uint8_t length; std::uint32_t word; p::DacWriteFields fields; } cases[] = {
        {24, 0x000000, {0x0000, 0x1800}}, {24, 0x0FFFFC, {0xFFFC, 0x180F}}, {24, 0x3FFFFC, {0xFFFC, 0x183F}},
        {24, 0xFFFFFF, {0xFFFF, 0x18FF}}, {127, 0xABCDEF, {0xCDEF, 0x7FAB}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(p::PackDacWrite(c.length, c.word), c.fields) << std::hex << c.word;
        EXPECT_EQ(p::UnpackDacWrite(c.fields), (p::DacWriteContent{c.length, c.word})) << std::hex << c.word;
    }
}

TEST(DacData, LargestWordAtMostAVoltageNeverExceedsIt) {
    const struct { double volts; std::uint32_t data; } cases[] = {
        {0.0, 0}, {p::DacOutputVolts(1) * 0.999, 0}, {p::DacOutputVolts(1), 1}, {3.3, 0x2AD6F},
        {p::DacOutputVolts(0x20000), 0x20000}, {p::kFullScaleVolts, p::kDataMask}, {99.0, p::kDataMask}, {-1.0, 0},
    };
    for (const auto& c : cases) EXPECT_EQ(p::LargestDacDataAtMost(c.volts), c.data) << c.volts;
    for (std::uint32_t data = 1; data < p::kDataMask; data += 4093) {
        EXPECT_EQ(p::LargestDacDataAtMost(p::DacOutputVolts(data)), data);
        EXPECT_EQ(p::LargestDacDataAtMost(std::nextafter(p::DacOutputVolts(data), 0.0)), data - 1);
    }
}

TEST(MirrorBits, MovesEachBitToItsMirrorPosition) {
    const struct { std::uint8_t in, out; } cases[] = {
        {0x01, 0x80}, {0x12, 0x48}, {0xA3, 0xC5}, {0x00, 0x00}, {0xFF, 0xFF}, {0x80, 0x01}, {0xF0, 0x0F},
    };
    for (const auto& c : cases) EXPECT_EQ(p::MirrorBits(c.in), c.out) << int(c.in);
    for (int b = 0; b < 256; ++b) EXPECT_EQ(p::MirrorBits(p::MirrorBits(static_cast<std::uint8_t>(b))), b);
}

TEST(ConverterReply, HighByteFirstEachMirrored) {
    const std::pair<std::uint16_t, std::array<std::uint8_t, 2>> replies[] = {
        {0x800, {0x10, 0x00}}, {0x001, {0x00, 0x80}}, {0xFFF, {0xF0, 0xFF}}, {0xA5C, {0x50, 0x3A}},
    };
    for (const auto& [code, bytes] : replies) {
        EXPECT_EQ(p::ConverterReplyBytes(code), bytes) << code;
        EXPECT_EQ(p::ConverterReplyValue(bytes[0], bytes[1]), code) << code;
    }
}

}  // namespace

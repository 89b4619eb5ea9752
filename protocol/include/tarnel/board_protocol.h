// The evaluation board's USB protocol, in one place: how the board is
// identified, the vendor requests it answers and how their fields are laid
// out, and the memory map of its USB microcontroller.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#ifndef TARNEL_USB_VENDOR_ID
#error "TARNEL_USB_VENDOR_ID must be set by the build"
#endif

namespace tarnel::protocol {

// ---- Identity -------------------------------------------------------------
inline constexpr std::uint16_t kVendorId = TARNEL_USB_VENDOR_ID;
inline constexpr std::uint16_t kProductId = 0xB211;
inline constexpr int kInterfaceNumber = 0;

// ---- Vendor requests --------------------------------------------------------
// 0xA0: read or write the microcontroller's RAM; value = address, no index.
inline constexpr std::uint8_t kRequestRamAccess = 0xA0;
// 0xDD: one 24-bit DAC input word, carried in value and index, no data.
inline constexpr std::uint8_t kRequestDacWrite = 0xDD;
// 0xDA: two bytes from the read-back converter, bit-mirrored, high byte first.
inline constexpr std::uint8_t kRequestConverterRead = 0xDA;
// 0xB0, from the board only: answered by the board-access library itself and
// never sent over USB. The reply is the USB port path of the board the
// request is for, "1-1.2" (bus number, then the port chain from the root
// hub), ASCII and NUL-padded to kPortPathLength bytes; all NULs when the
// system does not tell the port chain. A board plugged into the same port
// again keeps its path, whatever its device number.
inline constexpr std::uint8_t kRequestPortPath = 0xB0;
// "255-" and seven ports of up to three digits with their dots: 31 bytes.
inline constexpr std::uint16_t kPortPathLength = 32;

enum class Direction : std::uint8_t { ToBoard = 0, FromBoard = 1 };

inline constexpr unsigned kControlTimeoutMs = 1000;

// ---- DAC input word ---------------------------------------------------------
// The 24-bit word of the DAC's input shift register: power-down code in bits
// 21..20, data word in bits 19..2, every other bit 0.
inline constexpr int kDacResolutionBits = 18;
inline constexpr int kPowerDownShift = 20;
inline constexpr int kDataShift = 2;
inline constexpr std::uint32_t kDataMask = (1u << kDacResolutionBits) - 1;
inline constexpr std::uint32_t kPowerDownMask = 0x3;
inline constexpr std::uint32_t kLargestInputWord = 0xFFFFFF;   // 24 bits
enum class PowerDown : std::uint8_t { Normal = 0, OneKToGround = 1, HundredKToGround = 2, ThreeState = 3 };

struct DacInput {
    std::uint32_t data = 0;   // 18-bit data word
    PowerDown powerDown = PowerDown::Normal;
    bool operator==(const DacInput&) const = default;
};
// The data word and power-down code an input word carries.
inline constexpr DacInput DecodeInputWord(std::uint32_t inputWord) {
    return {(inputWord >> kDataShift) & kDataMask,
            static_cast<PowerDown>((inputWord >> kPowerDownShift) & kPowerDownMask)};
}

// Full-scale output of the DAC and of the read-back converter, in volts.
inline constexpr double kFullScaleVolts = 4.93;
inline constexpr double kDacCodes = 1u << kDacResolutionBits;   // 262144

// The DAC's output for a data word in normal operation: data / 2^18 * 4.93 V.
// Powered down, the output is 0 V whatever the data word.
inline constexpr double DacOutputVolts(std::uint32_t data) { return data / kDacCodes * kFullScaleVolts; }

// The DAC's output for a data word in a power-down mode.
inline constexpr double DacOutputVolts(DacInput input) {
    return input.powerDown == PowerDown::Normal ? DacOutputVolts(input.data) : 0.0;
}

// The data word whose output lies nearest to volts, limited to 0..2^18-1
// (full scale itself gives the largest word; callers refuse volts outside
// 0..4.93 before they ask).
inline constexpr std::uint32_t NearestDacData(double volts) {
    const double scaled = volts / kFullScaleVolts * kDacCodes + 0.5;
    if (!(scaled >= 1)) return 0;
    return scaled >= kDataMask ? kDataMask : static_cast<std::uint32_t>(scaled);
}

// The largest data word whose output in normal operation does not exceed
// volts (0 for volts below the first step, the largest word from full scale on).
inline constexpr std::uint32_t LargestDacDataAtMost(double volts) {
    if (!(volts >= DacOutputVolts(1))) return 0;
    if (volts >= DacOutputVolts(kDataMask)) return kDataMask;
    auto data = static_cast<std::uint32_t>(volts / kFullScaleVolts * kDacCodes);
    // The division may land one step either side of the exact boundary.
    while (data < kDataMask && DacOutputVolts(data + 1) <= volts) ++data;
    while (data > 0 && DacOutputVolts(data) > volts) --data;
    return data;
}

// The nearest data word to volts that does not exceed cap: the nearest word
// may lie a fraction of a step above the cap.
inline constexpr std::uint32_t NearestDacDataAtMost(double volts, double cap) {
    const std::uint32_t nearest = NearestDacData(volts);
    const std::uint32_t highest = LargestDacDataAtMost(cap);
    return nearest < highest ? nearest : highest;
}

// ---- DAC write (0xDD) -------------------------------------------------------
// No data stage: value = bits 15..0 of the input word; index = register length
// in the high byte, bits 23..16 of the input word in the low byte.
inline constexpr std::int16_t kDacRegisterLength = 24;

struct DacWriteFields {
    std::uint16_t value = 0;
    std::uint16_t index = 0;
    bool operator==(const DacWriteFields&) const = default;
};
// The fields that carry inputWord (0..kLargestInputWord) to the board.
inline constexpr DacWriteFields PackDacWrite(std::uint8_t registerLength, std::uint32_t inputWord) {
    return {static_cast<std::uint16_t>(inputWord & 0xFFFF),
            static_cast<std::uint16_t>(registerLength << 8 | ((inputWord >> 16) & 0xFF))};
}

struct DacWriteContent {
    std::uint8_t registerLength = 0;
    std::uint32_t inputWord = 0;
    bool operator==(const DacWriteContent&) const = default;
};
// What the board reads from the fields of a 0xDD request: the inverse of PackDacWrite.
inline constexpr DacWriteContent UnpackDacWrite(DacWriteFields fields) {
    return {static_cast<std::uint8_t>(fields.index >> 8),
            static_cast<std::uint32_t>(fields.index & 0xFF) << 16 | fields.value};
}

// ---- Converter read (0xDA) --------------------------------------------------
inline constexpr std::uint16_t kConverterReadLength = 2;
inline constexpr int kConverterBits = 12;
inline constexpr std::uint32_t kConverterCodes = 1u << kConverterBits;   // 4096

// The converter's code in a read-back value: its low 12 bits (bits 15..12 are
// not the converter's).
inline constexpr std::int32_t ConverterCodeOf(std::int32_t readBack) {
    return readBack & static_cast<std::int32_t>(kConverterCodes - 1);
}
// A converter code in volts: code / 4096 * 4.93, in double, the division first.
inline constexpr double ConverterVolts(double code) { return code / kConverterCodes * kFullScaleVolts; }

// The converter's bytes travel with their bits mirrored: bit 0 in bit 7,
// bit 1 in bit 6, and so on. Mirroring again gives the byte back.
inline constexpr std::uint8_t MirrorBits(std::uint8_t byte) {
    std::uint8_t mirrored = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (byte & (1u << bit)) mirrored |= static_cast<std::uint8_t>(0x80u >> bit);
    }
    return mirrored;
}

// The converter read's reply: two bytes, the value's high byte first, each
// with its bits mirrored.
inline constexpr std::size_t kConverterReplyHighByte = 0;
inline constexpr std::size_t kConverterReplyLowByte = 1;

// The 16-bit value of a reply's high and low byte, both mirrored back.
inline constexpr std::uint16_t ConverterValue(std::uint8_t high, std::uint8_t low) {
    return static_cast<std::uint16_t>(high << 8 | low);
}

// The converter read's reply for a 16-bit value.
inline constexpr std::array<std::uint8_t, kConverterReadLength> ConverterReplyBytes(std::uint16_t value) {
    std::array<std::uint8_t, kConverterReadLength> reply{};
    reply[kConverterReplyHighByte] = MirrorBits(static_cast<std::uint8_t>(value >> 8));
    reply[kConverterReplyLowByte] = MirrorBits(static_cast<std::uint8_t>(value & 0xFF));
    return reply;
}

// The 16-bit value a converter read's reply carries, its bytes in the order received.
inline constexpr std::uint16_t ConverterReplyValue(std::uint8_t first, std::uint8_t second) {
    static_assert(kConverterReplyHighByte == 0 && kConverterReplyLowByte == 1);
    return ConverterValue(MirrorBits(first), MirrorBits(second));
}

// ---- USB microcontroller ----------------------------------------------------
// CPU control register: 1 holds the CPU in reset, 0 lets it run.
inline constexpr std::uint16_t kCpucsAddress = 0xE600;
inline constexpr std::uint8_t kCpucsReset = 0x01;
inline constexpr std::uint8_t kCpucsRun = 0x00;

struct MemoryRegion {
    std::uint16_t first;   // first address inside the region
    std::uint16_t last;    // last address inside the region
};
// On-chip RAM that firmware may be loaded into.
inline constexpr std::array<MemoryRegion, 2> kOnChipRam{{{0x0000, 0x3FFF}, {0xE000, 0xE1FF}}};

// True when the length bytes from address on (at least one) lie inside a
// single region of on-chip RAM.
inline constexpr bool InOnChipRam(std::uint32_t address, std::size_t length = 1) {
    if (length == 0) return false;
    for (const MemoryRegion& region : kOnChipRam) {
        if (address >= region.first && address <= region.last && length - 1 <= region.last - address) return true;
    }
    return false;
}

// Largest single 0xA0 transfer used when loading firmware.
inline constexpr std::size_t kMaxLoadTransfer = 4096;

}  // namespace tarnel::protocol

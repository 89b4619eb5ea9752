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

enum class Direction : std::uint8_t { ToBoard = 0, FromBoard = 1 };

inline constexpr unsigned kControlTimeoutMs = 1000;

// ---- DAC write (0xDD) -------------------------------------------------------
// value = bits 15..0 of the input word; index = register length in the high
// byte, bits 23..16 of the input word in the low byte.
inline constexpr std::int16_t kDacRegisterLength = 24;
inline constexpr std::uint16_t DacIndexFor(std::uint32_t inputWord) {
    return static_cast<std::uint16_t>((kDacRegisterLength << 8) | ((inputWord >> 16) & 0xFF));
}
inline constexpr std::uint16_t DacValueFor(std::uint32_t inputWord) {
    return static_cast<std::uint16_t>(inputWord & 0xFFFF);
}

// Input word layout: power-down code in bits 21..20, data word in bits 19..2.
inline constexpr int kDacResolutionBits = 18;
inline constexpr int kPowerDownShift = 20;
inline constexpr int kDataShift = 2;
inline constexpr std::uint32_t kDataMask = (1u << kDacResolutionBits) - 1;
enum class PowerDown : std::uint8_t { Normal = 0, OneKToGround = 1, HundredKToGround = 2, ThreeState = 3 };

// Full-scale output of the DAC and of the read-back converter, in volts.
inline constexpr double kFullScaleVolts = 4.93;

// ---- Converter read (0xDA) --------------------------------------------------
inline constexpr std::uint16_t kConverterReadLength = 2;
inline constexpr int kConverterBits = 12;
inline constexpr std::uint32_t kConverterCodes = 1u << kConverterBits;   // 4096

// The converter's bytes travel with their bits mirrored: bit 0 in bit 7,
// bit 1 in bit 6, and so on. Mirroring again gives the byte back.
inline constexpr std::uint8_t MirrorBits(std::uint8_t byte) {
    std::uint8_t mirrored = 0;
    for (int bit = 0; bit < 8; ++bit) {
        if (byte & (1u << bit)) mirrored |= static_cast<std::uint8_t>(0x80u >> bit);
    }
    return mirrored;
}

// ---- USB microcontroller ----------------------------------------------------
// CPU control register: 1 holds the CPU in reset, 0 lets it run.
inline constexpr std::uint16_t kCpucsAddress = 0xE600;
inline constexpr std::uint8_t kCpucsReset = 0x01;
inline constexpr std::uint8_t kCpucsRun = 0x00;

struct MemoryRegion {
    std::uint16_t first;   // first address inside the region
    std::uint16_t last;    // last address inside the region
    constexpr bool Contains(std::uint32_t address) const { return address >= first && address <= last; }
};
// On-chip RAM that firmware may be loaded into.
inline constexpr std::array<MemoryRegion, 2> kOnChipRam{{{0x0000, 0x3FFF}, {0xE000, 0xE1FF}}};

// Largest single 0xA0 transfer used when loading firmware.
inline constexpr std::size_t kMaxLoadTransfer = 4096;

}  // namespace tarnel::protocol

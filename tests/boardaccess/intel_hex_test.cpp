#include "intel_hex.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "board_error.h"

namespace tarnel::boardaccess {
namespace {

// A record with a correct checksum, so a test spells out only what it is about.
std::string HexRecord(std::uint8_t type, std::uint16_t offset, std::vector<std::uint8_t> data) {
    data.insert(data.begin(), {static_cast<std::uint8_t>(data.size()), static_cast<std::uint8_t>(offset >> 8),
                               static_cast<std::uint8_t>(offset), type});
    std::uint8_t sum = 0;
    for (const std::uint8_t byte : data) sum = static_cast<std::uint8_t>(sum + byte);
    data.push_back(static_cast<std::uint8_t>(-sum));
    std::string text = ":";
    char pair[3];
    for (const std::uint8_t byte : data) text.append(pair, std::snprintf(pair, sizeof pair, "%02X", byte));
    return text + "\n";
}
// count bytes first, first + 1, ... at offset.
std::string DataRecord(std::uint16_t offset, std::size_t count, std::uint8_t first = 0) {
    std::vector<std::uint8_t> data(count);
    for (std::size_t i = 0; i < count; ++i) data[i] = static_cast<std::uint8_t>(first + i);
    return HexRecord(0x00, offset, data);
}
std::string EndRecord() { return HexRecord(0x01, 0, {}); }

// The message of the BoardError that parsing text throws, or "" if none.
std::string ParseError(const std::string& text) {
    try {
        ParseIntelHex(text, "Brisan.hex");
    } catch (const BoardError& error) {
        EXPECT_EQ(error.Kind(), FailureKind::BadFirmware);
        const std::string message = error.what();
        EXPECT_EQ(message.find('\n'), std::string::npos) << message;
        EXPECT_NE(message.find(" — "), std::string::npos) << "no fix named: " << message;
        return message;
    }
    return "";
}

TEST(IntelHexTest, ReadsGoodFilesInEveryCommonLayout) {
    const std::string record = DataRecord(0x0010, 4, 0xAB);
    std::string lowercase = record;
    for (char& c : lowercase) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    std::string crlf = record + EndRecord();
    for (std::size_t at = 0; (at = crlf.find('\n', at)) != std::string::npos; at += 2) crlf.insert(at, "\r");
    const FirmwareImage four{{0x0010, 0xAB}, {0x0011, 0xAC}, {0x0012, 0xAD}, {0x0013, 0xAE}};
    const struct {
        const char* what;
        std::string text;
        FirmwareImage expected;
    } cases[] = {
        {"records at their addresses", DataRecord(0x0100, 2, 0x10) + DataRecord(0xE000, 1, 0x80) + EndRecord(),
         {{0x0100, 0x10}, {0x0101, 0x11}, {0xE000, 0x80}}},
        {"lowercase digits", lowercase + EndRecord(), four},
        {"CRLF line ends", crlf, four},
        {"blank lines and trailing blanks", "\n" + record + "  \n\n" + EndRecord() + "\n\n", four},
        {"no newline at the end", record + EndRecord().substr(0, 11), four},
        {"start address records ignored",
         HexRecord(0x03, 0, {0, 0, 0, 0}) + record + HexRecord(0x05, 0, {0, 0, 0, 0}) + EndRecord(), four},
        {"segment 0x0E00 is 0xE000, linear 0 the bottom",
         HexRecord(0x02, 0, {0x0E, 0x00}) + DataRecord(4, 1, 0x55) + HexRecord(0x04, 0, {0, 0}) +
             DataRecord(4, 1, 0x66) + EndRecord(),
         {{0x0004, 0x66}, {0xE004, 0x55}}},
    };
    for (const auto& c : cases) EXPECT_EQ(ParseIntelHex(c.text, "Brisan.hex"), c.expected) << c.what;
}

TEST(IntelHexTest, AcceptsExactlyTheOnChipRam) {
    const std::pair<std::string, const char*> cases[] = {   // records, the address rejected (nullptr: accepted)
        {DataRecord(0x0000, 1), nullptr},
        {DataRecord(0x3FF0, 16), nullptr},   // last byte 0x3FFF
        {DataRecord(0x3FF1, 16), "0x4000"},  // runs one byte past the end
        {DataRecord(0xDFFF, 1), "0xDFFF"},
        {DataRecord(0xE000, 1), nullptr},
        {DataRecord(0xE1F0, 16), nullptr},   // last byte 0xE1FF
        {DataRecord(0xE200, 1), "0xE200"},
        {DataRecord(0xE600, 1), "0xE600"},   // CPUCS is written by the loader, never by the file
        {DataRecord(0xFFFF, 2), "0xFFFF"},
        {HexRecord(0x04, 0, {0, 1}) + DataRecord(0, 1), "0x10000"},
        {HexRecord(0x02, 0, {0x10, 0}) + DataRecord(0, 1), "0x10000"},
    };
    for (const auto& [records, rejected] : cases) {
        const std::string message = ParseError(records + EndRecord());
        const std::string expected =
            rejected ? std::string("data at ") + rejected + " lies outside the on-chip RAM" : "";
        EXPECT_EQ(message.empty(), expected.empty()) << message;
        EXPECT_NE(message.find(expected), std::string::npos) << message;
    }
}

TEST(IntelHexTest, RejectsMalformedFilesNamingFileAndLine) {
    const std::string good = DataRecord(0x0000, 4);
    std::string badChecksum = DataRecord(0x0010, 4);
    badChecksum[badChecksum.size() - 2] = badChecksum[badChecksum.size() - 2] == '0' ? '1' : '0';
    const std::pair<std::string, std::string> cases[] = {   // file text, start of the message
        {good + badChecksum + EndRecord(), "Brisan.hex line 2: bad checksum — "},
        {"0400000000010203F6\n" + EndRecord(), "Brisan.hex line 1: record does not start with ':'"},
        {good + ":04001000000102030\n" + EndRecord(), "Brisan.hex line 2: odd number of hex digits"},
        {good + ":0400100000010G03E6\n" + EndRecord(), "Brisan.hex line 2: not a hexadecimal digit"},
        {good + ":00000001\n", "Brisan.hex line 2: record too short"},
        {":0500000000010203F6\n" + EndRecord(), "Brisan.hex line 1: byte count 5 does not match the 4 data bytes"},
        {good + HexRecord(0x06, 0, {}) + EndRecord(), "Brisan.hex line 2: unknown record type 0x06"},
        {good + HexRecord(0x01, 0, {0x00}), "Brisan.hex line 2: end record holds data"},
        {HexRecord(0x04, 0, {0}) + good + EndRecord(), "Brisan.hex line 1: extended address record without 2 bytes"},
        {good + DataRecord(0x0003, 2) + EndRecord(), "Brisan.hex line 2: data at 0x0003 overlaps an earlier record"},
        {good + EndRecord() + DataRecord(0x0100, 1), "Brisan.hex line 3: data after the end record"},
        {good, "Brisan.hex: ends without an end record"},
        {"", "Brisan.hex: ends without an end record"},
        {EndRecord(), "Brisan.hex: holds no data to load"},
    };
    for (const auto& [text, expectedStart] : cases) {
        EXPECT_EQ(ParseError(text).rfind(expectedStart, 0), 0u) << ParseError(text) << "\nfor:\n" << text;
    }
}

TEST(IntelHexFileTest, FileErrorsNameTheFileAndTheCause) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("tarnel-hex-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "Brisan.hex") << DataRecord(0, 1);
    std::ofstream(folder / "huge.hex") << std::string(kMaxFirmwareFileBytes + 1, '\n');
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {folder / "Brisan.hex", "Brisan.hex: ends without an end record"},   // the base name, not the path
        {folder / "huge.hex", "huge.hex: larger than 1 MiB"},
        {folder / "missing.hex", "cannot read firmware file " + (folder / "missing.hex").string() +
                                     ": No such file or directory — "},
        {folder, "cannot read firmware file " + folder.string() + ": Is a directory — "},
    };
    for (const auto& [path, expectedStart] : cases) {
        try {
            ReadIntelHexFile(path);
            ADD_FAILURE() << "read " << path;
        } catch (const BoardError& error) {
            EXPECT_EQ(std::string(error.what()).rfind(expectedStart, 0), 0u) << error.what();
        }
    }
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace tarnel::boardaccess

#include "intel_hex.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "board_error.h"
#include "hex_records.h"

namespace tarnel::boardaccess {
namespace {

using testing::DataRecord;
using testing::EndRecord;
using testing::ExtendedLinear;
using testing::ExtendedSegment;
using testing::HexRecord;

// The message of the BoardError that parsing text throws, or "" if none.
std::string ParseError(const std::string& text) {
    try {
        ParseIntelHex(text, "Brisan.hex");
    } catch (const BoardError& error) {
        EXPECT_EQ(error.kind(), FailureKind::BadFirmware);
        return error.what();
    }
    return "";
}

std::string WithCrlf(const std::string& text) {
    std::string crlf;
    for (const char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return crlf;
}

void ExpectOneLineWithFix(const std::string& message) {
    EXPECT_EQ(message.find('\n'), std::string::npos) << message;
    EXPECT_NE(message.find(" — "), std::string::npos) << "no fix named: " << message;
}

TEST(IntelHexTest, ReadsDataRecordsIntoTheirAddresses) {
    const FirmwareImage image = ParseIntelHex(DataRecord(0x0100, 3, 0x10) + DataRecord(0xE000, 2, 0x80) + EndRecord(),
                                              "Brisan.hex");
    const FirmwareImage expected{{0x0100, 0x10}, {0x0101, 0x11}, {0x0102, 0x12}, {0xE000, 0x80}, {0xE001, 0x81}};
    EXPECT_EQ(image, expected);
}

TEST(IntelHexTest, AcceptsCommonLayoutVariants) {
    std::string lowercase = DataRecord(0x0010, 4, 0xAB);
    for (char& c : lowercase) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const struct {
        const char* what;
        std::string text;
    } variants[] = {
        {"lowercase digits", lowercase + EndRecord()},
        {"CRLF line ends", WithCrlf(DataRecord(0x0010, 4, 0xAB) + EndRecord())},
        {"blank lines and trailing blanks", "\n" + DataRecord(0x0010, 4, 0xAB) + "  \n\n" + EndRecord() + "\n\n"},
        {"no newline at the end", DataRecord(0x0010, 4, 0xAB) + EndRecord().substr(0, 11)},
        {"start address records ignored",
         HexRecord(0x03, 0, {0, 0, 0, 0}) + DataRecord(0x0010, 4, 0xAB) + HexRecord(0x05, 0, {0, 0, 0, 0}) + EndRecord()},
    };
    const FirmwareImage expected{{0x0010, 0xAB}, {0x0011, 0xAC}, {0x0012, 0xAD}, {0x0013, 0xAE}};
    for (const auto& variant : variants) {
        EXPECT_EQ(ParseIntelHex(variant.text, "Brisan.hex"), expected) << variant.what;
    }
}

TEST(IntelHexTest, ExtendedAddressRecordsMoveTheBase) {
    // Segment 0x0E00 is address 0xE000; linear 0 returns to the bottom.
    const FirmwareImage image = ParseIntelHex(
        ExtendedSegment(0x0E00) + DataRecord(0x0004, 1, 0x55) + ExtendedLinear(0) + DataRecord(0x0004, 1, 0x66) + EndRecord(),
        "Brisan.hex");
    EXPECT_EQ(image, (FirmwareImage{{0x0004, 0x66}, {0xE004, 0x55}}));
}

TEST(IntelHexTest, AcceptsExactlyTheOnChipRam) {
    const struct {
        std::string records;
        const char* rejectedAddress;  // nullptr: accepted
    } cases[] = {
        {DataRecord(0x0000, 1), nullptr},
        {DataRecord(0x3FF0, 16), nullptr},   // last byte 0x3FFF
        {DataRecord(0x3FF1, 16), "0x4000"},  // runs one byte past the end
        {DataRecord(0x4000, 1), "0x4000"},
        {DataRecord(0xDFFF, 1), "0xDFFF"},
        {DataRecord(0xE000, 1), nullptr},
        {DataRecord(0xE1F0, 16), nullptr},   // last byte 0xE1FF
        {DataRecord(0xE200, 1), "0xE200"},
        {DataRecord(0xE600, 1), "0xE600"},   // CPUCS is loaded by the loader, never by the file
        {DataRecord(0xFFFF, 2), "0xFFFF"},
        {ExtendedLinear(1) + DataRecord(0x0000, 1), "0x10000"},
        {ExtendedSegment(0x1000) + DataRecord(0x0000, 1), "0x10000"},
    };
    for (const auto& c : cases) {
        const std::string message = ParseError(c.records + EndRecord());
        if (c.rejectedAddress == nullptr) {
            EXPECT_EQ(message, "") << c.records;
        } else {
            EXPECT_NE(message.find(std::string("data at ") + c.rejectedAddress + " lies outside the on-chip RAM"),
                      std::string::npos)
                << message;
            ExpectOneLineWithFix(message);
        }
    }
}

TEST(IntelHexTest, RejectsMalformedFilesNamingFileAndLine) {
    const std::string good = DataRecord(0x0000, 4);
    std::string badChecksum = DataRecord(0x0010, 4);
    badChecksum[badChecksum.size() - 2] = badChecksum[badChecksum.size() - 2] == '0' ? '1' : '0';
    const struct {
        std::string text;
        std::string expectedStart;
    } cases[] = {
        {good + badChecksum + EndRecord(), "Brisan.hex line 2: bad checksum — "},
        {"0400000000010203F6\n" + EndRecord(), "Brisan.hex line 1: record does not start with ':'"},
        {good + ":04001000000102030\n" + EndRecord(), "Brisan.hex line 2: odd number of hex digits"},
        {good + ":0400100000010G03E6\n" + EndRecord(), "Brisan.hex line 2: not a hexadecimal digit"},
        {good + ":00000001\n", "Brisan.hex line 2: record too short"},
        {":0500000000010203F6\n" + EndRecord(), "Brisan.hex line 1: byte count 5 does not match the 4 data bytes"},
        {good + HexRecord(0x06, 0, {}) + EndRecord(), "Brisan.hex line 2: unknown record type 0x06"},
        {good + HexRecord(0x01, 0, {0x00}), "Brisan.hex line 2: end record holds data"},
        {HexRecord(0x04, 0, {0x00}) + good + EndRecord(), "Brisan.hex line 1: extended address record without 2 bytes"},
        {good + DataRecord(0x0003, 2) + EndRecord(), "Brisan.hex line 2: data at 0x0003 overlaps an earlier record"},
        {good + EndRecord() + DataRecord(0x0100, 1), "Brisan.hex line 3: data after the end record"},
        {good + EndRecord() + EndRecord(), "Brisan.hex line 3: data after the end record"},
        {good, "Brisan.hex: ends without an end record"},
        {"", "Brisan.hex: ends without an end record"},
        {EndRecord(), "Brisan.hex: holds no data to load"},
    };
    for (const auto& c : cases) {
        const std::string message = ParseError(c.text);
        EXPECT_EQ(message.rfind(c.expectedStart, 0), 0u) << "got: " << message << "\nfor:\n" << c.text;
        ExpectOneLineWithFix(message);
    }
}

class IntelHexFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("tarnel-hex-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }
    std::filesystem::path Write(const std::string& name, const std::string& text) {
        std::ofstream(folder_ / name, std::ios::binary) << text;
        return folder_ / name;
    }
    std::string ReadError(const std::filesystem::path& path) {
        try {
            ReadIntelHexFile(path);
        } catch (const BoardError& error) {
            return error.what();
        }
        return "";
    }
    std::filesystem::path folder_;
};

TEST_F(IntelHexFileTest, ReadsTheTestFirmware) {
    const FirmwareImage image = ReadIntelHexFile(TARNEL_TEST_FIRMWARE_SOURCE);
    EXPECT_EQ(image.size(), 0x800u + 0x40u);
    EXPECT_EQ(image.begin()->first, 0x0000);
    EXPECT_EQ(image.rbegin()->first, 0xE03F);
}

TEST_F(IntelHexFileTest, ErrorsNameTheFileBaseName) {
    const auto path = Write("Brisan.hex", DataRecord(0, 1));
    EXPECT_EQ(ReadError(path).rfind("Brisan.hex: ends without an end record", 0), 0u);
}

TEST_F(IntelHexFileTest, UnreadableFilesNameThePathAndTheCause) {
    const struct {
        std::filesystem::path path;
        const char* cause;
    } cases[] = {
        {folder_ / "missing.hex", "No such file or directory"},
        {folder_, "Is a directory"},
    };
    for (const auto& c : cases) {
        const std::string message = ReadError(c.path);
        EXPECT_NE(message.find("cannot read firmware file " + c.path.string() + ": " + c.cause), std::string::npos)
            << message;
        ExpectOneLineWithFix(message);
    }
}

TEST_F(IntelHexFileTest, RejectsFilesLargerThanAnyFirmware) {
    const auto path = Write("huge.hex", std::string(kMaxFirmwareFileBytes + 1, '\n'));
    const std::string message = ReadError(path);
    EXPECT_EQ(message.rfind("huge.hex: larger than 1 MiB", 0), 0u) << message;
}

}  // namespace
}  // namespace tarnel::boardaccess

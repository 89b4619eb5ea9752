#include "intel_hex.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <tarnel/board_protocol.h>

#include "board_error.h"
#include "hex_text.h"

namespace tarnel::boardaccess {
namespace {

namespace protocol = tarnel::protocol;

constexpr std::string_view kDamagedFix = "replace the firmware file with an intact copy";

enum RecordType : std::uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,
    kStartSegmentAddress = 0x03,
    kExtendedLinearAddress = 0x04,
    kStartLinearAddress = 0x05,
};

std::optional<std::uint8_t> HexDigit(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
    return std::nullopt;
}

std::string_view TrimTrailingSpace(std::string_view line) {
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r')) {
        line.remove_suffix(1);
    }
    return line;
}

// One record line, decoded: every byte between ':' and the end, including
// byte count, address, type and checksum.
struct Record {
    std::uint8_t type = 0;
    std::uint16_t offset = 0;
    std::vector<std::uint8_t> data;
};

class Parser {
public:
    explicit Parser(std::string_view fileName) : fileName_(fileName) {}

    FirmwareImage Parse(std::string_view text) {
        std::size_t lineStart = 0;
        while (lineStart < text.size()) {
            std::size_t lineEnd = text.find('\n', lineStart);
            if (lineEnd == std::string_view::npos) lineEnd = text.size();
            ++lineNumber_;
            ParseLine(TrimTrailingSpace(text.substr(lineStart, lineEnd - lineStart)));
            lineStart = lineEnd + 1;
        }
        if (!endSeen_) {
            FailFile("ends without an end record (type 01), so it is cut short", kDamagedFix);
        }
        if (image_.empty()) {
            FailFile("holds no data to load", "use the board's firmware file, not an empty one");
        }
        return std::move(image_);
    }

private:
    [[noreturn]] void FailLine(const std::string& cause, std::string_view fix) const {
        throw BoardError(FailureKind::BadFirmware, std::string(fileName_) + " line " +
                                                       std::to_string(lineNumber_) + ": " + cause +
                                                       " — " + std::string(fix));
    }
    [[noreturn]] void FailFile(const std::string& cause, std::string_view fix) const {
        throw BoardError(FailureKind::BadFirmware,
                         std::string(fileName_) + ": " + cause + " — " + std::string(fix));
    }

    void ParseLine(std::string_view line) {
        if (line.empty()) return;
        if (endSeen_) FailLine("data after the end record", kDamagedFix);
        ApplyRecord(Decode(line));
    }

    Record Decode(std::string_view line) const {
        if (line.front() != ':') FailLine("record does not start with ':'", kDamagedFix);
        const std::string_view digits = line.substr(1);
        if (digits.size() % 2 != 0) FailLine("odd number of hex digits", kDamagedFix);
        std::vector<std::uint8_t> bytes;
        bytes.reserve(digits.size() / 2);
        for (std::size_t i = 0; i < digits.size(); i += 2) {
            const auto high = HexDigit(digits[i]);
            const auto low = HexDigit(digits[i + 1]);
            if (!high || !low) FailLine("not a hexadecimal digit", kDamagedFix);
            bytes.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
        }
        // byte count, address (2), type, checksum
        constexpr std::size_t kOverhead = 5;
        if (bytes.size() < kOverhead) FailLine("record too short", kDamagedFix);
        if (bytes.size() != kOverhead + bytes[0]) {
            FailLine("byte count " + std::to_string(bytes[0]) + " does not match the " +
                         std::to_string(bytes.size() - kOverhead) + " data bytes of the record",
                     kDamagedFix);
        }
        std::uint8_t sum = 0;
        for (const std::uint8_t byte : bytes) sum = static_cast<std::uint8_t>(sum + byte);
        if (sum != 0) FailLine("bad checksum", kDamagedFix);

        Record record;
        record.offset = static_cast<std::uint16_t>(bytes[1] << 8 | bytes[2]);
        record.type = bytes[3];
        record.data.assign(bytes.begin() + 4, bytes.end() - 1);
        return record;
    }

    void ApplyRecord(const Record& record) {
        switch (record.type) {
            case kData:
                PlaceData(record);
                break;
            case kEndOfFile:
                if (!record.data.empty()) FailLine("end record holds data", kDamagedFix);
                endSeen_ = true;
                break;
            case kExtendedSegmentAddress:
            case kExtendedLinearAddress: {
                if (record.data.size() != 2) FailLine("extended address record without 2 bytes", kDamagedFix);
                const std::uint32_t upper = static_cast<std::uint32_t>(record.data[0] << 8 | record.data[1]);
                base_ = record.type == kExtendedSegmentAddress ? upper << 4 : upper << 16;
                break;
            }
            case kStartSegmentAddress:
            case kStartLinearAddress:
                break;  // where the CPU starts is fixed by the board; nothing to load
            default:
                FailLine("unknown record type " + HexText(record.type, 2), "use a plain Intel HEX firmware file");
        }
    }

    void PlaceData(const Record& record) {
        for (std::size_t i = 0; i < record.data.size(); ++i) {
            const std::uint32_t address = base_ + record.offset + static_cast<std::uint32_t>(i);
            if (!protocol::InOnChipRam(address)) {
                FailLine("data at " + HexText(address, 4) +
                             " lies outside the on-chip RAM (0x0000-0x3FFF, 0xE000-0xE1FF)",
                         "use firmware built for this board");
            }
            const auto [where, inserted] =
                image_.emplace(static_cast<std::uint16_t>(address), record.data[i]);
            if (!inserted) FailLine("data at " + HexText(address, 4) + " overlaps an earlier record", kDamagedFix);
        }
    }

    std::string_view fileName_;
    std::size_t lineNumber_ = 0;
    std::uint32_t base_ = 0;
    bool endSeen_ = false;
    FirmwareImage image_;
};

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

[[noreturn]] void FailToRead(const std::filesystem::path& path, int error) {
    throw BoardError(FailureKind::BadFirmware, "cannot read firmware file " + path.string() + ": " +
                                                   std::strerror(error) +
                                                   " — put the board's firmware file at that path");
}

}  // namespace

FirmwareImage ParseIntelHex(std::string_view text, std::string_view fileName) {
    return Parser(fileName).Parse(text);
}

FirmwareImage ReadIntelHexFile(const std::filesystem::path& path) {
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) FailToRead(path, errno);
    std::string text;
    char chunk[8192];
    while (true) {
        const std::size_t got = std::fread(chunk, 1, sizeof chunk, file.get());
        text.append(chunk, got);
        if (text.size() > kMaxFirmwareFileBytes) {
            throw BoardError(FailureKind::BadFirmware,
                             path.filename().string() +
                                 ": larger than 1 MiB, far too large for the board's 16.5 KiB of RAM"
                                 " — use the board's firmware file");
        }
        if (got < sizeof chunk) break;
    }
    if (std::ferror(file.get())) FailToRead(path, errno);
    return ParseIntelHex(text, path.filename().string());
}

}  // namespace tarnel::boardaccess

#include "vxi11/record_marking.h"

namespace tarnel::vxi11 {

namespace {

constexpr std::uint32_t kLastFragment = 0x80000000u;

std::uint32_t BigEndian32(std::string_view bytes) {
    return (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[0])) << 24) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[1])) << 16) |
           (static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2])) << 8) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[3]));
}

}  // namespace

RecordAssembler::Step RecordAssembler::Next(std::string& record) {
    while (true) {
        const std::string_view rest = std::string_view(incoming_).substr(consumed_);
        if (rest.size() < 4) break;
        const std::uint32_t header = BigEndian32(rest);
        const std::size_t length = header & ~kLastFragment;
        if (length > longestRecord_ - record_.size()) return Step::TooLong;
        if (rest.size() - 4 < length) break;
        record_.append(rest.substr(4, length));
        consumed_ += 4 + length;
        if ((header & kLastFragment) != 0) {
            record = std::move(record_);
            record_.clear();
            return Step::Record;
        }
    }
    // Keep only what is not taken yet, so the buffer stays within one fragment.
    incoming_.erase(0, consumed_);
    consumed_ = 0;
    return Step::NeedMore;
}

std::string RecordOf(std::string_view body) {
    const auto header = static_cast<std::uint32_t>(body.size()) | kLastFragment;
    std::string record;
    record.reserve(4 + body.size());
    record.push_back(static_cast<char>(header >> 24));
    record.push_back(static_cast<char>(header >> 16));
    record.push_back(static_cast<char>(header >> 8));
    record.push_back(static_cast<char>(header));
    record.append(body);
    return record;
}

}  // namespace tarnel::vxi11

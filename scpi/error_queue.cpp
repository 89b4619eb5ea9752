#include "scpi/error_queue.h"

#include <utility>

namespace tarnel::scpi {

namespace {

// SCPI strings are 8-bit text that clients decode as ASCII: the detail keeps
// printable ASCII only (the em dash of a library line becomes a hyphen), and
// the whole entry stays within SCPI's 255 characters.
constexpr std::size_t kLongestDetail = 100;

std::string PrintableDetail(std::string_view detail) {
    constexpr std::string_view kEmDash = "\xE2\x80\x94";
    std::string text;
    for (std::size_t i = 0; i < detail.size() && text.size() < kLongestDetail; ++i) {
        if (detail.substr(i, kEmDash.size()) == kEmDash) {
            text += '-';
            i += kEmDash.size() - 1;
            continue;
        }
        const auto c = static_cast<unsigned char>(detail[i]);
        text += c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '?';
    }
    return text;
}

}  // namespace

void ErrorQueue::Push(ErrorCode code, std::string_view detail) {
    if (entries_.size() >= kCapacity) {
        entries_.back() = {ErrorCode::QueueOverflow, {}};
        return;
    }
    entries_.push_back({code, PrintableDetail(detail)});
}

std::string ErrorQueue::PopEntry() {
    if (entries_.empty()) return EntryText({ErrorCode::NoError, {}});
    const Entry oldest = std::move(entries_.front());
    entries_.pop_front();
    return EntryText(oldest);
}

std::string ErrorQueue::PopAll() {
    std::string all = PopEntry();
    while (!entries_.empty()) all += "," + PopEntry();
    return all;
}

std::string ErrorQueue::EntryText(const Entry& entry) {
    std::string message(ErrorText(entry.code));
    if (!entry.detail.empty()) message += ";" + entry.detail;
    // A quote inside a SCPI string is written twice.
    std::string quoted = "\"";
    for (const char c : message) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return std::to_string(static_cast<int>(entry.code)) + "," + quoted + "\"";
}

}  // namespace tarnel::scpi

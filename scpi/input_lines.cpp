#include "scpi/input_lines.h"

namespace tarnel::scpi {

void InputLines::Feed(std::string_view bytes) {
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        const std::string_view piece = bytes.substr(0, end);
        if (!dropping_) partial_.append(piece);
        // One byte more than the longest line leaves room for a CR before the LF.
        if (!dropping_ && partial_.size() > kLongestLine + 1) {
            ready_.push_back({{}, true});
            partial_.clear();
            dropping_ = true;
        }
        if (end == std::string_view::npos) return;
        if (!dropping_) {
            if (!partial_.empty() && partial_.back() == '\r') partial_.pop_back();
            if (partial_.size() > kLongestLine) ready_.push_back({{}, true});
            else ready_.push_back({std::move(partial_), false});
        }
        partial_.clear();
        dropping_ = false;
        bytes.remove_prefix(end + 1);
    }
}

std::optional<InputLines::Line> InputLines::Next() {
    if (ready_.empty()) return std::nullopt;
    Line line = std::move(ready_.front());
    ready_.pop_front();
    return line;
}

}  // namespace tarnel::scpi

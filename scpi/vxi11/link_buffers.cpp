#include "vxi11/link_buffers.h"

#include <algorithm>

#include "vxi11/vxi11_codes.h"

namespace tarnel::vxi11 {

std::vector<scpi::InputLines::Line> LinkBuffers::Write(std::string_view data, bool end) {
    input_.Feed(data);
    // END closes the message as its LF would; an END with no data of its own
    // closes what earlier writes left open.
    if (end && (data.empty() || data.back() != '\n')) input_.Feed("\n");
    std::vector<scpi::InputLines::Line> messages;
    while (auto line = input_.Next()) {
        if (!line->overrun && line->text.empty()) continue;
        messages.push_back(std::move(*line));
    }
    return messages;
}

void LinkBuffers::AddReply(std::string_view reply) {
    std::string line(reply);
    line.push_back('\n');
    replies_.push_back(std::move(line));
}

LinkBuffers::Piece LinkBuffers::Read(std::size_t requestSize, std::optional<char> termChar) {
    const std::string& reply = replies_.front();
    std::size_t length = std::min(requestSize, reply.size() - readOffset_);
    Piece piece;
    if (termChar) {
        const std::size_t at = reply.find(*termChar, readOffset_);
        if (at != std::string::npos && at < readOffset_ + length) {
            length = at + 1 - readOffset_;
            piece.reason |= kReasonTermChar;
        }
    }
    piece.data = reply.substr(readOffset_, length);
    readOffset_ += length;
    if (length == requestSize) piece.reason |= kReasonRequestCount;
    if (readOffset_ == reply.size()) {
        piece.reason |= kReasonEnd;
        replies_.pop_front();
        readOffset_ = 0;
    }
    return piece;
}

void LinkBuffers::Clear() {
    input_ = scpi::InputLines();
    replies_.clear();
    readOffset_ = 0;
}

}  // namespace tarnel::vxi11

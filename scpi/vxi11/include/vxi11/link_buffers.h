// A link's input and output as device_write and device_read see them.
// Input: the data of writes joined until one ends the message (END flag);
// each line in it (LF, or the message's end, closes one) is a program
// message. Output: the replies of the link's messages, each with its LF,
// handed out in pieces of at most the size a read asks for; a piece ends a
// reply (reason END), reaches the read's size (REQCNT), or ends at the term
// char when the read names one (CHR).
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scpi/input_lines.h"

namespace tarnel::vxi11 {

class LinkBuffers {
public:
    // The program messages this write completes, in order.
    std::vector<scpi::InputLines::Line> Write(std::string_view data, bool end);

    void AddReply(std::string_view reply);
    bool HasOutput() const { return !replies_.empty(); }

    struct Piece {
        std::string data;
        long reason = 0;
    };
    // Requires HasOutput().
    Piece Read(std::size_t requestSize, std::optional<char> termChar);

    void Clear();

private:
    scpi::InputLines input_;
    std::deque<std::string> replies_;
    std::size_t readOffset_ = 0;   // into replies_.front()
};

}  // namespace tarnel::vxi11

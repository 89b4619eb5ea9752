// A connection's input cut into messages: each ends with LF, and a CR before
// the LF is dropped. A line longer than kLongestLine bytes is not kept: it
// comes out as an overrun at once, the rest of it up to the next LF is
// dropped, and the lines after it come out as usual.
#pragma once

#include <cstddef>
#include <deque>
#include <optional>
#include <string>
#include <string_view>

namespace tarnel::scpi {

class InputLines {
public:
    static constexpr std::size_t kLongestLine = 64 * 1024;

    struct Line {
        std::string text;       // without the line end
        bool overrun = false;   // a line too long, dropped (text is empty)
    };

    void Feed(std::string_view bytes);

    // The oldest line not yet taken.
    std::optional<Line> Next();

private:
    std::string partial_;    // the line being received
    bool dropping_ = false;  // inside a line already reported as an overrun
    std::deque<Line> ready_;
};

}  // namespace tarnel::scpi

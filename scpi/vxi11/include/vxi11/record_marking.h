// ONC RPC record marking on a TCP stream: a record is one or more fragments,
// each behind a 4-byte big-endian header whose bit 31 marks the record's last
// fragment and whose other bits give the fragment's length. Records longer
// than a limit are refused as soon as a header announces them, before their
// bytes arrive, so that a client cannot make the server hold more.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarnel::vxi11 {

class RecordAssembler {
public:
    explicit RecordAssembler(std::size_t longestRecord) : longestRecord_(longestRecord) {}

    enum class Step { NeedMore, Record, TooLong };

    // Takes bytes as they arrive from the stream.
    void Feed(std::string_view bytes) { incoming_.append(bytes); }
    // The next whole record into `record`; TooLong ends the stream for good.
    Step Next(std::string& record);

private:
    std::size_t longestRecord_;
    std::string incoming_;     // bytes fed and not yet taken apart
    std::size_t consumed_ = 0; // of incoming_
    std::string record_;       // the fragments of the record being joined
};

// A record of one fragment holding `body`.
std::string RecordOf(std::string_view body);

}  // namespace tarnel::vxi11

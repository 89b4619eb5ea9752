// The instrument's side of a USBTMC reply, checked as it arrives: one
// DEV_DEP_MSG_IN transfer taken in bulk-IN read by bulk-IN read (a transfer
// may span many packets and many reads; a short read ends it), and the end
// of a reply joined from its transfers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "scpi/client/usbtmc_header.h"

namespace tarnel::scpi::client::usbtmc {

// A reply longer than this without EOM is no reply.
inline constexpr std::size_t kLongestReply = std::size_t{1} << 20;

class InTransfer {
public:
    enum class State { Reading, Complete, Broken };

    // The transfer answering REQUEST_DEV_DEP_MSG_IN with `tag`, which asked
    // for at most `requested` message bytes.
    InTransfer(std::uint8_t tag, std::uint32_t requested) : tag_(tag), requested_(requested) {}

    // The bytes of one bulk-IN read; `ended`: the read stopped short of its
    // buffer, so the transfer is over. A zero-length read before the header
    // (a stray zero-length packet) is passed over.
    State Take(std::span<const std::uint8_t> bytes, bool ended);

    State Current() const { return state_; }
    // The message bytes so far (without the header and the alignment bytes).
    const std::string& Payload() const { return payload_; }
    bool EndOfMessage() const { return (header_.attributes & kEom) != 0; }
    // For Broken: what is wrong, as a clause ("its header's bTag is 5, not 4").
    const std::string& Problem() const { return problem_; }

private:
    State Break(std::string problem);
    State TakeHeader();

    std::uint8_t tag_;
    std::uint32_t requested_;
    State state_ = State::Reading;
    std::size_t headerBytes_ = 0;
    std::array<std::uint8_t, kHeaderSize> headerStart_{};
    BulkHeader header_;
    std::string payload_;
    std::string problem_;
};

// The reply without its line end: a trailing LF, and a CR before it.
std::string_view WithoutLineEnd(std::string_view reply);

}  // namespace tarnel::scpi::client::usbtmc

#include "scpi/client/usbtmc_reply.h"

#include <algorithm>

namespace tarnel::scpi::client::usbtmc {

InTransfer::State InTransfer::Break(std::string problem) {
    problem_ = std::move(problem);
    state_ = State::Broken;
    return state_;
}

InTransfer::State InTransfer::TakeHeader() {
    const auto header = DecodeHeader(headerStart_);
    if (!header) return Break("its header's bTagInverse is not the inverse of its bTag");
    if (header->msgId != MsgId::DevDepMsgIn) {
        return Break("its header's MsgID is " + std::to_string(static_cast<unsigned>(header->msgId)) +
                     ", not DEV_DEP_MSG_IN (2)");
    }
    if (header->tag != tag_) {
        return Break("its header's bTag is " + std::to_string(header->tag) + ", not the " + std::to_string(tag_) +
                     " it was asked with");
    }
    if (header->transferSize > requested_) {
        return Break("its TransferSize of " + std::to_string(header->transferSize) + " bytes is over the " +
                     std::to_string(requested_) + " asked for");
    }
    header_ = *header;
    return state_;
}

InTransfer::State InTransfer::Take(std::span<const std::uint8_t> bytes, bool ended) {
    if (state_ != State::Reading) return state_;
    if (headerBytes_ < kHeaderSize) {
        if (bytes.empty() && headerBytes_ == 0) return state_;
        const std::size_t part = std::min(bytes.size(), kHeaderSize - headerBytes_);
        std::copy_n(bytes.begin(), part, headerStart_.begin() + static_cast<std::ptrdiff_t>(headerBytes_));
        headerBytes_ += part;
        bytes = bytes.subspan(part);
        if (headerBytes_ < kHeaderSize) {
            if (ended) {
                return Break("the transfer ended after " + std::to_string(headerBytes_) +
                             " bytes, inside its 12-byte header");
            }
            return state_;
        }
        if (TakeHeader() == State::Broken) return state_;
    }
    // The message bytes up to TransferSize; the device pads the transfer
    // with up to 3 alignment bytes, which are dropped.
    const std::size_t missing = header_.transferSize - payload_.size();
    const std::size_t part = std::min(bytes.size(), missing);
    payload_.append(reinterpret_cast<const char*>(bytes.data()), part);
    const std::size_t extra = bytes.size() - part;
    if (payload_.size() == header_.transferSize) {
        if (extra > 3) {
            return Break("it carried " + std::to_string(extra) + " bytes past its TransferSize of " +
                         std::to_string(header_.transferSize));
        }
        state_ = State::Complete;
        return state_;
    }
    if (ended) {
        return Break("the transfer ended after " + std::to_string(payload_.size()) + " of the " +
                     std::to_string(header_.transferSize) + " bytes its TransferSize announced");
    }
    return state_;
}

std::string_view WithoutLineEnd(std::string_view reply) {
    if (!reply.empty() && reply.back() == '\n') {
        reply.remove_suffix(1);
        if (!reply.empty() && reply.back() == '\r') reply.remove_suffix(1);
    }
    return reply;
}

}  // namespace tarnel::scpi::client::usbtmc

// Fuzzes the USBTMC reply decoding: any bytes, cut into bulk-IN reads as the
// input's first bytes say, taken as the DEV_DEP_MSG_IN transfer answering a
// request (its tag and the size it asked for also from those bytes) either
// complete with exactly the TransferSize announced, never over what was asked,
// in a header of the asked tag, or break with a one-line reason. Any 12 bytes
// that decode as a header encode back to themselves but for the reserved bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "scpi/client/usbtmc_header.h"
#include "scpi/client/usbtmc_reply.h"

namespace {

namespace usbtmc = tarnel::scpi::client::usbtmc;

void Require(bool condition) {
    if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 3) return 0;
    const std::uint8_t tag = data[0];
    const std::uint32_t requested = static_cast<std::uint32_t>(data[1]) * 16;
    const std::size_t readSize = (data[2] % 16 + 1) * 4;
    const std::span<const std::uint8_t> bytes(data + 3, size - 3);

    const auto header = usbtmc::DecodeHeader(bytes);
    if (header) {
        const auto again = usbtmc::EncodeHeader(*header);
        for (std::size_t i = 0; i < usbtmc::kHeaderSize; ++i) {
            if (i != 3 && i != 10 && i != 11) Require(again[i] == bytes[i]);
        }
    }

    usbtmc::InTransfer transfer(tag, requested);
    auto state = usbtmc::InTransfer::State::Reading;
    for (std::size_t at = 0; state == usbtmc::InTransfer::State::Reading;) {
        const std::size_t length = std::min(readSize, bytes.size() - at);
        state = transfer.Take(bytes.subspan(at, length), length < readSize);
        at += length;
        if (length < readSize) break;
    }
    switch (state) {
    case usbtmc::InTransfer::State::Complete:
        Require(header && header->tag == tag && header->msgId == usbtmc::MsgId::DevDepMsgIn);
        Require(transfer.Payload().size() == header->transferSize && header->transferSize <= requested);
        Require(transfer.EndOfMessage() == ((header->attributes & usbtmc::kEom) != 0));
        Require(usbtmc::WithoutLineEnd(transfer.Payload()).size() + 2 >= transfer.Payload().size());
        break;
    case usbtmc::InTransfer::State::Broken:
        Require(!transfer.Problem().empty() && transfer.Problem().find('\n') == std::string::npos);
        break;
    case usbtmc::InTransfer::State::Reading:
        // Only a transfer of nothing at all (a lone zero-length packet) leaves it waiting.
        Require(bytes.empty());
        break;
    }
    return 0;
}

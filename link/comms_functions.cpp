#include "link/comms_functions.h"

#include <cstdint>
#include <string>

#include <tarnel/board_protocol.h>

#include "link/board_library.h"
#include "link/usb_stuff.h"
#include "state/declare.h"
#include "state/run_time_error.h"

namespace CommsFunctions {

using tarnel::link::ActiveBoardLibrary;
namespace protocol = tarnel::protocol;
using protocol::Direction;

bool WriteDacWord(std::int16_t registerLength, std::int32_t inputWord) {
    // The register length times 256 is formed in 16 bits, so the length must
    // stay within -128..127; the word must have no bits above bit 23, or it
    // would spill into the register-length byte of the index.
    if (registerLength < INT8_MIN || registerLength > INT8_MAX) {
        throw tarnel::RunTimeError("Overflow: register length " + std::to_string(registerLength) +
                                   " does not fit the DAC request's index field");
    }
    if (inputWord < 0 || static_cast<std::uint32_t>(inputWord) > protocol::kLargestInputWord) {
        throw tarnel::RunTimeError("Overflow: input word " + std::to_string(inputWord) +
                                   " does not fit the DAC's 24-bit input shift register");
    }
    const protocol::DacWriteFields fields =
        protocol::PackDacWrite(static_cast<std::uint8_t>(registerLength), static_cast<std::uint32_t>(inputWord));
    std::uint8_t writeBuffer = 0;

    auto& library = ActiveBoardLibrary();
    const std::int16_t status =
        library.Request(protocol::kRequestDacWrite, fields.value, fields.index, Direction::ToBoard, 0, &writeBuffer);
    Declare::LinkStatus = status;
    return library.RequestDone(status);
}

std::optional<std::int32_t> ReadConverter() {
    auto& library = ActiveBoardLibrary();
    const std::int16_t status =
        library.Request(protocol::kRequestConverterRead, 0, 0, Direction::FromBoard,
                        protocol::kConverterReadLength, USBStuff::ReadBuffer.data());
    Declare::LinkStatus = status;
    if (!library.RequestDone(status)) return std::nullopt;

    const std::uint8_t low = ReverseBits(USBStuff::ReadBuffer[protocol::kConverterReplyLowByte]);
    const std::uint8_t high = ReverseBits(USBStuff::ReadBuffer[protocol::kConverterReplyHighByte]);
    return protocol::ConverterValue(high, low);
}

std::uint8_t ReverseBits(std::uint8_t byte) { return tarnel::protocol::MirrorBits(byte); }

}  // namespace CommsFunctions

#include "link/comms_functions.h"

#include <cstdint>
#include <string>

#include <tarnel/board_protocol.h>

#include "link/board_library.h"
#include "state/declare.h"
#include "state/run_time_error.h"
#include "link/usb_stuff.h"

namespace CommsFunctions {

using tarnel::link::ActiveBoardLibrary;
using tarnel::protocol::Direction;

bool WriteDacWord(std::int16_t registerLength, std::int32_t inputWord) {
    // The register length times 256 is a 16-bit quantity; with the length of
    // 24 it is 0x1800, and the word's bits 23..16 fill the low byte.
    const std::int32_t index = registerLength * 256 + inputWord / 65536;
    const std::int32_t value = inputWord % 65536;
    if (index < INT16_MIN || index > INT16_MAX) {
        throw tarnel::RunTimeError("Overflow: register length " + std::to_string(registerLength) +
                                   " does not fit the DAC request's index field");
    }
    std::uint8_t writeBuffer = 0;

    auto& library = ActiveBoardLibrary();
    const std::int16_t status =
        library.Request(tarnel::protocol::kRequestDacWrite, static_cast<std::uint16_t>(value),
                        static_cast<std::uint16_t>(index), Direction::ToBoard, 0, &writeBuffer);
    Declare::LinkStatus = status;
    return library.RequestDone(status);
}

std::optional<std::int32_t> ReadConverter() {
    auto& library = ActiveBoardLibrary();
    const std::int16_t status =
        library.Request(tarnel::protocol::kRequestConverterRead, 0, 0, Direction::FromBoard,
                        tarnel::protocol::kConverterReadLength, USBStuff::ReadBuffer.data());
    Declare::LinkStatus = status;
    if (!library.RequestDone(status)) return std::nullopt;

    const std::int32_t low = ReverseBits(USBStuff::ReadBuffer[1]);
    const std::int32_t high = ReverseBits(USBStuff::ReadBuffer[0]);
    return high * 256 + low;
}

std::uint8_t ReverseBits(std::uint8_t byte) { return tarnel::protocol::MirrorBits(byte); }

}  // namespace CommsFunctions

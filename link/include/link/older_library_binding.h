// Binding to the older board-access library, found by name through the
// executable's library search. The library keeps the board it loaded itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "link/board_library.h"
#include "link/dynamic_library.h"

namespace tarnel::link {

inline constexpr const char* kOlderLibraryName = "libToveri.so";

class OlderLibraryBinding final : public BoardLibrary {
public:
    explicit OlderLibraryBinding(std::string library = kOlderLibraryName);

    std::int16_t LoadFirmware() override;   // LoadFirmWare(PathBuffer)
    bool FirmwareLoaded(std::int16_t status) const override { return status >= 1; }
    // The library opens its one board at the first request: it lists board 0
    // whether or not a board is there, and loading the firmware is LoadFirmware.
    std::int32_t SearchForBoards(std::vector<std::uint8_t>& boardNumbers) override;
    bool ListsBoards() const override { return false; }
    std::int32_t ConnectBoard(std::uint8_t boardNumber) override;
    std::int16_t DownloadFirmware() override { return LoadFirmware(); }
    std::int16_t Request(std::uint8_t code, std::uint16_t value, std::uint16_t index,
                         protocol::Direction direction, std::uint16_t length,
                         std::uint8_t* data) override;
    bool RequestDone(std::int16_t status) const override { return status >= 1; }

private:
    DynamicLibrary library_;
};

}  // namespace tarnel::link

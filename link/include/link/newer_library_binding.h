// Binding to the newer board-access library, loaded from a fixed absolute
// path. It finds the board, connects to it and keeps its handle.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <tarnel/KTV_CYUSB_USB4.h>

#include "link/board_library.h"
#include "link/dynamic_library.h"

namespace tarnel::link {

class NewerLibraryBinding final : public BoardLibrary {
public:
    explicit NewerLibraryBinding(std::string libraryPath);

    std::int16_t LoadFirmware() override;   // OpenBoard
    bool FirmwareLoaded(std::int16_t status) const override { return status == 0; }
    std::int16_t Request(std::uint8_t code, std::uint16_t value, std::uint16_t index,
                         protocol::Direction direction, std::uint16_t length,
                         std::uint8_t* data) override;
    bool RequestDone(std::int16_t status) const override { return status >= 0; }

    // Searches for boards, connects to the first one listed and downloads the
    // firmware named by PathBuffer; returns the download's status.
    std::int16_t OpenBoard();

    // The steps of OpenBoard; ConnectBoard puts the board's handle in BoardHandle.
    std::int32_t SearchForBoards(std::vector<std::uint8_t>& boardNumbers) override;
    bool ListsBoards() const override { return true; }
    std::int32_t ConnectBoard(std::uint8_t boardNumber) override;
    std::int16_t DownloadFirmware() override;

private:
    using BoardList = std::array<std::uint8_t, TARNEL_BOARD_LIST_BYTES>;
    std::int32_t Search(BoardList& boardList, std::int32_t& boardCount);

    DynamicLibrary library_;
};

}  // namespace tarnel::link

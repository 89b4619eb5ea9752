#include "link/newer_library_binding.h"

#include <algorithm>
#include <array>
#include <utility>

#include <tarnel/KTV_CYUSB_USB4.h>

#include "link/usb_stuff.h"
#include "state/declare.h"

namespace tarnel::link {

namespace {

// The types of the newer library's C entry points, as its header declares
// them; the program resolves them at run time and never links the library.
using SearchForBoardsFn = decltype(Search_For_Boards);
using ConnectFn = decltype(Connect);
using DownloadFirmwareFn = decltype(Download_Firmware);
using VendorRequestFn = decltype(Vendor_Request);

}  // namespace

NewerLibraryBinding::NewerLibraryBinding(std::string libraryPath) : library_(std::move(libraryPath)) {}

std::int16_t NewerLibraryBinding::LoadFirmware() { return OpenBoard(); }

std::int16_t NewerLibraryBinding::OpenBoard() {
    BoardList boardList{};
    std::int32_t boardCount = 0;

    // The search and connect results are not examined: the download's status
    // alone says whether the board is there and running its firmware.
    Search(boardList, boardCount);
    ConnectBoard(boardList[0]);
    // The board start-up has just filled PathBuffer with the firmware path.
    return DownloadFirmware();
}

std::int32_t NewerLibraryBinding::Search(BoardList& boardList, std::int32_t& boardCount) {
    return library_.Function<SearchForBoardsFn>("Search_For_Boards")(protocol::kVendorId, protocol::kProductId,
                                                                      &boardCount, boardList.data());
}

std::int32_t NewerLibraryBinding::SearchForBoards(std::vector<std::uint8_t>& boardNumbers) {
    BoardList boardList{};
    std::int32_t boardCount = 0;
    const std::int32_t status = Search(boardList, boardCount);
    const auto listed = std::clamp<std::int32_t>(boardCount, 0, static_cast<std::int32_t>(boardList.size()));
    boardNumbers.assign(boardList.begin(), boardList.begin() + listed);
    return status;
}

std::int32_t NewerLibraryBinding::ConnectBoard(std::uint8_t boardNumber) {
    return library_.Function<ConnectFn>("Connect")(protocol::kVendorId, protocol::kProductId, boardNumber,
                                                   &Declare::BoardHandle);
}

std::int16_t NewerLibraryBinding::DownloadFirmware() {
    return library_.Function<DownloadFirmwareFn>("Download_Firmware")(
        Declare::BoardHandle, reinterpret_cast<const char*>(USBStuff::PathBuffer.data()));
}

std::int16_t NewerLibraryBinding::Request(std::uint8_t code, std::uint16_t value, std::uint16_t index,
                                          protocol::Direction direction, std::uint16_t length,
                                          std::uint8_t* data) {
    return library_.Function<VendorRequestFn>("Vendor_Request")(
        Declare::BoardHandle, code, value, index, static_cast<std::uint8_t>(direction), length, data);
}

}  // namespace tarnel::link

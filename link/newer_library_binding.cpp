#include "link/newer_library_binding.h"

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

constexpr std::size_t kBoardListSize = TARNEL_BOARD_LIST_BYTES;

}  // namespace

NewerLibraryBinding::NewerLibraryBinding(std::string libraryPath) : library_(std::move(libraryPath)) {}

std::int16_t NewerLibraryBinding::LoadFirmware() { return OpenBoard(); }

std::int16_t NewerLibraryBinding::OpenBoard() {
    std::array<std::uint8_t, kBoardListSize> boardList{};
    std::int32_t boardCount = 0;

    // The search and connect results are not examined: the download's status
    // alone says whether the board is there and running its firmware.
    library_.Function<SearchForBoardsFn>("Search_For_Boards")(protocol::kVendorId, protocol::kProductId,
                                                               &boardCount, boardList.data());
    library_.Function<ConnectFn>("Connect")(protocol::kVendorId, protocol::kProductId, boardList[0],
                                            &Declare::BoardHandle);

    // The board start-up has just filled PathBuffer with the firmware path.
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

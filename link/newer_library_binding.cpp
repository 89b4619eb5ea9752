#include "link/newer_library_binding.h"

#include <array>
#include <utility>

#include "link/usb_stuff.h"

namespace Declare {
std::int32_t BoardHandle = 0;
}

namespace tarnel::link {

namespace {

// The newer library's C entry points.
using SearchForBoardsFn = std::int32_t(std::uint32_t vendorId, std::uint32_t productId, std::int32_t* boardCount,
                                       std::uint8_t* boardList);
using ConnectFn = std::int32_t(std::uint32_t vendorId, std::uint32_t productId, std::uint8_t boardNumber,
                               std::int32_t* handle);
using DownloadFirmwareFn = std::int16_t(std::int32_t handle, const char* path);
using VendorRequestFn = std::int16_t(std::int32_t handle, std::uint8_t request, std::uint16_t value,
                                     std::uint16_t index, std::uint8_t direction, std::uint16_t length,
                                     std::uint8_t* data);

constexpr std::size_t kBoardListSize = 128;

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

    USBStuff::FirmwarePath = USBStuff::FirmwarePathIn(USBStuff::ProgramFolder());
    USBStuff::FillPathBuffer(std::string(USBStuff::FirmwarePath));
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

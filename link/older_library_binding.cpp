#include "link/older_library_binding.h"

#include <utility>

#include <tarnel/Toveri.h>

#include "link/usb_stuff.h"

namespace tarnel::link {

namespace {

// The older library's entry points are C++ functions; these are their
// Itanium ABI names.
constexpr const char* kLoadFirmWareSymbol = "_Z12LoadFirmWarePc";
constexpr const char* kVendorIORequestSymbol = "_Z15VendorIORequestsiissPc";

// Their types, as the library's header declares them.
using LoadFirmWareFn = decltype(::LoadFirmWare);
using VendorIORequestFn = decltype(::VendorIORequest);

}  // namespace

OlderLibraryBinding::OlderLibraryBinding(std::string library) : library_(std::move(library)) {}

std::int16_t OlderLibraryBinding::LoadFirmware() {
    return library_.Function<LoadFirmWareFn>(kLoadFirmWareSymbol)(
        reinterpret_cast<char*>(USBStuff::PathBuffer.data()));
}

std::int32_t OlderLibraryBinding::SearchForBoards(std::vector<std::uint8_t>& boardNumbers) {
    boardNumbers.assign(1, 0);
    return 0;
}

std::int32_t OlderLibraryBinding::ConnectBoard(std::uint8_t boardNumber) { return boardNumber == 0 ? 0 : -1; }

std::int16_t OlderLibraryBinding::Request(std::uint8_t code, std::uint16_t value, std::uint16_t index,
                                          protocol::Direction direction, std::uint16_t length,
                                          std::uint8_t* data) {
    return library_.Function<VendorIORequestFn>(kVendorIORequestSymbol)(
        code, value, index, static_cast<std::int16_t>(direction), static_cast<std::int16_t>(length),
        reinterpret_cast<char*>(data));
}

}  // namespace tarnel::link

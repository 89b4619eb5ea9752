// Test double of the newer board-access library (C entry points, handle).
// The definitions must match the library's header, or this does not compile.
#include <tarnel/KTV_CYUSB_USB4.h>

#include <cstdint>

#include "call_recorder.h"

extern "C" {

std::int32_t Search_For_Boards(std::uint32_t vendorId, std::uint32_t productId, std::int32_t* boardCount,
                               std::uint8_t* boardList) {
    RecordCall("Search_For_Boards", {vendorId, productId});
    if (boardCount != nullptr) *boardCount = 1;
    if (boardList != nullptr) boardList[0] = SearchBoardNumber();
    return 0;
}

std::int32_t Connect(std::uint32_t vendorId, std::uint32_t productId, std::uint8_t boardNumber,
                     std::int32_t* handle) {
    RecordCall("Connect", {vendorId, productId, boardNumber});
    if (handle != nullptr) *handle = SearchHandle();
    return 0;
}

std::int16_t Download_Firmware(std::int32_t handle, const char* path) {
    RecordCall("Download_Firmware", {handle}, path);
    return LoadStatus();
}

#ifndef TARNEL_DOUBLE_WITHOUT_REQUESTS
std::int16_t Vendor_Request(std::int32_t handle, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                            std::uint8_t direction, std::uint16_t length, std::uint8_t* data) {
    RecordCall("Vendor_Request", {handle, request, value, index, direction, length});
    if (direction == 1) AnswerRead(data, length);
    return RequestStatus();
}
#endif

}  // extern "C"

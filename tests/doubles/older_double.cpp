// Test double of the older board-access library (C++ entry points, no handle).
#include <tarnel/Toveri.h>

#include <cstdint>
#include <tuple>

#include "call_recorder.h"

std::int16_t LoadFirmWare(char* path) {
    RecordCall("LoadFirmWare", {}, path);
    return LoadStatus();
}

std::int16_t VendorIORequest(std::int16_t request, std::int32_t value, std::int32_t index, std::int16_t direction,
                             std::int16_t length, char* data) {
    RecordCall("VendorIORequest", {request, value, index, direction, length});
    if (direction == 1 && length > 0) AnswerRead(reinterpret_cast<std::uint8_t*>(data), static_cast<std::uint16_t>(length));
    return RequestStatus();
}

// The header's declarations must be the only ones: a definition above with
// another signature would be a second overload, and these addresses would not
// resolve.
[[maybe_unused]] constexpr auto kHeaderSignaturesOnly = std::tuple{&LoadFirmWare, &VendorIORequest};

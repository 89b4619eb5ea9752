// Board-access library, single-board variant (libToveri.so). It keeps the
// board it loaded the firmware into; requests go to that board. Both return
// a value above 0 when done and 0 or below when they failed; a failure also
// writes one line naming the cause and the fix to stderr. The functions are
// C++ functions in the global namespace: their exported names are
// _Z12LoadFirmWarePc and _Z15VendorIORequestsiissPc.
#pragma once

#include <cstdint>

// Opens the first board, loads the Intel HEX file at path into it and keeps it.
__attribute__((visibility("default"))) std::int16_t LoadFirmWare(char* path);

// One vendor request to the kept board; value and index 0..65535, direction
// 0 (to the board) or 1 (from the board). Request 0xB0 from the board is
// answered by the library: the board's USB port path ("1-1.2"), NUL-padded.
__attribute__((visibility("default"))) std::int16_t VendorIORequest(std::int16_t request, std::int32_t value,
                                                                    std::int32_t index, std::int16_t direction,
                                                                    std::int16_t length, char* data);

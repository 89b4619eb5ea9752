// Loading a validated firmware image into the board's microcontroller: hold
// the CPU in reset, write the image into RAM, let the CPU run — and follow
// the board if the firmware re-enumerates, so `board` stays usable.
#pragma once

#include "intel_hex.h"
#include "usb_board.h"

namespace tarnel::boardaccess {

void LoadFirmware(UsbBoard& board, const FirmwareImage& image);

}  // namespace tarnel::boardaccess

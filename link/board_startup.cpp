#include "link/board_startup.h"

#include "link/board_library.h"
#include "link/usb_stuff.h"
#include "state/declare.h"

namespace tarnel::link {

bool RunBoardStartUp() {
    USBStuff::PrepareFirmwarePath();
    BoardLibrary& library = ActiveBoardLibrary();
    const std::int16_t status = library.LoadFirmware();
    Declare::LinkStatus = status;
    return library.FirmwareLoaded(status);
}

}  // namespace tarnel::link

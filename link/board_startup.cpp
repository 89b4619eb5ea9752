#include "link/board_startup.h"

#include "link/board_library.h"
#include "link/usb_stuff.h"
#include "state/declare.h"

namespace tarnel::link {

namespace {

template <typename Load>
bool LoadFirmwareWith(Load&& load) {
    USBStuff::PrepareFirmwarePath();
    BoardLibrary& library = ActiveBoardLibrary();
    const std::int16_t status = load(library);
    Declare::LinkStatus = status;
    return library.FirmwareLoaded(status);
}

}  // namespace

bool RunBoardStartUp() {
    return LoadFirmwareWith([](BoardLibrary& library) { return library.LoadFirmware(); });
}

bool LoadFirmwareIntoConnectedBoard() {
    return LoadFirmwareWith([](BoardLibrary& library) { return library.DownloadFirmware(); });
}

}  // namespace tarnel::link

// Module USBStuff: the firmware path handed to the board-access library and
// the buffer the read-back request fills.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace USBStuff {

inline constexpr std::size_t kPathBufferSize = 513;   // 512 path bytes and the terminating 0

extern std::array<std::uint8_t, kPathBufferSize> PathBuffer;
extern std::string FirmwarePath;
extern std::array<std::uint8_t, 4> ReadBuffer;

// Copies the path's bytes into PathBuffer followed by a 0 byte. Bytes after
// the terminator keep what they held. A path longer than 512 bytes fills the
// buffer to its end and then raises RunTimeError naming the path.
void FillPathBuffer(const std::string& text);

// Folder of the running executable, without a trailing "/" except for the root.
std::string ProgramFolder();

// The folder set at build time for the firmware file (TARNEL_FIRMWARE_FOLDER,
// /etc/tarnel in the packages); empty when each program uses its own folder.
std::string_view ConfiguredFirmwareFolder();

// The folder the firmware file is loaded from: TARNEL_FIRMWARE_FOLDER in the
// environment when set and not empty (board-emulator points it at its test
// firmware), else the configured folder, else the program's own folder.
std::string FirmwareFolder();

// FirmwarePath = FirmwareFolder() + "/Brisan.hex", joined as they are (the
// root folder gives "//Brisan.hex"), then PathBuffer filled from it.
// RunTimeError passes through (no folder, a path that does not fit).
void PrepareFirmwarePath();

void ResetUsbStuff();

}  // namespace USBStuff

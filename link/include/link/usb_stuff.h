// Module USBStuff: the firmware path handed to the board-access library and
// the buffer the read-back request fills.
#pragma once

#include <array>
#include <cstdint>
#include <string>

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

// FirmwarePath = the program's folder + "/Brisan.hex", joined as they are
// (the root folder gives "//Brisan.hex"), then PathBuffer filled from it. RunTimeError passes through (no folder, a path that does not fit).
void PrepareFirmwarePath();

void ResetUsbStuff();

}  // namespace USBStuff

#include "link/usb_stuff.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "state/run_time_error.h"

namespace USBStuff {

std::array<std::uint8_t, kPathBufferSize> PathBuffer{};
std::string FirmwarePath;
std::array<std::uint8_t, 4> ReadBuffer{};

void FillPathBuffer(const std::string& text) {
    // The path's bytes go across as they are: the file system's names are
    // 8-bit already, so a folder such as /home/jörg/eval arrives intact.
    const std::size_t n = text.size();
    for (std::size_t i = 0; i <= n; ++i) {
        if (i >= PathBuffer.size()) {
            throw tarnel::RunTimeError("Firmware path is longer than " + std::to_string(kPathBufferSize - 1) +
                                       " bytes: " + text);
        }
        PathBuffer[i] = i < n ? static_cast<std::uint8_t>(text[i]) : 0;
    }
}

std::string ProgramFolder() {
    std::vector<char> path(4096);
    const ssize_t length = readlink("/proc/self/exe", path.data(), path.size());
    if (length <= 0 || static_cast<std::size_t>(length) >= path.size()) {
        throw tarnel::RunTimeError(std::string("Cannot find the program's own folder: ") +
                                   (length < 0 ? std::strerror(errno) : "path too long"));
    }
    std::string executable(path.data(), static_cast<std::size_t>(length));
    const std::size_t slash = executable.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? std::string("/") : executable.substr(0, slash);
}

std::string_view ConfiguredFirmwareFolder() { return TARNEL_FIRMWARE_FOLDER; }

std::string FirmwareFolder() {
    const char* chosen = std::getenv("TARNEL_FIRMWARE_FOLDER");
    if (chosen != nullptr && *chosen != '\0') return chosen;
    if (!ConfiguredFirmwareFolder().empty()) return std::string(ConfiguredFirmwareFolder());
    return ProgramFolder();
}

void PrepareFirmwarePath() {
    FirmwarePath = FirmwareFolder();
    FirmwarePath += "/Brisan.hex";
    FillPathBuffer(FirmwarePath);
}

void ResetUsbStuff() {
    PathBuffer.fill(0);
    FirmwarePath.clear();
    ReadBuffer.fill(0);
}

}  // namespace USBStuff

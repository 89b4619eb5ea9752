#include "scpi/client/serial_port_list.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <fstream>
#include <string_view>
#include <system_error>
#include <tuple>

namespace tarnel::scpi::client {

namespace {

namespace fs = std::filesystem;

// The first line of a sysfs attribute, without trailing blanks; empty when unreadable.
std::string Attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && std::isspace(static_cast<unsigned char>(line.back()))) line.pop_back();
    return line;
}

// "ttyUSB3" for prefix "ttyUSB": the prefix and a number.
bool IsPort(std::string_view name, std::string_view prefix) {
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) return false;
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; });
}

// A ttyS port with a UART behind it: the serial core gives each port the
// type of its UART, PORT_UNKNOWN for the placeholders the 8250 driver makes.
// sysfs shows the type to everyone; TIOCGSERIAL tells it where sysfs does not.
bool HasUart(const fs::path& entry, const fs::path& node) {
    const std::string type = Attribute(entry / "type");
    if (!type.empty()) return type != std::to_string(PORT_UNKNOWN);
    const int fd = ::open(node.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    serial_struct info{};
    const bool uart = ::ioctl(fd, TIOCGSERIAL, &info) == 0 && info.type != PORT_UNKNOWN;
    ::close(fd);
    return uart;
}

// The maker and product of the USB device above the port, when there is one.
void ReadUsbStrings(const fs::path& entry, ListedInstrument& port) {
    std::error_code error;
    fs::path folder = fs::canonical(entry / "device", error);
    if (error) return;
    while (folder.has_relative_path()) {
        if (fs::exists(folder / "idVendor", error)) {
            port.manufacturer = Attribute(folder / "manufacturer");
            port.product = Attribute(folder / "product");
            return;
        }
        folder = folder.parent_path();
    }
}

// "ttyS10" after "ttyS9": by prefix, then by number (shorter numbers first).
bool PortOrder(const ListedInstrument& a, const ListedInstrument& b) {
    const auto key = [](const ListedInstrument& port) {
        const std::string& path = std::get<SerialResource>(port.resource.where).path;
        const std::size_t digits = path.find_last_not_of("0123456789") + 1;
        return std::make_tuple(path.substr(0, digits), path.size() - digits, path.substr(digits));
    };
    return key(a) < key(b);
}

}  // namespace

std::vector<ListedInstrument> ListSerialPorts(const fs::path& ttyClass, const fs::path& devices) {
    std::vector<ListedInstrument> ports;
    std::error_code error;
    for (const fs::directory_entry& entry : fs::directory_iterator(ttyClass, error)) {
        const std::string name = entry.path().filename().string();
        const bool usb = IsPort(name, "ttyUSB") || IsPort(name, "ttyACM");
        if (!usb && !IsPort(name, "ttyS")) continue;
        // Virtual terminals and the like have no device behind them.
        if (!fs::exists(entry.path() / "device", error)) continue;
        const fs::path node = devices / name;
        if (!usb && !HasUart(entry.path(), node)) continue;
        ListedInstrument port;
        port.resource = InstrumentResource{SerialResource{node.string()}};
        port.kind = "serial";
        ReadUsbStrings(entry.path(), port);
        if (!fs::exists(node, error)) {
            port.problem = "its device node " + node.string() + " is missing — check that udev runs on this host";
        } else if (::access(node.c_str(), R_OK | W_OK) != 0) {
            port.problem = "no permission to open " + node.string() +
                           " — add the user to the port's group (sudo usermod -aG dialout $USER), then log in again";
        }
        ports.push_back(std::move(port));
    }
    std::sort(ports.begin(), ports.end(), PortOrder);
    return ports;
}

}  // namespace tarnel::scpi::client

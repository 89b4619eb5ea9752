#include "usb_instrument_list.h"

#include <fstream>

#include <tarnel/usb_port_path.h>

#include "usb_devices.h"

namespace tarnel::scpi::client::usb {

namespace {

// The serial of a device that could not be read.
constexpr char kUnknownSerial[] = "?";

// A string attribute of the device in sysfs, readable by every user:
// /sys/bus/usb/devices/<bus>-<port>.<port>.../<name>.
std::string SysfsString(libusb_device* device, const char* name) {
    const std::string path = tarnel::usb::PortPathOf(device);
    if (path.empty()) return {};
    std::ifstream in("/sys/bus/usb/devices/" + path + "/" + name);
    std::string line;
    std::getline(in, line);
    return line;
}

std::string OpenProblem(int status, const std::string& node) {
    if (status == LIBUSB_ERROR_ACCESS) return "serial number unknown: no permission to open " + node + " — " + kPermissionFix;
    if (status == LIBUSB_ERROR_BUSY) {
        return "serial number unknown: " + node + " is busy — close the program that holds it and list again";
    }
    return std::string("serial number unknown: ") + node + " cannot be opened (" + libusb_error_name(status) +
           ") — unplug the instrument and plug it in again";
}

}  // namespace

std::vector<ListedInstrument> ListUsbtmcInterfaces() {
    std::string error;
    const Context context = NewContext(error);
    if (!context) return {};
    std::vector<ListedInstrument> listed;
    const DeviceList devices(context.get());
    for (libusb_device* device : devices.Devices()) {
        const std::vector<usbtmc::PipeLayout> interfaces = UsbtmcInterfaces(device);
        libusb_device_descriptor descriptor{};
        if (interfaces.empty() || libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS) continue;
        ListedInstrument entry;
        entry.kind = "usbtmc";
        UsbResource usb{0, descriptor.idVendor, descriptor.idProduct, kUnknownSerial, std::nullopt};
        libusb_device_handle* raw = nullptr;
        const int opened = libusb_open(device, &raw);
        if (opened == LIBUSB_SUCCESS) {
            const Handle handle(raw);
            entry.manufacturer = StringDescriptor(raw, descriptor.iManufacturer);
            entry.product = StringDescriptor(raw, descriptor.iProduct);
            const std::string serial = StringDescriptor(raw, descriptor.iSerialNumber);
            if (serial.empty()) {
                entry.problem = "it reports no serial number, so no resource can name it — use another connection";
            } else {
                usb.serial = serial;
            }
        } else {
            entry.manufacturer = SysfsString(device, "manufacturer");
            entry.product = SysfsString(device, "product");
            entry.problem = OpenProblem(opened, DeviceNode(device));
        }
        for (std::size_t i = 0; i < interfaces.size(); ++i) {
            usb.interfaceNumber = i == 0 ? std::nullopt : std::optional<std::uint8_t>(interfaces[i].interfaceNumber);
            entry.resource = InstrumentResource{usb};
            listed.push_back(entry);
        }
    }
    return listed;
}

}  // namespace tarnel::scpi::client::usb

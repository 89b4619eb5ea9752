#include "usb_devices.h"

#include <algorithm>
#include <cstdio>

#include "scpi/client/usbtmc_header.h"

namespace tarnel::scpi::client::usb {

Context NewContext(std::string& error) {
    libusb_context* context = nullptr;
    const int status = libusb_init(&context);
    if (status != LIBUSB_SUCCESS) {
        error = libusb_error_name(status);
        return nullptr;
    }
    return Context(context);
}

DeviceList::DeviceList(libusb_context* context) {
    const ssize_t count = libusb_get_device_list(context, &list_);
    count_ = count > 0 ? static_cast<std::size_t>(count) : 0;
}

DeviceList::~DeviceList() {
    if (list_ != nullptr) libusb_free_device_list(list_, 1);
}

std::vector<usbtmc::PipeLayout> UsbtmcInterfaces(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != LIBUSB_SUCCESS || config == nullptr) return {};
    std::vector<usbtmc::PipeLayout> found;
    for (int i = 0; i < config->bNumInterfaces; ++i) {
        const libusb_interface& interface = config->interface[i];
        for (int a = 0; a < interface.num_altsetting; ++a) {
            const libusb_interface_descriptor& setting = interface.altsetting[a];
            if (setting.bAlternateSetting != 0 || setting.bInterfaceClass != usbtmc::kInterfaceClass ||
                setting.bInterfaceSubClass != usbtmc::kInterfaceSubClass) {
                continue;
            }
            usbtmc::PipeLayout layout;
            layout.interfaceNumber = setting.bInterfaceNumber;
            layout.bulkOut = 0;
            layout.bulkIn = 0;
            layout.usb488 = setting.bInterfaceProtocol == usbtmc::kUsb488Protocol;
            for (int e = 0; e < setting.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
                const auto type = endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK;
                const bool in = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) != 0;
                if (type == LIBUSB_TRANSFER_TYPE_BULK && in && layout.bulkIn == 0) {
                    layout.bulkIn = endpoint.bEndpointAddress;
                    layout.bulkInPacketSize = endpoint.wMaxPacketSize & 0x7FF;
                } else if (type == LIBUSB_TRANSFER_TYPE_BULK && !in && layout.bulkOut == 0) {
                    layout.bulkOut = endpoint.bEndpointAddress;
                } else if (type == LIBUSB_TRANSFER_TYPE_INTERRUPT && in && !layout.interruptIn) {
                    layout.interruptIn = endpoint.bEndpointAddress;
                }
            }
            found.push_back(layout);
        }
    }
    libusb_free_config_descriptor(config);
    std::sort(found.begin(), found.end(),
              [](const auto& a, const auto& b) { return a.interfaceNumber < b.interfaceNumber; });
    return found;
}

std::string StringDescriptor(libusb_device_handle* handle, std::uint8_t index) {
    if (index == 0) return {};
    unsigned char text[256];
    const int length = libusb_get_string_descriptor_ascii(handle, index, text, sizeof text);
    if (length <= 0) return {};
    // The device's text goes into one-line messages and listings: control characters become '?'.
    std::string ascii(reinterpret_cast<const char*>(text), static_cast<std::size_t>(length));
    for (char& c : ascii) {
        if (c < ' ' || c > '~') c = '?';
    }
    return ascii;
}

std::string DeviceNode(libusb_device* device) {
    char node[40];
    std::snprintf(node, sizeof node, "/dev/bus/usb/%03u/%03u", libusb_get_bus_number(device),
                  libusb_get_device_address(device));
    return node;
}

std::string IdsText(std::uint16_t vendorId, std::uint16_t productId) {
    char ids[16];
    std::snprintf(ids, sizeof ids, "0x%04X:0x%04X", vendorId, productId);
    return ids;
}

}  // namespace tarnel::scpi::client::usb

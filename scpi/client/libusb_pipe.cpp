#include "libusb_pipe.h"

#include <algorithm>
#include <climits>
#include <vector>

#include "scpi/client/instrument_failure.h"
#include "usb_devices.h"

namespace tarnel::scpi::client::usb {

namespace {

using usbtmc::PipeResult;
using usbtmc::PipeStatus;

// Never zero: libusb waits without end for a zero timeout.
unsigned int TimeoutMs(std::chrono::milliseconds timeout) {
    return static_cast<unsigned int>(std::clamp<long long>(timeout.count(), 1, INT_MAX));
}

PipeResult Result(int status, std::size_t length) {
    switch (status) {
    case LIBUSB_SUCCESS: return {PipeStatus::Done, length, {}};
    case LIBUSB_ERROR_TIMEOUT: return {PipeStatus::TimedOut, length, {}};
    case LIBUSB_ERROR_PIPE: return {PipeStatus::Stalled, length, {}};
    case LIBUSB_ERROR_NO_DEVICE: return {PipeStatus::Gone, length, {}};
    case LIBUSB_ERROR_OVERFLOW: return {PipeStatus::Overflow, length, {}};
    default: return {PipeStatus::Failed, length, libusb_error_name(status)};
    }
}

class LibusbPipe final : public usbtmc::UsbPipe {
public:
    LibusbPipe(Context context, Handle handle) : context_(std::move(context)), handle_(std::move(handle)) {}

    ~LibusbPipe() override {
        if (claimed_) libusb_release_interface(handle_.get(), layout_.interfaceNumber);
        if (detached_) libusb_attach_kernel_driver(handle_.get(), layout_.interfaceNumber);
    }

    LibusbPipe(const LibusbPipe&) = delete;
    LibusbPipe& operator=(const LibusbPipe&) = delete;

    void Claim(const UsbResource& resource, const std::string& device);

    const usbtmc::PipeLayout& Layout() const override { return layout_; }

    PipeResult BulkOut(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) override {
        int moved = 0;
        // libusb only reads an OUT transfer's buffer.
        const int status = libusb_bulk_transfer(handle_.get(), layout_.bulkOut, const_cast<std::uint8_t*>(bytes.data()),
                                                static_cast<int>(bytes.size()), &moved, TimeoutMs(timeout));
        return Result(status, static_cast<std::size_t>(std::max(moved, 0)));
    }

    PipeResult BulkIn(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        int moved = 0;
        const int status = libusb_bulk_transfer(handle_.get(), layout_.bulkIn, buffer.data(),
                                                static_cast<int>(buffer.size()), &moved, TimeoutMs(timeout));
        return Result(status, static_cast<std::size_t>(std::max(moved, 0)));
    }

    PipeResult InterruptIn(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override {
        if (!layout_.interruptIn) return {PipeStatus::Failed, 0, "no interrupt-IN endpoint"};
        int moved = 0;
        const int status = libusb_interrupt_transfer(handle_.get(), *layout_.interruptIn, buffer.data(),
                                                     static_cast<int>(buffer.size()), &moved, TimeoutMs(timeout));
        return Result(status, static_cast<std::size_t>(std::max(moved, 0)));
    }

    PipeResult ControlIn(std::uint8_t requestType, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                         std::span<std::uint8_t> answer, std::chrono::milliseconds timeout) override {
        const int status = libusb_control_transfer(handle_.get(), requestType, request, value, index, answer.data(),
                                                   static_cast<std::uint16_t>(answer.size()), TimeoutMs(timeout));
        if (status >= 0) return {PipeStatus::Done, static_cast<std::size_t>(status), {}};
        return Result(status, 0);
    }

    PipeResult ClearHalt(std::uint8_t endpoint) override { return Result(libusb_clear_halt(handle_.get(), endpoint), 0); }

private:
    // Declared first, so that it is closed last.
    Context context_;
    Handle handle_;
    usbtmc::PipeLayout layout_;
    bool claimed_ = false;
    bool detached_ = false;
};

void LibusbPipe::Claim(const UsbResource& resource, const std::string& device) {
    const std::vector<usbtmc::PipeLayout> interfaces = UsbtmcInterfaces(libusb_get_device(handle_.get()));
    const auto chosen = std::find_if(interfaces.begin(), interfaces.end(), [&](const usbtmc::PipeLayout& layout) {
        return !resource.interfaceNumber || layout.interfaceNumber == *resource.interfaceNumber;
    });
    if (chosen == interfaces.end()) {
        const std::string which =
            resource.interfaceNumber ? "USBTMC interface " + std::to_string(*resource.interfaceNumber) : "USBTMC interface";
        throw InstrumentFailure(FailureKind::NotFound,
                                device + " has no " + which +
                                    " — check the resource's interface number; 'tarnelctl meters' lists the "
                                    "instruments with their resources");
    }
    if (chosen->bulkIn == 0 || chosen->bulkOut == 0) {
        throw InstrumentFailure(FailureKind::Unreachable,
                                device + " has a USBTMC interface " + std::to_string(chosen->interfaceNumber) +
                                    " without its bulk-IN and bulk-OUT endpoints — it cannot take messages; use "
                                    "another connection to the instrument");
    }
    layout_ = *chosen;
    const int number = layout_.interfaceNumber;
    if (libusb_kernel_driver_active(handle_.get(), number) == 1) {
        const int detached = libusb_detach_kernel_driver(handle_.get(), number);
        if (detached == LIBUSB_SUCCESS) {
            detached_ = true;
        } else if (detached == LIBUSB_ERROR_ACCESS) {
            throw InstrumentFailure(FailureKind::NoPermission,
                                    device + " is held by a kernel driver that this user may not detach — " +
                                        kPermissionFix);
        } else if (detached != LIBUSB_ERROR_NOT_FOUND) {
            throw InstrumentFailure(FailureKind::Busy, device + " is held by a kernel driver that would not let go (" +
                                                           libusb_error_name(detached) +
                                                           ") — close the programs that use the instrument, or "
                                                           "unplug it and plug it in again");
        }
    }
    const int claimed = libusb_claim_interface(handle_.get(), number);
    if (claimed == LIBUSB_ERROR_BUSY) {
        throw InstrumentFailure(FailureKind::Busy, device + " is in use by another program (its interface " +
                                                       std::to_string(number) +
                                                       " is claimed) — close the other program (a VISA session, "
                                                       "another tarnelctl) and run again");
    }
    if (claimed == LIBUSB_ERROR_ACCESS) {
        throw InstrumentFailure(FailureKind::NoPermission, device + " cannot be claimed by this user — " + kPermissionFix);
    }
    if (claimed != LIBUSB_SUCCESS) {
        throw InstrumentFailure(FailureKind::Unreachable, device + " could not be claimed (" +
                                                              libusb_error_name(claimed) +
                                                              ") — unplug it and plug it in again, then run again");
    }
    claimed_ = true;
}

}  // namespace

std::unique_ptr<usbtmc::UsbPipe> OpenLibusbPipe(const UsbResource& resource) {
    const std::string ids = IdsText(resource.vendorId, resource.productId);
    const std::string wanted = "USB instrument " + ids + " with serial " + resource.serial;
    std::string error;
    Context context = NewContext(error);
    if (!context) {
        throw InstrumentFailure(FailureKind::Unreachable, "USB cannot be used on this host (libusb: " + error +
                                                              ") — check that /dev/bus/usb is there, then run again");
    }
    Handle found;
    std::string deniedNode;
    std::vector<std::string> otherSerials;
    {
        const DeviceList devices(context.get());
        for (libusb_device* device : devices.Devices()) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(device, &descriptor) != LIBUSB_SUCCESS ||
                descriptor.idVendor != resource.vendorId || descriptor.idProduct != resource.productId) {
                continue;
            }
            libusb_device_handle* raw = nullptr;
            const int opened = libusb_open(device, &raw);
            if (opened == LIBUSB_ERROR_ACCESS) {
                deniedNode = DeviceNode(device);
                continue;
            }
            if (opened != LIBUSB_SUCCESS) {
                otherSerials.push_back("one at " + DeviceNode(device) + " that cannot be opened (" +
                                       libusb_error_name(opened) + ")");
                continue;
            }
            Handle handle(raw);
            const std::string serial = StringDescriptor(raw, descriptor.iSerialNumber);
            if (serial == resource.serial) {
                found = std::move(handle);
                break;
            }
            otherSerials.push_back(serial.empty() ? "one without a serial number" : "serial " + serial);
        }
    }
    if (!found) {
        if (!deniedNode.empty()) {
            throw InstrumentFailure(FailureKind::NoPermission, "no permission to open " + deniedNode + " (" + ids +
                                                                   ") to read its serial number — " + kPermissionFix);
        }
        std::string seen;
        for (const std::string& other : otherSerials) seen += (seen.empty() ? "" : ", ") + other;
        throw InstrumentFailure(FailureKind::NotFound,
                                "no " + wanted + " is connected" +
                                    (seen.empty() ? "" : " (" + ids + " has " + seen + ")") +
                                    " — check its cable and the resource's ids and serial; 'tarnelctl meters' "
                                    "lists the instruments");
    }
    auto pipe = std::make_unique<LibusbPipe>(std::move(context), std::move(found));
    pipe->Claim(resource, "the " + wanted);
    return pipe;
}

}  // namespace tarnel::scpi::client::usb

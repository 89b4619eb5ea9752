#include "usbtmc_meter_device.h"

#include <umockdev.h>

#include <cstdio>
#include <optional>

#include "meter_line_worker.h"
#include "process_testbed.h"
#include "usb_descriptors.h"
#include "usbfs_device.h"
#include "usbtmc_descriptors.h"
#include "usbtmc_function.h"

namespace tarnel::emulator {

namespace {

// Boards take hub ports 1 to 16; the meter sits on the port after them.
constexpr unsigned kMeterHubPort = 17;

}  // namespace

struct UsbtmcMeterDevice::Impl {
    Impl(EmulatedMeter& meter, const UsbMeterOptions& options)
        : sharedMeter(meter.Shared()),
          bed(ProcessTestbed::Get()),
          identity{options.vendorId, options.productId, options.serial},
          client(meter.NewClient()),
          function(identity, MeterLineWorker::StatusOf(*client),
                   [this](UsbtmcFunction::Job job) { worker->Post(std::move(job)); }) {
        address.port = kMeterHubPort;
        address.device = bed.NextDeviceNumber();
        worker.emplace(std::move(client), function, [this] { device->ServeInEndpoints(); });
        // The handler listens and the node exists before the device is in
        // sysfs, so that a client that finds the device can open it at once.
        device = std::make_unique<UsbfsDevice>(
            bed.Testbed(), address.DeviceNode(), address.device,
            DeviceLayout{MeterDescriptors(identity), kMeterInterface, &function},
            [this](const SetupPacket& setup, std::span<const std::uint8_t>) {
                return TransferAnswer{function.Control(setup), false};
            },
            [](bool) {});
        device->CreateNode(bed.RootDir() + address.DeviceNode());
        bed.AddDevice(MeterDeviceRecord(address, identity), address.SysfsPath(), "USB meter");
    }

    ~Impl() {
        // A line waiting for readings ends only when the meter stops; the
        // meter goes right after this device.
        sharedMeter.Stop();
        worker.reset();
        device->Disconnect();
        umockdev_testbed_uevent(bed.Testbed(), address.SysfsPath().c_str(), "remove");
        umockdev_testbed_remove_device(bed.Testbed(), address.SysfsPath().c_str());
    }

    SharedMeter& sharedMeter;
    ProcessTestbed& bed;
    MeterIdentity identity;
    BusAddress address;
    std::unique_ptr<MeterClient> client;   // handed to the worker
    UsbtmcFunction function;
    std::unique_ptr<UsbfsDevice> device;
    std::optional<MeterLineWorker> worker;
};

UsbtmcMeterDevice::UsbtmcMeterDevice(EmulatedMeter& meter, UsbMeterOptions options)
    : impl_(std::make_unique<Impl>(meter, options)) {}

UsbtmcMeterDevice::~UsbtmcMeterDevice() = default;

std::string UsbtmcMeterDevice::Resource() const {
    char ids[32];
    std::snprintf(ids, sizeof ids, "USB0::0x%04X::0x%04X::", impl_->identity.vendorId, impl_->identity.productId);
    return ids + impl_->identity.serial + "::INSTR";
}

}  // namespace tarnel::emulator

#include "usbtmc_meter_device.h"

#include <umockdev.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <optional>

#include "deferred_calls.h"
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
          unplugAfter(options.unplugAfter),
          function(identity, MeterLineWorker::StatusOf(*client),
                   [this](UsbtmcFunction::Job job) { Post(std::move(job)); }) {
        if (unplugAfter) deferred.emplace();
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
        deferred.reset();   // no unplug while the device goes
        // A line waiting for readings ends only when the meter stops; the
        // meter goes right after this device.
        sharedMeter.Stop();
        worker.reset();
        Unplug();
    }

    // Runs on umockdev's worker thread: hands the message to the meter, or,
    // past --meter-unplug-after, drops it and takes the meter off the bus
    // from a thread of its own (the handler must not wait for itself).
    void Post(UsbtmcFunction::Job job) {
        if (unplugAfter && ++messages > *unplugAfter) {
            if (!unplugDue.exchange(true)) deferred->After(std::chrono::milliseconds(0), [this] { Unplug(); });
            return;
        }
        worker->Post(std::move(job));
    }

    void Unplug() {
        if (unplugged.exchange(true)) return;
        device->Disconnect();
        umockdev_testbed_uevent(bed.Testbed(), address.SysfsPath().c_str(), "remove");
        umockdev_testbed_remove_device(bed.Testbed(), address.SysfsPath().c_str());
    }

    SharedMeter& sharedMeter;
    ProcessTestbed& bed;
    MeterIdentity identity;
    BusAddress address;
    std::unique_ptr<MeterClient> client;   // handed to the worker
    const std::optional<unsigned> unplugAfter;
    unsigned messages = 0;                 // on umockdev's worker thread only
    std::atomic<bool> unplugDue = false;
    std::atomic<bool> unplugged = false;
    UsbtmcFunction function;
    std::unique_ptr<UsbfsDevice> device;
    std::optional<MeterLineWorker> worker;
    std::optional<DeferredCalls> deferred;   // the unplug, with --meter-unplug-after
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

#include <tarnel/emulated_board.h>

#include <umockdev.h>

#include <mutex>
#include <stdexcept>

#include "board_model.h"
#include "usb_descriptors.h"
#include "usbfs_device.h"

namespace tarnel::emulator {

namespace {

constexpr unsigned kFirstDeviceNumber = 2;   // 1 is the root hub
constexpr unsigned kLastDeviceNumber = 127;

}  // namespace

struct EmulatedBoard::Impl {
    explicit Impl(const Options& options) : model(options) {
        testbed = umockdev_testbed_new();
        // The check looks at /sys through the preload, so it needs the test
        // bed (and its UMOCKDEV_DIR) in place.
        if (!umockdev_in_mock_environment()) {
            g_object_unref(testbed);
            throw std::runtime_error(
                "the emulated board needs the umockdev preload from process start — run the program under "
                "umockdev-wrapper or board-emulator");
        }
        gchar* root = umockdev_testbed_get_root_dir(testbed);
        rootDir = root;
        g_free(root);
    }

    ~Impl() {
        std::vector<std::unique_ptr<UsbfsDevice>> retired;
        {
            std::lock_guard lock(plugMutex);
            isPlugged = false;
            retired.swap(devices);
        }
        // Detach every handler (outside the lock: the worker may be waiting
        // for it) before the test bed and its worker thread go.
        retired.clear();
        g_object_unref(testbed);
    }

    void Plug() {
        std::lock_guard lock(plugMutex);
        if (isPlugged) return;
        if (!devices.empty()) model.PowerCycle();   // a replugged board starts without firmware
        address.device = nextDeviceNumber;
        nextDeviceNumber = nextDeviceNumber >= kLastDeviceNumber ? kFirstDeviceNumber : nextDeviceNumber + 1;

        // After the device numbers wrap, an old plug-in's handler gives way.
        std::erase_if(devices, [&](const auto& old) { return old->DeviceNode() == address.DeviceNode(); });
        // The handler must listen before the node exists, so that a client
        // reacting to the "add" event can open it at once.
        auto device = std::make_unique<UsbfsDevice>(
            testbed, address.DeviceNode(),
            [this](const SetupPacket& setup, std::span<const std::uint8_t> out) {
                return model.HandleControl(setup, out);
            },
            [this] { UnplugIfDue(); });
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, BoardDeviceRecord(address).c_str(), &error)) {
            const std::string message = error != nullptr ? error->message : "unknown error";
            g_clear_error(&error);
            throw std::runtime_error("emulated board: cannot add the USB device to the test bed: " + message);
        }
        device->TakeOverNode(rootDir + address.DeviceNode());
        devices.push_back(std::move(device));
        isPlugged = true;
        umockdev_testbed_uevent(testbed, address.SysfsPath().c_str(), "add");
    }

    void Unplug() {
        std::lock_guard lock(plugMutex);
        if (!isPlugged) return;
        isPlugged = false;
        devices.back()->Disconnect();
        // Announce first: libusb learns of the removal from the event.
        umockdev_testbed_uevent(testbed, address.SysfsPath().c_str(), "remove");
        umockdev_testbed_remove_device(testbed, address.SysfsPath().c_str());
    }

    // Runs on the worker thread after each control request.
    void UnplugIfDue() {
        if (model.UnplugDue()) Unplug();
    }

    BoardModel model;
    UMockdevTestbed* testbed = nullptr;
    std::string rootDir;
    mutable std::mutex plugMutex;
    std::vector<std::unique_ptr<UsbfsDevice>> devices;   // every plug-in so far; old ones answer ENODEV
    BusAddress address;
    unsigned nextDeviceNumber = kFirstDeviceNumber;
    bool isPlugged = false;
};

EmulatedBoard::EmulatedBoard(Options options) : impl_(std::make_unique<Impl>(options)) {
    const bool vanishesAtOnce = options.unplugAfter && *options.unplugAfter == 0;
    if (!options.noBoard && !vanishesAtOnce) Plug();
}

EmulatedBoard::~EmulatedBoard() = default;

void EmulatedBoard::Plug() { impl_->Plug(); }
void EmulatedBoard::Unplug() { impl_->Unplug(); }

bool EmulatedBoard::Plugged() const {
    std::lock_guard lock(impl_->plugMutex);
    return impl_->isPlugged;
}

bool EmulatedBoard::FirmwareRunning() const { return impl_->model.FirmwareRunning(); }
std::uint32_t EmulatedBoard::DacInputWord() const { return impl_->model.DacInputWord(); }
double EmulatedBoard::OutputVolts() const { return impl_->model.OutputVolts(); }
std::uint16_t EmulatedBoard::ConverterCode() const { return impl_->model.ConverterCode(); }

std::vector<std::uint8_t> EmulatedBoard::Ram(std::uint16_t address, std::size_t length) const {
    return impl_->model.Ram(address, length);
}

std::vector<RequestRecord> EmulatedBoard::Requests() const { return impl_->model.Requests(); }
void EmulatedBoard::ClearRequests() { impl_->model.ClearRequests(); }

std::string EmulatedBoard::DeviceNode() const {
    std::lock_guard lock(impl_->plugMutex);
    return impl_->address.DeviceNode();
}

}  // namespace tarnel::emulator

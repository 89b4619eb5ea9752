#include <tarnel/emulated_board.h>

#include <umockdev.h>

#include <atomic>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "board_model.h"
#include "deferred_calls.h"
#include "usb_descriptors.h"
#include "usbfs_device.h"

namespace tarnel::emulator {

namespace {

constexpr unsigned kFirstDeviceNumber = 2;   // 1 is the root hub
constexpr unsigned kLastDeviceNumber = 127;

// The process's one test bed and its bus. A USB context that outlives a
// board keeps listening for the test bed's events, so every board of the
// process goes into the same test bed; it is removed when the process ends.
class ProcessTestbed {
public:
    static ProcessTestbed& Get() {
        static std::mutex creation;
        static std::unique_ptr<ProcessTestbed> instance;
        std::lock_guard lock(creation);
        if (!instance) instance.reset(new ProcessTestbed());
        return *instance;
    }
    ~ProcessTestbed() { g_object_unref(testbed_); }
    ProcessTestbed(const ProcessTestbed&) = delete;
    ProcessTestbed& operator=(const ProcessTestbed&) = delete;

    UMockdevTestbed* Testbed() const { return testbed_; }
    const std::string& RootDir() const { return rootDir_; }

    // Each plug-in gets a new device number, as on a real bus.
    unsigned NextDeviceNumber() {
        std::lock_guard lock(mutex_);
        const unsigned number = nextDeviceNumber_;
        nextDeviceNumber_ = number >= kLastDeviceNumber ? kFirstDeviceNumber : number + 1;
        return number;
    }

private:
    ProcessTestbed() : testbed_(umockdev_testbed_new()) {
        // The check looks at /sys through the preload, so it needs the test
        // bed (and its UMOCKDEV_DIR) in place.
        if (!umockdev_in_mock_environment()) {
            g_object_unref(testbed_);
            throw std::runtime_error(
                "the emulated board needs the umockdev preload from process start — run the program under "
                "umockdev-wrapper or board-emulator");
        }
        gchar* root = umockdev_testbed_get_root_dir(testbed_);
        rootDir_ = root;
        g_free(root);
    }

    UMockdevTestbed* testbed_;
    std::string rootDir_;
    std::mutex mutex_;
    unsigned nextDeviceNumber_ = kFirstDeviceNumber;
};

}  // namespace

struct EmulatedBoard::Impl {
    explicit Impl(const Options& options)
        : bed(ProcessTestbed::Get()), renumeration(options.renumeration), model(options) {}

    ~Impl() {
        deferred.reset();   // no replug once the board is going away
        Unplug();
        std::vector<std::unique_ptr<UsbfsDevice>> retired;
        {
            std::lock_guard lock(plugMutex);
            retired.swap(devices);
        }
        // Detach every handler outside the lock: the worker may be waiting for it.
        retired.clear();
    }

    // A replugged board starts from power-up; one that re-enumerated keeps
    // its firmware running.
    void Plug(bool fromPowerUp = true) {
        std::lock_guard lock(plugMutex);
        if (isPlugged) return;
        if (!devices.empty() && fromPowerUp) model.PowerCycle();
        address.device = bed.NextDeviceNumber();

        // After the device numbers wrap, an old plug-in's handler gives way.
        std::erase_if(devices, [&](const auto& old) { return old->DeviceNode() == address.DeviceNode(); });
        // The handler must listen before the node exists, so that a client
        // reacting to the "add" event can open it at once.
        auto device = std::make_unique<UsbfsDevice>(
            bed.Testbed(), address.DeviceNode(), address.device,
            [this](const SetupPacket& setup, std::span<const std::uint8_t> out) { return Answer(setup, out); },
            [this] { AfterRequest(); });
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(bed.Testbed(), BoardDeviceRecord(address).c_str(), &error)) {
            const std::string message = error != nullptr ? error->message : "unknown error";
            g_clear_error(&error);
            throw std::runtime_error("emulated board: cannot add the USB device to the test bed: " + message);
        }
        device->TakeOverNode(bed.RootDir() + address.DeviceNode());
        devices.push_back(std::move(device));
        isPlugged = true;
        umockdev_testbed_uevent(bed.Testbed(), address.SysfsPath().c_str(), "add");
    }

    void Unplug() {
        std::lock_guard lock(plugMutex);
        if (!isPlugged) return;
        isPlugged = false;
        devices.back()->Disconnect();
        // Announce first: libusb learns of the removal from the event.
        umockdev_testbed_uevent(bed.Testbed(), address.SysfsPath().c_str(), "remove");
        umockdev_testbed_remove_device(bed.Testbed(), address.SysfsPath().c_str());
    }

    // Runs on the worker thread for each control transfer.
    TransferAnswer Answer(const SetupPacket& setup, std::span<const std::uint8_t> out) {
        const bool wasRunning = model.FirmwareRunning();
        TransferAnswer answer{model.HandleControl(setup, out), false};
        if (renumeration != Renumeration::None && !wasRunning && model.FirmwareRunning()) {
            answer.leavesBus = true;
            leavingBus = true;
        }
        return answer;
    }

    // Runs on the worker thread once the client has its answer.
    void AfterRequest() {
        if (leavingBus.exchange(false)) {
            Unplug();
            if (renumeration == Renumeration::ComesBack && deferred) {
                deferred->After(kRenumerationDelay, [this] { Plug(false); });
            }
        } else if (model.UnplugDue()) {
            Unplug();
        }
    }

    ProcessTestbed& bed;
    const Renumeration renumeration;
    BoardModel model;
    std::atomic<bool> leavingBus = false;
    mutable std::mutex plugMutex;
    std::vector<std::unique_ptr<UsbfsDevice>> devices;   // every plug-in so far; old ones answer ENODEV
    BusAddress address;
    bool isPlugged = false;
    std::optional<DeferredCalls> deferred{std::in_place};
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

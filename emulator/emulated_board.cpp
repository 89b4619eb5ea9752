#include <tarnel/emulated_board.h>

#include <umockdev.h>

#include <algorithm>
#include <iterator>
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
    // One board on its hub port: its model and every plug-in of it so far
    // (old ones answer ENODEV).
    struct Board {
        Board(const Options& options, unsigned port) : model(options) { address.port = port; }
        BoardModel model;
        std::vector<std::unique_ptr<UsbfsDevice>> devices;
        BusAddress address;
        bool isPlugged = false;
    };

    explicit Impl(const Options& options) : bed(ProcessTestbed::Get()), renumeration(options.renumeration) {
        if (renumeration == Renumeration::ComesBack) deferred.emplace();
        for (unsigned port = 1; port <= std::max(options.boards, 1u); ++port) {
            boards.push_back(std::make_unique<Board>(options, port));
        }
    }

    ~Impl() {
        deferred.reset();   // no replug once the boards are going away
        for (auto& board : boards) Unplug(*board);
        std::vector<std::unique_ptr<UsbfsDevice>> retired;
        {
            std::lock_guard lock(plugMutex);
            for (auto& board : boards) {
                std::move(board->devices.begin(), board->devices.end(), std::back_inserter(retired));
                board->devices.clear();
            }
        }
        // Detach every handler outside the lock: the worker may be waiting for it.
        retired.clear();
    }

    // A replugged board starts from power-up; one that re-enumerated keeps
    // its firmware running.
    void Plug(Board& board, bool fromPowerUp = true) {
        std::lock_guard lock(plugMutex);
        if (board.isPlugged) return;
        if (!board.devices.empty() && fromPowerUp) board.model.PowerCycle();
        BusAddress& address = board.address;
        address.device = bed.NextDeviceNumber();

        // After the device numbers wrap, an old plug-in's handler gives way.
        for (auto& other : boards) {
            std::erase_if(other->devices, [&](const auto& old) { return old->DeviceNode() == address.DeviceNode(); });
        }
        // The handler listens and the node exists before the device is in
        // sysfs, so that a client that finds the device can open it at once.
        auto device = std::make_unique<UsbfsDevice>(
            bed.Testbed(), address.DeviceNode(), address.device,
            [this, &board](const SetupPacket& setup, std::span<const std::uint8_t> out) {
                return Answer(board, setup, out);
            },
            [this, &board](bool leftBus) { AfterRequest(board, leftBus); });
        device->CreateNode(bed.RootDir() + address.DeviceNode());
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(bed.Testbed(), BoardDeviceRecord(address).c_str(), &error)) {
            const std::string message = error != nullptr ? error->message : "unknown error";
            g_clear_error(&error);
            throw std::runtime_error("emulated board: cannot add the USB device to the test bed: " + message);
        }
        board.devices.push_back(std::move(device));
        board.isPlugged = true;
        umockdev_testbed_uevent(bed.Testbed(), address.SysfsPath().c_str(), "add");
    }

    void Unplug(Board& board) {
        std::lock_guard lock(plugMutex);
        if (!board.isPlugged) return;
        board.isPlugged = false;
        board.devices.back()->Disconnect();
        // Announce first: libusb learns of the removal from the event.
        umockdev_testbed_uevent(bed.Testbed(), board.address.SysfsPath().c_str(), "remove");
        umockdev_testbed_remove_device(bed.Testbed(), board.address.SysfsPath().c_str());
    }

    // Runs on the worker thread for each control transfer. Firmware that
    // re-enumerates leaves the bus as the answer that starts it goes out.
    TransferAnswer Answer(Board& board, const SetupPacket& setup, std::span<const std::uint8_t> out) {
        if (renumeration == Renumeration::None) return {board.model.HandleControl(setup, out), false};
        const bool wasRunning = board.model.FirmwareRunning();
        TransferAnswer answer{board.model.HandleControl(setup, out), false};
        answer.leavesBus = !wasRunning && board.model.FirmwareRunning();
        return answer;
    }

    // Runs on the worker thread once the client has its answer.
    void AfterRequest(Board& board, bool leftBus) {
        if (leftBus) {
            Unplug(board);
            // Only a board that comes back has the timer.
            if (deferred) deferred->After(kRenumerationDelay, [this, &board] { Plug(board, false); });
        } else if (board.model.UnplugDue()) {
            Unplug(board);
        }
    }

    Board& First() { return *boards.front(); }

    ProcessTestbed& bed;
    const Renumeration renumeration;
    std::vector<std::unique_ptr<Board>> boards;   // board 0 first
    mutable std::mutex plugMutex;
    std::optional<DeferredCalls> deferred;   // the return of a board that re-enumerates
};

EmulatedBoard::EmulatedBoard(Options options) : impl_(std::make_unique<Impl>(options)) {
    const bool vanishesAtOnce = options.unplugAfter && *options.unplugAfter == 0;
    if (options.noBoard || vanishesAtOnce) return;
    for (auto& board : impl_->boards) impl_->Plug(*board);
}

EmulatedBoard::~EmulatedBoard() = default;

void EmulatedBoard::Plug() { impl_->Plug(impl_->First()); }
void EmulatedBoard::Unplug() { impl_->Unplug(impl_->First()); }

bool EmulatedBoard::Plugged() const {
    std::lock_guard lock(impl_->plugMutex);
    return impl_->First().isPlugged;
}

bool EmulatedBoard::FirmwareRunning() const { return impl_->First().model.FirmwareRunning(); }
std::uint32_t EmulatedBoard::DacInputWord() const { return impl_->First().model.DacInputWord(); }
double EmulatedBoard::OutputVolts() const { return impl_->First().model.OutputVolts(); }
double EmulatedBoard::SampleOutputVolts() { return impl_->First().model.SampleOutputVolts(); }
std::uint16_t EmulatedBoard::ConverterCode() const { return impl_->First().model.ConverterCode(); }

std::vector<std::uint8_t> EmulatedBoard::Ram(std::uint16_t address, std::size_t length) const {
    return impl_->First().model.Ram(address, length);
}

std::vector<RequestRecord> EmulatedBoard::Requests() const { return impl_->First().model.Requests(); }
void EmulatedBoard::ClearRequests() { impl_->First().model.ClearRequests(); }

std::string EmulatedBoard::DeviceNode() const {
    std::lock_guard lock(impl_->plugMutex);
    return impl_->First().address.DeviceNode();
}

}  // namespace tarnel::emulator

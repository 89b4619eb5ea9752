#include <tarnel/emulated_board.h>

#include <umockdev.h>

#include <algorithm>
#include <iterator>
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
    // One board on its hub port: its model and every plug-in of it so far
    // (old ones answer ENODEV).
    struct Board {
        Board(const Options& options, unsigned port) : model(options) { address.port = port; }
        BoardModel model;
        std::vector<std::unique_ptr<UsbfsDevice>> devices;
        BusAddress address;
        bool isPlugged = false;
    };

    explicit Impl(const Options& options) {
        for (unsigned port = 1; port <= std::max(options.boards, 1u); ++port) {
            boards.push_back(std::make_unique<Board>(options, port));
        }
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
            for (auto& board : boards) {
                board->isPlugged = false;
                std::move(board->devices.begin(), board->devices.end(), std::back_inserter(retired));
                board->devices.clear();
            }
        }
        // Detach every handler (outside the lock: the worker may be waiting
        // for it) before the test bed and its worker thread go.
        retired.clear();
        g_object_unref(testbed);
    }

    void Plug(Board& board) {
        std::lock_guard lock(plugMutex);
        if (board.isPlugged) return;
        if (!board.devices.empty()) board.model.PowerCycle();   // a replugged board starts without firmware
        BusAddress& address = board.address;
        address.device = nextDeviceNumber;
        nextDeviceNumber = nextDeviceNumber >= kLastDeviceNumber ? kFirstDeviceNumber : nextDeviceNumber + 1;

        // After the device numbers wrap, an old plug-in's handler gives way.
        for (auto& other : boards) {
            std::erase_if(other->devices, [&](const auto& old) { return old->DeviceNode() == address.DeviceNode(); });
        }
        // The handler must listen before the node exists, so that a client
        // reacting to the "add" event can open it at once.
        auto device = std::make_unique<UsbfsDevice>(
            testbed, address.DeviceNode(),
            [&board](const SetupPacket& setup, std::span<const std::uint8_t> out) {
                return board.model.HandleControl(setup, out);
            },
            [this, &board] { UnplugIfDue(board); });
        GError* error = nullptr;
        if (!umockdev_testbed_add_from_string(testbed, BoardDeviceRecord(address).c_str(), &error)) {
            const std::string message = error != nullptr ? error->message : "unknown error";
            g_clear_error(&error);
            throw std::runtime_error("emulated board: cannot add the USB device to the test bed: " + message);
        }
        device->TakeOverNode(rootDir + address.DeviceNode());
        board.devices.push_back(std::move(device));
        board.isPlugged = true;
        umockdev_testbed_uevent(testbed, address.SysfsPath().c_str(), "add");
    }

    void Unplug(Board& board) {
        std::lock_guard lock(plugMutex);
        if (!board.isPlugged) return;
        board.isPlugged = false;
        board.devices.back()->Disconnect();
        // Announce first: libusb learns of the removal from the event.
        umockdev_testbed_uevent(testbed, board.address.SysfsPath().c_str(), "remove");
        umockdev_testbed_remove_device(testbed, board.address.SysfsPath().c_str());
    }

    // Runs on the worker thread after each control request.
    void UnplugIfDue(Board& board) {
        if (board.model.UnplugDue()) Unplug(board);
    }

    Board& First() { return *boards.front(); }

    std::vector<std::unique_ptr<Board>> boards;   // board 0 first
    UMockdevTestbed* testbed = nullptr;
    std::string rootDir;
    mutable std::mutex plugMutex;
    unsigned nextDeviceNumber = kFirstDeviceNumber;
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

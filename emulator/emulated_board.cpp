#include <tarnel/emulated_board.h>

#include <umockdev.h>

#include <algorithm>
#include <iterator>
#include <mutex>
#include <optional>
#include <stdexcept>

#include "board_model.h"
#include "deferred_calls.h"
#include "process_testbed.h"
#include "usb_descriptors.h"
#include "usbfs_device.h"

namespace tarnel::emulator {

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
        if (renumeration == Renumeration::ComesBack || options.replugEvery) deferred.emplace();
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
        std::vector<std::unique_ptr<UsbfsDevice>> retired;   // detached once the lock is released
        std::lock_guard lock(plugMutex);
        if (board.isPlugged) return;
        if (!board.devices.empty() && fromPowerUp) board.model.PowerCycle();
        BusAddress& address = board.address;
        address.device = bed.NextDeviceNumber();

        // Old plug-ins that no client holds any more give way, so that a board
        // replugged again and again keeps a few handlers, not one per plug-in;
        // so does one whose device number comes round again.
        for (auto& other : boards) {
            auto& devices = other->devices;
            const auto gone = std::stable_partition(devices.begin(), devices.end(), [&](const auto& old) {
                const bool retire = old->DeviceNode() == address.DeviceNode() || old->IdleSinceLastAsked();
                return !retire;
            });
            std::move(gone, devices.end(), std::back_inserter(retired));
            devices.erase(gone, devices.end());
        }
        // The handler listens and the node exists before the device is in
        // sysfs, so that a client that finds the device can open it at once.
        auto device = std::make_unique<UsbfsDevice>(
            bed.Testbed(), address.DeviceNode(), address.device,
            DeviceLayout{BoardDescriptors(), protocol::kInterfaceNumber, nullptr},
            [this, &board](const SetupPacket& setup, std::span<const std::uint8_t> out) {
                return Answer(board, setup, out);
            },
            [this, &board](bool leftBus) { AfterRequest(board, leftBus); });
        device->CreateNode(bed.RootDir() + address.DeviceNode());
        bed.AddDevice(BoardDeviceRecord(address), address.SysfsPath(), "emulated board");
        board.devices.push_back(std::move(device));
        board.isPlugged = true;
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
        } else if (board.model.ReplugDue()) {
            Unplug(board);
            deferred->After(kReplugDelay, [this, &board] { Plug(board); });
        }
    }

    Board& First() { return *boards.front(); }

    ProcessTestbed& bed;
    const Renumeration renumeration;
    std::vector<std::unique_ptr<Board>> boards;   // board 0 first
    mutable std::mutex plugMutex;
    std::optional<DeferredCalls> deferred;   // the return of a board that re-enumerates or is replugged
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
double EmulatedBoard::MeasureOutputVolts(BenchClock::TimePoint begin, BenchClock::TimePoint end) {
    return impl_->First().model.MeasureOutputVolts(begin, end);
}
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

#include "usb_board.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <libusb.h>

#include "board_error.h"
#include "hex_text.h"
#include "port_path.h"
#include "tarnel/usb_port_path.h"

namespace tarnel::boardaccess {
namespace {

constexpr std::string_view kCableFix = "check the USB cable";
constexpr std::string_view kDisconnected = "board disconnected — reconnect it and restart the program";

std::string IdText(BoardId id) { return HexText(id.vendor, 4) + ":" + HexText(id.product, 4); }

std::string UsbErrorText(int error) { return libusb_strerror(static_cast<libusb_error>(error)); }

// The system's device list, released (with one reference per device) when
// it goes out of scope.
class DeviceList {
public:
    explicit DeviceList(libusb_context* context) {
        const ssize_t count = libusb_get_device_list(context, &devices_);
        if (count < 0) {
            throw BoardError(FailureKind::NoBoard, "cannot list USB devices: " + UsbErrorText(static_cast<int>(count)) +
                                                       " — check that /dev/bus/usb is reachable");
        }
        count_ = static_cast<std::size_t>(count);
    }
    ~DeviceList() { libusb_free_device_list(devices_, 1); }
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    // The boards with that id, in list order, perhaps none.
    std::vector<libusb_device*> Matching(BoardId id) const {
        std::vector<libusb_device*> boards;
        for (std::size_t i = 0; i < count_; ++i) {
            libusb_device_descriptor descriptor{};
            if (libusb_get_device_descriptor(devices_[i], &descriptor) == LIBUSB_SUCCESS &&
                descriptor.idVendor == id.vendor && descriptor.idProduct == id.product) {
                boards.push_back(devices_[i]);
            }
        }
        return boards;
    }

    // The boards with that id, in list order; throws when there is none.
    std::vector<libusb_device*> Boards(BoardId id) const {
        std::vector<libusb_device*> boards = Matching(id);
        if (boards.empty()) {
            throw BoardError(FailureKind::NoBoard, "no board " + IdText(id) + " found — " + std::string(kCableFix));
        }
        return boards;
    }

private:
    libusb_device** devices_ = nullptr;
    std::size_t count_ = 0;
};

[[noreturn]] void FailToOpen(int error) {
    switch (error) {
        case LIBUSB_ERROR_ACCESS:
            throw BoardError(FailureKind::AccessDenied,
                             "permission denied opening the board — install packaging/60-tarnel-board.rules");
        case LIBUSB_ERROR_NO_DEVICE:
            throw BoardError(FailureKind::Disconnected, std::string(kDisconnected));
        case LIBUSB_ERROR_BUSY:
            throw BoardError(FailureKind::AccessDenied,
                             "the board is in use by another program — close that program and try again");
        default:
            throw BoardError(FailureKind::NoBoard,
                             "cannot open the board: " + UsbErrorText(error) + " — " + std::string(kCableFix));
    }
}

void DetachKernelDriver(libusb_device_handle* handle) {
    const int active = libusb_kernel_driver_active(handle, protocol::kInterfaceNumber);
    if (active == 1) {
        const int detached = libusb_detach_kernel_driver(handle, protocol::kInterfaceNumber);
        if (detached != LIBUSB_SUCCESS && detached != LIBUSB_ERROR_NOT_FOUND) {
            throw BoardError(FailureKind::AccessDenied,
                             "cannot detach the system's driver from the board: " + UsbErrorText(detached) +
                                 " — unload the kernel driver bound to the board");
        }
    } else if (active < 0 && active != LIBUSB_ERROR_NOT_SUPPORTED) {
        FailToOpen(active);
    }
}

[[noreturn]] void FailRequest(std::uint8_t request, int error) {
    const std::string what = "request " + HexText(request, 2) + " failed: ";
    switch (error) {
        case LIBUSB_ERROR_NO_DEVICE:
            throw BoardError(FailureKind::Disconnected, std::string(kDisconnected));
        case LIBUSB_ERROR_TIMEOUT:
            throw BoardError(FailureKind::Timeout, what + "timeout — " + std::string(kCableFix));
        case LIBUSB_ERROR_PIPE:
            throw BoardError(FailureKind::RequestFailed,
                             what + "the board refused it (stall) — check that the firmware is loaded"
                                    " and the board is the evaluation board");
        default:
            throw BoardError(FailureKind::RequestFailed, what + UsbErrorText(error) + " — " + std::string(kCableFix));
    }
}

// The library's libusb context, created at its first use and kept until the
// process ends; open boards hold it too, so it outlives every one of them.
// A failed start is not kept: the next call tries again.
std::shared_ptr<libusb_context> SharedContext() {
    static std::mutex mutex;
    static std::shared_ptr<libusb_context> context;
    const std::lock_guard lock(mutex);
    if (!context) {
        libusb_context* started = nullptr;
        const int result = libusb_init(&started);
        if (result != LIBUSB_SUCCESS) {
            throw BoardError(FailureKind::NoBoard, "cannot start USB access: " + UsbErrorText(result) +
                                                       " — check that /dev/bus/usb is reachable");
        }
        context.reset(started, libusb_exit);
    }
    return context;
}

}  // namespace

void UsbBoard::HandleCloser::operator()(libusb_device_handle* handle) const {
    // Closing the device file gives the claimed interface back; an explicit
    // release would be one more request to a board that may be long gone.
    libusb_close(handle);
}

UsbBoard::Handle UsbBoard::OpenAndClaim(libusb_device* device) {
    libusb_device_handle* opened = nullptr;
    const int result = libusb_open(device, &opened);
    if (result != LIBUSB_SUCCESS) FailToOpen(result);
    Handle handle(opened);
    DetachKernelDriver(handle.get());
    const int claimed = libusb_claim_interface(handle.get(), protocol::kInterfaceNumber);
    if (claimed != LIBUSB_SUCCESS) FailToOpen(claimed);
    return handle;
}

std::size_t CountAttachedBoards(BoardId id) {
    return DeviceList(SharedContext().get()).Boards(id).size();
}

std::unique_ptr<UsbBoard> UsbBoard::Open(BoardId id, std::size_t number) {
    Context context = SharedContext();
    const DeviceList list(context.get());
    const std::vector<libusb_device*> boards = list.Boards(id);
    if (number >= boards.size()) {
        throw BoardError(FailureKind::NoBoard, "there is no board number " + std::to_string(number) + "; " +
                                                   std::to_string(boards.size()) + " board(s) " + IdText(id) +
                                                   " attached — use a number from the board search");
    }
    Handle handle = OpenAndClaim(boards[number]);
    return std::unique_ptr<UsbBoard>(new UsbBoard(std::move(context), id, std::move(handle)));
}

UsbBoard::UsbBoard(Context context, BoardId id, Handle handle)
    : context_(std::move(context)), id_(id), handle_(std::move(handle)) {}

UsbBoard::~UsbBoard() = default;

int UsbBoard::Transfer(std::uint8_t request, std::uint16_t value, std::uint16_t index, protocol::Direction direction,
                       std::span<std::uint8_t> data) {
    const bool fromBoard = direction == protocol::Direction::FromBoard;
    const unsigned requestType = unsigned{LIBUSB_REQUEST_TYPE_VENDOR} | unsigned{LIBUSB_RECIPIENT_DEVICE} |
                                 unsigned{fromBoard ? LIBUSB_ENDPOINT_IN : LIBUSB_ENDPOINT_OUT};
    if (data.size() > UINT16_MAX) {
        throw BoardError(FailureKind::BadArgument, "request " + HexText(request, 2) + " of " +
                                                       std::to_string(data.size()) +
                                                       " bytes exceeds the 65535 bytes of one request — split it");
    }
    return libusb_control_transfer(handle_.get(), static_cast<std::uint8_t>(requestType), request, value, index,
                                   data.data(), static_cast<std::uint16_t>(data.size()), protocol::kControlTimeoutMs);
}

void UsbBoard::VendorRequest(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                             protocol::Direction direction, std::span<std::uint8_t> data) {
    if (request == protocol::kRequestPortPath && direction == protocol::Direction::FromBoard) {
        WritePortPathReply(usb::PortPathOf(libusb_get_device(handle_.get())), data);
        return;
    }
    const int moved = Transfer(request, value, index, direction, data);
    if (moved == LIBUSB_ERROR_NO_DEVICE) leftTheBus_ = true;
    if (moved < 0) FailRequest(request, moved);
    if (static_cast<std::size_t>(moved) < data.size()) {
        const bool fromBoard = direction == protocol::Direction::FromBoard;
        throw BoardError(FailureKind::RequestFailed,
                         "request " + HexText(request, 2) + " failed: the board " +
                             (fromBoard ? "returned " : "took ") + std::to_string(moved) + " of " +
                             std::to_string(data.size()) + " bytes — " + std::string(kCableFix));
    }
}

void UsbBoard::VendorWriteThatMayReenumerate(std::uint8_t request, std::uint16_t value, std::uint16_t index,
                                             std::span<std::uint8_t> data, std::chrono::milliseconds comeback) {
    constexpr auto kPollInterval = std::chrono::milliseconds(20);
    libusb_device* const before = libusb_get_device(handle_.get());
    // Boards with these ids that are not this one: none of them is this
    // board coming back.
    const std::vector<libusb_device*> others = [&] {
        std::vector<libusb_device*> boards = DeviceList(context_.get()).Matching(id_);
        std::erase(boards, before);
        return boards;
    }();
    const int moved = Transfer(request, value, index, protocol::Direction::ToBoard, data);
    if (moved != LIBUSB_ERROR_IO && moved != LIBUSB_ERROR_NO_DEVICE) {
        if (moved < 0) FailRequest(request, moved);
        return;
    }
    const auto deadline = std::chrono::steady_clock::now() + comeback;
    bool stillHere = true;
    for (;;) {
        const DeviceList list(context_.get());
        const std::vector<libusb_device*> boards = list.Matching(id_);
        stillHere = std::find(boards.begin(), boards.end(), before) != boards.end();
        for (libusb_device* board : boards) {
            if (board != before && std::find(others.begin(), others.end(), board) == others.end()) {
                handle_ = OpenAndClaim(board);
                return;
            }
        }
        if (std::chrono::steady_clock::now() >= deadline) break;
        std::this_thread::sleep_for(kPollInterval);
    }
    // A board that never left took the write.
    if (stillHere) return;
    leftTheBus_ = true;
    throw BoardError(FailureKind::Disconnected,
                     "the board did not come back after its firmware started — check that the firmware file is "
                     "the one for this board, then reconnect the board");
}

}  // namespace tarnel::boardaccess

#include "usbfs_device.h"

#include <linux/usbdevice_fs.h>
#include <sys/ioctl.h>
#include <umockdev.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include <tarnel/board_protocol.h>
#include "usb_descriptors.h"

namespace tarnel::emulator {

namespace {

constexpr std::uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

bool DebugLogging() {
    static const bool enabled = [] {
        const char* value = std::getenv("TARNEL_EMULATOR_DEBUG");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void Succeed(UMockdevIoctlClient* client) { umockdev_ioctl_client_complete(client, 0, 0); }
void Fail(UMockdevIoctlClient* client, int error) { umockdev_ioctl_client_complete(client, -1, error); }

// A local copy of `length` bytes the client's argument points to; null when
// the client's memory cannot be read.
UMockdevIoctlData* ResolveArgument(UMockdevIoctlData* data, std::size_t offset, std::size_t length) {
    GError* error = nullptr;
    UMockdevIoctlData* resolved = umockdev_ioctl_data_resolve(data, offset, length, &error);
    if (error != nullptr) {
        if (DebugLogging()) std::fprintf(stderr, "board-emulator: cannot read ioctl argument: %s\n", error->message);
        g_error_free(error);
    }
    return resolved;
}

template <typename T>
T* As(UMockdevIoctlData* data) {
    return reinterpret_cast<T*>(data->data);
}

}  // namespace

void UsbfsDevice::DataUnref::operator()(UMockdevIoctlData* data) const { umockdev_ioctl_data_unref(data); }

UsbfsDevice::UsbfsDevice(UMockdevTestbed* testbed, std::string deviceNode, Answer answer, AfterRequest afterRequest)
    : testbed_(testbed),
      handler_(umockdev_ioctl_base_new()),
      deviceNode_(std::move(deviceNode)),
      answer_(std::move(answer)),
      afterRequest_(std::move(afterRequest)) {
    g_signal_connect_after(handler_, "handle-ioctl", G_CALLBACK(OnHandleIoctl), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(OnClientVanished), this);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, deviceNode_.c_str(), handler_, &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        g_object_unref(handler_);
        throw std::runtime_error("emulated board: cannot serve " + deviceNode_ + ": " + message +
                                 " — check that TMPDIR is a writable local folder");
    }
}

UsbfsDevice::~UsbfsDevice() {
    umockdev_testbed_detach_ioctl(testbed_, deviceNode_.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
}

void UsbfsDevice::TakeOverNode(const std::string& nodePathInTestbed) {
    auto signal = std::make_unique<ReapSignal>(nodePathInTestbed);
    std::lock_guard lock(mutex_);
    reapSignal_ = std::move(signal);
    RefreshReapSignal();
}

void UsbfsDevice::Disconnect() {
    std::lock_guard lock(mutex_);
    disconnected_ = true;
    // As usbfs does, URBs still in flight end with ESHUTDOWN and become reapable.
    for (auto& [client, urbs] : clients_) {
        for (DataRef& urb : urbs.pending) {
            As<usbdevfs_urb>(urb.get())->status = -ESHUTDOWN;
            urbs.completed.push_back(std::move(urb));
        }
        urbs.pending.clear();
    }
    RefreshReapSignal();
    if (reapSignal_) reapSignal_->RemoveNode();
}

int UsbfsDevice::OnHandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    static_cast<UsbfsDevice*>(self)->HandleIoctl(client);
    return TRUE;
}

void UsbfsDevice::OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    auto* device = static_cast<UsbfsDevice*>(self);
    std::lock_guard lock(device->mutex_);
    device->clients_.erase(client);
    device->RefreshReapSignal();
}

void UsbfsDevice::HandleIoctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    switch (request) {
    case USBDEVFS_SUBMITURB: return SubmitUrb(client);
    case USBDEVFS_REAPURB:   // never block the worker: reaping always behaves as NDELAY
    case USBDEVFS_REAPURBNDELAY: return ReapUrb(client);
    case USBDEVFS_DISCARDURB: return DiscardUrb(client);
    default: break;
    }
    {
        std::lock_guard lock(mutex_);
        if (disconnected_) return Fail(client, ENODEV);
    }
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
        DataRef caps(ResolveArgument(arg, 0, sizeof(std::uint32_t)));
        if (!caps) return Fail(client, EFAULT);
        *As<std::uint32_t>(caps.get()) = kCapabilities;
        return Succeed(client);
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM: return AnswerWithInterface(client);
    case USBDEVFS_SETCONFIGURATION: {
        DataRef config(ResolveArgument(arg, 0, sizeof(int)));
        if (!config) return Fail(client, EFAULT);
        return *As<int>(config.get()) == static_cast<int>(kConfigurationValue) ? Succeed(client)
                                                                               : Fail(client, EINVAL);
    }
    case USBDEVFS_SETINTERFACE: {
        DataRef setting(ResolveArgument(arg, 0, sizeof(usbdevfs_setinterface)));
        if (!setting) return Fail(client, EFAULT);
        const auto* s = As<usbdevfs_setinterface>(setting.get());
        return s->interface == static_cast<unsigned>(protocol::kInterfaceNumber) && s->altsetting == 0
                   ? Succeed(client)
                   : Fail(client, EINVAL);
    }
    case USBDEVFS_RESET:
    case USBDEVFS_RESETEP:
    case USBDEVFS_CLEAR_HALT: return Succeed(client);
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL: return Fail(client, ENODATA);   // no kernel driver is ever bound
    default:
        if (DebugLogging()) {
            std::fprintf(stderr, "board-emulator: usbfs ioctl 0x%lx on %s is not emulated, answered ENOTTY\n",
                         request, deviceNode_.c_str());
        }
        return Fail(client, ENOTTY);
    }
}

void UsbfsDevice::AnswerWithInterface(UMockdevIoctlClient* client) {
    // CLAIMINTERFACE and RELEASEINTERFACE pass an unsigned int; DISCONNECT_CLAIM
    // a struct that starts with one.
    DataRef number(ResolveArgument(umockdev_ioctl_client_get_arg(client), 0, sizeof(unsigned)));
    if (!number) return Fail(client, EFAULT);
    return *As<unsigned>(number.get()) == static_cast<unsigned>(protocol::kInterfaceNumber) ? Succeed(client)
                                                                                            : Fail(client, ENOENT);
}

void UsbfsDevice::SubmitUrb(UMockdevIoctlClient* client) {
    DataRef urb(ResolveArgument(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb)));
    if (!urb) return Fail(client, EFAULT);
    auto* u = As<usbdevfs_urb>(urb.get());
    {
        std::lock_guard lock(mutex_);
        if (disconnected_) return Fail(client, ENODEV);
    }
    // The board has endpoint 0 only.
    if (u->type != USBDEVFS_URB_TYPE_CONTROL || (u->endpoint & 0x7F) != 0) return Fail(client, ENOENT);
    if (u->buffer_length < static_cast<int>(SetupPacket::kSize)) return Fail(client, EINVAL);

    DataRef buffer(ResolveArgument(urb.get(), offsetof(usbdevfs_urb, buffer), static_cast<std::size_t>(u->buffer_length)));
    if (!buffer) return Fail(client, EFAULT);
    std::uint8_t* bytes = buffer->data;
    const SetupPacket setup = SetupPacket::Decode(std::span<const std::uint8_t, SetupPacket::kSize>(bytes, SetupPacket::kSize));
    const std::size_t room = static_cast<std::size_t>(u->buffer_length) - SetupPacket::kSize;
    if (setup.length > room) return Fail(client, EINVAL);

    std::uint8_t* stage = bytes + SetupPacket::kSize;
    const std::span<const std::uint8_t> outData =
        setup.ToHost() ? std::span<const std::uint8_t>() : std::span<const std::uint8_t>(stage, setup.length);
    const ControlReply reply = answer_(setup, outData);

    u->actual_length = 0;
    switch (reply.outcome) {
    case RequestRecord::Outcome::Answered:
        u->status = 0;
        if (setup.ToHost()) {
            const std::size_t returned = std::min<std::size_t>(reply.data.size(), setup.length);
            std::copy_n(reply.data.begin(), returned, stage);
            u->actual_length = static_cast<int>(returned);
        } else {
            u->actual_length = setup.length;
        }
        break;
    case RequestRecord::Outcome::Stalled: u->status = -EPIPE; break;
    case RequestRecord::Outcome::Unanswered: u->status = -EINPROGRESS; break;
    }
    {
        std::lock_guard lock(mutex_);
        ClientUrbs& urbs = clients_[client];
        auto& queue = reply.outcome == RequestRecord::Outcome::Unanswered ? urbs.pending : urbs.completed;
        queue.push_back(std::move(urb));
        RefreshReapSignal();
    }
    Succeed(client);
    afterRequest_();
}

void UsbfsDevice::ReapUrb(UMockdevIoctlClient* client) {
    DataRef urb;
    bool disconnected = false;
    {
        std::lock_guard lock(mutex_);
        disconnected = disconnected_;
        auto found = clients_.find(client);
        if (found != clients_.end() && !found->second.completed.empty()) {
            auto& completed = found->second.completed;
            urb = std::move(completed.front());
            completed.erase(completed.begin());
            RefreshReapSignal();
        }
    }
    if (!urb) return Fail(client, disconnected ? ENODEV : EAGAIN);
    // The argument is where the client wants the URB's address; setting the
    // pointer also copies the URB and its buffer back into the client.
    DataRef slot(ResolveArgument(umockdev_ioctl_client_get_arg(client), 0, sizeof(void*)));
    if (!slot) return Fail(client, EFAULT);
    umockdev_ioctl_data_set_ptr(slot.get(), 0, urb.get());
    Succeed(client);
}

void UsbfsDevice::DiscardUrb(UMockdevIoctlClient* client) {
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    if (arg->data_len < static_cast<int>(sizeof(void*))) return Fail(client, EINVAL);
    const auto address = reinterpret_cast<gulong>(*As<void*>(arg));
    std::lock_guard lock(mutex_);
    auto found = clients_.find(client);
    if (found == clients_.end()) return Fail(client, EINVAL);
    auto& pending = found->second.pending;
    auto urb = std::find_if(pending.begin(), pending.end(),
                            [&](const DataRef& candidate) { return candidate->client_addr == address; });
    // A URB that already completed cannot be discarded; libusb then reaps it.
    if (urb == pending.end()) return Fail(client, EINVAL);
    As<usbdevfs_urb>(urb->get())->status = -ENOENT;
    found->second.completed.push_back(std::move(*urb));
    pending.erase(urb);
    RefreshReapSignal();
    Succeed(client);
}

void UsbfsDevice::RefreshReapSignal() {
    if (!reapSignal_) return;
    const bool reapable = std::any_of(clients_.begin(), clients_.end(),
                                      [](const auto& entry) { return !entry.second.completed.empty(); });
    reapSignal_->SetReapable(reapable);
}

}  // namespace tarnel::emulator

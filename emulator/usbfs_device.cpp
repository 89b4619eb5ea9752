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

#include "usb_descriptors.h"

namespace tarnel::emulator {

namespace {

using Outcome = RequestRecord::Outcome;

constexpr std::uint32_t kCapabilities = USBDEVFS_CAP_ZERO_PACKET | USBDEVFS_CAP_BULK_CONTINUATION |
                                        USBDEVFS_CAP_NO_PACKET_SIZE_LIM | USBDEVFS_CAP_REAP_AFTER_DISCONNECT;

// usbfs refuses a synchronous control transfer with more data than one page.
constexpr std::size_t kMaxControlData = 4096;

bool DebugLogging() {
    static const bool enabled = [] {
        const char* value = std::getenv("TARNEL_EMULATOR_DEBUG");
        return value != nullptr && std::strcmp(value, "1") == 0;
    }();
    return enabled;
}

void Succeed(UMockdevIoctlClient* client, long result = 0) { umockdev_ioctl_client_complete(client, result, 0); }
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
void UsbfsDevice::ClientUnref::operator()(UMockdevIoctlClient* client) const { g_object_unref(client); }

UsbfsDevice::UsbfsDevice(UMockdevTestbed* testbed, std::string deviceNode, unsigned deviceNumber,
                         DeviceLayout layout, Answer answer, AfterRequest afterRequest)
    : testbed_(testbed),
      handler_(umockdev_ioctl_base_new()),
      deviceNode_(std::move(deviceNode)),
      deviceNumber_(deviceNumber),
      layout_(std::move(layout)),
      answer_(std::move(answer)),
      afterRequest_(std::move(afterRequest)) {
    g_signal_connect_after(handler_, "handle-ioctl", G_CALLBACK(OnHandleIoctl), this);
    g_signal_connect_after(handler_, "handle-read", G_CALLBACK(OnHandleRead), this);
    g_signal_connect_after(handler_, "handle-write", G_CALLBACK(OnHandleWrite), this);
    g_signal_connect(handler_, "client-vanished", G_CALLBACK(OnClientVanished), this);
    GError* error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, deviceNode_.c_str(), handler_, &error)) {
        const std::string message = error != nullptr ? error->message : "unknown error";
        g_clear_error(&error);
        g_object_unref(handler_);
        throw std::runtime_error("emulated USB device: cannot serve " + deviceNode_ + ": " + message +
                                 " — check that TMPDIR is a writable local folder");
    }
}

UsbfsDevice::~UsbfsDevice() {
    Disconnect();   // nothing stays blocked on a device that goes away
    {
        // Once the handler is gone nothing answers a reap, so the node must
        // not invite one: a client still holding it would otherwise see it
        // ready on every poll and its event loop would never wait again.
        std::lock_guard lock(mutex_);
        if (reapSignal_) reapSignal_->SetReapable(false);
    }
    if (listening_.exchange(false)) umockdev_testbed_detach_ioctl(testbed_, deviceNode_.c_str(), nullptr);
    g_signal_handlers_disconnect_by_data(handler_, this);
    g_object_unref(handler_);
}

void UsbfsDevice::CreateNode(const std::string& nodePathInTestbed) {
    auto signal = std::make_unique<ReapSignal>(nodePathInTestbed);
    std::lock_guard lock(mutex_);
    reapSignal_ = std::move(signal);
    RefreshReapSignal();
}

void UsbfsDevice::Disconnect() {
    StopRequests();
    // Nobody can open the node any more: the handler stops listening, and
    // keeps serving the clients that hold it.
    if (listening_.exchange(false)) umockdev_testbed_detach_ioctl(testbed_, deviceNode_.c_str(), nullptr);
}

void UsbfsDevice::StopRequests() {
    std::lock_guard lock(mutex_);
    if (disconnected_) return;
    disconnected_ = true;
    for (auto& entry : clients_) {
        ClientState& state = entry.second;
        // As usbfs does, URBs still in flight end with ESHUTDOWN and become reapable.
        for (PendingUrb& urb : state.pending) {
            As<usbdevfs_urb>(urb.urb.get())->status = -ESHUTDOWN;
            state.completed.push_back(std::move(urb.urb));
        }
        state.pending.clear();
        HandOverToBlockedReaper(state);
        if (state.blockedInBulk) Fail(state.blockedInBulk->client.get(), ENODEV);
        state.blockedInBulk.reset();
        for (HeldClient* blocked : {&state.blockedInReap, &state.blockedInControl}) {
            if (*blocked) Fail(blocked->get(), ENODEV);
            blocked->reset();
        }
    }
    RefreshReapSignal();
    if (reapSignal_) reapSignal_->RemoveNode();
}

bool UsbfsDevice::IdleSinceLastAsked() {
    std::lock_guard lock(mutex_);
    const bool onlyOurs = g_atomic_int_get(&G_OBJECT(handler_)->ref_count) == 1;
    const bool idle = disconnected_ && !listening_ && onlyOurs;
    const bool idleBefore = foundIdle_;
    foundIdle_ = idle;
    return idle && idleBefore;
}

bool UsbfsDevice::Disconnected() {
    std::lock_guard lock(mutex_);
    return disconnected_;
}

int UsbfsDevice::OnHandleIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    static_cast<UsbfsDevice*>(self)->HandleIoctl(client);
    return TRUE;
}

int UsbfsDevice::OnHandleRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    static_cast<UsbfsDevice*>(self)->HandleRead(client);
    return TRUE;
}

int UsbfsDevice::OnHandleWrite(UMockdevIoctlBase*, UMockdevIoctlClient* client, void*) {
    Fail(client, EINVAL);   // usbfs device files cannot be written
    return TRUE;
}

void UsbfsDevice::OnClientVanished(UMockdevIoctlBase*, UMockdevIoctlClient* client, void* self) {
    auto* device = static_cast<UsbfsDevice*>(self);
    std::lock_guard lock(device->mutex_);
    device->clients_.erase(client);
    if (device->claimedBy_ == client) device->claimedBy_ = nullptr;
    device->RefreshReapSignal();
}

void UsbfsDevice::HandleIoctl(UMockdevIoctlClient* client) {
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    switch (request) {
    case USBDEVFS_SUBMITURB: return SubmitUrb(client);
    case USBDEVFS_REAPURB: return ReapUrb(client, true);
    case USBDEVFS_REAPURBNDELAY: return ReapUrb(client, false);
    case USBDEVFS_DISCARDURB: return DiscardUrb(client);
    default: break;
    }
    if (Disconnected()) return Fail(client, ENODEV);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    switch (request) {
    case USBDEVFS_CONTROL: return Control(client);
    case USBDEVFS_BULK:
        if (layout_.data != nullptr) return Bulk(client);
        return NotEmulated(client, request);
    case USBDEVFS_CONNECTINFO: return ConnectInfo(client);
    case USBDEVFS_GET_CAPABILITIES: {
        DataRef caps(ResolveArgument(arg, 0, sizeof(std::uint32_t)));
        if (!caps) return Fail(client, EFAULT);
        *As<std::uint32_t>(caps.get()) = kCapabilities;
        return Succeed(client);
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM: return AnswerWithInterface(client, request);
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
        return s->interface == static_cast<unsigned>(layout_.interfaceNumber) && s->altsetting == 0
                   ? Succeed(client)
                   : Fail(client, EINVAL);
    }
    case USBDEVFS_RESET: return ResetDevice(client);
    case USBDEVFS_RESETEP:
    case USBDEVFS_CLEAR_HALT: return Succeed(client);
    case USBDEVFS_GETDRIVER: return Fail(client, ENODATA);   // no kernel driver is ever bound
    case USBDEVFS_IOCTL: return DriverIoctl(client);
    default: return NotEmulated(client, request);
    }
}

void UsbfsDevice::NotEmulated(UMockdevIoctlClient* client, unsigned long request) {
    if (DebugLogging()) {
        std::fprintf(stderr, "board-emulator: usbfs ioctl 0x%lx on %s is not emulated, answered ENOTTY\n", request,
                     deviceNode_.c_str());
    }
    Fail(client, ENOTTY);
}

void UsbfsDevice::HandleRead(UMockdevIoctlClient* client) {
    // As the kernel's device file: the device descriptor, then every
    // configuration descriptor, read from the file position on.
    UMockdevIoctlData* buffer = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(mutex_);
    if (disconnected_) return Fail(client, ENODEV);
    const std::vector<std::uint8_t>& kDescriptors = layout_.descriptors;
    std::size_t& position = clients_[client].readPosition;
    const std::size_t wanted = buffer->data_len > 0 ? static_cast<std::size_t>(buffer->data_len) : 0;
    const std::size_t count = std::min(wanted, kDescriptors.size() - std::min(position, kDescriptors.size()));
    std::copy_n(kDescriptors.begin() + static_cast<std::ptrdiff_t>(position), count, buffer->data);
    position += count;
    Succeed(client, static_cast<long>(count));
}

void UsbfsDevice::AnswerWithInterface(UMockdevIoctlClient* client, unsigned long request) {
    // CLAIMINTERFACE and RELEASEINTERFACE pass an unsigned int; DISCONNECT_CLAIM
    // a struct that starts with one.
    DataRef number(ResolveArgument(umockdev_ioctl_client_get_arg(client), 0, sizeof(unsigned)));
    if (!number) return Fail(client, EFAULT);
    if (*As<unsigned>(number.get()) != static_cast<unsigned>(layout_.interfaceNumber)) return Fail(client, ENOENT);
    // A device with data endpoints (the meter) is held as usbfs holds an
    // interface: by one client at a time, another one's claim is EBUSY until
    // the holder releases it or closes the node. The board's one interface
    // takes every claim, as it always has.
    if (layout_.data == nullptr) return Succeed(client);
    std::lock_guard lock(mutex_);
    if (request == USBDEVFS_RELEASEINTERFACE) {
        if (claimedBy_ != client) return Fail(client, EINVAL);
        claimedBy_ = nullptr;
        return Succeed(client);
    }
    if (claimedBy_ != nullptr && claimedBy_ != client) return Fail(client, EBUSY);
    claimedBy_ = client;
    Succeed(client);
}

void UsbfsDevice::ConnectInfo(UMockdevIoctlClient* client) {
    DataRef info(ResolveArgument(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_connectinfo)));
    if (!info) return Fail(client, EFAULT);
    auto* connection = As<usbdevfs_connectinfo>(info.get());
    connection->devnum = deviceNumber_;
    connection->slow = 0;   // a high-speed device
    Succeed(client);
}

void UsbfsDevice::DriverIoctl(UMockdevIoctlClient* client) {
    // Requests to the kernel driver of an interface. None is ever bound:
    // disconnecting it finds none, connecting binds none, anything else has
    // no driver to go to.
    DataRef call(ResolveArgument(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_ioctl)));
    if (!call) return Fail(client, EFAULT);
    const auto* c = As<usbdevfs_ioctl>(call.get());
    if (c->ifno != layout_.interfaceNumber) return Fail(client, EINVAL);
    switch (static_cast<unsigned long>(static_cast<unsigned>(c->ioctl_code))) {
    case USBDEVFS_DISCONNECT: return Fail(client, ENODATA);
    case USBDEVFS_CONNECT: return Succeed(client);
    default: return Fail(client, ENOTTY);
    }
}

UsbfsDevice::TransferEnd UsbfsDevice::Carry(const SetupPacket& setup, std::span<std::uint8_t> stage) {
    const std::span<const std::uint8_t> outData = setup.ToHost() ? std::span<const std::uint8_t>() : stage;
    const TransferAnswer answer = answer_(setup, outData);
    if (answer.leavesBus) return {EPROTO, 0, true};
    switch (answer.reply.outcome) {
    case Outcome::Answered:
        if (!setup.ToHost()) return {0, stage.size()};
        {
            const std::size_t returned = std::min(answer.reply.data.size(), stage.size());
            std::copy_n(answer.reply.data.begin(), returned, stage.begin());
            return {0, returned};
        }
    case Outcome::Stalled: return {EPIPE, 0};
    case Outcome::Unanswered: break;
    }
    return {EINPROGRESS, 0};
}

void UsbfsDevice::SubmitUrb(UMockdevIoctlClient* client) {
    DataRef urb(ResolveArgument(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_urb)));
    if (!urb) return Fail(client, EFAULT);
    auto* u = As<usbdevfs_urb>(urb.get());
    if (Disconnected()) return Fail(client, ENODEV);
    if (u->type != USBDEVFS_URB_TYPE_CONTROL) return SubmitDataUrb(client, std::move(urb));
    if ((u->endpoint & 0x7F) != 0) return Fail(client, ENOENT);
    if (u->buffer_length < static_cast<int>(SetupPacket::kSize)) return Fail(client, EINVAL);

    DataRef buffer(ResolveArgument(urb.get(), offsetof(usbdevfs_urb, buffer), static_cast<std::size_t>(u->buffer_length)));
    if (!buffer) return Fail(client, EFAULT);
    std::uint8_t* bytes = buffer->data;
    const SetupPacket setup = SetupPacket::Decode(std::span<const std::uint8_t, SetupPacket::kSize>(bytes, SetupPacket::kSize));
    const std::size_t room = static_cast<std::size_t>(u->buffer_length) - SetupPacket::kSize;
    if (setup.length > room) return Fail(client, EINVAL);

    const TransferEnd end = Carry(setup, std::span<std::uint8_t>(bytes + SetupPacket::kSize, setup.length));
    u->status = -end.error;
    u->actual_length = static_cast<int>(end.moved);
    {
        std::lock_guard lock(mutex_);
        ClientState& state = clients_[client];
        if (end.error == EINPROGRESS) {
            state.pending.push_back({std::move(urb), nullptr, 0, false});
        } else {
            state.completed.push_back(std::move(urb));
        }
        RefreshReapSignal();
        HandOverToBlockedReaper(state);
    }
    Succeed(client);
    afterRequest_(end.leftBus);
    if (layout_.data != nullptr) ServeInEndpoints();   // a class request may have queued IN bytes
}

void UsbfsDevice::SubmitDataUrb(UMockdevIoctlClient* client, DataRef urb) {
    auto* u = As<usbdevfs_urb>(urb.get());
    const bool knownType = u->type == USBDEVFS_URB_TYPE_BULK || u->type == USBDEVFS_URB_TYPE_INTERRUPT;
    if (layout_.data == nullptr || !knownType || !layout_.data->Has(u->endpoint, u->type)) return Fail(client, ENOENT);
    if (u->buffer_length < 0) return Fail(client, EINVAL);
    const auto length = static_cast<std::size_t>(u->buffer_length);
    DataRef buffer;
    if (length > 0) {
        buffer.reset(ResolveArgument(urb.get(), offsetof(usbdevfs_urb, buffer), length));
        if (!buffer) return Fail(client, EFAULT);
    }
    if ((u->endpoint & 0x80) == 0) {
        // OUT: the device takes every byte at once.
        layout_.data->Receive(u->endpoint, buffer ? std::span<const std::uint8_t>(buffer->data, length)
                                                  : std::span<const std::uint8_t>());
        u->status = 0;
        u->actual_length = u->buffer_length;
        {
            std::lock_guard lock(mutex_);
            ClientState& state = clients_[client];
            state.completed.push_back(std::move(urb));
            RefreshReapSignal();
            HandOverToBlockedReaper(state);
        }
        Succeed(client);
        return ServeInEndpoints();   // the bytes may have asked for a reply that is ready
    }
    // IN: waits with the URBs before it until the device has bytes for it.
    const std::uint8_t endpoint = u->endpoint;
    {
        std::lock_guard lock(mutex_);
        clients_[client].pending.push_back({std::move(urb), std::move(buffer), endpoint, true});
        ServeInEndpointsLocked();
    }
    Succeed(client);
}

void UsbfsDevice::ServeInEndpoints() {
    std::lock_guard lock(mutex_);
    ServeInEndpointsLocked();
}

void UsbfsDevice::ServeInEndpointsLocked() {
    if (layout_.data == nullptr || disconnected_) return;
    // An endpoint that has nothing for one URB has nothing for the URBs
    // after it either: they stay in the order they came.
    std::vector<std::uint8_t> dry;
    const auto isDry = [&](std::uint8_t endpoint) { return std::find(dry.begin(), dry.end(), endpoint) != dry.end(); };
    for (auto& entry : clients_) {
        ClientState& state = entry.second;
        for (auto urb = state.pending.begin(); urb != state.pending.end();) {
            if (!urb->waitsForData || isDry(urb->endpoint)) {
                ++urb;
                continue;
            }
            auto* u = As<usbdevfs_urb>(urb->urb.get());
            const std::size_t room = urb->buffer ? static_cast<std::size_t>(u->buffer_length) : 0;
            std::optional<DataEndpoints::InChunk> chunk = layout_.data->Take(urb->endpoint, room);
            if (!chunk) {
                dry.push_back(urb->endpoint);
                ++urb;
                continue;
            }
            const std::size_t count = std::min(chunk->bytes.size(), room);
            if (count > 0) std::copy_n(chunk->bytes.begin(), count, urb->buffer->data);
            u->actual_length = static_cast<int>(count);
            u->status = -chunk->error;
            state.completed.push_back(std::move(urb->urb));
            urb = state.pending.erase(urb);
        }
        if (state.blockedInBulk && !isDry(state.blockedInBulk->endpoint)) {
            BlockedRead& read = *state.blockedInBulk;
            const std::size_t room = read.buffer ? static_cast<std::size_t>(read.buffer->data_len) : 0;
            if (std::optional<DataEndpoints::InChunk> chunk = layout_.data->Take(read.endpoint, room)) {
                const std::size_t count = std::min(chunk->bytes.size(), room);
                if (count > 0) std::copy_n(chunk->bytes.begin(), count, read.buffer->data);
                if (chunk->error != 0) {
                    Fail(read.client.get(), chunk->error);
                } else {
                    Succeed(read.client.get(), static_cast<long>(count));
                }
                state.blockedInBulk.reset();
            } else {
                dry.push_back(read.endpoint);
            }
        }
        HandOverToBlockedReaper(state);
    }
    RefreshReapSignal();
}

void UsbfsDevice::Bulk(UMockdevIoctlClient* client) {
    DataRef transfer(ResolveArgument(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_bulktransfer)));
    if (!transfer) return Fail(client, EFAULT);
    const auto* t = As<usbdevfs_bulktransfer>(transfer.get());
    const auto endpoint = static_cast<std::uint8_t>(t->ep);
    if (t->ep > 0xFF || !layout_.data->Has(endpoint, USBDEVFS_URB_TYPE_BULK)) {
        return Fail(client, ENOENT);
    }
    DataRef data;
    if (t->len > 0) {
        data.reset(ResolveArgument(transfer.get(), offsetof(usbdevfs_bulktransfer, data), t->len));
        if (!data) return Fail(client, EFAULT);
    }
    if ((endpoint & 0x80) == 0) {
        layout_.data->Receive(endpoint, data ? std::span<const std::uint8_t>(data->data, t->len)
                                             : std::span<const std::uint8_t>());
        Succeed(client, static_cast<long>(t->len));
        return ServeInEndpoints();
    }
    std::uint64_t number = 0;
    {
        std::lock_guard lock(mutex_);
        ClientState& state = clients_[client];
        if (state.blockedInBulk) return Fail(client, EBUSY);   // one request at a time per client
        number = ++lastControlNumber_;
        state.blockedInBulk = BlockedRead{HeldClient(static_cast<UMockdevIoctlClient*>(g_object_ref(client))),
                                          std::move(data), endpoint, number};
        ServeInEndpointsLocked();
        if (!state.blockedInBulk) return;   // answered at once
    }
    // Waits for bytes, for its timeout (none for 0), or until the device leaves the bus.
    if (t->timeout > 0) TimeOutLater(t->timeout, [this, number] { EndWaitingBulk(number, ETIMEDOUT); });
}

void UsbfsDevice::EndWaitingBulk(std::uint64_t number, int error) {
    std::lock_guard lock(mutex_);
    for (auto& entry : clients_) {
        std::optional<BlockedRead>& read = entry.second.blockedInBulk;
        if (read && read->number == number) {
            Fail(read->client.get(), error);
            read.reset();
            return;
        }
    }
}

void UsbfsDevice::ResetDevice(UMockdevIoctlClient* client) {
    if (layout_.data != nullptr) {
        {
            // As the kernel does, transfers in flight on the data endpoints end.
            std::lock_guard lock(mutex_);
            for (auto& entry : clients_) {
                ClientState& state = entry.second;
                for (auto urb = state.pending.begin(); urb != state.pending.end();) {
                    if (!urb->waitsForData) {
                        ++urb;
                        continue;
                    }
                    As<usbdevfs_urb>(urb->urb.get())->status = -ESHUTDOWN;
                    state.completed.push_back(std::move(urb->urb));
                    urb = state.pending.erase(urb);
                }
                if (state.blockedInBulk) Fail(state.blockedInBulk->client.get(), ESHUTDOWN);
                state.blockedInBulk.reset();
                HandOverToBlockedReaper(state);
            }
            RefreshReapSignal();
        }
        layout_.data->Reset();
    }
    Succeed(client);
}

void UsbfsDevice::TimeOutLater(unsigned timeoutMs, std::function<void()> call) {
    if (!deferred_) deferred_.emplace();   // only umockdev's worker thread gets here
    deferred_->After(std::chrono::milliseconds(timeoutMs), std::move(call));
}

void UsbfsDevice::ReapUrb(UMockdevIoctlClient* client, bool wait) {
    std::lock_guard lock(mutex_);
    ClientState& state = clients_[client];
    if (state.completed.empty()) {
        if (disconnected_) return Fail(client, ENODEV);
        if (!wait) return Fail(client, EAGAIN);
    }
    // Answered now, or when a URB of this client completes or the board leaves.
    state.blockedInReap.reset(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
    HandOverToBlockedReaper(state);
}

void UsbfsDevice::HandOverToBlockedReaper(ClientState& state) {
    if (!state.blockedInReap || state.completed.empty()) return;
    DataRef urb = std::move(state.completed.front());
    state.completed.erase(state.completed.begin());
    RefreshReapSignal();
    HeldClient client = std::move(state.blockedInReap);
    // The argument is where the client wants the URB's address; setting the
    // pointer also copies the URB and its buffer back into the client.
    DataRef slot(ResolveArgument(umockdev_ioctl_client_get_arg(client.get()), 0, sizeof(void*)));
    if (!slot) return Fail(client.get(), EFAULT);
    umockdev_ioctl_data_set_ptr(slot.get(), 0, urb.get());
    Succeed(client.get());
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
                            [&](const PendingUrb& candidate) { return candidate.urb->client_addr == address; });
    // A URB that already completed cannot be discarded; the client then reaps it.
    if (urb == pending.end()) return Fail(client, EINVAL);
    As<usbdevfs_urb>(urb->urb.get())->status = -ENOENT;
    found->second.completed.push_back(std::move(urb->urb));
    pending.erase(urb);
    RefreshReapSignal();
    Succeed(client);
    HandOverToBlockedReaper(found->second);
}

void UsbfsDevice::Control(UMockdevIoctlClient* client) {
    DataRef transfer(ResolveArgument(umockdev_ioctl_client_get_arg(client), 0, sizeof(usbdevfs_ctrltransfer)));
    if (!transfer) return Fail(client, EFAULT);
    const auto* t = As<usbdevfs_ctrltransfer>(transfer.get());
    if (t->wLength > kMaxControlData) return Fail(client, EINVAL);
    DataRef data;
    if (t->wLength > 0) {
        data.reset(ResolveArgument(transfer.get(), offsetof(usbdevfs_ctrltransfer, data), t->wLength));
        if (!data) return Fail(client, EFAULT);
    }
    const SetupPacket setup{t->bRequestType, t->bRequest, t->wValue, t->wIndex, t->wLength};
    const TransferEnd end =
        Carry(setup, data ? std::span<std::uint8_t>(data->data, t->wLength) : std::span<std::uint8_t>());

    if (end.error == EINPROGRESS) {
        // The board never answers: the client waits out its timeout (none
        // for 0), or until the board leaves the bus.
        std::uint64_t number = 0;
        {
            std::lock_guard lock(mutex_);
            ClientState& state = clients_[client];
            state.blockedInControl.reset(static_cast<UMockdevIoctlClient*>(g_object_ref(client)));
            number = state.controlNumber = ++lastControlNumber_;
        }
        if (t->timeout > 0) TimeOutLater(t->timeout, [this, number] { EndWaitingControl(number, ETIMEDOUT); });
    } else if (end.error != 0) {
        Fail(client, end.error);
    } else {
        Succeed(client, static_cast<long>(end.moved));
    }
    afterRequest_(end.leftBus);
    if (layout_.data != nullptr) ServeInEndpoints();   // a class request may have queued IN bytes
}

void UsbfsDevice::EndWaitingControl(std::uint64_t number, int error) {
    std::lock_guard lock(mutex_);
    for (auto& entry : clients_) {
        ClientState& state = entry.second;
        if (state.blockedInControl && state.controlNumber == number) {
            Fail(state.blockedInControl.get(), error);
            state.blockedInControl.reset();
            return;
        }
    }
}

void UsbfsDevice::RefreshReapSignal() {
    if (!reapSignal_) return;
    const bool reapable = std::any_of(clients_.begin(), clients_.end(),
                                      [](const auto& entry) { return !entry.second.completed.empty(); });
    reapSignal_->SetReapable(reapable);
}

}  // namespace tarnel::emulator

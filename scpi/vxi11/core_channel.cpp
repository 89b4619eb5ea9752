#include "vxi11/core_channel.h"

#include <algorithm>
#include <chrono>
#include <string>

#include "vxi11/vxi11_codes.h"
#include "vxi11/xdr_body.h"

namespace tarnel::vxi11 {

namespace {

using std::chrono::milliseconds;

// Offsets of the variable-length fields in the arguments, checked before
// decoding (see LengthWordFits).
constexpr std::size_t kCreateLinkDeviceOffset = 12;
constexpr std::size_t kWriteDataOffset = 16;
constexpr std::size_t kDocmdDataOffset = 28;
// A read hands out at most this much at once, whatever it asks for.
constexpr unsigned long kLargestReadPiece = 1024 * 1024;

constexpr long Code(DeviceError error) { return static_cast<long>(error); }

RpcAnswer ErrorOnly(long error) {
    Device_Error result{error};
    return RpcAnswer::Results(EncodeXdr(xdr_Device_Error, result));
}

long LockError(DeviceLock::Outcome outcome) {
    switch (outcome) {
        case DeviceLock::Outcome::Done: return Code(DeviceError::None);
        case DeviceLock::Outcome::TimedOut: return Code(DeviceError::LockedByAnotherLink);
        case DeviceLock::Outcome::Abandoned: break;
    }
    return Code(DeviceError::Aborted);
}

}  // namespace

class CoreChannel::CoreSession : public RpcSession {
public:
    explicit CoreSession(CoreChannel& channel) : channel_(channel) {}
    ~CoreSession() override {
        for (const std::int32_t id : links_) channel_.Destroy(id);
    }
    RpcAnswer Answer(const RpcCall& call) override { return channel_.Call(call, links_); }

private:
    CoreChannel& channel_;
    std::set<std::int32_t> links_;   // made on this connection
};

class CoreChannel::AbortSession : public RpcSession {
public:
    explicit AbortSession(CoreChannel& channel) : channel_(channel) {}
    RpcAnswer Answer(const RpcCall& call) override { return channel_.Abort(call); }

private:
    CoreChannel& channel_;
};

CoreChannel::CoreChannel(std::vector<DeviceSlot*> slots, CoreLimits limits)
    : slots_(std::move(slots)), limits_(limits) {}

CoreChannel::~CoreChannel() { Stop(); }

std::unique_ptr<RpcSession> CoreChannel::OpenCoreSession() { return std::make_unique<CoreSession>(*this); }

std::unique_ptr<RpcSession> CoreChannel::OpenAbortSession() { return std::make_unique<AbortSession>(*this); }

void CoreChannel::Stop() {
    stopping_ = true;
    std::map<std::int32_t, LinkPointer> links;
    {
        const std::lock_guard lock(linksMutex_);
        links = links_;
    }
    for (const auto& [id, link] : links) {
        { const std::lock_guard lock(link->mutex); }
        link->changed.notify_all();
        link->slot.Lock().WakeWaiters();
    }
}

std::optional<std::string> CoreChannel::AddSlot(DeviceSlot& slot) {
    const std::lock_guard lock(slotsMutex_);
    for (const std::string& name : slot.Names()) {
        for (const DeviceSlot* served : slots_) {
            if (served->Answers(name)) return name;
        }
    }
    slots_.push_back(&slot);
    return std::nullopt;
}

DeviceSlot* CoreChannel::SlotNamed(std::string_view name) {
    const std::lock_guard lock(slotsMutex_);
    DeviceSlot* slot = nullptr;
    for (DeviceSlot* candidate : slots_) {
        if (candidate->Answers(name)) slot = candidate;
    }
    return slot;
}

RpcAnswer CoreChannel::Call(const RpcCall& call, std::set<std::int32_t>& sessionLinks) {
    if (call.program != DEVICE_CORE) return RpcAnswer::Refused(AcceptState::ProgramUnavailable);
    if (call.version != DEVICE_CORE_VERSION) return RpcAnswer::Versions(DEVICE_CORE_VERSION, DEVICE_CORE_VERSION);
    if (call.procedure == 0) return RpcAnswer::Results({});   // the null procedure every program has
    switch (call.procedure) {
        case create_link: return CreateLink(call.arguments, sessionLinks);
        case device_write: return Write(call.arguments);
        case device_read: return Read(call.arguments);
        case device_readstb: return ReadStatusByte(call.arguments);
        case device_trigger:
        case device_clear:
        case device_remote:
        case device_local: return Generic(call.procedure, call.arguments);
        case device_lock: return Lock(call.arguments);
        case device_unlock: return Unlock(call.arguments);
        case destroy_link: return DestroyLink(call.arguments, sessionLinks);
        case device_enable_srq: {
            XdrArguments<Device_EnableSrqParms> parms(xdr_Device_EnableSrqParms);
            if (!parms.Decode(call.arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
            return ErrorOnly(NotSupported(parms->lid));
        }
        case device_docmd: {
            if (!LengthWordFits(call.arguments, kDocmdDataOffset)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
            XdrArguments<Device_DocmdParms> parms(xdr_Device_DocmdParms);
            if (!parms.Decode(call.arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
            Device_DocmdResp result{};
            result.error = NotSupported(parms->lid);
            return RpcAnswer::Results(EncodeXdr(xdr_Device_DocmdResp, result));
        }
        // This server sends no service requests: there is no interrupt channel to make.
        case create_intr_chan:
        case destroy_intr_chan: return ErrorOnly(Code(DeviceError::NotSupported));
        default: break;
    }
    return RpcAnswer::Refused(AcceptState::ProcedureUnavailable);
}

RpcAnswer CoreChannel::Abort(const RpcCall& call) {
    if (call.program != DEVICE_ASYNC) return RpcAnswer::Refused(AcceptState::ProgramUnavailable);
    if (call.version != DEVICE_ASYNC_VERSION) return RpcAnswer::Versions(DEVICE_ASYNC_VERSION, DEVICE_ASYNC_VERSION);
    if (call.procedure == 0) return RpcAnswer::Results({});
    if (call.procedure != device_abort) return RpcAnswer::Refused(AcceptState::ProcedureUnavailable);
    XdrArguments<Device_Link> id(xdr_Device_Link);
    if (!id.Decode(call.arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    const LinkPointer link = Find(*id);
    if (!link) return ErrorOnly(Code(DeviceError::InvalidLink));
    link->abortRequested = true;
    { const std::lock_guard lock(link->mutex); }
    link->changed.notify_all();
    link->slot.Lock().WakeWaiters();
    return ErrorOnly(Code(DeviceError::None));
}

RpcAnswer CoreChannel::CreateLink(std::string_view arguments, std::set<std::int32_t>& sessionLinks) {
    if (!LengthWordFits(arguments, kCreateLinkDeviceOffset)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    XdrArguments<Create_LinkParms> parms(xdr_Create_LinkParms);
    if (!parms.Decode(arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    Create_LinkResp result{};
    result.abortPort = abortPort_;
    result.maxRecvSize = limits_.maxRecvSize;
    DeviceSlot* slot = SlotNamed(parms->device != nullptr ? parms->device : "");
    LinkPointer link;
    if (slot == nullptr) {
        result.error = Code(DeviceError::NotAccessible);
    } else {
        const std::lock_guard lock(linksMutex_);
        if (links_.size() >= limits_.mostLinks) {
            result.error = Code(DeviceError::OutOfResources);
        } else {
            do lastLinkId_ = lastLinkId_ == INT32_MAX ? 1 : lastLinkId_ + 1;
            while (links_.count(lastLinkId_) != 0);
            link = std::make_shared<Link>(lastLinkId_, *slot);
            links_.emplace(link->id, link);
        }
    }
    if (link && parms->lockDevice) {
        const long error = LockError(slot->Lock().Acquire(link->id, *link->state, Wait(parms->lock_timeout),
                                                          [this, &link] { return Abandoned(*link); }));
        if (error != Code(DeviceError::None)) {
            Destroy(link->id);
            link.reset();
            result.error = error;
        }
    }
    if (link) {
        sessionLinks.insert(link->id);
        result.lid = link->id;
    }
    return RpcAnswer::Results(EncodeXdr(xdr_Create_LinkResp, result));
}

RpcAnswer CoreChannel::Write(std::string_view arguments) {
    if (!LengthWordFits(arguments, kWriteDataOffset)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    XdrArguments<Device_WriteParms> parms(xdr_Device_WriteParms);
    if (!parms.Decode(arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    Device_WriteResp result{};
    const LinkPointer link = Find(parms->lid);
    if (!link) {
        result.error = Code(DeviceError::InvalidLink);
    } else if (parms->data.data_len > limits_.maxRecvSize) {
        // More than create_link said it takes: refused whole, nothing kept.
        result.error = Code(DeviceError::Parameter);
    } else if ((result.error = AwaitAccess(*link, parms->flags, parms->lock_timeout)) == Code(DeviceError::None)) {
        const std::lock_guard submitting(link->submitting);
        std::vector<scpi::InputLines::Line> messages;
        std::uint64_t generation = 0;
        {
            std::unique_lock lock(link->mutex);
            const bool room = link->changed.wait_for(lock, Wait(parms->io_timeout), [&] {
                return link->messagesPending < limits_.mostPendingMessages || Abandoned(*link);
            });
            if (link->messagesPending < limits_.mostPendingMessages) {
                const std::string_view data(parms->data.data_val, parms->data.data_len);
                messages = link->buffers.Write(data, (parms->flags & kFlagEnd) != 0);
                link->messagesPending += static_cast<unsigned>(messages.size());
                generation = link->generation;
                result.size = parms->data.data_len;
            } else {
                result.error = Code(room ? DeviceError::Aborted : DeviceError::IoTimeout);
            }
        }
        // Outside the link's mutex: a device may answer before Submit returns.
        for (auto& message : messages) SubmitMessage(link, std::move(message), generation);
    }
    return RpcAnswer::Results(EncodeXdr(xdr_Device_WriteResp, result));
}

void CoreChannel::SubmitMessage(const LinkPointer& link, scpi::InputLines::Line message, std::uint64_t generation,
                                std::shared_ptr<std::optional<bool>> ran) {
    auto finish = [link, generation, ran](Vxi11Device::Outcome outcome) {
        {
            const std::lock_guard lock(link->mutex);
            --link->messagesPending;
            link->lastStatusByte = outcome.statusByte;
            if (generation == link->generation) {
                if (outcome.reply) link->buffers.AddReply(*outcome.reply);
                link->deviceFailed = link->deviceFailed || outcome.failed;
            }
            if (ran) *ran = outcome.failed;
        }
        link->changed.notify_all();
    };
    // A link destroyed meanwhile has ended in the device: nothing more goes there.
    if (link->destroyed) {
        const std::lock_guard lock(link->mutex);
        --link->messagesPending;
        return;
    }
    link->slot.Device().Submit(std::move(message), link->state, std::move(finish));
}

RpcAnswer CoreChannel::Read(std::string_view arguments) {
    XdrArguments<Device_ReadParms> parms(xdr_Device_ReadParms);
    if (!parms.Decode(arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    Device_ReadResp result{};
    std::string data;
    const LinkPointer link = Find(parms->lid);
    if (!link) {
        result.error = Code(DeviceError::InvalidLink);
    } else if ((result.error = AwaitAccess(*link, parms->flags, parms->lock_timeout)) == Code(DeviceError::None)) {
        std::unique_lock lock(link->mutex);
        link->changed.wait_for(lock, Wait(parms->io_timeout), [&] {
            return link->buffers.HasOutput() || link->messagesPending == 0 || link->deviceFailed || Abandoned(*link);
        });
        if (link->deviceFailed) {
            link->deviceFailed = false;
            result.error = Code(DeviceError::Io);
        } else if (link->buffers.HasOutput()) {
            std::optional<char> termChar;
            if ((parms->flags & kFlagTermCharSet) != 0) termChar = parms->termChar;
            LinkBuffers::Piece piece = link->buffers.Read(std::min(parms->requestSize, kLargestReadPiece), termChar);
            data = std::move(piece.data);
            result.reason = piece.reason;
        } else if (Abandoned(*link)) {
            result.error = Code(DeviceError::Aborted);
        } else {
            // Still running, or nothing asked that could answer.
            result.error = Code(DeviceError::IoTimeout);
        }
    }
    result.data.data_len = static_cast<u_int>(data.size());
    result.data.data_val = data.data();
    return RpcAnswer::Results(EncodeXdr(xdr_Device_ReadResp, result));
}

RpcAnswer CoreChannel::ReadStatusByte(std::string_view arguments) {
    XdrArguments<Device_GenericParms> parms(xdr_Device_GenericParms);
    if (!parms.Decode(arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    Device_ReadStbResp result{};
    const LinkPointer link = Find(parms->lid);
    if (!link) {
        result.error = Code(DeviceError::InvalidLink);
    } else if ((result.error = AwaitAccess(*link, parms->flags, parms->lock_timeout)) == Code(DeviceError::None)) {
        // The link's own messages first (up to io_timeout), so that the
        // status byte shows what they did; other links' messages, running or
        // not, are not waited for.
        std::unique_lock lock(link->mutex);
        link->changed.wait_for(lock, Wait(parms->io_timeout),
                               [&] { return link->messagesPending == 0 || Abandoned(*link); });
        const bool messageAvailable = link->buffers.HasOutput();
        if (Abandoned(*link)) result.error = Code(DeviceError::Aborted);
        if (link->messagesPending == 0) {
            result.stb = link->slot.Device().StatusByte(*link->state, messageAvailable);
        } else {
            // One of its messages still runs: the status byte its last one left.
            result.stb = link->lastStatusByte;
            if (messageAvailable) result.stb |= scpi::StatusRegisters::kMessageAvailable;
        }
    }
    return RpcAnswer::Results(EncodeXdr(xdr_Device_ReadStbResp, result));
}

RpcAnswer CoreChannel::Generic(std::uint32_t procedure, std::string_view arguments) {
    XdrArguments<Device_GenericParms> parms(xdr_Device_GenericParms);
    if (!parms.Decode(arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    const LinkPointer link = Find(parms->lid);
    if (!link) return ErrorOnly(Code(DeviceError::InvalidLink));
    long error = AwaitAccess(*link, parms->flags, parms->lock_timeout);
    if (error != Code(DeviceError::None)) return ErrorOnly(error);
    if (procedure == device_trigger) {
        error = Trigger(link, parms->io_timeout);
    } else if (procedure == device_clear) {
        // The link's input and output emptied, and the replies of its messages
        // still to come dropped; its status registers stay, as IEEE 488.2
        // keeps them.
        const std::lock_guard lock(link->mutex);
        link->buffers.Clear();
        ++link->generation;
        link->deviceFailed = false;
    }
    // device_remote and device_local: a LAN instrument has no front panel to
    // lock out, so there is nothing to switch.
    return ErrorOnly(error);
}

RpcAnswer CoreChannel::Lock(std::string_view arguments) {
    XdrArguments<Device_LockParms> parms(xdr_Device_LockParms);
    if (!parms.Decode(arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    const LinkPointer link = Find(parms->lid);
    if (!link) return ErrorOnly(Code(DeviceError::InvalidLink));
    const long error = LockError(link->slot.Lock().Acquire(link->id, *link->state, LockWait(parms->flags, parms->lock_timeout),
                                                           [this, &link] { return Abandoned(*link); }));
    // A link destroyed while its lock call ran gives the lock up again.
    if (link->destroyed) link->slot.Lock().Release(link->id, *link->state);
    return ErrorOnly(error);
}

RpcAnswer CoreChannel::Unlock(std::string_view arguments) {
    XdrArguments<Device_Link> id(xdr_Device_Link);
    if (!id.Decode(arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    const LinkPointer link = Find(*id);
    if (!link) return ErrorOnly(Code(DeviceError::InvalidLink));
    return ErrorOnly(link->slot.Lock().Release(link->id, *link->state) ? Code(DeviceError::None)
                                                                          : Code(DeviceError::NoLockHeld));
}

RpcAnswer CoreChannel::DestroyLink(std::string_view arguments, std::set<std::int32_t>& sessionLinks) {
    XdrArguments<Device_Link> id(xdr_Device_Link);
    if (!id.Decode(arguments)) return RpcAnswer::Refused(AcceptState::GarbageArguments);
    const LinkPointer link = Find(*id);
    if (!link) return ErrorOnly(Code(DeviceError::InvalidLink));
    Destroy(link->id);
    sessionLinks.erase(link->id);
    return ErrorOnly(Code(DeviceError::None));
}

long CoreChannel::NotSupported(long id) {
    // Service requests and device commands are not served here.
    return Find(id) ? Code(DeviceError::NotSupported) : Code(DeviceError::InvalidLink);
}

CoreChannel::LinkPointer CoreChannel::Find(long id) {
    if (stopping_) return nullptr;
    const std::lock_guard lock(linksMutex_);
    const auto found = links_.find(static_cast<std::int32_t>(id));
    if (found == links_.end() || found->first != id) return nullptr;
    // A call starts afresh: an abort aims at the call under way when it came.
    found->second->abortRequested = false;
    return found->second;
}

void CoreChannel::Destroy(std::int32_t id) {
    LinkPointer link;
    {
        const std::lock_guard lock(linksMutex_);
        const auto found = links_.find(id);
        if (found == links_.end()) return;
        link = found->second;
        links_.erase(found);
    }
    link->destroyed = true;
    // Its waits end first, so that a write waiting for room lets go of `submitting`.
    { const std::lock_guard lock(link->mutex); }
    link->changed.notify_all();
    link->slot.Lock().WakeWaiters();
    link->slot.Lock().Release(link->id, *link->state);
    const std::lock_guard submitting(link->submitting);
    link->slot.Device().LinkEnded(*link->state);
}

milliseconds CoreChannel::Wait(unsigned long clientTimeout) const {
    return milliseconds(std::min<unsigned long>(clientTimeout, limits_.longestWaitMs));
}

milliseconds CoreChannel::LockWait(long flags, unsigned long lockTimeout) const {
    return (flags & kFlagWaitLock) != 0 ? Wait(lockTimeout) : milliseconds(0);
}

bool CoreChannel::Abandoned(const Link& link) const { return link.abortRequested || link.destroyed || stopping_; }

long CoreChannel::AwaitAccess(Link& link, long flags, unsigned long lockTimeout) {
    return LockError(link.slot.Lock().AwaitAccess(link.id, LockWait(flags, lockTimeout),
                                                  [this, &link] { return Abandoned(link); }));
}

long CoreChannel::Trigger(const LinkPointer& link, unsigned long ioTimeout) {
    auto ran = std::make_shared<std::optional<bool>>();
    {
        const std::lock_guard submitting(link->submitting);
        std::uint64_t generation = 0;
        {
            const std::lock_guard lock(link->mutex);
            ++link->messagesPending;
            generation = link->generation;
        }
        SubmitMessage(link, {"*TRG", false}, generation, ran);
    }
    std::unique_lock lock(link->mutex);
    link->changed.wait_for(lock, Wait(ioTimeout), [&] { return ran->has_value() || Abandoned(*link); });
    if (ran->has_value()) return Code(**ran ? DeviceError::Io : DeviceError::None);
    return Code(Abandoned(*link) ? DeviceError::Aborted : DeviceError::IoTimeout);
}

}  // namespace tarnel::vxi11

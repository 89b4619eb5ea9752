// The VXI-11 core and abort programs over a set of devices: links are made,
// used and destroyed here. A connection's links go when the connection does.
// Calls of different links run at once: a call that waits (for a reply, for
// a lock, for the device) holds up no other link and no abort.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "vxi11/device_slot.h"
#include "vxi11/link.h"
#include "vxi11/rpc_session.h"

namespace tarnel::vxi11 {

struct CoreLimits {
    // The most data one device_write takes (maxRecvSize of create_link).
    std::uint32_t maxRecvSize = 64 * 1024;
    unsigned mostLinks = 64;
    // Messages a link may have waiting for its device before a write waits.
    unsigned mostPendingMessages = 32;
    // The longest a call waits, whatever io_timeout or lock_timeout it
    // names (VISA's "infinite" is 0xFFFFFFFF ms, some 50 days).
    std::uint32_t longestWaitMs = 60 * 60 * 1000;
};

class CoreChannel {
public:
    // slots: the devices served from the start (more come with AddSlot);
    // each outlives the channel.
    CoreChannel(std::vector<DeviceSlot*> slots, CoreLimits limits);
    ~CoreChannel();
    CoreChannel(const CoreChannel&) = delete;
    CoreChannel& operator=(const CoreChannel&) = delete;

    // The port create_link names for the abort channel.
    void SetAbortPort(std::uint16_t port) { abortPort_ = port; }
    // Links reach this device from now on, while others are served. A name
    // another device answers to already: that name, and nothing added. The
    // slot outlives the channel.
    std::optional<std::string> AddSlot(DeviceSlot& slot);

    std::unique_ptr<RpcSession> OpenCoreSession();
    std::unique_ptr<RpcSession> OpenAbortSession();

    // Ends every wait; calls answer at once from then on.
    void Stop();

private:
    class CoreSession;
    class AbortSession;
    using LinkPointer = std::shared_ptr<Link>;

    RpcAnswer Call(const RpcCall& call, std::set<std::int32_t>& sessionLinks);
    RpcAnswer Abort(const RpcCall& call);

    RpcAnswer CreateLink(std::string_view arguments, std::set<std::int32_t>& sessionLinks);
    RpcAnswer Write(std::string_view arguments);
    RpcAnswer Read(std::string_view arguments);
    RpcAnswer ReadStatusByte(std::string_view arguments);
    RpcAnswer Generic(std::uint32_t procedure, std::string_view arguments);
    RpcAnswer Lock(std::string_view arguments);
    RpcAnswer Unlock(std::string_view arguments);
    RpcAnswer DestroyLink(std::string_view arguments, std::set<std::int32_t>& sessionLinks);
    long NotSupported(long id);

    LinkPointer Find(long id);
    void Destroy(std::int32_t id);
    bool Abandoned(const Link& link) const;
    std::chrono::milliseconds Wait(unsigned long clientTimeout) const;
    std::chrono::milliseconds LockWait(long flags, unsigned long lockTimeout) const;
    // Waits up to `wait` for the device's lock to let `link` through.
    long AwaitAccess(Link& link, long flags, unsigned long lockTimeout);
    // A device_trigger: *TRG among the link's messages, waited for up to io_timeout.
    long Trigger(const LinkPointer& link, unsigned long ioTimeout);
    // Hands one message to the device, counted in messagesPending already;
    // with link->submitting held. `ran`, when given, is set once it ran:
    // whether it failed.
    void SubmitMessage(const LinkPointer& link, scpi::InputLines::Line message, std::uint64_t generation,
                       std::shared_ptr<std::optional<bool>> ran = nullptr);

    // The slot a link to `name` reaches; none when no device answers to it.
    DeviceSlot* SlotNamed(std::string_view name);

    std::mutex slotsMutex_;
    std::vector<DeviceSlot*> slots_;   // under slotsMutex_
    const CoreLimits limits_;
    std::atomic<std::uint16_t> abortPort_{0};
    std::atomic<bool> stopping_{false};
    std::mutex linksMutex_;
    std::map<std::int32_t, LinkPointer> links_;
    std::int32_t lastLinkId_ = 0;
};

}  // namespace tarnel::vxi11

// One plug-in of an emulated USB device (the board, the USB meter) as a
// Linux USB client sees it through usbfs: a umockdev handler on the device
// node that answers the requests clients make — control URBs and their
// reaping, synchronous control transfers, claiming, configuration, the
// connection and driver queries, read() of the descriptors and, for a device
// with DataEndpoints, bulk and interrupt URBs, synchronous bulk transfers and
// the device reset.
//
// The handler runs on umockdev's worker thread and never blocks: answers are
// computed when a request arrives; a request that has to wait (a synchronous
// transfer the board never answers, a blocking reap with nothing to reap) is
// completed later, by a deferred call or by the event it waits for.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "board_model.h"
#include "data_endpoints.h"
#include "deferred_calls.h"
#include "reap_signal.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace tarnel::emulator {

// The board's answer to one control transfer. `leavesBus`: the board drops
// off the bus as it answers (firmware that re-enumerates has just started),
// so the host sees the transfer end in a protocol error.
struct TransferAnswer {
    ControlReply reply;
    bool leavesBus = false;
};

// What the device is besides its answers on endpoint 0.
struct DeviceLayout {
    std::vector<std::uint8_t> descriptors;   // device then configuration descriptors, as read() returns them
    int interfaceNumber = 0;                 // its one interface
    DataEndpoints* data = nullptr;           // none: endpoint 0 only; else outlives the UsbfsDevice
};

class UsbfsDevice {
public:
    using Answer = std::function<TransferAnswer(const SetupPacket&, std::span<const std::uint8_t>)>;
    // Called once the client has its answer; `leftBus`: the board dropped
    // off the bus as it answered.
    using AfterRequest = std::function<void(bool leftBus)>;

    // Attaches the handler to `deviceNode` (device number `deviceNumber` on
    // its bus) in the test bed. The node itself comes next, from CreateNode().
    UsbfsDevice(UMockdevTestbed* testbed, std::string deviceNode, unsigned deviceNumber, DeviceLayout layout,
                Answer answer, AfterRequest afterRequest);
    ~UsbfsDevice();
    UsbfsDevice(const UsbfsDevice&) = delete;
    UsbfsDevice& operator=(const UsbfsDevice&) = delete;

    // Creates the device node at `nodePathInTestbed`, the test bed's copy of
    // it. Call it before the device record is added: the record has no node
    // line, so the node is never a plain file that a client could open (and
    // poll as always ready) before this one is in place.
    void CreateNode(const std::string& nodePathInTestbed);
    // The board left the bus: every further request fails with ENODEV, URBs
    // already completed can still be reaped, requests still waiting end, and
    // the node disappears.
    void Disconnect();
    const std::string& DeviceNode() const { return deviceNode_; }
    // The DataEndpoints may have bytes for an IN endpoint now: waiting IN
    // URBs and synchronous bulk reads take them. Callable from any thread
    // that holds no lock of the DataEndpoints.
    void ServeInEndpoints();
    // True when the board has left the bus and no client has held the node
    // since the previous call that found it so (umockdev's clients keep a
    // reference to the handler until they close the node): the handler can
    // go without a client ever noticing, and with no call running on it.
    bool IdleSinceLastAsked();

private:
    // Owns one reference to umockdev's local copy of client memory.
    struct DataUnref {
        void operator()(UMockdevIoctlData* data) const;
    };
    using DataRef = std::unique_ptr<UMockdevIoctlData, DataUnref>;
    // Keeps a client whose request is completed later.
    struct ClientUnref {
        void operator()(UMockdevIoctlClient* client) const;
    };
    using HeldClient = std::unique_ptr<UMockdevIoctlClient, ClientUnref>;

    // A URB submitted and not answered yet: a control URB the board does not
    // answer, or an IN URB waiting for bytes (`buffer` is its data).
    struct PendingUrb {
        DataRef urb;
        DataRef buffer;
        std::uint8_t endpoint = 0;
        bool waitsForData = false;
    };
    // A synchronous bulk read waiting for bytes.
    struct BlockedRead {
        HeldClient client;
        DataRef buffer;
        std::uint8_t endpoint = 0;
        std::uint64_t number = 0;
    };

    struct ClientState {
        std::vector<PendingUrb> pending;  // URBs submitted, not answered yet
        std::vector<DataRef> completed;   // URBs waiting to be reaped, oldest first
        HeldClient blockedInReap;         // a REAPURB waiting for a URB to complete
        HeldClient blockedInControl;      // a CONTROL the board does not answer
        std::uint64_t controlNumber = 0;  // which CONTROL blockedInControl is
        std::optional<BlockedRead> blockedInBulk;
        std::size_t readPosition = 0;     // file position of read()
    };

    // How a transfer ended: 0 (done, `moved` bytes), an errno as usbfs
    // reports it, or EINPROGRESS while the board does not answer.
    struct TransferEnd {
        int error = 0;
        std::size_t moved = 0;
        bool leftBus = false;   // the board dropped off the bus as it answered
    };

    static int OnHandleIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static int OnHandleRead(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static int OnHandleWrite(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void OnClientVanished(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);

    bool Disconnected();
    void StopRequests();   // the part of Disconnect() under mutex_
    void HandleIoctl(UMockdevIoctlClient* client);
    void HandleRead(UMockdevIoctlClient* client);
    void NotEmulated(UMockdevIoctlClient* client, unsigned long request);
    // The board answers one setup packet; the data stage is `stage`.
    TransferEnd Carry(const SetupPacket& setup, std::span<std::uint8_t> stage);
    void SubmitUrb(UMockdevIoctlClient* client);
    void SubmitDataUrb(UMockdevIoctlClient* client, DataRef urb);
    void Bulk(UMockdevIoctlClient* client);
    void EndWaitingBulk(std::uint64_t number, int error);
    void ResetDevice(UMockdevIoctlClient* client);
    void TimeOutLater(unsigned timeoutMs, std::function<void()> call);
    void ReapUrb(UMockdevIoctlClient* client, bool wait);
    void DiscardUrb(UMockdevIoctlClient* client);
    void Control(UMockdevIoctlClient* client);
    void EndWaitingControl(std::uint64_t number, int error);
    void ConnectInfo(UMockdevIoctlClient* client);
    void DriverIoctl(UMockdevIoctlClient* client);
    void AnswerWithInterface(UMockdevIoctlClient* client, unsigned long request);
    // Callers hold mutex_.
    void ServeInEndpointsLocked();
    void HandOverToBlockedReaper(ClientState& state);
    void RefreshReapSignal();

    UMockdevTestbed* testbed_;
    UMockdevIoctlBase* handler_;
    std::string deviceNode_;
    unsigned deviceNumber_;
    DeviceLayout layout_;
    Answer answer_;
    AfterRequest afterRequest_;

    std::mutex mutex_;
    bool disconnected_ = false;
    bool foundIdle_ = false;   // by the last IdleSinceLastAsked()
    // Whether the handler still listens for new clients on the node; it stops
    // when the board leaves the bus, as nobody can open the node any more.
    std::atomic<bool> listening_ = true;
    std::uint64_t lastControlNumber_ = 0;   // of CONTROL and BULK requests that wait
    std::map<UMockdevIoctlClient*, ClientState> clients_;
    UMockdevIoctlClient* claimedBy_ = nullptr;   // the client holding the interface, if any
    std::unique_ptr<ReapSignal> reapSignal_;
    // Last: its thread stops before the state its calls use goes away.
    // Started by the first transfer that has to time out.
    std::optional<DeferredCalls> deferred_;
};

}  // namespace tarnel::emulator

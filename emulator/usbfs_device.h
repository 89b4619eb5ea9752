// One plug-in of the emulated board as libusb sees it through usbfs: a
// umockdev ioctl handler on the device node that takes control URBs, has the
// board answer them, and hands them back when libusb reaps.
//
// The handler runs on umockdev's worker thread and never blocks: answers are
// computed at submit time, and URBs the board never answers stay pending until
// libusb discards them.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <vector>

#include "board_model.h"
#include "reap_signal.h"

typedef struct _UMockdevTestbed UMockdevTestbed;
typedef struct _UMockdevIoctlBase UMockdevIoctlBase;
typedef struct _UMockdevIoctlClient UMockdevIoctlClient;
typedef struct _UMockdevIoctlData UMockdevIoctlData;

namespace tarnel::emulator {

class UsbfsDevice {
public:
    using Answer = std::function<ControlReply(const SetupPacket&, std::span<const std::uint8_t>)>;
    using AfterRequest = std::function<void()>;

    // Attaches the handler to `deviceNode` in the test bed. The node itself is
    // created later (by the device record); call TakeOverNode() once it exists.
    UsbfsDevice(UMockdevTestbed* testbed, std::string deviceNode, Answer answer, AfterRequest afterRequest);
    ~UsbfsDevice();
    UsbfsDevice(const UsbfsDevice&) = delete;
    UsbfsDevice& operator=(const UsbfsDevice&) = delete;

    void TakeOverNode(const std::string& nodePathInTestbed);
    // The board left the bus: every further request fails with ENODEV, URBs
    // already completed can still be reaped, and the node disappears.
    void Disconnect();
    const std::string& DeviceNode() const { return deviceNode_; }

private:
    // Owns one reference to umockdev's local copy of client memory.
    struct DataUnref {
        void operator()(UMockdevIoctlData* data) const;
    };
    using DataRef = std::unique_ptr<UMockdevIoctlData, DataUnref>;
    struct ClientUrbs {
        std::vector<DataRef> pending;     // submitted, not answered by the board
        std::vector<DataRef> completed;   // waiting to be reaped, oldest first
    };

    static int OnHandleIoctl(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);
    static void OnClientVanished(UMockdevIoctlBase* handler, UMockdevIoctlClient* client, void* self);

    void HandleIoctl(UMockdevIoctlClient* client);
    void SubmitUrb(UMockdevIoctlClient* client);
    void ReapUrb(UMockdevIoctlClient* client);
    void DiscardUrb(UMockdevIoctlClient* client);
    void AnswerWithInterface(UMockdevIoctlClient* client);
    void RefreshReapSignal();   // callers hold mutex_

    UMockdevTestbed* testbed_;
    UMockdevIoctlBase* handler_;
    std::string deviceNode_;
    Answer answer_;
    AfterRequest afterRequest_;

    std::mutex mutex_;
    bool disconnected_ = false;
    std::map<UMockdevIoctlClient*, ClientUrbs> clients_;
    std::unique_ptr<ReapSignal> reapSignal_;
};

}  // namespace tarnel::emulator

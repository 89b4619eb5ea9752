// One link: a client of its device like a raw socket client, with its own
// input and output, error queue and status registers. The buffers and the
// counts are guarded by `mutex` and announced on `changed`; `submitting` is
// held while a call hands the link's messages to the device, so that they
// reach it in the order they were written and none after the link ended.
// `state` is touched only by the device (see Vxi11Device).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>

#include "scpi/connection_state.h"
#include "vxi11/device_slot.h"
#include "vxi11/link_buffers.h"

namespace tarnel::vxi11 {

struct Link {
    Link(std::int32_t linkId, DeviceSlot& deviceSlot) : id(linkId), slot(deviceSlot) {}

    const std::int32_t id;
    DeviceSlot& slot;

    std::mutex submitting;   // taken before `mutex`, never after it
    std::mutex mutex;
    std::condition_variable changed;
    LinkBuffers buffers;
    unsigned messagesPending = 0;   // submitted to the device, not yet run
    std::uint64_t generation = 0;   // a device clear starts a new one: older replies are dropped
    bool deviceFailed = false;      // a message failed in the device: the next read says so
    // The status byte after the link's last message, answered while one of
    // its messages is still running.
    std::uint8_t lastStatusByte = 0;

    std::atomic<bool> abortRequested{false};
    std::atomic<bool> destroyed{false};

    const std::shared_ptr<scpi::ConnectionState> state = std::make_shared<scpi::ConnectionState>();
};

}  // namespace tarnel::vxi11

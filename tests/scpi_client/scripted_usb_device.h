// A USBTMC device for the session's tests, driven by a script: it answers
// each REQUEST_DEV_DEP_MSG_IN with the next scripted reply (sent as packets,
// a short or zero-length packet ending each transfer), each class request
// with the next scripted answer (STALL when none is left), and it logs
// every operation so that tests can check the order of requests.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "scpi/client/usb_pipe.h"
#include "scpi/client/usbtmc_header.h"

namespace tarnel::scpi::client::usbtmc::testing {

// One DEV_DEP_MSG_IN transfer; the fields left empty are filled in as a
// well-behaved device fills them.
struct ScriptedReply {
    std::string payload;
    bool endOfMessage = true;
    std::optional<std::uint8_t> tag;              // default: the request's
    std::uint8_t msgId = 2;
    std::optional<std::uint32_t> transferSize;    // default: the payload's size
    bool brokenTagInverse = false;
    std::size_t extraBytes = 0;                    // bytes past the payload beyond the alignment
    std::size_t headerBytes = kHeaderSize;         // fewer: the transfer stops inside its header
    bool strayZeroLengthPacketFirst = false;
};

class ScriptedDevice final : public UsbPipe {
public:
    explicit ScriptedDevice(std::size_t packetSize = 64, bool usb488 = true, bool interruptIn = false);

    void QueueReply(ScriptedReply reply) { replies_.push_back(std::move(reply)); }
    // Bytes waiting on bulk IN without a request (left over from an aborted transfer).
    void QueueBulkIn(const std::vector<std::uint8_t>& bytes);
    void Answer(Request request, std::vector<std::uint8_t> answer, int times = 1);
    void QueueNotification(std::vector<std::uint8_t> packet) { notifications_.push_back(std::move(packet)); }
    // The result of the next bulk-OUT transfers (Done when none is queued).
    void FailNextBulkOut(PipeStatus status) { outFailures_.push_back(status); }
    void Unplug() { unplugged_ = true; }

    const PipeLayout& Layout() const override { return layout_; }
    PipeResult BulkOut(std::span<const std::uint8_t> bytes, std::chrono::milliseconds timeout) override;
    PipeResult BulkIn(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
    PipeResult InterruptIn(std::span<std::uint8_t> buffer, std::chrono::milliseconds timeout) override;
    PipeResult ControlIn(std::uint8_t requestType, std::uint8_t request, std::uint16_t value, std::uint16_t index,
                         std::span<std::uint8_t> answer, std::chrono::milliseconds timeout) override;
    PipeResult ClearHalt(std::uint8_t endpoint) override;

    std::vector<std::vector<std::uint8_t>> bulkOut;   // every bulk-OUT transfer taken
    std::vector<std::string> log;                    // "out msg tag=1 eom", "in", "abort-in tag=2", "halt out", ...
    std::vector<std::string> faults;                 // requests sent with wrong fields

private:
    void QueuePackets(const std::vector<std::uint8_t>& transfer);

    PipeLayout layout_;
    std::size_t packetSize_;
    bool unplugged_ = false;
    std::deque<ScriptedReply> replies_;
    std::deque<std::vector<std::uint8_t>> packets_;
    std::deque<std::vector<std::uint8_t>> notifications_;
    std::deque<PipeStatus> outFailures_;
    std::map<std::uint8_t, std::deque<std::vector<std::uint8_t>>> answers_;
};

}  // namespace tarnel::scpi::client::usbtmc::testing

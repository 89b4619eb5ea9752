// The USB meter's USBTMC USB488 function: what arrives on bulk OUT, what goes
// out on bulk IN and interrupt IN, and its answers on endpoint 0 (standard
// descriptor requests, the USBTMC and USB488 class requests).
//
// DEV_DEP_MSG_OUT bytes are collected across transfers and URBs and cut into
// lines at LF (EOM ends the last line too); each line is handed to the
// worker as a Job and never run here. Replies come back through Finished()
// and wait, one message each, for REQUEST_DEV_DEP_MSG_IN, which is answered
// by one DEV_DEP_MSG_IN of at most its TransferSize bytes (cut after TermChar
// when asked), EOM on the one that ends the reply. The USB488 TRIGGER message
// runs "*TRG". A clear or a reset drops everything under way, and the
// replies of lines already running. Thread-safe; never blocks.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "board_model.h"
#include "bulk_in_stream.h"
#include "data_endpoints.h"
#include "scpi/client/usbtmc_header.h"
#include "scpi/input_lines.h"
#include "usbtmc_descriptors.h"

namespace tarnel::emulator {

class UsbtmcFunction final : public DataEndpoints {
public:
    // One line to run on the meter; `generation` tells whether its reply is
    // still wanted when it comes.
    struct Job {
        scpi::InputLines::Line line;
        std::uint64_t generation = 0;
    };
    // The client's status byte as it stands after its last line, without and
    // with a reply waiting (MAV).
    struct StatusBytes {
        std::uint8_t withoutMessage = 0;
        std::uint8_t withMessage = 0;
    };
    using PostJob = std::function<void(Job)>;   // must not block

    UsbtmcFunction(MeterIdentity identity, StatusBytes initialStatus, PostJob post);

    bool Has(std::uint8_t endpoint, unsigned urbType) const override;
    void Receive(std::uint8_t endpoint, std::span<const std::uint8_t> bytes) override;
    std::optional<InChunk> Take(std::uint8_t endpoint, std::size_t room) override;
    void Reset() override;

    // One control transfer on endpoint 0.
    ControlReply Control(const SetupPacket& setup);

    // Whether a job of `generation` is still to run.
    bool Wanted(std::uint64_t generation);
    // A job ran: its reply, if any, and the client's status after it.
    void Finished(std::uint64_t generation, const std::optional<std::string>& reply, StatusBytes status);

private:
    // A DEV_DEP_MSG_OUT transfer whose bytes are still arriving.
    struct OutTransfer {
        std::uint8_t tag = 0;
        bool endsMessage = false;
        std::size_t dataLeft = 0;
        std::size_t paddingLeft = 0;
        std::size_t received = 0;
    };
    // A REQUEST_DEV_DEP_MSG_IN not answered yet.
    struct InRequest {
        std::uint8_t tag = 0;
        std::size_t maxSize = 0;
        std::optional<std::uint8_t> termChar;
    };

    // Callers hold mutex_.
    void ReceiveHeader(const scpi::client::usbtmc::BulkHeader& header, std::size_t& rest);
    void FeedMessage(std::span<const std::uint8_t> bytes);
    void EndMessage();
    void Post(scpi::InputLines::Line line);
    void AnswerRequest();
    void DropEverything();
    ControlReply ClassRequest(const SetupPacket& setup);
    ControlReply AbortBulkOut(std::uint8_t tag);
    ControlReply AbortBulkIn(std::uint8_t tag);
    ControlReply CheckAbortBulkIn();
    ControlReply ReadStatusByte(std::uint16_t tag);

    const MeterIdentity identity_;
    const std::vector<std::uint8_t> descriptors_;
    const PostJob post_;

    std::mutex mutex_;
    std::uint64_t generation_ = 0;
    StatusBytes status_;
    // Bulk OUT
    std::vector<std::uint8_t> partialHeader_;
    std::optional<OutTransfer> out_;
    std::size_t bytesToSkip_ = 0;          // of a transfer this meter does not take
    std::uint8_t lastOutTag_ = 0;
    std::uint32_t abortedOutReceived_ = 0;  // for CHECK_ABORT_BULK_OUT_STATUS
    scpi::InputLines lines_;
    bool lineOpen_ = false;                 // bytes since the last LF
    // Bulk IN
    std::deque<std::string> replies_;       // each with its LF; the front may be partly sent
    std::size_t sentOfReply_ = 0;
    std::optional<InRequest> request_;
    std::uint8_t lastInTag_ = 0;            // of the last DEV_DEP_MSG_IN queued
    std::uint32_t lastInSize_ = 0;          // its TransferSize
    std::uint32_t abortedInSent_ = 0;       // for CHECK_ABORT_BULK_IN_STATUS
    BulkInStream bulkIn_;
    // Interrupt IN: at most kMostNotifications, as a device's endpoint
    // buffer holds few; the oldest gives way.
    static constexpr std::size_t kMostNotifications = 16;
    std::deque<std::array<std::uint8_t, 2>> notifications_;
};

}  // namespace tarnel::emulator

// The USBTMC (USB488) exchange with an instrument over its claimed
// interface, whatever pipe carries it: program messages as DEV_DEP_MSG_OUT
// transfers with EOM on the last, replies asked for with
// REQUEST_DEV_DEP_MSG_IN and joined across DEV_DEP_MSG_IN transfers until
// EOM, and after a timeout the abort (INITIATE_ABORT_BULK_IN/OUT, falling
// back to INITIATE_CLEAR) that leaves the next exchange clean.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "scpi/client/instrument_failure.h"
#include "scpi/client/transport.h"
#include "scpi/client/usb_pipe.h"
#include "scpi/client/usbtmc_header.h"

namespace tarnel::scpi::client::usbtmc {

struct SessionSettings {
    // Bytes asked of one bulk-IN read: a multiple of every bulk packet size
    // (64, 512, 1024). A REQUEST_DEV_DEP_MSG_IN asks for this less the header.
    std::size_t readSize = 16384;
    // Message bytes in one DEV_DEP_MSG_OUT transfer; longer messages take several.
    std::size_t mostOutBytes = 16384 - kHeaderSize;
    std::chrono::milliseconds sendTimeout{5000};
    std::chrono::milliseconds requestTimeout{1000};   // one class request, or the status byte's notification
    std::chrono::milliseconds cleanupTime{3000};      // a whole abort or clear
    std::chrono::milliseconds pollInterval{10};       // between CHECK_..._STATUS requests answered PENDING
};

class Session final : public Transport {
public:
    // `resource` is the resource text messages name the instrument by.
    Session(std::unique_ptr<UsbPipe> pipe, std::string resource, SessionSettings settings = {});

    // GET_CAPABILITIES, then REN_CONTROL (assert) when the USB488
    // capabilities offer it. Throws InstrumentFailure(Unreachable).
    void Start(std::chrono::milliseconds timeout);

    void Send(std::string_view message) override;
    std::string Receive(std::chrono::milliseconds timeout, std::string_view query) override;
    // INITIATE_CLEAR, CHECK_CLEAR_STATUS until done, then the bulk-OUT halt cleared.
    void Clear() override;
    std::string Describe() const override { return resource_; }
    std::vector<std::pair<std::string, std::string>> Details() const override;
    // READ_STATUS_BYTE (USB488 interfaces only; nothing otherwise).
    std::optional<std::uint8_t> ReadStatusByte() override;

private:
    using Clock = std::chrono::steady_clock;

    std::uint8_t NewTag();
    std::string Name() const { return "the meter at " + resource_; }
    [[noreturn]] void Fail(FailureKind kind, const std::string& what) const;
    [[noreturn]] void FailLost(const PipeResult& result) const;
    // A class request answered in full, within the deadline; false
    // otherwise (an unplugged device throws Lost).
    bool Request(std::uint8_t recipient, Request request, std::uint16_t value, std::uint16_t index,
                 std::span<std::uint8_t> answer, Clock::time_point deadline);
    // Reads and drops bulk-IN data until a short packet, nothing more, or the deadline.
    void DrainIn(Clock::time_point deadline);
    void Pause(Clock::time_point deadline) const;
    // The recovery after a failed exchange; each answers what kept the
    // device from a clean state, empty when it is clean.
    std::string AbortIn(std::uint8_t tag);
    std::string AbortOut(std::uint8_t tag);
    std::string DeviceClear(Clock::time_point deadline);
    // A failed bulk transfer of an exchange: recovery, then the failure.
    [[noreturn]] void FailTransfer(const PipeResult& result, bool out, std::uint8_t tag, const std::string& timedOut,
                                   const std::string& what);

    std::unique_ptr<UsbPipe> pipe_;
    std::string resource_;
    SessionSettings settings_;
    std::uint8_t lastTag_ = 0;
    std::uint8_t lastStatusTag_ = 1;
    std::array<std::uint8_t, kCapabilitiesLength> capabilities_{};
};

}  // namespace tarnel::scpi::client::usbtmc

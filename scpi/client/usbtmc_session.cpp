#include "scpi/client/usbtmc_session.h"

#include <algorithm>
#include <cstdio>
#include <thread>

#include "scpi/client/byte_stream.h"
#include "scpi/client/instrument_failure.h"
#include "scpi/client/usbtmc_reply.h"

namespace tarnel::scpi::client::usbtmc {

namespace {

// bmRequestType of the class requests: device to host, class, and the
// interface or an endpoint as recipient.
constexpr std::uint8_t kToInterface = 0xA1;
constexpr std::uint8_t kToEndpoint = 0xA2;

constexpr char kFix[] = "check the meter and its USB cable, then run again";

// Never zero: libusb waits without end for a zero timeout.
std::chrono::milliseconds Left(std::chrono::steady_clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return std::max(left, std::chrono::milliseconds(1));
}

std::string Hex(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", value);
    return text;
}

// A program message as a failure quotes it: at most 40 characters.
std::string Quoted(std::string_view message) {
    constexpr std::size_t kLongest = 40;
    if (message.size() <= kLongest) return "'" + std::string(message) + "'";
    return "'" + std::string(message.substr(0, kLongest)) + "...'";
}

}  // namespace

Session::Session(std::unique_ptr<UsbPipe> pipe, std::string resource, SessionSettings settings)
    : pipe_(std::move(pipe)), resource_(std::move(resource)), settings_(settings) {}

std::uint8_t Session::NewTag() {
    lastTag_ = NextTag(lastTag_);
    return lastTag_;
}

void Session::Fail(FailureKind kind, const std::string& what) const {
    throw InstrumentFailure(kind, what + " — " + kFix);
}

void Session::FailLost(const PipeResult& result) const {
    if (result.status == PipeStatus::Gone) Fail(FailureKind::Lost, Name() + " was unplugged");
    const std::string why = !result.detail.empty()                       ? result.detail
                            : result.status == PipeStatus::Stalled  ? "an endpoint stalled"
                            : result.status == PipeStatus::Overflow ? "more data than asked for"
                                                                    : "no answer";
    Fail(FailureKind::Lost, "the USB connection to " + Name() + " broke (" + why + ")");
}

void Session::Start(std::chrono::milliseconds timeout) {
    const PipeLayout& layout = pipe_->Layout();
    const auto wait = std::min(timeout, settings_.requestTimeout);
    const auto refused = [&](const std::string& what) {
        throw InstrumentFailure(FailureKind::Unreachable,
                                "the USB instrument " + resource_ + " " + what +
                                    " — unplug it and plug it in again; if it stays so, check that the resource "
                                    "names its USBTMC interface");
    };
    PipeResult result = pipe_->ControlIn(kToInterface, static_cast<std::uint8_t>(Request::GetCapabilities), 0,
                                         layout.interfaceNumber, capabilities_, wait);
    if (result.status == PipeStatus::Gone) refused("was unplugged while it was being opened");
    if (result.status != PipeStatus::Done || result.length < kUsb488DeviceCapabilitiesByte + 1) {
        refused("did not answer GET_CAPABILITIES");
    }
    if (capabilities_[0] != static_cast<std::uint8_t>(Status::Success)) {
        refused("answered GET_CAPABILITIES with status " + Hex(capabilities_[0]));
    }
    if (layout.usb488 && (capabilities_[kUsb488InterfaceCapabilitiesByte] & kRenControlCapable) != 0) {
        std::array<std::uint8_t, 1> status{};
        result = pipe_->ControlIn(kToInterface, static_cast<std::uint8_t>(Request::RenControl), 1,
                                  layout.interfaceNumber, status, wait);
        if (result.status != PipeStatus::Done || result.length < 1) refused("did not answer REN_CONTROL");
        if (status[0] != static_cast<std::uint8_t>(Status::Success)) {
            refused("answered REN_CONTROL with status " + Hex(status[0]));
        }
    }
}

std::vector<std::pair<std::string, std::string>> Session::Details() const {
    // A release number in BCD, low byte first: 0x0100 is "1.00".
    const auto version = [&](std::size_t at) {
        char text[8];
        std::snprintf(text, sizeof text, "%X.%02X", capabilities_[at + 1], capabilities_[at]);
        return std::string(text);
    };
    std::string usbtmc = "USBTMC " + version(2);
    if (pipe_->Layout().usb488) usbtmc += ", USB488 " + version(12);
    return {{"USB interface", usbtmc}};
}

void Session::Send(std::string_view message) {
    std::string bytes(message);
    bytes += '\n';
    const Clock::time_point deadline = Clock::now() + settings_.sendTimeout;
    std::size_t offset = 0;
    while (offset < bytes.size()) {
        const std::size_t piece = std::min(settings_.mostOutBytes, bytes.size() - offset);
        const bool last = offset + piece == bytes.size();
        const std::uint8_t tag = NewTag();
        const auto transfer = DevDepMsgOut(tag, std::string_view(bytes).substr(offset, piece), last);
        const PipeResult result = pipe_->BulkOut(transfer, Left(deadline));
        if (result.status != PipeStatus::Done) {
            FailTransfer(result, true, tag,
                         Name() + " took no bytes of " + Quoted(message) + " for " +
                             SecondsText(settings_.sendTimeout),
                         "while it was sent " + Quoted(message));
        }
        offset += piece;
    }
}

std::string Session::Receive(std::chrono::milliseconds timeout, std::string_view query) {
    const Clock::time_point deadline = Clock::now() + timeout;
    const std::string timedOut = Name() + " did not answer " + std::string(query) + " within " + SecondsText(timeout);
    const std::string what = "while it answered " + std::string(query);
    const auto requested = static_cast<std::uint32_t>(settings_.readSize - kHeaderSize);
    std::vector<std::uint8_t> buffer(settings_.readSize);
    std::string reply;
    for (;;) {
        const std::uint8_t tag = NewTag();
        const PipeResult asked = pipe_->BulkOut(RequestDevDepMsgIn(tag, requested, std::nullopt), Left(deadline));
        if (asked.status != PipeStatus::Done) FailTransfer(asked, true, tag, timedOut, what);
        InTransfer transfer(tag, requested);
        while (transfer.Current() == InTransfer::State::Reading) {
            if (Clock::now() >= deadline) FailTransfer({PipeStatus::TimedOut, 0, {}}, false, tag, timedOut, what);
            const PipeResult read = pipe_->BulkIn(buffer, Left(deadline));
            if (read.status != PipeStatus::Done) FailTransfer(read, false, tag, timedOut, what);
            transfer.Take(std::span(buffer).first(std::min(read.length, buffer.size())), read.length < buffer.size());
        }
        if (transfer.Current() == InTransfer::State::Broken) {
            const std::string recovery = AbortIn(tag);
            Fail(FailureKind::Garbled, Name() + " sent a broken reply to " + std::string(query) + ": " +
                                           transfer.Problem() + (recovery.empty() ? "" : "; " + recovery));
        }
        reply += transfer.Payload();
        if (transfer.EndOfMessage()) return std::string(WithoutLineEnd(reply));
        if (reply.size() > kLongestReply) {
            const std::string recovery = DeviceClear(Clock::now() + settings_.cleanupTime);
            Fail(FailureKind::Garbled, Name() + " sent over 1 MiB without ending its reply to " + std::string(query) +
                                           (recovery.empty() ? "" : "; " + recovery));
        }
    }
}

void Session::FailTransfer(const PipeResult& result, bool out, std::uint8_t tag, const std::string& timedOut,
                           const std::string& what) {
    const auto recovered = [](const std::string& recovery) {
        return recovery.empty() ? std::string() : "; " + recovery;
    };
    switch (result.status) {
    case PipeStatus::TimedOut:
        Fail(FailureKind::Timeout, timedOut + recovered(out ? AbortOut(tag) : AbortIn(tag)));
    case PipeStatus::Stalled: {
        const PipeResult cleared = pipe_->ClearHalt(out ? pipe_->Layout().bulkOut : pipe_->Layout().bulkIn);
        if (cleared.status == PipeStatus::Gone) FailLost(cleared);
        Fail(FailureKind::Garbled, Name() + " stalled its bulk-" + (out ? "OUT" : "IN") + " endpoint " + what +
                                       recovered(DeviceClear(Clock::now() + settings_.cleanupTime)));
    }
    case PipeStatus::Overflow:
        Fail(FailureKind::Garbled, Name() + " sent more than a bulk-IN read holds " + what + recovered(AbortIn(tag)));
    case PipeStatus::Done:
    case PipeStatus::Gone:
    case PipeStatus::Failed:
        break;
    }
    FailLost(result);
}

bool Session::Request(std::uint8_t recipient, usbtmc::Request request, std::uint16_t value, std::uint16_t index,
                      std::span<std::uint8_t> answer, Clock::time_point deadline) {
    if (Clock::now() >= deadline) return false;
    const PipeResult result = pipe_->ControlIn(recipient, static_cast<std::uint8_t>(request), value, index, answer,
                                               std::min(Left(deadline), settings_.requestTimeout));
    if (result.status == PipeStatus::Gone) FailLost(result);
    return result.status == PipeStatus::Done && result.length == answer.size();
}

void Session::DrainIn(Clock::time_point deadline) {
    std::vector<std::uint8_t> buffer(settings_.readSize);
    while (Clock::now() < deadline) {
        const PipeResult read = pipe_->BulkIn(buffer, std::min(Left(deadline), settings_.requestTimeout));
        if (read.status == PipeStatus::Gone) FailLost(read);
        if (read.status != PipeStatus::Done || read.length < buffer.size()) return;
    }
}

void Session::Pause(Clock::time_point deadline) const {
    std::this_thread::sleep_for(std::min(settings_.pollInterval, Left(deadline)));
}

std::string Session::AbortIn(std::uint8_t tag) {
    const Clock::time_point deadline = Clock::now() + settings_.cleanupTime;
    const std::uint8_t endpoint = pipe_->Layout().bulkIn;
    std::array<std::uint8_t, 2> initiated{};
    if (Request(kToEndpoint, Request::InitiateAbortBulkIn, tag, endpoint, initiated, deadline)) {
        // FAILED: no transfer in progress and nothing queued, so nothing to abort.
        if (initiated[0] == static_cast<std::uint8_t>(Status::Failed)) return {};
        if (initiated[0] == static_cast<std::uint8_t>(Status::Success)) {
            DrainIn(deadline);
            std::array<std::uint8_t, 8> status{};
            while (Request(kToEndpoint, Request::CheckAbortBulkInStatus, 0, endpoint, status, deadline)) {
                if (status[0] == static_cast<std::uint8_t>(Status::Success)) return {};
                if (status[0] != static_cast<std::uint8_t>(Status::Pending)) break;
                // bmAbortBulkIn D0: the device has data queued for the host to read.
                if ((status[1] & 0x01) != 0) {
                    DrainIn(deadline);
                } else {
                    Pause(deadline);
                }
            }
        }
    }
    // The clear has a time of its own: the abort may have used up its time waiting.
    return DeviceClear(Clock::now() + settings_.cleanupTime);
}

std::string Session::AbortOut(std::uint8_t tag) {
    const Clock::time_point deadline = Clock::now() + settings_.cleanupTime;
    const std::uint8_t endpoint = pipe_->Layout().bulkOut;
    std::array<std::uint8_t, 2> initiated{};
    if (Request(kToEndpoint, Request::InitiateAbortBulkOut, tag, endpoint, initiated, deadline)) {
        if (initiated[0] == static_cast<std::uint8_t>(Status::Failed)) return {};
        if (initiated[0] == static_cast<std::uint8_t>(Status::Success)) {
            std::array<std::uint8_t, 8> status{};
            while (Request(kToEndpoint, Request::CheckAbortBulkOutStatus, 0, endpoint, status, deadline)) {
                if (status[0] == static_cast<std::uint8_t>(Status::Success)) {
                    const PipeResult cleared = pipe_->ClearHalt(endpoint);
                    if (cleared.status == PipeStatus::Gone) FailLost(cleared);
                    if (cleared.status == PipeStatus::Done) return {};
                    break;
                }
                if (status[0] != static_cast<std::uint8_t>(Status::Pending)) break;
                Pause(deadline);
            }
        }
    }
    return DeviceClear(Clock::now() + settings_.cleanupTime);
}

std::string Session::DeviceClear(Clock::time_point deadline) {
    const PipeLayout& layout = pipe_->Layout();
    std::array<std::uint8_t, 1> initiated{};
    if (!Request(kToInterface, Request::InitiateClear, 0, layout.interfaceNumber, initiated, deadline)) {
        return "it did not answer INITIATE_CLEAR";
    }
    if (initiated[0] != static_cast<std::uint8_t>(Status::Success)) {
        return "it answered INITIATE_CLEAR with status " + Hex(initiated[0]);
    }
    std::array<std::uint8_t, 2> status{};
    for (;;) {
        if (!Request(kToInterface, Request::CheckClearStatus, 0, layout.interfaceNumber, status, deadline)) {
            return "it did not finish its clear within " + SecondsText(settings_.cleanupTime);
        }
        if (status[0] == static_cast<std::uint8_t>(Status::Success)) break;
        if (status[0] != static_cast<std::uint8_t>(Status::Pending)) {
            return "it answered CHECK_CLEAR_STATUS with status " + Hex(status[0]);
        }
        // bmClear D0: the device has data queued for the host to read.
        if ((status[1] & 0x01) != 0) {
            DrainIn(deadline);
        } else {
            Pause(deadline);
        }
    }
    const PipeResult cleared = pipe_->ClearHalt(layout.bulkOut);
    if (cleared.status == PipeStatus::Gone) FailLost(cleared);
    if (cleared.status != PipeStatus::Done) return "its bulk-OUT halt could not be cleared (" + cleared.detail + ")";
    return {};
}

void Session::Clear() {
    const std::string problem = DeviceClear(Clock::now() + settings_.cleanupTime);
    if (!problem.empty()) Fail(FailureKind::Garbled, Name() + " could not be cleared: " + problem);
}

std::optional<std::uint8_t> Session::ReadStatusByte() {
    const PipeLayout& layout = pipe_->Layout();
    if (!layout.usb488) return std::nullopt;
    lastStatusTag_ = lastStatusTag_ >= kLastStatusTag ? kFirstStatusTag : static_cast<std::uint8_t>(lastStatusTag_ + 1);
    const std::uint8_t tag = lastStatusTag_;
    const Clock::time_point deadline = Clock::now() + settings_.requestTimeout;
    std::array<std::uint8_t, 3> answer{};
    if (!Request(kToInterface, Request::ReadStatusByte, tag, layout.interfaceNumber, answer, deadline)) {
        Fail(FailureKind::Timeout, Name() + " did not answer READ_STATUS_BYTE");
    }
    if (answer[0] != static_cast<std::uint8_t>(Status::Success)) {
        Fail(FailureKind::Garbled, Name() + " answered READ_STATUS_BYTE with status " + Hex(answer[0]));
    }
    if (answer[1] != tag) {
        Fail(FailureKind::Garbled, Name() + " answered READ_STATUS_BYTE " + std::to_string(tag) + " with bTag " +
                                       std::to_string(answer[1]));
    }
    if (!layout.interruptIn) return answer[2];
    // With an interrupt-IN endpoint the status byte comes there: bNotify1
    // 0x80 | bTag, bNotify2 the status byte. Other notifications (a service
    // request, an older answer) are passed over.
    std::array<std::uint8_t, 64> notification{};
    while (Clock::now() < deadline) {
        const PipeResult read = pipe_->InterruptIn(notification, Left(deadline));
        if (read.status == PipeStatus::TimedOut) break;
        if (read.status != PipeStatus::Done) FailLost(read);
        if (read.length >= 2 && notification[0] == (kStatusByteNotification | tag)) return notification[1];
    }
    Fail(FailureKind::Timeout, Name() + " did not send its status byte on the interrupt endpoint within " +
                                   SecondsText(settings_.requestTimeout));
}

}  // namespace tarnel::scpi::client::usbtmc

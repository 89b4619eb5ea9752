#include "soak_channels.h"

#include <netinet/in.h>
#include <rpc/pmap_clnt.h>

#include <string_view>

#include "scpi/client/instrument_failure.h"
#include "scpi/client/vxi11_transport.h"
#include "vxi11/vxi11_codes.h"

namespace tarnel::bench {

namespace {

using Outcome = MessageChannel::Outcome;
using scpi::client::FailureKind;
using scpi::client::InstrumentFailure;

constexpr long kDeviceLocked = 11;
constexpr long kIoTimeout = 15;
constexpr unsigned long kShortWaitMs = std::chrono::milliseconds(kShortWait).count();
constexpr unsigned long kWriteWaitMs = 5000;
constexpr unsigned long kReadSize = 4096;
// The transport names a device_read refused by another link's lock by its VXI-11 error.
constexpr std::string_view kLockedText = "(VXI-11 error 11,";

}  // namespace

Outcome RawChannel::Send(std::string_view message) {
    std::string line(message);
    line += '\n';
    return client_.Send(line) ? Outcome::Done : Outcome::Broken;
}

Outcome RawChannel::Receive(std::string& line) {
    auto reply = client_.ReadLine();
    if (reply) {
        line = std::move(*reply);
        return Outcome::Done;
    }
    return client_.TimedOut() ? Outcome::NothingYet : Outcome::Broken;
}

Vxi11Channel::Vxi11Channel(const std::string& device)
    : transport_(scpi::client::OpenVxi11Transport({0, "127.0.0.1", device}, std::chrono::seconds(5))) {}

Outcome Vxi11Channel::Send(std::string_view message) {
    try {
        transport_->Send(message);
        return Outcome::Done;
    } catch (const InstrumentFailure& failure) {
        return failure.Kind() == FailureKind::Busy ? Outcome::Locked : Outcome::Broken;
    }
}

Outcome Vxi11Channel::Receive(std::string& line) {
    try {
        line = transport_->Receive(kShortWait, "the soak's message");
        return Outcome::Done;
    } catch (const InstrumentFailure& failure) {
        if (failure.Kind() == FailureKind::Timeout) return Outcome::NothingYet;
        if (std::string_view(failure.what()).find(kLockedText) != std::string_view::npos) return Outcome::Locked;
        return Outcome::Broken;
    }
}

LockingLink::LockingLink(std::uint16_t corePort, const std::string& device) : client_(corePort) {
    if (!client_.Connected()) return;
    const auto link = client_.CreateLink(device);
    openError_ = link.error;
    lid_ = link.lid;
}

LockingLink::~LockingLink() {
    if (openError_ == 0) client_.OnLink(destroy_link, lid_);
}

Outcome LockingLink::Send(std::string_view message) {
    std::string data(message);
    data += '\n';
    const auto [error, size] = client_.Write(lid_, data, vxi11::kFlagEnd, kWriteWaitMs);
    if (error == kDeviceLocked) return Outcome::Locked;
    return error == 0 && size == data.size() ? Outcome::Done : Outcome::Broken;
}

Outcome LockingLink::Receive(std::string& line) {
    for (;;) {
        const vxi11::test::ReadResult piece = client_.Read(lid_, kReadSize, 0, 0, kShortWaitMs);
        if (piece.error == kIoTimeout) return Outcome::NothingYet;
        if (piece.error == kDeviceLocked) return Outcome::Locked;
        if (piece.error != 0) return Outcome::Broken;
        partial_ += piece.data;
        if ((piece.reason & vxi11::kReasonEnd) != 0) break;
    }
    line = std::move(partial_);
    partial_.clear();
    if (!line.empty() && line.back() == '\n') line.pop_back();
    return Outcome::Done;
}

long LockingLink::Lock(std::chrono::milliseconds wait) {
    return client_.Lock(lid_, vxi11::kFlagWaitLock, static_cast<unsigned long>(wait.count()));
}

long LockingLink::Unlock() { return client_.OnLink(device_unlock, lid_); }

std::uint16_t Vxi11CorePort() {
    sockaddr_in portmapper{};
    portmapper.sin_family = AF_INET;
    portmapper.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return ::pmap_getport(&portmapper, DEVICE_CORE, DEVICE_CORE_VERSION, IPPROTO_TCP);
}

}  // namespace tarnel::bench

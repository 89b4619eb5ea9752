#include "scripted_usb_device.h"

#include <algorithm>

namespace tarnel::scpi::client::usbtmc::testing {

namespace {

struct RequestRule {
    const char* name;
    std::uint8_t requestType;
    bool toEndpointOut;   // for endpoint requests: which endpoint wIndex names
    std::size_t length;
    bool tagInValue;
};

std::optional<RequestRule> RuleOf(std::uint8_t request) {
    switch (static_cast<Request>(request)) {
    case Request::InitiateAbortBulkOut: return RequestRule{"abort-out", 0xA2, true, 2, true};
    case Request::CheckAbortBulkOutStatus: return RequestRule{"check-abort-out", 0xA2, true, 8, false};
    case Request::InitiateAbortBulkIn: return RequestRule{"abort-in", 0xA2, false, 2, true};
    case Request::CheckAbortBulkInStatus: return RequestRule{"check-abort-in", 0xA2, false, 8, false};
    case Request::InitiateClear: return RequestRule{"clear", 0xA1, false, 1, false};
    case Request::CheckClearStatus: return RequestRule{"check-clear", 0xA1, false, 2, false};
    case Request::GetCapabilities: return RequestRule{"capabilities", 0xA1, false, 0x18, false};
    case Request::ReadStatusByte: return RequestRule{"status-byte", 0xA1, false, 3, true};
    case Request::RenControl: return RequestRule{"ren", 0xA1, false, 1, true};
    default: return std::nullopt;
    }
}

}  // namespace

ScriptedDevice::ScriptedDevice(std::size_t packetSize, bool usb488, bool interruptIn) : packetSize_(packetSize) {
    layout_.interfaceNumber = 0;
    layout_.bulkOut = 0x02;
    layout_.bulkIn = 0x81;
    if (interruptIn) layout_.interruptIn = 0x83;
    layout_.bulkInPacketSize = packetSize;
    layout_.usb488 = usb488;
}

void ScriptedDevice::QueuePackets(const std::vector<std::uint8_t>& transfer) {
    std::size_t at = 0;
    for (;;) {
        const std::size_t size = std::min(packetSize_, transfer.size() - at);
        packets_.emplace_back(transfer.begin() + static_cast<std::ptrdiff_t>(at),
                              transfer.begin() + static_cast<std::ptrdiff_t>(at + size));
        at += size;
        if (size < packetSize_) return;   // a short packet, maybe of zero length, ends the transfer
    }
}

void ScriptedDevice::QueueBulkIn(const std::vector<std::uint8_t>& bytes) { QueuePackets(bytes); }

void ScriptedDevice::Answer(Request request, std::vector<std::uint8_t> answer, int times) {
    for (int i = 0; i < times; ++i) answers_[static_cast<std::uint8_t>(request)].push_back(answer);
}

PipeResult ScriptedDevice::BulkOut(std::span<const std::uint8_t> bytes, std::chrono::milliseconds) {
    if (unplugged_) return {PipeStatus::Gone, 0, {}};
    const auto header = DecodeHeader(bytes);
    std::string entry = "out ?";
    if (header && header->msgId == MsgId::DevDepMsgOut) {
        entry = "out msg tag=" + std::to_string(header->tag) + ((header->attributes & kEom) != 0 ? " eom" : "");
    } else if (header && header->msgId == MsgId::RequestDevDepMsgIn) {
        entry = "out request tag=" + std::to_string(header->tag);
    }
    log.push_back(entry);
    if (!outFailures_.empty()) {
        const PipeStatus status = outFailures_.front();
        outFailures_.pop_front();
        if (status != PipeStatus::Done) return {status, 0, {}};
    }
    if (bytes.size() % 4 != 0) faults.push_back(entry + ": " + std::to_string(bytes.size()) + " bytes, not aligned");
    bulkOut.emplace_back(bytes.begin(), bytes.end());
    if (!header || header->msgId != MsgId::RequestDevDepMsgIn || replies_.empty()) return {PipeStatus::Done, bytes.size(), {}};

    const ScriptedReply reply = replies_.front();
    replies_.pop_front();
    const std::uint8_t tag = reply.tag.value_or(header->tag);
    const auto start = EncodeHeader({static_cast<MsgId>(reply.msgId), tag,
                                     reply.transferSize.value_or(static_cast<std::uint32_t>(reply.payload.size())),
                                     static_cast<std::uint8_t>(reply.endOfMessage ? kEom : 0), 0});
    std::vector<std::uint8_t> transfer(start.begin(), start.begin() + static_cast<std::ptrdiff_t>(reply.headerBytes));
    if (reply.brokenTagInverse) transfer[2] = static_cast<std::uint8_t>(transfer[2] ^ 0x10);
    if (reply.headerBytes == kHeaderSize) {
        transfer.insert(transfer.end(), reply.payload.begin(), reply.payload.end());
        transfer.resize(Padded(transfer.size()) + reply.extraBytes, 0);
    }
    if (reply.strayZeroLengthPacketFirst) packets_.emplace_back();
    QueuePackets(transfer);
    return {PipeStatus::Done, bytes.size(), {}};
}

PipeResult ScriptedDevice::BulkIn(std::span<std::uint8_t> buffer, std::chrono::milliseconds) {
    if (unplugged_) return {PipeStatus::Gone, 0, {}};
    log.push_back("in");
    if (buffer.size() % packetSize_ != 0) faults.push_back("a bulk-IN read of " + std::to_string(buffer.size()) + " bytes");
    std::size_t got = 0;
    while (got + packetSize_ <= buffer.size()) {
        if (packets_.empty()) return {PipeStatus::TimedOut, got, {}};
        const std::vector<std::uint8_t> packet = packets_.front();
        packets_.pop_front();
        std::copy(packet.begin(), packet.end(), buffer.begin() + static_cast<std::ptrdiff_t>(got));
        got += packet.size();
        if (packet.size() < packetSize_) break;
    }
    return {PipeStatus::Done, got, {}};
}

PipeResult ScriptedDevice::InterruptIn(std::span<std::uint8_t> buffer, std::chrono::milliseconds) {
    if (unplugged_) return {PipeStatus::Gone, 0, {}};
    log.push_back("interrupt");
    if (notifications_.empty()) return {PipeStatus::TimedOut, 0, {}};
    const std::vector<std::uint8_t> packet = notifications_.front();
    notifications_.pop_front();
    const std::size_t size = std::min(packet.size(), buffer.size());
    std::copy_n(packet.begin(), size, buffer.begin());
    return {PipeStatus::Done, size, {}};
}

PipeResult ScriptedDevice::ControlIn(std::uint8_t requestType, std::uint8_t request, std::uint16_t value,
                                     std::uint16_t index, std::span<std::uint8_t> answer, std::chrono::milliseconds) {
    if (unplugged_) return {PipeStatus::Gone, 0, {}};
    const auto rule = RuleOf(request);
    if (!rule) {
        faults.push_back("unknown request " + std::to_string(request));
        return {PipeStatus::Stalled, 0, {}};
    }
    std::string entry = rule->name;
    if (rule->tagInValue) entry += (request == static_cast<std::uint8_t>(Request::RenControl) ? " value=" : " tag=") +
                                   std::to_string(value);
    log.push_back(entry);
    const std::uint16_t wantedIndex = rule->requestType == 0xA1 ? layout_.interfaceNumber
                                      : rule->toEndpointOut     ? layout_.bulkOut
                                                                : layout_.bulkIn;
    if (requestType != rule->requestType || index != wantedIndex || answer.size() != rule->length ||
        (!rule->tagInValue && value != 0)) {
        faults.push_back(entry + ": bmRequestType " + std::to_string(requestType) + ", wIndex " + std::to_string(index) +
                         ", wLength " + std::to_string(answer.size()) + ", wValue " + std::to_string(value));
    }
    auto& queue = answers_[request];
    if (queue.empty()) return {PipeStatus::Stalled, 0, {}};
    const std::vector<std::uint8_t> scripted = queue.front();
    queue.pop_front();
    const std::size_t size = std::min(scripted.size(), answer.size());
    std::copy_n(scripted.begin(), size, answer.begin());
    return {PipeStatus::Done, size, {}};
}

PipeResult ScriptedDevice::ClearHalt(std::uint8_t endpoint) {
    if (unplugged_) return {PipeStatus::Gone, 0, {}};
    log.push_back(endpoint == layout_.bulkOut ? "halt out" : endpoint == layout_.bulkIn ? "halt in" : "halt ?");
    return {PipeStatus::Done, 0, {}};
}

}  // namespace tarnel::scpi::client::usbtmc::testing

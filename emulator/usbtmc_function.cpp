#include "usbtmc_function.h"

#include <linux/usbdevice_fs.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <string_view>

namespace tarnel::emulator {

namespace {

namespace usbtmc = scpi::client::usbtmc;
using usbtmc::Request;
using usbtmc::Status;
using Outcome = RequestRecord::Outcome;

constexpr std::uint8_t kStandardType = 0x00;
constexpr std::uint8_t kClassType = 0x20;
constexpr std::uint8_t kInterfaceRecipient = 0x01;
constexpr std::uint8_t kEndpointRecipient = 0x02;
constexpr std::uint8_t kGetStatus = 0;
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kGetConfiguration = 8;
constexpr std::size_t kDeviceDescriptorLength = 18;

ControlReply Answer(std::vector<std::uint8_t> data) { return {Outcome::Answered, std::move(data)}; }
ControlReply Stall() { return {Outcome::Stalled, {}}; }
std::uint8_t Byte(Status status) { return static_cast<std::uint8_t>(status); }

// A status answer with a 4-byte little-endian count: CHECK_ABORT_BULK_*_STATUS.
ControlReply CountAnswer(Status status, std::uint8_t second, std::uint32_t count) {
    return Answer({Byte(status), second, 0, 0, static_cast<std::uint8_t>(count), static_cast<std::uint8_t>(count >> 8),
                   static_cast<std::uint8_t>(count >> 16), static_cast<std::uint8_t>(count >> 24)});
}

void ReportDropped(std::size_t count, const char* why) {
    std::fprintf(stderr, "board-emulator: USB meter: %zu bytes on bulk OUT dropped: %s\n", count, why);
}

}  // namespace

UsbtmcFunction::UsbtmcFunction(MeterIdentity identity, StatusBytes initialStatus, PostJob post)
    : identity_(std::move(identity)),
      descriptors_(MeterDescriptors(identity_)),
      post_(std::move(post)),
      status_(initialStatus),
      bulkIn_(kMeterBulkPacket) {}

bool UsbtmcFunction::Has(std::uint8_t endpoint, unsigned urbType) const {
    switch (endpoint) {
    case kMeterBulkOut:
    case kMeterBulkIn: return urbType == USBDEVFS_URB_TYPE_BULK;
    case kMeterInterruptIn: return urbType == USBDEVFS_URB_TYPE_INTERRUPT;
    default: return false;
    }
}

void UsbtmcFunction::Receive(std::uint8_t endpoint, std::span<const std::uint8_t> bytes) {
    if (endpoint != kMeterBulkOut) return;
    std::lock_guard lock(mutex_);
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t rest = bytes.size() - at;
        if (bytesToSkip_ > 0) {
            const std::size_t skipped = std::min(bytesToSkip_, rest);
            bytesToSkip_ -= skipped;
            at += skipped;
            continue;
        }
        if (out_) {
            OutTransfer& transfer = *out_;
            const std::size_t data = std::min(transfer.dataLeft, rest);
            FeedMessage(bytes.subspan(at, data));
            at += data;
            transfer.dataLeft -= data;
            transfer.received += data;
            if (transfer.dataLeft > 0) break;   // the rest comes in the next URB
            // The transfer ends with its padding, or with this URB when the
            // client sent none.
            at += std::min(transfer.paddingLeft, bytes.size() - at);
            const bool endsMessage = transfer.endsMessage;
            out_.reset();
            if (endsMessage) EndMessage();
            continue;
        }
        const std::size_t headerBytes = std::min(usbtmc::kHeaderSize - partialHeader_.size(), rest);
        partialHeader_.insert(partialHeader_.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
                              bytes.begin() + static_cast<std::ptrdiff_t>(at + headerBytes));
        at += headerBytes;
        if (partialHeader_.size() < usbtmc::kHeaderSize) break;
        const std::optional<usbtmc::BulkHeader> header = usbtmc::DecodeHeader(partialHeader_);
        partialHeader_.clear();
        rest = bytes.size() - at;
        if (!header) {
            ReportDropped(usbtmc::kHeaderSize + rest, "the header's bTagInverse is not ~bTag");
            break;
        }
        ReceiveHeader(*header, rest);
        if (rest == 0) at = bytes.size();
    }
}

void UsbtmcFunction::ReceiveHeader(const usbtmc::BulkHeader& header, std::size_t& rest) {
    switch (header.msgId) {
    case usbtmc::MsgId::DevDepMsgOut:
        lastOutTag_ = header.tag;
        out_ = OutTransfer{header.tag, (header.attributes & usbtmc::kEom) != 0, header.transferSize,
                           usbtmc::Padded(header.transferSize) - header.transferSize, 0};
        return;
    case usbtmc::MsgId::RequestDevDepMsgIn: {
        std::optional<std::uint8_t> termChar;
        if ((header.attributes & usbtmc::kTermCharEnabled) != 0) termChar = header.termChar;
        request_ = InRequest{header.tag, header.transferSize, termChar};
        return AnswerRequest();
    }
    case usbtmc::MsgId::Trigger: return Post({"*TRG", false});
    case usbtmc::MsgId::VendorSpecificOut:
        // No vendor-specific messages: the transfer's bytes are passed over.
        ReportDropped(usbtmc::Padded(header.transferSize), "this meter has no vendor-specific messages");
        bytesToSkip_ = usbtmc::Padded(header.transferSize);
        return;
    case usbtmc::MsgId::RequestVendorSpecificIn:
        std::fprintf(stderr, "board-emulator: USB meter: REQUEST_VENDOR_SPECIFIC_IN is not answered: this meter has "
                             "no vendor-specific messages\n");
        return;
    }
    ReportDropped(usbtmc::kHeaderSize + rest, "unknown MsgID");
    rest = 0;
}

void UsbtmcFunction::FeedMessage(std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) return;
    lines_.Feed(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
    lineOpen_ = bytes.back() != '\n';
    while (std::optional<scpi::InputLines::Line> line = lines_.Next()) Post(std::move(*line));
}

void UsbtmcFunction::EndMessage() {
    static constexpr std::uint8_t kLineEnd[] = {'\n'};
    if (lineOpen_) FeedMessage(kLineEnd);
}

void UsbtmcFunction::Post(scpi::InputLines::Line line) { post_(Job{std::move(line), generation_}); }

void UsbtmcFunction::AnswerRequest() {
    if (!request_ || replies_.empty()) return;
    const std::string_view reply = replies_.front();
    std::size_t count = std::min(reply.size() - sentOfReply_, request_->maxSize);
    std::uint8_t attributes = 0;
    if (request_->termChar) {
        const std::size_t end = reply.find(static_cast<char>(*request_->termChar), sentOfReply_);
        if (end != std::string_view::npos && end < sentOfReply_ + count) {
            count = end + 1 - sentOfReply_;
            attributes |= usbtmc::kEndedAtTermChar;
        }
    }
    const bool endsReply = sentOfReply_ + count == reply.size();
    if (endsReply) attributes |= usbtmc::kEom;
    bulkIn_.Push(usbtmc::DevDepMsgIn(request_->tag, reply.substr(sentOfReply_, count), attributes));
    lastInTag_ = request_->tag;
    lastInSize_ = static_cast<std::uint32_t>(count);
    request_.reset();
    if (endsReply) {
        replies_.pop_front();
        sentOfReply_ = 0;
    } else {
        sentOfReply_ += count;
    }
}

std::optional<DataEndpoints::InChunk> UsbtmcFunction::Take(std::uint8_t endpoint, std::size_t room) {
    std::lock_guard lock(mutex_);
    if (endpoint == kMeterBulkIn) return bulkIn_.Take(room);
    if (endpoint != kMeterInterruptIn || notifications_.empty()) return std::nullopt;
    const std::array<std::uint8_t, 2> notification = notifications_.front();
    notifications_.pop_front();
    InChunk chunk;
    chunk.bytes.assign(notification.begin(), notification.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(room, 2)));
    if (room < notification.size()) chunk.error = EOVERFLOW;
    return chunk;
}

void UsbtmcFunction::DropEverything() {
    ++generation_;   // replies of lines queued or running are not wanted any more
    partialHeader_.clear();
    out_.reset();
    bytesToSkip_ = 0;
    lines_ = {};
    lineOpen_ = false;
    replies_.clear();
    sentOfReply_ = 0;
    request_.reset();
    bulkIn_.Clear();
}

void UsbtmcFunction::Reset() {
    std::lock_guard lock(mutex_);
    DropEverything();
    notifications_.clear();
    lastOutTag_ = 0;
    lastInTag_ = 0;
    lastInSize_ = 0;
    abortedOutReceived_ = 0;
    abortedInSent_ = 0;
}

bool UsbtmcFunction::Wanted(std::uint64_t generation) {
    std::lock_guard lock(mutex_);
    return generation == generation_;
}

void UsbtmcFunction::Finished(std::uint64_t generation, const std::optional<std::string>& reply, StatusBytes status) {
    std::lock_guard lock(mutex_);
    status_ = status;
    if (generation != generation_ || !reply) return;
    replies_.push_back(*reply + "\n");
    AnswerRequest();
}

ControlReply UsbtmcFunction::Control(const SetupPacket& setup) {
    const std::uint8_t type = setup.requestType & 0x60;
    if (type == kClassType) {
        std::lock_guard lock(mutex_);
        return ClassRequest(setup);
    }
    if (type != kStandardType || !setup.ToHost()) return Stall();
    switch (setup.request) {
    case kGetStatus: return Answer({0, 0});
    case kGetConfiguration: return Answer({kConfigurationValue});
    case kGetDescriptor: break;
    default: return Stall();
    }
    const auto index = static_cast<std::uint8_t>(setup.value & 0xFF);
    switch (setup.value >> 8) {
    case 1: return Answer({descriptors_.begin(), descriptors_.begin() + kDeviceDescriptorLength});
    case 2: return index == 0 ? Answer({descriptors_.begin() + kDeviceDescriptorLength, descriptors_.end()}) : Stall();
    case 3: {
        std::optional<std::vector<std::uint8_t>> text = MeterString(identity_, index);
        return text ? Answer(std::move(*text)) : Stall();
    }
    default: return Stall();
    }
}

ControlReply UsbtmcFunction::ClassRequest(const SetupPacket& setup) {
    if (!setup.ToHost()) return Stall();
    const std::uint8_t recipient = setup.requestType & 0x1F;
    const bool toBulkOut = recipient == kEndpointRecipient && setup.index == kMeterBulkOut;
    const bool toBulkIn = recipient == kEndpointRecipient && setup.index == kMeterBulkIn;
    const bool toInterface = recipient == kInterfaceRecipient && setup.index == kMeterInterface;
    const auto tag = static_cast<std::uint8_t>(setup.value & 0xFF);
    switch (static_cast<Request>(setup.request)) {
    case Request::InitiateAbortBulkOut: return toBulkOut ? AbortBulkOut(tag) : Stall();
    case Request::CheckAbortBulkOutStatus:
        return toBulkOut ? CountAnswer(Status::Success, 0, abortedOutReceived_) : Stall();
    case Request::InitiateAbortBulkIn: return toBulkIn ? AbortBulkIn(tag) : Stall();
    case Request::CheckAbortBulkInStatus: return toBulkIn ? CheckAbortBulkIn() : Stall();
    default: break;
    }
    if (!toInterface) return Stall();
    switch (static_cast<Request>(setup.request)) {
    case Request::InitiateClear:
        DropEverything();
        return Answer({Byte(Status::Success)});
    case Request::CheckClearStatus:
        return Answer({Byte(Status::Success), static_cast<std::uint8_t>(bulkIn_.Empty() ? 0 : usbtmc::kBulkInFifoHoldsData)});
    case Request::GetCapabilities: {
        std::vector<std::uint8_t> capabilities(usbtmc::kCapabilitiesLength, 0);
        capabilities[0] = Byte(Status::Success);
        capabilities[usbtmc::kUsbtmcVersionByte] = usbtmc::kVersion1_00 & 0xFF;
        capabilities[usbtmc::kUsbtmcVersionByte + 1] = usbtmc::kVersion1_00 >> 8;
        capabilities[usbtmc::kInterfaceCapabilitiesByte] = usbtmc::kIndicatorPulseCapable;
        capabilities[usbtmc::kDeviceCapabilitiesByte] = usbtmc::kTermCharCapable;
        capabilities[usbtmc::kUsb488VersionByte] = usbtmc::kVersion1_00 & 0xFF;
        capabilities[usbtmc::kUsb488VersionByte + 1] = usbtmc::kVersion1_00 >> 8;
        capabilities[usbtmc::kUsb488InterfaceCapabilitiesByte] =
            usbtmc::kUsb488Capable | usbtmc::kRenControlCapable | usbtmc::kTriggerCapable;
        capabilities[usbtmc::kUsb488DeviceCapabilitiesByte] =
            usbtmc::kScpiCompliant | usbtmc::kRemoteLocalCapable | usbtmc::kDeviceTriggerCapable;
        return Answer(std::move(capabilities));
    }
    case Request::ReadStatusByte: return ReadStatusByte(setup.value);
    // The emulated meter has no front panel: remote, local and lockout are accepted and change nothing.
    case Request::IndicatorPulse:
    case Request::RenControl:
    case Request::GoToLocal:
    case Request::LocalLockout: return Answer({Byte(Status::Success)});
    default: return Stall();
    }
}

ControlReply UsbtmcFunction::AbortBulkOut(std::uint8_t tag) {
    if (!out_) return Answer({Byte(Status::Failed), lastOutTag_});
    if (out_->tag != tag) return Answer({Byte(Status::TransferNotInProgress), out_->tag});
    // The transfer's bytes so far and the line they began are dropped;
    // lines it completed have run.
    abortedOutReceived_ = static_cast<std::uint32_t>(out_->received);
    out_.reset();
    lines_ = {};
    lineOpen_ = false;
    return Answer({Byte(Status::Success), tag});
}

ControlReply UsbtmcFunction::AbortBulkIn(std::uint8_t tag) {
    const auto dropPartReply = [this] {
        if (sentOfReply_ == 0) return;
        replies_.pop_front();
        sentOfReply_ = 0;
    };
    if (request_) {
        if (request_->tag != tag) return Answer({Byte(Status::TransferNotInProgress), request_->tag});
        // Nothing was sent for it: a short packet ends the host's read.
        request_.reset();
        bulkIn_.Push({});
        abortedInSent_ = 0;
        dropPartReply();
        return Answer({Byte(Status::Success), tag});
    }
    if (bulkIn_.Empty()) return Answer({Byte(Status::Failed), lastInTag_});
    if (lastInTag_ != tag) return Answer({Byte(Status::TransferNotInProgress), lastInTag_});
    // Its transfer is queued already: the host reads it to its short packet.
    abortedInSent_ = lastInSize_;
    dropPartReply();
    return Answer({Byte(Status::Success), tag});
}

ControlReply UsbtmcFunction::CheckAbortBulkIn() {
    if (!bulkIn_.Empty()) return CountAnswer(Status::Pending, usbtmc::kBulkInFifoHoldsData, abortedInSent_);
    return CountAnswer(Status::Success, 0, abortedInSent_);
}

ControlReply UsbtmcFunction::ReadStatusByte(std::uint16_t value) {
    const auto tag = static_cast<std::uint8_t>(value & 0xFF);
    if (value < usbtmc::kFirstStatusTag || value > usbtmc::kLastStatusTag) return Answer({Byte(Status::Failed), tag, 0});
    const bool messageAvailable = !replies_.empty() || !bulkIn_.Empty();
    const std::uint8_t statusByte = messageAvailable ? status_.withMessage : status_.withoutMessage;
    // With an interrupt-IN endpoint the status byte goes there; the answer's own byte is 0.
    if (notifications_.size() == kMostNotifications) notifications_.pop_front();
    notifications_.push_back({static_cast<std::uint8_t>(usbtmc::kStatusByteNotification | tag), statusByte});
    return Answer({Byte(Status::Success), tag, 0});
}

}  // namespace tarnel::emulator

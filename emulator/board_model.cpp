#include "board_model.h"

#include <algorithm>
#include <cmath>

namespace tarnel::emulator {

namespace p = tarnel::protocol;
using Outcome = RequestRecord::Outcome;

namespace {

ControlReply Stall() { return {Outcome::Stalled, {}}; }
ControlReply Done(std::vector<std::uint8_t> data = {}) { return {Outcome::Answered, std::move(data)}; }

bool IsCpucs(std::uint32_t address, std::size_t length) {
    return address == p::kCpucsAddress && length == 1;
}

bool CountsTowardUnplug(std::uint8_t request) {
    return request == p::kRequestDacWrite || request == p::kRequestConverterRead;
}

}  // namespace

SetupPacket SetupPacket::Decode(std::span<const std::uint8_t, kSize> bytes) {
    auto le16 = [&](std::size_t at) {
        return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
    };
    return {bytes[0], bytes[1], le16(2), le16(4), le16(6)};
}

double OutputVoltsFor(std::uint32_t inputWord) {
    return p::DacOutputVolts(p::DecodeInputWord(inputWord));
}

std::uint16_t ConverterCodeFor(double volts) {
    // Exact codes sit on multiples of 1/64 of a DAC step; the small bias keeps
    // floating-point rounding from dropping such a code by one.
    constexpr double kRoundingBias = 1e-9;
    const double scaled = std::floor(volts / p::kFullScaleVolts * p::kConverterCodes + kRoundingBias);
    if (!(scaled > 0)) return 0;   // below the range, or not a number
    return static_cast<std::uint16_t>(std::clamp(scaled, 0.0, static_cast<double>(p::kConverterCodes - 1)));
}

BoardModel::BoardModel(Options options, std::uint32_t noiseSeed)
    : options_(std::move(options)),
      clock_(options_.benchClock ? options_.benchClock : std::make_shared<const BenchClock>()),
      noise_(noiseSeed),
      dac_(options_.dacErrors) {
    dac_.Settle(p::DecodeInputWord(dacWord_), clock_->Now());
}

ControlReply BoardModel::HandleControl(const SetupPacket& setup, std::span<const std::uint8_t> outData) {
    std::lock_guard lock(mutex_);
    if (!setup.IsVendor()) return Stall();   // the board answers vendor requests only

    ControlReply reply;
    if (CountsTowardUnplug(setup.request)) ++dacRequestsSeen_;
    if (options_.timeoutRequests.contains(setup.request)) {
        reply = {Outcome::Unanswered, {}};
    } else if (options_.stallRequests.contains(setup.request)) {
        reply = Stall();
    } else {
        reply = Answer(setup, outData);
    }
    log_.Add({setup.request, setup.value, setup.index, setup.ToHost(), setup.length, reply.outcome});
    return reply;
}

ControlReply BoardModel::Answer(const SetupPacket& setup, std::span<const std::uint8_t> outData) {
    switch (setup.request) {
    case p::kRequestRamAccess: return AccessRam(setup, outData);
    case p::kRequestDacWrite: return running_ ? WriteDac(setup) : Stall();
    case p::kRequestConverterRead: return running_ ? ReadConverter(setup) : Stall();
    default: return Stall();
    }
}

ControlReply BoardModel::AccessRam(const SetupPacket& setup, std::span<const std::uint8_t> outData) {
    const std::uint32_t address = setup.value;
    const std::size_t length = setup.length;
    if (IsCpucs(address, length)) {
        if (setup.ToHost()) return Done({static_cast<std::uint8_t>(cpuInReset_ ? p::kCpucsReset : p::kCpucsRun)});
        return WriteCpucs(outData.empty() ? 0 : outData[0]);
    }
    // A zero-length access still has to name an address inside the RAM.
    if (!p::InOnChipRam(address, std::max<std::size_t>(length, 1))) return Stall();
    if (setup.ToHost()) {
        return Done({memory_.begin() + address, memory_.begin() + address + length});
    }
    const std::size_t written = std::min(length, outData.size());
    std::copy_n(outData.begin(), written, memory_.begin() + address);
    if (cpuInReset_ && written > 0) imageLoaded_ = true;
    return Done();
}

ControlReply BoardModel::WriteCpucs(std::uint8_t value) {
    cpuInReset_ = (value & p::kCpucsReset) != 0;
    running_ = !cpuInReset_ && imageLoaded_;
    return Done();
}

ControlReply BoardModel::WriteDac(const SetupPacket& setup) {
    const p::DacWriteContent content = p::UnpackDacWrite({setup.value, setup.index});
    const bool wellFormed = !setup.ToHost() && setup.length == 0 && content.registerLength == p::kDacRegisterLength;
    if (!wellFormed) return Stall();
    dacWord_ = content.inputWord;
    dac_.Write(p::DecodeInputWord(dacWord_), clock_->Now());
    return Done();
}

ControlReply BoardModel::ReadConverter(const SetupPacket& setup) {
    if (!setup.ToHost() || setup.length < p::kConverterReadLength) return Stall();
    const double volts = dac_.Convert(clock_->Now());
    const auto bytes = p::ConverterReplyBytes(Noisy(ConverterCodeFor(volts)));
    return Done({bytes.begin(), bytes.end()});
}

std::uint16_t BoardModel::Noisy(std::uint16_t code) {
    if (!options_.noise) return code;
    const int offset = static_cast<int>(noise_() % 3) - 1;
    return static_cast<std::uint16_t>(std::clamp(code + offset, 0, static_cast<int>(p::kConverterCodes - 1)));
}

bool BoardModel::UnplugDue() const {
    std::lock_guard lock(mutex_);
    return options_.unplugAfter && dacRequestsSeen_ >= *options_.unplugAfter;
}

bool BoardModel::ReplugDue() const {
    std::lock_guard lock(mutex_);
    return options_.replugEvery && dacRequestsSeen_ >= *options_.replugEvery;
}

void BoardModel::PowerCycle() {
    std::lock_guard lock(mutex_);
    std::fill(memory_.begin(), memory_.end(), 0);
    cpuInReset_ = imageLoaded_ = running_ = false;
    dacWord_ = 0;
    dac_.Settle(p::DecodeInputWord(dacWord_), clock_->Now());
    dacRequestsSeen_ = 0;
}

bool BoardModel::FirmwareRunning() const {
    std::lock_guard lock(mutex_);
    return running_;
}

bool BoardModel::CpuHeldInReset() const {
    std::lock_guard lock(mutex_);
    return cpuInReset_;
}

std::uint32_t BoardModel::DacInputWord() const {
    std::lock_guard lock(mutex_);
    return dacWord_;
}

double BoardModel::OutputVolts() const {
    std::lock_guard lock(mutex_);
    return dac_.OutputAt(clock_->Now());
}

double BoardModel::SampleOutputVolts() {
    std::lock_guard lock(mutex_);
    const double now = clock_->Now();
    return dac_.MeterReading(now, now);
}

double BoardModel::MeasureOutputVolts(BenchClock::TimePoint begin, BenchClock::TimePoint end) {
    std::lock_guard lock(mutex_);
    return dac_.MeterReading(clock_->SecondsAt(begin), clock_->SecondsAt(end));
}

std::uint16_t BoardModel::ConverterCode() const {
    return ConverterCodeFor(OutputVolts());
}

std::vector<std::uint8_t> BoardModel::Ram(std::uint16_t address, std::size_t length) const {
    std::lock_guard lock(mutex_);
    const std::size_t available = std::min(length, kAddressSpace - address);
    return {memory_.begin() + address, memory_.begin() + address + available};
}

std::vector<RequestRecord> BoardModel::Requests() const {
    std::lock_guard lock(mutex_);
    return log_.Records();
}

void BoardModel::ClearRequests() {
    std::lock_guard lock(mutex_);
    log_.Clear();
}

}  // namespace tarnel::emulator
